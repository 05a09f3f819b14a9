/* The formatted output of msvcrt.dll, declared for the clang build for
   Microsoft's ABI, which has no C library headers of its own here.
   msvcrt.dll has no C99 snprintf: the DLL supplies one of its own on top of
   _vsnprintf (see platform_win32.cpp). */
#ifndef VSX_MSVC_ABI_STDIO_H
#define VSX_MSVC_ABI_STDIO_H

#include <stdarg.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

int printf(const char* pszFormat, ...);
int sprintf(char* pszTarget, const char* pszFormat, ...);
int _vsnprintf(char* pszTarget, size_t nLimit, const char* pszFormat, va_list args);
int snprintf(char* pszTarget, size_t nLimit, const char* pszFormat, ...);
int fflush(void* pStream);

#ifdef __cplusplus
}
#endif

#endif
