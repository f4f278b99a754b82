// pcapng, block by block: section headers (either byte order), interface
// descriptions with their link type, timestamp resolution and offset, and
// enhanced, simple and obsolete packet blocks, and interface statistics
// (interfaceStatistics()). Other blocks are skipped.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "records/record_reader.h"

namespace mervox::media::records {

// The block type of a section header, also the first four bytes of a pcapng file.
constexpr uint32_t kPcapngSectionHeader = 0x0a0d0d0a;

class PcapngReader : public RecordReader {
public:
    // `input` is positioned just after the first block type, which has been read.
    explicit PcapngReader(std::unique_ptr<CaptureInput> input);
    PcapngReader(const PcapngReader&) = delete;
    PcapngReader& operator=(const PcapngReader&) = delete;

    // False (with error() set) when the first section header is not one.
    bool ReadFirstSection();

private:
    RecordResult ReadRecord(CaptureRecord& record) override;
    struct Interface {
        int linkType = 0;
        uint32_t snapLength = 0;
        double unitsPerSecond = 1e6;
        double offsetSeconds = 0;
        // The same exactly, for times in nanoseconds (0: a resolution
        // beyond 64 bits, left to the seconds in double).
        uint64_t wholeUnitsPerSecond = 1000000;
        int64_t offset = 0;
    };

    enum class Block { kRead, kEnd, kDamaged };
    Block ReadBlock(uint32_t& type);
    Block ReadSectionHeader(const uint8_t lengthBytes[4]);
    bool ReadBody(size_t size, const char* what);
    uint16_t U16(size_t offset) const;
    uint32_t U32(size_t offset) const;
    uint64_t U64(size_t offset) const;
    void AddInterface();
    void NoteStatistics();
    RecordResult Packet(uint32_t type, CaptureRecord& record);
    static int64_t Nanoseconds(uint64_t units, const Interface& i);

    bool bigEndian_ = false;  // the current section's byte order
    std::vector<Interface> interfaces_;
    size_t sections_ = 0;                 // section headers read
    std::optional<double> lastPacketNs_;  // the time of the latest packet that states one
    size_t sectionStatistics_ = 0;        // where the current section's interfaces start in statistics_
    std::vector<uint8_t> body_;           // the current block without its type and lengths
};

}  // namespace mervox::media::records
