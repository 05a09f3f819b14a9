// The platform layer of the Windows DLL: Win32 private heaps, whole-file
// reads through CreateFileA, and the STRINGTABLE resource of the module.
//
// It also keeps the allocation counters and the injected-failure switch of
// fault_injection.h, so that the same test suites run against the real
// Win32 heaps; outside the tests the counters cost a few additions.
//
// The MinGW build takes <windows.h> from MinGW. The clang build for
// Microsoft's ABI (VSX_MSVC_ABI) has no Windows SDK: its <windows.h> is the
// short one in cmake/msvc-abi/include, declaring the calls used here.
#include "platform.h"
#include "heap_accounting.h"

#include <string.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>


// ---- Heaps -------------------------------------------------------------------
// Win32 private heaps do all the work: growable (no initial size, no maximum),
// and HeapDestroy gives back every block still in the heap at once. Only the
// byte counter needs to know what went with it, so a heap is walked once
// before it is destroyed.

void* PlatformCreateHeap() {
    if (!AllocationAllowed()) return nullptr;
    HANDLE hHeap = HeapCreate(0, 0, 0);
    if (hHeap) CountHeapCreated();
    return hHeap;
}

void* PlatformAllocate(void* hHeap, size_t nBytes, bool bZeroFill) {
    if (!hHeap || !AllocationAllowed()) return nullptr;
    void* pBlock = HeapAlloc(hHeap, bZeroFill ? HEAP_ZERO_MEMORY : 0, nBytes);
    if (pBlock) CountBytes(static_cast<int64_t>(HeapSize(hHeap, 0, pBlock)));
    return pBlock;
}

void* PlatformAllocateUncleared(void* hHeap, size_t nBytes) { return PlatformAllocate(hHeap, nBytes, false); }

void PlatformFree(void* hHeap, void* pBlock) {
    if (!hHeap || !pBlock) return;
    SIZE_T nBytes = HeapSize(hHeap, 0, pBlock);
    if (nBytes != static_cast<SIZE_T>(-1)) CountBytes(-static_cast<int64_t>(nBytes));
    HeapFree(hHeap, 0, pBlock);
}

// The bytes of every block still allocated from the heap.
static uint64_t BytesInHeap(HANDLE hHeap) {
    uint64_t nBytes = 0;
    PROCESS_HEAP_ENTRY entry;
    memset(&entry, 0, sizeof entry);
    while (HeapWalk(hHeap, &entry))
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) nBytes += HeapSize(hHeap, 0, entry.lpData);
    return nBytes;
}

void PlatformDestroyHeap(void* hHeap) {
    if (!hHeap) return;
    CountBytes(-static_cast<int64_t>(BytesInHeap(hHeap)));
    HeapDestroy(hHeap);
    CountHeapDestroyed();
}

// HeapDestroy gives everything back to the system: nothing is kept.
void PlatformReturnKeptMemory() {}

// ---- Files -------------------------------------------------------------------
// The opaque file is the Win32 handle itself: CreateFileA never returns null
// for an open file, so null is free to mean failure.

static HANDLE HandleOf(SPlatformFile* pFile) { return reinterpret_cast<HANDLE>(pFile); }

SPlatformFile* PlatformOpenFile(const char* pszPath) {
    if (!pszPath) return nullptr;
    // A directory cannot be opened this way (it would need backup semantics),
    // so only a file gets through, as in the portable build.
    HANDLE hFile = CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE || hFile == nullptr) return nullptr;
    return reinterpret_cast<SPlatformFile*>(hFile);
}

uint64_t PlatformFileSize(SPlatformFile* pFile) {
    DWORD dwHigh = 0;
    // All ones is also a real low half: only the error code tells a failure.
    SetLastError(NO_ERROR);
    DWORD dwLow = GetFileSize(HandleOf(pFile), &dwHigh);
    if (dwLow == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return 0;
    return (static_cast<uint64_t>(dwHigh) << 32) | dwLow;
}

uint32_t PlatformReadFile(SPlatformFile* pFile, void* pBuffer, uint32_t nBytes) {
    DWORD dwRead = 0;
    if (!ReadFile(HandleOf(pFile), pBuffer, nBytes, &dwRead, nullptr)) return 0;
    return dwRead;
}

void PlatformCloseFile(SPlatformFile* pFile) { CloseHandle(HandleOf(pFile)); }

// ---- String table ------------------------------------------------------------
// The strings are the module's STRINGTABLE resource (resources/vastrel.rc).
// In the DLL the module is the one DllMain was given. When the same objects
// are linked straight into a program (the test suites do), nobody calls
// DllMain, and the table is then read from whichever module holds this code.

void* g_hModule = nullptr;

static HMODULE ModuleWithStrings() {
    if (g_hModule) return static_cast<HMODULE>(g_hModule);
    HMODULE hModule = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ModuleWithStrings), &hModule);
    return hModule;
}

int PlatformLoadString(unsigned nId, char* pBuffer, int nLimit) {
    // A limit of 0 would ask LoadStringA for a pointer into the resource.
    if (!pBuffer || nLimit <= 0) return 0;
    pBuffer[0] = '\0';
    int nCopied = LoadStringA(static_cast<HINSTANCE>(ModuleWithStrings()), nId, pBuffer, nLimit);
    if (nCopied <= 0) {
        pBuffer[0] = '\0';
        return 0;
    }
    return nCopied;
}

char* PlatformCopyString(char* pszTarget, const char* pszSource) { return lstrcpyA(pszTarget, pszSource); }

void PlatformSetModule(void* hModule) { g_hModule = hModule; }

// ---- Process attach ----------------------------------------------------------
// Only the DLL has an entry point. Attach and detach always succeed.

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, void*) {
    if (dwReason == DLL_PROCESS_ATTACH) PlatformSetModule(hInstance);
    return TRUE;
}

#if defined(VSX_MSVC_ABI)
// ---- Start-up for Microsoft's ABI ----------------------------------------------
// The clang build links no C runtime start-up code; msvc_start.h supplies
// what the DLL needs of it, and this is its entry point.

#include <msvc_start.h>

extern "C" BOOL WINAPI _DllMainCRTStartup(HINSTANCE hInstance, DWORD dwReason, void* pReserved) {
    if (dwReason == DLL_PROCESS_ATTACH) VsxRunInitializers();
    return DllMain(hInstance, dwReason, pReserved);
}

#endif
