// Reads a stream file (or stdin) block by block and hands out its whole
// frames one at a time: the input is never held whole, so memory stays a
// block (64 KiB) whatever the input's length. The same for a stream already
// in memory (FromBytes), split where it is.
//
//   Result<StreamReader> r = StreamReader::Open(path);
//   Frame f;
//   while (r.value().Next(&f)) decode(f);
//   if (!r.value().status().ok()) fail(r.value().status());
//   if (auto cut = r.value().Truncated()) warn(DescribeTruncation(name, *cut));
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "frame_splitter.h"
#include "input_file.h"
#include "status.h"

namespace mervox::tools {

class StreamReader {
public:
    static constexpr size_t kBlockBytes = 64 * 1024;

    // Opens the input; see InputFile::Open.
    static Result<StreamReader> Open(const std::string& path);
    // A stream in memory, named `name` in messages; the bytes must outlive
    // the reader.
    static StreamReader FromBytes(const uint8_t* data, size_t size, std::string name);

    // The next whole frame; false at the end of the input or when reading
    // failed (see status()). An input without a single byte fails with
    // "NAME: byte 0: empty input, no frames".
    bool Next(Frame* frame);

    const Status& status() const { return status_; }
    // After Next() returned false with an ok status: a partial last frame.
    std::optional<Truncation> Truncated() const { return splitter_.Truncated(); }
    // The file read (not for a stream from FromBytes).
    const InputFile& input() const { return *input_; }
    const std::string& name() const { return name_; }
    uint64_t frames() const { return splitter_.frames(); }

private:
    explicit StreamReader(InputFile input);
    explicit StreamReader(std::string name) : name_(std::move(name)) {}

    std::optional<InputFile> input_;  // none: the bytes were pushed whole
    std::string name_;
    std::unique_ptr<uint8_t[]> block_;
    FrameSplitter splitter_;
    Status status_;
    bool ended_ = false;
};

// "NAME: byte OFFSET: truncated last frame (PRESENT of EXPECTED bytes)".
std::string DescribeTruncation(const std::string& name, const Truncation& cut);

}  // namespace mervox::tools
