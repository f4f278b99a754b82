// `mervox pcap`: the capture is read on the calling thread, and its streams
// are decoded and written by N workers (`-j N`; with N = 1, or when no
// thread can be started, one worker that runs on the reading thread). Each
// stream belongs to one worker (stream id mod N), which receives the
// stream's start, its timeline slots in order and its end. The reader hands
// slots over in batches through a bounded queue per worker: memory stays
// bounded when the workers fall behind (the reader waits). A worker decodes
// the slots of a batch with mervox_decode_many, one slot of each of up to
// kLanes (64) streams per call, each stream's slots in order: every stream is
// decoded exactly as on its own.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "capture.h"
#include "console.h"
#include "frame_batch.h"
#include "frame_decoder.h"
#include "mervox.hpp"
#include "stream_files.h"

namespace mervox::cli {

class StreamWorkers : public capture::StreamConsumer {
public:
    StreamWorkers(unsigned workers, const std::string& prefix, const Console& console);
    ~StreamWorkers() override;
    StreamWorkers(const StreamWorkers&) = delete;
    StreamWorkers& operator=(const StreamWorkers&) = delete;

    bool TakesFrames() const override { return true; }
    void StreamStarted(size_t id, const capture::StreamInfo& info) override;
    bool Samples(size_t, const int16_t*, size_t) override { return false; }  // frames come instead
    bool Frames(size_t id, const uint8_t* frame, size_t size, uint64_t count) override;
    void StreamEnded(size_t id, const capture::RtpStream& stream) override;

    // Hands over what is left and waits until every stream is written.
    void Finish();

    // After Finish(): what became of stream `id`'s file, and the worst
    // exit status of all files.
    const StreamFiles::File& file(size_t id);
    int status() const;

private:
    enum class Kind : uint8_t { kStart, kSlots, kEnd };
    struct Item {
        Kind kind;
        uint8_t size;  // the frame's bytes; 0 = `count` slots without a frame
        uint8_t bytes[MERVOX_MAX_FRAME_BYTES];
        size_t id;
        uint64_t count;
    };
    struct Batch {
        std::vector<Item> items;
        std::vector<capture::StreamInfo> started;  // kStart items' infos, in order
    };
    // A stream with slots in the batch being decoded: its kSlots items are
    // linked in order through `nextItem`.
    struct Lane {
        StreamFiles::File* file;
        tools::FrameDecoder* decoder;
        size_t item;    // its current kSlots item, kNoItem when done
        size_t last;    // its last kSlots item so far
        uint64_t done;  // slots of the current item decoded
    };
    static constexpr size_t kNoItem = SIZE_MAX;
    struct Worker {
        Worker(const std::string& prefix, const Console& console);
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<Batch> queue;  // full batches, oldest first
        bool closing = false;
        Batch filling;      // touched by the reader only
        StreamFiles files;  // touched by the worker only, until joined
        std::map<size_t, tools::FrameDecoder> decoders;
        // Reused from batch to batch (the worker's own):
        tools::FrameBatch frames;                   // one call's entries
        std::vector<Lane> lanes;                    // in order of their first slot
        std::unordered_map<size_t, size_t> laneOf;  // stream id -> index in lanes
        std::vector<size_t> nextItem;               // per item: the stream's next kSlots item
        std::vector<size_t> group;                  // lanes in the current call
        bool outOfMemory = false;                   // the worker's own, read after it is joined
        std::thread thread;                         // none: runs on the reading thread
    };

    Worker& WorkerOf(size_t id) { return *workers_[id % workers_.size()]; }
    void Push(Worker& w, Item item);
    void Hand(Worker& w);
    void Run(Worker& w);
    void Process(Worker& w, const Batch& batch);
    void Decode(Worker& w, const Batch& batch);
    void DecodeSlots(Worker& w, const Batch& batch);

    std::vector<std::unique_ptr<Worker>> workers_;
    bool threaded_ = false;  // false: one worker, on the reading thread
    bool finished_ = false;
};

}  // namespace mervox::cli
