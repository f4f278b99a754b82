// Running the mervox binary from tests, and reading what it wrote.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace mervox::test {

struct CliRun {
    int status;       // exit status
    std::string out;  // stdout
    std::string err;  // stderr
};

// A fresh, empty directory for the current test.
std::string ScratchDir();

// Runs `mervox ARGS` through the shell. `stdinPath` feeds stdin;
// `shellPrefix` is shell code run before it (e.g. "ulimit -f 8;");
// `stdoutPath` takes stdout instead of CliRun::out; `cliPath` runs another
// copy of the command.
CliRun RunCli(const std::string& args, const std::string& stdinPath = "", const std::string& shellPrefix = "",
              const std::string& stdoutPath = "", const std::string& cliPath = MERVOX_CLI_PATH);

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& path);
// A file's contents as text ("" when it cannot be read).
std::string Slurp(const std::string& path);
std::vector<std::string> ListDir(const std::string& dir);

// A WAV file as found by walking its chunks.
struct WavFile {
    bool valid = false;
    uint16_t formatTag = 0, channels = 0, bitsPerSample = 0, blockAlign = 0;
    uint32_t sampleRate = 0, byteRate = 0;
    uint32_t riffSize = 0;  // as stored
    std::vector<int16_t> samples;
};
WavFile ParseWav(const std::vector<uint8_t>& bytes);

std::vector<int16_t> SamplesFromS16le(const std::vector<uint8_t>& bytes);

// Number of lines of a newline-terminated text.
size_t CountLines(const std::string& text);

// The mervox binary, quoted for the shell.
std::string CliCommand();

// A shell command run as a child process, with what the kernel measured.
struct ChildRun {
    int status = -1;     // exit status, or 128 + signal like a shell
    int signal = 0;      // the signal that ended it, 0 if it exited
    long peakRssKb = 0;  // largest resident set of it and its waited-for children
    double seconds = 0;  // wall time
};

// Runs `sh -c command`. With `signal` nonzero, sends it to the child once
// `ready()` returns true (polled every 10 ms; the command should `exec`
// the program meant to receive it), or after `timeoutSeconds` in any case.
ChildRun RunShell(const std::string& command, int signal = 0, const std::function<bool()>& ready = nullptr,
                  double timeoutSeconds = 60);

// Whether the tests run under AddressSanitizer (slower, more memory, no
// address-space limits).
constexpr bool kSanitized =
#ifdef MERVOX_TEST_SANITIZED
    true;
#else
    false;
#endif

}  // namespace mervox::test
