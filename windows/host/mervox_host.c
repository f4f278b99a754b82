/* A Windows host of mervox.dll, as the legacy applications drive it:
 * LoadLibrary, the two functions looked up by name and ordinal and called
 * through stdcall pointers, INITdec once, then one DecSoundFrame per frame.
 *
 *   mervox_host [options] STREAM OUTPUT
 *     --dll PATH     the DLL to load (default: mervox.dll, found the usual way)
 *     --mask FILE    loss mask, one byte per frame, nonzero = lost
 *     --init N       INITdec argument (default 1)
 *     --misaligned   call through the stack probe: 4-byte aligned stack, and
 *                    every call must remove its own arguments (32-bit only)
 *     --reload       decode twice, unloading and reloading the DLL between
 *                    the passes; both passes must agree
 *
 * STREAM holds frames back to back; the two lowest bits of a frame's first
 * byte give its type, and mervox_frame_bytes (from mervox-api.dll) its
 * length. Types 0 and 1 are passed to the decoder, 2 and 3 (and masked
 * frames) are passed as lost frames. OUTPUT receives the samples as raw
 * 16-bit little-endian PCM.
 *
 * Exit status: 0 done; 2 usage; 3 file error; 4 the DLL failed to load or
 * its exports are wrong; 5 a call broke the interface contract. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "host_files.h"
#include "legacy_dll.h"
#include "stdcall_probe.h"

enum { kExitUsage = 2, kExitFile = 3, kExitDll = 4, kExitContract = 5 };
enum { kFrameSamples = MERVOX_FRAME_SAMPLES };

typedef struct {
    const char* dllPath;
    const char* maskPath;
    const char* streamPath;
    const char* outputPath;
    int32_t initArgument;
    int misaligned;
    int reload;
} Options;

static int ParseOptions(int argc, char** argv, Options* options)
{
    memset(options, 0, sizeof *options);
    options->dllPath = "mervox.dll";
    options->initArgument = 1;
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (strcmp(a, "--dll") == 0 && i + 1 < argc)
            options->dllPath = argv[++i];
        else if (strcmp(a, "--mask") == 0 && i + 1 < argc)
            options->maskPath = argv[++i];
        else if (strcmp(a, "--init") == 0 && i + 1 < argc)
            options->initArgument = (int32_t)strtol(argv[++i], NULL, 0);
        else if (strcmp(a, "--misaligned") == 0 && MERVOX_HOST_HAS_PROBE)
            options->misaligned = 1;
        else if (strcmp(a, "--reload") == 0)
            options->reload = 1;
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
    return positional == 2;
}

/* Frames in the stream; a truncated last frame is left out. */
static size_t CountFrames(const Buffer* stream)
{
    size_t frames = 0;
    for (size_t offset = 0; offset < stream->size; ++frames) {
        size_t length = mervox_frame_bytes(stream->bytes[offset]);
        if (offset + length > stream->size)
            break;
        offset += length;
    }
    return frames;
}

static int16_t CallDecSoundFrame(const LegacyDll* dll, const Options* options, const uint8_t* frame, int16_t* output)
{
#if !MERVOX_HOST_HAS_PROBE
    (void)options;
    return dll->decSoundFrame(frame, output);
#else
    if (!options->misaligned)
        return dll->decSoundFrame(frame, output);
    uint32_t args[2] = {(uint32_t)(uintptr_t)frame, (uint32_t)(uintptr_t)output};
    int32_t left = 0;
    uint32_t result = ProbeStdcall((const void*)dll->decSoundFrame, args, 2, &left);
    if (left != 0) {
        fprintf(stderr, "DecSoundFrame left %ld bytes of arguments on the stack\n", (long)left);
        exit(kExitContract);
    }
    return (int16_t)result;
#endif
}

static int32_t CallINITdec(const LegacyDll* dll, const Options* options, int32_t argument)
{
#if !MERVOX_HOST_HAS_PROBE
    (void)options;
    return dll->initDec(argument);
#else
    if (!options->misaligned)
        return dll->initDec(argument);
    uint32_t args[1] = {(uint32_t)argument};
    int32_t left = 0;
    uint32_t result = ProbeStdcall((const void*)dll->initDec, args, 1, &left);
    if (left != 0) {
        fprintf(stderr, "INITdec left %ld bytes of arguments on the stack\n", (long)left);
        exit(kExitContract);
    }
    return (int32_t)result;
#endif
}

/* One pass over the stream; 0 (after a message) if a call's result is not
 * what the interface promises or the caller's frames were written. */
static int DecodeStream(const LegacyDll* dll, const Options* options, const Buffer* stream, const Buffer* mask,
                        int16_t* pcm)
{
    uint8_t* pristine = (uint8_t*)malloc(stream->size ? stream->size : 1);
    if (!pristine)
        return 0;
    memcpy(pristine, stream->bytes, stream->size);

    int ok = 1;
    int32_t initResult = CallINITdec(dll, options, options->initArgument);
    if (initResult != 0) {
        fprintf(stderr, "INITdec returned %ld\n", (long)initResult);
        ok = 0;
    }
    size_t offset = 0;
    const size_t frames = CountFrames(stream);
    for (size_t k = 0; ok && k < frames; ++k) {
        const uint8_t* frame = stream->bytes + offset;
        offset += mervox_frame_bytes(frame[0]);
        const int lost = !mervox_frame_is_speech(frame[0]) || (k < mask->size && mask->bytes[k] != 0);
        const int16_t expected = lost ? 1 : (frame[0] & 1) ? 10 : 12;
        const int16_t words = CallDecSoundFrame(dll, options, lost ? NULL : frame, pcm + kFrameSamples * k);
        if (words != expected) {
            fprintf(stderr, "frame %lu: DecSoundFrame returned %d, expected %d\n", (unsigned long)k, words, expected);
            ok = 0;
        }
    }
    if (ok && memcmp(pristine, stream->bytes, stream->size) != 0) {
        fprintf(stderr, "the caller's frames were written\n");
        ok = 0;
    }
    free(pristine);
    return ok;
}

int main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        fprintf(stderr,
                "usage: mervox_host [--dll PATH] [--mask FILE] [--init N] [--misaligned] [--reload] "
                "STREAM OUTPUT\n");
        return kExitUsage;
    }
    Buffer stream = {0};
    Buffer mask = {0};
    if (!ReadWholeFile(options.streamPath, &stream)) {
        fprintf(stderr, "cannot read %s\n", options.streamPath);
        return kExitFile;
    }
    if (options.maskPath && !ReadWholeFile(options.maskPath, &mask)) {
        fprintf(stderr, "cannot read %s\n", options.maskPath);
        return kExitFile;
    }

    const size_t frames = CountFrames(&stream);
    const size_t samples = frames * kFrameSamples;
    int16_t* pcm = (int16_t*)calloc(samples ? samples : 1, sizeof(int16_t));
    int16_t* again = (int16_t*)calloc(samples ? samples : 1, sizeof(int16_t));
    if (!pcm || !again)
        return kExitFile;

    LegacyDll dll;
    if (!LoadLegacyDll(options.dllPath, &dll))
        return kExitDll;
    if (!DecodeStream(&dll, &options, &stream, &mask, pcm))
        return kExitContract;
    if (options.reload) {
        if (!UnloadLegacyDll(options.dllPath, &dll) || !LoadLegacyDll(options.dllPath, &dll))
            return kExitDll;
        if (!DecodeStream(&dll, &options, &stream, &mask, again))
            return kExitContract;
        if (memcmp(pcm, again, samples * sizeof(int16_t)) != 0) {
            fprintf(stderr, "the pass after reloading the DLL decoded differently\n");
            return kExitContract;
        }
    }
    if (!UnloadLegacyDll(options.dllPath, &dll))
        return kExitDll;

    FILE* out = fopen(options.outputPath, "wb");
    if (!out || fwrite(pcm, sizeof(int16_t), samples, out) != samples || fclose(out) != 0) {
        fprintf(stderr, "cannot write %s\n", options.outputPath);
        return kExitFile;
    }
    printf("%lu frames, %lu samples\n", (unsigned long)frames, (unsigned long)samples);
    free(again);
    free(pcm);
    free(mask.bytes);
    free(stream.bytes);
    return 0;
}
