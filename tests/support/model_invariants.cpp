// Walks a finished track and reports every invariant it breaks.
#include "model_invariants.h"

#include <gtest/gtest.h>
#include <stdint.h>

#include <set>

namespace {

// The open strings, string 1 (high E) first: the classic model reads keys
// as written guitar pitch, an octave above what sounds; the readable
// notation fingers the sounding pitch. One track uses one tuning throughout.
const int kWrittenOpenStrings[6] = {76, 71, 67, 62, 57, 52};
const int kSoundingOpenStrings[6] = {64, 59, 55, 50, 45, 40};
const size_t kMaxViolations = 40;

class Checker {
public:
    Checker(SMidiFile* file, STrack* track) : file_(file), track_(track) {}

    std::vector<std::string> Run() {
        if (!track_) {
            Fail("", "no track");
            return violations_;
        }
        if (!track_->pFirstMeasure) {
            CheckEmptyTrack();
            return violations_;
        }
        CheckPointer("", "track name", track_->pszName);
        CheckPointer("", "instrument name", track_->pszInstrument);
        int nMeasures = 0;
        uint32_t previousTime = 0;
        for (SMeasure* m = track_->pFirstMeasure; m; m = m->pNext, ++nMeasures) {
            std::string where = "measure " + std::to_string(nMeasures);
            CheckPointer(where, "measure", m);
            if (nMeasures > 0 && m->dwTime < previousTime) Fail(where, "starts before the measure before it");
            previousTime = m->dwTime;
            measures_.push_back(m);
            // A measure that repeats the meter shows 0/0; the one before it named it.
            if (m->bNumerator != 0) {
                numerator_ = m->bNumerator;
                denominator_ = m->bDenominator;
            }
            CheckMeasure(m, where);
            if (m->pSections) CheckDroppedSections(m, where);
            if (violations_.size() >= kMaxViolations) return violations_;
        }
        if (nMeasures != track_->nMeasures)
            Fail("", "nMeasures is " + std::to_string(track_->nMeasures) + " but " + std::to_string(nMeasures) +
                         " measures are linked");
        if (track_->bResolution < 2 || track_->bResolution > 64 ||
            (track_->bResolution & (track_->bResolution - 1)) != 0)
            Fail("", "resolution " + std::to_string(track_->bResolution) + " is not a power of two in 2..64");
        if (file_) CheckPositions();
        return violations_;
    }

private:
    void Fail(const std::string& where, const std::string& what) {
        if (violations_.size() < kMaxViolations) violations_.push_back(where.empty() ? what : where + ": " + what);
    }

    // Nothing in a track may point into the loaded file's buffer, spare bytes included.
    void CheckPointer(const std::string& where, const char* what, const void* pointer) {
        if (!file_ || !pointer || !file_->pBuffer) return;
        const unsigned char* p = static_cast<const unsigned char*>(pointer);
        const unsigned char* begin = file_->pBuffer;
        const unsigned char* end = begin + file_->nFileSize + 3;
        if (p >= begin && p < end) Fail(where, std::string(what) + " points into the file buffer");
    }

    void CheckEmptyTrack() {
        if (track_->nMeasures != 0) Fail("", "a track without measures counts " + std::to_string(track_->nMeasures));
        if (track_->nSections != 0) Fail("", "a track without measures has sections");
        if (track_->bResolution != 0) Fail("", "a track without measures has a resolution");
        if (track_->pszName) Fail("", "a track without notes has a name");
        if (track_->pszInstrument) Fail("", "a track without notes has an instrument");
    }

    void CheckMeasure(SMeasure* m, const std::string& where) {
        if (m->nClef < 0 || m->nClef > kClefTrebleOctaveDown) Fail(where, "clef " + std::to_string(m->nClef));
        if (m == track_->pFirstMeasure &&
            (m->nClef == 0 || m->bNumerator == 0 || m->bDenominator == 0 || m->wTempo == 0 || m->dwTime != 0))
            Fail(where, "the first measure must show clef, meter and tempo and start at 0");
        if ((m->bNumerator == 0) != (m->bDenominator == 0)) Fail(where, "only one of numerator and denominator is 0");
        if (m->cKey < -7 || m->cKey > 7) Fail(where, "key " + std::to_string(m->cKey));
        for (SKeyAccidental* a = m->pKeyAccidentals; a; a = a->pNext) {
            CheckPointer(where, "key accidental", a);
            if (a->nKind != 1 && a->nKind != 2 && a->nKind != 5)
                Fail(where, "key accidental kind " + std::to_string(a->nKind));
        }
        CheckPointer(where, "section array", m->pSections);
        if (!m->pSections) {
            Fail(where, "no sections");
            return;
        }
        if (m->pSections->dwTime != m->dwTime) Fail(where, "the first section does not start with the measure");

        int nLinked = 0;
        uint32_t previousTime = m->pSections->dwTime;
        for (SSection* s = m->pSections; s; s = s->pNext, ++nLinked) {
            std::string at = where + " section " + std::to_string(nLinked) + " (array index " +
                             std::to_string(s - m->pSections) + ")";
            CheckPointer(at, "section", s);
            if (nLinked > 255) {
                Fail(where, "more than 255 linked sections (a cycle?)");
                return;
            }
            // Every grid slot lasts at least one tick when the division allows it.
            if (s != m->pSections && s->dwTime <= previousTime && file_ &&
                track_->bResolution * 1u <= 4u * file_->wDivision)
                Fail(at, "does not start after the section before it");
            previousTime = s->dwTime;
            if (s->pRawNotes) Fail(at, "placement list not emptied");
            CheckSection(m, s, at);
        }
        if (nLinked != m->bSections)
            Fail(where, "bSections is " + std::to_string(m->bSections) + " but " + std::to_string(nLinked) +
                            " sections are linked");
    }

    // Compaction keeps every s-th section of the measure's array, from the
    // first; nothing that starts (a note or a drawn rest) may be left out.
    void CheckDroppedSections(SMeasure* m, const std::string& where) {
        if (numerator_ == 0 || denominator_ == 0) return;
        const size_t full = (static_cast<size_t>(numerator_) * track_->bResolution + denominator_ - 1) / denominator_;
        std::vector<size_t> kept;
        for (SSection* s = m->pSections; s && kept.size() <= full; s = s->pNext)
            kept.push_back(static_cast<size_t>(s - m->pSections));
        if (kept.empty() || kept.size() > full || kept.back() >= full) {
            Fail(where, "the linked sections do not lie in the measure's array of " + std::to_string(full));
            return;
        }
        const size_t stride = kept.size() > 1 ? kept[1] - kept[0] : full;
        bool even = kept[0] == 0 && stride > 0 && full % stride == 0 && kept.size() == full / stride;
        for (size_t i = 0; even && i < kept.size(); ++i) even = kept[i] == i * stride;
        if (!even)
            Fail(where,
                 "the linked sections are not every " + std::to_string(stride) + "th of " + std::to_string(full));
        size_t next = 0;
        for (size_t k = 0; k < full; ++k) {
            if (next < kept.size() && kept[next] == k) {
                ++next;
                continue;
            }
            const SSection& dropped = m->pSections[k];
            if (dropped.pRawNotes) Fail(where, "dropped section " + std::to_string(k) + " holds placed notes");
            for (SChord* c = dropped.pChords; c; c = c->pNext)
                if (c->pNotes || c->bRestStep)
                    Fail(where, "dropped section " + std::to_string(k) + " starts a note or a drawn rest");
        }
    }

    void CheckSection(SMeasure* m, SSection* s, const std::string& where) {
        int nVoice = 0;
        bool flippedInStemDown = false;
        for (SChord* c = s->pChords; c; c = c->pNext, ++nVoice) {
            std::string at = where + " voice " + std::to_string(nVoice);
            CheckPointer(at, "chord", c);
            if (nVoice > 255) {
                Fail(where, "more than 255 chords (a cycle?)");
                return;
            }
            if (c->bVoice != nVoice) Fail(at, "bVoice is " + std::to_string(c->bVoice));
            CheckChord(c, at, flippedInStemDown);
        }
        if (nVoice != m->bVoices)
            Fail(where, std::to_string(nVoice) + " chords for " + std::to_string(m->bVoices) + " voices");
        if (s->bHeadsLeft != (flippedInStemDown ? 1 : 0))
            Fail(where, "bHeadsLeft does not match the displaced heads of its stem-down chords");
    }

    void CheckChord(SChord* c, const std::string& where, bool& flippedInStemDown) {
        if (c->bStemUp > 1 || c->bDotted > 1 || c->bBeamPrev > 1 || c->bBeamNext > 1 || c->bSharedRest > 1)
            Fail(where, "a flag other than 0 or 1");
        // Value and its exponent.
        if (c->bValue != 0) {
            if (c->bValue > 64 || (c->bValue & (c->bValue - 1)) != 0)
                Fail(where, "value " + std::to_string(c->bValue) + " is not a power of two up to 64");
            else if ((1u << c->bValueLog2) != c->bValue)
                Fail(where, "bValueLog2 " + std::to_string(c->bValueLog2) + " for value " + std::to_string(c->bValue));
        } else {
            if (c->bValueLog2 != 0) Fail(where, "bValueLog2 set where nothing starts");
            if (c->pNotes) Fail(where, "notes in a chord without value");
        }
        if (c->bRestStep > 11) Fail(where, "rest step " + std::to_string(c->bRestStep));
        if (c->pNotes && c->bRestStep != 0) Fail(where, "a chord with notes has a rest step");
        if (c->bRestStep != 0 && c->bValue == 0) Fail(where, "a rest step without a value");

        // Notes: back links, stem order, head flips, strings and frets.
        std::set<int> strings;
        SNote* previous = nullptr;
        int nNote = 0;
        for (SNote* n = c->pNotes; n; previous = n, n = n->pNext, ++nNote) {
            std::string at = where + " note " + std::to_string(nNote);
            CheckPointer(at, "note", n);
            if (nNote > 1024) {
                Fail(where, "more than 1024 notes (a cycle?)");
                return;
            }
            if (n->pPrev != previous) Fail(at, "pPrev is not the note before it");
            if (previous) {
                if (c->bStemUp && n->bPitch < previous->bPitch) Fail(at, "stem up, but lower than the note before");
                if (!c->bStemUp && n->bPitch > previous->bPitch) Fail(at, "stem down, but higher than the note before");
            } else if (n->bHeadFlipped) {
                Fail(at, "the first note of a chord is displaced");
            }
            if (n->bHeadFlipped && !c->bStemUp) flippedInStemDown = true;
            if (n->bPitch > 127) Fail(at, "pitch " + std::to_string(n->bPitch));
            if (n->nAccidental < 0 || n->nAccidental > 5) Fail(at, "accidental " + std::to_string(n->nAccidental));
            if (n->bString == 0) {
                if (n->bFret != 0) Fail(at, "a fret without a string");
            } else if (n->bString > 6) {
                Fail(at, "string " + std::to_string(n->bString));
            } else {
                if (!openStrings_)
                    openStrings_ = kSoundingOpenStrings[n->bString - 1] + n->bFret == n->bPitch ? kSoundingOpenStrings
                                                                                               : kWrittenOpenStrings;
                if (n->bFret > 24 || openStrings_[n->bString - 1] + n->bFret != n->bPitch)
                    Fail(at, "string " + std::to_string(n->bString) + " fret " + std::to_string(n->bFret) +
                                 " does not sound pitch " + std::to_string(n->bPitch));
                if (!strings.insert(n->bString).second) Fail(at, "two notes of one chord on one string");
            }
        }
    }

    // The measure and linked section that hold tick T, by a plain walk.
    void Expected(uint32_t T, SMeasure*& measure, SSection*& section) {
        measure = measures_.front();
        for (SMeasure* m : measures_)
            if (m->dwTime <= T) measure = m;
        section = measure->pSections;
        for (SSection* s = measure->pSections; s; s = s->pNext)
            if (s->dwTime <= T) section = s;
    }

    void Lookup(long musicTime) {
        SMeasure* measure = nullptr;
        SSection* section = nullptr;
        float fraction = -1.0f;
        VSX_GetPositionByMusicTime(file_, track_, musicTime, &measure, &section, &fraction);
        std::string at = "position at music time " + std::to_string(musicTime);
        if (!(fraction >= 0.0f && fraction <= 1.0f)) Fail(at, "fraction " + std::to_string(fraction));
        bool linked = false;
        for (SSection* s = measure ? measure->pSections : nullptr; s; s = s->pNext) linked |= s == section;
        if (!linked) {
            Fail(at, "the section is not linked in the measure returned");
            return;
        }
        long clamped = musicTime > 0 ? musicTime : 0;
        uint32_t T = static_cast<uint32_t>(static_cast<int64_t>(clamped) * file_->wDivision / 768);
        SMeasure* expectedMeasure;
        SSection* expectedSection;
        Expected(T, expectedMeasure, expectedSection);
        if (measure != expectedMeasure || section != expectedSection)
            Fail(at, "returns a section that does not hold tick " + std::to_string(T));
    }

    // Music times at every section start, inside every section, past the end,
    // before the start, and once backwards (so the cache is not used).
    void CheckPositions() {
        const int64_t D = file_->wDivision;
        if (D == 0) return;
        const int64_t limit = INT32_MAX / (D + 1);  // keep music time × division in 32 bits
        auto musicTimeAt = [&](int64_t tick) { return (tick * 768 + D - 1) / D; };
        Lookup(-768);
        for (SMeasure* m : measures_) {
            for (SSection* s = m->pSections; s; s = s->pNext) {
                int64_t start = musicTimeAt(s->dwTime);
                if (start + 1 > limit) return;
                Lookup(static_cast<long>(start));
                Lookup(static_cast<long>(start + 1));
            }
        }
        int64_t end = musicTimeAt(track_->dwEndTime);
        for (int64_t t : {end - 1, end, end + 768, end + 768 * 64})
            if (t >= 0 && t <= limit) Lookup(static_cast<long>(t));
        Lookup(0);
    }

    SMidiFile* file_;
    STrack* track_;
    const int* openStrings_ = nullptr;  // the tuning the track's first string and fret show
    std::vector<SMeasure*> measures_;
    unsigned numerator_ = 0, denominator_ = 0;  // meter in force
    std::vector<std::string> violations_;
};

}  // namespace

std::vector<std::string> ModelInvariantViolations(SMidiFile* file, STrack* track) { return Checker(file, track).Run(); }

void ExpectModelInvariants(SMidiFile* file, STrack* track, const std::string& what) {
    for (const std::string& violation : ModelInvariantViolations(file, track))
        ADD_FAILURE() << what << ": " << violation;
}
