/* A host as a Microsoft toolchain builds it: compiled for the MSVC target,
 * linked by lld-link against the release archive's mervox.lib and
 * mervox-api.lib (no MinGW runtime, no C runtime at all: only kernel32).
 * Decodes the stream named by MERVOX_HOST_STREAM with the legacy interface,
 * splitting it with mervox_frame_bytes, and writes the samples as raw 16-bit
 * PCM to MERVOX_HOST_OUTPUT. Frames of types 2 and 3 are passed as lost.
 * Exit status: 0 done, 3 a file error, 5 a call broke the interface. */
#include "mervox.h"

typedef void* Handle;
#define KERNEL32 __declspec(dllimport) __stdcall
KERNEL32 Handle CreateFileA(const char* name, unsigned long access, unsigned long share, void* security,
                            unsigned long disposition, unsigned long flags, Handle model);
KERNEL32 int ReadFile(Handle file, void* buffer, unsigned long size, unsigned long* read, void* overlapped);
KERNEL32 int WriteFile(Handle file, const void* buffer, unsigned long size, unsigned long* written, void* overlapped);
KERNEL32 int CloseHandle(Handle file);
KERNEL32 unsigned long GetEnvironmentVariableA(const char* name, char* value, unsigned long size);
KERNEL32 void ExitProcess(unsigned int status);

#define kGenericRead 0x80000000ul
#define kGenericWrite 0x40000000ul
#define kOpenExisting 3ul
#define kCreateAlways 2ul
#define kInvalidHandle ((Handle)(~(unsigned long long)0 >> (64 - 8 * sizeof(void*))))

static unsigned char stream[1 << 20];
static char path[1024];

static Handle Open(const char* variable, int write)
{
    unsigned long n = GetEnvironmentVariableA(variable, path, sizeof path);
    if (n == 0 || n >= sizeof path)
        ExitProcess(3);
    Handle file =
        CreateFileA(path, write ? kGenericWrite : kGenericRead, 0, 0, write ? kCreateAlways : kOpenExisting, 0, 0);
    if (file == kInvalidHandle)
        ExitProcess(3);
    return file;
}

void HostMain(void)
{
    Handle in = Open("MERVOX_HOST_STREAM", 0);
    unsigned long size = 0;
    if (!ReadFile(in, stream, sizeof stream, &size, 0) || size == sizeof stream)
        ExitProcess(3);
    CloseHandle(in);
    Handle out = Open("MERVOX_HOST_OUTPUT", 1);
    if (INITdec(1) != 0)
        ExitProcess(5);
    int16_t pcm[MERVOX_FRAME_SAMPLES];
    for (unsigned long offset = 0; offset < size;) {
        const unsigned char* frame = stream + offset;
        const size_t length = mervox_frame_bytes(frame[0]);
        if (length == 0 || offset + length > size)
            break;
        const int speech = (frame[0] & 3) < 2;
        const int16_t words = DecSoundFrame(speech ? frame : 0, pcm);
        if (words != (speech ? (frame[0] & 1 ? 10 : 12) : 1))
            ExitProcess(5);
        unsigned long written = 0;
        if (!WriteFile(out, pcm, sizeof pcm, &written, 0) || written != sizeof pcm)
            ExitProcess(3);
        offset += (unsigned long)length;
    }
    CloseHandle(out);
    ExitProcess(0);
}
