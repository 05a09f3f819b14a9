/* The few Win32 declarations that vastrel and its caller test use, for the
   clang build for Microsoft's ABI: there is no Windows SDK here, and
   MinGW's <windows.h> does not parse in that mode. Signatures, constants
   and the one record are as documented for the 32-bit API; the import
   libraries made from kernel32.def and user32.def resolve the names. */
#ifndef VSX_MSVC_ABI_WINDOWS_H
#define VSX_MSVC_ABI_WINDOWS_H

#include <stddef.h>
#include <stdint.h>

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef unsigned long DWORD;
typedef void* HANDLE;
typedef void* HMODULE;
typedef void* HINSTANCE;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef size_t SIZE_T;
typedef int (__stdcall* FARPROC)();

#define WINAPI __stdcall
#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define DLL_PROCESS_ATTACH 1
#define DLL_PROCESS_DETACH 0
#define HEAP_ZERO_MEMORY 0x00000008
#define PROCESS_HEAP_ENTRY_BUSY 0x0004
#define GENERIC_READ 0x80000000ul
#define GENERIC_WRITE 0x40000000ul
#define FILE_SHARE_READ 0x00000001
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_FILE_SIZE 0xFFFFFFFFul
#define NO_ERROR 0
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x00000002
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x00000004

/* One step of a heap walk. */
typedef struct _PROCESS_HEAP_ENTRY {
    void* lpData;
    DWORD cbData;
    BYTE cbOverhead;
    BYTE iRegionIndex;
    WORD wFlags;
    DWORD adwBlockOrRegion[4]; /* the block-or-region union, not read here */
} PROCESS_HEAP_ENTRY;

#ifdef __cplusplus
extern "C" {
#endif

/* kernel32.dll */
__declspec(dllimport) HANDLE WINAPI HeapCreate(DWORD flOptions, SIZE_T dwInitialSize, SIZE_T dwMaximumSize);
__declspec(dllimport) void* WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes);
__declspec(dllimport) BOOL WINAPI HeapFree(HANDLE hHeap, DWORD dwFlags, void* lpMem);
__declspec(dllimport) BOOL WINAPI HeapDestroy(HANDLE hHeap);
__declspec(dllimport) SIZE_T WINAPI HeapSize(HANDLE hHeap, DWORD dwFlags, const void* lpMem);
__declspec(dllimport) BOOL WINAPI HeapWalk(HANDLE hHeap, PROCESS_HEAP_ENTRY* lpEntry);
__declspec(dllimport) DWORD WINAPI GetProcessHeaps(DWORD NumberOfHeaps, HANDLE* ProcessHeaps);
__declspec(dllimport) HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                                void* lpSecurityAttributes, DWORD dwCreationDisposition,
                                                DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
__declspec(dllimport) DWORD WINAPI GetFileSize(HANDLE hFile, DWORD* lpFileSizeHigh);
__declspec(dllimport) BOOL WINAPI ReadFile(HANDLE hFile, void* lpBuffer, DWORD nNumberOfBytesToRead,
                                           DWORD* lpNumberOfBytesRead, void* lpOverlapped);
__declspec(dllimport) BOOL WINAPI WriteFile(HANDLE hFile, const void* lpBuffer, DWORD nNumberOfBytesToWrite,
                                            DWORD* lpNumberOfBytesWritten, void* lpOverlapped);
__declspec(dllimport) BOOL WINAPI CloseHandle(HANDLE hObject);
__declspec(dllimport) BOOL WINAPI DeleteFileA(LPCSTR lpFileName);
__declspec(dllimport) BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, void* lpSecurityAttributes);
__declspec(dllimport) BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName);
__declspec(dllimport) DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer);
__declspec(dllimport) DWORD WINAPI GetLastError(void);
__declspec(dllimport) void WINAPI SetLastError(DWORD dwErrCode);
__declspec(dllimport) HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName);
__declspec(dllimport) BOOL WINAPI GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE* phModule);
__declspec(dllimport) FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
__declspec(dllimport) HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName);
__declspec(dllimport) BOOL WINAPI FreeLibrary(HMODULE hLibModule);
__declspec(dllimport) __declspec(noreturn) void WINAPI ExitProcess(unsigned uExitCode);
__declspec(dllimport) LPSTR WINAPI lstrcpyA(LPSTR lpString1, LPCSTR lpString2);

/* user32.dll */
__declspec(dllimport) int WINAPI LoadStringA(HINSTANCE hInstance, unsigned uID, LPSTR lpBuffer, int cchBufferMax);

#ifdef __cplusplus
}
#endif

#endif
