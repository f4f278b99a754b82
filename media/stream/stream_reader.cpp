#include "stream_reader.h"

namespace mervox::tools {

StreamReader::StreamReader(InputFile input)
    : input_(std::move(input)), name_(input_->name()), block_(std::make_unique<uint8_t[]>(kBlockBytes))
{}

StreamReader StreamReader::FromBytes(const uint8_t* data, size_t size, std::string name)
{
    StreamReader reader(std::move(name));
    reader.ended_ = true;
    if (size == 0)
        reader.status_ = Status::Failure(kExitBadInput, reader.name_ + ": byte 0: empty input, no frames");
    else
        reader.splitter_.Push(data, size);
    return reader;
}

Result<StreamReader> StreamReader::Open(const std::string& path)
{
    Result<InputFile> input = InputFile::Open(path);
    if (!input.ok())
        return input.status();
    return StreamReader(std::move(input.value()));
}

bool StreamReader::Next(Frame* frame)
{
    while (!splitter_.Next(frame)) {
        if (ended_)
            return false;
        size_t got = 0;
        status_ = input_->Read(block_.get(), kBlockBytes, &got);
        if (!status_.ok() || got == 0) {
            ended_ = true;
            if (status_.ok() && input_->bytesRead() == 0)
                status_ = Status::Failure(kExitBadInput, name_ + ": byte 0: empty input, no frames");
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

}  // namespace mervox::tools
