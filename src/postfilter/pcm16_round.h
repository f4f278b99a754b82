// The output conversion's rounding (ConvertToPcm16), written once for the
// register traits V of every instruction set (lanes/scalar.h): the
// single-stream conversion (pcm16_convert.h) and every lane kernel round
// with it.
#pragma once

#include <cstdint>

namespace mervox {

// Each lane rounded to nearest, halves away from zero, and saturated to 16
// bits, without a branch (the sign of speech samples is as unpredictable as
// a coin): v + 0.5 for v >= 0 (-0.0 included), v - 0.5 below, in double;
// saturated at -32768 and 32767 (which gives exactly the limits 32766.5 and
// -32767.5 of rounding first); NaN to 0 (no meaningful sample); truncated
// toward zero.
template <class V>
inline typename V::Int32s RoundToPcm16(typename V::Reg v)
{
    const typename V::Reg half = V::Select(V::NotBelowZero(v), V::Set(0.5), V::Set(-0.5));
    const typename V::Reg r = V::Min(V::Max(V::Add(v, half), V::Set(-32768.0)), V::Set(32767.0));
    return V::TruncateToInt32(V::ZeroWhereNaN(v, r));
}

// The kWidth lanes of v, rounded, as kWidth 16-bit samples at out.
template <class V>
inline void StorePcm16(int16_t* out, typename V::Reg v)
{
    V::StorePcm16(out, RoundToPcm16<V>(v));
}

}  // namespace mervox
