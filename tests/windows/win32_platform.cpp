// The Win32 platform layer, linked straight into the program: the string
// table read back from the STRINGTABLE resource, private heaps that are real
// Win32 heaps and go with their file or track, and files read through
// CreateFileA byte for byte.
#include "../support/test_support.h"

#include <string.h>

#include <string>
#include <vector>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "../../core/module_state.h"
#include "../../platform/fault_injection.h"
#include "../../platform/platform.h"
#include "string_list.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, void* pReserved);

namespace {


std::vector<HANDLE> ProcessHeaps() {
    std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
    heaps.resize(GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
    return heaps;
}

bool IsProcessHeap(void* heap) {
    for (HANDLE h : ProcessHeaps())
        if (h == heap) return true;
    return false;
}

// Points the string table at another module for one scope.
class ScopedModule {
public:
    explicit ScopedModule(void* module) : saved_(g_hModule) { PlatformSetModule(module); }
    ~ScopedModule() { PlatformSetModule(saved_); }

private:
    void* saved_;
};

// ---- The string table ------------------------------------------------------------

TEST(StringTable, EveryEntryOfTheListIsReadBackFromTheResource) {
    ASSERT_EQ(sizeof kStringList / sizeof kStringList[0], 128u + 23u);
    for (const StringEntry& e : kStringList) {
        char text[256];
        EXPECT_EQ(PlatformLoadString(e.id, text, sizeof text), static_cast<int>(strlen(e.text))) << e.id;
        EXPECT_STREQ(text, e.text) << e.id;
    }
}

TEST(StringTable, TheLimitCountsTheTerminator) {
    struct Case {
        unsigned id;
        int limit;
        int length;
        const char* text;
    };
    const Case cases[] = {
        {101, 1, 0, ""},
        {101, 2, 1, "A"},
        {101, 5, 4, "Acou"},
        {230, 20, 19, "Couldn't open file!"},  // exactly enough room
        {230, 19, 18, "Couldn't open file"},
        {228, 128, 7, "Gunshot"},
        {229, 256, 0, ""},                      // between the two ranges
        {100, 256, 0, ""},
        {275, 256, 0, ""},
        {0, 256, 0, ""},
        {65535, 256, 0, ""},
    };
    for (const Case& c : cases) {
        char text[260];
        memset(text, '#', sizeof text);
        EXPECT_EQ(PlatformLoadString(c.id, text, c.limit), c.length) << c.id << " " << c.limit;
        EXPECT_STREQ(text, c.text) << c.id << " " << c.limit;
        EXPECT_EQ(text[c.limit], '#') << "nothing written past the limit: " << c.id << " " << c.limit;
    }
}

TEST(StringTable, NoBufferOrNoRoomReadsNothing) {
    char text[4] = "abc";
    EXPECT_EQ(PlatformLoadString(230, text, 0), 0);
    EXPECT_STREQ(text, "abc");
    EXPECT_EQ(PlatformLoadString(230, text, -1), 0);
    EXPECT_STREQ(text, "abc");
    EXPECT_EQ(PlatformLoadString(230, nullptr, 256), 0);
}

// The table is read through the module stored at attach: a module without
// the table gives nothing, and the program's own module (which carries the
// resource in this build) gives the texts.
TEST(StringTable, IsReadThroughTheStoredModule) {
    {
        ScopedModule other(GetModuleHandleA("libgcc_s_dw2-1.dll"));
        char text[256] = "?";
        EXPECT_EQ(PlatformLoadString(230, text, sizeof text), 0);
        EXPECT_STREQ(text, "");
    }
    {
        ScopedModule own(GetModuleHandleA(nullptr));
        char text[256];
        EXPECT_EQ(PlatformLoadString(230, text, sizeof text), 19);
        EXPECT_STREQ(text, "Couldn't open file!");
    }
}

TEST(StringTable, AttachStoresTheModuleAndDetachKeepsIt) {
    void* saved = g_hModule;
    HINSTANCE module = GetModuleHandleA(nullptr);
    EXPECT_TRUE(DllMain(module, DLL_PROCESS_ATTACH, nullptr));
    EXPECT_EQ(g_hModule, module);
    EXPECT_TRUE(DllMain(module, DLL_PROCESS_DETACH, nullptr));
    EXPECT_EQ(g_hModule, module);
    PlatformSetModule(saved);
}

TEST(StringTable, MessagesAndInstrumentNamesArriveThroughTheLibrary) {
    EXPECT_EQ(LoadErrorOf(Bytes{}), 261);
    try {
        VSX_LoadMidiFile("Z:\\no\\such\\folder\\file.mid");
        ADD_FAILURE() << "a missing file loaded";
    } catch (const CVastrelException& e) {
        EXPECT_EQ(e.nMessageId, 230);
        EXPECT_STREQ(e.szMessage, "Couldn't open file!");
    }
    MidiFile file;
    file.AddTrack().Program(0, 40).Note(0, kQuarter, 67);
    ScopedMidi midi(file);
    ScopedTrack track(midi.get(), 0);
    EXPECT_STREQ(track->pszInstrument, "Violin");
}

TEST(StringTable, CopyCopiesTheTerminatorToo) {
    char target[8];
    memset(target, '#', sizeof target);
    EXPECT_EQ(PlatformCopyString(target, "abc"), target);
    EXPECT_EQ(memcmp(target, "abc\0####", 8), 0);
}

// ---- Heaps -------------------------------------------------------------------------

TEST(Heaps, APrivateHeapIsAWin32HeapUntilDestroyed) {
    int64_t live = PlatformLiveHeaps();
    void* heap = PlatformCreateHeap();
    ASSERT_NE(heap, nullptr);
    EXPECT_TRUE(IsProcessHeap(heap));
    EXPECT_TRUE(HeapValidate(heap, 0, nullptr));
    EXPECT_EQ(PlatformLiveHeaps(), live + 1);
    PlatformDestroyHeap(heap);
    EXPECT_FALSE(IsProcessHeap(heap));
    EXPECT_EQ(PlatformLiveHeaps(), live);
    PlatformDestroyHeap(nullptr);
    EXPECT_EQ(PlatformLiveHeaps(), live);
}

// A block asked for zero-filled is zero even where a dirty block was freed,
// for small blocks and for ones large enough to get memory of their own.
TEST(Heaps, ZeroFilledBlocksAreZeroAfterReuse) {
    void* heap = PlatformCreateHeap();
    ASSERT_NE(heap, nullptr);
    const size_t sizes[] = {1, 24, 4096, 600 * 1024};
    for (size_t size : sizes) {
        for (int round = 0; round < 2; ++round) {
            unsigned char* block = static_cast<unsigned char*>(PlatformAllocate(heap, size, true));
            ASSERT_NE(block, nullptr) << size;
            size_t nonZero = 0;
            for (size_t i = 0; i < size; ++i) nonZero += block[i] != 0;
            EXPECT_EQ(nonZero, 0u) << size << " round " << round;
            memset(block, 0xA5, size);
            PlatformFree(heap, block);
        }
    }
    PlatformDestroyHeap(heap);
}

// The byte count follows single frees and whole heaps, whatever their blocks.
TEST(Heaps, TheByteCountReturnsWhenTheHeapGoes) {
    uint64_t before = PlatformBytesAllocated();
    void* heap = PlatformCreateHeap();
    ASSERT_NE(heap, nullptr);
    const size_t sizes[] = {1, 16, 1000, 100000, 2 * 1024 * 1024};
    void* first = nullptr;
    uint64_t total = 0;
    for (size_t size : sizes) {
        void* block = PlatformAllocate(heap, size, false);
        ASSERT_NE(block, nullptr) << size;
        if (!first) first = block;
        total += size;
    }
    EXPECT_GE(PlatformBytesAllocated(), before + total);
    PlatformFree(heap, first);
    EXPECT_GE(PlatformBytesAllocated(), before + total - sizes[0] - 16);
    PlatformDestroyHeap(heap);
    EXPECT_EQ(PlatformBytesAllocated(), before);
}

TEST(Heaps, InjectedFailuresReachHeapsAndBlocks) {
    PlatformFailAfter(0);
    EXPECT_EQ(PlatformCreateHeap(), nullptr);
    PlatformStopFailing();

    int64_t live = PlatformLiveHeaps();
    PlatformFailAfter(1);
    void* heap = PlatformCreateHeap();
    EXPECT_NE(heap, nullptr);
    EXPECT_EQ(PlatformAllocate(heap, 16, true), nullptr);
    PlatformStopFailing();
    EXPECT_NE(PlatformAllocate(heap, 16, true), nullptr);
    PlatformDestroyHeap(heap);
    EXPECT_EQ(PlatformLiveHeaps(), live);
    EXPECT_EQ(PlatformAllocate(nullptr, 16, true), nullptr);
}

// A loaded file and each parsed track own one Win32 heap each, side by side;
// the grid's heap is gone when a parse returns; a release takes exactly its own.
TEST(Heaps, FilesAndTracksOwnOneHeapEachUntilReleased) {
    MidiFile file;
    file.AddTrack().Note(0, kQuarter, 72);
    file.AddTrack().Note(0, kHalf, 48);
    Bytes bytes = file.Build();
    TempFile temp(bytes);

    size_t heaps = ProcessHeaps().size();
    SMidiFile* midi = VSX_LoadMidiFile(temp.Path());
    EXPECT_EQ(ProcessHeaps().size(), heaps + 1);
    EXPECT_TRUE(IsProcessHeap(midi->hHeap));
    STrack* upper = VSX_ParseTrack(midi, 0, 16, 0);
    STrack* lower = VSX_ParseTrack(midi, 1, 16, 0);
    EXPECT_EQ(ProcessHeaps().size(), heaps + 3);
    EXPECT_EQ(g_hTransientHeap, nullptr);
    EXPECT_TRUE(IsProcessHeap(upper->hHeap));
    EXPECT_TRUE(IsProcessHeap(lower->hHeap));

    void* upperHeap = upper->hHeap;
    VSX_ReleaseTrack(upper);
    EXPECT_FALSE(IsProcessHeap(upperHeap));
    EXPECT_TRUE(IsProcessHeap(lower->hHeap));
    EXPECT_EQ(lower->nNotes, 1);  // the other track is untouched
    VSX_ReleaseTrack(lower);
    EXPECT_EQ(ProcessHeaps().size(), heaps + 1);
    void* fileHeap = midi->hHeap;
    VSX_ReleaseFile(midi);
    EXPECT_FALSE(IsProcessHeap(fileHeap));
    EXPECT_EQ(ProcessHeaps().size(), heaps);
}

// A parse that fails deep in the track leaves no heap behind once released.
TEST(Heaps, AFailedParseLeavesNoWin32Heap) {
    MidiFile file;
    file.AddTrack().Note(0, kQuarter, 60).WithoutEnd();  // runs past its chunk
    ScopedMidi midi(file);
    size_t heaps = ProcessHeaps().size();
    EXPECT_EQ(ErrorIdOf([&] { VSX_ParseTrack(midi.get(), 0, 16, 0); }), 266);
    VSX_ReleaseTrack(nullptr);
    EXPECT_EQ(ProcessHeaps().size(), heaps);
}

// ---- Files ---------------------------------------------------------------------------

Bytes Pattern(size_t size) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return bytes;
}

// Bytes that a text-mode read would change (carriage returns, line feeds,
// the end-of-file mark 0x1A) arrive unchanged, however large the file.
TEST(Files, AFileArrivesByteForByteInOneRead) {
    const Bytes cases[] = {
        Bytes{},
        Bytes{0x1A},
        Bytes{'\r', '\n', 0x1A, '\n', '\r', 0, 0xFF},
        Pattern(70000),
    };
    for (const Bytes& bytes : cases) {
        TempFile temp(bytes);
        SPlatformFile* file = PlatformOpenFile(temp.Path());
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(PlatformFileSize(file), bytes.size());
        Bytes read(bytes.size() + 10, 0xEE);
        EXPECT_EQ(PlatformReadFile(file, read.data(), static_cast<uint32_t>(read.size())), bytes.size());
        read.resize(bytes.size());
        EXPECT_EQ(read, bytes);
        PlatformCloseFile(file);
    }
}

TEST(Files, OnlyAnExistingFileOpens) {
    char folder[MAX_PATH];
    ASSERT_GT(GetTempPathA(sizeof folder, folder), 0u);
    std::string missing = std::string(folder) + "vastrel-no-such-file.mid";
    EXPECT_EQ(PlatformOpenFile(missing.c_str()), nullptr);
    EXPECT_EQ(PlatformOpenFile(folder), nullptr);
    EXPECT_EQ(PlatformOpenFile(nullptr), nullptr);
    EXPECT_EQ(PlatformOpenFile(""), nullptr);
    EXPECT_EQ(GetFileAttributesA(missing.c_str()), INVALID_FILE_ATTRIBUTES) << "opening must not create the file";
}

// A file that another program holds open only for reading can be loaded; one
// held open for writing without sharing cannot.
TEST(Files, OpeningSharesReadingOnly) {
    MidiFile file;
    file.AddTrack().Note(0, kQuarter, 60);
    Bytes bytes = file.Build();
    TempFile temp(bytes);
    struct Case {
        DWORD access;
        DWORD share;
        bool loads;
    };
    const Case cases[] = {
        {GENERIC_READ, FILE_SHARE_READ, true},
        {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
        {GENERIC_READ, 0, false},
        {GENERIC_WRITE, FILE_SHARE_READ, false},  // the loader shares reading only
    };
    for (const Case& c : cases) {
        HANDLE other = CreateFileA(temp.Path(), c.access, c.share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(other, INVALID_HANDLE_VALUE);
        int error = ErrorIdOf([&] { VSX_ReleaseFile(VSX_LoadMidiFile(temp.Path())); });
        EXPECT_EQ(error, c.loads ? 0 : 230) << c.access << " " << c.share;
        CloseHandle(other);
    }
}

// A file of 4 GiB or more must not pass for the few bytes of its low 32 bits,
// nor one whose low half is all ones be taken for a failed size query (an
// error code left over from an earlier call must not count).
TEST(Files, FilesOfFourGigabytesOrMoreAreRefused) {
    char folder[MAX_PATH];
    ASSERT_GT(GetTempPathA(sizeof folder, folder), 0u);
    std::string path = std::string(folder) + "vastrel-huge.mid";
    const int64_t sizes[] = {(1LL << 32) - 1, (1LL << 32) + 14};
    for (int64_t wanted : sizes) {
        HANDLE handle =
            CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
        LARGE_INTEGER size;
        size.QuadPart = wanted;
        bool sized = SetFilePointerEx(handle, size, nullptr, FILE_BEGIN) && SetEndOfFile(handle);
        CloseHandle(handle);
        if (!sized) {
            DeleteFileA(path.c_str());
            GTEST_SKIP() << "no room for a sparse file of 4 GiB here";
        }
        SPlatformFile* file = PlatformOpenFile(path.c_str());
        ASSERT_NE(file, nullptr);
        SetLastError(ERROR_ACCESS_DENIED);
        EXPECT_EQ(PlatformFileSize(file), static_cast<uint64_t>(wanted));
        PlatformCloseFile(file);
        SetLastError(ERROR_ACCESS_DENIED);
        EXPECT_EQ(ErrorIdOf([&] { VSX_ReleaseFile(VSX_LoadMidiFile(path.c_str())); }), 231) << wanted;
    }
    DeleteFileA(path.c_str());
}

}  // namespace
