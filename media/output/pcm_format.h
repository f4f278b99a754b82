// The two output formats of decoded speech (16-bit mono PCM at 8 kHz) and
// their byte layout: raw little-endian samples, or the same behind a
// 44-byte WAV header. Samples are packed byte by byte, so the output is
// little-endian on every host.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace mervox::media::output {

// kWavStereo: two channels, their samples interleaved (left first), as a
// call's recording has them.
enum class PcmFormat { kWav, kRaw, kWavStereo };

constexpr bool IsWav(PcmFormat format) { return format != PcmFormat::kRaw; }
constexpr int Channels(PcmFormat format) { return format == PcmFormat::kWavStereo ? 2 : 1; }

// By the output path's extension (case-insensitive): .wav -> WAV,
// .raw / .pcm -> raw; "-" (stdout) and descriptor paths (/dev/stdout,
// /dev/fd/N, ...) give WAV; anything else nullopt.
std::optional<PcmFormat> PcmFormatFromPath(const std::string& path);

// "wav" or "raw" (any case) -> format; anything else nullopt.
std::optional<PcmFormat> PcmFormatFromName(const std::string& name);

// The most samples (of all channels) an output can hold: a WAV file's sizes are 32-bit (its
// RIFF size counts the data and 36 header bytes), about 74 hours; raw
// output has no limit of its own.
uint64_t MaxSamples(PcmFormat format);

constexpr size_t kWavHeaderBytes = 44;
// The sizes a WAV header carries when the length is not known in advance
// and cannot be filled in later (a pipe): the largest values, which
// readers take as "until the end of the data".
constexpr uint32_t kWavUnknownSize = 0xffffffffu;

// A canonical header for 16-bit PCM at `sampleRate` (mono unless
// `channels` says otherwise); `dataBytes` = nullopt gives the
// unknown-length header.
std::array<uint8_t, kWavHeaderBytes> WavHeader(int sampleRate, std::optional<uint64_t> dataBytes, int channels = 1);

// Appends `count` samples to `out` as little-endian 16-bit values.
void PackLittleEndian(const int16_t* samples, size_t count, uint8_t* out);

}  // namespace mervox::media::output
