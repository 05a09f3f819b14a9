// The one raise of a library error, and the instrument names, both read from
// the string table through the platform.
#include "errors.h"

#include "../interface/vastrel.h"
#include "../platform/platform.h"
#include "allocation.h"

#include <string.h>

// Messages are loaded with this limit, terminator included.
static const int kMessageLimit = 256;
static const int kInstrumentNameBytes = 128;

void RaiseError(int nId) {
    char szText[kMessageLimit];
    PlatformLoadString(static_cast<unsigned>(nId), szText, kMessageLimit);
    CVastrelException exception;
    memset(&exception, 0, sizeof exception);
    PlatformCopyString(exception.szMessage, szText);
    exception.nMessageId = nId;
    throw exception;
}

char* LoadInstrumentName(uint8_t bProgram) {
    char* pszName = static_cast<char*>(AllocateFromTrack(kInstrumentNameBytes));
    PlatformLoadString(kFirstInstrumentId + bProgram, pszName, kInstrumentNameBytes);
    return pszName;
}
