// A parse that stops after any builder stage, for the tests of one stage and
// the benchmarks of the pipeline. Defined beside the exported calls
// (interface/vastrel.cpp), whose VSX_ParseTrack runs it through stage 'S'.
#ifndef VASTREL_CORE_STAGED_PARSE_H
#define VASTREL_CORE_STAGED_PARSE_H

#include "../interface/score_model.h"

struct SNotationOptions;

STrack* ParseTrackThrough(SMidiFile* pFile, unsigned short wTrack, unsigned char bResolution,
                          char cTranspose, char cLastStage);

// The same under notation options, as VSX_ParseTrackWithOptions reads them
// (null: the readable preset).
STrack* ParseTrackThroughWithOptions(SMidiFile* pFile, unsigned short wTrack, unsigned char bResolution,
                                     char cTranspose, const SNotationOptions* pOptions, char cLastStage);

#endif
