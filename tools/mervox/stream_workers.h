// `mervox pcap`: the capture is read on the calling thread, and its streams
// are decoded and written by N workers (`-j N`; with N = 1, or when no
// thread can be started, one worker that runs on the reading thread). Each
// stream belongs to one worker (stream id mod N), which receives the
// stream's start, its timeline slots in order and its end. The reader hands
// slots over in batches through a bounded queue per worker: memory stays
// bounded when the workers fall behind (the reader waits). A worker decodes
// each batch with its SlotDecoder (the batch call, each stream's slots in
// order): every stream is decoded exactly as on its own.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture.h"
#include "console.h"
#include "decode/slot_decoder.h"
#include "quality/stream_series.h"
#include "stream_files.h"

namespace mervox::cli {

class StreamWorkers : public media::capture::StreamConsumer {
public:
    // `limits`: of all the output files together (each worker has its share).
    // `loudness`: also keep each stream's decoded loudness over time.
    // `scratch`: see StreamFiles.
    StreamWorkers(unsigned workers, const std::string& prefix, const Console& console,
                  const media::output::OutputPool::Limits& limits, bool loudness = false,
                  const std::string& scratch = "");
    ~StreamWorkers() override;
    StreamWorkers(const StreamWorkers&) = delete;
    StreamWorkers& operator=(const StreamWorkers&) = delete;

    void StreamStarted(size_t id, const media::timeline::StreamInfo& info) override;
    bool Frames(size_t id, const uint8_t* frame, size_t size, uint64_t count) override;
    void StreamEnded(size_t id, const media::timeline::RtpStream& stream) override;

    // Hands over what is left and waits until every stream is written.
    void Finish();

    // After Finish(): what became of stream `id`'s file, and the worst
    // exit status of all files.
    const StreamFiles::File& file(size_t id);
    int status() const;
    // After Finish(): stream `id`'s loudness over time (null without it).
    const media::quality::StreamSeries* loudness(size_t id);

private:
    struct Batch {
        media::decode::SlotBatch slots;
        std::vector<media::timeline::StreamInfo> started;  // of the batch's starts, in order
    };
    // A worker's streams' files, as the decoder's outputs.
    class Outputs : public media::decode::PcmOutputs {
    public:
        Outputs(const std::string& prefix, const Console& console, const media::output::OutputPool::Limits& limits,
                const std::string& scratch)
            : files(prefix, console, limits, scratch)
        {}
        void Started(size_t id) override { files.StreamStarted(id, (*started)[next++]); }
        bool Samples(size_t id, const int16_t* pcm, size_t count) override
        {
            if (keepLoudness) {
                Loudness& l = loudness[id];
                l.series.Samples(l.samples, pcm, count);
                l.samples += count;
            }
            return files.Samples(id, pcm, count);
        }
        void Ended(size_t id) override { files.StreamEnded(id); }

        StreamFiles files;
        struct Loudness {
            uint64_t samples = 0;  // decoded so far
            media::quality::StreamSeries series;
        };
        bool keepLoudness = false;
        std::map<size_t, Loudness> loudness;
        const std::vector<media::timeline::StreamInfo>* started = nullptr;  // the batch being decoded
        size_t next = 0;
    };
    struct Worker {
        Worker(const std::string& prefix, const Console& console, const media::output::OutputPool::Limits& limits,
               const std::string& scratch)
            : outputs(prefix, console, limits, scratch)
        {}
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<Batch> queue;  // full batches, oldest first
        bool closing = false;
        Batch filling;  // touched by the reader only
        // Touched by the worker only, until joined:
        Outputs outputs;
        media::decode::SlotDecoder decoder;
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
};

}  // namespace mervox::cli
