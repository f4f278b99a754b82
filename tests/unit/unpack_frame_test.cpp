// Frame unpacking: every field at its bit position, least significant bit
// first, at both rates, and the codes that mark a frame bad.
#include <gtest/gtest.h>

#include <cstring>

#include "bitstream/bitstream.h"
#include "codec_facts.h"

namespace mervox {
namespace {

// A frame assembled field by field at absolute bit positions.
struct FrameBits {
    uint8_t bytes[24] = {};
    explicit FrameBits(int type) { Put(0, 2, type); }
    void Put(int first, int width, uint32_t value)
    {
        for (int k = 0; k < width; ++k) {
            uint8_t& byte = bytes[(first + k) / 8];
            const unsigned bit = 1u << (first + k) % 8;
            byte = static_cast<uint8_t>(((value >> k) & 1u) ? byte | bit : byte & ~bit);
        }
    }
    FrameParams Unpack(int rate) const
    {
        uint8_t copy[24];
        std::memcpy(copy, bytes, sizeof copy);
        FrameParams p;
        std::memset(&p, 0x5a, sizeof p);  // every field must be written
        UnpackFrame(p, copy, rate, 0);
        return p;
    }
};

bool Same(const FrameParams& a, const FrameParams& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Common fields with a distinct value in each (lags >= 58: 12-bit gain words).
FrameBits CommonFields(int type)
{
    FrameBits f(type);
    const int layout[][3] = {{2, 8, 0xa1},   {10, 8, 0x3c},  {18, 8, 0x96}, {26, 7, 100},
                             {33, 2, 2},     {35, 7, 45},    {42, 2, 3},    {44, 12, 24 * 169 + 23},
                             {56, 12, 2407}, {68, 12, 2040}, {80, 12, 35},  {92, 4, 0b1010}};
    for (const auto& field : layout)
        f.Put(field[0], field[1], field[2]);
    return f;
}

void ExpectCommonFields(const FrameParams& p)
{
    EXPECT_EQ(p.badFrame, 0);
    EXPECT_EQ(p.lspIndex[0], 0x96);
    EXPECT_EQ(p.lspIndex[1], 0x3c);
    EXPECT_EQ(p.lspIndex[2], 0xa1);
    EXPECT_EQ(p.openLoopLag[0], 118);
    EXPECT_EQ(p.openLoopLag[1], 63);
    const int lagOffset[4] = {1, 2, 1, 3}, gain[4] = {169, 100, 85, 1}, amp[4] = {23, 7, 0, 11};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(p.sub[i].lagOffset, lagOffset[i]) << i;
        EXPECT_EQ(p.sub[i].gainIndex, gain[i]) << i;
        EXPECT_EQ(p.sub[i].ampIndex, amp[i]) << i;
        EXPECT_EQ(p.sub[i].trainFlag, 0) << i;
        EXPECT_EQ(p.sub[i].grid, i % 2) << i;
    }
}

TEST(UnpackFrame, MultipulseLayout)
{
    FrameBits f = CommonFields(0);
    const int layout[][3] = {{97, 13, 7 * 810 + 3 * 90 + 8 * 9 + 5},
                             {110, 16, 0xbeef},
                             {126, 14, 0x1234},
                             {140, 16, 0x0f0f},
                             {156, 14, 0x2aaa},
                             {170, 6, 0x25},
                             {176, 5, 0x13},
                             {181, 6, 0x3e},
                             {187, 5, 0x01}};
    for (const auto& field : layout)
        f.Put(field[0], field[1], field[2]);
    const FrameParams p = f.Unpack(kRate63);
    ExpectCommonFields(p);
    const int positions[4] = {7 * 65536 + 0xbeef, 3 * 16384 + 0x1234, 8 * 65536 + 0x0f0f, 5 * 16384 + 0x2aaa};
    const int signs[4] = {0x25, 0x13, 0x3e, 0x01};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(p.sub[i].pulsePositions, positions[i]) << i;
        EXPECT_EQ(p.sub[i].pulseSigns, signs[i]) << i;
    }

    // The reserved bit 96 never matters; a combined code of 10 * 810 or more
    // (8191: m = 10, 1, 0, 1) is passed on without a fault.
    f.Put(97, 13, 8191);
    const FrameParams q = f.Unpack(kRate63);
    EXPECT_EQ(q.badFrame, 0);
    EXPECT_EQ(q.sub[0].pulsePositions, 10 * 65536 + 0xbeef);
    EXPECT_EQ(q.sub[1].pulsePositions, 1 * 16384 + 0x1234);
    EXPECT_EQ(q.sub[2].pulsePositions, 0 * 65536 + 0x0f0f);
    EXPECT_EQ(q.sub[3].pulsePositions, 1 * 16384 + 0x2aaa);
    f.Put(96, 1, 1);
    EXPECT_TRUE(Same(q, f.Unpack(kRate63)));
}

TEST(UnpackFrame, AlgebraicLayoutEndsAtBit159)
{
    FrameBits f = CommonFields(1);
    const int positions[4] = {0xabc, 0x123, 0xfff, 0x801}, signs[4] = {0x9, 0x6, 0xf, 0x2};
    for (int i = 0; i < 4; ++i) {
        f.Put(96 + 12 * i, 12, positions[i]);
        f.Put(144 + 4 * i, 4, signs[i]);
    }
    const FrameParams p = f.Unpack(kRate53);
    ExpectCommonFields(p);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(p.sub[i].pulsePositions, positions[i]) << i;
        EXPECT_EQ(p.sub[i].pulseSigns, signs[i]) << i;
    }
    f.Put(160, 32, 0xffffffff);  // bytes 20-23 are not part of a 20-byte frame
    EXPECT_TRUE(Same(p, f.Unpack(kRate53)));
}

TEST(UnpackFrame, LagCodeFaults)
{
    FrameBits f(0);
    f.Put(26, 7, 123);
    f.Put(35, 7, 124);
    FrameParams p = f.Unpack(kRate63);
    EXPECT_EQ(p.openLoopLag[0], 141);
    EXPECT_EQ(p.openLoopLag[1], 124);  // the raw code is kept
    EXPECT_EQ(p.badFrame, 1);

    // Both lag codes faulty and one faulty gain word: three faults. The raw
    // code is not below 58, so the 12-bit word 170 * 24 is the fault.
    f.Put(26, 7, 127);
    f.Put(80, 12, 170 * 24);
    p = f.Unpack(kRate63);
    EXPECT_EQ(p.badFrame, 3);
    EXPECT_EQ(p.sub[3].gainIndex, 170);
}

TEST(UnpackFrame, GainWordDependsOnRateAndOpenLoopLag)
{
    const struct {
        int rate, lag, word, train, gain, amp, faults;
    } cases[] = {
        {kRate63, 57, 4095, 1, 85, 7, 1},  // lag 57: bit 11 is the train flag
        {kRate63, 57, 85 * 24 - 1, 0, 84, 23, 0},   {kRate63, 57, 2048 + 85 * 24 - 1, 1, 84, 23, 0},
        {kRate63, 58, 2048 + 74, 0, 88, 10, 0},  // lag 58: all 12 bits are gain
        {kRate63, 58, 170 * 24 - 1, 0, 169, 23, 0}, {kRate63, 58, 170 * 24, 0, 170, 0, 1},
        {kRate53, 57, 2048 + 74, 0, 88, 10, 0},  // 5.3 kbit/s never has a train
    };
    for (const auto& c : cases) {
        FrameBits f(c.rate);
        f.Put(35, 7, c.lag - 18);
        f.Put(68, 12, c.word);
        f.Put(80, 12, c.word);
        const FrameParams p = f.Unpack(c.rate);
        for (int i = 2; i < 4; ++i) {
            EXPECT_EQ(p.sub[i].trainFlag, c.train) << c.word;
            EXPECT_EQ(p.sub[i].gainIndex, c.gain) << c.word;
            EXPECT_EQ(p.sub[i].ampIndex, c.amp) << c.word;
        }
        EXPECT_EQ(p.badFrame, 2 * c.faults) << c.word;
    }
}

TEST(UnpackFrame, TypesTwoAndThreeUseTheirRateLayoutWithOneFault)
{
    for (int type : {2, 3}) {
        const int rate = type & 1;
        FrameBits f = CommonFields(rate);
        f.Put(110, 16, 0x4321);
        FrameParams expected = f.Unpack(rate);
        expected.badFrame = 1;
        f.Put(0, 2, type);
        EXPECT_TRUE(Same(f.Unpack(rate), expected)) << type;
    }
}

}  // namespace
}  // namespace mervox
