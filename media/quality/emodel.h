// The ITU-T G.107 E-model: a transmission rating R from the impairments of
// a connection, and the estimated mean opinion score (MOS) of listening
// and talking that R stands for (G.107 Annex B).
//
//   R = Ro - Is - Id - Ie,eff + A
//
// Ro: the basic signal-to-noise ratio (circuit and room noise); Is: the
// impairments simultaneous with the voice (loudness, sidetone,
// quantisation); Id: those of delay (talker echo, listener echo, absolute
// delay); Ie,eff: the codec's equipment impairment Ie raised by packet loss,
//   Ie,eff = Ie + (95 - Ie) * Ppl / (Ppl / BurstR + Bpl);
// A: the advantage of access. Every parameter has G.107's default unless
// set; with them all, R = 93.2.
#pragma once

namespace mervox::media::quality {

struct EModelParameters {
    double sendLoudness = 8;            // SLR, dB
    double receiveLoudness = 2;         // RLR, dB
    double sidetoneMasking = 15;        // STMR, dB
    double listenerSidetone = 18;       // LSTR, dB
    double sendDirectivity = 3;         // Ds, D-value of the telephone's send side
    double receiveDirectivity = 3;      // Dr
    double talkerEchoLoudness = 65;     // TELR, dB
    double weightedEchoPathLoss = 110;  // WEPL, dB
    double meanDelayMs = 0;             // T: mean one-way delay of the echo path
    double roundTripDelayMs = 0;        // Tr: round-trip delay of a four-wire loop
    double absoluteDelayMs = 0;         // Ta: absolute one-way delay
    double quantisingUnits = 1;         // qdu
    double equipmentImpairment = 0;     // Ie
    double lossRobustness = 4.3;        // Bpl
    double lossPercent = 0;             // Ppl
    double burstRatio = 1;              // BurstR
    double circuitNoise = -70;          // Nc, dBm0p
    double noiseFloor = -64;            // Nfor, dBmp
    double sendRoomNoise = 35;          // Ps, dB(A)
    double receiveRoomNoise = 35;       // Pr, dB(A)
    double advantage = 0;               // A
};

struct EModelResult {
    double ro = 0;     // basic signal-to-noise ratio
    double is = 0;     // simultaneous impairments
    double id = 0;     // delay impairments (Idte + Idle + Idd)
    double idd = 0;    // of the absolute delay alone
    double ieEff = 0;  // effective equipment impairment
    double r = 0;      // the rating
    double mos = 0;    // MOS by Annex B
};

EModelResult RateConnection(const EModelParameters& p);
// G.107 Annex B: 1 below R = 0, 4.5 above R = 100, else
// 1 + 0.035 R + R (R - 60) (100 - R) 7e-6.
double MosFromR(double r);
// Ie,eff alone.
double EffectiveEquipmentImpairment(double ie, double bpl, double lossPercent, double burstRatio);
// Idd alone (0 up to 100 ms).
double AbsoluteDelayImpairment(double absoluteDelayMs);

}  // namespace mervox::media::quality
