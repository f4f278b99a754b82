// The processor check: which of the instruction sets that the vector
// kernels are built for this processor and its operating system run. The
// one place the library asks; lane_dispatch.cpp maps the answer to kernels.
#pragma once

namespace mervox {

struct CpuFeatures {
    bool sse2 = false;
    bool avx2 = false;
    bool avx512f = false;
};

// Checked at the first call (the compiler's run-time check, which includes
// the operating system's saving of the wide registers); all false where the
// build has no such check or the processor is not an x86.
const CpuFeatures& ProcessorFeatures();

}  // namespace mervox
