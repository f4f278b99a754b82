// Reads a capture record by record and hands each one to the packet sorter.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

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

// Reads every record of `input`.
CaptureReport ReadInput(std::unique_ptr<CaptureInput> input, const CaptureOptions& options, StreamConsumer& consumer)
{
    std::string error;
    const std::unique_ptr<RecordReader> reader = RecordReader::Open(std::move(input), &error);
    if (!reader)
        return NotACapture(error);
    CaptureReport report;
    PacketSorter sorter(options, consumer);
    CaptureRecord record;
    for (;;) {
        const RecordResult result = reader->Next(record);
        if (result == RecordResult::kEnd)
            break;
        if (result == RecordResult::kTruncated || result == RecordResult::kDamaged) {
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
    return ReadInput(StreamInput(stream), options, consumer);
}

CaptureReport ReadCaptureBytes(const uint8_t* data, size_t size, const CaptureOptions& options,
                               StreamConsumer& consumer)
{
    if (size == 0)
        return NotACapture("empty input");
    return ReadInput(MemoryInput(data, size), options, consumer);
}

std::string SsrcText(uint32_t ssrc)
{
    char text[11];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(ssrc));
    return text;
}

}  // namespace mervox::capture
