/* The G.723.1 codec as Wireshark's RTP player and sharkd call it: one
 * context (one decoder) per stream, and a decode call that turns one RTP
 * payload into 16-bit samples at 8000 Hz, mono.
 *
 * These functions have the signatures of Wireshark 4.0's codec callbacks
 * (wsutil/codecs.h) but use only plain C types, so they can be built and
 * tested without Wireshark. */
#ifndef MERVOX_WIRESHARK_G723_CODEC_H
#define MERVOX_WIRESHARK_G723_CODEC_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Output bytes per frame: 240 samples of 2 bytes. */
#define MERVOX_WIRESHARK_FRAME_OUTPUT_BYTES 480

/* The most frames one payload yields (80 frames, 2.4 s): more than any
 * payload of speech frames that fits in an Ethernet frame holds (1460 bytes,
 * 73 frames of 20 bytes), and a bound on the audio one packet can ask for,
 * however many 1-byte untransmitted frames it carries. The frames after
 * the limit are left out: neither decoded nor concealed, they yield no
 * samples, and the next payload continues the stream from the last frame
 * decoded. */
#define MERVOX_WIRESHARK_MAX_FRAMES_PER_PAYLOAD 80

/* A new context holding a decoder reset for a new stream; NULL if out of
 * memory (decoding with a NULL context then yields nothing). */
void* mervox_ws_codec_init(void);

/* Releases a context from mervox_ws_codec_init; NULL is ignored. */
void mervox_ws_codec_release(void* context);

unsigned mervox_ws_codec_get_channels(void* context);  /* 1 */
unsigned mervox_ws_codec_get_frequency(void* context); /* 8000 */

/* Decodes one RTP payload: frames back to back, each as long as its first
 * byte's type bits say. Speech frames are decoded; silence-descriptor and
 * untransmitted frames, and a last frame cut short by the end of the
 * payload, are concealed as lost frames. Every frame yields 480 bytes; only
 * the first MERVOX_WIRESHARK_MAX_FRAMES_PER_PAYLOAD frames are used.
 *
 * With output or output_size NULL this is a size query: it returns the
 * bytes the payload decodes to and leaves the decoder alone. Otherwise
 * *output_size is the room at output in bytes: every frame of the payload
 * goes through the decoder (so it stays in step with the stream), the
 * samples of the frames that fit in whole are written, and both the return
 * value and *output_size are the bytes written. */
size_t mervox_ws_codec_decode(void* context, const void* input, size_t input_size, void* output, size_t* output_size);

#ifdef __cplusplus
}
#endif

#endif /* MERVOX_WIRESHARK_G723_CODEC_H */
