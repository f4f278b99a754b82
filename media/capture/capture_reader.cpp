// Reads a capture record by record and hands each one to the packet sorter.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <queue>
#include <utility>
#include <vector>

#include "capture/capture.h"
#include "capture/packet_sorter.h"
#include "packets/link_layer.h"
#include "platform/files.h"
#include "records/record_reader.h"

namespace mervox::media::capture {
namespace {

CaptureReport NotACapture(const std::string& why)
{
    CaptureReport report;
    report.status = CaptureStatus::kNotACapture;
    report.message = why;
    return report;
}

// A file that could not be opened: the system's error, as it is.
CaptureReport Unreadable(const std::string& why, int code)
{
    CaptureReport report;
    report.status = CaptureStatus::kUnreadable;
    report.message = why;
    report.systemError = code;
    return report;
}

// The names tcpdump and Wireshark's users know for the link types a capture
// of calls may have but that are not decoded here; other types by number.
std::string LinkTypeName(int linkType)
{
    static const struct {
        int linkType;
        const char* name;
    } kNames[] = {{6, "IEEE802"},
                  {9, "PPP"},
                  {10, "FDDI"},
                  {50, "PPP_SERIAL"},
                  {51, "PPP_ETHER"},
                  {104, "C_HDLC"},
                  {105, "IEEE802_11"},
                  {119, "PRISM_HEADER"},
                  {127, "IEEE802_11_RADIO"},
                  {147, "USER0"},
                  {163, "IEEE802_11_RADIO_AVS"},
                  {192, "PPI"},
                  {220, "USB_LINUX_MMAPPED"},
                  {249, "USBPCAP"},
                  {253, "NETLINK"}};
    for (const auto& n : kNames)
        if (n.linkType == linkType)
            return std::to_string(linkType) + " (" + n.name + ")";
    return std::to_string(linkType);
}

// Hands each call to the consumer as it closes, and keeps the first
// kMaxListedCalls for the report.
class CallList {
public:
    CallList(const CaptureOptions& options, StreamConsumer& consumer) : options_(options), consumer_(consumer) {}

    void Closed(calls::CallRecord&& record)
    {
        consumer_.CallEnded(record);
        ++closed_;
        if (options_.listCalls && kept_.size() < kMaxListedCalls)
            kept_.push_back(std::move(record));
        else
            ++notListed_;
    }

    // The listed calls into the report: SIP calls by their dialog's
    // number, then the others by their first packet; the streams by their
    // first packet.
    void Into(CaptureReport& report)
    {
        const auto firstOf = [](const calls::CallRecord& r) {
            return r.streams.empty() ? UINT64_MAX : r.streams.front().firstRecord;
        };
        std::sort(kept_.begin(), kept_.end(), [&](const calls::CallRecord& a, const calls::CallRecord& b) {
            if (a.call.signalled != b.call.signalled)
                return a.call.signalled;
            return a.call.signalled ? a.dialogId < b.dialogId : firstOf(a) < firstOf(b);
        });
        std::vector<std::pair<uint64_t, std::pair<size_t, size_t>>> order;  // first record -> (call, stream)
        for (size_t c = 0; c < kept_.size(); ++c)
            for (size_t k = 0; k < kept_[c].streams.size(); ++k)
                order.push_back({kept_[c].streams[k].firstRecord, {c, k}});
        std::sort(order.begin(), order.end());
        std::vector<std::vector<size_t>> position(kept_.size());
        for (size_t c = 0; c < kept_.size(); ++c)
            position[c].resize(kept_[c].streams.size());
        report.streams.reserve(order.size());
        for (const auto& [first, at] : order) {
            position[at.first][at.second] = report.streams.size();
            report.streams.push_back(std::move(kept_[at.first].streams[at.second]));
        }
        report.calls.reserve(kept_.size());
        for (size_t c = 0; c < kept_.size(); ++c) {
            calls::Call call = kept_[c].call;
            if (call.signalled) {
                // SIP calls come first, in their order.
                call.dialog = report.dialogs.size();
                report.dialogs.push_back(std::move(kept_[c].dialogs[0]));
            }
            for (calls::CallStream& cs : call.streams)
                cs.stream = position[c][cs.stream];
            report.calls.push_back(std::move(call));
        }
        std::vector<calls::CallRecord>().swap(kept_);
        report.closedCalls = closed_;
        report.callsNotListed = notListed_;
    }

private:
    const CaptureOptions& options_;
    StreamConsumer& consumer_;
    std::vector<calls::CallRecord> kept_;
    uint64_t closed_ = 0;
    uint64_t notListed_ = 0;
};

// What the sorter found, and the link types that were not decoded.
void Conclude(PacketSorter& sorter, CallList& list, CaptureReport& report)
{
    sorter.Finish(report.stopped ? calls::CallClose::kStopped : calls::CallClose::kInputEnd);
    report.counters = sorter.counters();
    report.streamCount = sorter.streamCount();
    report.signalling = sorter.signalling().counters();
    list.Into(report);
    if (report.status == CaptureStatus::kOk && report.counters.skipped[SkipReason::kUnsupportedLink] > 0) {
        for (int linkType : report.linkTypes)
            if (!packets::IsSupportedLinkType(linkType))
                report.message += (report.message.empty() ? "link type " : ", link type ") + LinkTypeName(linkType) +
                                  " is not decoded";
    }
}

// Reads every record of `input`.
CaptureReport ReadInput(std::unique_ptr<records::CaptureInput> input, const CaptureOptions& options,
                        StreamConsumer& consumer)
{
    std::string error;
    const std::unique_ptr<records::RecordReader> reader = records::RecordReader::Open(std::move(input), &error);
    if (!reader)
        return NotACapture(error);
    CaptureReport report;
    CallList list(options, consumer);
    PacketSorter sorter(options, consumer, [&](calls::CallRecord&& r) { list.Closed(std::move(r)); });
    records::CaptureRecord record;
    for (;;) {
        const records::RecordResult result = reader->Next(record);
        if (result == records::RecordResult::kEnd)
            break;
        if (result == records::RecordResult::kTruncated || result == records::RecordResult::kDamaged) {
            report.status = CaptureStatus::kTruncated;
            report.message = reader->error();
            break;
        }
        sorter.Sort(record);
    }
    report.linkTypes = reader->linkTypes();
    report.interfaces = reader->interfaceStatistics();
    report.stopped = reader->stoppedByRequest();
    Conclude(sorter, list, report);
    return report;
}

std::unique_ptr<records::CaptureInput> OpenPath(const std::string& path, std::string* error, int* code)
{
    std::FILE* stream = nullptr;
    if (path == "-") {
        // A stream of its own on standard input, which closing leaves open.
        const int fd = dup(fileno(stdin));
        if (fd < 0 || !(stream = fdopen(fd, "rb"))) {
            *code = errno;
            if (fd >= 0)
                close(fd);
            *error = std::string("cannot read standard input: ") + std::strerror(*code);
            return nullptr;
        }
    } else if (!(stream = platform::OpenStreamForReading(path))) {
        *code = errno;
        *error = std::string("cannot open: ") + std::strerror(*code);
        return nullptr;
    }
    // A stop ends a capture file too: what was read is recorded.
    return records::StreamInput(stream, records::EndAtStop::kAlways);
}

// One file of several read together: the time of its first record, looked
// at before the reading, and while it is open its reader and next record.
struct Source {
    size_t index = 0;
    int64_t firstNs = 0;
    std::unique_ptr<records::RecordReader> reader;
    records::CaptureRecord record;
    std::vector<int> linkTypes;  // once it is closed
    std::vector<records::InterfaceStatistics> interfaces;
};

// Reads the next record of `source` into it; false when the file has no more
// (its report then says why).
bool Advance(Source& source, CaptureFileReport& file)
{
    switch (source.reader->Next(source.record)) {
    case records::RecordResult::kRecord:
        return true;
    case records::RecordResult::kEnd:
        return false;
    case records::RecordResult::kTruncated:
    case records::RecordResult::kDamaged:
        file.status = CaptureStatus::kTruncated;
        file.message = source.reader->error();
        return false;
    }
    return false;
}

// Opens `path` as `source` and reads its first record: false when it has
// none (its report says why when it is no capture or cannot be read).
bool Open(const std::string& path, Source& source, CaptureFileReport& file, int* code)
{
    std::string error;
    *code = 0;
    std::unique_ptr<records::CaptureInput> input = OpenPath(path, &error, code);
    if (input)
        source.reader = records::RecordReader::Open(std::move(input), &error);
    if (!source.reader) {
        file.status = *code != 0 ? CaptureStatus::kUnreadable : CaptureStatus::kNotACapture;
        file.message = error;
        return false;
    }
    return Advance(source, file);
}

// Closes the file, keeping what the report needs of it.
void Close(Source& source)
{
    if (!source.reader)
        return;
    source.linkTypes = source.reader->linkTypes();
    source.interfaces = source.reader->interfaceStatistics();
    source.reader.reset();
}

}  // namespace

CaptureReport ReadCapture(const std::string& path, const CaptureOptions& options, StreamConsumer& consumer)
{
    std::string error;
    int code = 0;
    std::unique_ptr<records::CaptureInput> input = OpenPath(path, &error, &code);
    if (!input)
        return Unreadable(error, code);
    return ReadInput(std::move(input), options, consumer);
}

CaptureReport ReadCaptures(const std::vector<std::string>& paths, const CaptureOptions& options,
                           StreamConsumer& consumer)
{
    CaptureReport report;
    report.files.resize(paths.size());
    std::vector<Source> sources(paths.size());
    // The earliest next record first; of equal times, the earlier file's.
    const auto key = [](const Source* s) { return std::make_pair(s->record.timeNs, s->index); };
    const auto later = [&](const Source* a, const Source* b) { return key(a) > key(b); };
    std::priority_queue<Source*, std::vector<Source*>, decltype(later)> next(later);
    // Each file's first record; files are closed again until the reading
    // reaches that record, so that few are open at once.
    std::vector<Source*> waiting;  // the earliest last
    for (size_t k = 0; k < paths.size(); ++k) {
        Source& source = sources[k];
        source.index = k;
        int code = 0;
        const bool any = Open(paths[k], source, report.files[k], &code);
        const CaptureStatus status = report.files[k].status;
        if (status == CaptureStatus::kNotACapture || status == CaptureStatus::kUnreadable) {
            report.status = status;
            report.message = report.files[k].message;
            report.systemError = code;
            return report;
        }
        // Standard input, a pipe or a device cannot be read again: it stays open.
        platform::FileStatus st;
        const bool again =
            paths[k] != "-" && platform::StatPath(paths[k], &st) == 0 && st.kind == platform::FileKind::kRegular;
        if (any && !again) {
            next.push(&source);
            continue;
        }
        if (any) {
            source.firstNs = source.record.timeNs;
            waiting.push_back(&source);
        }
        Close(source);
    }
    std::sort(waiting.begin(), waiting.end(), [](const Source* a, const Source* b) {
        return std::make_pair(a->firstNs, a->index) > std::make_pair(b->firstNs, b->index);
    });
    CallList list(options, consumer);
    PacketSorter sorter(options, consumer, [&](calls::CallRecord&& r) { list.Closed(std::move(r)); });
    while (!next.empty() || !waiting.empty()) {
        // A file is opened when its first record is the earliest of all.
        if (!waiting.empty() &&
            (next.empty() || std::make_pair(waiting.back()->firstNs, waiting.back()->index) < key(next.top()))) {
            Source* source = waiting.back();
            waiting.pop_back();
            CaptureFileReport& file = report.files[source->index];
            int code = 0;
            if (Open(paths[source->index], *source, file, &code)) {
                next.push(source);
            } else if (file.status == CaptureStatus::kUnreadable || file.status == CaptureStatus::kNotACapture) {
                report.systemError = code;
                break;
            }
            continue;
        }
        Source* source = next.top();
        next.pop();
        sorter.Sort(source->record);
        ++report.files[source->index].records;
        if (Advance(*source, report.files[source->index])) {
            next.push(source);
        } else if (source->reader->stoppedByRequest()) {
            // A stop ends the recording here, whatever the other files hold.
            report.stopped = true;
            Close(*source);
            break;
        } else {
            Close(*source);
        }
    }
    // In the order of the files, each file's in order of first appearance.
    for (Source& source : sources) {
        Close(source);
        for (int linkType : source.linkTypes)
            if (std::find(report.linkTypes.begin(), report.linkTypes.end(), linkType) == report.linkTypes.end())
                report.linkTypes.push_back(linkType);
        report.interfaces.insert(report.interfaces.end(), source.interfaces.begin(), source.interfaces.end());
    }
    // The worst status first, then the first file's of it.
    for (const CaptureStatus worst :
         {CaptureStatus::kUnreadable, CaptureStatus::kNotACapture, CaptureStatus::kTruncated})
        for (const CaptureFileReport& file : report.files)
            if (file.status == worst && report.status == CaptureStatus::kOk) {
                report.status = file.status;
                report.message = file.message;
            }
    Conclude(sorter, list, report);
    return report;
}

CaptureReport ReadRing(const records::RingOptions& ring, const CaptureOptions& options, StreamConsumer& consumer)
{
    CaptureReport report;
    CallList list(options, consumer);
    PacketSorter sorter(options, consumer, [&](calls::CallRecord&& r) { list.Closed(std::move(r)); });
    records::RingFollower follower(ring);
    records::RingFile file;
    const auto note = [&](const std::string& text) {
        if (ring.note)
            ring.note(text);
    };
    for (;;) {
        const records::RingResult next = follower.Next(file);
        if (next == records::RingResult::kStopped) {
            report.stopped = true;
            break;
        }
        if (next == records::RingResult::kFailed) {
            report.status = CaptureStatus::kUnreadable;
            report.message = follower.error();
            break;
        }
        std::string error;
        const std::unique_ptr<records::RecordReader> reader =
            records::RecordReader::Open(std::move(file.input), &error);
        if (!reader) {
            note(file.path + ": not a pcap or pcapng capture (" + error + "); skipped");
            continue;
        }
        records::CaptureRecord record;
        for (;;) {
            const records::RecordResult result = reader->Next(record);
            if (result == records::RecordResult::kRecord) {
                sorter.Sort(record);
                continue;
            }
            // The file still being written at the stop may end inside a record.
            if (result != records::RecordResult::kEnd && !file.growing)
                note(file.path + ": capture cut short or damaged (" + reader->error() + "); using what was read");
            break;
        }
        for (int linkType : reader->linkTypes())
            if (std::find(report.linkTypes.begin(), report.linkTypes.end(), linkType) == report.linkTypes.end())
                report.linkTypes.push_back(linkType);
        const auto& interfaces = reader->interfaceStatistics();
        report.interfaces.insert(report.interfaces.end(), interfaces.begin(), interfaces.end());
    }
    report.ringFilesRead = follower.filesRead();
    report.ringFilesLost = follower.filesLost();
    Conclude(sorter, list, report);
    return report;
}

CaptureReport ReadCaptureBytes(const uint8_t* data, size_t size, const CaptureOptions& options,
                               StreamConsumer& consumer)
{
    if (size == 0)
        return NotACapture("empty input");
    return ReadInput(records::MemoryInput(data, size), options, consumer);
}

std::string SsrcText(uint32_t ssrc)
{
    char text[11];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(ssrc));
    return text;
}

}  // namespace mervox::media::capture
