// openlibs.cpp: the standard libraries, with modules found beside the program.
//
// A self-running program looks for modules in its own folder first, then in
// the engine's default system folders, and never in the folder it happens
// to be started from: the engine's defaults begin with "./?.lua" and
// "./?.so" (".\?.dll" on Windows), so a file planted where a user starts a
// program would replace a module shipped beside it, or answer an optional
// require.  The default is thus the engine's, less every entry that does not
// name a fixed folder, with the program's folder in front ("!" in the
// engine's Windows defaults already stands for it).  LUA_PATH and LUA_CPATH
// still replace the default, ";;" in them still stands for it, and "!" in
// them names the program's folder; an entry the user writes is kept as
// written.
#include "engine.h"
#include "app.h"

#include <lualib.h>
#include <stdlib.h>
#include <string.h>

#if defined(_WIN32)
#define DIRSEP '\\'
#define OWN_PATH ""
#define OWN_CPATH ""
#else
#define DIRSEP '/'
#define OWN_PATH "!/?.lua;!/?/init.lua;"
#define OWN_CPATH "!/?.so;"
#endif

#define AUXMARK "\1"  /* the engine's own stand-in for ";;" while expanding */


/* Pushes the running program's folder ("" for the root), or returns NULL
** with nothing pushed when it cannot be known or would not work inside a
** path template. */
static const char *pushprogdir(lua_State *L) {
  const char *path = app_pushpath(L);
  if (path == NULL) return NULL;
  lua_pushlstring(L, path, (size_t)(strrchr(path, DIRSEP) - path));  /* "" for the root */
  lua_replace(L, -2);
  const char *dir = lua_tostring(L, -1);
  if (strpbrk(dir, ";?") == NULL) return dir;
  lua_settop(L, -2);  /* would split or fill the template */
  return NULL;
}


/* An entry that names the same folder wherever the program is started. */
static int fixed(const char *e) {
#if defined(_WIN32)
  return e[0] == '!' || e[0] == '\\' || e[0] == '/' ||
         (((e[0] | 0x20) >= 'a' && (e[0] | 0x20) <= 'z') && e[1] == ':');
#else
  return e[0] == '!' || e[0] == '/';
#endif
}


/* Pushes own followed by the entries of def that name fixed folders; with
** no folder of the program's to fill in, its entries are left out too. */
static void pushdefault(lua_State *L, const char *own, const char *def, int hasdir) {
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  luaL_addstring(&b, own);
  while (*def != '\0') {
    const char *end = strchr(def, *LUA_PATHSEP);
    size_t n = end != NULL ? (size_t)(end - def) : strlen(def);
    if (n > 0 && fixed(def) && (hasdir || def[0] != *LUA_EXECDIR)) {
      luaL_addlstring(&b, def, n);
      luaL_addchar(&b, *LUA_PATHSEP);
    }
    def += end != NULL ? n + 1 : n;
  }
  luaL_pushresult(&b);
  size_t len;
  const char *s = lua_tolstring(L, -1, &len);
  if (len > 0 && s[len - 1] == *LUA_PATHSEP) {  /* no empty last entry */
    lua_pushlstring(L, s, len - 1);
    lua_replace(L, -2);
  }
}


/* The first of the variables vars (an engine reads a versioned name before
** the plain one) that is set, or NULL. */
static const char *getpathvar(const char *const *vars, size_t n) {
  for (size_t i = 0; i < n; i++)
    if (const char *v = getenv(vars[i])) return v;
  return NULL;
}


/* Sets package[field] from the variables vars or the default.
** Slots: the package table at pkg, the program's folder or nothing on top. */
template <size_t N>
static void setpath(lua_State *L, int pkg, const char *dir, const char *field,
                    const char *const (&vars)[N], const char *own, const char *def) {
  int top = lua_gettop(L);
  pushdefault(L, dir != NULL ? own : "", def, dir != NULL);
  const char *path = lua_tostring(L, -1);
  const char *given = getpathvar(vars, N);
  if (given != NULL) {
    given = luaL_gsub(L, given, LUA_PATHSEP LUA_PATHSEP, LUA_PATHSEP AUXMARK LUA_PATHSEP);
    path = luaL_gsub(L, given, AUXMARK, path);
  }
  if (dir != NULL) luaL_gsub(L, path, LUA_EXECDIR, dir);
  lua_setfield(L, pkg, field);
  lua_settop(L, top);
}


void ovrel_openlibs(lua_State *L) {
  engine_require(L);
  luaL_openlibs(L);
  int top = lua_gettop(L);
  lua_getfield(L, LUA_REGISTRYINDEX, "_LOADED");
  lua_getfield(L, -1, LUA_LOADLIBNAME);                   /* loaded package */
  if (lua_type(L, -1) == LUA_TTABLE) {
    int pkg = lua_gettop(L);
    const char *dir = pushprogdir(L);                     /* loaded package [dir] */
    static const char *const pathvars[] = LUA_PATH_VARS, *const cpathvars[] = LUA_CPATH_VARS;
    setpath(L, pkg, dir, "path", pathvars, OWN_PATH, LUA_PATH_DEFAULT);
    setpath(L, pkg, dir, "cpath", cpathvars, OWN_CPATH, LUA_CPATH_DEFAULT);
  }
  lua_settop(L, top);
  app_preload(L);
}
