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

// Decoder objects of the C API (include/mervox.h), several side by side.
int RunDecoderApi(const uint8_t* data, size_t size);

// The application library's streaming stream-file splitter (media/stream/frame_splitter.h),
// in blocks of every size.
int RunStreamReader(const uint8_t* data, size_t size);

// The capture reader of `mervox pcap` (media/capture/capture.h).
int RunCaptureReader(const uint8_t* data, size_t size);

// The SIP/SDP reader of the capture reader (media/signalling/sip_reader.h):
// datagrams and TCP segments of SIP between two hosts.
int RunSipReader(const uint8_t* data, size_t size);

}  // namespace mervox::fuzz
