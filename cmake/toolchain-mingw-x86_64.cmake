# toolchain-mingw-x86_64.cmake: 64-bit Windows, a second release beside the
# 32-bit one.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(OVREL_MINGW x86_64-w64-mingw32)
set(OVREL_WINDOWS_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/MinGWWine.cmake)
