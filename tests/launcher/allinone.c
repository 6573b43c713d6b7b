/* allinone.c: one file that opens two modules, allinone.one and
   allinone.two, as luaposix's posix.so opens posix.unistd and the rest. */
#include <lua.h>

#if defined(_WIN32)
#define EXPORT __declspec(dllexport)
#else
#define EXPORT
#endif

EXPORT int luaopen_allinone_one(lua_State *L) {
  lua_pushstring(L, "one");
  return 1;
}

EXPORT int luaopen_allinone_two(lua_State *L) {
  lua_pushstring(L, "two");
  return 1;
}
