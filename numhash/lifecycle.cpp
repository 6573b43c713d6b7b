// lifecycle.cpp: creating, printing and releasing maps.
#include "heap.h"
#include "map.h"


void map_free_values(MapTable *t) {
  for (uint32_t i = 0; i < t->capacity; i++)
    if (maptable_islive(t, i)) heap_free(t->values[i]);
}


/* numhash.new([size]): a map sized for size entries' worth of buckets.
** The metatable goes on before the table is allocated, so that a memory
** error raised by any later runtime call still leaves a handle whose __gc
** frees what it holds. */
int numhash_new(lua_State *L) {
  int size = ovrL_optposint(L, 1, 8);
  uint32_t buckets = tools_nextpow2u32((uint32_t)size);
  MapHandle *h = (MapHandle *)lua_newuserdata(L, sizeof(MapHandle));  /* map */
  h->table = nullptr;
  lua_setmetatabletoobject(L, -1, NUMHASH_TYPE, 1);
  h->table = (MapTable *)heap_calloc(1, sizeof(MapTable));
  if (!h->table) {
    ovr_poptop(L);
    return luaL_error(L, MSG_NOMEMORY, "numhash.new");
  }
  maptable_rehash(h->table, buckets);  /* a failure leaves an unsized map */
  lua_createtable(L, 0, 0);            /* map env */
  lua_setfenv(L, -2);                  /* map */
  return 1;
}


int numhash_mm_tostring(lua_State *L) {
  MapTable *t = checkmap(L, 1);
  if (!ovr_getutype(L, 1))                               /* name */
    return luaL_error(L, MSG_NOUTYPE, "numhash.__tostring");
  lua_pushfstring(L, "(%u)", t ? t->count : 0u);        /* name "(n)" */
  lua_concat(L, 2);
  return 1;
}


/* Release: frees the table and every value, then detaches the userdata so
** that the map check rejects it from now on.  The pointer is cleared too:
** an iterator still holding the userdata then finds no table rather than
** freed memory. */
int numhash_mm_gc(lua_State *L) {
  MapHandle *h = (MapHandle *)luaL_checkudata(L, 1, NUMHASH_TYPE);
  if (h && h->table) {
    MapTable *t = h->table;
    map_free_values(t);
    maptable_release(t);
    heap_free(t);
    h->table = nullptr;
  }
  ovr_udfreeze(L, 1, 0);
  lua_setmetatabletoobject(L, 1, nullptr, 1);
  lua_pushnil(L);
  lua_setfenv(L, 1);
  return 0;
}
