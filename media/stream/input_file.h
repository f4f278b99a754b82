// Opening and reading an input file (or standard input, "-") in blocks,
// with one wording for every failure: "NAME: cannot open: REASON",
// "NAME: byte N: read failed: REASON", "NAME: byte 0: empty input, ...".
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "base/status.h"

namespace mervox::media::stream {

class InputFile {
public:
    // Opens `path` for reading; "-" is standard input (not closed at the end).
    static base::Result<InputFile> Open(const std::string& path);

    InputFile(InputFile&& other) noexcept;
    InputFile& operator=(InputFile&& other) noexcept;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();

    // Reads up to `capacity` bytes; *got = 0 at the end of the input.
    base::Status Read(uint8_t* buffer, size_t capacity, size_t* got);

    const std::string& path() const { return path_; }
    std::string name() const;  // for messages
    uint64_t bytesRead() const { return bytesRead_; }
    // The size of a regular file (for progress and limits), else nullopt.
    std::optional<uint64_t> size() const { return size_; }

private:
    InputFile(int fd, std::string path, std::optional<uint64_t> size);

    int fd_ = -1;
    std::string path_;
    std::optional<uint64_t> size_;
    uint64_t bytesRead_ = 0;
};

// Checks, before a reader that opens the file itself, that `path` can be
// opened and read and holds at least one byte. The failure for an empty
// file says "NAME: byte 0: empty input, " + `emptyMeaning` (e.g. "no
// frames", "not a capture"). Standard input ("-"), pipes and devices cannot
// be probed without consuming them and always pass.
base::Status ProbeInput(const std::string& path, const std::string& emptyMeaning);

}  // namespace mervox::media::stream
