/* linked.c: a module linked against the engine's shared library, as
   CMake's FindLua links one: it names liblua5.1.so.0 as needed. */
#include <lauxlib.h>
#include <lua.h>

static int where(lua_State *L) {
  lua_pushstring(L, "linked");
  return 1;
}

int luaopen_linked(lua_State *L) {
  lua_newtable(L);
  lua_pushcfunction(L, where);
  lua_setfield(L, -2, "where");
  return 1;
}
