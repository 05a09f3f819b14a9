// Key finding by profile correlation, and key changes by a segmentation of
// the music's windows that pays for every change (see key_finding.h).
#include "key_finding.h"

#include <math.h>

// Albrecht and Shanahan's profiles, tonic first: how much of a piece in a
// major or minor key each degree of the chromatic scale takes.
static const double kMajorProfile[12] = {0.238, 0.006, 0.111, 0.006, 0.137, 0.094,
                                         0.016, 0.214, 0.009, 0.080, 0.008, 0.081};
static const double kMinorProfile[12] = {0.220, 0.006, 0.104, 0.123, 0.019, 0.103,
                                         0.012, 0.214, 0.062, 0.022, 0.061, 0.052};

// The signature of the major key on each tonic pitch class: the spelling
// with fewer accidentals (D flat -5, not C sharp +7; B +5, not C flat -7),
// and six flats for the pitch class shared by F sharp and G flat major.
static const int8_t kMajorSignature[12] = {0, -5, 2, -3, 4, -1, -6, 1, -4, 3, -2, 5};

// Sounding pitch classes below this tell no key.
static const uint32_t kFewestPitchClasses = 3;

int8_t KeySignatureOf(uint8_t bTonic, bool bMinor) {
    // A minor key shares its signature with the major a minor third up.
    return kMajorSignature[(bTonic + (bMinor ? 3 : 0)) % 12];
}

// Pearson's r of the durations (as doubles) with the profile rotated so that
// its tonic falls on pitch class nTonic.
static double Correlation(const double* pdDuration, double dMean, double dSpread, const double* pdProfile,
                          uint32_t nTonic) {
    double dProfileMean = 0;
    for (uint32_t k = 0; k < 12; ++k) dProfileMean += pdProfile[k];
    dProfileMean /= 12;
    double dCross = 0, dProfileSpread = 0;
    for (uint32_t pc = 0; pc < 12; ++pc) {
        double dP = pdProfile[(pc + 12 - nTonic) % 12] - dProfileMean;
        dCross += (pdDuration[pc] - dMean) * dP;
        dProfileSpread += dP * dP;
    }
    return dCross / sqrt(dSpread * dProfileSpread);
}

// The durations as doubles with their mean and summed squared deviation;
// false when fewer than kFewestPitchClasses pitch classes sound.
static bool Prepare(const SPitchClassDurations& durations, double* pdDuration, double* pdMean, double* pdSpread) {
    double dMean = 0;
    uint32_t nSounding = 0;
    for (uint32_t pc = 0; pc < 12; ++pc) {
        pdDuration[pc] = static_cast<double>(durations.aqDuration[pc]);
        dMean += pdDuration[pc];
        if (durations.aqDuration[pc]) ++nSounding;
    }
    if (nSounding < kFewestPitchClasses) return false;
    dMean /= 12;
    double dSpread = 0;
    for (uint32_t pc = 0; pc < 12; ++pc) dSpread += (pdDuration[pc] - dMean) * (pdDuration[pc] - dMean);
    *pdMean = dMean;
    *pdSpread = dSpread;
    return true;
}

SKeyEstimate EstimateKey(const SPitchClassDurations& durations) {
    SKeyEstimate estimate = {0, 0, 0, 0.0f};
    double adDuration[12], dMean, dSpread;
    if (!Prepare(durations, adDuration, &dMean, &dSpread)) return estimate;

    double dBest = -2;
    for (uint32_t nTonic = 0; nTonic < 12; ++nTonic)
        for (uint32_t nMinor = 0; nMinor < 2; ++nMinor) {
            double r = Correlation(adDuration, dMean, dSpread, nMinor ? kMinorProfile : kMajorProfile, nTonic);
            // Strictly better only: on a tie the major and the lower tonic win.
            if (r > dBest) {
                dBest = r;
                estimate.bTonic = static_cast<uint8_t>(nTonic);
                estimate.bMinor = static_cast<uint8_t>(nMinor);
            }
        }
    estimate.cKey = KeySignatureOf(estimate.bTonic, estimate.bMinor != 0);
    estimate.fCorrelation = static_cast<float>(dBest);
    return estimate;
}

// ---- Key changes ----------------------------------------------------------------
// The segmentation works on the twelve signatures rather than the 24 keys:
// a move between a major key and its relative minor changes nothing on the
// page. A window's score for a signature is the better correlation of its
// two keys. With cum[s][e] the summed scores of windows 0..e-1 for s, and
// best[e][s] the best total of windows 0..e-1 cut into stretches of at least
// L windows, the last in s:
//   best[e][s] = max(cum[s][e]                                    (one stretch),
//                    max over b in [L, e-L] of
//                      best[b][s'] (s' != s) - cost + cum[s][e] - cum[s][b])
// The inner maximum only gains one start b per step e, so a running maximum
// per signature keeps the whole in O(windows x 12).

struct SKeyCell {
    float fCum;        // cum[s][e]
    float fBest;       // best[e][s]; -inf where no cut reaches it
    uint32_t nStart;   // first window of the last stretch
    uint8_t bFrom;     // signature of the stretch before it (when nStart > 0)
};

static const float kUnreachable = -1e30f;

size_t KeyChangeScratchBytes(uint32_t nWindows) {
    return (static_cast<size_t>(nWindows) + 1) * 12 * sizeof(SKeyCell);
}

// Signature index s (0..11) is the relative major's tonic; its key is
// kMajorSignature[s].
static void ScoreWindow(const SPitchClassDurations& window, float* pfScore) {
    for (uint32_t s = 0; s < 12; ++s) pfScore[s] = 0;
    double adDuration[12], dMean, dSpread;
    if (!Prepare(window, adDuration, &dMean, &dSpread)) return;
    for (uint32_t s = 0; s < 12; ++s) {
        double dMajor = Correlation(adDuration, dMean, dSpread, kMajorProfile, s);
        double dMinor = Correlation(adDuration, dMean, dSpread, kMinorProfile, (s + 9) % 12);
        pfScore[s] = static_cast<float>(dMajor > dMinor ? dMajor : dMinor);
    }
}

uint32_t FindKeyChanges(const SPitchClassDurations* pWindows, uint32_t nWindows, void* pScratch,
                        SKeyChange* pChanges, uint32_t nMaxChanges) {
    if (nWindows == 0 || nMaxChanges == 0) return 0;
    const uint32_t L = kMinimumKeyStretch;
    SKeyCell* pCells = static_cast<SKeyCell*>(pScratch);  // row e at pCells + 12 * e
    for (uint32_t s = 0; s < 12; ++s) pCells[s] = {0.0f, kUnreachable, 0, 0};

    // Running maximum over the starts b admitted so far of
    // best[b][s'] (s' != s) - cost - cum[s][b], with its b and s'.
    float afRun[12];
    uint32_t anRunStart[12];
    uint8_t abRunFrom[12];
    for (uint32_t s = 0; s < 12; ++s) afRun[s] = kUnreachable;

    for (uint32_t e = 1; e <= nWindows; ++e) {
        float afScore[12];
        ScoreWindow(pWindows[e - 1], afScore);
        SKeyCell* pRow = pCells + 12 * static_cast<size_t>(e);
        const SKeyCell* pPrevious = pRow - 12;
        for (uint32_t s = 0; s < 12; ++s) pRow[s] = {pPrevious[s].fCum + afScore[s], kUnreachable, 0, 0};

        // Admit the start b = e - L: a stretch may begin where one of at
        // least L windows ended.
        if (e >= 2 * L) {
            const SKeyCell* pAt = pCells + 12 * static_cast<size_t>(e - L);
            // The two best signatures ending there, so that each s finds
            // the best other than itself.
            uint32_t nFirst = 0, nSecond = 1;
            if (pAt[1].fBest > pAt[0].fBest) nFirst = 1, nSecond = 0;
            for (uint32_t s = 2; s < 12; ++s) {
                if (pAt[s].fBest > pAt[nFirst].fBest) nSecond = nFirst, nFirst = s;
                else if (pAt[s].fBest > pAt[nSecond].fBest) nSecond = s;
            }
            for (uint32_t s = 0; s < 12; ++s) {
                uint32_t nFrom = s == nFirst ? nSecond : nFirst;
                if (pAt[nFrom].fBest <= kUnreachable) continue;
                float f = pAt[nFrom].fBest - kKeyChangeCost - pAt[s].fCum;
                if (f > afRun[s]) afRun[s] = f, anRunStart[s] = e - L, abRunFrom[s] = static_cast<uint8_t>(nFrom);
            }
        }
        for (uint32_t s = 0; s < 12; ++s) {
            // One stretch from the start; it must be long enough, unless the
            // music is too short for any change.
            if (e >= L || e == nWindows) pRow[s].fBest = pRow[s].fCum;
            if (afRun[s] > kUnreachable && afRun[s] + pRow[s].fCum > pRow[s].fBest) {
                pRow[s].fBest = afRun[s] + pRow[s].fCum;
                pRow[s].nStart = anRunStart[s];
                pRow[s].bFrom = abRunFrom[s];
            }
        }
    }

    // Walk the cuts back from the best last stretch: once to count the
    // stretches, once to write them into their places, last first.
    const SKeyCell* pLast = pCells + 12 * static_cast<size_t>(nWindows);
    uint32_t nLastSignature = 0;
    for (uint32_t s = 1; s < 12; ++s)
        if (pLast[s].fBest > pLast[nLastSignature].fBest) nLastSignature = s;
    uint32_t nStretches = 0;
    for (uint32_t e = nWindows, s = nLastSignature;;) {
        ++nStretches;
        const SKeyCell& cell = pCells[12 * static_cast<size_t>(e) + s];
        if (cell.nStart == 0) break;
        e = cell.nStart;
        s = cell.bFrom;
    }
    // Each stretch takes the key of its summed durations, as the whole
    // piece would: a segmentation that cuts nothing gives EstimateKey's key.
    for (uint32_t nIndex = nStretches, nEnd = nWindows, s = nLastSignature; nIndex > 0;) {
        --nIndex;
        const SKeyCell& cell = pCells[12 * static_cast<size_t>(nEnd) + s];
        if (nIndex < nMaxChanges) {
            SPitchClassDurations sum = {};
            for (uint32_t w = cell.nStart; w < nEnd; ++w)
                for (uint32_t pc = 0; pc < 12; ++pc) sum.aqDuration[pc] += pWindows[w].aqDuration[pc];
            SKeyEstimate estimate = EstimateKey(sum);
            // A stretch in which no key can be told keeps the signature the
            // segmentation gave it.
            int8_t cKey = estimate.fCorrelation != 0.0f ? estimate.cKey : kMajorSignature[s];
            pChanges[nIndex] = {cell.nStart, cKey};
        }
        nEnd = cell.nStart;
        s = cell.bFrom;
    }
    // Join neighbours that came out in the same key.
    uint32_t nStored = nStretches < nMaxChanges ? nStretches : nMaxChanges;
    uint32_t nWritten = 0;
    for (uint32_t k = 0; k < nStored; ++k)
        if (nWritten == 0 || pChanges[nWritten - 1].cKey != pChanges[k].cKey) pChanges[nWritten++] = pChanges[k];
    return nWritten;
}
