#include "stream_workers.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>
#include <utility>

#include "exit_codes.h"

namespace mervox::cli {
namespace {

// Slots per batch, and batches a worker may have waiting: a few MB at
// most, whatever the capture.
constexpr size_t kBatchItems = 4096;
constexpr size_t kQueuedBatches = 8;

}  // namespace

StreamWorkers::StreamWorkers(unsigned workers, const std::string& prefix, const Console& console,
                             const media::output::OutputPool::Limits& limits, bool loudness, const std::string& scratch)
{
    workers = std::max(1u, workers);
    media::output::OutputPool::Limits share = limits;
    share.openFiles = std::max<size_t>(1, limits.openFiles / workers);
    share.heldBytes = limits.heldBytes / workers;
    for (unsigned i = 0; i < workers; ++i) {
        workers_.push_back(std::make_unique<Worker>(prefix, console, share, scratch));
        workers_.back()->outputs.keepLoudness = loudness;
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

StreamWorkers::~StreamWorkers() { Finish(); }

void StreamWorkers::Added(Worker& w)
{
    if (w.filling.slots.size() >= kBatchItems)
        Hand(w);
}

void StreamWorkers::Hand(Worker& w)
{
    if (w.filling.slots.empty())
        return;
    if (!threaded_) {
        Process(w, w.filling);
        w.filling.slots.Clear();
        w.filling.started.clear();
        return;
    }
    std::unique_lock<std::mutex> lock(w.mutex);
    w.changed.wait(lock, [&] { return w.queue.size() < kQueuedBatches; });
    w.queue.push_back(std::move(w.filling));
    w.filling = Batch();
    w.changed.notify_all();
}

void StreamWorkers::StreamStarted(size_t id, const media::timeline::StreamInfo& info)
{
    Worker& w = WorkerOf(id);
    w.filling.started.push_back(info);
    w.filling.slots.Start(id);
    Added(w);
}

bool StreamWorkers::Frames(size_t id, const uint8_t* frame, size_t size, uint64_t count)
{
    Worker& w = WorkerOf(id);
    if (frame)
        w.filling.slots.Frame(id, frame, size);
    else
        w.filling.slots.Missing(id, count);
    Added(w);
    return true;  // a stream whose file failed is skipped by its worker
}

void StreamWorkers::StreamEnded(size_t id, const media::timeline::RtpStream&)
{
    Worker& w = WorkerOf(id);
    w.filling.slots.End(id);
    Added(w);
}

void StreamWorkers::Run(Worker& w)
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
            w.changed.notify_all();
        }
        Process(w, batch);
    }
}

void StreamWorkers::Process(Worker& w, const Batch& batch)
{
    if (w.outOfMemory)
        return;  // drained, so that the reader never waits for this worker
    try {
        w.outputs.started = &batch.started;
        w.outputs.next = 0;
        w.decoder.Decode(batch.slots, w.outputs);
    } catch (const std::bad_alloc&) {
        // Its open files are abandoned when the worker's files go.
        w.outOfMemory = true;
        w.decoder.Forget();
    }
}

void StreamWorkers::Finish()
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

const StreamFiles::File& StreamWorkers::file(size_t id) { return WorkerOf(id).outputs.files.file(id); }

const media::quality::StreamSeries* StreamWorkers::loudness(size_t id)
{
    const auto& kept = WorkerOf(id).outputs.loudness;
    const auto found = kept.find(id);
    return found == kept.end() ? nullptr : &found->second.series;
}

int StreamWorkers::status() const
{
    int worst = 0;
    for (const std::unique_ptr<Worker>& w : workers_)
        worst = std::max(worst, w->outOfMemory ? static_cast<int>(kExitOutOfMemory) : w->outputs.files.status());
    return worst;
}

}  // namespace mervox::cli
