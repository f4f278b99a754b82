// Classic pcap: a 24-byte file header (magic, version, snap length, link
// type), then records of a 16-byte header (seconds, fraction, captured and
// original length) and the captured bytes. Either byte order, with
// microsecond or nanosecond fractions, as the magic says.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "records/record_reader.h"

namespace mervox::media::records {

// The four magic numbers as written in the writer's byte order: microsecond
// and nanosecond fractions, and the microsecond variant whose records carry
// 8 more header bytes (interface index, protocol, packet type).
constexpr uint32_t kPcapMagic = 0xa1b2c3d4;
constexpr uint32_t kPcapNanosecondMagic = 0xa1b23c4d;
constexpr uint32_t kPcapExtendedMagic = 0xa1b2cd34;

// Records that claim more captured bytes than this are damage, not packets:
// no capturing system writes them (and reading one must not cost that much
// memory). Records longer than the file's snap length but within this are
// kept up to the snap length, as written by systems that misreport it.
constexpr uint32_t kPcapMaxRecordBytes = 256 * 1024;

// True when the first four bytes of an input are a classic pcap magic.
bool IsPcapMagic(const uint8_t magic[4]);

class PcapReader : public RecordReader {
public:
    // `input` is positioned just after the magic, which was `magic`.
    PcapReader(std::unique_ptr<CaptureInput> input, const uint8_t magic[4]);

    // False (with error() set) when the rest of the file header is not one.
    bool ReadFileHeader();

    uint32_t snapLength() const { return snapLength_; }

private:
    RecordResult ReadRecord(CaptureRecord& record) override;
    uint32_t U32(const uint8_t* bytes) const;
    RecordResult Cut(const char* what, size_t got, size_t wanted);

    bool bigEndian_ = false;
    bool nanoseconds_ = false;
    size_t recordHeaderBytes_ = 16;
    // Files before version 2.3 store the original length first; 2.3 wrote
    // either order, told apart by which one is smaller.
    enum class Lengths { kInOrder, kSwapped, kEither } lengths_ = Lengths::kInOrder;
    uint32_t snapLength_ = kPcapMaxRecordBytes;  // the header's, within 1..kPcapMaxRecordBytes
    int linkType_ = 0;
    uint64_t records_ = 0;
    std::vector<uint8_t> data_;
};

}  // namespace mervox::media::records
