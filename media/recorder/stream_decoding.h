// The streams of a capture decoded by N workers while the capture is read
// (with N = 1, or when no thread can be started, one worker that runs on
// the reading thread). Each stream belongs to one worker (stream id mod N),
// which receives the stream's start, its timeline slots in order and its
// end. The reader hands slots over in batches through a bounded queue per
// worker: memory stays bounded when the workers fall behind (the reader
// waits). A worker decodes each batch with its SlotDecoder (the batch call,
// each stream's slots in order): every stream is decoded exactly as on its
// own. Each worker's samples go to a StreamSink of its own.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "decode/slot_decoder.h"
#include "quality/stream_series.h"
#include "timeline/rtp_stream.h"

namespace mervox::media::recorder {

// Where one worker's decoded streams go (used by that worker only).
class StreamSink {
public:
    virtual ~StreamSink() = default;
    virtual void Started(const timeline::StreamInfo& info) = 0;
    // The next samples of stream `id`; false: it failed, decode no more of it.
    virtual bool Samples(size_t id, const int16_t* pcm, size_t count) = 0;
    virtual void Ended(size_t id) = 0;
};

class StreamDecoding {
public:
    using SinkFactory = std::function<std::unique_ptr<StreamSink>(size_t worker, size_t workers)>;
    // `loudness`: also keep each stream's decoded loudness over time.
    StreamDecoding(unsigned workers, const SinkFactory& sinks, bool loudness = false);
    ~StreamDecoding();
    StreamDecoding(const StreamDecoding&) = delete;
    StreamDecoding& operator=(const StreamDecoding&) = delete;

    void Started(size_t id, const timeline::StreamInfo& info);
    void Frames(size_t id, const uint8_t* frame, size_t size, uint64_t count);
    void Ended(size_t id);
    // Hands stream `id`'s worker what it holds, so that it is decoded soon.
    void Flush(size_t id);

    // Whether every slot of stream `id` (that has ended and been flushed)
    // has been decoded and its sink told; with `wait`, waits for it (from
    // any thread).
    bool Decoded(size_t id, bool wait);
    // Forgets that stream `id` was decoded (its results were taken).
    void Forget(size_t id);

    // Hands over what is left and waits until every stream is decoded.
    void Finish();

    // Whether the workers run on threads of their own (else on the reading thread).
    bool threaded() const { return threaded_; }
    StreamSink& sink(size_t id) { return *WorkerOf(id).sink; }
    // Whether a worker ran out of memory (its streams were dropped).
    bool outOfMemory() const;
    // Stream `id`'s loudness over time, once decoded (null without it);
    // TakeLoudness moves it out.
    quality::StreamSeries TakeLoudness(size_t id);

private:
    struct Batch {
        decode::SlotBatch slots;
        std::vector<timeline::StreamInfo> started;  // of the batch's starts, in order
        uint64_t count = 0;                         // slots to decode
    };
    struct Worker;
    // A worker's streams, as the decoder's outputs.
    class Outputs : public decode::PcmOutputs {
    public:
        Outputs(Worker& worker, StreamDecoding& owner) : worker_(worker), owner_(owner) {}
        void Started(size_t id) override;
        bool Samples(size_t id, const int16_t* pcm, size_t count) override;
        void Ended(size_t id) override;

    private:
        Worker& worker_;
        StreamDecoding& owner_;
    };
    struct Loudness {
        uint64_t samples = 0;  // decoded so far
        quality::StreamSeries series;
    };
    struct Worker {
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<Batch> queue;   // full batches, oldest first
        uint64_t queuedSlots = 0;  // of the batches queued or being decoded
        bool closing = false;
        Batch filling;  // touched by the reader only
        // Touched by the worker only, until joined:
        std::unique_ptr<StreamSink> sink;
        decode::SlotDecoder decoder;
        const std::vector<timeline::StreamInfo>* started = nullptr;  // the batch being decoded
        size_t next = 0;
        bool outOfMemory = false;
        std::thread thread;  // none: runs on the reading thread
    };

    Worker& WorkerOf(size_t id) { return *workers_[id % workers_.size()]; }
    void Added(Worker& w);
    void Hand(Worker& w);
    void Run(Worker& w);
    void Process(Worker& w, const Batch& batch);

    std::vector<std::unique_ptr<Worker>> workers_;
    bool threaded_ = false;  // false: one worker, on the reading thread
    bool finished_ = false;
    bool keepLoudness_ = false;
    // Shared by the workers and the reader:
    mutable std::mutex doneMutex_;
    std::condition_variable doneChanged_;
    std::set<size_t> decoded_;             // streams wholly decoded
    std::map<size_t, Loudness> loudness_;  // by stream (each touched by its worker until decoded)
};

}  // namespace mervox::media::recorder
