#include "records/pcapng_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

namespace mervox::media::records {
namespace {

constexpr uint32_t kInterfaceDescription = 1;
constexpr uint32_t kObsoletePacket = 2;
constexpr uint32_t kSimplePacket = 3;
constexpr uint32_t kInterfaceStatistics = 5;
constexpr uint32_t kEnhancedPacket = 6;

constexpr uint16_t kOptionEnd = 0;
constexpr uint16_t kOptionInterfaceName = 2;        // if_name
constexpr uint16_t kOptionTimestampResolution = 9;  // if_tsresol
constexpr uint16_t kOptionTimestampOffset = 14;     // if_tsoffset
// The counters of an interface statistics block, each a 64-bit value.
constexpr uint16_t kOptionReceived = 4;       // isb_ifrecv
constexpr uint16_t kOptionDropped = 5;        // isb_ifdrop
constexpr uint16_t kOptionAccepted = 6;       // isb_filteraccept
constexpr uint16_t kOptionSystemDropped = 7;  // isb_osdrop
constexpr uint16_t kOptionDelivered = 8;      // isb_usrdeliv

// Bigger blocks are damage, not packets (libpcap draws the line at the same place).
constexpr size_t kMaxBlockBytes = 16 * 1024 * 1024;

// Timestamp units per second, or 0 past 64 bits.
uint64_t WholeUnits(bool binary, int exponent)
{
    if (binary)
        return exponent < 64 ? uint64_t{1} << exponent : 0;
    uint64_t units = 1;
    for (int k = 0; k < exponent; ++k) {
        if (units > UINT64_MAX / 10)
            return 0;
        units *= 10;
    }
    return units;
}

}  // namespace

// Whole seconds, then the rest in nanoseconds rounded down (as Wireshark
// converts them, so that both see the same times).
int64_t PcapngReader::Nanoseconds(uint64_t units, const Interface& i)
{
    if (i.wholeUnitsPerSecond == 0) {
        // Held within the range (a damaged resolution or offset can ask for
        // any time).
        const double ns = (static_cast<double>(units) / i.unitsPerSecond + i.offsetSeconds) * 1e9;
        return ns >= 9.2e18 ? INT64_MAX : ns <= -9.2e18 ? INT64_MIN : ns == ns ? static_cast<int64_t>(ns) : 0;
    }
    const uint64_t seconds = units / i.wholeUnitsPerSecond;
    const uint64_t rest = units % i.wholeUnitsPerSecond, perSecond = i.wholeUnitsPerSecond;
    uint64_t nanoseconds = 0;
    if (perSecond <= UINT64_MAX / 1000000000u)
        nanoseconds = rest * 1000000000u / perSecond;
    else if (perSecond % 1000000000u == 0)
        nanoseconds = rest / (perSecond / 1000000000u);
    else  // binary fractions finer than 2^-34 s
        nanoseconds =
            static_cast<uint64_t>(static_cast<long double>(rest) * 1e9L / static_cast<long double>(perSecond));
    // Wraps (defined in unsigned arithmetic) only for times centuries away.
    return static_cast<int64_t>(seconds * 1000000000u + nanoseconds + static_cast<uint64_t>(i.offset) * 1000000000u);
}

PcapngReader::PcapngReader(std::unique_ptr<CaptureInput> input) : RecordReader(std::move(input)) {}

uint16_t PcapngReader::U16(size_t offset) const
{
    const uint8_t* b = body_.data() + offset;
    return static_cast<uint16_t>(bigEndian_ ? (b[0] << 8) | b[1] : (b[1] << 8) | b[0]);
}

uint32_t PcapngReader::U32(size_t offset) const
{
    const uint32_t high = U16(offset), low = U16(offset + 2);
    return bigEndian_ ? (high << 16) | low : (low << 16) | high;
}

uint64_t PcapngReader::U64(size_t offset) const
{
    const uint64_t first = U32(offset), second = U32(offset + 4);
    return bigEndian_ ? (first << 32) | second : (second << 32) | first;
}

bool PcapngReader::ReadBody(size_t size, const char* what)
{
    // In pieces, so that a damaged length costs no more memory than the
    // bytes that are really there.
    constexpr size_t kPiece = 64 * 1024;
    body_.clear();
    while (body_.size() < size) {
        const size_t have = body_.size();
        const size_t piece = std::min(kPiece, size - have);
        body_.resize(have + piece);
        if (input_->Read(body_.data() + have, piece) != piece) {
            error_ = std::string("truncated pcapng file: ") + what + " cut short";
            return false;
        }
    }
    return true;
}

// The rest of a section header, whose block type has been read: the block
// length, then the byte-order magic that says how to read that length.
PcapngReader::Block PcapngReader::ReadSectionHeader(const uint8_t lengthBytes[4])
{
    uint8_t magic[4];
    if (input_->Read(magic, 4) != 4) {
        error_ = "truncated pcapng file: section header cut short";
        return Block::kDamaged;
    }
    if (std::memcmp(magic, "\x1a\x2b\x3c\x4d", 4) == 0)
        bigEndian_ = true;
    else if (std::memcmp(magic, "\x4d\x3c\x2b\x1a", 4) == 0)
        bigEndian_ = false;
    else {
        error_ = "pcapng section header with an unknown byte-order magic";
        return Block::kDamaged;
    }
    body_.assign(lengthBytes, lengthBytes + 4);
    const uint32_t length = U32(0);
    if (length < 28 || length % 4 != 0 || length > kMaxBlockBytes) {
        error_ = "pcapng section header with an impossible length (" + std::to_string(length) + ")";
        return Block::kDamaged;
    }
    // Versions, section length and options: nothing a packet needs.
    if (!ReadBody(length - 12, "section header"))
        return Block::kDamaged;
    interfaces_.clear();
    ++sections_;
    sectionStatistics_ = statistics_.size();
    return Block::kRead;
}

bool PcapngReader::ReadFirstSection()
{
    uint8_t length[4];
    if (input_->Read(length, 4) != 4) {
        error_ = "truncated pcapng file: section header cut short";
        return false;
    }
    return ReadSectionHeader(length) == Block::kRead;
}

PcapngReader::Block PcapngReader::ReadBlock(uint32_t& type)
{
    uint8_t header[8];
    const size_t got = input_->Read(header, 8);
    if (got == 0 && !input_->Failed())
        return Block::kEnd;
    if (got != 8) {
        error_ = input_->Failed() ? "read error in the pcapng file" : "truncated pcapng file: block header cut short";
        return Block::kDamaged;
    }
    body_.assign(header, header + 8);
    type = U32(0);
    if (type == kPcapngSectionHeader)
        return ReadSectionHeader(header + 4);
    const uint32_t length = U32(4);
    if (length < 12 || length % 4 != 0 || length > kMaxBlockBytes) {
        error_ = "damaged pcapng block (type " + std::to_string(type) + ", length " + std::to_string(length) + ")";
        return Block::kDamaged;
    }
    // The body, then the trailing copy of the length.
    if (!ReadBody(length - 8, "block"))
        return Block::kDamaged;
    if (U32(length - 12) != length) {
        error_ = "damaged pcapng block (type " + std::to_string(type) + "): its two lengths differ";
        return Block::kDamaged;
    }
    body_.resize(length - 12);
    return Block::kRead;
}

void PcapngReader::AddInterface()
{
    Interface i;
    std::string name;
    if (body_.size() >= 8) {
        i.linkType = U16(0);
        i.snapLength = U32(4);
        for (size_t at = 8; at + 4 <= body_.size();) {
            const uint16_t code = U16(at), length = U16(at + 2);
            if (code == kOptionEnd || at + 4 + length > body_.size())
                break;
            const size_t value = at + 4;
            if (code == kOptionTimestampResolution && length >= 1) {
                const int exponent = body_[value] & 0x7f;
                i.unitsPerSecond = (body_[value] & 0x80) ? std::ldexp(1.0, exponent) : std::pow(10.0, exponent);
                i.wholeUnitsPerSecond = WholeUnits((body_[value] & 0x80) != 0, exponent);
            } else if (code == kOptionTimestampOffset && length >= 8) {
                const uint64_t offset = U64(value);
                i.offsetSeconds = static_cast<double>(static_cast<int64_t>(offset));
                i.offset = static_cast<int64_t>(offset);
            } else if (code == kOptionInterfaceName) {
                // UTF-8, not necessarily ended by a zero byte.
                const uint8_t* text = body_.data() + value;
                name.assign(text, std::find(text, text + length, uint8_t{0}));
            }
            at = value + (length + 3u) / 4u * 4u;
        }
    } else {
        i.linkType = -1;  // too short to say: its packets are counted as of an unknown interface
    }
    InterfaceStatistics statistics;
    statistics.section = sections_ - 1;
    statistics.interface = static_cast<uint32_t>(interfaces_.size());
    statistics.name = std::move(name);
    statistics_.push_back(std::move(statistics));
    interfaces_.push_back(i);
    if (i.linkType >= 0)
        NoteLinkType(i.linkType);
}

// A block that is too short, or names an interface the section never
// described, says nothing: it is left out, as the packets need nothing of it.
void PcapngReader::NoteStatistics()
{
    if (body_.size() < 12)
        return;
    const uint32_t interface = U32(0);
    if (interface >= interfaces_.size())
        return;
    InterfaceStatistics& s = statistics_[sectionStatistics_ + interface];
    const uint64_t units = (static_cast<uint64_t>(U32(4)) << 32) | U32(8);
    const Interface& i = interfaces_[interface];
    s.timeNs = Nanoseconds(units, i);
    // dumpcap (4.0 at least) writes this time in microseconds whatever the
    // interface's resolution, which puts it in January 1970 for its
    // nanosecond captures. Where the two readings differ, the one nearer
    // the packets is the block's.
    if (lastPacketNs_ && i.wholeUnitsPerSecond != 1000000) {
        Interface micro = i;
        micro.unitsPerSecond = 1e6;
        micro.wholeUnitsPerSecond = 1000000;
        const int64_t microseconds = Nanoseconds(units, micro);
        const auto distance = [this](int64_t t) { return std::fabs(static_cast<double>(t) - *lastPacketNs_); };
        if (distance(microseconds) < distance(*s.timeNs))
            s.timeNs = microseconds;
    }
    for (size_t at = 12; at + 4 <= body_.size();) {
        const uint16_t code = U16(at), length = U16(at + 2);
        if (code == kOptionEnd || at + 4 + length > body_.size())
            break;
        const size_t value = at + 4;
        std::optional<uint64_t>* counter = code == kOptionReceived        ? &s.received
                                           : code == kOptionDropped       ? &s.dropped
                                           : code == kOptionAccepted      ? &s.accepted
                                           : code == kOptionSystemDropped ? &s.systemDropped
                                           : code == kOptionDelivered     ? &s.delivered
                                                                          : nullptr;
        if (counter && length == 8)
            *counter = U64(value);
        at = value + (length + 3u) / 4u * 4u;
    }
}

RecordResult PcapngReader::Packet(uint32_t type, CaptureRecord& record)
{
    size_t header = 0, interface = 0, captured = 0, original = 0;
    uint64_t units = 0;
    if (type == kSimplePacket) {
        // No interface number (the first one), no timestamp; the captured
        // length is what the block holds, up to the snap length.
        header = 4;
        if (body_.size() < header) {
            error_ = "damaged pcapng packet block: shorter than its header";
            return RecordResult::kDamaged;
        }
        original = U32(0);
        captured = std::min(original, body_.size() - header);
        if (!interfaces_.empty() && interfaces_[0].snapLength > 0)
            captured = std::min<size_t>(captured, interfaces_[0].snapLength);
    } else {
        header = 20;
        if (body_.size() < header) {
            error_ = "damaged pcapng packet block: shorter than its header";
            return RecordResult::kDamaged;
        }
        interface = type == kEnhancedPacket ? U32(0) : U16(0);
        units = (static_cast<uint64_t>(U32(4)) << 32) | U32(8);
        captured = U32(12);
        original = U32(16);
        if (captured > body_.size() - header) {
            error_ = "damaged pcapng packet block: captured length " + std::to_string(captured) + " beyond the block";
            return RecordResult::kDamaged;
        }
    }
    record.data = net::ByteView{body_.data() + header, captured};
    record.originalLength = std::max(original, captured);
    if (interface < interfaces_.size()) {
        const Interface& i = interfaces_[interface];
        record.linkType = i.linkType;
        record.time = static_cast<double>(units) / i.unitsPerSecond + i.offsetSeconds;
        record.timeNs = Nanoseconds(units, i);
        if (type != kSimplePacket)
            lastPacketNs_ = static_cast<double>(record.timeNs);
    } else {
        record.linkType = -1;
        record.time = 0;
        record.timeNs = 0;
    }
    return RecordResult::kRecord;
}

RecordResult PcapngReader::ReadRecord(CaptureRecord& record)
{
    for (;;) {
        uint32_t type = 0;
        switch (ReadBlock(type)) {
        case Block::kEnd:
            return RecordResult::kEnd;
        case Block::kDamaged:
            return RecordResult::kDamaged;
        case Block::kRead:
            break;
        }
        if (type == kInterfaceDescription)
            AddInterface();
        else if (type == kInterfaceStatistics)
            NoteStatistics();
        else if (type == kEnhancedPacket || type == kSimplePacket || type == kObsoletePacket)
            return Packet(type, record);
    }
}

}  // namespace mervox::media::records
