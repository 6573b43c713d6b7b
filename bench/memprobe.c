/* memprobe.c: heap in use and a monotonic clock, for the script benchmarks.
**
** heap() is the bytes the C heap has handed out (chunk sizes, mapped blocks
** included): the runtime's own allocations and the module's alike. */
#include <malloc.h>
#include <time.h>

#include <lauxlib.h>
#include <lua.h>


static int heap(lua_State *L) {
  struct mallinfo2 m = mallinfo2();
  lua_pushnumber(L, (lua_Number)(m.uordblks + m.hblkhd));
  return 1;
}


static int now(lua_State *L) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  lua_pushnumber(L, (lua_Number)ts.tv_sec + (lua_Number)ts.tv_nsec * 1e-9);
  return 1;
}


static const luaL_Reg probe[] = {
    {"heap", heap},
    {"now", now},
    {NULL, NULL},
};


int luaopen_memprobe(lua_State *L) {
  lua_createtable(L, 0, 2);
  luaL_register(L, NULL, probe);
  return 1;
}
