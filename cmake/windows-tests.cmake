# The tests of a Windows cross build (included from tests/CMakeLists.txt).
#
# MinGW: GoogleTest is built here from Debian's sources (no package ships it
# for Windows), the runtime DLLs are put beside the programs, and every suite
# runs under wine through CMAKE_CROSSCOMPILING_EMULATOR. Tests are listed
# when ctest runs rather than after each link, so building needs no wine.
#
# Microsoft's ABI (VSX_MSVC_ABI): no C++ standard library exists for it here,
# so only the caller program of tests/windows is built and run.

if(VSX_RUNTIME_DLLS)
  file(COPY ${VSX_RUNTIME_DLLS} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
endif()

if(NOT VSX_MSVC_ABI)
  set(VSX_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest's sources, built for the target")
  if(NOT EXISTS ${VSX_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${VSX_GOOGLETEST_SOURCE_DIR} (Debian package googletest)")
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${VSX_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  if(NOT TARGET GTest::gtest)  # recent GoogleTest defines them itself
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
  set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
endif()

add_subdirectory(${PROJECT_SOURCE_DIR}/tests/windows ${CMAKE_BINARY_DIR}/tests/windows)

# The suites link the library's objects straight into each program, where no
# DllMain runs: the string table is then read from the program's own
# resources, so every program that links them gets the STRINGTABLE too.
target_sources(vastrel_static INTERFACE ${PROJECT_SOURCE_DIR}/resources/vastrel.rc)

# nlohmann-json is headers only and the same for every target, but the
# package is installed for the build machine: the tool's tests include it
# (and then skip, as the tool is not built for Windows).
if(NOT VSX_MSVC_ABI AND EXISTS /usr/include/nlohmann/json.hpp)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/host-headers)
  file(CREATE_LINK /usr/include/nlohmann ${CMAKE_BINARY_DIR}/host-headers/nlohmann SYMBOLIC)
  include_directories(SYSTEM ${CMAKE_BINARY_DIR}/host-headers)
endif()
