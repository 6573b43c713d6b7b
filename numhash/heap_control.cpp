// heap_control.cpp: script access to the heap seam, in test builds only.
//
// require "numhash.heapfail" gives { failat(n), allocations(), live() } so
// that script-level tests can fail the module's n-th allocation from now
// and check that no block is left behind.
#include "heap.h"
#include "map.h"

static int failat(lua_State *L) {
  heap_fail_at((unsigned long)ovr_checknonnegint(L, 1));
  return 0;
}


static int allocations(lua_State *L) {
  lua_pushnumber(L, (lua_Number)heap_allocations());
  return 1;
}


static int live(lua_State *L) {
  lua_pushnumber(L, (lua_Number)heap_live_blocks());
  return 1;
}


static const luaL_Reg control[] = {
    {"failat", failat},
    {"allocations", allocations},
    {"live", live},
    {nullptr, nullptr},
};


NUMHASH_EXPORT int luaopen_numhash_heapfail(lua_State *L) {
  lua_createtable(L, 0, 3);            /* control */
  luaL_register(L, nullptr, control);  /* control; no global of its own */
  return 1;
}
