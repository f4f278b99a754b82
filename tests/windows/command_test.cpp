// mervox.exe (the command cross-built for 64-bit Windows) under wine64,
// against the Linux build of the same sources: decode, info and pcap give
// the same bytes (files, standard output, reports) and the same exit
// statuses; UTF-8 names, drive letters and backslashes; an interrupted run.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "capture_builder.h"
#include "test_support.h"
#include "windows_test_env.h"

namespace mervox::windows_test {
namespace {

using media::capture::test::Bytes;

// Fails or skips the test when the command of either side is missing.
#define MERVOX_REQUIRE_COMMANDS()                                                                           \
    do {                                                                                                    \
        MERVOX_REQUIRE_TOOLS(MissingForWine(Width::k64));                                                   \
        MERVOX_REQUIRE_TOOLS(std::string(MERVOX_LINUX_COMMAND).empty() ? "the native mervox command" : ""); \
    } while (0)

struct Outcome {
    int status;
    std::string out;  // standard output, byte for byte
    std::string err;
};

bool Exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string ReadAll(const std::string& path)
{
    const std::vector<uint8_t> bytes = mervox::test::ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

void WriteAll(const std::string& path, const std::string& bytes)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

// A fresh folder of the work directory.
std::string Folder(const std::string& name)
{
    const std::string dir = WorkFile("command/" + name);
    RunCommand("rm -rf " + Quote(dir) + " && mkdir -p " + Quote(dir));
    return dir;
}

// Runs a command line in `dir`, standard output and error to files there.
Outcome RunIn(const std::string& dir, const std::string& commandLine)
{
    const std::string out = dir + "/.stdout", err = dir + "/.stderr";
    const CommandResult r =
        RunCommand("(cd " + Quote(dir) + " && " + commandLine + " >" + Quote(out) + " 2>" + Quote(err) + ")");
    Outcome run{r.status, ReadAll(out), ReadAll(err)};
    std::remove(out.c_str());
    std::remove(err.c_str());
    return run;
}

std::string Words(const std::vector<std::string>& arguments)
{
    std::string line;
    for (const std::string& a : arguments)
        line += " " + Quote(a);
    return line;
}

Outcome Linux(const std::string& dir, const std::vector<std::string>& arguments, const std::string& environment = "")
{
    return RunIn(dir, "env " + environment + " " + Quote(MERVOX_LINUX_COMMAND) + Words(arguments));
}

// The cross-built command, beside the DLLs' folder.
std::string CommandExe() { return std::string(MERVOX_WINDOWS64_BIN_DIR) + "/../tools/mervox/mervox.exe"; }

std::string WineLine(const std::string& environment)
{
    return "env -u DISPLAY WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' WINEARCH=win64 WINEPREFIX=" +
           Quote(WinePrefixDir(Width::k64)) + " " + environment + " " + Quote(MERVOX_WINE64);
}

Outcome Windows(const std::string& dir, const std::vector<std::string>& arguments, const std::string& environment = "")
{
    return RunIn(dir, WineLine(environment) + " " + Quote(CommandExe()) + Words(arguments));
}

std::vector<std::string> FilesIn(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Both folders hold the same files with the same bytes.
void ExpectSameFiles(const std::string& linuxDir, const std::string& windowsDir, const std::string& what)
{
    const std::vector<std::string> names = FilesIn(linuxDir);
    EXPECT_EQ(FilesIn(windowsDir), names) << what;
    EXPECT_FALSE(names.empty()) << what;
    for (const std::string& name : names)
        EXPECT_TRUE(ReadAll(linuxDir + "/" + name) == ReadAll(windowsDir + "/" + name)) << what << ": " << name;
}

void ExpectSameRun(const Outcome& onLinux, const Outcome& onWindows, const std::string& what)
{
    EXPECT_EQ(onWindows.status, onLinux.status) << what << "\nLinux: " << onLinux.err << "Windows: " << onWindows.err;
    EXPECT_TRUE(onWindows.out == onLinux.out) << what << ": standard output differs (" << onWindows.out.size()
                                              << " bytes, Linux " << onLinux.out.size() << ")";
}

// A folder of `name` on each side, holding `files` copied in.
std::pair<std::string, std::string> Sides(const std::string& name, const std::vector<std::string>& files = {})
{
    const std::string l = Folder(name + "-linux"), w = Folder(name + "-windows");
    for (const std::string& f : files)
        RunCommand("cp " + Quote(f) + " " + Quote(l) + " && cp " + Quote(f) + " " + Quote(w));
    return {l, w};
}

std::string Corpus(const std::string& name) { return mervox::test::DataPath("corpus/" + name); }

TEST(Win64Command, DecodeAndInfoGiveLinuxBytes)
{
    MERVOX_REQUIRE_COMMANDS();
    for (const CorpusCase& c : CorpusCases()) {
        // "NAME.loss": NAME.bit decoded with the mask NAME.loss.
        const bool masked = c.name.size() > 5 && c.name.compare(c.name.size() - 5, 5, ".loss") == 0;
        const std::string stream = (masked ? c.name.substr(0, c.name.size() - 5) : c.name) + ".bit";
        std::vector<std::string> files = {Corpus(stream)};
        if (masked)
            files.push_back(Corpus(c.name));
        const auto [l, w] = Sides("decode", files);
        // A WAV file, raw samples and WAV (its header completed in place)
        // through standard output, the info report;
        // or the stream with its lost-frame mask.
        const std::vector<std::vector<std::string>> runs =
            masked ? std::vector<std::vector<std::string>>{{"decode", stream, "--loss", c.name, "-o", "lost.wav"}}
                   : std::vector<std::vector<std::string>>{{"decode", stream, "-o", "out.wav"},
                                                           {"decode", stream, "-f", "raw", "-o", "-"},
                                                           {"decode", stream, "-o", "-"},
                                                           {"info", stream},
                                                           {"info", "--json", stream}};
        for (const std::vector<std::string>& run : runs)
            ExpectSameRun(Linux(l, run), Windows(w, run), c.name + ":" + Words(run));
        ExpectSameFiles(l, w, c.name);
    }
}

// Captures as the capture tests make them: classic pcap with IPv4 and IPv6
// streams, pcapng with nanosecond times in a big-endian section, and one
// cut short inside a record.
std::vector<std::pair<std::string, Bytes>> MadeCaptures()
{
    using namespace media::capture::test;
    const std::vector<Bytes> frames = StreamFrames("speech-a.63.bit");
    PcapWriter pcap;
    PcapngWriter pcapng;
    pcapng.Section(true);
    const uint32_t nano = pcapng.Interface(1, 9);
    for (uint16_t i = 0; i < 120; ++i) {
        Rtp a;
        a.sequence = static_cast<uint16_t>(1000 + i);
        a.timestamp = 240u * i;
        a.ssrc = 0x0a0b0c0d;
        Rtp b = a;
        b.ssrc = 0x66778899;
        const Bytes& frame = frames[i % frames.size()];
        if (i != 50)  // one lost
            pcap.Add(Ethernet(Ipv4Udp("192.0.2.1", 5004, "192.0.2.2", 6004, RtpBytes(a, frame))));
        pcap.Add(Ethernet(Ipv6Udp("2001:db8::1", 5006, "2001:db8::ffff:2", 6006, RtpBytes(b, frame))));
        pcapng.Add(nano, Ethernet(Ipv4Udp("198.51.100.7", 7000, "198.51.100.8", 7002, RtpBytes(a, frame))),
                   1700000000000000000ull + 30000000ull * i + 17);
    }
    Bytes cut = pcap.bytes();
    cut.resize(cut.size() - 7);
    return {{"made.pcap", pcap.bytes()}, {"made-ns.pcapng", pcapng.bytes()}, {"cut.pcap", cut}};
}

TEST(Win64Command, PcapGivesLinuxReportsAndFiles)
{
    MERVOX_REQUIRE_COMMANDS();
    std::vector<std::string> captures = {"call-a.pcapng"};
    auto [l, w] = Sides("pcap", {Corpus("call-a.pcapng")});
    for (const auto& [name, bytes] : MadeCaptures()) {
        WriteAll(l + "/" + name, std::string(bytes.begin(), bytes.end()));
        WriteAll(w + "/" + name, std::string(bytes.begin(), bytes.end()));
        captures.push_back(name);
    }
    for (const std::string& capture : captures) {
        for (const std::vector<std::string>& run :
             {std::vector<std::string>{"pcap", capture, "--json", "-o", "json/"},
              std::vector<std::string>{"pcap", capture, "-o", "text/"},
              std::vector<std::string>{"pcap", capture, "--json", "--layout", "streams", "-o", "streams/"}})
            ExpectSameRun(Linux(l, run), Windows(w, run), Words(run));
    }
    // The calls' page, its links to the audio the same with a folder
    // given the Windows way.
    const Outcome pageLinux = Linux(l, {"pcap", "call-a.pcapng", "--report", "calls.html", "-o", "page/"});
    const Outcome pageWindows = Windows(w, {"pcap", "call-a.pcapng", "--report", "calls.html", "-o", "page\\"});
    EXPECT_EQ(pageWindows.status, pageLinux.status) << pageWindows.err;  // (the text names page\\...)
    EXPECT_TRUE(ReadAll(l + "/calls.html") == ReadAll(w + "/calls.html")) << "pcap --report: the page differs";
    // (the corpus capture's two streams are calls of one direction each)
    EXPECT_NE(ReadAll(w + "/calls.html").find("href=\"page/call-a-20"), std::string::npos);
    ExpectSameFiles(l + "/page", w + "/page", "pcap --report");
    // Two files of one recording read as one capture.
    const std::vector<std::string> both = {"pcap", "made.pcap", "made-ns.pcapng", "--json", "-o", "both/"};
    ExpectSameRun(Linux(l, both), Windows(w, both), Words(both));
    ExpectSameFiles(l + "/both", w + "/both", "pcap of two files");
    ExpectSameFiles(l + "/json", w + "/json", "pcap --json");
    ExpectSameFiles(l + "/text", w + "/text", "pcap");
    ExpectSameFiles(l + "/streams", w + "/streams", "pcap --layout streams");
    // The capture read from standard input, in binary mode.
    const std::vector<std::string> piped = {"pcap", "-", "--json", "-o", "stdin/"};
    ExpectSameRun(RunIn(l, Quote(MERVOX_LINUX_COMMAND) + Words(piped) + " <call-a.pcapng"),
                  RunIn(w, WineLine("") + " " + Quote(CommandExe()) + Words(piped) + " <call-a.pcapng"),
                  "pcap from standard input");
    ExpectSameFiles(l + "/stdin", w + "/stdin", "pcap from standard input");
}

TEST(Win64Command, FailuresHaveLinuxExitStatuses)
{
    MERVOX_REQUIRE_COMMANDS();
    const auto [l, w] = Sides("errors", {Corpus("speech-a.63.bit")});
    for (const std::string& dir : {l, w}) {
        WriteAll(dir + "/empty.bit", "");
        WriteAll(dir + "/a-file", "x");
        mkdir((dir + "/a-folder").c_str(), 0755);
    }
    const std::vector<std::vector<std::string>> runs = {
        {"decode", "missing.bit"},
        {"decode", "empty.bit", "-o", "x.wav"},
        {"decode", "speech-a.63.bit", "-o", "x.mp3"},
        {"decode", "speech-a.63.bit", "empty.bit", "-o", "a-file"},
        {"decode", "speech-a.63.bit", "--format", "flac"},
        {"decode", "speech-a.63.bit", "-o", "no-such-folder/x.wav"},
        {"info", "missing.bit"},
        {"info", "empty.bit"},
        {"info", "a-folder"},
        {"decode", "a-folder", "-o", "x.wav"},
        {"pcap", "a-folder"},
        {"pcap", "speech-a.63.bit"},
        {"pcap", "missing.pcap"},
        {"pcap", "empty.bit"},
        {"pcap", "speech-a.63.bit", "-o", "-"},
        {"transcode", "speech-a.63.bit"},
        {"decode", "--no-such-option", "speech-a.63.bit"},
        {},
    };
    for (const std::vector<std::string>& run : runs) {
        const Outcome onLinux = Linux(l, run), onWindows = Windows(w, run);
        EXPECT_NE(onLinux.status, 0) << Words(run);
        ExpectSameRun(onLinux, onWindows, Words(run));
        EXPECT_EQ(onWindows.err.empty(), onLinux.err.empty()) << Words(run) << ": " << onWindows.err;
        // The same reason where the system gives one.
        for (const char* reason : {"No such file or directory", "Is a directory"})
            EXPECT_EQ(onWindows.err.find(reason) != std::string::npos, onLinux.err.find(reason) != std::string::npos)
                << Words(run) << ": " << onWindows.err << " / " << onLinux.err;
    }
}

TEST(Win64Command, NonAsciiNamesInAndOut)
{
    MERVOX_REQUIRE_COMMANDS();
    const std::string stream =
        "Gespr\xc3\xa4"
        "ch-\xe9\x80\x9a\xe8\xa9\xb1.bit";                                // Gespräch-通話.bit
    const std::string capture = "Anruf-\xe9\x80\x9a\xe8\xa9\xb1.pcapng";  // Anruf-通話.pcapng
    const auto [l, w] = Sides("names");
    for (const std::string& dir : {l, w})
        RunCommand("cp " + Quote(Corpus("speech-a.mixed.bit")) + " " + Quote(dir + "/" + stream) + " && cp " +
                   Quote(Corpus("call-a.pcapng")) + " " + Quote(dir + "/" + capture));
    const std::vector<std::vector<std::string>> runs = {
        {"decode", stream, "-o", "Ausgabe-\xe9\x80\x9a\xe8\xa9\xb1.wav"},
        {"decode", stream},  // beside the input, with its name
        {"info", "--json", stream},
        {"pcap", capture, "--json"},
    };
    for (const std::vector<std::string>& run : runs)
        ExpectSameRun(Linux(l, run), Windows(w, run), Words(run));
    ExpectSameFiles(l, w, "non-ASCII names");
    EXPECT_TRUE(Exists(w + "/Gespr\xc3\xa4"
                           "ch-\xe9\x80\x9a\xe8\xa9\xb1.wav"));
    // Messages name the file in UTF-8.
    const Outcome missing = Windows(w, {"info", "fehlt-\xe9\x80\x9a.bit"});
    EXPECT_NE(missing.err.find("fehlt-\xe9\x80\x9a.bit"), std::string::npos) << missing.err;
}

// JSON text with the Windows spelling of `windowsDir` (and the backslashes
// after it) in Linux's.
std::string Normalised(std::string json, const std::string& windowsDir, const std::string& linuxDir)
{
    std::string escaped;
    for (const char c : windowsDir)
        escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    for (size_t at = json.find(escaped); at != std::string::npos; at = json.find(escaped, at)) {
        size_t end = at + escaped.size();
        std::string rest;
        for (; end < json.size() && json[end] != '"'; ++end)
            if (json.compare(end, 2, "\\\\") == 0) {
                rest += '/';
                ++end;
            } else {
                rest += json[end];
            }
        json.replace(at, end - at, linuxDir + rest);
        at += linuxDir.size() + rest.size();
    }
    return json;
}

TEST(Win64Command, OutputFolderByDriveLetterAndBackslashes)
{
    MERVOX_REQUIRE_COMMANDS();
    const auto [l, w] = Sides("drive", {Corpus("speech-a.63.bit"), Corpus("speech-a.53.bit"), Corpus("call-a.pcapng")});
    // Made by the run (it ends in a separator), as on Linux.
    const Outcome onLinux = Linux(l, {"decode", "speech-a.63.bit", "speech-a.53.bit", "-o", l + "/out dir/"});
    const Outcome onWindows =
        Windows(w, {"decode", "speech-a.63.bit", "speech-a.53.bit", "-o", WinePath(w + "/out dir/")});
    ExpectSameRun(onLinux, onWindows, "decode -o Z:\\...\\");
    ExpectSameFiles(l + "/out dir", w + "/out dir", "decode -o Z:\\...\\");
    // Drive-relative names and forward slashes name the same places.
    const Outcome one = Windows(w, {"decode", "Z:speech-a.63.bit", "-o", "Z:out dir/single.wav"});
    EXPECT_EQ(one.status, 0) << one.err;
    EXPECT_TRUE(ReadAll(w + "/out dir/single.wav") == ReadAll(l + "/out dir/speech-a.63.wav"));

    const Outcome pcapLinux = Linux(l, {"pcap", l + "/call-a.pcapng", "--json", "-o", l + "/calls/"});
    const Outcome pcapWindows =
        Windows(w, {"pcap", WinePath(w + "/call-a.pcapng"), "--json", "-o", WinePath(w + "/calls/")});
    EXPECT_EQ(pcapWindows.status, pcapLinux.status) << pcapWindows.err;
    EXPECT_EQ(Normalised(pcapWindows.out, WinePath(w), l), pcapLinux.out);
    // Messages show such names as they were given.
    const std::string missing = WinePath(w + "/missing.bit");
    const Outcome notThere = Windows(w, {"info", missing});
    EXPECT_NE(notThere.err.find("error: " + missing + ": cannot open"), std::string::npos) << notThere.err;
    ExpectSameFiles(l + "/calls", w + "/calls", "pcap -o Z:\\...\\");
}

// The files of `dir` once Wine has closed an ended program's files: a file
// removed while the program still had it open (as the Ctrl-C handler
// removes the one being written) goes when its last handle is closed, which
// Windows does before the program counts as ended, and Wine's server a
// moment after (up to 5 s allowed).
std::vector<std::string> FilesLeft(const std::string& dir)
{
    std::vector<std::string> names = FilesIn(dir);
    for (int i = 0;
         i < 100 && std::any_of(names.begin(), names.end(), [](const std::string& n) { return n[0] == '.'; }); ++i) {
        RunCommand("sleep 0.05");
        names = FilesIn(dir);
    }
    return names;
}

TEST(Win64Command, InterruptedRunLeavesNoTemporaryFile)
{
    MERVOX_REQUIRE_COMMANDS();
    // The test hook runs the console control handler for Ctrl-C once the
    // first output's temporary file exists (on a thread of its own, as
    // Windows runs it); the handler removes the file and ends the process
    // as Ctrl-C ends a console program.
    const auto [l, w] = Sides("interrupt", {Corpus("speech-a.63.bit")});
    for (const std::string& dir : {l, w})
        WriteAll(dir + "/kept.wav", "an earlier output");
    const std::vector<std::string> run = {"decode", "speech-a.63.bit", "-o", "kept.wav"};
    const Outcome onWindows = Windows(w, run, "MERVOX_TEST_INTERRUPT=1");
    // STATUS_CONTROL_C_EXIT, 0xC000013A: Wine hands its low byte to Linux.
    EXPECT_EQ(onWindows.status, 0x3A) << onWindows.err;
    EXPECT_EQ(FilesLeft(w), (std::vector<std::string>{"kept.wav", "speech-a.63.bit"}));
    EXPECT_EQ(ReadAll(w + "/kept.wav"), "an earlier output");
    // Its whole value, as cmd.exe sees it.
    const Outcome viaCmd = RunIn(
        w, WineLine("MERVOX_TEST_INTERRUPT=1") + " cmd /c " +
               Quote(WinePath(CommandExe()) + " decode speech-a.63.bit -o new.wav" + " & echo status %ERRORLEVEL%"));
    EXPECT_NE(viaCmd.out.find("status -1073741510"), std::string::npos) << viaCmd.out << viaCmd.err;
    EXPECT_EQ(FilesLeft(w), (std::vector<std::string>{"kept.wav", "speech-a.63.bit"}));
    // The same hook on Linux raises SIGINT: the same files are left.
    // (SIGINT's default action restored first: a shell leaves it ignored
    // in background jobs, and the command leaves an ignored signal alone.)
    const Outcome onLinux = RunIn(l, "env MERVOX_TEST_INTERRUPT=1 perl -e '$SIG{INT} = q(DEFAULT); exec @ARGV' " +
                                         Quote(MERVOX_LINUX_COMMAND) + Words(run));
    EXPECT_EQ(onLinux.status, 128 + 2) << onLinux.err;
    EXPECT_EQ(FilesIn(l), (std::vector<std::string>{"kept.wav", "speech-a.63.bit"}));
    EXPECT_EQ(ReadAll(l + "/kept.wav"), "an earlier output");
    // Without the hook the run finishes and replaces the file.
    ExpectSameRun(Linux(l, run), Windows(w, run), "uninterrupted");
    ExpectSameFiles(l, w, "uninterrupted");
}

}  // namespace
}  // namespace mervox::windows_test
