// The five exported calls: loading and releasing a file, parsing and
// releasing a track (the playback position is position/position.cpp).
#include "vastrel.h"

#include "../core/bits.h"
#include "../core/errors.h"
#include "../core/loaded_file.h"
#include "../core/module_state.h"
#include "../core/staged_parse.h"
#include "../notation/notation.h"
#include "../platform/platform.h"
#include "../smf/midi_file.h"
#include "../track/track.h"

#include <string.h>

// Forgets the position cache when it belongs to this track.
static void ForgetCachedPosition(const STrack* pTrack) {
    if (pTrack && g_pCachedTrack == pTrack) {
        g_pCachedTrack = nullptr;
        g_pCachedMeasure = nullptr;
        g_nCachedFileSize = 0;
    }
}

// ---- Loading a file ----------------------------------------------------------------

// Reads the whole file into a buffer of its size plus the spare bytes.
static void ReadWholeFile(SMidiFile* pFile, SPlatformFile* pHandle) {
    uint64_t nSize = PlatformFileSize(pHandle);
    // The size is a 32-bit field and the buffer needs three bytes more: a file
    // that large cannot be given a buffer.
    if (nSize > UINT32_MAX - kSpareBytes) RaiseError(kMsgNoMemoryForBuffer);
    pFile->nFileSize = static_cast<uint32_t>(nSize);
    // Zero-filled, spare bytes included, so nothing uninitialised is ever read.
    pFile->pBuffer = static_cast<unsigned char*>(PlatformAllocate(pFile->hHeap, pFile->nFileSize + kSpareBytes, true));
    if (!pFile->pBuffer) RaiseError(kMsgNoMemoryForBuffer);
    if (PlatformReadFile(pHandle, pFile->pBuffer, pFile->nFileSize) != pFile->nFileSize) RaiseError(kMsgCannotReadFile);
}

SMidiFile* VSX_LoadMidiFile(const char* pszPath) {
    SPlatformFile* pHandle = PlatformOpenFile(pszPath);
    if (!pHandle) RaiseError(kMsgCannotOpenFile);

    void* hHeap = PlatformCreateHeap();
    SLoadedFile* pLoaded = hHeap ? static_cast<SLoadedFile*>(PlatformAllocate(hHeap, sizeof(SLoadedFile), true)) : nullptr;
    if (!pLoaded) {
        // No heap or no record: as good as no buffer.
        PlatformDestroyHeap(hHeap);
        PlatformCloseFile(pHandle);
        RaiseError(kMsgNoMemoryForBuffer);
    }
    SMidiFile* pFile = &pLoaded->file;
    pFile->hHeap = hHeap;
    try {
        ReadWholeFile(pFile, pHandle);
    } catch (const CVastrelException&) {
        PlatformDestroyHeap(hHeap);
        PlatformCloseFile(pHandle);
        throw;
    }
    PlatformCloseFile(pHandle);

    // The caller never receives a file that failed its checks, so it goes at once.
    try {
        CheckHeader(pFile);
        ReadConductorMaps(pFile);
    } catch (const CVastrelException&) {
        PlatformDestroyHeap(hHeap);
        throw;
    }
    return pFile;
}

// The memory the file's tracks left for the next parse goes back with it.
void VSX_ReleaseFile(SMidiFile* pFile) {
    if (pFile && pFile->hHeap) PlatformDestroyHeap(pFile->hHeap);
    PlatformReturnKeptMemory();
}

// ---- Parsing a track -----------------------------------------------------------------

// The chunk of track wTrack: format 1 passes over the conductor and wTrack
// chunks before it; format 0 has only the one chunk.
static unsigned char* LocateTrackChunk(SMidiFile* pFile, unsigned short wTrack) {
    unsigned char* pChunk = pFile->pFirstTrack;
    const unsigned char* pEnd = pFile->pData + pFile->nDataSize;
    if (pFile->wFormat == 1) {
        for (uint32_t n = 0; n < static_cast<uint32_t>(wTrack) + 1; ++n) {
            if (!IsTrackChunkAt(pFile, pChunk)) RaiseError(kMsgInvalidTrackHeader);
            uint64_t nSkip = kChunkHeadBytes + static_cast<uint64_t>(ReadBigEndian32(pChunk + 4));
            if (nSkip > static_cast<uint64_t>(pEnd - pChunk)) RaiseError(kMsgInvalidTrackHeader);
            pChunk += nSkip;
        }
    }
    if (!IsTrackChunkAt(pFile, pChunk)) RaiseError(kMsgInvalidTrackHeader);
    return pChunk;
}

STrack* ParseTrackThrough(SMidiFile* pFile, unsigned short wTrack, unsigned char bResolution,
                          char cTranspose, char cLastStage) {
    if (!pFile || !pFile->pFirstTrack) RaiseError(kMsgBufferNotPrepared);
    if (wTrack >= pFile->wTracks) RaiseError(kMsgInvalidTrackNumber);
    // The grid must halve down to single slots: only powers of two.
    if (bResolution < 2 || bResolution > 64 || !IsPowerOfTwo(bResolution)) RaiseError(kMsgInvalidResolution);
    unsigned char* pChunk = LocateTrackChunk(pFile, wTrack);

    void* hHeap = PlatformCreateHeap();
    if (!hHeap) RaiseError(kMsgNoTrackHeap);
    STrack* pTrack = static_cast<STrack*>(PlatformAllocate(hHeap, sizeof(STrack), true));
    if (!pTrack) {
        PlatformDestroyHeap(hHeap);
        g_pCurrentTrack = nullptr;
        RaiseError(kMsgNoTrackRecord);
    }
    pTrack->hHeap = hHeap;
    g_pCurrentTrack = pTrack;

    bool bLastTrack = pFile->wFormat == 0 || static_cast<uint32_t>(wTrack) + 1 == pFile->wTracks;
    uint8_t bChannel = pFile->wFormat == 0 ? static_cast<uint8_t>(wTrack) : 0;
    try {
        CollectTrackNotes(pFile, pChunk, bResolution, bChannel, bLastTrack, static_cast<int8_t>(cTranspose));
        BuildNotation(pFile, bResolution, static_cast<int8_t>(cTranspose), cLastStage);
    } catch (const CVastrelException&) {
        // The caller never receives an unfinished track: nothing of it stays.
        VSX_ReleaseTrack(pTrack);
        throw;
    }
    return g_pCurrentTrack;
}

STrack* VSX_ParseTrack(SMidiFile* pFile, unsigned short wTrack, unsigned char bResolution, char cTranspose) {
    return ParseTrackThrough(pFile, wTrack, bResolution, cTranspose, 'S');
}

void VSX_ReleaseTrack(STrack* pTrack) {
    ForgetCachedPosition(pTrack);
    if (pTrack && pTrack->hHeap) PlatformDestroyHeap(pTrack->hHeap);
    g_pCurrentTrack = nullptr;
    DestroyTransientHeap();
}
