// openlibs.cpp: the standard libraries, with modules found beside the program.
//
// The runtime looks for modules in the running program's own folder, as the
// engine does on Windows, where "!" in its default paths stands for that
// folder.  The engine elsewhere has no such entry, so this puts the folder
// in the same places: right after the current folder's "./?.so" and
// "./?.lua".  LUA_CPATH and LUA_PATH still replace the defaults, ";;" in
// them still stands for the default (folder included), and "!" in them
// names the folder, all as on Windows.
#include "ovrel.h"

#include <lualib.h>
#include <stdlib.h>
#include <string.h>

#if !defined(_WIN32)
#include <limits.h>
#include <unistd.h>

#define AUXMARK "\1"  /* the engine's own stand-in for ";;" while expanding */


/* The running program's folder in dir ("" for the root), or 0 when it
** cannot be known or would not work as a path template. */
static int progdir(char *dir, size_t size) {
  ssize_t n = readlink("/proc/self/exe", dir, size);
  if (n <= 0 || (size_t)n >= size) return 0;
  dir[n] = '\0';
  char *slash = strrchr(dir, '/');
  if (slash == NULL) return 0;
  *slash = '\0';
  return strpbrk(dir, ";?") == NULL;  /* would split or fill the template */
}


/* Sets package[field] from the variable env or the engine's default def,
** with beside inserted after its first entry; "!" becomes dir.
** Slots: the package table on the top. */
static void setpath(lua_State *L, const char *field, const char *env,
                    const char *def, const char *first, const char *beside,
                    const char *dir) {
  int top = lua_gettop(L);
  lua_pushstring(L, first);
  lua_pushstring(L, beside);
  lua_concat(L, 2);                                       /* first..beside */
  const char *withdir = luaL_gsub(L, def, first, lua_tostring(L, -1));
  const char *path = getenv(env);
  if (path == NULL) {
    path = withdir;
  } else {
    path = luaL_gsub(L, path, LUA_PATHSEP LUA_PATHSEP, LUA_PATHSEP AUXMARK LUA_PATHSEP);
    path = luaL_gsub(L, path, AUXMARK, withdir);
  }
  luaL_gsub(L, path, LUA_EXECDIR, dir);
  lua_setfield(L, top, field);
  lua_settop(L, top);
}
#endif


void ovrel_openlibs(lua_State *L) {
  luaL_openlibs(L);
#if !defined(_WIN32)
  char dir[PATH_MAX];
  if (!progdir(dir, sizeof dir)) return;
  lua_getfield(L, LUA_REGISTRYINDEX, "_LOADED");
  lua_getfield(L, -1, LUA_LOADLIBNAME);                   /* loaded package */
  if (lua_type(L, -1) == LUA_TTABLE) {
    setpath(L, "path", LUA_PATH, LUA_PATH_DEFAULT, "./?.lua;", "!/?.lua;!/?/init.lua;", dir);
    setpath(L, "cpath", LUA_CPATH, LUA_CPATH_DEFAULT, "./?.so;", "!/?.so;", dir);
  }
  lua_pop(L, 2);
#endif
}
