// The library's module state (module_state.h).
#include "module_state.h"

STrack* g_pCurrentTrack = nullptr;
void* g_hTransientHeap = nullptr;
SSlot* g_pSlots = nullptr;
SRawNote* g_pRawNotes = nullptr;
uint32_t g_nSlots = 0;
unsigned char* g_pEndOfTrackEvent = nullptr;
SMeasure* g_pCachedMeasure = nullptr;
STrack* g_pCachedTrack = nullptr;
uint32_t g_nCachedFileSize = 0;
