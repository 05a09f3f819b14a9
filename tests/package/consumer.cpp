// A program built only from an installed vastrel, the way a developer who
// downloaded it would: it loads a MIDI file, parses its first track in the
// classic model and in the readable notation, and catches the library's
// refusal of a file that is not MIDI.
//
//   consumer SONG.mid NOT-MIDI-FILE
//
// Prints what it read and exits 0 when the song parses into measures with
// notes and the other file is refused with "Track header is not found!" (262).
#include <stdio.h>
#include <string.h>

#include "vastrel.h"

static int ReadSong(const char* pszPath) {
    try {
        SMidiFile* pFile = VSX_LoadMidiFile(pszPath);
        STrack* pTrack = VSX_ParseTrack(pFile, 0, 16, 0);
        printf("consumer: %s, track 0 \"%s\": %d measures, %d notes\n", pFile->pszName, pTrack->pszName,
               pTrack->nMeasures, pTrack->nNotes);
        bool bOk = pTrack->nMeasures > 0 && pTrack->nNotes > 0 && pTrack->pFirstMeasure != nullptr;
        VSX_ReleaseTrack(pTrack);
        const SNotationOptions readable = VSX_ReadableOptions();
        STrack* pReadable = VSX_ParseTrackWithOptions(pFile, 0, 16, 0, &readable);
        printf("consumer: readable notation, %u tracks offered, track 0: %d measures, %d notes\n",
               VSX_CountTracks(pFile, &readable), pReadable->nMeasures, pReadable->nNotes);
        bOk = bOk && pReadable->nNotes > 0 && VSX_CountTracks(pFile, &readable) == pFile->wTracks;
        VSX_ReleaseTrack(pReadable);
        VSX_ReleaseFile(pFile);
        return bOk ? 0 : 1;
    } catch (const CVastrelException& e) {
        printf("consumer: %s refused: %s (%d)\n", pszPath, e.szMessage, e.nMessageId);
        return 1;
    }
}

static int ExpectRefusal(const char* pszPath) {
    try {
        VSX_ReleaseFile(VSX_LoadMidiFile(pszPath));
    } catch (const CVastrelException& e) {
        printf("consumer: %s refused: %s (%d)\n", pszPath, e.szMessage, e.nMessageId);
        return e.nMessageId == 262 && strcmp(e.szMessage, "Track header is not found!") == 0 ? 0 : 1;
    }
    printf("consumer: %s was loaded, not refused\n", pszPath);
    return 1;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: consumer SONG.mid NOT-MIDI-FILE\n");
        return 2;
    }
    int nFailures = ReadSong(argv[1]) + ExpectRefusal(argv[2]);
    return nFailures == 0 ? 0 : 1;
}
