/* What the start-up code of Microsoft's C runtime would give a module built
   for its ABI, for the clang build that links none (there is none on this
   system) but msvcrt.dll, which every Windows has. Included once, by the one
   source of the module that defines its entry point (the DLL's platform
   layer, the caller test):
   - the marker that every object using floating point refers to,
   - C99's snprintf (msvcrt's _vsnprintf leaves a cut text unterminated),
   - the virtual table that type descriptors of thrown records point at
     (a catch clause matches types by the descriptor's name, never through
     that table, so an empty one serves),
   - the load configuration that registers the image's exception handlers
     (safe structured exception handling),
   - VsxRunInitializers, which runs the dynamic initializers of the
     module's objects, as the entry point must before anything else. */
#ifndef VSX_MSVC_ABI_MSVC_START_H
#define VSX_MSVC_ABI_MSVC_START_H

#include <stdarg.h>
#include <stdio.h>
#include <windows.h>

extern "C" {

int _fltused = 0;

int snprintf(char* pszTarget, size_t nLimit, const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    int nWritten = _vsnprintf(pszTarget, nLimit, pszFormat, args);
    va_end(args);
    if (nLimit > 0 && (nWritten < 0 || (size_t)nWritten >= nLimit)) pszTarget[nLimit - 1] = '\0';
    return nWritten;
}

extern const void* const g_apVsxTypeInfoTable[2];
const void* const g_apVsxTypeInfoTable[2] = {0, 0};

/* The handler table and its length are made by the linker. */
extern const void* __safe_se_handler_table[];
extern BYTE __safe_se_handler_count;

struct SVsxLoadConfig {
    DWORD dwSize;
    DWORD dwTimeDateStamp;
    WORD wMajorVersion;
    WORD wMinorVersion;
    DWORD adwUnused[10];           /* global flags to security cookie: defaults */
    WORD wCSDVersion;
    WORD wDependentLoadFlags;
    DWORD dwEditList;
    DWORD dwSecurityCookie;
    const void* const* ppHandlerTable;
    DWORD dwHandlerCount;
};

extern const SVsxLoadConfig _load_config_used;
const SVsxLoadConfig _load_config_used = {
    sizeof(SVsxLoadConfig), 0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0, 0, 0, 0,
    __safe_se_handler_table, (DWORD)(uintptr_t)&__safe_se_handler_count};

}  /* extern "C" */

/* The compiler files a pointer to each dynamic initializer in the sections
   .CRT$XCA to .CRT$XCZ; the linker sorts them by the part after the dollar
   sign, so the entries between these two markers are all of them. */
typedef void (*PVsxInitializer)();
#pragma section(".CRT$XCA", read)
#pragma section(".CRT$XCZ", read)
__declspec(allocate(".CRT$XCA")) static const PVsxInitializer g_pVsxFirstInitializer = 0;
__declspec(allocate(".CRT$XCZ")) static const PVsxInitializer g_pVsxLastInitializer = 0;

static void VsxRunInitializers() {
    for (const PVsxInitializer* p = &g_pVsxFirstInitializer + 1; p < &g_pVsxLastInitializer; ++p)
        if (*p) (*p)();
}

#pragma comment(linker, "/alternatename:??_7type_info@@6B@=_g_apVsxTypeInfoTable")

#endif
