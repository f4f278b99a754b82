// The formant postfilter's constants, named once for its single-stream steps
// (filter_steps.h, formant_subframe.cpp) and its lane kernel
// (filter_lanes_kernel.inl). The number of its taps is kFormantOrder
// (codec_facts.h), its weights FormantWeightTable (tables.h).
#pragma once

namespace mervox {

// The smoothed tilt moves this far towards each subframe's new ratio (the
// first-order autocorrelation over the energy of its synthesized speech).
constexpr double kTiltSmoothing = 0.75;

// The tilt compensation factor of a subframe is this times the smoothed tilt
// (7/32).
constexpr double kTiltStrength = 0.21875;

// Gain of the tilt-compensated input, x[n] - t x[n-1] (33/32).
constexpr double kFormantInputGain = 1.03125;

}  // namespace mervox
