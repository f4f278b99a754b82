/* mervox: G.723.1 speech decoder (6.3 and 5.3 kbit/s) to 16-bit PCM at 8 kHz.
 *
 * Legacy interface: one decoder per process, reset with INITdec and fed one
 * 30 ms frame per DecSoundFrame call. Calls must not overlap.
 *
 * On Linux and other ELF systems libmervox.so and libmervox.a hold every
 * function declared here. On 32-bit Windows they come in two DLLs:
 *   mervox.dll      DecSoundFrame and INITdec only (stdcall, by name and by
 *                   ordinals 2 and 3; import library libmervox.dll.a), the
 *                   legacy hosts' DLL, unchanged;
 *   mervox-api.dll  everything else: decoder objects, mervox_frame_bytes,
 *                   mervox_frame_faults, mervox_version_string and
 *                   mervox_strerror (cdecl, by name; import library
 *                   libmervox-api.dll.a).
 * A host links the import library of the DLL whose functions it calls, or
 * both. The two DLLs share no state: the legacy decoder lives in mervox.dll.
 */
#ifndef MERVOX_H
#define MERVOX_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && (defined(__i386__) || defined(_M_IX86))
#define MERVOX_STDCALL __stdcall
#else
#define MERVOX_STDCALL
#endif

/* The decoder-object functions are cdecl on every platform, also for hosts
 * compiled with another default calling convention. */
#if defined(_WIN32) && (defined(__i386__) || defined(_M_IX86))
#define MERVOX_CDECL __cdecl
#else
#define MERVOX_CDECL
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

/* ------------------------------------------------------------------------
 * Decoder objects: any number of independent decoders, one per stream.
 *
 * Each mervox_decoder holds its own state and shares nothing with other
 * decoders or with the legacy functions above, so a host may run one per
 * call, channel or file, on any threads (one call at a time per decoder).
 * Decoding allocates nothing; only mervox_decoder_create does. A NULL
 * decoder or output is reported as MERVOX_BAD_ARG, never dereferenced.
 * Results are those of DecSoundFrame/INITdec, sample for sample.
 * ---------------------------------------------------------------------- */

#define MERVOX_FRAME_SAMPLES 240 /* samples per 30 ms frame at 8000 Hz */
#define MERVOX_SAMPLE_RATE 8000
#define MERVOX_MAX_FRAME_BYTES 24

/* Frame types: the two lowest bits of a frame's first byte. */
#define MERVOX_FRAME_6300 0          /* 24 bytes, 6.3 kbit/s speech */
#define MERVOX_FRAME_5300 1          /* 20 bytes, 5.3 kbit/s speech */
#define MERVOX_FRAME_SID 2           /* 4 bytes, silence descriptor: no speech */
#define MERVOX_FRAME_UNTRANSMITTED 3 /* 1 byte, nothing sent: no speech */

/* Rate selectors for INITdec, mervox_decoder_create and _reset: the rate
 * assumed for frames lost before the first frame arrives. */
#define MERVOX_RATE_SELECT_5300 0
#define MERVOX_RATE_SELECT_6300 1

/* Error codes: zero or positive values are results, negative ones errors. */
#define MERVOX_OK 0
#define MERVOX_BAD_ARG (-1)       /* NULL decoder or output */
#define MERVOX_INVALID_FRAME (-4) /* fewer bytes than the frame's type announces */
#define MERVOX_ALLOC_FAIL (-7)    /* out of memory in mervox_decoder_create */

typedef struct mervox_decoder mervox_decoder;

/* "MAJOR.MINOR.PATCH" of the library actually loaded. */
MERVOX_API const char* MERVOX_CDECL mervox_version_string(void);

/* Bytes of a frame whose first byte is first_byte, by its type bits:
 * 24, 20, 4 or 1. Streams, RTP payloads and captures hold frames back to
 * back; this is how they are split. */
MERVOX_API size_t MERVOX_CDECL mervox_frame_bytes(uint8_t first_byte);

/* 1 if a frame whose first byte is first_byte carries speech (a 24-byte
 * 6.3 kbit/s or 20-byte 5.3 kbit/s frame, to pass to mervox_decode), 0 if
 * not (a silence descriptor or an untransmitted frame, to pass to
 * mervox_conceal). */
MERVOX_API int MERVOX_CDECL mervox_frame_is_speech(uint8_t first_byte);

/* Short English text for an error code (never NULL). */
MERVOX_API const char* MERVOX_CDECL mervox_strerror(int error);

/* A new decoder, reset as by mervox_decoder_reset(rate_selector). Returns
 * NULL on failure; *error (if error is not NULL) receives MERVOX_OK or
 * MERVOX_ALLOC_FAIL. */
MERVOX_API mervox_decoder* MERVOX_CDECL mervox_decoder_create(int32_t rate_selector, int* error);

/* Starts a new stream. rate_selector as for INITdec: only its low 16 bits
 * count; 0 assumes 5.3 kbit/s for frames lost before the first frame,
 * anything else 6.3 kbit/s. Returns MERVOX_OK or MERVOX_BAD_ARG. */
MERVOX_API int MERVOX_CDECL mervox_decoder_reset(mervox_decoder* decoder, int32_t rate_selector);

/* Decodes one frame of `size` readable bytes into pcm[240]. Bit 0 of the
 * first byte selects the length read: 24 bytes (clear, 6.3 kbit/s) or 20
 * (set, 5.3 kbit/s); extra bytes are ignored. A NULL frame is a lost frame,
 * as for DecSoundFrame. Silence-descriptor and untransmitted frames (types
 * 2 and 3) carry no speech: pass them to mervox_conceal instead.
 * Returns 12 or 10 (16-bit words of the frame, as DecSoundFrame), 1 for a
 * lost frame, MERVOX_BAD_ARG or MERVOX_INVALID_FRAME (decoder untouched,
 * pcm untouched). */
MERVOX_API int MERVOX_CDECL mervox_decode(mervox_decoder* decoder, const uint8_t* frame, size_t size, int16_t* pcm);

/* Conceals one lost frame into pcm[240]. Returns 1 or MERVOX_BAD_ARG. */
MERVOX_API int MERVOX_CDECL mervox_conceal(mervox_decoder* decoder, int16_t* pcm);

/* Decodes one frame for each of n decoders at once, several streams side
 * by side in the processor's vector registers (the widest kind it has):
 * entry k decodes frames[k] (sizes[k] readable bytes) with decoders[k]
 * into pcm[240 * k .. 240 * k + 239], as mervox_decode would, and stores
 * what mervox_decode would return in results[k]. A NULL frames[k] is a
 * lost frame (as mervox_conceal); frames and sizes may both be NULL: every
 * frame lost. Output, results and decoder states are bit for bit those of
 * calling mervox_decode for k = 0, 1, ..., n - 1 in turn, whatever the
 * mix of rates, losses and faulty frames; a decoder may appear more than
 * once (its frames are decoded in that order). An entry that fails
 * (MERVOX_BAD_ARG for a NULL decoder, MERVOX_INVALID_FRAME) leaves its
 * decoder and its pcm untouched; the others are decoded. Allocates
 * nothing. Returns the number of failed entries (0: all decoded), or
 * MERVOX_BAD_ARG when decoders, pcm or results is NULL, or frames is given
 * without sizes (nothing decoded). */
MERVOX_API int MERVOX_CDECL mervox_decode_many(mervox_decoder* const* decoders, const uint8_t* const* frames,
                                               const size_t* sizes, int16_t* pcm, int* results, size_t n);

/* Releases the decoder; NULL is ignored. */
MERVOX_API void MERVOX_CDECL mervox_decoder_destroy(mervox_decoder* decoder);

/* Inspects a frame without decoding it: the number of impossible codes its
 * unpacking finds (0 = a well-formed frame; a decoder conceals frames with
 * any), or MERVOX_BAD_ARG / MERVOX_INVALID_FRAME as for mervox_decode.
 * Types 2 and 3 count one fault for their type: 1 for a silence descriptor
 * of at least 4 bytes or an untransmitted frame of at least 1 byte. */
MERVOX_API int MERVOX_CDECL mervox_frame_faults(const uint8_t* frame, size_t size);

#ifdef __cplusplus
}
#endif

#endif /* MERVOX_H */
