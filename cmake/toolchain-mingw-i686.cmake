# toolchain-mingw-i686.cmake: 32-bit Windows, the reference target.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(OVREL_MINGW i686-w64-mingw32)
set(OVREL_WINDOWS_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/MinGWWine.cmake)
