/* The host linked against mervox.dll's import library: Windows loads the DLL
 * with the program and binds the two functions through their decorated
 * stdcall names. Unloading is not possible here. */
#include "legacy_dll.h"

#include <stdio.h>
#include <string.h>

int LoadLegacyDll(const char* path, LegacyDll* dll)
{
    (void)path;
    memset(dll, 0, sizeof *dll);
    dll->module = GetModuleHandleA("mervox.dll");
    if (!dll->module) {
        fprintf(stderr, "mervox.dll was not loaded with the program\n");
        return 0;
    }
    dll->decSoundFrame = DecSoundFrame;
    dll->initDec = INITdec;
    return 1;
}

int UnloadLegacyDll(const char* path, LegacyDll* dll)
{
    (void)path;
    (void)dll;
    return 1;
}
