// Inputs that start like another format: what RecognizeInput names, what
// it must leave alone (every corpus stream from any of its frames on), and
// the stream reader's refusal.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cli_test_support.h"
#include "mervox.h"
#include "stream/input_signature.h"
#include "stream/stream_reader.h"
#include "test_support.h"

namespace mervox::media::stream {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Of(const std::string& text) { return Bytes(text.begin(), text.end()); }
// A literal's bytes, NULs included.
template <size_t N>
Bytes Of(const char (&text)[N])
{
    return Bytes(text, text + N - 1);
}

// `head` followed by `filler` up to `size` bytes.
Bytes Padded(Bytes head, size_t size, uint8_t filler = 0x00)
{
    head.resize(std::max(size, head.size()), filler);
    return head;
}

std::optional<InputKind> Recognize(const Bytes& b) { return RecognizeInput(b.data(), b.size()); }

// Two MPEG-1 layer III frames, 128 kbit/s at 44.1 kHz: 417 bytes each.
Bytes TwoMp3Frames()
{
    const Bytes header = {0xff, 0xfb, 0x90, 0x64};
    Bytes b = Padded(header, 417, 0x55);
    b.insert(b.end(), header.begin(), header.end());
    return Padded(b, 900, 0x55);
}

TEST(StreamInputSignature, NamesEachFormatByItsFirstBytes)
{
    const struct {
        const char* what;
        Bytes bytes;
        InputKind kind;
    } cases[] = {
        {"pcap, big-endian, microseconds", Padded({0xa1, 0xb2, 0xc3, 0xd4, 0, 2, 0, 4}, 24), InputKind::kPcap},
        {"pcap, little-endian, microseconds", Padded({0xd4, 0xc3, 0xb2, 0xa1, 2, 0, 4, 0}, 24), InputKind::kPcap},
        {"pcap, big-endian, nanoseconds", Padded({0xa1, 0xb2, 0x3c, 0x4d, 0, 2, 0, 4}, 24), InputKind::kPcap},
        {"pcap, little-endian, nanoseconds", Padded({0x4d, 0x3c, 0xb2, 0xa1, 2, 0, 4, 0}, 24), InputKind::kPcap},
        {"pcapng", test::ReadFileBytes(test::DataPath("corpus/call-a.pcapng")), InputKind::kPcapng},
        {"WAV", Padded(Of("RIFF\x24\x00\x00\x00WAVEfmt "), 44), InputKind::kWav},
        {"AVI",
         Padded(Of("RIFF\x24\x00\x00\x00"
                   "AVI LIST"),
                44),
         InputKind::kRiff},
        {"Ogg", Padded(Of("OggS"), 200, 0x80), InputKind::kOgg},
        {"FLAC", Padded(Of("fLaC"), 200, 0x80), InputKind::kFlac},
        {"ID3 tag", Padded({'I', 'D', '3', 4, 0, 0, 0, 0, 0x02, 0x01}, 600, 0x80), InputKind::kMp3},
        {"MPEG audio frames", TwoMp3Frames(), InputKind::kMp3},
        {"Sun audio", Padded(Of(".snd"), 200, 0x80), InputKind::kSunAudio},
        {"gzip", Padded({0x1f, 0x8b, 0x08, 0x00}, 200, 0x80), InputKind::kGzip},
        {"zip", Padded(Of("PK\x03\x04"), 200, 0x80), InputKind::kZip},
        {"ASCII text", Of("frame,type\n0,6300\r\n\t1,5300\n"), InputKind::kText},
        {"UTF-8 text",
         Of("Gr\xc3\xbc\xc3\x9f"
            "e \xe2\x82\xac \xf0\x9f\x93\x9e\n"),
         InputKind::kText},
        {"a hex dump", Of(std::string(4000, 'f')), InputKind::kText},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<InputKind> kind = Recognize(c.bytes);
        ASSERT_TRUE(kind.has_value());
        EXPECT_EQ(*kind, c.kind) << InputKindName(*kind);
    }
    EXPECT_EQ(OtherFormatMessage("call.pcapng", InputKind::kPcapng, "--force"),
              "call.pcapng: looks like a pcapng capture, not a G.723.1 stream: decode its calls with `mervox pcap` "
              "or mervox.read_capture(); --force decodes it anyway");
    EXPECT_EQ(OtherFormatMessage("call.wav", InputKind::kWav, "force=True"),
              "call.wav: looks like a WAV file, not a G.723.1 stream: a WAV file is already audio; force=True "
              "decodes it anyway");
}

TEST(StreamInputSignature, NearMissesAreLeftToBeDecoded)
{
    // Text: 512 bytes, every one of them; what follows does not count.
    Bytes text = Of(std::string(kTextBytes, 'a'));
    text[kTextBytes - 1] = 0x01;
    EXPECT_FALSE(Recognize(text)) << "a control byte at 511";
    text[kTextBytes - 1] = 'a';
    EXPECT_EQ(Recognize(Padded(text, 3000, 0xff)), InputKind::kText);
    for (const Bytes& notText : {Of("abc\x7f"), Of("abc\x1b[0m"), Of("\xc2\x85"), Of("\xc0\xa1"), Of("\xed\xa0\x80"),
                                 Of("\xf4\x90\x80\x80"), Of("caf\xc3"), Of("\xff\xfe")})
        EXPECT_FALSE(Recognize(notText)) << testing::PrintToString(notText);
    // A character cut by the window is judged whole; one cut by the input's end is no text.
    Bytes cut = Of(std::string(kTextBytes - 1, 'a') + "\xe2\x82\xac");
    EXPECT_EQ(Recognize(Padded(cut, 1000, 0x00)), InputKind::kText);
    cut[kTextBytes] = 0x20;
    EXPECT_FALSE(Recognize(Padded(cut, 1000, 0x00)));

    // MPEG audio: the next frame's header where the first one says; reserved fields refused.
    Bytes mp3 = TwoMp3Frames();
    mp3[417] = 0x00;
    EXPECT_FALSE(Recognize(mp3)) << "no second header";
    EXPECT_FALSE(Recognize(Bytes(mp3.begin(), mp3.begin() + 300))) << "shorter than its frame";
    EXPECT_EQ(Recognize(Bytes(mp3.begin(), mp3.begin() + 417)), InputKind::kMp3) << "exactly one frame";
    for (const Bytes& header : {Bytes{0xff, 0xff, 0xff, 0xff}, Bytes{0xff, 0xeb, 0x90, 0x64},     // reserved version
                                Bytes{0xff, 0xf9, 0x90, 0x64}, Bytes{0xff, 0xfb, 0x00, 0x64},     // layer, free rate
                                Bytes{0xff, 0xfb, 0x9c, 0x64}, Bytes{0xff, 0xfb, 0x90, 0x66}}) {  // rate, emphasis
        Bytes b = TwoMp3Frames();
        std::memcpy(b.data(), header.data(), 4);
        std::memcpy(b.data() + 417, header.data(), 4);
        EXPECT_FALSE(Recognize(b)) << testing::PrintToString(header);
    }
    EXPECT_FALSE(Recognize(Padded({'I', 'D', '3', 9, 0, 0, 0, 0, 0, 0}, 100, 0x80))) << "ID3 version 9";
    EXPECT_FALSE(Recognize(Padded({0x1f, 0x8b, 0x07}, 100, 0x80))) << "gzip method 7";
    EXPECT_FALSE(Recognize(Padded(Of("RIF"), 100))) << "3 bytes of a magic";
}

TEST(StreamInputSignature, OnlyTheFirstSignatureBytesCount)
{
    for (Bytes b : {Of(std::string(kSignatureBytes, 'x')), TwoMp3Frames(), Padded(Of("fLaC"), kSignatureBytes, 0x80)}) {
        b = Padded(b, kSignatureBytes, 0x80);
        const std::optional<InputKind> kind = Recognize(b);
        for (const uint8_t tail : {uint8_t{0x00}, uint8_t{0x41}, uint8_t{0xff}}) {
            Bytes longer = b;
            longer.resize(3 * kSignatureBytes, tail);
            EXPECT_EQ(Recognize(longer), kind);
        }
    }
}

// A stream may start at any of its frames (a recording begun mid-call): no
// corpus stream, from any frame on, looks like another format.
TEST(StreamInputSignature, NoCorpusStreamFromAnyOfItsFramesLooksLikeAnotherFormat)
{
    size_t starts = 0;
    for (const std::string& path :
         {test::DataPath("corpus/speech-a.63.bit"), test::DataPath("corpus/speech-a.53.bit"),
          test::DataPath("corpus/speech-a.63-vad.bit"), test::DataPath("corpus/speech-a.53-vad.bit"),
          test::DataPath("corpus/speech-a.63-enc2.bit"), test::DataPath("corpus/speech-a.mixed.bit"),
          test::DataPath("../../samples/speech-a-10s.63.bit")}) {
        const Bytes stream = test::ReadFileBytes(path);
        ASSERT_FALSE(stream.empty()) << path;
        for (size_t at = 0; at < stream.size(); at += mervox_frame_bytes(stream[at]), ++starts) {
            const std::optional<InputKind> kind = RecognizeInput(stream.data() + at, stream.size() - at);
            ASSERT_FALSE(kind) << path << " from byte " << at << ": " << InputKindName(*kind);
        }
    }
    EXPECT_GT(starts, 23000u);
}

TEST(StreamReader, RefusesAnotherFormatUnlessTold)
{
    const Bytes wav = Padded(Of("RIFF\x24\x00\x00\x00WAVEfmt "), 480, 0x00);
    StreamReader refused = StreamReader::FromBytes(wav.data(), wav.size(), "<bytes>", {true, "force=True"});
    Frame f;
    EXPECT_FALSE(refused.Next(&f));
    EXPECT_EQ(refused.otherKind(), InputKind::kWav);
    EXPECT_EQ(refused.status().code(), base::kExitBadInput);
    EXPECT_EQ(refused.status().message(), OtherFormatMessage("<bytes>", InputKind::kWav, "force=True"));

    StreamReader forced = StreamReader::FromBytes(wav.data(), wav.size(), "<bytes>", {false, ""});
    size_t bytes = 0;
    while (forced.Next(&f))
        bytes += f.length;
    EXPECT_TRUE(forced.status().ok());
    EXPECT_FALSE(forced.otherKind());
    EXPECT_EQ(bytes + (forced.Truncated() ? forced.Truncated()->present : 0), wav.size());

    // A file is judged by its first block: the same verdict.
    const std::string path = test::ScratchDir() + "/call.wav";
    test::WriteFileBytes(path, wav);
    base::Result<StreamReader> file = StreamReader::Open(path, {true, "--force"});
    ASSERT_TRUE(file.ok());
    EXPECT_FALSE(file.value().Next(&f));
    EXPECT_EQ(file.value().status().message(), OtherFormatMessage(path, InputKind::kWav, "--force"));
}

}  // namespace
}  // namespace mervox::media::stream
