// app.cpp: the module "ovrel.app": the running program's own file and folder.
//
// A program started through PATH has as its arg[0] the name as typed, so
// a folder derived from it is the current one, where anyone may plant
// files.  The system's name for the running file is the only sound one;
// the programs that ovrelglue makes also take their module folder from it.
#include "app.h"

#include "ovrel.h"

#include <lualib.h>
#include <string.h>

#if defined(_WIN32)
/* The program's own file in UTF-8, pushed (lwinpath.c). */
extern "C" const char *luai_pushprogpath(lua_State *L);
#define DIRSEP '\\'
#else
#include <limits.h>
#include "ownfile.h"
#define DIRSEP '/'
#endif


const char *app_pushpath(lua_State *L) {
#if defined(_WIN32)
  return luai_pushprogpath(L);
#else
  char buff[PATH_MAX];
  if (ownfile_name(buff, sizeof buff) == 0) return NULL;
  lua_pushstring(L, buff);
  return lua_tostring(L, -1);
#endif
}


static int loadapp(lua_State *L) {
  lua_createtable(L, 0, 2);
  const char *path = app_pushpath(L);
  if (path != NULL) {
    const char *slash = strrchr(path, DIRSEP);
    lua_pushlstring(L, path, slash == path ? 1 : (size_t)(slash - path));  /* "/" for the root */
    lua_setfield(L, -3, "dir");
    lua_setfield(L, -2, "path");
  }
  return 1;
}


void app_preload(lua_State *L) {
  lua_getfield(L, LUA_REGISTRYINDEX, "_LOADED");
  lua_getfield(L, -1, LUA_LOADLIBNAME);
  if (lua_type(L, -1) == LUA_TTABLE) {
    lua_getfield(L, -1, "preload");
    if (lua_type(L, -1) == LUA_TTABLE) {
      lua_pushcclosure(L, loadapp, 0);
      lua_setfield(L, -2, OVREL_APP_NAME);
    }
    lua_settop(L, -2);
  }
  lua_settop(L, -3);
}
