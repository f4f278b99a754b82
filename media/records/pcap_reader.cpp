#include "records/pcap_reader.h"

#include <algorithm>
#include <string>
#include <utility>

namespace mervox::media::records {
namespace {

uint32_t Big32(const uint8_t* b)
{
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

uint32_t Little32(const uint8_t* b)
{
    return (uint32_t{b[3]} << 24) | (uint32_t{b[2]} << 16) | (uint32_t{b[1]} << 8) | b[0];
}

bool IsKnownMagic(uint32_t magic)
{
    return magic == kPcapMagic || magic == kPcapNanosecondMagic || magic == kPcapExtendedMagic;
}

// Files store the portable link-type numbers; a few differ from the values
// the rest of this reader (and every program built on libpcap) uses for the
// same link. The top six bits carry other flags (a frame check sequence's
// length), not the link.
int LinkTypeFromFile(uint32_t stored)
{
    const uint32_t linkType = stored & 0x03ffffffu;
    switch (linkType) {
    case 100:
        return 11;  // ATM RFC 1483
    case 101:
        return 12;  // raw IP
    case 102:
        return 15;  // BSD/OS SLIP
    case 103:
        return 16;  // BSD/OS PPP
    case 106:
        return 19;  // ATM classical IP
    default:
        return static_cast<int>(linkType);
    }
}

}  // namespace

bool IsPcapMagic(const uint8_t magic[4]) { return IsKnownMagic(Big32(magic)) || IsKnownMagic(Little32(magic)); }

PcapReader::PcapReader(std::unique_ptr<CaptureInput> input, const uint8_t magic[4]) : RecordReader(std::move(input))
{
    bigEndian_ = IsKnownMagic(Big32(magic));
    const uint32_t value = U32(magic);
    nanoseconds_ = value == kPcapNanosecondMagic;
    recordHeaderBytes_ = value == kPcapExtendedMagic ? 24 : 16;
}

uint32_t PcapReader::U32(const uint8_t* bytes) const { return bigEndian_ ? Big32(bytes) : Little32(bytes); }

bool PcapReader::ReadFileHeader()
{
    // After the magic: major and minor version (16 bits each), time zone,
    // timestamp accuracy, snap length, link type.
    uint8_t header[20];
    const size_t got = input_->Read(header, sizeof header);
    if (got != sizeof header) {
        error_ = input_->Failed()
                     ? "read error in the pcap file header"
                     : "truncated pcap file: the file header has " + std::to_string(got + 4) + " of its 24 bytes";
        return false;
    }
    const uint32_t versions = U32(header);
    const unsigned major = bigEndian_ ? versions >> 16 : versions & 0xffff;
    const unsigned minor = bigEndian_ ? versions & 0xffff : versions >> 16;
    // Version 2.0 to 2.4; 543.0 is an old tcpdump's name for the same layout.
    if (!((major == 2 && minor <= 4) || (major == 543 && minor == 0))) {
        error_ = "pcap file of an unknown version " + std::to_string(major) + "." + std::to_string(minor);
        return false;
    }
    lengths_ = major == 2 && minor < 3    ? Lengths::kSwapped
               : major == 2 && minor == 3 ? Lengths::kEither
                                          : Lengths::kInOrder;
    const uint32_t snapLength = U32(header + 12);
    // 0 or beyond any real record: as large as a record may be.
    snapLength_ = snapLength == 0 || snapLength > kPcapMaxRecordBytes ? kPcapMaxRecordBytes : snapLength;
    linkType_ = LinkTypeFromFile(U32(header + 16));
    NoteLinkType(linkType_);
    return true;
}

RecordResult PcapReader::Cut(const char* what, size_t got, size_t wanted)
{
    if (input_->Failed()) {
        error_ = "read error in pcap record " + std::to_string(records_ + 1);
        return RecordResult::kDamaged;
    }
    error_ = "truncated pcap file: record " + std::to_string(records_ + 1) + "'s " + what + " has " +
             std::to_string(got) + " of its " + std::to_string(wanted) + " bytes";
    return RecordResult::kTruncated;
}

RecordResult PcapReader::ReadRecord(CaptureRecord& record)
{
    uint8_t header[24];
    const size_t got = input_->Read(header, recordHeaderBytes_);
    if (got == 0 && !input_->Failed())
        return RecordResult::kEnd;
    if (got != recordHeaderBytes_)
        return Cut("header", got, recordHeaderBytes_);
    const uint32_t seconds = U32(header), fraction = U32(header + 4);
    uint32_t captured = U32(header + 8), original = U32(header + 12);
    if (lengths_ == Lengths::kSwapped || (lengths_ == Lengths::kEither && captured > original))
        std::swap(captured, original);
    if (captured > kPcapMaxRecordBytes) {
        error_ = "damaged pcap record " + std::to_string(records_ + 1) + ": captured length " +
                 std::to_string(captured) + " beyond any record's " + std::to_string(kPcapMaxRecordBytes);
        return RecordResult::kDamaged;
    }
    data_.resize(captured);
    const size_t read = input_->Read(data_.data(), captured);
    if (read != captured)
        return Cut("captured bytes", read, captured);
    // Longer than the snap length (within reason): the bytes beyond it are
    // not the packet's.
    const size_t kept = std::min<size_t>(captured, snapLength_);
    ++records_;

    record.data = net::ByteView{data_.data(), kept};
    record.originalLength = std::max<size_t>(original, kept);
    // Nanoseconds exactly; the seconds keep the microseconds that other
    // readers of them expect.
    const int64_t nanoseconds = nanoseconds_ ? int64_t{fraction} : int64_t{fraction} * 1000;
    record.time = static_cast<double>(seconds) + static_cast<double>(nanoseconds / 1000) * 1e-6;
    record.timeNs = static_cast<int64_t>(seconds) * 1000000000 + nanoseconds;
    record.linkType = linkType_;
    return RecordResult::kRecord;
}

}  // namespace mervox::media::records
