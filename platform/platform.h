// The only door to the operating system: private heaps, reading a whole
// file, and the library's string table. Windows gets the real Win32 calls
// (platform_win32.cpp); every other build gets platform_portable.cpp.
#ifndef VASTREL_PLATFORM_H
#define VASTREL_PLATFORM_H

#include <stddef.h>
#include <stdint.h>

// ---- Private heaps ---------------------------------------------------------
// A heap hands out blocks until it is destroyed, and destroying it frees every
// block still in it. All calls return null on failure instead of throwing.

void* PlatformCreateHeap();
void PlatformDestroyHeap(void* hHeap);

// Built with AddressSanitizer (the sanitizer tests, the fuzz target).
#if defined(__SANITIZE_ADDRESS__)
#define VSX_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VSX_ADDRESS_SANITIZER 1
#endif
#endif

// The portable arena hands out its blocks inline (arena_heap.h); the Win32
// heaps, the checked heaps and the arena that poisons for the sanitizer do
// it in a call.
#if !defined(_WIN32) && !defined(VSX_CHECKED_HEAP) && !defined(VSX_ADDRESS_SANITIZER)
#define VSX_INLINE_ARENA 1
#include "arena_heap.h"
#else
void* PlatformAllocate(void* hHeap, size_t nBytes, bool bZeroFill);
void PlatformFree(void* hHeap, void* pBlock);
#endif
// A block whose bytes may be anything, for a large block that its caller
// writes in full: memory a destroyed heap left behind is not cleared for it.
void* PlatformAllocateUncleared(void* hHeap, size_t nBytes);
// Gives the system the memory that destroyed heaps left for the next ones
// (heaps keep some, so that the tracks of a file parsed one after another
// spare the system's page faults); done when a file is released.
void PlatformReturnKeptMemory();

// ---- Whole-file read ---------------------------------------------------------

struct SPlatformFile;  // an open file, opaque

// Opens an existing file for reading, others may read it too. Null on failure.
SPlatformFile* PlatformOpenFile(const char* pszPath);
// The file's size in bytes (the full 64-bit size, so a caller can refuse huge files).
uint64_t PlatformFileSize(SPlatformFile* pFile);
// One read of nBytes into pBuffer; returns the number of bytes that arrived.
uint32_t PlatformReadFile(SPlatformFile* pFile, void* pBuffer, uint32_t nBytes);
void PlatformCloseFile(SPlatformFile* pFile);

// ---- String table ----------------------------------------------------------
// Copies string nId into pBuffer, cut to nLimit characters including the
// terminator. Returns the number of characters copied (0 for an unknown id,
// with an empty string in the buffer).
int PlatformLoadString(unsigned nId, char* pBuffer, int nLimit);

// Copies a zero-terminated string, terminator included; returns pszTarget.
char* PlatformCopyString(char* pszTarget, const char* pszSource);

// Remembers the module through which the string table is read (Windows: the
// handle given to DllMain). A no-op elsewhere.
void PlatformSetModule(void* hModule);
// The module handle given at process attach (null until then, and always
// null outside Windows): module state that the platform layer owns.
extern void* g_hModule;

#endif
