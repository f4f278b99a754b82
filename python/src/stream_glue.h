// The module's side of the command's stream code (tools/mervox: reading,
// splitting, loss simulation, the decode-or-conceal loop): the same reader,
// splitter and loss plan, with the command's messages. Free of Python, so
// the decoding runs with the interpreter lock released.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "errors.h"
#include "stream_reader.h"

namespace mervox::python {

// A whole file, read as `mervox decode` reads it (InputError on failure).
// Unlike the command, "-" is a file of that name, never standard input.
std::vector<uint8_t> ReadWholeFile(const std::string& path);

// The stream's whole frames; StreamError when it holds none (empty, or
// only a cut frame), a warning when it ends inside a frame. `decoding`
// picks the command's wording: decode's or info's.
cli::StreamSplit SplitStreamChecked(const uint8_t* data, size_t size, const std::string& name, bool decoding,
                                    Warnings& warnings);

// Per frame, nonzero = decode as lost: mask entries (a warning when their
// count differs from the frames'), then random drops. `dropRate` must be in
// [0, 1].
std::vector<uint8_t> LossPlan(size_t frames, const std::vector<uint8_t>& mask, const std::string& maskName,
                              double dropRate, uint64_t seed, Warnings& warnings);

// Decodes every frame into pcm[240 * frames]: speech frames not marked
// lost are decoded, everything else concealed, as `mervox decode` does.
void DecodeSplit(const uint8_t* data, const cli::StreamSplit& split, const std::vector<uint8_t>& lost,
                 int16_t* pcm);

// One frame as `mervox info` counts it.
struct FrameRecord {
    uint64_t offset;
    uint8_t type;    // MERVOX_FRAME_6300, _5300, _SID or _UNTRANSMITTED
    uint16_t rate;   // 6300, 5300, or 0 for frames without speech
    uint8_t size;    // bytes
    bool faulty;     // speech frame with impossible codes (concealed)
};

std::vector<FrameRecord> DescribeFrames(const uint8_t* data, const cli::StreamSplit& split);

}  // namespace mervox::python
