// Reads capture records one at a time from a stdio stream (a file, a pipe,
// standard input): classic pcap through libpcap, pcapng with its own reader
// because every pcapng interface has its own link type (and a later section
// may have others), which libpcap refuses.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "byte_view.h"

namespace mervox::capture {

struct CaptureRecord {
    ByteView data;              // the captured bytes, valid until the next call
    size_t originalLength = 0;  // the packet's length on the wire
    double time = 0;            // seconds since the epoch
    int64_t timeNs = 0;         // the same in whole nanoseconds, as the capture states it (no rounding)
    int linkType = -1;          // -1: the record names an interface the capture never described
};

enum class RecordResult {
    kRecord,
    kEnd,      // the capture ended cleanly
    kDamaged,  // cut off inside a record or a damaged block: error() says where
};

class RecordReader {
public:
    // Reads the capture's header from `stream` and takes the stream over.
    // Null (with *error set, the stream closed) when it is not a capture.
    static std::unique_ptr<RecordReader> Open(std::FILE* stream, std::string* error);

    virtual ~RecordReader() = default;
    virtual RecordResult Next(CaptureRecord& record) = 0;
    const std::string& error() const { return error_; }
    // The link types of the capture's interfaces, in order of first appearance.
    const std::vector<int>& linkTypes() const { return linkTypes_; }

protected:
    void NoteLinkType(int linkType);
    std::string error_;

private:
    std::vector<int> linkTypes_;
};

}  // namespace mervox::capture
