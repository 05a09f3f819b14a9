# Cross build of the 32-bit Windows DLL with Debian's MinGW-w64 compilers,
# for callers built with MinGW (GCC's C++ ABI and its exceptions).
#
#   cmake -S . -B build-win-mingw \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake
#
# The posix-thread variant of the compiler is used throughout: GoogleTest only
# builds with it, and the DLL and the programs that catch its exceptions must
# share one runtime. Programs and the DLL link libstdc++ statically but libgcc
# as a DLL (libgcc_s_dw2-1.dll): an exception thrown in one module and caught
# in another needs one unwinder for both. Tests run under wine.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(VSX_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${VSX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VSX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VSX_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VSX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Doubles as IEEE doubles: without SSE2, GCC computes them on the x87 unit
# in 80 bits, and the grid arithmetic then rounds differently from every
# other build (and from the clang build, which uses SSE2 by default).
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")

set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libstdc++ -shared-libgcc")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libstdc++ -shared-libgcc")

# Every program and DLL in one folder, beside the runtime DLLs they load.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# The runtime DLLs of this compiler variant, copied into that folder.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libgcc_s_dw2-1.dll
                OUTPUT_VARIABLE VSX_LIBGCC_DLL OUTPUT_STRIP_TRAILING_WHITESPACE)
set(VSX_RUNTIME_DLLS ${VSX_LIBGCC_DLL} /usr/${VSX_MINGW_TRIPLE}/lib/libwinpthread-1.dll)

# Programs run under wine in a prefix of the build's own, quietly. Without
# wine the DLL still builds; only the tests cannot run.
find_program(VSX_WINE wine)
if(VSX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all WINEARCH=win32 WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix ${VSX_WINE})
endif()
