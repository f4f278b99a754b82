// The quality figures against values worked out by hand: the E-model's
// pieces with G.107's defaults (No -61.18, Ro 94.77, Is 1.41, Id 0.15, R
// 93.2) and with G.723.1's impairments, MOS by Annex B, the two-state loss
// model, the fixed jitter buffer and the RTP statistics.
#include <gtest/gtest.h>

#include <vector>

#include "quality/emodel.h"
#include "quality/jitter_buffer.h"
#include "quality/rtp_stats.h"
#include "quality/stream_quality.h"

namespace mervox::media::quality {
namespace {

constexpr int64_t kMs = 1000000;

TEST(QualityEModel, DefaultsGiveTheRatingOfTheRecommendation)
{
    const EModelResult r = RateConnection({});
    EXPECT_NEAR(r.ro, 94.77, 0.005);
    EXPECT_NEAR(r.is, 1.41, 0.005);
    EXPECT_NEAR(r.id, 0.15, 0.005);  // listener echo alone: T = 0 gives no talker echo
    EXPECT_EQ(r.idd, 0);
    EXPECT_EQ(r.ieEff, 0);
    EXPECT_NEAR(r.r, 93.2, 0.01);
    EXPECT_NEAR(r.mos, 1 + 0.035 * r.r + r.r * (r.r - 60) * (100 - r.r) * 7e-6, 1e-12);
}

TEST(QualityEModel, G7231WithoutLossAndWithLoss)
{
    // 6.3 kbit/s, one frame a packet behind a 60 ms buffer: Ta = 97.5 ms,
    // below Idd's 100 ms; Ie 15 takes R from 93.2 to 78.2, and the delay's
    // echoes (TELR 65, WEPL 110) cost Idte = 1.92 (TERV 32.44, Re 126.1,
    // Roe 94.77) and Idle = 0.72 (Tr 195 ms: Rle 328.3).
    EModelParameters p;
    p.equipmentImpairment = kIe6300;
    p.lossRobustness = kBplG7231;
    p.meanDelayMs = p.absoluteDelayMs = 97.5;
    p.roundTripDelayMs = 195;
    const EModelResult clean = RateConnection(p);
    EXPECT_EQ(clean.ieEff, 15);
    EXPECT_EQ(clean.idd, 0);
    EXPECT_NEAR(clean.r, clean.ro - clean.is - clean.id - clean.ieEff, 1e-9);
    EXPECT_NEAR(clean.id, 1.92 + 0.72, 0.01);
    EXPECT_NEAR(clean.r, 94.77 - 1.41 - 2.64 - 15, 0.02);
    // 2 % random loss: Ie,eff = 15 + 80 * 2 / (2 + 16.1) = 23.8398.
    p.lossPercent = 2;
    const EModelResult lossy = RateConnection(p);
    EXPECT_NEAR(lossy.ieEff, 23.8398, 1e-4);
    EXPECT_NEAR(clean.r - lossy.r, 8.8398, 1e-4);
    // The same loss in bursts (BurstR 2) costs more: 15 + 160 / 17.1.
    EXPECT_NEAR(EffectiveEquipmentImpairment(15, 16.1, 2, 2), 24.3567, 1e-4);
    EXPECT_EQ(EffectiveEquipmentImpairment(19, 16.1, 0, 1), 19);
}

TEST(QualityEModel, AbsoluteDelayAndMos)
{
    EXPECT_EQ(AbsoluteDelayImpairment(100), 0);
    // X = 1: 25 ((2)^(1/6) - 3 (1 + 1/729)^(1/6) + 2).
    EXPECT_NEAR(AbsoluteDelayImpairment(200), 3.0444, 1e-3);
    // X = 2: 25 (65^(1/6) - 3 (1 + (2/3)^6)^(1/6) + 2).
    EXPECT_NEAR(AbsoluteDelayImpairment(400), 24.07, 0.01);
    EXPECT_EQ(MosFromR(-5), 1);
    EXPECT_EQ(MosFromR(0), 1);
    EXPECT_NEAR(MosFromR(50), 2.575, 1e-12);
    EXPECT_NEAR(MosFromR(80), 4.024, 1e-12);
    EXPECT_NEAR(MosFromR(100), 4.5, 1e-12);
    EXPECT_EQ(MosFromR(120), 4.5);
}

TEST(QualityLossModel, TwoStateTransitions)
{
    const bool L = true, R = false;
    // R R L L R R R L R R: RR 4, RL 2, LL 1, LR 2.
    const LossTransitions t = TransitionsOf({R, R, L, L, R, R, R, L, R, R});
    EXPECT_EQ(t.received, 7u);
    EXPECT_EQ(t.lost, 3u);
    EXPECT_EQ(t.receivedToReceived, 4u);
    EXPECT_EQ(t.receivedToLost, 2u);
    EXPECT_EQ(t.lostToLost, 1u);
    EXPECT_EQ(t.lostToReceived, 2u);
    EXPECT_NEAR(t.LossPercent(), 30, 1e-12);
    EXPECT_NEAR(t.P(), 1.0 / 3, 1e-12);
    EXPECT_NEAR(t.Q(), 2.0 / 3, 1e-12);
    EXPECT_NEAR(t.BurstRatio(), 1, 1e-12);  // p + q = 1: as random
    // Eight received, four lost together, eight received: p 1/15, q 1/4.
    std::vector<bool> burst(20, R);
    for (int i = 8; i < 12; ++i)
        burst[i] = L;
    const LossTransitions b = TransitionsOf(burst);
    EXPECT_NEAR(b.BurstRatio(), 1 / (1.0 / 15 + 1.0 / 4), 1e-12);
    // No loss, or nothing received: BurstR is taken as 1.
    EXPECT_EQ(TransitionsOf({R, R, R}).BurstRatio(), 1);
    EXPECT_EQ(TransitionsOf({L, L}).BurstRatio(), 1);
    LossTransitions sum = t;
    sum.Add(b);
    EXPECT_EQ(sum.lost, 7u);
    EXPECT_EQ(sum.receivedToLost, 3u);
}

// Packets every 30 ms (240 ticks), arriving `delay` ms late.
void Send(FixedJitterBuffer& buffer, int i, double delayMs, uint16_t first = 100, bool timed = true)
{
    buffer.Add(i * 30 * kMs + static_cast<int64_t>(delayMs * 1e6), static_cast<uint16_t>(first + i),
               static_cast<uint32_t>(1000 + 240 * i), timed);
}

TEST(QualityJitterBuffer, LatePacketsAreLostAndReorderingWithinTheBufferIsNot)
{
    FixedJitterBuffer buffer;  // 60 ms
    Send(buffer, 0, 0);
    Send(buffer, 1, 59);
    Send(buffer, 3, 1);
    Send(buffer, 2, 45);  // after 3, in time
    Send(buffer, 4, 61);  // 1 ms after its playout time
    Send(buffer, 5, 0);
    Send(buffer, 3, 70);  // a repeat: changes nothing
    // 6 never comes
    Send(buffer, 7, 10);
    Send(buffer, 8, 0);
    const JitterBufferResult r = buffer.Finish();
    EXPECT_EQ(r.late, 2u);  // 4, and the repeat of 3
    EXPECT_EQ(r.loss.received, 7u);
    EXPECT_EQ(r.loss.lost, 2u);  // 4 (late) and 6 (missing)
    // R R R R L R L R R
    EXPECT_EQ(r.loss.receivedToLost, 2u);
    EXPECT_EQ(r.loss.lostToReceived, 2u);
    EXPECT_EQ(r.loss.receivedToReceived, 4u);
    EXPECT_EQ(r.resyncs, 0u);
}

TEST(QualityJitterBuffer, AnchorDelayedFirstPacketResyncWrapAndUntimedPackets)
{
    {
        // The first packet 40 ms late: the others have 100 ms.
        FixedJitterBuffer buffer;
        Send(buffer, 0, 40);
        Send(buffer, 1, 95);
        Send(buffer, 2, 101);
        const JitterBufferResult r = buffer.Finish();
        EXPECT_EQ(r.late, 1u);
        EXPECT_EQ(r.loss.lost, 1u);
    }
    {
        // The sender's clock jumps 10 s ahead: a new anchor, nothing late;
        // sequence numbers wrap at 65536 without a loss.
        FixedJitterBuffer buffer;
        for (int i = 0; i < 10; ++i)
            buffer.Add(i * 30 * kMs, static_cast<uint16_t>(65530 + i),
                       static_cast<uint32_t>(240 * i + (i >= 5 ? 80000 : 0)));
        const JitterBufferResult r = buffer.Finish();
        EXPECT_EQ(r.resyncs, 1u);
        EXPECT_EQ(r.late, 0u);
        EXPECT_EQ(r.loss.received, 10u);
        EXPECT_EQ(r.loss.lost, 0u);
    }
    {
        // Telephone events keep one timestamp: played whenever they come.
        FixedJitterBuffer buffer;
        Send(buffer, 0, 0);
        Send(buffer, 1, 500, 100, false);
        Send(buffer, 2, 0);
        const JitterBufferResult r = buffer.Finish();
        EXPECT_EQ(r.late, 0u);
        EXPECT_EQ(r.loss.received, 3u);
    }
}

RtpArrival Packet(double ms, uint16_t sequence, uint32_t timestamp, bool marker = false)
{
    RtpArrival p;
    p.arrivalNs = static_cast<int64_t>(ms * 1e6);
    p.sequence = sequence;
    p.timestamp = timestamp;
    p.marker = marker;
    p.payloadType = 4;
    return p;
}

TEST(QualityRtpStats, DeltaJitterLossAndRepeatsByHand)
{
    RtpStatistics s;
    s.Add(Packet(0, 1, 0));
    s.Add(Packet(30, 2, 240));  // D = 0: J = 0
    s.Add(Packet(65, 3, 480));  // D = 5: J = 5/16
    s.Add(Packet(90, 4, 720));  // D = 5: J = (15 * 5/16 + 5) / 16
    RtpStats r = s.Result();
    EXPECT_EQ(r.packets, 4u);
    EXPECT_EQ(r.expected, 4u);
    EXPECT_EQ(r.lost, 0);
    EXPECT_DOUBLE_EQ(r.deltaMs.min, 25);
    EXPECT_DOUBLE_EQ(r.deltaMs.mean, 30);
    EXPECT_DOUBLE_EQ(r.deltaMs.max, 35);
    const double j4 = (15 * 0.3125 + 5) / 16;
    EXPECT_DOUBLE_EQ(r.jitterMs.min, 0);
    EXPECT_DOUBLE_EQ(r.jitterMs.max, j4);
    EXPECT_NEAR(r.jitterMs.mean, (0 + 0.3125 + j4) / 3, 1e-12);
    EXPECT_DOUBLE_EQ(r.lastJitterMs, j4);

    // A repeat, a loss, a talkspurt after a long pause (marker: in no
    // minimum or maximum), a packet out of order.
    s.Add(Packet(95, 3, 480));
    s.Add(Packet(150, 6, 1200));
    s.Add(Packet(5000, 7, 40000, true));
    s.Add(Packet(5030, 9, 40480));
    s.Add(Packet(5031, 8, 40240));
    r = s.Result();
    EXPECT_EQ(r.packets, 9u);
    EXPECT_EQ(r.expected, 8u);  // up to the last packet's number, 8
    EXPECT_EQ(r.lost, -1);
    EXPECT_EQ(r.duplicates, 1u);
    EXPECT_EQ(r.outOfOrder, 1u);
    EXPECT_EQ(r.sequenceErrors, 4u);  // the repeat, the gap to 6, the gap to 9, the late 8
    EXPECT_DOUBLE_EQ(r.deltaMs.max, 55);
    EXPECT_DOUBLE_EQ(r.deltaMs.min, 1);
}

TEST(QualityRtpStats, SequenceWrapOldTimestampAndClockDrift)
{
    RtpStatistics s(1000 * kMs);  // times from a reference
    for (int i = 0; i < 20; ++i)  // 65530 ... 13: one wrap
        s.Add(Packet(1000 + i * 30.03, static_cast<uint16_t>(65530 + i), static_cast<uint32_t>(0xfffff000u + 240 * i)));
    RtpStats r = s.Result();
    EXPECT_EQ(r.expected, 20u);
    EXPECT_EQ(r.lost, 0);
    EXPECT_EQ(r.sequenceErrors, 0u);
    // The RTP clock runs 30 ms a packet against 30.03 ms of capture time.
    EXPECT_NEAR(r.clockDriftPpm, (30 / 30.03 - 1) * 1e6, 0.01);
    EXPECT_NEAR(r.clockDriftMs, -19 * 0.03, 1e-6);
    // A packet stamped before the first counts, and takes no part in times.
    const RtpStats before = s.Result();
    s.Add(Packet(1000 + 20 * 30.03, 14, 0xffffe000u));
    r = s.Result();
    EXPECT_EQ(r.packets, 21u);
    EXPECT_EQ(r.deltaMs.max, before.deltaMs.max);
    EXPECT_EQ(r.jitterMs.max, before.jitterMs.max);
}

TEST(QualityEstimate, DirectionOfStreamsWeighsRatesAndSumsLosses)
{
    StreamQualityMeter fast, slow;
    for (int i = 0; i < 10; ++i) {
        if (i != 4)  // one lost
            fast.Audio(Packet(i * 30, static_cast<uint16_t>(i), static_cast<uint32_t>(240 * i)), 1, 1, 0);
        slow.Audio(Packet(i * 60, static_cast<uint16_t>(i), static_cast<uint32_t>(480 * i)), 2, 0, 2);
    }
    const StreamQuality a = fast.Finish(), b = slow.Finish();
    const ListeningQuality alone = EstimateListening({&a});
    EXPECT_EQ(alone.equipmentImpairment, kIe6300);
    EXPECT_NEAR(alone.lossPercent, 10, 1e-12);
    EXPECT_DOUBLE_EQ(alone.delayMs, 60 + 30 + 7.5);
    const ListeningQuality both = EstimateListening({&a, &b});
    // 9 frames at 6.3, 20 at 5.3 kbit/s; 1 lost of 20 packets; 29 frames in 19 packets.
    EXPECT_NEAR(both.equipmentImpairment, (15.0 * 9 + 19.0 * 20) / 29, 1e-12);
    EXPECT_NEAR(both.lossPercent, 5, 1e-12);
    EXPECT_NEAR(both.delayMs, 60 + 7.5 + 30 * 29.0 / 19, 1e-9);
    EXPECT_NEAR(both.model.ieEff, EffectiveEquipmentImpairment(both.equipmentImpairment, 16.1, 5, both.burstRatio),
                1e-12);
}

}  // namespace
}  // namespace mervox::media::quality
