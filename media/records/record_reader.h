// Reads capture records one at a time from a stdio stream (a file, a pipe,
// standard input) or from memory: classic pcap (pcap_reader.h) and pcapng
// (pcapng_reader.h), told apart by their first four bytes. Both are read
// here, without libpcap, so that every platform reads captures the same way.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>
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

// What a capturing interface counted, as pcapng's interface statistics
// blocks state it: the latest value of each counter (counters run from the
// start of the capture, so the latest is the whole), empty where no block
// gave it. Capturing programs write such a block when they close a file
// (dumpcap: at its end, and at each switch of a ring buffer), so a live
// capture has them only once it ended.
struct InterfaceStatistics {
    size_t section = 0;                     // which section of the capture (0: the first)
    uint32_t interface = 0;                 // the interface's number within its section
    std::string name;                       // its name (if_name), if the capture gives one
    std::optional<int64_t> timeNs;          // the latest block's time (nanoseconds since the epoch)
    std::optional<uint64_t> received;       // isb_ifrecv: packets the interface received
    std::optional<uint64_t> dropped;        // isb_ifdrop: dropped for lack of buffers (interface, capture)
    std::optional<uint64_t> accepted;       // isb_filteraccept: accepted by the capture filter
    std::optional<uint64_t> systemDropped;  // isb_osdrop: dropped by the operating system
    std::optional<uint64_t> delivered;      // isb_usrdeliv: delivered to the capturing program
};

enum class RecordResult {
    kRecord,
    kEnd,        // the capture ended cleanly, or at a stop (stoppedByRequest())
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
    RecordResult Next(CaptureRecord& record);
    const std::string& error() const { return error_; }
    // The link types of the capture's interfaces, in order of first appearance.
    const std::vector<int>& linkTypes() const { return linkTypes_; }
    // One entry per interface the capture described so far, in order
    // (interfaces of later sections after those of earlier ones; each
    // section numbers its own from 0). Empty for classic pcap, which has
    // no such counts.
    const std::vector<InterfaceStatistics>& interfaceStatistics() const { return statistics_; }
    // Whether the capture ended (kEnd) because a stop was requested while
    // it was read (CaptureInput::Stopped()): every record before the stop
    // was given, a record the stop cut short is not (and is no damage).
    bool stoppedByRequest() const { return stopped_; }

protected:
    explicit RecordReader(std::unique_ptr<CaptureInput> input) : input_(std::move(input)) {}
    // The next record as the format reads it.
    virtual RecordResult ReadRecord(CaptureRecord& record) = 0;
    void NoteLinkType(int linkType);

    std::unique_ptr<CaptureInput> input_;
    std::string error_;
    std::vector<InterfaceStatistics> statistics_;

private:
    std::vector<int> linkTypes_;
    bool stopped_ = false;
};

}  // namespace mervox::media::records
