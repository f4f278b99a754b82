#include "stream/stream_reader.h"

namespace mervox::media::stream {

StreamReader::StreamReader(InputFile input, SignatureCheck check)
    : input_(std::move(input)),
      name_(input_->name()),
      block_(std::make_unique<uint8_t[]>(kBlockBytes)),
      check_(std::move(check))
{}

StreamReader StreamReader::FromBytes(const uint8_t* data, size_t size, std::string name, const SignatureCheck& check)
{
    StreamReader reader(std::move(name), check);
    reader.ended_ = true;
    if (size == 0)
        reader.status_ = base::Status::Failure(base::kExitBadInput, reader.name_ + ": byte 0: empty input, no frames");
    else
        reader.status_ = reader.Judge(data, size);
    if (reader.status_.ok())
        reader.splitter_.Push(data, size);
    return reader;
}

base::Result<StreamReader> StreamReader::Open(const std::string& path, const SignatureCheck& check)
{
    base::Result<InputFile> input = InputFile::Open(path);
    if (!input.ok())
        return input.status();
    return StreamReader(std::move(input.value()), check);
}

base::Status StreamReader::Judge(const uint8_t* data, size_t size)
{
    if (!check_.refuse)
        return base::Status::Ok();
    otherKind_ = RecognizeInput(data, size);
    if (!otherKind_)
        return base::Status::Ok();
    return base::Status::Failure(base::kExitBadInput, OtherFormatMessage(name_, *otherKind_, check_.forceHint));
}

base::Status StreamReader::ReadFirstBlock(size_t* got)
{
    // A pipe hands out what has been written so far: read on until the
    // signature's bytes are there, so that the verdict does not depend on
    // how the input arrives.
    *got = 0;
    do {
        size_t n = 0;
        const base::Status read = input_->Read(block_.get() + *got, kBlockBytes - *got, &n);
        if (!read.ok())
            return read;
        if (n == 0)
            break;
        *got += n;
    } while (check_.refuse && *got < kSignatureBytes);
    return *got == 0 ? base::Status::Ok() : Judge(block_.get(), *got);
}

bool StreamReader::Next(Frame* frame)
{
    while (!splitter_.Next(frame)) {
        if (ended_)
            return false;
        size_t got = 0;
        status_ = input_->bytesRead() == 0 ? ReadFirstBlock(&got) : input_->Read(block_.get(), kBlockBytes, &got);
        if (!status_.ok() || got == 0) {
            ended_ = true;
            if (status_.ok() && input_->bytesRead() == 0)
                status_ = base::Status::Failure(base::kExitBadInput, name_ + ": byte 0: empty input, no frames");
            return false;
        }
        splitter_.Push(block_.get(), got);
    }
    return true;
}

std::string DescribeTruncation(const std::string& name, const Truncation& cut)
{
    return name + ": byte " + std::to_string(cut.offset) + ": truncated last frame (" + std::to_string(cut.present) +
           " of " + std::to_string(cut.expected) + " bytes)";
}

}  // namespace mervox::media::stream
