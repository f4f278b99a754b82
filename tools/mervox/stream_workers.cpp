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

StreamWorkers::StreamWorkers(unsigned workers, const std::string& prefix, const Console& console)
{
    for (unsigned i = 0; i < std::max(1u, workers); ++i)
        workers_.push_back(std::make_unique<Worker>(prefix, console));
    size_t running = 0;
    for (; running < workers_.size(); ++running) {
        try {
            Worker& w = *workers_[running];
            w.thread = std::thread([this, &w] { Run(w); });
        } catch (const std::system_error&) {
            if (running == 0)
                throw;
            break;  // no more threads: those running take every stream
        }
    }
    workers_.resize(running);
}

StreamWorkers::~StreamWorkers() { Finish(); }

void StreamWorkers::Push(Worker& w, Item item)
{
    w.filling.items.push_back(item);
    if (w.filling.items.size() >= kBatchItems)
        Hand(w);
}

void StreamWorkers::Hand(Worker& w)
{
    if (w.filling.items.empty())
        return;
    std::unique_lock<std::mutex> lock(w.mutex);
    w.changed.wait(lock, [&] { return w.queue.size() < kQueuedBatches; });
    w.queue.push_back(std::move(w.filling));
    w.filling = Batch();
    w.changed.notify_all();
}

void StreamWorkers::StreamStarted(size_t id, const capture::StreamInfo& info)
{
    Worker& w = WorkerOf(id);
    w.filling.started.push_back(info);
    Push(w, Item{Kind::kStart, 0, {}, id, 0});
}

bool StreamWorkers::Frames(size_t id, const uint8_t* frame, size_t size, uint64_t count)
{
    Item item{Kind::kSlots, 0, {}, id, count};
    if (frame) {
        item.size = static_cast<uint8_t>(std::min<size_t>(size, sizeof item.bytes));
        std::memcpy(item.bytes, frame, item.size);
    }
    Push(WorkerOf(id), item);
    return true;  // a stream whose file failed is skipped by its worker
}

void StreamWorkers::StreamEnded(size_t id, const capture::RtpStream&)
{
    Push(WorkerOf(id), Item{Kind::kEnd, 0, {}, id, 0});
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
        if (w.outOfMemory)
            continue;  // drained, so that the reader never waits for this worker
        try {
            Decode(w, batch);
        } catch (const std::bad_alloc&) {
            // Its open files are abandoned when the worker's files go.
            w.outOfMemory = true;
            w.decoders.clear();
        }
    }
}

void StreamWorkers::Decode(Worker& w, const Batch& batch)
{
    static const capture::RtpStream kNoStats;
    size_t started = 0;
    FramePcm pcm;
    for (const Item& item : batch.items) {
        switch (item.kind) {
        case Kind::kStart: {
            w.files.StreamStarted(item.id, batch.started[started++]);
            // As after INITdec(1): 6.3 kbit/s until a frame says otherwise.
            tools::Result<tools::FrameDecoder> decoder = tools::FrameDecoder::Create(MERVOX_RATE_SELECT_6300);
            if (!decoder.ok())
                throw std::bad_alloc();
            w.decoders.emplace(item.id, std::move(decoder.value()));
            break;
        }
        case Kind::kSlots: {
            tools::FrameDecoder& decoder = w.decoders.at(item.id);
            for (uint64_t k = 0; k < item.count && w.files.Writing(item.id); ++k) {
                if (item.size)
                    decoder.Decode(item.bytes, item.size, false, pcm);
                else
                    decoder.ConcealMissing(pcm);
                w.files.Samples(item.id, pcm.data(), pcm.size());
            }
            break;
        }
        case Kind::kEnd:
            w.files.StreamEnded(item.id, kNoStats);
            w.decoders.erase(item.id);
            break;
        }
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
        w->thread.join();
}

const StreamFiles::File& StreamWorkers::file(size_t id) { return WorkerOf(id).files.file(id); }

int StreamWorkers::status() const
{
    int worst = 0;
    for (const std::unique_ptr<Worker>& w : workers_)
        worst = std::max(worst, w->outOfMemory ? static_cast<int>(kExitOutOfMemory) : w->files.status());
    return worst;
}

}  // namespace mervox::cli
