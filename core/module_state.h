// The library's module state: one set per loaded library, defined in
// module_state.cpp. The module handle is the platform's (platform.h).
#ifndef VASTREL_CORE_MODULE_STATE_H
#define VASTREL_CORE_MODULE_STATE_H

#include "../interface/score_model.h"
#include "grid.h"

#include <stdint.h>

extern STrack* g_pCurrentTrack;          // the track under construction or last built
extern void* g_hTransientHeap;           // holds the grid of one parse
extern SSlot* g_pSlots;                  // the grid slots
extern SRawNote* g_pRawNotes;            // the notes of the grid, one array
extern uint32_t g_nSlots;                // number of grid slots; 0 for a track without notes
extern unsigned char* g_pEndOfTrackEvent;  // delta time of the last track's end-of-track event, or null
extern SMeasure* g_pCachedMeasure;       // position cache: the measure returned last,
extern STrack* g_pCachedTrack;           //   the track it belongs to,
extern uint32_t g_nCachedFileSize;       //   and the size of that track's file

#endif
