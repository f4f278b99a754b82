/* A Windows host of mervox-api.dll, linked through its import library
 * as a new host is: decoder objects, one or several at once, fed one frame
 * per call.
 *
 *   mervox_api_host [options] STREAM OUTPUT
 *     --mask FILE     loss mask, one byte per frame, nonzero = lost
 *     --init N        rate selector for mervox_decoder_create (default 1)
 *     --decoders N    decode the stream with N decoders at once, frame by
 *                     frame in turn; all must give the same samples
 *     --batch         decoders 2 to N get each frame from one call of
 *                     mervox_decode_many (in the vector variant the library
 *                     picks, which MERVOX_LANES caps), decoder 1 from
 *                     mervox_decode and mervox_conceal
 *     --misaligned    call mervox_decode and mervox_conceal from a 4-byte
 *                     aligned stack through the probe, which must find the
 *                     arguments left for the caller to remove (cdecl;
 *                     32-bit only)
 *
 * Speech frames (types 0 and 1) go to mervox_decode, the others and masked
 * frames to mervox_conceal; a truncated last frame is left out. Afterwards
 * the first decoder is reset and must decode the stream's start as before.
 * OUTPUT receives the first decoder's samples as raw 16-bit little-endian
 * PCM; stdout the library's version, the frame count, the impossible codes
 * mervox_frame_faults found in the speech frames, and the text of
 * MERVOX_INVALID_FRAME.
 *
 * Exit status: 0 done; 2 usage; 3 file error; 5 a call broke the interface
 * contract. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "host_files.h"
#include "mervox.h"
#include "stdcall_probe.h"

enum { kExitUsage = 2, kExitFile = 3, kExitContract = 5 };
enum { kMaxDecoders = 16, kResetCheckFrames = 50 };

typedef struct {
    const char* maskPath;
    const char* streamPath;
    const char* outputPath;
    int32_t init;
    int decoders;
    int batch;
    int misaligned;
} Options;

static int ParseOptions(int argc, char** argv, Options* options)
{
    memset(options, 0, sizeof *options);
    options->init = MERVOX_RATE_SELECT_6300;
    options->decoders = 1;
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (strcmp(a, "--mask") == 0 && i + 1 < argc)
            options->maskPath = argv[++i];
        else if (strcmp(a, "--init") == 0 && i + 1 < argc)
            options->init = (int32_t)strtol(argv[++i], NULL, 0);
        else if (strcmp(a, "--decoders") == 0 && i + 1 < argc)
            options->decoders = (int)strtol(argv[++i], NULL, 0);
        else if (strcmp(a, "--batch") == 0)
            options->batch = 1;
        else if (strcmp(a, "--misaligned") == 0 && MERVOX_HOST_HAS_PROBE)
            options->misaligned = 1;
        else if (a[0] == '-' && a[1] == '-')
            return 0;
        else if (positional == 0) {
            options->streamPath = a;
            positional = 1;
        } else if (positional == 1) {
            options->outputPath = a;
            positional = 2;
        } else
            return 0;
    }
    return positional == 2 && options->decoders >= (options->batch ? 2 : 1) && options->decoders <= kMaxDecoders;
}

#if MERVOX_HOST_HAS_PROBE
/* Calls a cdecl function from a 4-byte aligned stack; the callee must leave
 * its arguments on the stack. */
static int ProbeCdecl(const void* function, const uint32_t* args, uint32_t count)
{
    int32_t left = 0;
    const int result = (int)ProbeStdcall(function, args, count, &left);
    if (left != (int32_t)(4 * count)) {
        fprintf(stderr, "a cdecl call left %ld bytes of its %lu on the stack\n", (long)left,
                (unsigned long)(4 * count));
        exit(kExitContract);
    }
    return result;
}

#endif

static int Decode(const Options* options, mervox_decoder* decoder, const uint8_t* frame, size_t size, int16_t* pcm)
{
#if MERVOX_HOST_HAS_PROBE
    if (options->misaligned) {
        const uint32_t args[4] = {(uint32_t)(uintptr_t)decoder, (uint32_t)(uintptr_t)frame, (uint32_t)size,
                                  (uint32_t)(uintptr_t)pcm};
        return ProbeCdecl((const void*)mervox_decode, args, 4);
    }
#else
    (void)options;
#endif
    return mervox_decode(decoder, frame, size, pcm);
}

static int Conceal(const Options* options, mervox_decoder* decoder, int16_t* pcm)
{
#if MERVOX_HOST_HAS_PROBE
    if (options->misaligned) {
        const uint32_t args[2] = {(uint32_t)(uintptr_t)decoder, (uint32_t)(uintptr_t)pcm};
        return ProbeCdecl((const void*)mervox_conceal, args, 2);
    }
#else
    (void)options;
#endif
    return mervox_conceal(decoder, pcm);
}

/* Decoders 1 to count - 1 decode the frame (NULL: lost) in one batch call;
 * each must give the result and samples of decoder 0 (in first). */
static int DecodeBatch(mervox_decoder** decoders, int count, const uint8_t* frame, size_t size, int expected,
                       const int16_t* first, size_t k)
{
    const uint8_t* frames[kMaxDecoders];
    size_t sizes[kMaxDecoders];
    int results[kMaxDecoders];
    static int16_t pcm[kMaxDecoders * MERVOX_FRAME_SAMPLES];
    const size_t n = (size_t)(count - 1);
    for (size_t d = 0; d < n; ++d) {
        frames[d] = frame;
        sizes[d] = frame ? size : 0;
        results[d] = -100;
    }
    const int failed = mervox_decode_many(decoders + 1, frames, sizes, pcm, results, n);
    if (failed != 0) {
        fprintf(stderr, "frame %lu: mervox_decode_many failed %d entries\n", (unsigned long)k, failed);
        return 0;
    }
    for (size_t d = 0; d < n; ++d) {
        if (results[d] != expected ||
            memcmp(pcm + MERVOX_FRAME_SAMPLES * d, first, MERVOX_FRAME_SAMPLES * sizeof(int16_t)) != 0) {
            fprintf(stderr, "frame %lu: batch entry %lu (result %d) differs from decoder 0\n", (unsigned long)k,
                    (unsigned long)d, results[d]);
            return 0;
        }
    }
    return 1;
}

/* Decodes up to maxFrames frames of the stream with every decoder in turn;
 * pcm receives the first decoder's samples. Returns the frames decoded, or
 * -1 (after a message) if a result breaks the interface. */
static long DecodeStream(const Options* options, mervox_decoder** decoders, const Buffer* stream, const Buffer* mask,
                         size_t maxFrames, int16_t* pcm, long* faults)
{
    int16_t other[MERVOX_FRAME_SAMPLES];
    size_t offset = 0, k = 0;
    *faults = 0;
    for (; k < maxFrames && offset < stream->size; ++k) {
        const uint8_t* frame = stream->bytes + offset;
        const size_t length = mervox_frame_bytes(frame[0]);
        if (offset + length > stream->size)
            break;
        offset += length;
        const int carries_speech = mervox_frame_is_speech(frame[0]);
        const int speech = carries_speech && !(k < mask->size && mask->bytes[k] != 0);
        if (carries_speech)
            *faults += mervox_frame_faults(frame, length);
        const int expected = speech ? ((frame[0] & 3) == MERVOX_FRAME_5300 ? 10 : 12) : 1;
        const int singles = options->batch ? 1 : options->decoders;
        for (int d = 0; d < singles; ++d) {
            int16_t* out = d == 0 ? pcm + MERVOX_FRAME_SAMPLES * k : other;
            const int result =
                speech ? Decode(options, decoders[d], frame, length, out) : Conceal(options, decoders[d], out);
            if (result != expected) {
                fprintf(stderr, "frame %lu, decoder %d: %d, expected %d\n", (unsigned long)k, d, result, expected);
                return -1;
            }
            if (d > 0 && memcmp(out, pcm + MERVOX_FRAME_SAMPLES * k, sizeof other) != 0) {
                fprintf(stderr, "frame %lu: decoder %d differs from decoder 0\n", (unsigned long)k, d);
                return -1;
            }
        }
        if (singles < options->decoders && !DecodeBatch(decoders, options->decoders, speech ? frame : NULL, length,
                                                        expected, pcm + MERVOX_FRAME_SAMPLES * k, k))
            return -1;
    }
    return (long)k;
}

/* The calls that must fail: each returns its error and writes nothing. */
static int CheckErrors(mervox_decoder* decoder)
{
    int16_t pcm[MERVOX_FRAME_SAMPLES];
    memset(pcm, 0x5a, sizeof pcm);
    const uint8_t frame63[MERVOX_MAX_FRAME_BYTES] = {MERVOX_FRAME_6300};
    int ok = mervox_decode(NULL, frame63, sizeof frame63, pcm) == MERVOX_BAD_ARG &&
             mervox_decode(decoder, frame63, 3, pcm) == MERVOX_INVALID_FRAME &&
             mervox_conceal(decoder, NULL) == MERVOX_BAD_ARG && mervox_decoder_reset(NULL, 1) == MERVOX_BAD_ARG &&
             mervox_frame_faults(frame63, 3) == MERVOX_INVALID_FRAME;
    for (size_t i = 0; ok && i < MERVOX_FRAME_SAMPLES; ++i)
        ok = pcm[i] == 0x5a5a;
    if (!ok)
        fprintf(stderr, "an invalid call was not refused, or wrote its output\n");
    return ok;
}

int main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        fprintf(stderr,
                "usage: mervox_api_host [--mask FILE] [--init N] [--decoders 1..%d] [--batch] [--misaligned] "
                "STREAM OUTPUT\n",
                kMaxDecoders);
        return kExitUsage;
    }
    Buffer stream = {0};
    Buffer mask = {0};
    if (!ReadWholeFile(options.streamPath, &stream) || (options.maskPath && !ReadWholeFile(options.maskPath, &mask))) {
        fprintf(stderr, "cannot read %s\n", options.maskPath ? options.maskPath : options.streamPath);
        return kExitFile;
    }

    mervox_decoder* decoders[kMaxDecoders];
    for (int d = 0; d < options.decoders; ++d) {
        int error = -100;
        decoders[d] = mervox_decoder_create(options.init, &error);
        if (!decoders[d] || error != MERVOX_OK) {
            fprintf(stderr, "mervox_decoder_create: %s\n", mervox_strerror(error));
            return kExitContract;
        }
    }
    /* At most one frame per byte. */
    int16_t* pcm = (int16_t*)calloc(stream.size + 1, MERVOX_FRAME_SAMPLES * sizeof(int16_t));
    int16_t* again = (int16_t*)calloc(kResetCheckFrames, MERVOX_FRAME_SAMPLES * sizeof(int16_t));
    if (!pcm || !again)
        return kExitFile;
    long faults = 0, faultsAgain = 0;
    const long frames = DecodeStream(&options, decoders, &stream, &mask, stream.size, pcm, &faults);
    if (frames < 0 || !CheckErrors(decoders[0]))
        return kExitContract;

    /* A reset decoder starts the stream afresh. */
    Options single = options;
    single.decoders = 1;
    single.batch = 0;
    if (mervox_decoder_reset(decoders[0], options.init) != MERVOX_OK)
        return kExitContract;
    const long head = DecodeStream(&single, decoders, &stream, &mask, kResetCheckFrames, again, &faultsAgain);
    if (head < 0 || memcmp(again, pcm, (size_t)head * MERVOX_FRAME_SAMPLES * sizeof(int16_t)) != 0) {
        fprintf(stderr, "the reset decoder decoded the stream's start differently\n");
        return kExitContract;
    }
    for (int d = 0; d < options.decoders; ++d)
        mervox_decoder_destroy(decoders[d]);
    mervox_decoder_destroy(NULL);

    const size_t samples = (size_t)frames * MERVOX_FRAME_SAMPLES;
    FILE* out = fopen(options.outputPath, "wb");
    if (!out || fwrite(pcm, sizeof(int16_t), samples, out) != samples || fclose(out) != 0) {
        fprintf(stderr, "cannot write %s\n", options.outputPath);
        return kExitFile;
    }
    printf("version %s\nframes %ld faults %ld\nstrerror %s\n", mervox_version_string(), frames, faults,
           mervox_strerror(MERVOX_INVALID_FRAME));
    free(again);
    free(pcm);
    free(mask.bytes);
    free(stream.bytes);
    return 0;
}
