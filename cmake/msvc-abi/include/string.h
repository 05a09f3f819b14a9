/* The C string functions of msvcrt.dll, declared for the clang build for
   Microsoft's ABI, which has no C library headers of its own here. */
#ifndef VSX_MSVC_ABI_STRING_H
#define VSX_MSVC_ABI_STRING_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

void* memcpy(void* pTarget, const void* pSource, size_t nBytes);
void* memmove(void* pTarget, const void* pSource, size_t nBytes);
void* memset(void* pTarget, int nValue, size_t nBytes);
int memcmp(const void* pLeft, const void* pRight, size_t nBytes);
void* memchr(const void* pBytes, int nValue, size_t nBytes);
size_t strlen(const char* psz);
char* strcpy(char* pszTarget, const char* pszSource);
char* strncpy(char* pszTarget, const char* pszSource, size_t nLimit);
char* strcat(char* pszTarget, const char* pszSource);
int strcmp(const char* pszLeft, const char* pszRight);
int strncmp(const char* pszLeft, const char* pszRight, size_t nLimit);
char* strchr(const char* psz, int nChar);
char* strrchr(const char* psz, int nChar);
char* strstr(const char* psz, const char* pszPart);

#ifdef __cplusplus
}
#endif

#endif
