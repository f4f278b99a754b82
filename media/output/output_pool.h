// Many outputs written at once (one per stream of a capture) within fixed
// bounds on open descriptors and on memory, however many there are:
//  - an output's samples wait in memory until it has more than
//    `heldBytesEach` bytes of them, or ends: only then is it opened, so a
//    stream that ends small costs no descriptor while it lasts, and its file
//    is written, completed and closed at once;
//  - at most `openFiles` outputs are open at once: opening another parks
//    the one written least recently (its descriptor closed and its buffer
//    freed, what it wrote kept), which gathers its samples in memory again
//    and is reopened to append when it has enough;
//  - the samples held in memory total at most `heldBytes`: beyond that, the
//    output being written goes to its file at once.
// A system that refuses to open one more file (EMFILE, ENFILE) makes the
// pool park an open output and try again. Each output is its samples, in
// order, in the file OpenPcmOutput makes of its path (complete or absent).
// One thread at a time.
//
//   OutputPool pool(limits);
//   pool.Add(7, "call-0x11223344.wav");
//   Status s = pool.Write(7, pcm, 240); ... s = pool.Finish(7);
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "output/pcm_sink.h"

namespace mervox::media::output {

// The pool's default limits: at most this many outputs open at once (16 MB
// of file buffers at 64 KB each), ...
constexpr size_t kDefaultOpenFiles = 256;
// ... each output's samples held in memory up to about a second of them ...
constexpr size_t kDefaultHeldBytesEach = 16 * 1024;
// ... and all outputs' samples held in memory at most this many bytes.
constexpr size_t kDefaultHeldBytes = 16 * 1024 * 1024;

class OutputPool {
public:
    struct Limits {
        size_t openFiles = kDefaultOpenFiles;
        size_t heldBytesEach = kDefaultHeldBytesEach;
        size_t heldBytes = kDefaultHeldBytes;
    };
    // Opens the output at a path (by default OpenPcmOutput(path, kWav)).
    using Opener = std::function<base::Result<std::unique_ptr<PcmSink>>(const std::string& path)>;

    explicit OutputPool(Limits limits, Opener opener = nullptr);
    ~OutputPool();  // abandons the outputs not finished
    OutputPool(const OutputPool&) = delete;
    OutputPool& operator=(const OutputPool&) = delete;

    // A new output, `key` not in use; opened when it needs to be.
    void Add(size_t key, std::string path);
    // Appends samples. A failure (of this output, or found when it was
    // parked for another) abandons the output and forgets it: nothing of it
    // is left, and the key may be added again.
    base::Status Write(size_t key, const int16_t* samples, size_t count);
    // Writes what is held, completes the output and forgets it.
    base::Status Finish(size_t key);
    // Forgets the output, leaving nothing of it.
    void Abandon(size_t key);

    const Limits& limits() const { return limits_; }
    size_t outputs() const { return outputs_.size(); }
    size_t openFiles() const { return lru_.size(); }  // outputs that can be parked (files), open now
    size_t heldBytes() const { return held_ * sizeof(int16_t); }

private:
    struct Output {
        std::string path;
        std::vector<int16_t> held;  // samples not yet given to the sink
        std::unique_ptr<PcmSink> sink;
        base::Status failure;             // found while parking it for another
        bool inLru = false;               // open, and can be parked
        std::list<size_t>::iterator lru;  // its place among the open outputs
    };

    Output* Find(size_t key);
    // Gives `o` its open sink, with room made for it.
    base::Status Open(size_t key, Output& o);
    // Opens `o` and hands its held samples to its sink.
    base::Status Spill(size_t key, Output& o);
    // Parks the output written least recently; false when none is open.
    bool ParkOne();
    void Forget(size_t key, Output& o);

    Limits limits_;
    Opener opener_;
    std::unordered_map<size_t, Output> outputs_;
    std::list<size_t> lru_;  // open outputs that can be parked, least recently written first
    size_t held_ = 0;        // samples held, in all
};

}  // namespace mervox::media::output
