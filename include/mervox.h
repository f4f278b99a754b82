/* mervox: G.723.1 speech decoder (6.3 and 5.3 kbit/s) to 16-bit PCM at 8 kHz.
 *
 * Legacy interface: one decoder per process, reset with INITdec and fed one
 * 30 ms frame per DecSoundFrame call. Calls must not overlap.
 */
#ifndef MERVOX_H
#define MERVOX_H

#include <stdint.h>

#if defined(_WIN32) && (defined(__i386__) || defined(_M_IX86))
#define MERVOX_STDCALL __stdcall
#else
#define MERVOX_STDCALL
#endif

#if defined(_WIN32)
#define MERVOX_API
#elif defined(__GNUC__)
#define MERVOX_API __attribute__((visibility("default")))
#else
#define MERVOX_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Decodes one frame into 240 samples at `output`.
 * frame: 24 bytes (bit 0 of the first byte clear, 6.3 kbit/s) or 20 bytes
 *        (bit 0 set, 5.3 kbit/s); never written. NULL means the frame was
 *        lost: 30 ms of concealment are produced instead.
 * Returns the 16-bit words the frame occupied (12 or 10), or 1 for a lost
 * frame. Frames with impossible contents are concealed but still return 12
 * or 10. */
MERVOX_API int16_t MERVOX_STDCALL DecSoundFrame(const uint8_t* frame, int16_t* output);

/* Resets the decoder to the start of a stream. Only the low 16 bits of
 * rateSelector count: 0 assumes 5.3 kbit/s, anything else 6.3 kbit/s, for
 * frames lost before the first frame arrives. Returns 0. */
MERVOX_API int32_t MERVOX_STDCALL INITdec(int32_t rateSelector);

#ifdef __cplusplus
}
#endif

#endif /* MERVOX_H */
