/**
 * @file mervox.h
 * mervox: G.723.1 speech decoder (6.3 and 5.3 kbit/s) to 16-bit PCM at 8 kHz.
 *
 * Two interfaces: the legacy one (DecSoundFrame() and INITdec(), one decoder
 * per process) and decoder objects (mervox_decoder_create() and the functions
 * that take a ::mervox_decoder, any number of independent decoders).
 *
 * On Linux and other ELF systems libmervox.so and libmervox.a hold every
 * function declared here. On 32-bit Windows they come in two DLLs:
 * - mervox.dll: DecSoundFrame() and INITdec() only (stdcall, by name and by
 *   ordinals 2 and 3; import library libmervox.dll.a), the legacy hosts' DLL,
 *   unchanged;
 * - mervox-api.dll: everything else, the decoder objects and the frame, version
 *   and error helpers (cdecl, by name; import library libmervox-api.dll.a).
 *
 * A host links the import library of the DLL whose functions it calls, or
 * both. The two DLLs share no state: the legacy decoder lives in mervox.dll.
 */
#ifndef MERVOX_H
#define MERVOX_H

#include <stddef.h>
#include <stdint.h>

/** @cond INTERNAL */
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
/** @endcond */

#ifdef __cplusplus
extern "C" {
#endif

/**
 * Decodes one frame of the legacy decoder into 240 samples.
 *
 * @param frame  24 bytes (bit 0 of the first byte clear, 6.3 kbit/s) or 20
 *               bytes (bit 0 set, 5.3 kbit/s); never written. NULL means the
 *               frame was lost: 30 ms of concealment are produced instead.
 *               Silence-descriptor and untransmitted frames (types 2 and 3)
 *               carry no speech: pass them as lost frames.
 * @param output 240 samples, written.
 * @return The 16-bit words the frame occupied (12 or 10), or 1 for a lost
 *         frame. Frames with impossible contents are concealed but still
 *         return 12 or 10.
 */
MERVOX_API int16_t MERVOX_STDCALL DecSoundFrame(const uint8_t* frame, int16_t* output);

/**
 * Resets the legacy decoder to the start of a stream; call it before the
 * first frame.
 *
 * @param rateSelector Only its low 16 bits count: 0 assumes 5.3 kbit/s,
 *                     anything else 6.3 kbit/s, for frames lost before the
 *                     first frame arrives.
 * @return 0.
 */
MERVOX_API int32_t MERVOX_STDCALL INITdec(int32_t rateSelector);

/**
 * @name Decoder objects
 * Any number of independent decoders, one per stream.
 *
 * Each ::mervox_decoder holds its own state and shares nothing with other
 * decoders or with the legacy functions above, so a host may run one per
 * call, channel or file, on any threads (one call at a time per decoder).
 * Decoding allocates nothing; only mervox_decoder_create() does. A NULL
 * decoder or output is reported as #MERVOX_BAD_ARG, never dereferenced.
 * Results are those of DecSoundFrame() and INITdec(), sample for sample.
 * @{
 */

/** Samples per 30 ms frame at 8000 Hz. */
#define MERVOX_FRAME_SAMPLES 240
/** Output samples per second. */
#define MERVOX_SAMPLE_RATE 8000
/** Bytes of the longest frame (6.3 kbit/s). */
#define MERVOX_MAX_FRAME_BYTES 24

/* Frame types: the two lowest bits of a frame's first byte. */
/** Frame type 0: 24 bytes, 6.3 kbit/s speech. */
#define MERVOX_FRAME_6300 0
/** Frame type 1: 20 bytes, 5.3 kbit/s speech. */
#define MERVOX_FRAME_5300 1
/** Frame type 2: 4 bytes, silence descriptor: no speech. */
#define MERVOX_FRAME_SID 2
/** Frame type 3: 1 byte, nothing sent: no speech. */
#define MERVOX_FRAME_UNTRANSMITTED 3

/* Rate selectors for INITdec, mervox_decoder_create and _reset: the rate
 * assumed for frames lost before the first frame arrives. */
/** Rate selector: assume 5.3 kbit/s for frames lost before the first frame. */
#define MERVOX_RATE_SELECT_5300 0
/** Rate selector: assume 6.3 kbit/s for frames lost before the first frame. */
#define MERVOX_RATE_SELECT_6300 1

/* Error codes: zero or positive values are results, negative ones errors. */
/** Success. */
#define MERVOX_OK 0
/** A NULL decoder or output (or, for mervox_decode_many(), a NULL array). */
#define MERVOX_BAD_ARG (-1)
/** Fewer bytes than the frame's type announces. */
#define MERVOX_INVALID_FRAME (-4)
/** Out of memory in mervox_decoder_create(). */
#define MERVOX_ALLOC_FAIL (-7)

/** One decoder's state (opaque): made by mervox_decoder_create(). */
typedef struct mervox_decoder mervox_decoder;

/** @return "MAJOR.MINOR.PATCH" of the library actually loaded. */
MERVOX_API const char* MERVOX_CDECL mervox_version_string(void);

/**
 * Bytes of a frame, by the type bits of its first byte. Streams, RTP payloads
 * and captures hold frames back to back; this is how they are split.
 *
 * @param first_byte The frame's first byte.
 * @return 24, 20, 4 or 1.
 */
MERVOX_API size_t MERVOX_CDECL mervox_frame_bytes(uint8_t first_byte);

/**
 * Whether a frame carries speech.
 *
 * @param first_byte The frame's first byte.
 * @return 1 for a 24-byte 6.3 kbit/s or 20-byte 5.3 kbit/s frame (to pass to
 *         mervox_decode()), 0 for a silence descriptor or an untransmitted
 *         frame (to pass to mervox_conceal()).
 */
MERVOX_API int MERVOX_CDECL mervox_frame_is_speech(uint8_t first_byte);

/**
 * Short English text for an error code.
 *
 * @param error A MERVOX_* code.
 * @return The text, never NULL.
 */
MERVOX_API const char* MERVOX_CDECL mervox_strerror(int error);

/**
 * A new decoder, reset as by mervox_decoder_reset().
 *
 * @param rate_selector As for mervox_decoder_reset().
 * @param error         If not NULL, receives #MERVOX_OK or #MERVOX_ALLOC_FAIL.
 * @return The decoder, or NULL on failure. Release it with
 *         mervox_decoder_destroy().
 */
MERVOX_API mervox_decoder* MERVOX_CDECL mervox_decoder_create(int32_t rate_selector, int* error);

/**
 * Starts a new stream.
 *
 * @param decoder       The decoder.
 * @param rate_selector As for INITdec(): only its low 16 bits count; 0
 *                      (#MERVOX_RATE_SELECT_5300) assumes 5.3 kbit/s for
 *                      frames lost before the first frame, anything else
 *                      6.3 kbit/s.
 * @return #MERVOX_OK or #MERVOX_BAD_ARG.
 */
MERVOX_API int MERVOX_CDECL mervox_decoder_reset(mervox_decoder* decoder, int32_t rate_selector);

/**
 * Decodes one frame into 240 samples.
 *
 * Bit 0 of the first byte selects the length read: 24 bytes (clear,
 * 6.3 kbit/s) or 20 (set, 5.3 kbit/s); extra bytes are ignored.
 * Silence-descriptor and untransmitted frames (types 2 and 3) carry no
 * speech: pass them to mervox_conceal() instead (see
 * mervox_frame_is_speech()).
 *
 * @param decoder The decoder.
 * @param frame   The frame, never written; NULL is a lost frame, as for
 *                DecSoundFrame().
 * @param size    Readable bytes at @p frame.
 * @param pcm     240 samples, written.
 * @return 12 or 10 (16-bit words of the frame, as DecSoundFrame()), 1 for a
 *         lost frame, or #MERVOX_BAD_ARG or #MERVOX_INVALID_FRAME (decoder and
 *         pcm untouched).
 */
MERVOX_API int MERVOX_CDECL mervox_decode(mervox_decoder* decoder, const uint8_t* frame, size_t size, int16_t* pcm);

/**
 * Conceals one lost frame into 240 samples.
 *
 * @param decoder The decoder.
 * @param pcm     240 samples, written.
 * @return 1, or #MERVOX_BAD_ARG.
 */
MERVOX_API int MERVOX_CDECL mervox_conceal(mervox_decoder* decoder, int16_t* pcm);

/**
 * Decodes one frame for each of n decoders at once, several streams side by
 * side in the processor's vector registers (the widest kind it has).
 *
 * Entry k decodes frames[k] (sizes[k] readable bytes) with decoders[k] into
 * pcm[240 * k .. 240 * k + 239], as mervox_decode() would, and stores what
 * mervox_decode() would return in results[k]. A NULL frames[k] is a lost
 * frame (as mervox_conceal()). Output, results and decoder states are bit for
 * bit those of calling mervox_decode() for k = 0, 1, ..., n - 1 in turn,
 * whatever the number of entries, their order, the mix of rates, losses and
 * faulty frames; a decoder may appear more than once (its frames are decoded
 * in that order). An entry that fails (#MERVOX_BAD_ARG for a NULL decoder,
 * #MERVOX_INVALID_FRAME) leaves its decoder and its pcm untouched; the others
 * are decoded. Allocates nothing (it needs about 120 KB of stack).
 *
 * @param decoders n decoders.
 * @param frames   n frames; frames and sizes may both be NULL: every frame
 *                 lost.
 * @param sizes    Readable bytes of each frame.
 * @param pcm      240 * n samples, written.
 * @param results  n results, written.
 * @param n        Number of entries.
 * @return The number of failed entries (0: all decoded), or #MERVOX_BAD_ARG
 *         when decoders, pcm or results is NULL, or frames is given without
 *         sizes (nothing decoded).
 */
MERVOX_API int MERVOX_CDECL mervox_decode_many(mervox_decoder* const* decoders, const uint8_t* const* frames,
                                               const size_t* sizes, int16_t* pcm, int* results, size_t n);

/**
 * Releases a decoder.
 *
 * @param decoder The decoder; NULL is ignored.
 */
MERVOX_API void MERVOX_CDECL mervox_decoder_destroy(mervox_decoder* decoder);

/**
 * Inspects a frame without decoding it.
 *
 * Types 2 and 3 count one fault for their type: 1 for a silence descriptor
 * of at least 4 bytes or an untransmitted frame of at least 1 byte.
 *
 * @param frame The frame.
 * @param size  Readable bytes at @p frame.
 * @return The number of impossible codes its unpacking finds (0 = a
 *         well-formed frame; a decoder conceals frames with any), or
 *         #MERVOX_BAD_ARG / #MERVOX_INVALID_FRAME as for mervox_decode().
 */
MERVOX_API int MERVOX_CDECL mervox_frame_faults(const uint8_t* frame, size_t size);

/** @} */

#ifdef __cplusplus
}
#endif

#endif /* MERVOX_H */
