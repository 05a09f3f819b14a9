// The string table as resources/strings.def lists it (VSX_STRINGS_DEF names
// that file), to hold the DLL's STRINGTABLE resource against.
#ifndef VASTREL_TESTS_WINDOWS_STRING_LIST_H
#define VASTREL_TESTS_WINDOWS_STRING_LIST_H

struct StringEntry {
    unsigned id;
    const char* text;
};

static const StringEntry kStringList[] = {
#define VSX_STRING(id, text) {id, text},
#include VSX_STRINGS_DEF
#undef VSX_STRING
};

#endif
