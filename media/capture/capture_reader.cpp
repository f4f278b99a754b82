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

#include "calls/call_builder.h"
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

// What the sorter found, and the link types that were not decoded.
void Conclude(PacketSorter& sorter, CaptureReport& report)
{
    report.streams = sorter.Finish();
    report.counters = sorter.counters();
    report.signalling = sorter.signalling().counters();
    report.dialogs = sorter.signalling().dialogs();
    report.calls = calls::BuildCalls(report.dialogs, report.streams);
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
    PacketSorter sorter(options, consumer);
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
    Conclude(sorter, report);
    return report;
}

std::unique_ptr<records::CaptureInput> OpenPath(const std::string& path, std::string* error)
{
    std::FILE* stream = nullptr;
    if (path == "-") {
        // A stream of its own on standard input, which closing leaves open.
        const int fd = dup(fileno(stdin));
        if (fd < 0 || !(stream = fdopen(fd, "rb"))) {
            const int code = errno;
            if (fd >= 0)
                close(fd);
            *error = std::string("cannot read standard input: ") + std::strerror(code);
            return nullptr;
        }
    } else if (!(stream = platform::OpenStreamForReading(path))) {
        *error = std::string("cannot open: ") + std::strerror(errno);
        return nullptr;
    }
    return records::StreamInput(stream);
}

// One file of several read together, and its next record.
struct Source {
    std::unique_ptr<records::RecordReader> reader;
    records::CaptureRecord record;
    size_t index = 0;
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

}  // namespace

CaptureReport ReadCapture(const std::string& path, const CaptureOptions& options, StreamConsumer& consumer)
{
    std::string error;
    std::unique_ptr<records::CaptureInput> input = OpenPath(path, &error);
    if (!input)
        return NotACapture(error);
    return ReadInput(std::move(input), options, consumer);
}

CaptureReport ReadCaptures(const std::vector<std::string>& paths, const CaptureOptions& options,
                           StreamConsumer& consumer)
{
    CaptureReport report;
    std::vector<Source> sources(paths.size());
    for (size_t k = 0; k < paths.size(); ++k) {
        report.files.emplace_back();
        std::string error;
        std::unique_ptr<records::CaptureInput> input = OpenPath(paths[k], &error);
        if (input)
            sources[k].reader = records::RecordReader::Open(std::move(input), &error);
        if (!sources[k].reader) {
            report.status = report.files[k].status = CaptureStatus::kNotACapture;
            report.message = report.files[k].message = error;
            return report;
        }
        sources[k].index = k;
    }
    // The earliest next record first; of equal times, the earlier file's.
    const auto later = [](const Source* a, const Source* b) {
        return a->record.timeNs != b->record.timeNs ? a->record.timeNs > b->record.timeNs : a->index > b->index;
    };
    std::priority_queue<Source*, std::vector<Source*>, decltype(later)> next(later);
    for (Source& source : sources)
        if (Advance(source, report.files[source.index]))
            next.push(&source);
    PacketSorter sorter(options, consumer);
    while (!next.empty()) {
        Source* source = next.top();
        next.pop();
        sorter.Sort(source->record);
        ++report.files[source->index].records;
        if (Advance(*source, report.files[source->index]))
            next.push(source);
    }
    // In the order of the files, each file's in order of first appearance.
    for (const Source& source : sources)
        for (int linkType : source.reader->linkTypes())
            if (std::find(report.linkTypes.begin(), report.linkTypes.end(), linkType) == report.linkTypes.end())
                report.linkTypes.push_back(linkType);
    for (const CaptureFileReport& file : report.files)
        if (file.status != CaptureStatus::kOk && report.status == CaptureStatus::kOk) {
            report.status = file.status;
            report.message = file.message;
        }
    Conclude(sorter, report);
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
