// The portable lane types of the pitch postfilter's lag search
// (pitch_search.h): one double, and two side by side. A lane type V has
//   V::Reg, V::kWidth               a register of kWidth doubles
//   V::kSearchesTogether            searches of a frame to run in one loop
//   V::kByDirection                 instead two searches' backward sums in
//                                   one loop, their forward sums in another
//   Load(p), Store(p, r)            kWidth doubles from or to p (any alignment)
//   Set(d)                          d in every lane
//   Add(a, b), Mul(a, b)            lane by lane, each rounded to double
//   Widen(f), Narrow(f, r)          kWidth floats to doubles (exactly), and
//                                   back, each rounded to nearest float
// Lanes never interact, so each lane computes exactly what one scalar
// double would. The wider types (AVX2, AVX-512) are in the files compiled
// for their instruction sets.
#pragma once

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace mervox {

struct PitchLanes1 {
    using Reg = double;
    static constexpr int kWidth = 1;
    static constexpr int kSearchesTogether = 1;  // 14 sums already keep it busy
    static constexpr bool kByDirection = false;

    static Reg Load(const double* p) { return *p; }
    static void Store(double* p, Reg r) { *p = r; }
    static Reg Set(double d) { return d; }
    static Reg Add(Reg a, Reg b) { return a + b; }
    static Reg Mul(Reg a, Reg b) { return a * b; }
    static Reg Widen(const float* f) { return *f; }
    static void Narrow(float* f, Reg r) { *f = static_cast<float>(r); }
};

// Two doubles: a vector register with SSE2 (x86, including the 32-bit
// builds, which require it) and NEON (aarch64); elsewhere two plain
// doubles, which the compiler keeps in two scalar registers.
struct PitchLanes2 {
#if defined(__GNUC__) && (defined(__SSE2__) || defined(__aarch64__))
    typedef double Reg __attribute__((vector_size(16)));
    typedef double Unaligned __attribute__((vector_size(16), aligned(8), may_alias));
    typedef float Floats __attribute__((vector_size(8)));

    // (Through memcpy, GCC 12 passes the loaded registers through the stack.)
    static Reg Load(const double* p) { return *reinterpret_cast<const Unaligned*>(p); }
    static void Store(double* p, Reg r) { *reinterpret_cast<Unaligned*>(p) = r; }

    static Reg Set(double d) { return Reg{d, d}; }
    static Reg Add(Reg a, Reg b) { return a + b; }
    static Reg Mul(Reg a, Reg b) { return a * b; }
    static Reg Widen(const float* f)
    {
#if defined(__SSE2__)
        // (GCC 12 makes two scalar conversions of __builtin_convertvector.)
        return _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(f))));
#else
        Floats v;
        std::memcpy(&v, f, sizeof v);
        return __builtin_convertvector(v, Reg);
#endif
    }
    static void Narrow(float* f, Reg r)
    {
        const Floats v = __builtin_convertvector(r, Floats);
        std::memcpy(f, &v, sizeof v);
    }
#else
    struct Reg {
        double lane[2];
    };

    static Reg Load(const double* p) { return Reg{{p[0], p[1]}}; }
    static void Store(double* p, Reg r)
    {
        p[0] = r.lane[0];
        p[1] = r.lane[1];
    }
    static Reg Set(double d) { return Reg{{d, d}}; }
    static Reg Add(Reg a, Reg b) { return Reg{{a.lane[0] + b.lane[0], a.lane[1] + b.lane[1]}}; }
    static Reg Mul(Reg a, Reg b) { return Reg{{a.lane[0] * b.lane[0], a.lane[1] * b.lane[1]}}; }
    static Reg Widen(const float* f) { return Reg{{f[0], f[1]}}; }
    static void Narrow(float* f, Reg r)
    {
        f[0] = static_cast<float>(r.lane[0]);
        f[1] = static_cast<float>(r.lane[1]);
    }
#endif
    static constexpr int kWidth = 2;
    static constexpr int kSearchesTogether = 1;
    static constexpr bool kByDirection = true;  // 16 registers: both directions of two searches would spill
};

}  // namespace mervox
