// Frame unpacking: every field at its bit position, least significant bit
// first, at both rates, and the codes that mark a frame bad.
#include <gtest/gtest.h>

#include <cstring>

#include "bitstream/bitstream.h"
#include "dimensions.h"

namespace mervox {
namespace {

// A frame assembled field by field at absolute bit positions.
struct FrameBits {
    uint8_t bytes[24] = {};

    explicit FrameBits(int type) { Put(0, 2, type); }

    void Put(int first, int width, uint32_t value)
    {
        for (int k = 0; k < width; ++k) {
            const int bit = first + k;
            bytes[bit / 8] = static_cast<uint8_t>((bytes[bit / 8] & ~(1u << (bit % 8))) | (((value >> k) & 1u) << (bit % 8)));
        }
    }
};

FrameParams Unpack(const FrameBits& f, int rate, int erasure = 0)
{
    uint8_t copy[24];
    std::memcpy(copy, f.bytes, sizeof copy);
    FrameParams p;
    std::memset(&p, 0x5a, sizeof p);  // every field must be written
    UnpackFrame(p, copy, rate, erasure);
    return p;
}

// Common fields with a distinct value in each, gain words valid for lags >= 58.
FrameBits CommonFields(int type)
{
    FrameBits f(type);
    f.Put(2, 8, 0xa1);   // lspIndex[2]
    f.Put(10, 8, 0x3c);  // lspIndex[1]
    f.Put(18, 8, 0x96);  // lspIndex[0]
    f.Put(26, 7, 100);   // first open-loop lag code -> 118
    f.Put(33, 2, 2);     // sub[1].lagOffset
    f.Put(35, 7, 45);    // second open-loop lag code -> 63
    f.Put(42, 2, 3);     // sub[3].lagOffset
    f.Put(44, 12, 24 * 169 + 23);
    f.Put(56, 12, 24 * 100 + 7);
    f.Put(68, 12, 24 * 85 + 0);
    f.Put(80, 12, 24 * 1 + 11);
    f.Put(92, 4, 0b1010);  // grid bits of subframes 1 and 3
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
    f.Put(97, 13, 7 * 810 + 3 * 90 + 8 * 9 + 5);  // m0..m3 = 7, 3, 8, 5
    f.Put(110, 16, 0xbeef);
    f.Put(126, 14, 0x1234);
    f.Put(140, 16, 0x0f0f);
    f.Put(156, 14, 0x2aaa);
    f.Put(170, 6, 0x25);
    f.Put(176, 5, 0x13);
    f.Put(181, 6, 0x3e);
    f.Put(187, 5, 0x01);
    const FrameParams p = Unpack(f, kRate63);
    ExpectCommonFields(p);
    EXPECT_EQ(p.sub[0].pulsePositions, 7 * 65536 + 0xbeef);
    EXPECT_EQ(p.sub[1].pulsePositions, 3 * 16384 + 0x1234);
    EXPECT_EQ(p.sub[2].pulsePositions, 8 * 65536 + 0x0f0f);
    EXPECT_EQ(p.sub[3].pulsePositions, 5 * 16384 + 0x2aaa);
    EXPECT_EQ(p.sub[0].pulseSigns, 0x25);
    EXPECT_EQ(p.sub[1].pulseSigns, 0x13);
    EXPECT_EQ(p.sub[2].pulseSigns, 0x3e);
    EXPECT_EQ(p.sub[3].pulseSigns, 0x01);

    // Bit 96 is reserved; a combined code of 10 * 810 or more is no fault.
    f.Put(96, 1, 1);
    f.Put(97, 13, 8191);
    const FrameParams q = Unpack(f, kRate63);
    EXPECT_EQ(q.badFrame, 0);
    EXPECT_EQ(q.sub[0].pulsePositions, 10 * 65536 + 0xbeef);
    EXPECT_EQ(q.sub[1].pulsePositions, 1 * 16384 + 0x1234);
    EXPECT_EQ(q.sub[2].pulsePositions, 0 * 65536 + 0x0f0f);
    EXPECT_EQ(q.sub[3].pulsePositions, 1 * 16384 + 0x2aaa);
    f.Put(96, 1, 0);
    const FrameParams r = Unpack(f, kRate63);
    EXPECT_EQ(std::memcmp(&q, &r, sizeof q), 0);
}

TEST(UnpackFrame, AlgebraicLayoutEndsAtBit159)
{
    FrameBits f = CommonFields(1);
    const int positions[4] = {0xabc, 0x123, 0xfff, 0x801}, signs[4] = {0x9, 0x6, 0xf, 0x2};
    for (int i = 0; i < 4; ++i) {
        f.Put(96 + 12 * i, 12, positions[i]);
        f.Put(144 + 4 * i, 4, signs[i]);
    }
    const FrameParams p = Unpack(f, kRate53);
    ExpectCommonFields(p);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(p.sub[i].pulsePositions, positions[i]) << i;
        EXPECT_EQ(p.sub[i].pulseSigns, signs[i]) << i;
    }
    f.Put(160, 32, 0xffffffff);  // bytes 20-23 are not part of a 20-byte frame
    const FrameParams q = Unpack(f, kRate53);
    EXPECT_EQ(std::memcmp(&p, &q, sizeof p), 0);
}

TEST(UnpackFrame, LostFrameAtEitherRate)
{
    for (int rate : {kRate63, kRate53}) {
        const FrameParams p = Unpack(FrameBits(0), rate, 1);
        EXPECT_EQ(p.badFrame, 1);
        EXPECT_EQ(p.openLoopLag[0], 18);
        EXPECT_EQ(p.openLoopLag[1], 18);
        for (int b = 0; b < 3; ++b)
            EXPECT_EQ(p.lspIndex[b], 0);
        for (int i = 0; i < 4; ++i) {
            const SubframeParams& s = p.sub[i];
            EXPECT_EQ(s.lagOffset, i % 2 == 0 ? 1 : 0);
            EXPECT_EQ(s.gainIndex | s.ampIndex | s.trainFlag | s.grid | s.pulseSigns | s.pulsePositions, 0);
        }
    }
}

TEST(UnpackFrame, LagCodeFaults)
{
    FrameBits f(0);
    f.Put(26, 7, 123);
    f.Put(35, 7, 124);
    FrameParams p = Unpack(f, kRate63);
    EXPECT_EQ(p.openLoopLag[0], 141);
    EXPECT_EQ(p.openLoopLag[1], 124);  // raw code kept
    EXPECT_EQ(p.badFrame, 1);

    // Both lag codes faulty and one faulty gain word: three faults. The raw
    // code 127 is not below 58, so the 12-bit word 170 * 24 is a fault.
    f.Put(26, 7, 127);
    f.Put(80, 12, 170 * 24);
    p = Unpack(f, kRate63);
    EXPECT_EQ(p.badFrame, 3);
    EXPECT_EQ(p.sub[3].gainIndex, 170);
    EXPECT_EQ(p.sub[3].trainFlag, 0);
}

TEST(UnpackFrame, GainWordDependsOnRateAndOpenLoopLag)
{
    struct Case {
        int rate, lagCode, word, train, gain, amp, bad;
    };
    const Case cases[] = {
        {kRate63, 57 - 18, 4095, 1, 85, 7, 1},           // lag 57: bit 11 is the train flag
        {kRate63, 57 - 18, 85 * 24 - 1, 0, 84, 23, 0},
        {kRate63, 57 - 18, 2048 + 85 * 24 - 1, 1, 84, 23, 0},
        {kRate63, 58 - 18, 2048 + 24 * 3 + 2, 0, 88, 10, 0},  // lag 58: all 12 bits are gain
        {kRate63, 58 - 18, 170 * 24 - 1, 0, 169, 23, 0},
        {kRate63, 58 - 18, 170 * 24, 0, 170, 0, 1},
        {kRate53, 57 - 18, 2048 + 24 * 3 + 2, 0, 88, 10, 0},  // 5.3 kbit/s never has a train
        {kRate53, 57 - 18, 170 * 24, 0, 170, 0, 1},
    };
    for (const Case& c : cases) {
        FrameBits f(c.rate);
        f.Put(26, 7, c.lagCode);
        f.Put(44, 12, c.word);
        f.Put(56, 12, c.word);
        const FrameParams p = Unpack(f, c.rate);
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(p.sub[i].trainFlag, c.train) << c.word;
            EXPECT_EQ(p.sub[i].gainIndex, c.gain) << c.word;
            EXPECT_EQ(p.sub[i].ampIndex, c.amp) << c.word;
        }
        EXPECT_EQ(p.badFrame, 2 * c.bad) << c.word;
    }
}

TEST(UnpackFrame, TypesTwoAndThreeUseTheirRateLayoutWithOneFault)
{
    for (int type : {2, 3}) {
        const int rate = type & 1;
        FrameBits good = CommonFields(rate);
        good.Put(110, 16, 0x4321);
        FrameBits odd = good;
        odd.Put(0, 2, type);
        uint8_t copy[24];
        std::memcpy(copy, odd.bytes, sizeof copy);
        FrameParams p;
        std::memset(&p, 0x5a, sizeof p);
        EXPECT_EQ(UnpackFrame(p, copy, rate, 0), rate ? 20 : 24);
        FrameParams q = Unpack(good, rate);
        EXPECT_EQ(p.badFrame, 1) << type;
        q.badFrame = 1;
        EXPECT_EQ(std::memcmp(&p, &q, sizeof p), 0) << type;
    }
}

TEST(ReadBits, LeastSignificantFirstAndZeroWidth)
{
    const uint8_t bits[8] = {1, 0, 1, 1, 0, 0, 0, 1};
    BitCursor c{bits, 0};
    EXPECT_EQ(ReadBits(c, 0), 0);
    EXPECT_EQ(c.position, 0);
    EXPECT_EQ(ReadBits(c, 3), 0b101);
    EXPECT_EQ(ReadBits(c, 5), 0b10001);
    EXPECT_EQ(c.position, 8);
}

}  // namespace
}  // namespace mervox
