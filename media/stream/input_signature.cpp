#include "stream/input_signature.h"

#include <algorithm>
#include <cstring>

namespace mervox::media::stream {
namespace {

bool StartsWith(const uint8_t* data, size_t size, const char* magic, size_t length)
{
    return size >= length && std::memcmp(data, magic, length) == 0;
}

// An ID3v2 tag's header: "ID3", a major version of 2 to 4, a revision, flags
// and a size in four 7-bit bytes.
bool IsId3Tag(const uint8_t* d, size_t size)
{
    return size >= 10 && StartsWith(d, size, "ID3", 3) && d[3] >= 2 && d[3] <= 4 && d[4] != 0xff &&
           ((d[6] | d[7] | d[8] | d[9]) & 0x80) == 0;
}

// The length of the MPEG audio frame whose 4-byte header is `h` (sync,
// version, layer, bit rate, sample rate, padding), or 0 when `h` is no
// valid header. Free-format frames (bit rate index 0) are not taken.
size_t MpegFrameLength(const uint8_t* h)
{
    if (h[0] != 0xff || (h[1] & 0xe0) != 0xe0)
        return 0;
    const int version = (h[1] >> 3) & 3;  // 0 MPEG-2.5, 1 reserved, 2 MPEG-2, 3 MPEG-1
    const int layer = (h[1] >> 1) & 3;    // 0 reserved, 1 III, 2 II, 3 I
    const int bitrateIndex = h[2] >> 4;
    const int rateIndex = (h[2] >> 2) & 3;
    const int padding = (h[2] >> 1) & 1;
    if (version == 1 || layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3 || (h[3] & 3) == 2)
        return 0;
    if (version == 0 && layer != 1)
        return 0;  // MPEG-2.5 has layer III alone
    // kbit/s by bit rate index: MPEG-1 layers I, II, III; MPEG-2 and 2.5 layer I, layers II and III.
    static const int kBitrates[5][14] = {
        {32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
        {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
        {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
        {32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
        {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
    };
    static const int kSampleRates[3] = {44100, 48000, 32000};  // MPEG-1; halved for MPEG-2, quartered for 2.5
    const bool mpeg1 = version == 3;
    const int table = mpeg1 ? 3 - layer : (layer == 3 ? 3 : 4);
    const long bitrate = kBitrates[table][bitrateIndex - 1] * 1000L;
    const long sampleRate = kSampleRates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    if (layer == 3)
        return static_cast<size_t>((12 * bitrate / sampleRate + padding) * 4);
    const long perFrame = layer == 1 && !mpeg1 ? 72 : 144;  // samples per frame / 8
    return static_cast<size_t>(perFrame * bitrate / sampleRate + padding);
}

// MPEG audio without a tag: a valid frame header, and the next frame's
// header right after the frame (same version, layer and sample rate), or
// the input ending with the frame.
bool IsMpegAudio(const uint8_t* d, size_t size)
{
    if (size < 4)
        return false;
    const size_t length = MpegFrameLength(d);
    if (length == 0 || length > size)
        return false;
    if (length == size)
        return true;
    if (length + 4 > size)
        return false;
    const uint8_t* next = d + length;
    return MpegFrameLength(next) != 0 && (next[1] & 0xfe) == (d[1] & 0xfe) && (next[2] & 0x0c) == (d[2] & 0x0c);
}

// The length of the UTF-8 sequence of a printable character at d[0] (of
// `size` bytes at hand), or 0: ASCII from space to '~' and tab, CR and LF;
// above ASCII, well-formed sequences (no overlong forms, surrogates or code
// points past U+10FFFF) other than the C1 controls.
size_t TextCharacterLength(const uint8_t* d, size_t size)
{
    const uint8_t b = d[0];
    if (b < 0x80)
        return (b >= 0x20 && b < 0x7f) || b == '\t' || b == '\n' || b == '\r' ? 1 : 0;
    size_t length = 0;
    uint8_t low = 0x80, high = 0xbf;  // the second byte's range
    if (b >= 0xc2 && b <= 0xdf) {
        length = 2;
        if (b == 0xc2)
            low = 0xa0;  // U+0080 to U+009F are controls
    } else if (b >= 0xe0 && b <= 0xef) {
        length = 3;
        if (b == 0xe0)
            low = 0xa0;
        if (b == 0xed)
            high = 0x9f;
    } else if (b >= 0xf0 && b <= 0xf4) {
        length = 4;
        if (b == 0xf0)
            low = 0x90;
        if (b == 0xf4)
            high = 0x8f;
    } else {
        return 0;
    }
    if (length > size || d[1] < low || d[1] > high)
        return 0;
    for (size_t k = 2; k < length; ++k)
        if ((d[k] & 0xc0) != 0x80)
            return 0;
    return length;
}

// Every character that starts in the first kTextBytes bytes is printable
// text (a character cut by the window is judged whole; one cut by the end
// of the input is not text).
bool IsText(const uint8_t* d, size_t size)
{
    const size_t window = std::min(size, kTextBytes);
    for (size_t at = 0; at < window;) {
        const size_t length = TextCharacterLength(d + at, size - at);
        if (length == 0)
            return false;
        at += length;
    }
    return window > 0;
}

}  // namespace

std::optional<InputKind> RecognizeInput(const uint8_t* data, size_t size)
{
    size = std::min(size, kSignatureBytes);
    static const struct {
        const char* magic;
        size_t length;
        InputKind kind;
    } kMagics[] = {
        {"\xa1\xb2\xc3\xd4", 4, InputKind::kPcap},
        {"\xd4\xc3\xb2\xa1", 4, InputKind::kPcap},
        {"\xa1\xb2\x3c\x4d", 4, InputKind::kPcap},
        {"\x4d\x3c\xb2\xa1", 4, InputKind::kPcap},
        {"\x0a\x0d\x0d\x0a", 4, InputKind::kPcapng},
        {"OggS", 4, InputKind::kOgg},
        {"fLaC", 4, InputKind::kFlac},
        {".snd", 4, InputKind::kSunAudio},
        {"\x1f\x8b\x08", 3, InputKind::kGzip},
        {"PK\x03\x04", 4, InputKind::kZip},
    };
    for (const auto& m : kMagics)
        if (StartsWith(data, size, m.magic, m.length))
            return m.kind;
    if (StartsWith(data, size, "RIFF", 4))
        return size >= 12 && std::memcmp(data + 8, "WAVE", 4) == 0 ? InputKind::kWav : InputKind::kRiff;
    if (IsId3Tag(data, size) || IsMpegAudio(data, size))
        return InputKind::kMp3;
    if (IsText(data, size))
        return InputKind::kText;
    return std::nullopt;
}

const char* InputKindName(InputKind kind)
{
    switch (kind) {
    case InputKind::kPcap:
        return "a pcap capture";
    case InputKind::kPcapng:
        return "a pcapng capture";
    case InputKind::kWav:
        return "a WAV file";
    case InputKind::kRiff:
        return "a RIFF file";
    case InputKind::kOgg:
        return "an Ogg file";
    case InputKind::kFlac:
        return "a FLAC file";
    case InputKind::kMp3:
        return "an MP3 file";
    case InputKind::kSunAudio:
        return "a Sun audio (.au) file";
    case InputKind::kGzip:
        return "gzip-compressed data";
    case InputKind::kZip:
        return "a zip archive";
    case InputKind::kText:
        return "text";
    }
    return "another format";
}

const char* InputKindHint(InputKind kind)
{
    switch (kind) {
    case InputKind::kPcap:
    case InputKind::kPcapng:
        return "decode its calls with `mervox pcap` or mervox.read_capture()";
    case InputKind::kWav:
        return "a WAV file is already audio";
    case InputKind::kRiff:
        return "take the G.723.1 frames out of the container first";
    case InputKind::kOgg:
        return "an Ogg file is already audio (Vorbis, Opus, ...)";
    case InputKind::kFlac:
        return "a FLAC file is already audio";
    case InputKind::kMp3:
        return "an MP3 file is already audio";
    case InputKind::kSunAudio:
        return "an .au file is already audio";
    case InputKind::kGzip:
        return "decompress it first (zcat FILE | mervox decode - -o OUT)";
    case InputKind::kZip:
        return "extract it first (unzip)";
    case InputKind::kText:
        return "a stream holds binary frames; turn a hex dump back into bytes first (xxd -r -p)";
    }
    return "";
}

std::string OtherFormatMessage(const std::string& name, InputKind kind, const std::string& force)
{
    return name + ": looks like " + InputKindName(kind) + ", not a G.723.1 stream: " + InputKindHint(kind) + "; " +
           force + " decodes it anyway";
}

}  // namespace mervox::media::stream
