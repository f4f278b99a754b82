#include "recorder/stream_decoding.h"

#include <algorithm>
#include <new>
#include <system_error>
#include <utility>

namespace mervox::media::recorder {
namespace {

// Slots per batch, and batches a worker may have waiting: a few MB at
// most, whatever the capture. A batch item may stand for many slots (a
// sender's silence without packets): a batch is also handed over at
// kBatchSlots, and a worker has at most kQueuedSlots waiting (about 20
// minutes of one stream, under a second of decoding), so that the reader
// never runs far ahead of the decoding.
constexpr size_t kBatchItems = 4096;
constexpr size_t kQueuedBatches = 8;
constexpr uint64_t kBatchSlots = 8192;
constexpr uint64_t kQueuedSlots = 4 * kBatchSlots;

}  // namespace

StreamDecoding::StreamDecoding(unsigned workers, const SinkFactory& sinks, bool loudness) : keepLoudness_(loudness)
{
    workers = std::max(1u, workers);
    for (unsigned i = 0; i < workers; ++i) {
        workers_.push_back(std::make_unique<Worker>());
        workers_.back()->sink = sinks(i, workers);
    }
    if (workers_.size() == 1)
        return;  // decoded on the reading thread
    size_t running = 0;
    for (; running < workers_.size(); ++running) {
        try {
            Worker& w = *workers_[running];
            w.thread = std::thread([this, &w] { Run(w); });
        } catch (const std::system_error&) {
            break;  // no more threads: those running take every stream
        }
    }
    // Not even one thread: the reading thread decodes.
    workers_.resize(std::max<size_t>(running, 1));
    threaded_ = running > 0;
}

StreamDecoding::~StreamDecoding() { Finish(); }

void StreamDecoding::Outputs::Started(size_t /*id*/) { worker_.sink->Started((*worker_.started)[worker_.next++]); }

bool StreamDecoding::Outputs::Samples(size_t id, const int16_t* pcm, size_t count)
{
    if (owner_.keepLoudness_) {
        Loudness* l = nullptr;
        {
            std::lock_guard<std::mutex> lock(owner_.doneMutex_);
            l = &owner_.loudness_[id];
        }
        l->series.Samples(l->samples, pcm, count);
        l->samples += count;
    }
    return worker_.sink->Samples(id, pcm, count);
}

void StreamDecoding::Outputs::Ended(size_t id)
{
    worker_.sink->Ended(id);
    std::lock_guard<std::mutex> lock(owner_.doneMutex_);
    owner_.decoded_.insert(id);
    owner_.doneChanged_.notify_all();
}

void StreamDecoding::Added(Worker& w)
{
    if (w.filling.slots.size() >= kBatchItems || w.filling.count >= kBatchSlots)
        Hand(w);
}

void StreamDecoding::Hand(Worker& w)
{
    if (w.filling.slots.empty())
        return;
    if (!threaded_) {
        Process(w, w.filling);
        w.filling.slots.Clear();
        w.filling.started.clear();
        w.filling.count = 0;
        return;
    }
    std::unique_lock<std::mutex> lock(w.mutex);
    w.changed.wait(lock, [&] { return w.queue.size() < kQueuedBatches && w.queuedSlots < kQueuedSlots; });
    w.queuedSlots += w.filling.count;
    w.queue.push_back(std::move(w.filling));
    w.filling = Batch();
    w.changed.notify_all();
}

void StreamDecoding::Started(size_t id, const timeline::StreamInfo& info)
{
    Worker& w = WorkerOf(id);
    w.filling.started.push_back(info);
    w.filling.slots.Start(id);
    Added(w);
}

void StreamDecoding::Frames(size_t id, const uint8_t* frame, size_t size, uint64_t count)
{
    Worker& w = WorkerOf(id);
    if (frame)
        w.filling.slots.Frame(id, frame, size);
    else
        w.filling.slots.Missing(id, count);
    w.filling.count += frame ? 1 : count;
    Added(w);
}

void StreamDecoding::Ended(size_t id)
{
    Worker& w = WorkerOf(id);
    w.filling.slots.End(id);
    Added(w);
}

void StreamDecoding::Flush(size_t id) { Hand(WorkerOf(id)); }

bool StreamDecoding::Decoded(size_t id, bool wait)
{
    Worker& w = WorkerOf(id);
    std::unique_lock<std::mutex> lock(doneMutex_);
    if (wait)
        doneChanged_.wait(lock, [&] {
            // A worker that ran out of memory drops its streams.
            std::lock_guard<std::mutex> worker(w.mutex);
            return decoded_.count(id) > 0 || w.outOfMemory;
        });
    return decoded_.count(id) > 0;
}

void StreamDecoding::Forget(size_t id)
{
    std::lock_guard<std::mutex> lock(doneMutex_);
    decoded_.erase(id);
    loudness_.erase(id);
}

quality::StreamSeries StreamDecoding::TakeLoudness(size_t id)
{
    std::lock_guard<std::mutex> lock(doneMutex_);
    const auto found = loudness_.find(id);
    if (found == loudness_.end())
        return quality::StreamSeries();
    quality::StreamSeries series = std::move(found->second.series);
    loudness_.erase(found);
    return series;
}

void StreamDecoding::Run(Worker& w)
{
    for (;;) {
        Batch batch;
        {
            std::unique_lock<std::mutex> lock(w.mutex);
            w.changed.wait(lock, [&] { return !w.queue.empty() || w.closing; });
            if (w.queue.empty())
                return;  // closing, and nothing left
            batch = std::move(w.queue.front());
            w.queue.pop_front();
        }
        Process(w, batch);
        {
            // Room for more once it is decoded, not when it is taken.
            std::lock_guard<std::mutex> lock(w.mutex);
            w.queuedSlots -= batch.count;
            w.changed.notify_all();
        }
    }
}

void StreamDecoding::Process(Worker& w, const Batch& batch)
{
    if (w.outOfMemory)
        return;  // drained, so that the reader never waits for this worker
    try {
        w.started = &batch.started;
        w.next = 0;
        Outputs outputs(w, *this);
        w.decoder.Decode(batch.slots, outputs);
    } catch (const std::bad_alloc&) {
        // Its open files are abandoned when the worker's sink goes.
        {
            std::lock_guard<std::mutex> lock(w.mutex);
            w.outOfMemory = true;
        }
        w.decoder.Forget();
        std::lock_guard<std::mutex> lock(doneMutex_);
        doneChanged_.notify_all();
    }
}

void StreamDecoding::Finish()
{
    if (finished_)
        return;
    finished_ = true;
    for (const std::unique_ptr<Worker>& w : workers_) {
        Hand(*w);
        std::lock_guard<std::mutex> lock(w->mutex);
        w->closing = true;
        w->changed.notify_all();
    }
    for (const std::unique_ptr<Worker>& w : workers_)
        if (w->thread.joinable())
            w->thread.join();
}

bool StreamDecoding::outOfMemory() const
{
    for (const std::unique_ptr<Worker>& w : workers_)
        if (w->outOfMemory)
            return true;
    return false;
}

}  // namespace mervox::media::recorder
