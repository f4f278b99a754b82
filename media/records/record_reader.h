// Reads capture records one at a time from a stdio stream (a file, a pipe,
// standard input) or from memory: classic pcap (pcap_reader.h) and pcapng
// (pcapng_reader.h), told apart by their first four bytes. Both are read
// here, without libpcap, so that every platform reads captures the same way.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "net/byte_view.h"
#include "records/capture_input.h"

namespace mervox::media::records {

struct CaptureRecord {
    net::ByteView data;         // the captured bytes, valid until the next call
    size_t originalLength = 0;  // the packet's length on the wire
    double time = 0;            // seconds since the epoch
    int64_t timeNs = 0;         // the same in whole nanoseconds, as the capture states it (no rounding)
    int linkType = -1;          // -1: the record names an interface the capture never described
};

enum class RecordResult {
    kRecord,
    kEnd,        // the capture ended cleanly
    kTruncated,  // the capture ends inside a record: error() says where
    kDamaged,    // a record or block that cannot be one (or a read error): error() says which
};

class RecordReader {
public:
    // Reads the capture's header from `input` and takes the input over.
    // Null (with *error set, the input closed) when it is not a capture.
    static std::unique_ptr<RecordReader> Open(std::unique_ptr<CaptureInput> input, std::string* error);
    static std::unique_ptr<RecordReader> Open(std::FILE* stream, std::string* error)
    {
        return Open(StreamInput(stream), error);
    }

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

}  // namespace mervox::media::records
