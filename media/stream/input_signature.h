// What the first bytes of an input look like, when they are another
// format's: a stream file has no header, so any bytes split into frames,
// and a capture, a WAV file or a text given by mistake would decode to
// minutes or hours of noise. The readers refuse such an input unless the
// user insists (`mervox decode --force`, `force=True` in Python).
//
//   if (auto kind = RecognizeInput(first, n)) refuse(OtherFormatMessage(name, *kind, "--force"));
//
// Every signature is one that a G.723.1 stream starts with only by rare
// chance: a magic number of 3 or more bytes, an MPEG audio frame header
// followed by the next one where it says, or 512 bytes of text (a frame's
// bytes are spread over all 256 values, so a stream is not text).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace mervox::media::stream {

enum class InputKind {
    kPcap,      // classic pcap, either byte order, micro- or nanosecond times
    kPcapng,    // pcapng
    kWav,       // RIFF ... WAVE
    kRiff,      // another RIFF file (AVI, ...)
    kOgg,       // OggS
    kFlac,      // fLaC
    kMp3,       // an ID3 tag, or two MPEG audio frame headers
    kSunAudio,  // .snd (Sun/NeXT .au)
    kGzip,      // gzip (deflate)
    kZip,       // zip archive (a local file header)
    kText,      // printable ASCII or UTF-8, with tabs and line ends
};

// The bytes RecognizeInput needs: an input at least this long is judged by
// its first kSignatureBytes bytes alone (an MPEG audio frame, of at most
// 1729 bytes, and the next frame's header fit in them).
constexpr size_t kSignatureBytes = 2048;
// The text rule's window: the first kTextBytes bytes (or all of a shorter
// input) are all text.
constexpr size_t kTextBytes = 512;

// What an input that starts with `data` looks like, or nothing for a
// possible stream. `size` is the bytes at hand: at least kSignatureBytes,
// or the whole input when it is shorter (then a format's structure must be
// complete in it: a text may not end inside a UTF-8 sequence, an MPEG frame
// must be whole).
std::optional<InputKind> RecognizeInput(const uint8_t* data, size_t size);

// "a pcapng capture", "a WAV file", ..., "text".
const char* InputKindName(InputKind kind);
// What to do instead: "decode its calls with `mervox pcap` or
// mervox.read_capture()", "a WAV file is already audio", ...
const char* InputKindHint(InputKind kind);

// "NAME: looks like KIND, not a G.723.1 stream: HINT; FORCE decodes it
// anyway", `force` being how the caller's user insists ("--force").
std::string OtherFormatMessage(const std::string& name, InputKind kind, const std::string& force);

}  // namespace mervox::media::stream
