// Reads a stream file (or stdin) block by block and hands out its whole
// frames one at a time: the input is never held whole, so memory stays a
// block (64 KiB) whatever the input's length. The same for a stream already
// in memory (FromBytes), split where it is. An input that starts like
// another format (a capture, a WAV file, text: input_signature.h) is
// refused unless the caller says otherwise; standard input is judged by
// the bytes it starts with, which are then split as usual.
//
//   Result<StreamReader> r = StreamReader::Open(path, {true, "--force"});
//   Frame f;
//   while (r.value().Next(&f)) decode(f);
//   if (!r.value().status().ok()) fail(r.value().status());
//   if (auto cut = r.value().Truncated()) warn(DescribeTruncation(name, *cut));
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "base/status.h"
#include "stream/frame_splitter.h"
#include "stream/input_file.h"
#include "stream/input_signature.h"

namespace mervox::media::stream {

// What a reader does with an input whose first bytes are another format's.
struct SignatureCheck {
    bool refuse = true;     // false: split it into frames all the same
    std::string forceHint;  // how the user decodes it anyway, in the message ("--force")
};

class StreamReader {
public:
    static constexpr size_t kBlockBytes = 64 * 1024;

    // Opens the input; see InputFile::Open.
    static base::Result<StreamReader> Open(const std::string& path, const SignatureCheck& check);
    // A stream in memory, named `name` in messages; the bytes must outlive
    // the reader.
    static StreamReader FromBytes(const uint8_t* data, size_t size, std::string name, const SignatureCheck& check);

    // The next whole frame; false at the end of the input or when reading
    // failed (see status()). An input without a single byte fails with
    // "NAME: byte 0: empty input, no frames"; one refused for its first
    // bytes with OtherFormatMessage() (and otherKind() says what it is).
    bool Next(Frame* frame);

    const base::Status& status() const { return status_; }
    // After Next() returned false with an ok status: a partial last frame.
    std::optional<Truncation> Truncated() const { return splitter_.Truncated(); }
    // The file read (not for a stream from FromBytes).
    const InputFile& input() const { return *input_; }
    const std::string& name() const { return name_; }
    uint64_t frames() const { return splitter_.frames(); }
    // What the input was refused as, if it was.
    std::optional<InputKind> otherKind() const { return otherKind_; }

private:
    StreamReader(InputFile input, SignatureCheck check);
    StreamReader(std::string name, SignatureCheck check) : name_(std::move(name)), check_(std::move(check)) {}

    // Reads the first block (when checking, at least kSignatureBytes of
    // it unless the input is shorter) and judges it.
    base::Status ReadFirstBlock(size_t* got);
    // A failure when the input's first `size` bytes are another format's.
    base::Status Judge(const uint8_t* data, size_t size);

    std::optional<InputFile> input_;  // none: the bytes were pushed whole
    std::string name_;
    std::unique_ptr<uint8_t[]> block_;
    FrameSplitter splitter_;
    SignatureCheck check_;
    std::optional<InputKind> otherKind_;
    base::Status status_;
    bool ended_ = false;
};

// "NAME: byte OFFSET: truncated last frame (PRESENT of EXPECTED bytes)".
std::string DescribeTruncation(const std::string& name, const Truncation& cut);

}  // namespace mervox::media::stream
