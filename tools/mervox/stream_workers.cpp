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
// Streams per mervox_decode_many call: enough to fill the widest vector
// lanes several times over, few enough that the decoders' states (about
// 4.5 KB each) stay in the processor's second-level cache from one call
// to the next.
constexpr size_t kLanes = 64;

}  // namespace

StreamWorkers::Worker::Worker(const std::string& prefix, const Console& console)
    : files(prefix, console), frames(kLanes)
{}

StreamWorkers::StreamWorkers(unsigned workers, const std::string& prefix, const Console& console)
{
    for (unsigned i = 0; i < std::max(1u, workers); ++i)
        workers_.push_back(std::make_unique<Worker>(prefix, console));
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
    if (!threaded_) {
        Process(w, w.filling);
        w.filling.items.clear();
        w.filling.started.clear();
        return;
    }
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
        Process(w, batch);
    }
}

void StreamWorkers::Process(Worker& w, const Batch& batch)
{
    if (w.outOfMemory)
        return;  // drained, so that the reader never waits for this worker
    try {
        Decode(w, batch);
    } catch (const std::bad_alloc&) {
        // Its open files are abandoned when the worker's files go.
        w.outOfMemory = true;
        w.decoders.clear();
    }
}

// A stream's start, slots and end come in that order, and streams share
// nothing: the batch's streams start, then its slots are decoded (each
// stream's in order), then its streams end.
void StreamWorkers::Decode(Worker& w, const Batch& batch)
{
    static const capture::RtpStream kNoStats;
    size_t started = 0;
    for (const Item& item : batch.items) {
        if (item.kind != Kind::kStart)
            continue;
        w.files.StreamStarted(item.id, batch.started[started++]);
        // As after INITdec(1): 6.3 kbit/s until a frame says otherwise.
        tools::Result<tools::FrameDecoder> decoder = tools::FrameDecoder::Create(MERVOX_RATE_SELECT_6300);
        if (!decoder.ok())
            throw std::bad_alloc();
        w.decoders.emplace(item.id, std::move(decoder.value()));
    }
    DecodeSlots(w, batch);
    for (const Item& item : batch.items) {
        if (item.kind != Kind::kEnd)
            continue;
        w.files.StreamEnded(item.id, kNoStats);
        w.decoders.erase(item.id);
    }
}

// Each call decodes the next slot of each of up to kLanes streams; a stream
// keeps its place in the calls until its slots are done (or its file
// failed), and the next stream takes the place it leaves.
void StreamWorkers::DecodeSlots(Worker& w, const Batch& batch)
{
    const std::vector<Item>& items = batch.items;
    w.lanes.clear();
    w.laneOf.clear();
    w.nextItem.assign(items.size(), kNoItem);
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].kind != Kind::kSlots || items[i].count == 0)
            continue;
        const auto [at, added] = w.laneOf.emplace(items[i].id, w.lanes.size());
        if (added) {
            w.lanes.push_back(Lane{&w.files.Find(items[i].id), &w.decoders.at(items[i].id), i, i, 0});
        } else {
            Lane& lane = w.lanes[at->second];
            w.nextItem[lane.last] = i;
            lane.last = i;
        }
    }

    size_t waiting = 0;  // the first lane not yet in a call
    w.group.clear();
    for (;;) {
        for (; w.group.size() < kLanes && waiting < w.lanes.size(); ++waiting)
            if (w.lanes[waiting].file->writing())
                w.group.push_back(waiting);
        if (w.group.empty())
            return;
        for (const size_t l : w.group) {
            const Lane& lane = w.lanes[l];
            const Item& item = items[lane.item];
            if (item.size)
                w.frames.Add(*lane.decoder, item.bytes, item.size);
            else
                w.frames.AddMissing(*lane.decoder);
        }
        w.frames.Decode();
        for (size_t k = 0; k < w.group.size(); ++k) {
            Lane& lane = w.lanes[w.group[k]];
            w.files.Samples(*lane.file, w.frames.pcm(k), MERVOX_FRAME_SAMPLES);
            if (++lane.done == items[lane.item].count) {
                lane.item = w.nextItem[lane.item];
                lane.done = 0;
            }
        }
        w.frames.Clear();
        w.group.erase(
            std::remove_if(w.group.begin(), w.group.end(),
                           [&](size_t l) { return w.lanes[l].item == kNoItem || !w.lanes[l].file->writing(); }),
            w.group.end());
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

const StreamFiles::File& StreamWorkers::file(size_t id) { return WorkerOf(id).files.file(id); }

int StreamWorkers::status() const
{
    int worst = 0;
    for (const std::unique_ptr<Worker>& w : workers_)
        worst = std::max(worst, w->outOfMemory ? static_cast<int>(kExitOutOfMemory) : w->files.status());
    return worst;
}

}  // namespace mervox::cli
