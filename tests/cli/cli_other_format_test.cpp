// Files of other formats given to `mervox decode` and `mervox info`: a
// capture, audio files made by real tools, archives and text are refused
// with a hint and exit status 1, unless --force; standard input is judged by
// the bytes it starts with and then decoded whole.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "cli_test_support.h"
#include "test_support.h"

namespace mervox::test {
namespace {

using Bytes = std::vector<uint8_t>;

const std::string kStream = DataPath("corpus/speech-a.63.bit");

bool HaveSox()
{
    if (RunShell("command -v sox >/dev/null").status == 0)
        return true;
    EXPECT_EQ(std::getenv("CI") ? std::string(std::getenv("CI")) : "", "") << "sox is missing (CI=true)";
    return false;
}

// A classic pcap file: the global header with `magic` in its first four
// bytes (the byte order the magic shows), then one record of 60 bytes.
Bytes PcapFile(const Bytes& magic)
{
    const bool bigEndian = magic[0] == 0xa1;
    Bytes b = magic;
    auto put = [&](uint32_t v, int bytes) {
        for (int k = 0; k < bytes; ++k)
            b.push_back(static_cast<uint8_t>(v >> (8 * (bigEndian ? bytes - 1 - k : k))));
    };
    put(2, 2), put(4, 2), put(0, 4), put(0, 4), put(65535, 4), put(1, 4);  // version 2.4, snaplen, Ethernet
    put(1700000000, 4), put(0, 4), put(60, 4), put(60, 4);                 // one record
    b.resize(b.size() + 60, 0xab);
    return b;
}

// MPEG-1 layer III frames of 417 bytes (128 kbit/s, 44.1 kHz), with an
// ID3v2 tag before them or not: what an MP3 encoder writes.
Bytes Mp3File(bool tag)
{
    Bytes b;
    if (tag)
        b = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 10, 'T', 'I', 'T', '2', 0, 0, 0, 0, 0, 0};
    for (int frame = 0; frame < 5; ++frame) {
        const Bytes header = {0xff, 0xfb, 0x90, 0x64};
        b.insert(b.end(), header.begin(), header.end());
        b.resize(b.size() + 413, static_cast<uint8_t>(0x11 * frame));
    }
    return b;
}

std::string HexDump(const Bytes& bytes)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (size_t k = 0; k < bytes.size(); ++k) {
        text += kDigits[bytes[k] >> 4];
        text += kDigits[bytes[k] & 15];
        if (k % 30 == 29)
            text += '\n';
    }
    return text;
}

struct OtherFile {
    std::string name;
    std::string kind;  // as the message names it
    std::string hint;
};

// The files of other formats, written into `dir`, made from the first 100
// frames of a corpus stream (dir/short.bit) to keep them small.
std::vector<OtherFile> MakeOtherFiles(const std::string& dir)
{
    const Bytes stream = ReadFileBytes(kStream);
    const std::string shortStream = dir + "/short.bit";
    WriteFileBytes(shortStream, Bytes(stream.begin(), stream.begin() + 24 * 100));
    std::vector<OtherFile> files = {
        {DataPath("corpus/call-a.pcapng"), "a pcapng capture", "decode its calls with `mervox pcap`"},
        {dir + "/be-us.pcap", "a pcap capture", "`mervox pcap`"},
        {dir + "/le-us.pcap", "a pcap capture", "`mervox pcap`"},
        {dir + "/be-ns.pcap", "a pcap capture", "`mervox pcap`"},
        {dir + "/le-ns.pcap", "a pcap capture", "`mervox pcap`"},
        {dir + "/call.wav", "a WAV file", "a WAV file is already audio"},
        {dir + "/tagged.mp3", "an MP3 file", "already audio"},
        {dir + "/plain.mp3", "an MP3 file", "already audio"},
        {dir + "/call.bit.gz", "gzip-compressed data", "decompress it first"},
        {dir + "/call.zip", "a zip archive", "extract it first"},
        {dir + "/call.hex", "text", "turn a hex dump back into bytes first"},
        {dir + "/notes.txt", "text", "a stream holds binary frames"},
    };
    WriteFileBytes(dir + "/be-us.pcap", PcapFile({0xa1, 0xb2, 0xc3, 0xd4}));
    WriteFileBytes(dir + "/le-us.pcap", PcapFile({0xd4, 0xc3, 0xb2, 0xa1}));
    WriteFileBytes(dir + "/be-ns.pcap", PcapFile({0xa1, 0xb2, 0x3c, 0x4d}));
    WriteFileBytes(dir + "/le-ns.pcap", PcapFile({0x4d, 0x3c, 0xb2, 0xa1}));
    // The command's own WAV output, the mistake of decoding what was decoded.
    EXPECT_EQ(RunCli("-q decode '" + shortStream + "' -o '" + dir + "/call.wav'").status, 0);
    WriteFileBytes(dir + "/tagged.mp3", Mp3File(true));
    WriteFileBytes(dir + "/plain.mp3", Mp3File(false));
    EXPECT_EQ(RunShell("gzip -c '" + shortStream + "' >'" + dir + "/call.bit.gz'").status, 0);
    EXPECT_EQ(RunShell("cd '" + dir +
                       "' && /usr/bin/python3 -c \"import zipfile; zipfile.ZipFile('call.zip', 'w')"
                       ".write('short.bit', 'call.bit')\"")
                  .status,
              0);
    const std::string hex = HexDump(Bytes(stream.begin(), stream.begin() + 2000));
    WriteFileBytes(dir + "/call.hex", Bytes(hex.begin(), hex.end()));
    const std::string notes = "Anruf vom 3. M\xc3\xa4rz, 30 ms je Rahmen \xe2\x80\x93 siehe call.bit\n";
    WriteFileBytes(dir + "/notes.txt", Bytes(notes.begin(), notes.end()));
    if (HaveSox()) {  // audio files as sox writes them
        for (const auto& [name, kind, hint] : {OtherFile{"call.au", "a Sun audio (.au) file", "already audio"},
                                               OtherFile{"call.flac", "a FLAC file", "already audio"},
                                               OtherFile{"call.ogg", "an Ogg file", "already audio"},
                                               OtherFile{"sox.wav", "a WAV file", "already audio"}}) {
            EXPECT_EQ(RunShell("cd '" + dir + "' && sox -V1 call.wav " + name).status, 0) << name;
            files.push_back({dir + "/" + name, kind, hint});
        }
    }
    return files;
}

TEST(CliOtherFormats, EachIsRefusedWithItsHintAndExitStatus1)
{
    const std::string dir = ScratchDir();
    const std::vector<OtherFile> files = MakeOtherFiles(dir);
    const std::vector<std::string> before = ListDir(dir);
    for (const OtherFile& file : files) {
        SCOPED_TRACE(file.name);
        const std::string out = dir + "/out.wav";
        CliRun run = RunCli("decode '" + file.name + "' -o '" + out + "'");
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(
            run.err.rfind("mervox: error: " + file.name + ": looks like " + file.kind + ", not a G.723.1 stream: ", 0),
            0u)
            << run.err;
        EXPECT_NE(run.err.find(file.hint), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("; --force decodes it anyway\n"), std::string::npos) << run.err;
        EXPECT_EQ(CountLines(run.err), 1u) << run.err;
        EXPECT_EQ(ListDir(dir), before);  // refused before the output was opened

        const CliRun info = RunCli("info '" + file.name + "'");
        EXPECT_EQ(info.status, 1);
        EXPECT_EQ(info.out, "");
        EXPECT_EQ(info.err, run.err);
    }
    // Among several inputs the others are decoded: the worst status is 1.
    const CliRun several = RunCli("decode -q '" + kStream + "' '" + dir + "/call.wav' -o '" + dir + "/several/'");
    EXPECT_EQ(several.status, 1);
    EXPECT_EQ(ListDir(dir + "/several"), std::vector<std::string>{"speech-a.63.wav"});
}

TEST(CliOtherFormats, ForceDecodesItAnyway)
{
    const std::string dir = ScratchDir();
    for (const OtherFile& file : MakeOtherFiles(dir)) {
        SCOPED_TRACE(file.name);
        const Bytes bytes = ReadFileBytes(file.name);
        const CliRun run = RunCli("-q decode --force '" + file.name + "' -o '" + dir + "/out.raw'");
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(SamplesFromS16le(ReadFileBytes(dir + "/out.raw")) == DecodeWithLegacyApi(bytes));
        const CliRun info = RunCli("info --force --json '" + file.name + "'");
        EXPECT_EQ(info.status, 0) << info.err;
        EXPECT_NE(info.out.find("\"frames\": " + std::to_string(SplitStream(bytes).size()) + ","), std::string::npos)
            << info.out;
    }
}

TEST(CliOtherFormats, StandardInputIsJudgedByItsFirstBytesThenDecodedWhole)
{
    const std::string dir = ScratchDir();
    const std::string capture = DataPath("corpus/call-a.pcapng");
    CliRun run = RunCli("decode - -o '" + dir + "/x.raw'", capture);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("mervox: error: <stdin>: looks like a pcapng capture", 0), 0u) << run.err;
    EXPECT_FALSE(FileExists(dir + "/x.raw"));
    run = RunCli("info -", capture);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("mervox: error: <stdin>: looks like a pcapng capture", 0), 0u) << run.err;

    // A pipe that hands out its first bytes alone: "RI" would look like
    // text, the whole signature is a WAV file's.
    ASSERT_EQ(RunCli("-q decode '" + kStream + "' -o '" + dir + "/call.wav'").status, 0);
    const auto trickled = [&](const std::string& path, size_t first) {
        return "(head -c " + std::to_string(first) + " '" + path + "'; sleep 0.3; tail -c +" +
               std::to_string(first + 1) + " '" + path + "') | ";
    };
    ChildRun child = RunShell(trickled(dir + "/call.wav", 2) + CliCommand() + " decode - -o '" + dir + "/x.raw' 2>'" +
                              dir + "/err'");
    EXPECT_EQ(child.status, 1);
    const Bytes err = ReadFileBytes(dir + "/err");
    EXPECT_NE(std::string(err.begin(), err.end()).find("<stdin>: looks like a WAV file"), std::string::npos);

    // The bytes judged are decoded with the rest: the same samples as the
    // file gives, whether the pipe brings them at once or not, and for an
    // input shorter than what is judged.
    const Bytes stream = ReadFileBytes(kStream);
    WriteFileBytes(dir + "/short.bit", Bytes(stream.begin(), stream.begin() + 24 * 40));
    for (const std::string& path : {kStream, dir + "/short.bit"}) {
        SCOPED_TRACE(path);
        const std::vector<int16_t> want = DecodeWithLegacyApi(ReadFileBytes(path));
        child = RunShell(trickled(path, 1) + CliCommand() + " decode - -o '" + dir + "/x.raw'");
        EXPECT_EQ(child.status, 0);
        EXPECT_TRUE(SamplesFromS16le(ReadFileBytes(dir + "/x.raw")) == want);
        run = RunCli("-q decode - -f raw -o -", path);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(SamplesFromS16le(Bytes(run.out.begin(), run.out.end())) == want);
    }
    run = RunCli("-q decode --force - -f raw -o -", capture);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(SamplesFromS16le(Bytes(run.out.begin(), run.out.end())) == DecodeWithLegacyApi(ReadFileBytes(capture)));
}

TEST(CliOtherFormats, NoCorpusStreamIsRefused)
{
    for (const char* name : {"corpus/speech-a.63.bit", "corpus/speech-a.53.bit", "corpus/speech-a.63-vad.bit",
                             "corpus/speech-a.53-vad.bit", "corpus/speech-a.63-enc2.bit", "corpus/speech-a.mixed.bit",
                             "../../samples/speech-a-10s.63.bit"}) {
        const std::string path = DataPath(name);
        const CliRun run = RunCli("info --json '" + path + "'");
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(RunCli("info -", path).status, 0) << name;
        EXPECT_NE(run.out.find("\"frames\": " + std::to_string(SplitStream(ReadFileBytes(path)).size()) + ","),
                  std::string::npos)
            << run.out;
    }
}

}  // namespace
}  // namespace mervox::test
