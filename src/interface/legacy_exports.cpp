// The two exported functions of the legacy interface and the one decoder
// they share. It is constructed with the library (static storage) and holds
// no resources that need releasing at unload.
#include "interface/channel.h"
#include "mervox.h"

namespace {
mervox::Channel legacyChannel;
}

extern "C" {

MERVOX_API int16_t MERVOX_STDCALL DecSoundFrame(const uint8_t* frame, int16_t* output)
{
    return mervox::DecodeChannelFrame(legacyChannel, frame, output);
}

MERVOX_API int32_t MERVOX_STDCALL INITdec(int32_t rateSelector)
{
    mervox::ResetChannel(legacyChannel, rateSelector);
    return 0;
}
}
