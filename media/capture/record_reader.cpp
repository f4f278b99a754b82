// Classic pcap goes to libpcap, which knows its variants (either byte order,
// microsecond or nanosecond timestamps); pcapng to PcapngReader. The first
// four bytes decide, and libpcap gets them back through a stream that
// replays them before the rest, so that pipes work too.
#include "record_reader.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "pcapng_reader.h"

namespace mervox::capture {
namespace {

// A stdio stream that yields `head` and then what is left of `rest`.
struct Replay {
    std::FILE* rest;
    unsigned char head[4];
    size_t headSize;
    size_t position = 0;

    static ssize_t Read(void* self, char* buffer, size_t size)
    {
        auto& r = *static_cast<Replay*>(self);
        size_t n = std::min(size, r.headSize - r.position);
        std::memcpy(buffer, r.head + r.position, n);
        r.position += n;
        if (n < size)
            n += std::fread(buffer + n, 1, size - n, r.rest);
        if (n == 0 && std::ferror(r.rest))
            return -1;
        return static_cast<ssize_t>(n);
    }
    static int Close(void* self)
    {
        auto* r = static_cast<Replay*>(self);
        const int result = std::fclose(r->rest);
        delete r;
        return result;
    }
};

class PcapReader : public RecordReader {
public:
    explicit PcapReader(pcap_t* handle) : handle_(handle) { NoteLinkType(pcap_datalink(handle)); }
    ~PcapReader() override { pcap_close(handle_); }
    PcapReader(const PcapReader&) = delete;
    PcapReader& operator=(const PcapReader&) = delete;

    RecordResult Next(CaptureRecord& record) override
    {
        pcap_pkthdr* header = nullptr;
        const u_char* bytes = nullptr;
        const int result = pcap_next_ex(handle_, &header, &bytes);
        if (result == PCAP_ERROR_BREAK)  // end of the file
            return RecordResult::kEnd;
        if (result != 1) {
            // A record cut off by the end of the file, or a damaged header:
            // libpcap cannot resynchronise.
            error_ = pcap_geterr(handle_);
            return RecordResult::kDamaged;
        }
        record.data = ByteView{bytes, header->caplen};
        record.originalLength = std::max<size_t>(header->len, header->caplen);
        // Opened with nanosecond precision: tv_usec holds nanoseconds. The
        // seconds keep the microseconds that other readers of them expect.
        const int64_t nanoseconds = header->ts.tv_usec;
        record.time = static_cast<double>(header->ts.tv_sec) + static_cast<double>(nanoseconds / 1000) * 1e-6;
        record.timeNs = static_cast<int64_t>(header->ts.tv_sec) * 1000000000 + nanoseconds;
        record.linkType = linkTypes().front();
        return RecordResult::kRecord;
    }

private:
    pcap_t* handle_;
};

}  // namespace

void RecordReader::NoteLinkType(int linkType)
{
    if (std::find(linkTypes_.begin(), linkTypes_.end(), linkType) == linkTypes_.end())
        linkTypes_.push_back(linkType);
}

std::unique_ptr<RecordReader> RecordReader::Open(std::FILE* stream, std::string* error)
{
    unsigned char magic[4];
    const size_t got = std::fread(magic, 1, sizeof magic, stream);
    if (got == 0) {
        *error = std::ferror(stream) ? std::string("read error: ") + std::strerror(errno) : "empty input";
        std::fclose(stream);
        return nullptr;
    }
    // A section header's block type reads the same in either byte order.
    if (got == 4 && std::memcmp(magic, "\x0a\x0d\x0d\x0a", 4) == 0) {
        auto reader = std::make_unique<PcapngReader>(stream);
        if (!reader->ReadFirstSection()) {
            *error = reader->error();
            return nullptr;
        }
        return reader;
    }

    auto* replay = new Replay{stream, {}, got};
    std::memcpy(replay->head, magic, got);
    const cookie_io_functions_t functions = {&Replay::Read, nullptr, nullptr, &Replay::Close};
    std::FILE* replayed = fopencookie(replay, "rb", functions);
    if (!replayed) {
        *error = std::string("cannot read the capture: ") + std::strerror(errno);
        Replay::Close(replay);
        return nullptr;
    }
    char message[PCAP_ERRBUF_SIZE] = {};
    pcap_t* handle = pcap_fopen_offline_with_tstamp_precision(replayed, PCAP_TSTAMP_PRECISION_NANO, message);
    if (!handle) {
        *error = message;
        std::fclose(replayed);
        return nullptr;
    }
    return std::make_unique<PcapReader>(handle);
}

}  // namespace mervox::capture
