// The invariants every finished track must satisfy, whatever file it came
// from: shape of the voices and sections, note order and back links, value
// exponents, strings and frets, no pointer into the file's memory, and
// position lookups that land on linked sections with fractions in 0..1.
// Shared by the end-to-end suite and by any robustness or fuzz suite.
#ifndef VASTREL_TESTS_MODEL_INVARIANTS_H
#define VASTREL_TESTS_MODEL_INVARIANTS_H

#include <string>
#include <vector>

#include "../../interface/vastrel.h"

// One line per broken invariant (at most a few dozen), empty when the track
// is sound. Makes position lookups on the track, so the position cache of the
// library changes.
std::vector<std::string> ModelInvariantViolations(SMidiFile* file, STrack* track);

// Adds a test failure for every violation, each line prefixed with what.
void ExpectModelInvariants(SMidiFile* file, STrack* track, const std::string& what);

#endif
