// Music time to position: where in a parsed track the playback stands, for
// a player that counts 768 units per quarter note. A one-entry cache lets the
// usual forward-moving requests start at the measure found last.
#include "../interface/vastrel.h"

#include "../core/module_state.h"

static const int64_t kMusicUnitsPerQuarter = 768;

// Music time to ticks. Times before the start count from the start; the
// product is formed in 64 bits so that no time overflows, and a time whose
// tick lies past the 32-bit range stands for "after the end" (Windows' long
// is 32 bits; where it is wider, larger times are taken as they are).
static uint32_t TicksAt(long lMusicTime, uint16_t wDivision) {
    static const int64_t kPastAnyTick = static_cast<int64_t>(UINT32_MAX) * kMusicUnitsPerQuarter;
    int64_t nMusicTime = lMusicTime > 0 ? static_cast<int64_t>(lMusicTime) : 0;
    if (nMusicTime > kPastAnyTick) return UINT32_MAX;
    int64_t nTicks = nMusicTime * wDivision / kMusicUnitsPerQuarter;
    return nTicks > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(nTicks);
}

// The section's share already played, within 0.0 to 1.0. A section that ends
// where it starts has nothing to play: 0.0 at its start, 1.0 once the time
// has passed it. One whose end lies before its start (the last measure of a
// track that ends inside it) counts as played.
static float FractionOf(uint32_t dwTicks, uint32_t dwStart, uint32_t dwEnd) {
    uint32_t nPlayed = dwTicks - dwStart;
    uint32_t nLength = dwEnd - dwStart;
    if (dwEnd < dwStart) return 1.0f;
    if (nLength == 0) return nPlayed == 0 ? 0.0f : 1.0f;
    float fFraction = static_cast<float>(static_cast<double>(nPlayed) / static_cast<double>(nLength));
    return fFraction >= 1.0f ? 1.0f : fFraction;
}

void VSX_GetPositionByMusicTime(SMidiFile* pFile, STrack* pTrack, long lMusicTime, SMeasure** ppMeasure,
                                SSection** ppSection, float* pfFraction) {
    // Nothing to point at: no file, no track, or a track without notes.
    if (!pFile || !pTrack || !pTrack->pFirstMeasure) {
        if (ppMeasure) *ppMeasure = nullptr;
        if (ppSection) *ppSection = nullptr;
        if (pfFraction) *pfFraction = 0.0f;
        return;
    }
    uint32_t T = TicksAt(lMusicTime, pFile->wDivision);

    SMeasure* pMeasure = pTrack->pFirstMeasure;
    if (pFile->nFileSize == g_nCachedFileSize && pTrack == g_pCachedTrack && g_pCachedMeasure &&
        g_pCachedMeasure->dwTime <= T)
        pMeasure = g_pCachedMeasure;
    while (pMeasure->pNext && pMeasure->pNext->dwTime <= T) pMeasure = pMeasure->pNext;

    SSection* pSection = pMeasure->pSections;
    while (pSection->pNext && pSection->pNext->dwTime <= T) pSection = pSection->pNext;

    uint32_t dwEnd;
    if (pSection->pNext) dwEnd = pSection->pNext->dwTime;
    else if (pMeasure->pNext) dwEnd = pMeasure->pNext->pSections->dwTime;
    else dwEnd = pTrack->dwEndTime;

    g_pCachedMeasure = pMeasure;
    g_pCachedTrack = pTrack;
    g_nCachedFileSize = pFile->nFileSize;
    if (pfFraction) *pfFraction = FractionOf(T, pSection->dwTime, dwEnd);
    if (ppMeasure) *ppMeasure = pMeasure;
    if (ppSection) *ppSection = pSection;
}
