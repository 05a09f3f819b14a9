// A Windows program that uses vastrel.dll the way a score viewer does:
// through vastrel.h and the import library, reading the DLL's string table
// through its module handle and catching CVastrelException by type.
//
// Built twice, by MinGW and by clang for Microsoft's ABI, each against the
// DLL of its own ABI, and run under wine. It uses no C++ standard library
// (there is none for Microsoft's ABI here): plain tables of cases, printf,
// and Win32 calls. Prints one line per failed check and closes with
// "caller: N passed, N failed".
#include <stdio.h>
#include <string.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "vastrel.h"
#include "string_list.h"

// ---- Checks ------------------------------------------------------------------

static int g_nPassed = 0;
static int g_nFailed = 0;

static void Check(bool bOk, const char* pszWhat, const char* pszCase) {
    if (bOk) {
        ++g_nPassed;
        return;
    }
    ++g_nFailed;
    printf("FAILED: %s (%s)\n", pszWhat, pszCase);
}

// ---- Files -------------------------------------------------------------------

static char g_szFolder[MAX_PATH];  // the temporary folder, with a closing backslash

static void PathOf(const char* pszName, char* pszPath) {
    lstrcpyA(pszPath, g_szFolder);
    strcat(pszPath, pszName);
}

static bool WriteBytes(const char* pszPath, const unsigned char* pBytes, DWORD nBytes) {
    HANDLE hFile = CreateFileA(pszPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return false;
    DWORD nWritten = 0;
    BOOL bOk = nBytes == 0 || WriteFile(hFile, pBytes, nBytes, &nWritten, nullptr);
    CloseHandle(hFile);
    return bOk && nWritten == nBytes;
}

// Format 1, division 96: a conductor chunk (4/4, 120 quarters a minute) and
// one music chunk with a C4 quarter note, ending after one 4/4 measure.
static const unsigned char kOneNote[] = {
    'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 2, 0, 96,
    'M', 'T', 'r', 'k', 0, 0, 0, 19,
    0x00, 0xFF, 0x58, 0x04, 4, 2, 24, 8,           // time signature 4/4
    0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,      // tempo 500000 us a quarter
    0x00, 0xFF, 0x2F, 0x00,                        // end of track
    'M', 'T', 'r', 'k', 0, 0, 0, 13,
    0x00, 0x90, 60, 80,                            // note-on C4
    0x60, 0x80, 60, 64,                            // note-off one quarter later
    0x82, 0x20, 0xFF, 0x2F, 0x00,                  // end of track at tick 384
};

// Format 1 with one chunk that is the conductor and the music: the same
// quarter note, in the conductor's own chunk.
static const unsigned char kSingleChunk[] = {
    'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 1, 0, 96,
    'M', 'T', 'r', 'k', 0, 0, 0, 21,
    0x00, 0xFF, 0x58, 0x04, 4, 2, 24, 8,           // time signature 4/4
    0x00, 0x90, 60, 80,                            // note-on C4
    0x60, 0x80, 60, 64,                            // note-off one quarter later
    0x82, 0x20, 0xFF, 0x2F, 0x00,                  // end of track at tick 384
};

// The same file with a header that breaks one rule each.
struct SBrokenHeader {
    const char* pszCase;
    int nOffset;           // byte of kOneNote to change
    unsigned char bValue;  // its new value
    int nExpectedId;
};

static const SBrokenHeader kBrokenHeaders[] = {
    {"no MThd or RIFF at the start", 0, 'X', 262},
    {"header chunk length 7", 7, 7, 263},
    {"format 2", 9, 2, 264},
    {"division 0", 13, 0, 265},
    {"conductor chunk is not MTrk", 14, 'X', 258},
    {"time signature denominator 2^7", 27, 7, 268},
};

// ---- The exported names --------------------------------------------------------
// The program imports the seven calls by these names through the import
// library; the DLL must export them so, and nothing by the bare name, which
// no C++ caller would look for.

static const char* const kExports[] = {
#if defined(VSX_MSVC_ABI)
    "?VSX_LoadMidiFile@@YAPAUSMidiFile@@PBD@Z",
    "?VSX_ParseTrack@@YAPAUSTrack@@PAUSMidiFile@@GED@Z",
    "?VSX_GetPositionByMusicTime@@YAXPAUSMidiFile@@PAUSTrack@@JPAPAUSMeasure@@PAPAUSSection@@PAM@Z",
    "?VSX_ReleaseTrack@@YAXPAUSTrack@@@Z",
    "?VSX_ReleaseFile@@YAXPAUSMidiFile@@@Z",
    "?VSX_ParseTrackWithOptions@@YAPAUSTrack@@PAUSMidiFile@@GEDPBUSNotationOptions@@@Z",
    "?VSX_CountTracks@@YAGPAUSMidiFile@@PBUSNotationOptions@@@Z",
#else
    "_Z16VSX_LoadMidiFilePKc",
    "_Z14VSX_ParseTrackP9SMidiFilethc",
    "_Z26VSX_GetPositionByMusicTimeP9SMidiFileP6STracklPP8SMeasurePP8SSectionPf",
    "_Z16VSX_ReleaseTrackP6STrack",
    "_Z15VSX_ReleaseFileP9SMidiFile",
    "_Z25VSX_ParseTrackWithOptionsP9SMidiFilethcPK16SNotationOptions",
    "_Z15VSX_CountTracksP9SMidiFilePK16SNotationOptions",
#endif
};

static const char* const kBareNames[] = {
    "VSX_LoadMidiFile", "VSX_ParseTrack", "VSX_GetPositionByMusicTime", "VSX_ReleaseTrack", "VSX_ReleaseFile",
    "VSX_ParseTrackWithOptions", "VSX_CountTracks",
};

static void CheckExports(HMODULE hDll) {
    for (const char* pszName : kExports)
        Check(GetProcAddress(hDll, pszName) != nullptr, "the DLL exports the decorated name", pszName);
    for (const char* pszName : kBareNames)
        Check(GetProcAddress(hDll, pszName) == nullptr, "no export by the bare name", pszName);
}

// ---- The string table ------------------------------------------------------------


static void CheckStringTable(HMODULE hDll) {
    char szCase[64];
    for (const StringEntry& s : kStringList) {
        char szText[256];
        snprintf(szCase, sizeof szCase, "string %u", s.id);
        int nLength = LoadStringA(hDll, s.id, szText, sizeof szText);
        Check(nLength == static_cast<int>(strlen(s.text)) && strcmp(szText, s.text) == 0,
              "the resource holds the text of strings.def", szCase);
    }
    // Ids between and around the two ranges hold nothing.
    const unsigned kMissing[] = {100, 229, 232, 253, 275};
    for (unsigned nId : kMissing) {
        char szText[256] = "?";
        snprintf(szCase, sizeof szCase, "string %u", nId);
        Check(LoadStringA(hDll, nId, szText, sizeof szText) == 0, "no string outside the table", szCase);
    }
}

// ---- Exceptions ----------------------------------------------------------------

static const char* MessageOf(int nId) {
    for (const StringEntry& s : kStringList)
        if (static_cast<int>(s.id) == nId) return s.text;
    return "";
}

static DWORD HeapCount() { return GetProcessHeaps(0, nullptr); }

// Loads a file that must fail with nExpectedId, caught by type, and leave no heap.
static void ExpectLoadFailure(const char* pszPath, int nExpectedId, const char* pszCase) {
    DWORD nHeaps = HeapCount();
    int nCaught = 0;
    try {
        VSX_ReleaseFile(VSX_LoadMidiFile(pszPath));
    } catch (CVastrelException& e) {
        nCaught = e.nMessageId;
        Check(strcmp(e.szMessage, MessageOf(nExpectedId)) == 0, "the message text comes from the table", pszCase);
    } catch (...) {
        nCaught = -1;
    }
    Check(nCaught == nExpectedId, "CVastrelException with the expected id", pszCase);
    Check(HeapCount() == nHeaps, "a failed load leaves no heap", pszCase);
}

// Clauses for other types let the exception pass; an outer one of its type,
// here by value, takes it.
static void CheckCatchByType(const char* pszMissing) {
    int nTakenBy = 0;
    try {
        try {
            VSX_LoadMidiFile(pszMissing);
        } catch (int) {
            nTakenBy = 1;
        } catch (const char*) {
            nTakenBy = 2;
        }
    } catch (CVastrelException e) {
        nTakenBy = e.nMessageId == 230 ? 3 : 4;
    }
    Check(nTakenBy == 3, "only a clause of the exception's type takes it", "catch by type");
}

static void CheckLoadFailures() {
    char szPath[MAX_PATH];
    PathOf("vastrel-caller-missing.mid", szPath);
    CheckCatchByType(szPath);
    ExpectLoadFailure(szPath, 230, "missing file");
    ExpectLoadFailure(g_szFolder, 230, "a folder");

    PathOf("vastrel-caller-empty.mid", szPath);
    Check(WriteBytes(szPath, nullptr, 0), "write the empty file", "empty file");
    ExpectLoadFailure(szPath, 261, "empty file");
    DeleteFileA(szPath);

    PathOf("vastrel-caller-broken.mid", szPath);
    for (const SBrokenHeader& b : kBrokenHeaders) {
        unsigned char abFile[sizeof kOneNote];
        memcpy(abFile, kOneNote, sizeof kOneNote);
        abFile[b.nOffset] = b.bValue;
        Check(WriteBytes(szPath, abFile, sizeof abFile), "write the file", b.pszCase);
        ExpectLoadFailure(szPath, b.nExpectedId, b.pszCase);
    }
    DeleteFileA(szPath);
}

// Another program holding the file open for writing, sharing nothing, keeps it
// from being opened; one that only reads it and lets others read does not.
static void CheckSharing(const char* pszPath) {
    HANDLE hWriter = CreateFileA(pszPath, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    Check(hWriter != INVALID_HANDLE_VALUE, "open the file for writing", "sharing");
    ExpectLoadFailure(pszPath, 230, "file held open for writing");
    CloseHandle(hWriter);

    HANDLE hReader = CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    bool bLoaded = false;
    try {
        SMidiFile* pFile = VSX_LoadMidiFile(pszPath);
        bLoaded = pFile->nFileSize == sizeof kOneNote;
        VSX_ReleaseFile(pFile);
    } catch (CVastrelException&) {
    }
    Check(bLoaded, "a file others read can be loaded", "sharing");
    CloseHandle(hReader);
}

// ---- Every call, and the heaps they leave ------------------------------------------

struct SBadParse {
    const char* pszCase;
    unsigned short wTrack;
    unsigned char bResolution;
    int nExpectedId;
};

static const SBadParse kBadParses[] = {
    {"track 1 of a file with one", 1, 16, 256},
    {"bad track and bad resolution", 7, 1, 256},
    {"resolution 1", 0, 1, 257},
    {"resolution 65", 0, 65, 257},
};

struct SPosition {
    long lMusicTime;   // 768 a quarter
    bool bFirstSection;
    float fMinimum;    // the fraction lies between these
    float fMaximum;
};

static const SPosition kPositions[] = {
    {-5, true, 0.0f, 0.0f},         // before the start: the first section, nothing played
    {0, true, 0.0f, 0.0f},
    {384, false, 0.0f, 1.0f},       // half a quarter in
    {768 * 40, false, 1.0f, 1.0f},  // long after the end: the last section, all played
};

static void CheckCalls(const char* pszPath) {
    DWORD nHeaps = HeapCount();
    SMidiFile* pFile = nullptr;
    try {
        pFile = VSX_LoadMidiFile(pszPath);
    } catch (CVastrelException& e) {
        Check(false, "load the file", e.szMessage);
        return;
    }
    Check(pFile->nFileSize == sizeof kOneNote && pFile->wTracks == 1 && pFile->wDivision == 96,
          "the file's header is read", "load");
    Check(HeapCount() == nHeaps + 1, "a loaded file owns one heap", "load");

    for (const SBadParse& b : kBadParses) {
        int nCaught = 0;
        try {
            VSX_ReleaseTrack(VSX_ParseTrack(pFile, b.wTrack, b.bResolution, 0));
        } catch (CVastrelException& e) {
            nCaught = e.nMessageId;
            Check(strcmp(e.szMessage, MessageOf(b.nExpectedId)) == 0, "the message text comes from the table",
                  b.pszCase);
        }
        Check(nCaught == b.nExpectedId, "CVastrelException with the expected id", b.pszCase);
        Check(HeapCount() == nHeaps + 1, "a refused parse leaves no heap", b.pszCase);

        // The readable call refuses the same, with the same message.
        nCaught = 0;
        try {
            VSX_ReleaseTrack(VSX_ParseTrackWithOptions(pFile, b.wTrack, b.bResolution, 0, nullptr));
        } catch (CVastrelException& e) {
            nCaught = e.nMessageId;
        }
        Check(nCaught == b.nExpectedId, "the readable call refuses as the classic one", b.pszCase);
        Check(HeapCount() == nHeaps + 1, "a refused parse leaves no heap", b.pszCase);
    }

    // The readable notation of the same track: one heap, the same note.
    const SNotationOptions readable = VSX_ReadableOptions();
    Check(VSX_CountTracks(pFile, &readable) == 1, "the readable notation offers the one track", "count");
    try {
        STrack* pReadable = VSX_ParseTrackWithOptions(pFile, 0, 16, 0, &readable);
        Check(HeapCount() == nHeaps + 2, "a readable track owns one heap", "readable parse");
        Check(pReadable->nNotes == 1 && pReadable->nMeasures == 1, "one note, one measure", "readable parse");
        VSX_ReleaseTrack(pReadable);
    } catch (CVastrelException& e) {
        Check(false, "parse the track in the readable notation", e.szMessage);
    }

    STrack* pTrack = nullptr;
    try {
        pTrack = VSX_ParseTrack(pFile, 0, 16, 0);
    } catch (CVastrelException& e) {
        Check(false, "parse the track", e.szMessage);
        VSX_ReleaseFile(pFile);
        return;
    }
    Check(HeapCount() == nHeaps + 2, "a parsed track owns one more heap, the grid's is gone", "parse");
    Check(pTrack->nNotes == 1 && pTrack->nMeasures == 1 && pTrack->pFirstMeasure != nullptr, "one note, one measure",
          "parse");
    Check(pTrack->pszName && strcmp(pTrack->pszName, "Untitled track") == 0, "the track's default name", "parse");
    Check(pTrack->pszInstrument && strcmp(pTrack->pszInstrument, "Acoustic grand piano") == 0,
          "the instrument name is read from the DLL's string table", "parse");

    char szCase[64];
    for (const SPosition& p : kPositions) {
        SMeasure* pMeasure = nullptr;
        SSection* pSection = nullptr;
        float fFraction = -1.0f;
        snprintf(szCase, sizeof szCase, "music time %ld", p.lMusicTime);
        VSX_GetPositionByMusicTime(pFile, pTrack, p.lMusicTime, &pMeasure, &pSection, &fFraction);
        Check(pMeasure == pTrack->pFirstMeasure, "the only measure", szCase);
        Check(pSection != nullptr && (!p.bFirstSection || pSection == pTrack->pFirstMeasure->pSections),
              "the section under the play head", szCase);
        Check(fFraction >= p.fMinimum && fFraction <= p.fMaximum, "the fraction played", szCase);
    }

    VSX_ReleaseTrack(pTrack);
    Check(HeapCount() == nHeaps + 1, "releasing the track destroys its heap", "release");
    VSX_ReleaseTrack(nullptr);
    VSX_ReleaseFile(pFile);
    Check(HeapCount() == nHeaps, "releasing the file destroys its heap", "release");
    VSX_ReleaseFile(nullptr);
}

// The single-chunk file: no track in the classic model, track 0 in the
// readable notation; and an options record declared shorter than the
// library's (a caller built against an older header) turns off what it
// does not reach.
static void CheckSingleChunk(const char* pszPath) {
    SMidiFile* pFile = nullptr;
    try {
        pFile = VSX_LoadMidiFile(pszPath);
    } catch (CVastrelException& e) {
        Check(false, "load the single-chunk file", e.szMessage);
        return;
    }
    SNotationOptions older = VSX_ReadableOptions();
    older.cbSize = 5;  // the size and the first flag: the chunk is not offered
    Check(pFile->wTracks == 0, "the classic model offers no track", "single chunk");
    Check(VSX_CountTracks(pFile, nullptr) == 1, "the readable notation offers one", "single chunk");
    Check(VSX_CountTracks(pFile, &older) == 0, "an option past the declared size is off", "single chunk");
    int nCaught = 0;
    try {
        VSX_ParseTrack(pFile, 0, 16, 0);
    } catch (CVastrelException& e) {
        nCaught = e.nMessageId;
    }
    Check(nCaught == 256, "the classic call refuses track 0", "single chunk");
    try {
        STrack* pTrack = VSX_ParseTrackWithOptions(pFile, 0, 16, 0, nullptr);
        Check(pTrack->nNotes == 1 && pTrack->dwEndTime == 384, "the chunk's note, to the bar line", "single chunk");
        VSX_ReleaseTrack(pTrack);
    } catch (CVastrelException& e) {
        Check(false, "parse the single chunk in the readable notation", e.szMessage);
    }
    VSX_ReleaseFile(pFile);
}

// ---- The program ----------------------------------------------------------------

// Set by a dynamic initializer, so that main can tell that they ran (without
// the C runtime's start-up code, the entry point has to run them).
static const DWORD g_nHeapsAtStart = HeapCount();

int main() {
    Check(g_nHeapsAtStart > 0, "the program's dynamic initializers ran before main", "start");
    HMODULE hDll = GetModuleHandleA("vastrel.dll");
    Check(hDll != nullptr, "vastrel.dll is loaded with the program", "start");
    if (!hDll) return 1;
    if (GetTempPathA(sizeof g_szFolder, g_szFolder) == 0) lstrcpyA(g_szFolder, ".\\");

    CheckExports(hDll);
    CheckStringTable(hDll);
    CheckLoadFailures();

    char szPath[MAX_PATH];
    PathOf("vastrel-caller-one-note.mid", szPath);
    Check(WriteBytes(szPath, kOneNote, sizeof kOneNote), "write the file", "one note");
    CheckSharing(szPath);
    CheckCalls(szPath);
    DeleteFileA(szPath);

    PathOf("vastrel-caller-single-chunk.mid", szPath);
    Check(WriteBytes(szPath, kSingleChunk, sizeof kSingleChunk), "write the file", "single chunk");
    CheckSingleChunk(szPath);
    DeleteFileA(szPath);

    printf("caller: %d passed, %d failed\n", g_nPassed, g_nFailed);
    fflush(nullptr);
    return g_nFailed == 0 ? 0 : 1;
}

#if defined(VSX_MSVC_ABI)
// No C runtime start-up code is linked (see msvc_start.h): the program's
// entry point runs the dynamic initializers, then main.
#include <msvc_start.h>

extern "C" void mainCRTStartup() {
    VsxRunInitializers();
    ExitProcess(static_cast<unsigned>(main()));
}
#endif
