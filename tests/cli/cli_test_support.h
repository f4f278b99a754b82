// Running the mervox binary from tests, and reading what it wrote.
#pragma once

#include <cstdint>
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
// `stdoutPath` takes stdout instead of CliRun::out.
CliRun RunCli(const std::string& args, const std::string& stdinPath = "", const std::string& shellPrefix = "",
              const std::string& stdoutPath = "");

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& path);
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

}  // namespace mervox::test
