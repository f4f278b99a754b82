#include "decode/loss.h"

#include <algorithm>

namespace mervox::media::decode {
namespace {

constexpr size_t kMaskBlockBytes = 64 * 1024;

}  // namespace

LossPlan::LossPlan(std::unique_ptr<stream::InputFile> mask, RandomDrops drops) : mask_(std::move(mask)), drops_(drops)
{
    if (mask_)
        block_ = std::make_unique<uint8_t[]>(kMaskBlockBytes);
}

base::Result<LossPlan> LossPlan::Open(const std::string& maskPath, double dropRate, uint64_t seed)
{
    std::unique_ptr<stream::InputFile> mask;
    if (!maskPath.empty()) {
        base::Result<stream::InputFile> opened = stream::InputFile::Open(maskPath);
        if (!opened.ok())
            return opened.status();
        mask = std::make_unique<stream::InputFile>(std::move(opened.value()));
    }
    return LossPlan(std::move(mask), RandomDrops(dropRate, seed));
}

LossPlan LossPlan::FromBytes(std::vector<uint8_t> mask, double dropRate, uint64_t seed)
{
    LossPlan plan(nullptr, RandomDrops(dropRate, seed));
    plan.memoryMask_ = true;
    plan.blockSize_ = mask.size();
    plan.block_ = std::make_unique<uint8_t[]>(mask.size());
    std::copy(mask.begin(), mask.end(), plan.block_.get());
    return plan;
}

bool LossPlan::NextMaskByte()
{
    if ((!mask_ && !memoryMask_) || maskEnded_)
        return false;
    if (blockPosition_ == blockSize_) {
        if (memoryMask_) {
            maskEnded_ = true;
            return false;
        }
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

base::Result<uint64_t> LossPlan::MaskBytes()
{
    if (memoryMask_)
        return uint64_t{blockSize_};
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
    LossPlan plan = LossPlan::FromBytes(mask, dropRate, seed);
    std::vector<uint8_t> lost(frames, 0);
    for (size_t k = 0; k < frames; ++k)
        lost[k] = plan.NextLost();
    return lost;
}

}  // namespace mervox::media::decode
