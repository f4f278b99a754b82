#include "loss.h"

namespace mervox::cli {
namespace {

constexpr size_t kMaskBlockBytes = 64 * 1024;

}  // namespace

LossPlan::LossPlan(std::unique_ptr<tools::InputFile> mask, RandomDrops drops) : mask_(std::move(mask)), drops_(drops)
{
    if (mask_)
        block_ = std::make_unique<uint8_t[]>(kMaskBlockBytes);
}

tools::Result<LossPlan> LossPlan::Open(const std::string& maskPath, double dropRate, uint64_t seed)
{
    std::unique_ptr<tools::InputFile> mask;
    if (!maskPath.empty()) {
        tools::Result<tools::InputFile> opened = tools::InputFile::Open(maskPath);
        if (!opened.ok())
            return opened.status();
        mask = std::make_unique<tools::InputFile>(std::move(opened.value()));
    }
    return LossPlan(std::move(mask), RandomDrops(dropRate, seed));
}

bool LossPlan::NextMaskByte()
{
    if (!mask_ || maskEnded_)
        return false;
    if (blockPosition_ == blockSize_) {
        blockPosition_ = blockSize_ = 0;
        status_ = mask_->Read(block_.get(), kMaskBlockBytes, &blockSize_);
        if (!status_.ok() || blockSize_ == 0) {
            maskEnded_ = true;
            return false;
        }
    }
    return block_[blockPosition_++] != 0;
}

bool LossPlan::NextLost()
{
    const bool masked = NextMaskByte();
    const bool dropped = drops_.Next();  // drawn for every frame, masked or not
    return masked || dropped;
}

tools::Result<uint64_t> LossPlan::MaskBytes()
{
    if (!mask_)
        return uint64_t{0};
    while (!maskEnded_) {
        blockPosition_ = blockSize_;
        NextMaskByte();
    }
    if (!status_.ok())
        return status_;
    return mask_->bytesRead();
}

std::vector<uint8_t> BuildLossPlan(size_t frames, const std::vector<uint8_t>& mask, double dropRate, uint64_t seed)
{
    RandomDrops drops(dropRate, seed);
    std::vector<uint8_t> lost(frames, 0);
    for (size_t k = 0; k < frames; ++k) {
        const bool dropped = drops.Next();
        lost[k] = (k < mask.size() && mask[k] != 0) || dropped;
    }
    return lost;
}

}  // namespace mervox::cli
