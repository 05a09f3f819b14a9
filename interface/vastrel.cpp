// The exported calls: loading and releasing a file, parsing a track in the
// classic model or under notation options, counting the tracks offered, and
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
#include "../track/channels.h"
#include "../track/track.h"

#include <string.h>

// Forgets the position cache when it belongs to this track or its lower staff.
static void ForgetCachedPosition(const STrack* pTrack) {
    if (pTrack && (g_pCachedTrack == pTrack || (pTrack->pNextStaff && g_pCachedTrack == pTrack->pNextStaff))) {
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

// ---- Notation options ----------------------------------------------------------------

// The options of the classic model: every rule off.
static SNotationOptions ClassicOptions() {
    SNotationOptions options = {};
    options.cbSize = sizeof options;
    return options;
}

// The caller's record as the build reads it: no more of it is read than its
// own size says, nor than this library's record holds (a newer caller's
// fields are not known here); every field past that is off. The copy carries
// this library's size and each flag as 0 or 1. Null means the preset.
static SNotationOptions NormalisedOptions(const SNotationOptions* pGiven) {
    SNotationOptions given = VSX_ReadableOptions();
    if (pGiven) {
        given = ClassicOptions();
        size_t cbRead = pGiven->cbSize < sizeof given ? pGiven->cbSize : sizeof given;
        memcpy(&given, pGiven, cbRead);
    }
    SNotationOptions options = ClassicOptions();
    options.bVoicesKeepTies = given.bVoicesKeepTies != 0;
    options.bConductorChunkAsTrack = given.bConductorChunkAsTrack != 0;
    options.bDrumStaff = given.bDrumStaff != 0;
    options.bEstimateKey = given.bEstimateKey != 0;
    options.bGrandStaff = given.bGrandStaff != 0;
    options.bGuitarTablature = given.bGuitarTablature != 0;
    options.bFirstClefFromNotes = given.bFirstClefFromNotes != 0;
    return options;
}

// Whether the file offers its conductor chunk as track 0: a format 1 file
// whose only chunk holds notes is both the conductor and the music, and the
// classic model offers no track for it.
static bool ConductorChunkIsTrack(SMidiFile* pFile, const SNotationOptions& options) {
    return options.bConductorChunkAsTrack && pFile->wFormat == 1 && pFile->wTracks == 0 &&
           IsTrackChunkAt(pFile, pFile->pFirstTrack) && NoteChannelsOfChunk(pFile, pFile->pFirstTrack) != 0;
}

static uint16_t TracksOffered(SMidiFile* pFile, const SNotationOptions& options) {
    return ConductorChunkIsTrack(pFile, options) ? 1 : pFile->wTracks;
}

static void CheckFilePrepared(const SMidiFile* pFile) {
    if (!pFile || !pFile->pFirstTrack) RaiseError(kMsgBufferNotPrepared);
}

unsigned short VSX_CountTracks(SMidiFile* pFile, const SNotationOptions* pOptions) {
    CheckFilePrepared(pFile);
    return TracksOffered(pFile, NormalisedOptions(pOptions));
}

// ---- Parsing a track -----------------------------------------------------------------

// The chunk of track wTrack: format 1 passes over the conductor (unless it is
// the track itself) and wTrack chunks before it; format 0 has only the one
// chunk.
static unsigned char* LocateTrackChunk(SMidiFile* pFile, unsigned short wTrack, bool bConductorIsTrack) {
    unsigned char* pChunk = pFile->pFirstTrack;
    if (pFile->wFormat == 1) {
        uint32_t nBefore = static_cast<uint32_t>(wTrack) + (bConductorIsTrack ? 0 : 1);
        for (uint32_t n = 0; n < nBefore; ++n) {
            if (!IsTrackChunkAt(pFile, pChunk)) RaiseError(kMsgInvalidTrackHeader);
            pChunk = NextChunk(pFile, pChunk);
            if (!pChunk) RaiseError(kMsgInvalidTrackHeader);
        }
    }
    if (!IsTrackChunkAt(pFile, pChunk)) RaiseError(kMsgInvalidTrackHeader);
    return pChunk;
}

// Whether a track is drawn on a percussion staff: in the readable notation
// with bDrumStaff, a drum track (its notes all on channel 10, or a format 0
// file's channel 10) of the channels its notes sound on.
static bool IsDrumStaff(const SMidiFile* pFile, unsigned short wTrack, uint16_t wChannels,
                        const SNotationOptions& options) {
    return options.bDrumStaff && IsPercussionTrack(pFile->wFormat, wTrack, wChannels);
}

// Parses a track under normalised options, stopping after stage cLastStage.
static STrack* ParseTrackUnder(SMidiFile* pFile, unsigned short wTrack, unsigned char bResolution, char cTranspose,
                               const SNotationOptions& options, char cLastStage) {
    CheckFilePrepared(pFile);
    bool bConductorIsTrack = ConductorChunkIsTrack(pFile, options);
    uint16_t wTracks = bConductorIsTrack ? 1 : pFile->wTracks;
    if (wTrack >= wTracks) RaiseError(kMsgInvalidTrackNumber);
    // The grid must halve down to single slots: only powers of two.
    if (bResolution < 2 || bResolution > 64 || !IsPowerOfTwo(bResolution)) RaiseError(kMsgInvalidResolution);
    unsigned char* pChunk = LocateTrackChunk(pFile, wTrack, bConductorIsTrack);

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

    // The last chunk's end-of-track event is the one lengthened.
    bool bLastTrack = pFile->wFormat == 0 || static_cast<uint32_t>(wTrack) + 1 == wTracks;
    uint8_t bChannel = pFile->wFormat == 0 ? static_cast<uint8_t>(wTrack) : 0;
    try {
        // A drum staff shows places, not pitches: a transposition does not
        // move it, so with one the channels are read before the notes are
        // collected; otherwise the collection reads them (wChannels).
        if (cTranspose != 0 &&
            IsDrumStaff(pFile, wTrack, TrackChannels(pFile->wFormat, wTrack, NoteChannelsOfChunk(pFile, pChunk)), options))
            cTranspose = 0;
        CollectTrackNotes(pFile, pChunk, bResolution, bChannel, bLastTrack, static_cast<int8_t>(cTranspose));
        pTrack->bPercussion = IsDrumStaff(pFile, wTrack, pTrack->wChannels, options);
        BuildNotation(pFile, bResolution, static_cast<int8_t>(cTranspose), options, cLastStage);
    } catch (const CVastrelException&) {
        // The caller never receives an unfinished track: nothing of it stays.
        VSX_ReleaseTrack(pTrack);
        throw;
    }
    return g_pCurrentTrack;
}

STrack* ParseTrackThrough(SMidiFile* pFile, unsigned short wTrack, unsigned char bResolution,
                          char cTranspose, char cLastStage) {
    return ParseTrackUnder(pFile, wTrack, bResolution, cTranspose, ClassicOptions(), cLastStage);
}

STrack* ParseTrackThroughWithOptions(SMidiFile* pFile, unsigned short wTrack, unsigned char bResolution,
                                     char cTranspose, const SNotationOptions* pOptions, char cLastStage) {
    return ParseTrackUnder(pFile, wTrack, bResolution, cTranspose, NormalisedOptions(pOptions), cLastStage);
}

STrack* VSX_ParseTrack(SMidiFile* pFile, unsigned short wTrack, unsigned char bResolution, char cTranspose) {
    return ParseTrackThrough(pFile, wTrack, bResolution, cTranspose, 'S');
}

STrack* VSX_ParseTrackWithOptions(SMidiFile* pFile, unsigned short wTrack, unsigned char bResolution,
                                  char cTranspose, const SNotationOptions* pOptions) {
    return ParseTrackThroughWithOptions(pFile, wTrack, bResolution, cTranspose, pOptions, 'S');
}

// The lower staff of a grand staff has no heap of its own: it goes with the
// track's first staff.
void VSX_ReleaseTrack(STrack* pTrack) {
    ForgetCachedPosition(pTrack);
    if (pTrack && pTrack->hHeap) PlatformDestroyHeap(pTrack->hHeap);
    g_pCurrentTrack = nullptr;
    DestroyTransientHeap();
}
