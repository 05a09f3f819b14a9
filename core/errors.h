// How a failure leaves the library: every layer raises a message id of the
// string table, and the one raise turns it into the CVastrelException a
// caller catches. Instrument names come from the same table.
#ifndef VASTREL_CORE_ERRORS_H
#define VASTREL_CORE_ERRORS_H

#include <stdint.h>

// ---- Message ids of the string table ---------------------------------------

enum EMessageId {
    kMsgCannotOpenFile = 230,
    kMsgNoMemoryForBuffer = 231,
    kMsgCannotReadFile = 254,
    kMsgBufferNotPrepared = 255,
    kMsgInvalidTrackNumber = 256,
    kMsgInvalidResolution = 257,
    kMsgInvalidTrackHeader = 258,
    kMsgNoTrackHeap = 259,
    kMsgNoTrackRecord = 260,
    kMsgBufferEmpty = 261,
    kMsgHeaderNotFound = 262,
    kMsgInvalidHeaderLength = 263,
    kMsgFormatNotSupported = 264,
    kMsgInvalidDivision = 265,
    kMsgTrackParsingError = 266,
    kMsgNoMemory = 267,
    kMsgInvalidTimeSignature = 268,
    kMsgInvalidTempo = 269,
    kMsgNoTransientHeap = 270,
    kMsgNoTransientSlots = 271,
    kMsgNoTransientNotes = 272,
    kMsgNoMeasureSections = 273,
    kMsgIncompatibleMeters = 274,
};

static const unsigned kFirstInstrumentId = 101;  // string id of program 0

// Loads message nId from the string table and throws it as CVastrelException.
[[noreturn]] void RaiseError(int nId);

// A 128-byte buffer from the track's heap holding string 101 + program.
char* LoadInstrumentName(uint8_t bProgram);

#endif
