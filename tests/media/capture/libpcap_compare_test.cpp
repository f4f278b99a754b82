// The capture reader's classic pcap records against libpcap's, record by
// record (time in nanoseconds, captured and original length, bytes, link
// type) and where each stops, on the corpus call written in every classic
// variant and on damaged files.
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <cstdio>
#include <string>
#include <vector>

#include "records/record_reader.h"
#include "test_support.h"

namespace mervox::media::capture {
namespace {

using Bytes = std::vector<uint8_t>;

struct Record {
    int64_t timeNs;
    size_t captured, original;
    Bytes data;
    bool operator==(const Record& o) const
    {
        return timeNs == o.timeNs && captured == o.captured && original == o.original && data == o.data;
    }
};

enum class Stop { kNotOpened, kEnd, kError };

struct Reading {
    Stop stop = Stop::kNotOpened;
    int linkType = -1;
    std::vector<Record> records;
    std::string message;
};

std::string TempFile(const Bytes& bytes)
{
    const std::string path = ::testing::TempDir() + "libpcap-compare.pcap";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    return path;
}

Reading WithLibpcap(const Bytes& bytes)
{
    Reading r;
    char error[PCAP_ERRBUF_SIZE] = {};
    pcap_t* in = pcap_open_offline_with_tstamp_precision(TempFile(bytes).c_str(), PCAP_TSTAMP_PRECISION_NANO, error);
    if (!in) {
        r.message = error;
        return r;
    }
    r.linkType = pcap_datalink(in);
    for (;;) {
        pcap_pkthdr* header = nullptr;
        const u_char* data = nullptr;
        const int result = pcap_next_ex(in, &header, &data);
        if (result != 1) {
            r.stop = result == PCAP_ERROR_BREAK ? Stop::kEnd : Stop::kError;
            r.message = pcap_geterr(in);
            break;
        }
        r.records.push_back({static_cast<int64_t>(header->ts.tv_sec) * 1000000000 + header->ts.tv_usec, header->caplen,
                             header->len, Bytes(data, data + header->caplen)});
    }
    pcap_close(in);
    return r;
}

// From a stdio stream (the command's way) or from memory (the Python
// module's); both must read the same.
Reading WithOurReader(const Bytes& bytes, bool fromMemory)
{
    Reading r;
    std::unique_ptr<records::CaptureInput> input =
        fromMemory ? records::MemoryInput(bytes.data(), bytes.size())
                   : records::StreamInput(std::fopen(TempFile(bytes).c_str(), "rb"));
    const std::unique_ptr<records::RecordReader> reader = records::RecordReader::Open(std::move(input), &r.message);
    if (!reader)
        return r;
    r.linkType = reader->linkTypes().at(0);
    records::CaptureRecord record;
    for (;;) {
        const records::RecordResult result = reader->Next(record);
        if (result != records::RecordResult::kRecord) {
            r.stop = result == records::RecordResult::kEnd ? Stop::kEnd : Stop::kError;
            r.message = reader->error();
            break;
        }
        EXPECT_EQ(record.linkType, r.linkType);
        // The seconds keep microseconds, the nanoseconds everything.
        EXPECT_DOUBLE_EQ(record.time, static_cast<double>(record.timeNs / 1000000000) +
                                          static_cast<double>(record.timeNs % 1000000000 / 1000) * 1e-6);
        r.records.push_back({record.timeNs, record.data.size, record.originalLength,
                             Bytes(record.data.data, record.data.data + record.data.size)});
    }
    return r;
}

void ExpectSameReading(const Bytes& bytes, size_t expectedRecords, Stop expectedStop)
{
    const Reading theirs = WithLibpcap(bytes);
    for (bool fromMemory : {false, true}) {
        SCOPED_TRACE(fromMemory ? "from memory" : "from a stream");
        const Reading ours = WithOurReader(bytes, fromMemory);
        ASSERT_EQ(ours.stop, theirs.stop) << "ours: " << ours.message << "; libpcap: " << theirs.message;
        EXPECT_EQ(ours.stop == Stop::kEnd, ours.message.empty()) << ours.message;
        EXPECT_EQ(ours.linkType, theirs.linkType);
        ASSERT_EQ(ours.records.size(), theirs.records.size());
        for (size_t k = 0; k < ours.records.size(); ++k)
            ASSERT_TRUE(ours.records[k] == theirs.records[k]) << "record " << k;
    }
    EXPECT_EQ(theirs.stop, expectedStop) << theirs.message;
    EXPECT_EQ(theirs.records.size(), expectedRecords);
}

// A classic pcap file written here, in any of its variants.
struct Variant {
    bool bigEndian = false;
    bool nanoseconds = false;
    uint32_t snapLength = 65535;
    uint32_t linkType = 1;
    uint16_t minorVersion = 4;
};

void Put32(Bytes& b, uint32_t v, bool bigEndian)
{
    for (int k = 0; k < 4; ++k)
        b.push_back(static_cast<uint8_t>(v >> (bigEndian ? 24 - 8 * k : 8 * k)));
}

Bytes FileHeader(const Variant& v)
{
    Bytes b;
    Put32(b, v.nanoseconds ? 0xa1b23c4d : 0xa1b2c3d4, v.bigEndian);
    // Major and minor version as two 16-bit fields.
    if (v.bigEndian)
        b.insert(b.end(), {0, 2, static_cast<uint8_t>(v.minorVersion >> 8), static_cast<uint8_t>(v.minorVersion)});
    else
        b.insert(b.end(), {2, 0, static_cast<uint8_t>(v.minorVersion), static_cast<uint8_t>(v.minorVersion >> 8)});
    Put32(b, 0, v.bigEndian);
    Put32(b, 0, v.bigEndian);
    Put32(b, v.snapLength, v.bigEndian);
    Put32(b, v.linkType, v.bigEndian);
    return b;
}

void AddRecord(Bytes& b, const Variant& v, const Record& r, uint32_t captured, uint32_t original)
{
    Put32(b, static_cast<uint32_t>(r.timeNs / 1000000000), v.bigEndian);
    const auto fraction = static_cast<uint32_t>(r.timeNs % 1000000000);
    Put32(b, v.nanoseconds ? fraction : fraction / 1000, v.bigEndian);
    Put32(b, captured, v.bigEndian);
    Put32(b, original, v.bigEndian);
    b.insert(b.end(), r.data.begin(), r.data.end());
}

Bytes Write(const Variant& v, const std::vector<Record>& records)
{
    Bytes b = FileHeader(v);
    for (const Record& r : records)
        AddRecord(b, v, r, static_cast<uint32_t>(r.captured), static_cast<uint32_t>(r.original));
    return b;
}

// The corpus call's records, with nanoseconds made up where its
// microseconds leave room.
std::vector<Record> CorpusRecords()
{
    const Reading corpus = WithLibpcap(test::ReadFileBytes(test::DataPath("corpus/call-a.pcapng")));
    EXPECT_EQ(corpus.stop, Stop::kEnd);
    std::vector<Record> records = corpus.records;
    EXPECT_GT(records.size(), 5000u);
    return records;
}

TEST(LibpcapCompare, CorpusCallInEveryVariant)
{
    const std::vector<Record> records = CorpusRecords();
    std::vector<Record> nano = records;
    for (size_t k = 0; k < nano.size(); ++k)
        nano[k].timeNs += static_cast<int64_t>(k % 1000);
    for (bool bigEndian : {false, true})
        for (bool nanoseconds : {false, true}) {
            SCOPED_TRACE(std::string(bigEndian ? "big-endian" : "little-endian") + (nanoseconds ? ", ns" : ", us"));
            Variant v;
            v.bigEndian = bigEndian;
            v.nanoseconds = nanoseconds;
            ExpectSameReading(Write(v, nanoseconds ? nano : records), records.size(), Stop::kEnd);
        }
}

TEST(LibpcapCompare, HeadersAndLinkTypes)
{
    const std::vector<Record> records = {{1700000000123456000, 60, 60, Bytes(60, 0xab)},
                                         {1700000001000001000, 20, 1500, Bytes(20, 0xcd)}};
    // Raw IP is stored as 101 and read as 12; 802.11 and an unknown type as themselves.
    for (uint32_t linkType : {0u, 1u, 101u, 105u, 113u, 276u, 4000u}) {
        SCOPED_TRACE(linkType);
        Variant v;
        v.linkType = linkType;
        ExpectSameReading(Write(v, records), 2, Stop::kEnd);
    }
    // No records at all.
    ExpectSameReading(FileHeader(Variant{}), 0, Stop::kEnd);
    // Snap length 0 means none; a snap length below a record's length cuts
    // the record to it.
    for (uint32_t snapLength : {0u, 40u, 70000u, 300000u}) {
        SCOPED_TRACE(snapLength);
        Variant v;
        v.snapLength = snapLength;
        ExpectSameReading(Write(v, records), 2, Stop::kEnd);
    }
    // Versions 2.0 to 2.2 store the two lengths the other way round.
    for (const uint16_t minor : std::vector<uint16_t>{0, 2, 3}) {
        SCOPED_TRACE(minor);
        Variant v;
        v.minorVersion = minor;
        Bytes b = FileHeader(v);
        for (const Record& r : records)
            AddRecord(b, v, r, static_cast<uint32_t>(minor < 3 ? r.original : r.captured),
                      static_cast<uint32_t>(minor < 3 ? r.captured : r.original));
        ExpectSameReading(b, 2, Stop::kEnd);
    }
    // Unknown versions are no capture.
    for (const uint16_t minor : std::vector<uint16_t>{5, 0x100}) {
        Variant v;
        v.minorVersion = minor;
        ExpectSameReading(Write(v, records), 0, Stop::kNotOpened);
    }
}

TEST(LibpcapCompare, CutAndDamagedFiles)
{
    const std::vector<Record> all = CorpusRecords();
    const std::vector<Record> records(all.begin(), all.begin() + 10);
    for (bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
        Variant v;
        v.bigEndian = bigEndian;
        const Bytes whole = Write(v, records);
        // The file header cut short: no capture.
        for (size_t size : {size_t{4}, size_t{5}, size_t{23}})
            ExpectSameReading(Bytes(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(size)), 0, Stop::kNotOpened);
        // Cut inside the seventh record's header, and inside its data: the
        // six before it are read.
        size_t seventh = 24;
        for (size_t k = 0; k < 6; ++k)
            seventh += 16 + records[k].captured;
        for (size_t cut : {size_t{1}, size_t{15}, size_t{16}, size_t{17}, 16 + records[6].captured - 1}) {
            SCOPED_TRACE(cut);
            ExpectSameReading(Bytes(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(seventh + cut)), 6,
                              Stop::kError);
        }
        // Cut exactly between records: a clean end.
        ExpectSameReading(Bytes(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(seventh)), 6, Stop::kEnd);
        // An absurd captured length in the fourth record, with the bytes
        // there or not: an error after three records.
        for (uint32_t captured : {262145u, 0x7fffffffu, 0xffffffffu}) {
            SCOPED_TRACE(captured);
            Bytes b = FileHeader(v);
            for (size_t k = 0; k < 3; ++k)
                AddRecord(b, v, records[k], static_cast<uint32_t>(records[k].captured),
                          static_cast<uint32_t>(records[k].original));
            AddRecord(b, v, records[3], captured, captured);
            ExpectSameReading(b, 3, Stop::kError);
        }
        // Longer than the snap length but not absurd: cut to it.
        Variant small = v;
        small.snapLength = 30;
        ExpectSameReading(Write(small, records), records.size(), Stop::kEnd);
    }
}

// Seconds are unsigned 32-bit (times up to 2106), and so is the fraction,
// taken as written, in either byte order. (libpcap 1.10 reads them signed
// from little-endian files and unsigned from big-endian ones, so this is not
// compared with it.)
TEST(PcapReader, TimesPast2038ReadTheSameInBothByteOrders)
{
    const Record late = {int64_t{0x90000000} * 1000000000 + 123456000, 4, 4, Bytes(4, 1)};
    for (bool bigEndian : {false, true})
        for (bool nanoseconds : {false, true}) {
            Variant v;
            v.bigEndian = bigEndian;
            v.nanoseconds = nanoseconds;
            const Reading r = WithOurReader(Write(v, {late}), true);
            ASSERT_EQ(r.records.size(), 1u);
            EXPECT_EQ(r.records[0].timeNs, late.timeNs);
        }
}

}  // namespace
}  // namespace mervox::media::capture
