// Helpers shared by the test programs: test data, stream files, digests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mervox::test {

// Absolute path of a file under tests/data.
std::string DataPath(const std::string& relative);

// Whole file as bytes; the test fails (and the result is empty) if it
// cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::string& path);

// One frame of a stream file: its offset and length, and whether a host
// passes it to the decoder (types 0 and 1) or conceals it (types 2 and 3).
struct StreamFrame {
    size_t offset;
    size_t length;
    bool speech;
};

// Splits a stream file into frames by the type bits of each first byte.
// A truncated last frame is left out.
std::vector<StreamFrame> SplitStream(const std::vector<uint8_t>& stream);

// Decodes a stream through the exported functions exactly as a host does:
// INITdec(init), one DecSoundFrame per frame, types 2/3 and frames whose mask
// byte is nonzero passed as lost frames.
std::vector<int16_t> DecodeWithLegacyApi(const std::vector<uint8_t>& stream, const std::vector<uint8_t>& lossMask = {},
                                         int32_t init = 1);

// FNV-1a 64 of the samples as little-endian bytes.
uint64_t Fnv1a64(const std::vector<int16_t>& samples);

}  // namespace mervox::test
