// Writing 16-bit mono PCM to a WAV or raw (s16le) file, or to stdout.
//
// A file is written under a temporary name in its own directory and renamed
// into place only by Commit(), so a failed or interrupted run never leaves
// a complete-looking file behind (through a symbolic link, the file it
// points to is replaced). Standard output ("-") and existing paths that are
// not regular files (a pipe, /dev/null) are assembled in memory (a WAV
// header needs the final length) and written to at Commit().
//
//   std::string error;
//   auto out = PcmOutput::Open("call.wav", PcmFormat::kWav, 8000, &error);
//   if (!out || !out->Write(pcm, n) || !out->Commit()) report(out ? out->error() : error);
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace mervox::cli {

enum class PcmFormat { kWav, kRaw };

// The format an output path asks for by its extension (case-insensitive):
// .wav -> WAV, .raw / .pcm -> raw. "-" (stdout) gives WAV. Anything else:
// nullopt.
std::optional<PcmFormat> PcmFormatFromPath(const std::string& path);

// "wav" or "raw" -> format; anything else nullopt.
std::optional<PcmFormat> PcmFormatFromName(const std::string& name);

class PcmOutput {
public:
    // Starts an output of mono 16-bit samples. Returns null and sets *error
    // (one line, naming the path) when the file cannot be created.
    static std::unique_ptr<PcmOutput> Open(const std::string& path, PcmFormat format, int sampleRate,
                                           std::string* error);

    // Discards everything unless Commit() succeeded.
    ~PcmOutput();
    PcmOutput(const PcmOutput&) = delete;
    PcmOutput& operator=(const PcmOutput&) = delete;

    // Appends samples; false (see error()) when writing failed, or when the
    // output would pass MaxSamples(format) (nothing is read then).
    bool Write(const int16_t* samples, size_t count);

    // The most samples an output of this format can hold: a WAV file's sizes
    // are 32-bit (its RIFF size counts the data and 36 header bytes); raw
    // output has no limit of its own.
    static uint64_t MaxSamples(PcmFormat format);

    // Completes the file and moves it into place (or flushes it to stdout).
    // False (see error()) on failure, after which nothing is left behind.
    bool Commit();

    const std::string& error() const { return error_; }
    const std::string& path() const { return path_; }
    uint64_t samplesWritten() const { return samplesWritten_; }

    struct Impl;

private:
    explicit PcmOutput(std::unique_ptr<Impl> impl, std::string path);
    void Discard();

    std::unique_ptr<Impl> impl_;
    std::string path_;
    std::string error_;
    uint64_t samplesWritten_ = 0;
    bool finished_ = false;
};

}  // namespace mervox::cli
