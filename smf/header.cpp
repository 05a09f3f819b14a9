// The file container (bare or RIFF-wrapped) and the header chunk.
#include "midi_file.h"

#include "../core/errors.h"
#include "../core/loaded_file.h"

#include <string.h>

void CheckHeader(SMidiFile* pFile) {
    if (pFile->nFileSize == 0) RaiseError(kMsgBufferEmpty);
    // Too short to hold even the four-byte identifier: no header can be found.
    if (pFile->nFileSize < 4) RaiseError(kMsgHeaderNotFound);

    unsigned char* pData = pFile->pBuffer;
    pFile->nDataSize = pFile->nFileSize;
    if (memcmp(pData, "MThd", 4) != 0) {
        if (memcmp(pData, "RIFF", 4) != 0) RaiseError(kMsgHeaderNotFound);
        // RIFF head, form type and the head of the chunk that holds the data:
        // skipped unread.
        if (pFile->nFileSize < kRiffHeadBytes) RaiseError(kMsgHeaderNotFound);
        pFile->nDataSize = pFile->nFileSize - kRiffHeadBytes;
        pData += kRiffHeadBytes;
    }
    pFile->pData = pData;

    // A header chunk cut short cannot carry a length of 6.
    if (pFile->nDataSize < kHeaderChunkBytes) RaiseError(kMsgInvalidHeaderLength);
    if (ReadBigEndian32(pData + 4) != 6) RaiseError(kMsgInvalidHeaderLength);

    pFile->wFormat = ReadBigEndian16(pData + 8);
    if (pFile->wFormat >= 2) RaiseError(kMsgFormatNotSupported);

    // Format 0 offers its 16 channels; format 1 every chunk but the conductor.
    uint16_t wChunks = ReadBigEndian16(pData + 10);
    pFile->wTracks = pFile->wFormat == 0 ? 16 : static_cast<uint16_t>(wChunks - 1);

    // Always ticks per quarter note; an SMPTE division is taken as a tick count.
    pFile->wDivision = ReadBigEndian16(pData + 12);
    if (pFile->wDivision == 0) RaiseError(kMsgInvalidDivision);

    pFile->pFirstTrack = pData + kHeaderChunkBytes;
}

bool IsTrackChunkAt(SMidiFile* pFile, const unsigned char* pChunk) {
    const unsigned char* pEnd = pFile->pData + pFile->nDataSize;
    if (pChunk < pFile->pData || pChunk > pEnd) return false;
    if (static_cast<size_t>(pEnd - pChunk) < kChunkHeadBytes) return false;
    return memcmp(pChunk, "MTrk", 4) == 0;
}

unsigned char* NextChunk(SMidiFile* pFile, unsigned char* pChunk) {
    uint64_t nSkip = kChunkHeadBytes + static_cast<uint64_t>(ReadBigEndian32(pChunk + 4));
    if (nSkip > static_cast<uint64_t>(pFile->pData + pFile->nDataSize - pChunk)) return nullptr;
    return pChunk + nSkip;
}

SByteCursor TrackEvents(SMidiFile* pFile, unsigned char* pChunk) {
    SByteCursor cursor;
    cursor.pNext = pChunk + kChunkHeadBytes;
    cursor.pEnd = EndOfReadableData(pFile);
    return cursor;
}
