// Reading alterations back from the staff, measure by measure.
#include "alterations.h"

#include <algorithm>
#include <functional>

#include "staff_steps.h"

int KeyAlteration(int key, int letter) {
    const int count = key < 0 ? -key : key;
    const uint8_t* order = key > 0 ? kSharpGlyphSteps : kFlatGlyphSteps;
    for (int i = 0; i < count && i < 7; ++i)
        if (order[i] % 7 == letter) return key > 0 ? 1 : -1;
    return 0;
}

namespace {

// Alteration of a printed accidental.
int AlterationOfSign(int accidental) {
    switch (accidental) {
    case kAccidentalSharp: return 1;
    case kAccidentalFlat: return -1;
    case kAccidentalDoubleSharp: return 2;
    case kAccidentalDoubleFlat: return -2;
    default: return 0;
    }
}

}  // namespace

bool MeasureAlterations::Before(const NoteAlteration& a, const NoteAlteration& b) {
    return std::less<const SNote*>()(a.note, b.note);
}

int MeasureAlterations::Of(const SNote* note) const {
    const NoteAlteration key = {note, 0};
    auto it = std::lower_bound(byNote_.begin(), byNote_.end(), key, Before);
    return it != byNote_.end() && it->note == note ? it->alteration : 0;
}

// The notes of one step in one section, [first, last): their alterations,
// and what the step carries on through the measure. Within one section a
// step can hold two notes (F and F sharp struck together); when one of them
// prints nothing it either repeats the sign before it or carries the
// alteration from before the section, and the one that makes its key is
// taken.
void MeasureAlterations::ReadStep(int key, int treble, const OnStep* first, const OnStep* last) {
    int& changed = changed_[treble - kLowestStep];
    const int before = changed != kUnchanged ? changed : KeyAlteration(key, LetterOf(treble));
    signs_.clear();
    for (auto it = first; it != last; ++it)
        if (it->second->nAccidental != kAccidentalNone) {
            signs_.push_back(AlterationOfSign(it->second->nAccidental));
            byNote_.push_back({it->second, signs_.back()});
        }
    for (auto it = first; it != last; ++it) {
        const SNote* note = it->second;
        if (note->nAccidental != kAccidentalNone) continue;
        int alteration = before;
        for (int sign : signs_)
            if (NaturalKey(treble) + alteration != note->bPitch && NaturalKey(treble) + sign == note->bPitch)
                alteration = sign;
        byNote_.push_back({note, alteration});
    }
    if (signs_.empty()) return;
    // Of two signs on one step, the one that restores the earlier
    // alteration can only have come second.
    int after = signs_.back();
    for (int sign : signs_)
        if (sign == before) after = sign;
    changed = after;
}

void MeasureAlterations::Read(const SMeasure& measure, int shift) {
    byNote_.clear();
    changed_.assign(kSteps, kUnchanged);
    for (const SSection* section = measure.pSections; section; section = section->pNext) {
        // The section's notes by step, in chord order within a step (a
        // section holds few notes: each finds its place from the end).
        onSteps_.clear();
        for (const SChord* chord = section->pChords; chord; chord = chord->pNext)
            for (const SNote* note = chord->pNotes; note; note = note->pNext) {
                onSteps_.push_back({TrebleStep(note->cStep, shift), note});
                for (size_t k = onSteps_.size() - 1; k > 0 && onSteps_[k - 1].first > onSteps_[k].first; --k)
                    std::swap(onSteps_[k - 1], onSteps_[k]);
            }
        for (size_t i = 0; i < onSteps_.size();) {
            size_t end = i;
            while (end < onSteps_.size() && onSteps_[end].first == onSteps_[i].first) ++end;
            ReadStep(measure.cKey, onSteps_[i].first, onSteps_.data() + i, onSteps_.data() + end);
            i = end;
        }
    }
    std::sort(byNote_.begin(), byNote_.end(), Before);
}
