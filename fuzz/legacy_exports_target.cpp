// Input: frames back to back, each 20 or 24 bytes by bit 0 of its first byte
// (a corpus stream file is a valid input; types 2 and 3 reach the decoder as
// the faulty frames they are for it). Actions are taken from the END of the
// input, one byte per frame while they last: low nibble 1 = pass a lost
// frame instead, 2 = call INITdec (selector from the high nibble) before the
// frame; anything else, or no byte left, decodes the frame.
//
// Every call goes to the exported functions and, identically, to a private
// mervox::Channel. Both must return the same count and write the same 240
// samples (their output buffers start with different fill patterns, so an
// unwritten sample shows), and the private decoder's histories must stay
// finite after every frame.
//
// For one input in four (by its size), real speech follows without INITdec:
// whatever the input left behind, the last 20 of 150 speech frames must come
// out exactly as from a new stream. (Measured: after the worst finite state,
// an excitation near the float limit, 49 frames; after random frames, at
// most 24.)
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "check.h"
#include "interface/channel.h"
#include "mervox.h"
#include "state_checks.h"
#include "targets.h"

namespace mervox::fuzz {
namespace {

void DecodeBoth(Channel& mirror, const uint8_t* frame)
{
    int16_t exported[kFrameLength];
    int16_t mirrored[kFrameLength];
    std::memset(exported, 0x55, sizeof exported);
    std::memset(mirrored, 0xaa, sizeof mirrored);
    const int16_t a = DecSoundFrame(frame, exported);
    const int16_t b = DecodeChannelFrame(mirror, frame, mirrored);
    Require(a == b, "DecSoundFrame and the channel return different counts");
    Require(a == (frame ? RateFrameBytes(frame[0]) / 2 : 1), "wrong count returned");
    Require(std::memcmp(exported, mirrored, sizeof exported) == 0, "outputs differ or are not fully written");
    Require(StateIsFinite(mirror.state), "decoder history holds inf or NaN after a frame");
}

constexpr size_t kSpeechFrames = 150;
constexpr size_t kComparedFrames = 20;
constexpr size_t kSpeechFrameBytes = 20;

// 150 frames of the 5.3 kbit/s corpus stream from frame 100 on, and a new
// decoder's output for them; read once.
const std::vector<uint8_t>& RecoverySpeech()
{
    static const std::vector<uint8_t> speech = [] {
        std::ifstream in(MERVOX_RECOVERY_STREAM, std::ios::binary);
        std::vector<uint8_t> all{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        const size_t first = 100 * kSpeechFrameBytes;
        Require(all.size() >= first + kSpeechFrames * kSpeechFrameBytes, "cannot read " MERVOX_RECOVERY_STREAM);
        return std::vector<uint8_t>(all.begin() + first, all.begin() + first + kSpeechFrames * kSpeechFrameBytes);
    }();
    return speech;
}

const std::vector<int16_t>& FreshSpeechOutput()
{
    static const std::vector<int16_t> pcm = [] {
        std::vector<int16_t> out(kSpeechFrames * kFrameLength);
        Channel fresh;
        ResetChannel(fresh, 1);
        for (size_t k = 0; k < kSpeechFrames; ++k)
            DecodeChannelFrame(fresh, RecoverySpeech().data() + k * kSpeechFrameBytes, out.data() + k * kFrameLength);
        return out;
    }();
    return pcm;
}

void CheckRecovery()
{
    int16_t out[kFrameLength];
    const std::vector<uint8_t>& speech = RecoverySpeech();
    const std::vector<int16_t>& fresh = FreshSpeechOutput();
    for (size_t k = 0; k < kSpeechFrames; ++k) {
        DecSoundFrame(speech.data() + k * kSpeechFrameBytes, out);
        if (k >= kSpeechFrames - kComparedFrames)
            Require(std::memcmp(out, fresh.data() + k * kFrameLength, sizeof out) == 0,
                    "speech after the input does not recover to a new stream's output");
    }
}

}  // namespace

int RunLegacyExports(const uint8_t* data, size_t size)
{
    // Every input starts a new stream, so that it decodes the same however
    // many inputs the process has seen before.
    Channel mirror;
    INITdec(1);
    ResetChannel(mirror, 1);

    size_t front = 0;
    size_t back = size;

    while (front < back) {
        const uint8_t action = (back - front > 1) ? data[--back] : 0;
        if ((action & 0x0f) == 1) {
            DecodeBoth(mirror, nullptr);
            continue;
        }
        if ((action & 0x0f) == 2) {
            const int32_t s = action >> 4;
            Require(INITdec(s) == 0, "INITdec returns nonzero");
            ResetChannel(mirror, s);
        }
        // Exactly the bytes the frame announces, on the heap so that ASan
        // sees any read beyond them; a frame cut short by the end of the
        // input is completed with zeros.
        const size_t length = RateFrameBytes(data[front]);
        const size_t available = back - front < length ? back - front : length;
        std::vector<uint8_t> frame(length);
        std::memcpy(frame.data(), data + front, available);
        front += available;
        DecodeBoth(mirror, frame.data());
    }
    if (size % 4 == 0)
        CheckRecovery();
    return 0;
}

}  // namespace mervox::fuzz
