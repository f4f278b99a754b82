#include "quality/emodel.h"

#include <cmath>

namespace mervox::media::quality {
namespace {

double Power10(double x) { return std::pow(10.0, x); }

}  // namespace

double MosFromR(double r)
{
    if (r < 0)
        return 1;
    if (r > 100)
        return 4.5;
    return 1 + 0.035 * r + r * (r - 60) * (100 - r) * 7e-6;
}

double EffectiveEquipmentImpairment(double ie, double bpl, double lossPercent, double burstRatio)
{
    if (lossPercent <= 0)
        return ie;
    return ie + (95 - ie) * lossPercent / (lossPercent / burstRatio + bpl);
}

double AbsoluteDelayImpairment(double ta)
{
    if (ta <= 100)
        return 0;
    const double x = std::log10(ta / 100) / std::log10(2.0);
    return 25 * (std::pow(1 + std::pow(x, 6), 1.0 / 6) - 3 * std::pow(1 + std::pow(x / 3, 6), 1.0 / 6) + 2);
}

EModelResult RateConnection(const EModelParameters& p)
{
    EModelResult out;
    const double slr = p.sendLoudness, rlr = p.receiveLoudness;
    const double olr = slr + rlr;
    const double t = p.meanDelayMs;

    // Ro: the noises, summed as powers.
    const double pre = p.receiveRoomNoise + 10 * std::log10(1 + Power10((10 - p.listenerSidetone) / 10));
    const double nos = p.sendRoomNoise - slr - p.sendDirectivity - 100 +
                       0.004 * std::pow(p.sendRoomNoise - olr - p.sendDirectivity - 14, 2);
    const double nor = rlr - 121 + pre + 0.008 * std::pow(pre - 35, 2);
    const double nfo = p.noiseFloor + rlr;
    const double no =
        10 * std::log10(Power10(p.circuitNoise / 10) + Power10(nos / 10) + Power10(nor / 10) + Power10(nfo / 10));
    out.ro = 15 - 1.5 * (slr + no);

    // Is: loudness, sidetone, quantisation.
    const double xolr = olr + 0.2 * (64 + no - rlr);
    const double iolr = 20 * (std::pow(1 + std::pow(xolr / 8, 8), 1.0 / 8) - xolr / 8);
    const double stmro =
        -10 * std::log10(Power10(-p.sidetoneMasking / 10) + std::exp(-t / 4) * Power10(-p.talkerEchoLoudness / 10));
    const double ist = 12 * std::pow(1 + std::pow((stmro - 13) / 6, 8), 1.0 / 8) -
                       28 * std::pow(1 + std::pow((stmro + 1) / 19.4, 35), 1.0 / 35) -
                       13 * std::pow(1 + std::pow((stmro - 3) / 33, 13), 1.0 / 13) + 29;
    const double q = 37 - 15 * std::log10(p.quantisingUnits);
    const double g = 1.07 + 0.258 * q + 0.0602 * q * q;
    const double y = (out.ro - 100) / 15 + 46 / 8.4 - g / 9;
    const double z = 46 / 30.0 - g / 40;
    const double iq = 15 * std::log10(1 + Power10(y) + Power10(z));
    out.is = iolr + ist + iq;

    // Id: talker echo, listener echo, absolute delay.
    const double roe = -1.5 * (no - rlr);
    const double terv =
        p.talkerEchoLoudness - 40 * std::log10((1 + t / 10) / (1 + t / 150)) + 6 * std::exp(-0.3 * t * t);
    const double terve = p.sidetoneMasking < 9 ? terv + ist / 2 : terv;
    const double re = 80 + 2.5 * (terve - 14);
    const double idte = ((roe - re) / 2 + std::sqrt(std::pow(roe - re, 2) / 4 + 100) - 1) * (1 - std::exp(-t));
    const double rle = 10.5 * (p.weightedEchoPathLoss + 7) * std::pow(p.roundTripDelayMs + 1, -0.25);
    const double idle = (out.ro - rle) / 2 + std::sqrt(std::pow(out.ro - rle, 2) / 4 + 169);
    out.idd = AbsoluteDelayImpairment(p.absoluteDelayMs);
    out.id = idte + idle + out.idd;

    out.ieEff = EffectiveEquipmentImpairment(p.equipmentImpairment, p.lossRobustness, p.lossPercent, p.burstRatio);
    out.r = out.ro - out.is - out.id - out.ieEff + p.advantage;
    out.mos = MosFromR(out.r);
    return out;
}

}  // namespace mervox::media::quality
