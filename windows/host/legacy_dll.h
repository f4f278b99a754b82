/* mervox.dll as a legacy host sees it: loaded at run time, its two
 * functions looked up by name and by ordinal. */
#ifndef MERVOX_LEGACY_DLL_H
#define MERVOX_LEGACY_DLL_H

#include <windows.h>

#include "mervox.h"

typedef int16_t(MERVOX_STDCALL* DecSoundFrameFn)(const uint8_t* frame, int16_t* output);
typedef int32_t(MERVOX_STDCALL* INITdecFn)(int32_t rateSelector);

typedef struct {
    HMODULE module;
    DecSoundFrameFn decSoundFrame;
    INITdecFn initDec;
} LegacyDll;

/* Loads the DLL and checks its exports: both names resolve, to the same
 * addresses as ordinals 2 and 3, and ordinal 1 does not resolve. On failure
 * prints why to stderr, leaves nothing loaded and returns 0. */
int LoadLegacyDll(const char* path, LegacyDll* dll);

/* Unloads the DLL and checks that it has left the process (the host held
 * the only reference). Returns 0 and prints why if it has not. */
int UnloadLegacyDll(const char* path, LegacyDll* dll);

#endif
