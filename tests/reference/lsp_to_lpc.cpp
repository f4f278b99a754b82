// LSP interpolation and LPC conversion one set at a time, one value at a
// time: the straightforward form of the library's lane form.
#include "codec_facts.h"
#include "reference.h"
#include "tables/tables.h"

namespace mervox::reference {
namespace {

float NegatedCosine(float v)
{
    int k = 0;
    float f = 0.0f;
    if (v >= 0.0f) {
        k = v < 511.0f ? static_cast<int>(v) : 510;
        f = static_cast<float>(static_cast<double>(v) - k);
    }
    const double c0 = CosineTable[k];
    return static_cast<float>(-(c0 + (static_cast<double>(CosineTable[k + 1]) - c0) * f));
}

float ToFloat(double x) { return static_cast<float>(x); }

void HalfPolynomial(float p[6], const float c[10], int first)
{
    p[0] = 0.5f;
    p[1] = ToFloat(static_cast<double>(c[first]) + c[first + 2]);
    p[2] = ToFloat(static_cast<double>(c[first]) * c[first + 2] * 2.0 + 1.0);
    for (int i = 2; i <= 4; ++i) {
        const double e = c[first + 2 * i];
        p[i + 1] = ToFloat((p[i] * e + p[i - 1]) * 2.0);
        for (int j = i; j >= 2; --j)
            p[j] = ToFloat(p[j - 1] * e * 2.0 + p[j - 2] + p[j]);
        p[1] = ToFloat(e + p[1]);
    }
}

}  // namespace

void LspToLpc(float v[kLpcOrder])
{
    float c[10];
    for (int i = 0; i < 10; ++i)
        c[i] = NegatedCosine(v[i]);
    float p[6], q[6];
    HalfPolynomial(p, c, 0);
    HalfPolynomial(q, c, 1);
    for (int k = 0; k < 5; ++k) {
        v[k] = ToFloat(static_cast<double>(q[k]) - p[k + 1] - p[k] - q[k + 1]);
        v[9 - k] = ToFloat(static_cast<double>(q[k + 1]) - p[k + 1] - p[k] - q[k]);
    }
}

void InterpolateLspSet(float set[kLpcOrder], int subframe, const float curLsp[kLpcOrder],
                       const float prevLsp[kLpcOrder])
{
    const double w = LspInterpolationWeights[subframe];
    for (int i = 0; i < kLpcOrder; ++i)
        set[i] = static_cast<float>((static_cast<double>(curLsp[i]) - prevLsp[i]) * w + prevLsp[i]);
    LspToLpc(set);
}

}  // namespace mervox::reference
