# GTestWindows.cmake: GoogleTest for the Windows target, built from the
# sources that Debian's googletest package ships.
#
# The win32-thread MinGW has no std::mutex, which GoogleTest's thread-safe
# mode and its Windows death tests are built on.  Our unit tests run one
# thread and have no death tests, so a copy of the sources is built without
# both: GTEST_IS_THREADSAFE=0 turns off the one, googletest-mingw.patch the
# other.
include(${CMAKE_CURRENT_LIST_DIR}/FetchPatched.cmake)
fetch_patched(googletest ${CMAKE_CURRENT_LIST_DIR}/googletest-mingw.patch
  URL /usr/src/googletest)

set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_compile_definitions(GTEST_IS_THREADSAFE=0)
FetchContent_MakeAvailable(googletest)

# The programs run under wine-run with LF line ends, found through
# OVREL_GTEST_RUN, their emulator: CMake's test discovery reads a
# program's case list line by line and takes no CR, which Windows' text
# mode writes before each LF.  Wine's search path leads to ovrel.dll,
# which lives apart from the test programs.
set(OVREL_GTEST_RUN ${CMAKE_BINARY_DIR}/wine-gtest)
file(CONFIGURE OUTPUT ${OVREL_GTEST_RUN} @ONLY CONTENT [[#!/usr/bin/env bash
# wine-gtest PROGRAM [ARGS...]: a GoogleTest program of this build under
# Wine, its standard output with LF line ends.
set -o pipefail
WINEPATH="Z:@OVREL_BIN_DIR@" "@OVREL_WINE_RUN@" "$@" | tr -d '\r'
]])
file(CHMOD ${OVREL_GTEST_RUN} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
     GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
