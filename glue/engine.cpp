// engine.cpp: the engine's compiler and default module path, asked of the
// engine itself, so that the tool judges a script exactly as the launcher
// will.  Each question gets a fresh state, closed before the answer is
// returned: nothing compiled here is ever run.  The engine's frames are C:
// no exception is let into them, and memory it cannot get ends the tool
// through its report.
#include "engine.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include <string.h>

#include <new>

#include "bytecode.h"
#include "glue.h"


int precompiled(const std::string &text) {
  return text.compare(0, 4, LUA_SIGNATURE) == 0;
}


size_t hashline(const std::string &text) {
  if (text.empty() || text[0] != '#') return 0;
  size_t nl = text.find('\n');
  return nl == std::string::npos ? std::string::npos : nl + 1;
}


std::string launcherchunk(const std::string &text) {
  size_t second = hashline(text);
  if (second == 0) return text;
  if (second == std::string::npos) return std::string();
  return text.substr(text.compare(second, 4, LUA_SIGNATURE) == 0 ? second : second - 1);
}


static lua_State *newstate(void) {
  lua_State *L = luaL_newstate();
  if (L == NULL) die("cannot start the engine: not enough memory");
  return L;
}


/* lua_Writer: the dump grows a string; a failed allocation stops it. */
struct Dump {
  std::string bytes;
  int failed;
};

static int dumpwriter(lua_State *L, const void *p, size_t n, void *ud) {
  (void)L;
  Dump *d = (Dump *)ud;
  try {
    d->bytes.append((const char *)p, n);
  } catch (const std::bad_alloc &) {
    d->failed = 1;
  }
  return d->failed;
}


Compiled compilechunk(const std::string &chunk, const char *chunkname) {
  Compiled c;
  c.whole = 1;
  Dump d;
  d.failed = 0;
  lua_State *L = newstate();
  int status = luaL_loadbuffer(L, chunk.data(), chunk.size(), chunkname);
  if (status == 0) {
    lua_dump(L, dumpwriter, &d);
  } else if (status != LUA_ERRMEM) {
    const char *m = lua_tostring(L, -1);
    c.message = m ? m : "the chunk does not compile";
  }
  lua_close(L);
  if (status == LUA_ERRMEM || d.failed) die("not enough memory");
  if (status == 0) c.whole = bytecoderequires(d.bytes, &c.needs);
  return c;
}


/* Opening the package library, all that sets the paths, can raise
** (memory): run it protected. */
static int getpaths(lua_State *L) {
  lua_pushcfunction(L, luaopen_package);
  lua_call(L, 0, 1);  /* package */
  return 1;
}


/* Both paths come from one state, asked once. */
std::string defaultpath(const char *field) {
  static std::string path, cpath;
  static int known;
  if (!known) {
    lua_State *L = newstate();
    if (lua_cpcall(L, getpaths, NULL) != 0) {
      lua_close(L);
      die("not enough memory");  /* the only error opening the library gives */
    }
    lua_getfield(L, LUA_REGISTRYINDEX, "_LOADED");  /* loaded */
    lua_getfield(L, -1, "package");                 /* loaded package */
    lua_getfield(L, -1, "path");                    /* loaded package path */
    lua_getfield(L, -2, "cpath");                   /* loaded package path cpath */
    const char *p = lua_tostring(L, -2), *c = lua_tostring(L, -1);
    path = p ? p : "";
    cpath = c ? c : "";
    lua_close(L);
    known = 1;
  }
  return strcmp(field, "cpath") == 0 ? cpath : path;
}
