// Reads a capture record by record and hands each one to the packet sorter.
#include <pcap/pcap.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "call_builder.h"
#include "capture.h"
#include "link_layer.h"
#include "packet_sorter.h"
#include "record_reader.h"

namespace mervox::capture {
namespace {

CaptureReport NotACapture(const std::string& why)
{
    CaptureReport report;
    report.status = CaptureStatus::kNotACapture;
    report.message = why;
    return report;
}

std::string LinkTypeName(int linkType)
{
    const char* name = pcap_datalink_val_to_name(linkType);
    return std::to_string(linkType) + " (" + (name ? name : "unknown") + ")";
}

// Reads every record of `stream` (which it closes).
CaptureReport ReadStream(std::FILE* stream, const CaptureOptions& options, StreamConsumer& consumer)
{
    std::string error;
    const std::unique_ptr<RecordReader> reader = RecordReader::Open(stream, &error);
    if (!reader)
        return NotACapture(error);
    CaptureReport report;
    PacketSorter sorter(options, consumer);
    CaptureRecord record;
    for (;;) {
        const RecordResult result = reader->Next(record);
        if (result == RecordResult::kEnd)
            break;
        if (result == RecordResult::kDamaged) {
            report.status = CaptureStatus::kTruncated;
            report.message = reader->error();
            break;
        }
        sorter.Sort(record);
    }
    report.streams = sorter.Finish();
    report.counters = sorter.counters();
    report.signalling = sorter.signalling().counters();
    report.dialogs = sorter.signalling().dialogs();
    report.calls = BuildCalls(report.dialogs, report.streams);
    report.linkTypes = reader->linkTypes();
    if (report.status == CaptureStatus::kOk && report.counters.skipped[SkipReason::kUnsupportedLink] > 0) {
        for (int linkType : report.linkTypes)
            if (!IsSupportedLinkType(linkType))
                report.message += (report.message.empty() ? "link type " : ", link type ") + LinkTypeName(linkType) +
                                  " is not decoded";
    }
    return report;
}

}  // namespace

CaptureReport ReadCapture(const std::string& path, const CaptureOptions& options, StreamConsumer& consumer)
{
    std::FILE* stream = nullptr;
    if (path == "-") {
        // A stream of its own on standard input, which closing leaves open.
        const int fd = dup(fileno(stdin));
        if (fd < 0 || !(stream = fdopen(fd, "rb"))) {
            const int error = errno;
            if (fd >= 0)
                close(fd);
            return NotACapture(std::string("cannot read standard input: ") + std::strerror(error));
        }
    } else if (!(stream = std::fopen(path.c_str(), "rb"))) {
        return NotACapture(std::string("cannot open: ") + std::strerror(errno));
    }
    return ReadStream(stream, options, consumer);
}

CaptureReport ReadCaptureBytes(const uint8_t* data, size_t size, const CaptureOptions& options,
                               StreamConsumer& consumer)
{
    if (size == 0)
        return NotACapture("empty input");
    // The readers take a stdio stream; this one reads the caller's bytes.
    std::FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!stream)
        return NotACapture("cannot open the bytes as a stream");
    return ReadStream(stream, options, consumer);
}

std::string SsrcText(uint32_t ssrc)
{
    char text[11];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(ssrc));
    return text;
}

}  // namespace mervox::capture
