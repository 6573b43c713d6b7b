# Lua51Windows.cmake: the engine for Windows, built from its original
# tarball (Debian's source package lua5.1) into the runtime DLL.
include(${CMAKE_CURRENT_LIST_DIR}/FetchPatched.cmake)

set(OVREL_LUA51_TARBALL "" CACHE FILEPATH
  "lua5.1_5.1.5.orig.tar.gz from Debian's source package lua5.1")
if(NOT EXISTS "${OVREL_LUA51_TARBALL}")
  message(FATAL_ERROR "OVREL_LUA51_TARBALL must name lua5.1_5.1.5.orig.tar.gz "
                      "(scripts/windows-build.sh fetches it)")
endif()
# The patch says what it changes in the engine, and why.
fetch_patched(lua51 ${PROJECT_SOURCE_DIR}/host/win/lua51.patch
  URL ${OVREL_LUA51_TARBALL}
  URL_HASH SHA256=2640fc56a795f29d28ef15e13c34a47e223960b0240e8cb0a82d9b0738695333)
FetchContent_MakeAvailable(lua51)
set(lua51_src ${lua51_SOURCE_DIR}/src)

# The core and standard libraries: every source but the two programs and
# the lister.  Each of them defines LUA_CORE or LUA_LIB itself, which with
# LUA_BUILD_AS_DLL makes its API functions exports of the DLL it lands in.
file(GLOB lua51_core_sources ${lua51_src}/*.c)
list(REMOVE_ITEM lua51_core_sources
  ${lua51_src}/lua.c ${lua51_src}/luac.c ${lua51_src}/print.c)
add_library(lua51_core OBJECT ${lua51_core_sources})
target_compile_definitions(lua51_core PUBLIC LUA_BUILD_AS_DLL)
target_include_directories(lua51_core PUBLIC ${lua51_src})
target_compile_options(lua51_core PRIVATE -w)  # the engine as released

# What links the engine links ovrel.dll, which holds it; ovrel itself only
# takes the headers.
add_library(lua_engine INTERFACE)
target_include_directories(lua_engine INTERFACE ${lua51_src})
target_compile_definitions(lua_engine INTERFACE LUA_BUILD_AS_DLL)
target_link_libraries(lua_engine INTERFACE
  "$<$<NOT:$<STREQUAL:$<TARGET_PROPERTY:NAME>,ovrel>>:ovrel>")

# The stock interpreter over ovrel.dll: the host of the script-level tests.
add_executable(lua51_host ${lua51_src}/lua.c)
target_link_libraries(lua51_host PRIVATE lua_engine)
target_compile_options(lua51_host PRIVATE -w)
set_target_properties(lua51_host PROPERTIES OUTPUT_NAME lua)
set(LUA_INTERPRETER lua51_host)
