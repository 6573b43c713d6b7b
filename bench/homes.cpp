// homes.cpp: where the map's fixed hash puts the integers 1..n, and what
// finding them costs, for the sequential-keys benchmark.  Uses the core's
// own home-bucket function and reads a live map's table.
//
//   local homes = require "homes"
//   used, most = homes.count(n, capacity)
//   mean, longest = homes.probes(m, n, step)
//
// count: home buckets that the keys 1..n use, and the keys on the busiest
// one.  probes: buckets a find of the keys step, 2 step, ... (up to n)
// visits in map m, on average and at most.  Symbols come from the
// interpreter.
#include <stdint.h>
#include <stdlib.h>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "maptable.h"

/* The block of a map's userdata, as the module lays it out. */
struct MapHandle {
  MapTable *table;
};


static int count(lua_State *L) {
  uint32_t n = (uint32_t)luaL_checkinteger(L, 1);
  uint32_t capacity = (uint32_t)luaL_checkinteger(L, 2);
  luaL_argcheck(L, capacity > 0 && (capacity & (capacity - 1)) == 0, 2, "power of two");
  uint32_t *keys = (uint32_t *)calloc(capacity, sizeof *keys);
  if (keys == NULL) return luaL_error(L, "not enough memory");
  uint32_t used = 0, most = 0;
  for (uint32_t k = 1; k <= n; k++) {
    uint32_t c = ++keys[maptable_home((double)k, capacity)];
    if (c == 1) used++;
    if (c > most) most = c;
  }
  free(keys);
  lua_pushnumber(L, used);
  lua_pushnumber(L, most);
  return 2;
}


/* Walks each key's probe sequence as maptable_find does. */
static int probes(lua_State *L) {
  MapHandle *h = (MapHandle *)luaL_checkudata(L, 1, "numhash");
  uint32_t n = (uint32_t)luaL_checkinteger(L, 2);
  uint32_t step = (uint32_t)luaL_optinteger(L, 3, 1);
  const MapTable *t = h->table;
  luaL_argcheck(L, t != NULL && t->capacity > 0 && step > 0, 1, "a live map");
  const uint32_t mask = t->capacity - 1;
  double total = 0, keys = 0, longest = 0;
  for (uint32_t k = step; k <= n; k += step) {
    uint32_t i = maptable_home((double)k, t->capacity), j = 0, visited = 0;
    for (;;) {
      visited++;
      uint32_t s = maptable_state(t, i);
      if (s == MAPTABLE_EMPTY || (s == MAPTABLE_LIVE && t->keys[i] == (double)k)) break;
      i = (i + ++j) & mask;
    }
    total += visited;
    keys++;
    if (visited > longest) longest = visited;
  }
  lua_pushnumber(L, keys > 0 ? total / keys : 0);
  lua_pushnumber(L, longest);
  return 2;
}


static const luaL_Reg functions[] = {
    {"count", count},
    {"probes", probes},
    {NULL, NULL},
};


extern "C" __attribute__((visibility("default"))) int luaopen_homes(lua_State *L) {
  lua_createtable(L, 0, 2);
  luaL_register(L, NULL, functions);
  return 1;
}
