// greet.cpp: a third party's module that needs only the installed interface.
#include <ovrel.h>
#include <srglue.h>

static int hello(lua_State *L) {
  lua_pushfstring(L, "hello, %s (%u)", ovr_checkstring(L, 1), (unsigned)sizeof(Glue));
  return 1;
}


OVREL_EXTERN_C __attribute__((visibility("default"))) int luaopen_greet(lua_State *L) {
  static const luaL_Reg functions[] = {{"hello", hello}, {nullptr, nullptr}};
  luaL_register(L, "greet", functions);
  return 1;
}
