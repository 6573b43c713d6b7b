# MinGWWine.cmake: what both Windows toolchains share, once each of them has
# named its MinGW-w64 triplet (OVREL_MINGW), its release's architecture
# (OVREL_WINDOWS_ARCH, i686 or x86_64) and CMake's processor name.  Their
# programs come from Debian's MinGW-w64; CTest runs their tests under Wine.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${OVREL_MINGW}-gcc-win32)
set(CMAKE_CXX_COMPILER ${OVREL_MINGW}-g++-win32)
set(CMAKE_RC_COMPILER ${OVREL_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${OVREL_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Each program and DLL carries its compiler runtime inside, so a user's
# folder needs no libgcc_s_dw2-1.dll or libstdc++-6.dll beside them.
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
endforeach()

# Tests run under Wine in a prefix kept inside the build folder, through
# one wrapper program: test drivers take the emulator as a single command.
# Its settings and its choice of Wine's loader are the scripts' own
# (scripts/common.sh).
set(OVREL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix the tests run in")
set(OVREL_WINE_RUN ${CMAKE_BINARY_DIR}/wine-run)
get_filename_component(ovrel_scripts ${CMAKE_CURRENT_LIST_DIR}/../scripts ABSOLUTE)
file(CONFIGURE OUTPUT ${OVREL_WINE_RUN} @ONLY CONTENT [[#!/usr/bin/env bash
# wine-run PROGRAM [ARGS...]: runs a Windows program of this build.
source "@ovrel_scripts@/common.sh"
wine_env "@OVREL_WINEPREFIX@" @OVREL_WINDOWS_ARCH@
exec "$WINELOADER" "$@"
]])
file(CHMOD ${OVREL_WINE_RUN} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
     GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${OVREL_WINE_RUN})
