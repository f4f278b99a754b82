// libFuzzer entry point; the build names the target body to run in
// MERVOX_FUZZ_TARGET (one executable per target).
#include "targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return mervox::fuzz::MERVOX_FUZZ_TARGET(data, size);
}
