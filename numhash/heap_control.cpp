// heap_control.cpp: script access to the heap seam, in test builds only.
//
// require "numhash.heapfail" gives { failat(n), allocations(), live(),
// tune(...) } so that script-level tests can fail the module's n-th
// allocation from now, check that no block is left behind, and choose when
// maps made from then on hand their walks to the lookup aids.
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


/* tune(farsteps, allshare [, treewalks]) for the aids, their trees built at
** the first long walk unless treewalks says otherwise; tune() for the plain
** rules alone. */
static int tune(lua_State *L) {
  if (lua_type(L, 1) <= LUA_TNIL) {
    mapaccel_tune({MAPACCEL_PLAIN, 0, 0});
    return 0;
  }
  uint32_t farsteps = (uint32_t)ovr_checknonnegint(L, 1);
  uint32_t allshare = (uint32_t)ovr_checknonnegint(L, 2);
  uint32_t treewalks = lua_type(L, 3) <= LUA_TNIL ? 0 : (uint32_t)ovr_checknonnegint(L, 3);
  mapaccel_tune({farsteps, allshare, treewalks});
  return 0;
}


static const luaL_Reg control[] = {
    {"failat", failat},
    {"allocations", allocations},
    {"live", live},
    {"tune", tune},
    {nullptr, nullptr},
};


NUMHASH_EXPORT int luaopen_numhash_heapfail(lua_State *L) {
  lua_createtable(L, 0, 4);            /* control */
  luaL_register(L, nullptr, control);  /* control; no global of its own */
  return 1;
}
