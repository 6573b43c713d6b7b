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

#include <algorithm>
#include <new>

#include "bundle.h"
#include "bytecode.h"
#include "glue.h"
#include "scriptchunk.h"
#include "app.h"


int precompiled(const std::string &text) {
  return text.compare(0, 4, LUA_SIGNATURE) == 0;
}


size_t hashline(const std::string &text) {
  size_t skipped = launcherskip(text.data(), text.size());
  if (skipped == 0) return 0;
  return skipped == text.size() ? std::string::npos : skipped + 1;
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


/* What compiling left on L's stack, the function or the message, read
** into c; L is closed. */
static Compiled compiled(lua_State *L, int status) {
  Compiled c;
  c.whole = 1;
  Dump d;
  d.failed = 0;
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


Compiled compilescript(const std::string &text, const char *chunkname) {
  lua_State *L = newstate();
  return compiled(L, launcherload(L, text.data(), text.size(), chunkname));
}


struct ModuleText {
  const std::string *text;
  const char *chunkname;
  int status;
};

/* Makes the chunk by the bundle's own rule, then compiles it; only memory
** can raise here.  Leaves the function or the message. */
static int loadmodule(lua_State *L) {
  static const char rule[] = "local t=... " BUNDLE_MODULE_CHUNK "return t";
  ModuleText *m = (ModuleText *)lua_touserdata(L, 1);
  lua_pushcfunction(L, luaopen_string);  /* the rule calls string methods */
  lua_call(L, 0, 0);
  if (luaL_loadbuffer(L, rule, sizeof rule - 1, "=rule") != 0) lua_error(L);
  lua_pushlstring(L, m->text->data(), m->text->size());
  lua_call(L, 1, 1);  /* chunk */
  size_t len;
  const char *chunk = lua_tolstring(L, -1, &len);
  m->status = luaL_loadbuffer(L, chunk, len, m->chunkname);  /* chunk function-or-message */
  lua_setfield(L, LUA_REGISTRYINDEX, "ovrelglue.module");
  return 0;
}


Compiled compilemodule(const std::string &text, const char *chunkname) {
  lua_State *L = newstate();
  ModuleText m = {&text, chunkname, 0};
  if (lua_cpcall(L, loadmodule, &m) != 0) {
    lua_close(L);
    die("not enough memory");
  }
  lua_getfield(L, LUA_REGISTRYINDEX, "ovrelglue.module");
  return compiled(L, m.status);
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


static int openall(lua_State *L) {
  luaL_openlibs(L);
  return 0;
}


int launchermodule(const std::string &name) {
  static std::vector<std::string> names;
  if (names.empty()) {
    lua_State *L = newstate();
    if (lua_cpcall(L, openall, NULL) != 0) {
      lua_close(L);
      die("not enough memory");
    }
    lua_getfield(L, LUA_REGISTRYINDEX, "_LOADED");
    for (lua_pushnil(L); lua_next(L, -2) != 0; lua_settop(L, -2))
      if (lua_type(L, -2) == LUA_TSTRING) names.push_back(lua_tostring(L, -2));
    lua_close(L);
    names.push_back(OVREL_APP_NAME);
  }
  return std::find(names.begin(), names.end(), name) != names.end();
}
