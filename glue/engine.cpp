// engine.cpp: the engine's compiler and default module path, asked of the
// engine itself, so that the tool judges a script exactly as the launcher
// will.  Each question gets a fresh state, closed before the answer is
// returned: nothing compiled here is ever run.
#include "engine.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

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


std::string compileerror(const std::string &chunk, const char *chunkname) {
  lua_State *L = newstate();
  std::string message;
  if (luaL_loadbuffer(L, chunk.data(), chunk.size(), chunkname) != 0) {
    const char *m = lua_tostring(L, -1);
    message = m ? m : "the chunk does not compile";
  }
  lua_close(L);
  return message;
}


/* Opening the libraries can raise (memory): run it protected. */
static int getpath(lua_State *L) {
  const char *field = (const char *)lua_touserdata(L, 1);
  luaL_openlibs(L);
  lua_getfield(L, LUA_GLOBALSINDEX, "package");  /* package */
  lua_getfield(L, -1, field);                    /* package path */
  lua_setfield(L, LUA_REGISTRYINDEX, "ovrelglue.path");
  return 0;
}


std::string defaultpath(const char *field) {
  lua_State *L = newstate();
  if (lua_cpcall(L, getpath, (void *)field) != 0)
    die("cannot start the engine: %s", lua_tostring(L, -1));
  lua_getfield(L, LUA_REGISTRYINDEX, "ovrelglue.path");  /* path */
  const char *p = lua_tostring(L, -1);
  std::string path = p ? p : "";
  lua_close(L);
  return path;
}
