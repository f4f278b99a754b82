// Reads capture records with libpcap, which understands both pcap and
// pcapng, and hands each one to the packet sorter.
#include <pcap/pcap.h>

#include <cstdio>

#include "capture.h"
#include "link_layer.h"
#include "packet_sorter.h"

namespace mervox::capture {
namespace {

// Reads every record of an opened capture; closes it.
CaptureReport ReadOpened(pcap_t* handle, const CaptureOptions& options)
{
    CaptureReport report;
    PacketSorter sorter;
    sorter.linkType = pcap_datalink(handle);
    sorter.payloadType = options.payloadType;
    report.linkType = sorter.linkType;

    pcap_pkthdr* header = nullptr;
    const u_char* bytes = nullptr;
    for (;;) {
        const int result = pcap_next_ex(handle, &header, &bytes);
        if (result == PCAP_ERROR_BREAK)  // end of the file
            break;
        if (result != 1) {
            // A record cut off by the end of the file, or a damaged block:
            // libpcap cannot resynchronise, so keep what came before.
            report.status = CaptureStatus::kTruncated;
            report.message = pcap_geterr(handle);
            break;
        }
        const double time = static_cast<double>(header->ts.tv_sec) + static_cast<double>(header->ts.tv_usec) * 1e-6;
        SortPacket(sorter, ByteView{bytes, header->caplen}, header->len, time);
    }
    pcap_close(handle);
    report.streams = FinishStreams(sorter);
    report.counters = sorter.counters;
    if (report.status == CaptureStatus::kOk && !IsSupportedLinkType(report.linkType))
        report.message =
            std::string("link type ") + std::to_string(report.linkType) + " (" +
            (pcap_datalink_val_to_name(report.linkType) ? pcap_datalink_val_to_name(report.linkType) : "unknown") +
            ") is not decoded";
    return report;
}

CaptureReport NotACapture(const char* why)
{
    CaptureReport report;
    report.status = CaptureStatus::kNotACapture;
    report.message = why;
    return report;
}

}  // namespace

CaptureReport ReadCaptureFile(const std::string& path, const CaptureOptions& options)
{
    char error[PCAP_ERRBUF_SIZE] = {};
    pcap_t* handle = pcap_open_offline(path.c_str(), error);
    if (!handle)
        return NotACapture(error);
    return ReadOpened(handle, options);
}

CaptureReport ReadCaptureBytes(const uint8_t* data, size_t size, const CaptureOptions& options)
{
    if (size == 0)
        return NotACapture("empty input");
    // libpcap reads from a stdio stream; this one reads the caller's bytes.
    FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!stream)
        return NotACapture("cannot open the bytes as a stream");
    char error[PCAP_ERRBUF_SIZE] = {};
    pcap_t* handle = pcap_fopen_offline(stream, error);
    if (!handle) {
        std::fclose(stream);
        return NotACapture(error);
    }
    return ReadOpened(handle, options);  // pcap_close closes the stream
}

std::string SsrcText(uint32_t ssrc)
{
    char text[11];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(ssrc));
    return text;
}

}  // namespace mervox::capture
