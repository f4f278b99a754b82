// Bodies of the fuzz targets. Each takes one fuzzer input, drives a part of
// mervox with it, checks what must hold whatever the input, and aborts with a
// message on a violation. The libFuzzer entry (entry.cpp) and the safety
// regression tests (tests/safety) both call them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mervox::fuzz {

// The exported DecSoundFrame/INITdec pair, mirrored on a private decoder.
int RunLegacyExports(const uint8_t* data, size_t size);

}  // namespace mervox::fuzz
