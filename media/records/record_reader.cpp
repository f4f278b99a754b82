// The first four bytes decide: a pcapng section header's block type, or one
// of classic pcap's magic numbers in either byte order.
#include "records/record_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "records/pcap_reader.h"
#include "records/pcapng_reader.h"

namespace mervox::media::records {

void RecordReader::NoteLinkType(int linkType)
{
    if (std::find(linkTypes_.begin(), linkTypes_.end(), linkType) == linkTypes_.end())
        linkTypes_.push_back(linkType);
}

RecordResult RecordReader::Next(CaptureRecord& record)
{
    if (stopped_)
        return RecordResult::kEnd;
    const RecordResult result = ReadRecord(record);
    if (result != RecordResult::kRecord && input_->Stopped()) {
        stopped_ = true;
        error_.clear();
        return RecordResult::kEnd;
    }
    return result;
}

std::unique_ptr<RecordReader> RecordReader::Open(std::unique_ptr<CaptureInput> input, std::string* error)
{
    uint8_t magic[4];
    const size_t got = input->Read(magic, sizeof magic);
    if (got == 0) {
        *error = input->Failed()    ? std::string("read error: ") + std::strerror(errno)
                 : input->Stopped() ? "stopped before the capture began"
                                    : "empty input";
        return nullptr;
    }
    // A section header's block type reads the same in either byte order.
    if (got == 4 && std::memcmp(magic, "\x0a\x0d\x0d\x0a", 4) == 0) {
        auto reader = std::make_unique<PcapngReader>(std::move(input));
        if (!reader->ReadFirstSection()) {
            *error = reader->input_->Stopped() ? "stopped before the capture began" : reader->error();
            return nullptr;
        }
        return reader;
    }
    if (got == 4 && IsPcapMagic(magic)) {
        auto reader = std::make_unique<PcapReader>(std::move(input), magic);
        if (!reader->ReadFileHeader()) {
            *error = reader->input_->Stopped() ? "stopped before the capture began" : reader->error();
            return nullptr;
        }
        return reader;
    }
    *error = input->Stopped() ? "stopped before the capture began"
             : got < 4        ? "too short for a capture (" + std::to_string(got) + " bytes)"
                              : "neither a pcap nor a pcapng capture (unknown magic number)";
    return nullptr;
}

}  // namespace mervox::media::records
