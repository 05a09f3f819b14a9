// The readable extent of a loaded file. The loaded file record carries
// private fields behind the public ones: how many bytes past the Standard
// MIDI File data are readable, because a parse of the last track may have
// lengthened its end-of-track event into the spare bytes behind the file;
// and the keys the readable notation estimates for a file without key
// signatures, made once on the first parse that asks for them.
#ifndef VASTREL_CORE_LOADED_FILE_H
#define VASTREL_CORE_LOADED_FILE_H

#include "../interface/score_model.h"

#include <stdint.h>

struct SLoadedFile {
    SMidiFile file;       // the public record; first, so the two addresses agree
    uint32_t nGrowth;     // bytes of rewritten end-of-track event past nDataSize (0..3)
    uint8_t bKeysEstimated;          // 1 once pEstimatedKeys has been made
    SKeySignature* pEstimatedKeys;   // in the file's heap; null when no pitched note sounds
};

inline SLoadedFile* LoadedFile(SMidiFile* pFile) { return reinterpret_cast<SLoadedFile*>(pFile); }

// First byte past what the event readers may read.
inline unsigned char* EndOfReadableData(SMidiFile* pFile) {
    return pFile->pData + pFile->nDataSize + LoadedFile(pFile)->nGrowth;
}

// Spare bytes behind the file that a rewrite may use.
static const uint32_t kSpareBytes = 3;

#endif
