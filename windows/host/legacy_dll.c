#include "legacy_dll.h"

#include <stdio.h>
#include <string.h>

static const char* BaseName(const char* path)
{
    const char* base = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\')
            base = p + 1;
    return base;
}

static int CheckExport(HMODULE module, const char* name, WORD ordinal, FARPROC* address)
{
    FARPROC byName = GetProcAddress(module, name);
    FARPROC byOrdinal = GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
    if (!byName || byName != byOrdinal) {
        fprintf(stderr, "%s: by name %p, by ordinal %u %p\n", name, (void*)byName, ordinal, (void*)byOrdinal);
        return 0;
    }
    *address = byName;
    return 1;
}

int LoadLegacyDll(const char* path, LegacyDll* dll)
{
    memset(dll, 0, sizeof *dll);
    HMODULE module = LoadLibraryA(path);
    if (!module) {
        fprintf(stderr, "LoadLibrary(%s) failed: error %lu\n", path, GetLastError());
        return 0;
    }
    FARPROC decode = NULL;
    FARPROC init = NULL;
    int ok = CheckExport(module, "DecSoundFrame", 2, &decode) && CheckExport(module, "INITdec", 3, &init);
    if (ok && GetProcAddress(module, MAKEINTRESOURCEA(1))) {
        fprintf(stderr, "ordinal 1 resolves\n");
        ok = 0;
    }
    if (!ok) {
        FreeLibrary(module);
        return 0;
    }
    dll->module = module;
    dll->decSoundFrame = (DecSoundFrameFn)(void (*)(void))decode;
    dll->initDec = (INITdecFn)(void (*)(void))init;
    return 1;
}

int UnloadLegacyDll(const char* path, LegacyDll* dll)
{
    if (!FreeLibrary(dll->module)) {
        fprintf(stderr, "FreeLibrary failed: error %lu\n", GetLastError());
        return 0;
    }
    memset(dll, 0, sizeof *dll);
    if (GetModuleHandleA(BaseName(path))) {
        fprintf(stderr, "%s is still loaded after FreeLibrary\n", BaseName(path));
        return 0;
    }
    return 1;
}
