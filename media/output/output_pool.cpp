#include "output/output_pool.h"

#include <algorithm>
#include <cerrno>

#include "output/pcm_output.h"

namespace mervox::media::output {

OutputPool::OutputPool(Limits limits, Opener opener) : limits_(limits), opener_(std::move(opener))
{
    limits_.openFiles = std::max<size_t>(limits_.openFiles, 1);
    if (!opener_)
        opener_ = [](const std::string& path) { return OpenPcmOutput(path, PcmFormat::kWav); };
}

OutputPool::~OutputPool() = default;  // a sink not finished abandons itself

void OutputPool::Add(size_t key, std::string path)
{
    Output& o = outputs_[key];
    o = Output();
    o.path = std::move(path);
}

OutputPool::Output* OutputPool::Find(size_t key)
{
    const auto found = outputs_.find(key);
    return found == outputs_.end() ? nullptr : &found->second;
}

base::Status OutputPool::Write(size_t key, const int16_t* samples, size_t count)
{
    Output* o = Find(key);
    if (!o)
        return base::Status::Failure(base::kExitOutputError, "no output " + std::to_string(key));
    if (!o->failure.ok()) {
        const base::Status failure = o->failure;
        Forget(key, *o);
        return failure;
    }
    if (o->sink && !o->sink->parked()) {
        const base::Status s = o->sink->Write(samples, count);
        if (!s.ok()) {
            Forget(key, *o);
            return s;
        }
        if (o->inLru)
            lru_.splice(lru_.end(), lru_, o->lru);
        return s;
    }
    o->held.insert(o->held.end(), samples, samples + count);
    held_ += count;
    if (o->held.size() * sizeof(int16_t) > limits_.heldBytesEach || heldBytes() > limits_.heldBytes) {
        const base::Status s = Spill(key, *o);
        if (!s.ok()) {
            Forget(key, *o);
            return s;
        }
    }
    return base::Status::Ok();
}

base::Status OutputPool::Finish(size_t key)
{
    Output* o = Find(key);
    if (!o)
        return base::Status::Failure(base::kExitOutputError, "no output " + std::to_string(key));
    base::Status s = o->failure;
    if (s.ok())
        s = Spill(key, *o);
    if (s.ok()) {
        // Complete and closed: it leaves the open ones.
        if (o->inLru)
            lru_.erase(o->lru);
        o->inLru = false;
        s = o->sink->Finish();
    }
    Forget(key, *o);
    return s;
}

void OutputPool::Abandon(size_t key)
{
    if (Output* o = Find(key))
        Forget(key, *o);
}

base::Status OutputPool::Open(size_t key, Output& o)
{
    if (o.sink && !o.sink->parked())
        return base::Status::Ok();
    while (lru_.size() >= limits_.openFiles && ParkOne()) {
    }
    for (;;) {
        base::Status s;
        if (!o.sink) {
            base::Result<std::unique_ptr<PcmSink>> opened = opener_(o.path);
            if (opened.ok())
                o.sink = std::move(opened.value());
            else
                s = opened.status();
        } else {
            s = o.sink->Resume();
        }
        if (s.ok())
            break;
        // Descriptors used elsewhere, or a lower limit than the pool's: one
        // of the pool's own makes room.
        const int error = s.systemError();
        if ((error == EMFILE || error == ENFILE) && ParkOne())
            continue;
        return s;
    }
    if (o.sink->CanPark()) {
        o.lru = lru_.insert(lru_.end(), key);
        o.inLru = true;
    }
    return base::Status::Ok();
}

base::Status OutputPool::Spill(size_t key, Output& o)
{
    base::Status s = Open(key, o);
    if (!s.ok() || o.held.empty())
        return s;
    s = o.sink->Write(o.held.data(), o.held.size());
    held_ -= o.held.size();
    std::vector<int16_t>().swap(o.held);
    return s;
}

bool OutputPool::ParkOne()
{
    if (lru_.empty())
        return false;
    Output& o = outputs_.at(lru_.front());
    lru_.pop_front();
    o.inLru = false;
    const base::Status s = o.sink->Park();
    if (!s.ok()) {
        // This output has failed (its sink abandoned): its next call says so.
        o.failure = s;
        o.sink.reset();
    }
    return true;
}

void OutputPool::Forget(size_t key, Output& o)
{
    if (o.inLru)
        lru_.erase(o.lru);
    held_ -= o.held.size();
    outputs_.erase(key);
}

}  // namespace mervox::media::output
