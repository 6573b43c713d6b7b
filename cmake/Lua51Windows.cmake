# Lua51Windows.cmake: the engine for Windows, built from its original
# tarball (Debian's source package lua5.1) into the runtime DLL.
include(${CMAKE_CURRENT_LIST_DIR}/PatchText.cmake)

set(OVREL_LUA51_TARBALL "" CACHE FILEPATH
  "lua5.1_5.1.5.orig.tar.gz from Debian's source package lua5.1")
set(lua51_sha256 2640fc56a795f29d28ef15e13c34a47e223960b0240e8cb0a82d9b0738695333)

if(NOT EXISTS "${OVREL_LUA51_TARBALL}")
  message(FATAL_ERROR "OVREL_LUA51_TARBALL must name lua5.1_5.1.5.orig.tar.gz "
                      "(scripts/windows-build.sh fetches it)")
endif()
file(SHA256 "${OVREL_LUA51_TARBALL}" got)
if(NOT got STREQUAL lua51_sha256)
  message(FATAL_ERROR "${OVREL_LUA51_TARBALL}: sha256 ${got}, expected ${lua51_sha256}")
endif()

set(lua51_src ${CMAKE_BINARY_DIR}/lua-5.1.5/src)
# The sources are unpacked and patched again whenever this file changes, so
# that a build folder never compiles the patches of an older version.
file(SHA256 ${CMAKE_CURRENT_LIST_FILE} lua51_patches)
set(lua51_stamp ${CMAKE_BINARY_DIR}/lua-5.1.5/patched)
set(lua51_patched "")
if(EXISTS ${lua51_stamp})
  file(READ ${lua51_stamp} lua51_patched)
endif()
if(NOT lua51_patched STREQUAL lua51_patches)
  file(REMOVE_RECURSE ${CMAKE_BINARY_DIR}/lua-5.1.5)
  file(ARCHIVE_EXTRACT INPUT "${OVREL_LUA51_TARBALL}" DESTINATION ${CMAKE_BINARY_DIR})

  # Upstream gives the API C linkage only through lua.hpp, but the runtime's
  # C++ sources include lua.h itself; the DLL branch of luaconf.h gets the
  # extern "C" that Debian's own headers add for the shared library.
  set(dll_branch "#if defined(LUA_BUILD_AS_DLL)\n")
  patch_text(${lua51_src}/luaconf.h "${dll_branch}"
    "#ifdef __cplusplus\n#define LUAI_LINKAGE extern \"C\"\n#else\n#define LUAI_LINKAGE extern\n#endif\n${dll_branch}")
  patch_text(${lua51_src}/luaconf.h
    "#define LUA_API __declspec(" "#define LUA_API LUAI_LINKAGE __declspec(")

  # File names: the program's folder goes onto the module paths in UTF-8
  # from its wide-character module file name, whatever its name or length,
  # and every file the engine opens or loads by name is opened through
  # host/win/lwinpath.c, which takes UTF-8 and long names by the
  # wide-character calls.
  patch_text(${lua51_src}/luaconf.h [=[
** without modifying the main part of the file.
*/
]=] [=[
** without modifying the main part of the file.
*/
#if (defined(LUA_CORE) || defined(LUA_LIB)) && !defined(__cplusplus)
#include <stdio.h>
struct lua_State;
LUAI_FUNC FILE *luai_fopen (const char *name, const char *mode);
LUAI_FUNC FILE *luai_freopen (const char *name, const char *mode, FILE *f);
LUAI_FUNC void *luai_loadlibrary (const char *name);
LUAI_FUNC const char *luai_pushprogdir (struct lua_State *L);
#endif
]=] 1)
  patch_text(${lua51_src}/loadlib.c [=[
  char buff[MAX_PATH + 1];
  char *lb;
  DWORD nsize = sizeof(buff)/sizeof(char);
  DWORD n = GetModuleFileNameA(NULL, buff, nsize);
  if (n == 0 || n == nsize || (lb = strrchr(buff, '\\')) == NULL)
    luaL_error(L, "unable to get ModuleFileName");
  else {
    *lb = '\0';
    luaL_gsub(L, lua_tostring(L, -1), LUA_EXECDIR, buff);
    lua_remove(L, -2);  /* remove original string */
  }
]=] [=[
  const char *dir = luai_pushprogdir(L);
  luaL_gsub(L, lua_tostring(L, -2), LUA_EXECDIR, dir);
  lua_replace(L, -3);  /* the new string in place of the original */
  lua_pop(L, 1);  /* the folder */
]=] 1)
  patch_text(${lua51_src}/loadlib.c
    "HINSTANCE lib = LoadLibraryA(path);"
    "HINSTANCE lib = (HINSTANCE)luai_loadlibrary(path);" 1)
  patch_text(${lua51_src}/loadlib.c
    "FILE *f = fopen(filename, \"r\");" "FILE *f = luai_fopen(filename, \"r\");" 1)
  patch_text(${lua51_src}/lauxlib.c
    "lf.f = fopen(filename, \"r\");" "lf.f = luai_fopen(filename, \"r\");" 1)
  patch_text(${lua51_src}/lauxlib.c
    "lf.f = freopen(filename, \"rb\", lf.f);" "lf.f = luai_freopen(filename, \"rb\", lf.f);" 1)
  patch_text(${lua51_src}/liolib.c
    "*pf = fopen(filename, mode);" "*pf = luai_fopen(filename, mode);" 2)
  patch_text(${lua51_src}/liolib.c
    "*pf = fopen(filename, \"r\");" "*pf = luai_fopen(filename, \"r\");" 1)
  file(WRITE ${lua51_stamp} "${lua51_patches}")
endif()

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
add_library(lua51 INTERFACE)
target_include_directories(lua51 INTERFACE ${lua51_src})
target_compile_definitions(lua51 INTERFACE LUA_BUILD_AS_DLL)
target_link_libraries(lua51 INTERFACE
  "$<$<NOT:$<STREQUAL:$<TARGET_PROPERTY:NAME>,ovrel>>:ovrel>")

# The stock interpreter over ovrel.dll: the host of the script-level tests.
add_executable(lua51_host ${lua51_src}/lua.c)
target_link_libraries(lua51_host PRIVATE lua51)
target_compile_options(lua51_host PRIVATE -w)
set_target_properties(lua51_host PROPERTIES OUTPUT_NAME lua)
set(LUA51_INTERPRETER lua51_host)
