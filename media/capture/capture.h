// Finds the G.723.1 RTP streams and SIP calls in a pcap or pcapng capture
// and hands out each stream's timeline (its frames, and slots without a
// frame where packets are missing) as the capture is read, and each call
// as it closes (call_tracker.h): memory grows with the streams and calls
// that are open at once, not with the capture's length. Decoding is the
// caller's (SlotDecoder; the recorder decodes and writes). No global state
// and no printing: every call works on its own records, so captures can be
// read side by side.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "calls/call.h"
#include "calls/call_record.h"
#include "capture/skip_reason.h"
#include "records/record_reader.h"
#include "records/ring_follower.h"
#include "signalling/signalling_counts.h"
#include "signalling/sip_dialogs.h"
#include "signalling/stream_owner.h"
#include "timeline/rtp_stream.h"
#include "timeline/stream_timeline.h"

namespace mervox::media::capture {

struct CaptureOptions {
    int payloadType = 4;  // G.723.1's static RTP payload type; dynamic mappings differ
    // Each stream earns its concealment allowance (stream_timeline.h), so
    // that many streams cannot add theirs up.
    timeline::TimelineRules timeline{true, timeline::kRealFramesForAllowance};
    // Keep each stream's figures over time (RtpStream::timelineSeries and
    // quality.arrivals), for drawing them.
    bool series = false;
    // Keep the calls (the first kMaxListedCalls to close) for the report at
    // the end (CaptureReport::calls, streams): off for a recorder that only
    // follows them as they close.
    bool listCalls = true;
};

// Calls a report lists at most (the first to close); the rest are counted.
constexpr size_t kMaxListedCalls = 10000;

// A stream is this many packets of whole G.723.1 frames, with distinct
// sequence numbers no further apart than kConfirmSpan, before it is one
// (so that other UDP traffic that happens to look like RTP is not decoded).
constexpr size_t kConfirmPackets = 3;
constexpr int kConfirmSpan = 16;
// A stream that receives no packet for this long (capture time) has ended;
// a later packet with its SSRC and addresses starts a new one. The same
// time a call waits without messages or packets before it takes no new
// stream.
constexpr double kStreamIdleSeconds = signalling::kCallIdleSeconds;

enum class CaptureStatus {
    kOk,
    kTruncated,    // the capture ends inside a record, or a block is damaged: what came before was read
    kNotACapture,  // neither pcap nor pcapng
    kUnreadable,   // a file could not be opened or read (a system error: `systemError`)
};

// What happened to every record of the capture.
struct CaptureCounters {
    uint64_t records = 0;
    uint64_t streamPackets = 0;       // RTP packets that went to a stream
    uint64_t signallingPackets = 0;   // SIP over UDP, and the segments of SIP connections over TCP
    uint64_t callPayloadPackets = 0;  // a call's telephone events and comfort noise on a stream's SSRC
    // Pieces of IP datagrams put back together, but for the piece that
    // completed each one (that record counts as what the datagram was).
    uint64_t joinedFragments = 0;
    SkipCounts skipped;
};

// Where the reading has got to (told every second of capture time, or
// every few thousand records).
struct CaptureProgress {
    uint64_t records = 0;
    double time = 0;           // the capture's clock (seconds since 1970)
    size_t liveStreams = 0;    // streams receiving packets
    size_t openSipCalls = 0;   // SIP calls not yet closed
    uint64_t closedCalls = 0;  // calls closed so far
};

// Receives the streams while the capture is read.
class StreamConsumer {
public:
    virtual ~StreamConsumer() = default;
    virtual void StreamStarted(size_t id, const timeline::StreamInfo& info) = 0;
    // The next slots of stream `id`'s timeline, in order: one frame's bytes
    // (of any type, count 1, to decode as decode::FrameDecoder does) or, with
    // `frame` null, `count` slots without a frame (to conceal as missing).
    // Returns false: send no more of this stream.
    virtual bool Frames(size_t id, const uint8_t* frame, size_t size, uint64_t count) = 0;
    // Stream `id` has ended (it went idle, its call closed, or the capture ended).
    virtual void StreamEnded(size_t id, const timeline::RtpStream& stream) = 0;
    // A call has closed: every stream of it has ended.
    virtual void CallEnded(const calls::CallRecord& /*call*/) {}
    virtual void Progress(const CaptureProgress& /*progress*/) {}
};

// One of several capture files read as one (ReadCaptures).
struct CaptureFileReport {
    CaptureStatus status = CaptureStatus::kOk;
    std::string message;  // why it is not a capture or could not be read, or where it was cut
    uint64_t records = 0;
};

struct CaptureReport {
    CaptureStatus status = CaptureStatus::kOk;
    std::string message;         // why the capture is not one or could not be read, or where it was cut
    int systemError = 0;         // kUnreadable: the system's error number (errno)
    std::vector<int> linkTypes;  // of the capture's interfaces, in order of first appearance
    CaptureCounters counters;
    // The listed calls (CaptureOptions::listCalls): SIP calls in order of
    // their first message, then unsignalled ones by their first packet; and
    // their streams, in order of their first packet.
    std::vector<timeline::RtpStream> streams;
    signalling::SignallingCounters signalling;
    std::vector<signalling::Dialog> dialogs;  // of the listed SIP calls, in order of their first message
    std::vector<calls::Call> calls;
    // The capture's own account of its interfaces (pcapng interface
    // statistics blocks: packets received and dropped), as each file gave them.
    std::vector<records::InterfaceStatistics> interfaces;
    // ReadRing: the ring's files read, and those removed before they could be.
    uint64_t ringFilesRead = 0;
    uint64_t ringFilesLost = 0;
    uint64_t streamCount = 0;     // G.723.1 streams found in all (listed or not)
    uint64_t closedCalls = 0;     // calls closed in all
    uint64_t callsNotListed = 0;  // beyond kMaxListedCalls, or not kept
    bool stopped = false;         // the reading was stopped before the capture's end
    // ReadCaptures: each file's own status, in the order given. With
    // several, `status` is the worst of theirs and `message` that of the
    // first file it comes from.
    std::vector<CaptureFileReport> files;
};

// Reads a capture file ("-": standard input) from start to end, as a stream.
CaptureReport ReadCapture(const std::string& path, const CaptureOptions& options, StreamConsumer& consumer);
CaptureReport ReadCaptureBytes(const uint8_t* data, size_t size, const CaptureOptions& options,
                               StreamConsumer& consumer);
// Several capture files of one recording (a ring buffer's, or a capture
// split in pieces) read as one: their records in time order, and records of
// the same time in the order of the files. Every file is looked at first,
// for its first record's time, and closed again: one that is not a capture
// or cannot be opened stops the reading before any record is read. Then
// each is opened when the merge reaches its first record and closed after
// its last, so that only files whose records overlap in time are open at
// once (a ring buffer's, one or two); standard input, pipes and devices,
// which cannot be read twice, stay open from the first look on. One that cannot be opened then stops
// the reading there (kUnreadable). A file cut short ends there and the
// others are read on.
CaptureReport ReadCaptures(const std::vector<std::string>& paths, const CaptureOptions& options,
                           StreamConsumer& consumer);

// The files of a ring buffer (dumpcap -b) read as one capture, each as it
// is closed, until `ring.stop` says to stop (records/ring_follower.h).
CaptureReport ReadRing(const records::RingOptions& ring, const CaptureOptions& options, StreamConsumer& consumer);

// "0x11223344"
std::string SsrcText(uint32_t ssrc);

}  // namespace mervox::media::capture
