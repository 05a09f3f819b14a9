# Cross build of the 32-bit Windows DLL for callers built with Microsoft's
# compiler: Debian's clang targets i686-pc-windows-msvc, so the exported calls
# get Microsoft's decorated names (?VSX_LoadMidiFile@@...) and CVastrelException
# is thrown the way such a caller catches it.
#
#   cmake -S . -B build-win-msvc -DVSX_BUILD_TESTS=ON \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-msvc-clang.cmake
#
# No Microsoft SDK or C runtime is installed, and none is needed: the library
# uses plain records and a few C functions. The C declarations come from
# cmake/msvc-abi/include, the Win32 ones are written out in
# platform_win32.cpp, and the DLL links lld-link against the import
# libraries of system DLLs only: msvcrt.dll, ntdll.dll, kernel32.dll and user32.dll,
# made here from the lists in cmake/msvc-abi (MinGW's msvcrt import library
# lacks the C++ exception support, and none of MinGW's is marked safe for
# exception handlers).
# No C++ standard library exists for this ABI here, so the only test is the
# caller program (tests/windows/caller.cpp), run under wine.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VSX_MSVC_ABI ON)

set(VSX_MSVC_TARGET i686-pc-windows-msvc)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${VSX_MSVC_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${VSX_MSVC_TARGET})
set(CMAKE_RC_COMPILER llvm-rc)
set(CMAKE_AR llvm-ar)
set(CMAKE_LINKER lld-link)

# Compiler checks cannot link a program before the import libraries exist.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(VSX_MSVC_ABI_DIR ${CMAKE_CURRENT_LIST_DIR}/msvc-abi)
set(CMAKE_CXX_FLAGS_INIT "-DVSX_MSVC_ABI -isystem ${VSX_MSVC_ABI_DIR}/include -fno-stack-protector")
set(CMAKE_C_FLAGS_INIT "${CMAKE_CXX_FLAGS_INIT}")

# The import libraries of the system DLLs, made from their lists at configure
# time (llvm-dlltool's are marked safe for exception handlers, which lld-link
# requires of every object in a 32-bit image; MinGW's are not).
set(VSX_MSVC_IMPORT_DIR ${CMAKE_BINARY_DIR}/msvc-abi)
file(MAKE_DIRECTORY ${VSX_MSVC_IMPORT_DIR})
find_program(VSX_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)
set(CMAKE_CXX_STANDARD_LIBRARIES "")
foreach(dll msvcrt ntdll kernel32 user32)
  execute_process(COMMAND ${VSX_DLLTOOL} -m i386 -k -d ${VSX_MSVC_ABI_DIR}/${dll}.def -l ${VSX_MSVC_IMPORT_DIR}/${dll}.lib
                  RESULT_VARIABLE VSX_DLLTOOL_RESULT)
  if(NOT VSX_DLLTOOL_RESULT EQUAL 0)
    message(FATAL_ERROR "llvm-dlltool could not make the import library of ${dll}.dll")
  endif()
  string(APPEND CMAKE_CXX_STANDARD_LIBRARIES " ${VSX_MSVC_IMPORT_DIR}/${dll}.lib")
endforeach()
set(CMAKE_C_STANDARD_LIBRARIES "${CMAKE_CXX_STANDARD_LIBRARIES}")
# Nothing from a default library: every import is named above.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,/nodefaultlib")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,/nodefaultlib")

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# Programs run under wine in a prefix of the build's own, quietly. Without
# wine the DLL still builds; only the tests cannot run.
find_program(VSX_WINE wine)
if(VSX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all WINEARCH=win32 WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix ${VSX_WINE})
endif()
