// keyed.cpp: reading, storing and deleting one entry, and enlarging a map.
#include "heap.h"
#include "map.h"


/* getitem(map [, key]): the stored string or nil; the map's environment
** table when called with the map alone. */
int numhash_getitem(lua_State *L) {
  int nargs = lua_gettop(L);
  MapTable *t = checkmap(L, 1);
  if (!t) return luaL_error(L, MSG_UNINITIALIZED, "numhash.getitem");
  if (nargs == 1) {
    lua_getfenv(L, 1);  /* env */
    return 1;
  }
  luaL_checkstack(L, 2, MSG_NOSTACK);
  if (lua_type(L, 2) != LUA_TNUMBER)
    return luaL_error(L, MSG_BADKEY, "numhash.getitem");
  uint32_t b = maptable_find(t, ovr_tonumber(L, 2));
  if (b == MAPTABLE_ABSENT)
    lua_pushnil(L);
  else
    lua_pushstring(L, t->values[b]);  /* the runtime copies it */
  return 1;
}


int numhash_mm_index(lua_State *L) { return numhash_getitem(L); }


/* include(map, key, value): true for a new key, false when replaced.  The
** value is copied up to its first zero byte before the put, and freed
** again if the put cannot get memory, so a live bucket never holds null. */
int numhash_include(lua_State *L) {
  MapTable *t = checkmap(L, 1);
  double key = ovr_checknumber(L, 2);
  size_t len;
  const char *value = ovr_checklstring(L, 3, &len);
  if (!t) return luaL_error(L, MSG_UNINITIALIZED, "numhash.include");
  maptable_prefetch(t, key);  /* overlaps the copy */
  char *copy = heap_strdup(value);
  if (!copy) return luaL_error(L, MSG_NOMEMORY, "numhash.include");
  uint32_t b;
  MapPutStatus status = maptable_put(t, key, &b);
  if (status == MAPTABLE_FAILED) {
    heap_free(copy);
    return luaL_error(L, MSG_NOMEMORY, "numhash.include");
  }
  if (status == MAPTABLE_PRESENT) heap_free(t->values[b]);  /* key keeps its sign */
  t->values[b] = copy;
  lua_pushboolean(L, status != MAPTABLE_PRESENT);
  return 1;
}


/* purge(map, key [, shrink]): true when an entry was removed.  With shrink
** the map is rebuilt for its new count; if that cannot get memory the map
** simply stays as large as it was. */
int numhash_purge(lua_State *L) {
  MapTable *t = checkmap(L, 1);
  double key = ovr_checknumber(L, 2);
  if (!t) return luaL_error(L, MSG_UNINITIALIZED, "numhash.purge");
  int shrink = ovrL_optboolean(L, 3, 0);
  uint32_t b = maptable_find(t, key);
  if (b == MAPTABLE_ABSENT) {
    lua_pushboolean(L, 0);
    return 1;
  }
  heap_free(t->values[b]);
  maptable_erase(t, b);
  if (shrink) maptable_rehash(t, t->count);
  lua_pushboolean(L, 1);
  return 1;
}


/* resize(map, n): grows the map to hold n buckets' worth; never shrinks.
** Results: whether the capacity changed, and the capacity now. */
int numhash_resize(lua_State *L) {
  MapTable *t = checkmap(L, 1);
  if (!t) return luaL_error(L, MSG_UNINITIALIZED, "numhash.resize");
  uint32_t old = t->capacity;
  uint32_t n = (uint32_t)ovr_checknonnegint(L, 2);
  uint32_t d = tools_nextpow2u32(n > 1 ? n : 1);  /* 1 for 0 too: an unsized map grows */
  if (d > old) maptable_rehash(t, d);  /* a failure keeps the old size */
  luaL_checkstack(L, 2, MSG_NOSTACK);
  lua_pushboolean(L, t->capacity != old);
  lua_pushnumber(L, (lua_Number)t->capacity);
  return 2;
}
