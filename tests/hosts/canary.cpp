// canary.cpp: a module with one planted fault per function.
//
// The checking configurations run each of these under the test host and
// require their checker to report it: a leak, a heap overrun, undefined
// behaviour.  A run that comes back clean means the checker is not in
// force for loaded modules, and the rest of that suite proves nothing.
#include <stdlib.h>
#include <string.h>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

static int leak(lua_State *L) {
  char *p = (char *)malloc(48);
  memset(p, 'x', 48);
  lua_pushlightuserdata(L, p);  /* the pointer dies with the value */
  lua_pop(L, 1);
  return 0;
}


static int overrun(lua_State *L) {
  size_t n = (size_t)luaL_checkinteger(L, 1);  /* block size: written one past */
  char *p = (char *)malloc(n);
  volatile char *q = p;
  q[n] = 1;
  free(p);
  return 0;
}


static int overflow(lua_State *L) {
  int n = (int)luaL_checkinteger(L, 1);  /* INT_MAX */
  volatile int m = n;
  lua_pushinteger(L, m + 1);
  return 1;
}


static const luaL_Reg canary[] = {
    {"leak", leak},
    {"overrun", overrun},
    {"overflow", overflow},
    {nullptr, nullptr},
};


extern "C" __attribute__((visibility("default"))) int luaopen_canary(lua_State *L) {
  lua_createtable(L, 0, 3);
  luaL_register(L, nullptr, canary);
  return 1;
}
