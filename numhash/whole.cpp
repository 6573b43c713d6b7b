// whole.cpp: statistics, clearing, value search, size and conversion.
//
// Everything here is one pass over the buckets in ascending index order at
// most; nothing hashes or probes.
#include <bit>
#include <string.h>

#include "heap.h"
#include "map.h"


/* Buckets whose state is empty (bit pair 10).  The flag words are counted
** sixteen buckets at a time; the unused high bits of the single word of a
** 4- or 8-bucket table are masked off. */
static uint32_t count_empty(const MapTable *t) {
  const uint32_t words = maptable_flagwords(t->capacity);
  uint32_t n = 0;
  for (uint32_t w = 0; w < words; w++) {
    uint32_t f = t->flags[w];
    uint32_t empty = (f >> 1) & ~f & MAPTABLE_DELETED_BITS & maptable_usedbits(t->capacity);
    n += (uint32_t)std::popcount(empty);
  }
  return n;
}


static void setnumber(lua_State *L, const char *field, lua_Number v) {
  lua_pushnumber(L, v);         /* stats v */
  ovr_rawsetfield(L, -2, field);  /* stats */
}


/* attrib(map): count, capacity, empty (never-used buckets), void (the rest
** that hold no entry, i.e. deleted ones), loadfactor and utilization. */
int numhash_attrib(lua_State *L) {
  MapTable *t = checkmap(L, 1);
  if (!t) return luaL_error(L, MSG_UNINITIALIZED, "numhash.attrib");
  uint32_t cap = t->capacity, count = t->count;
  uint32_t empty = cap ? count_empty(t) : 0;
  uint32_t vacant = count + empty < cap ? cap - count - empty : 0;
  lua_createtable(L, 0, 6);  /* stats */
  setnumber(L, "count", count);
  setnumber(L, "capacity", cap);
  setnumber(L, "empty", empty);
  setnumber(L, "void", vacant);
  setnumber(L, "loadfactor", cap ? (double)count / (double)cap : 0.0);
  setnumber(L, "utilization", cap ? (double)(uint32_t)(count + empty) / (double)cap : 0.0);
  return 1;
}


/* cleanse(map): frees every value and marks every bucket empty; capacity
** and arrays stay. */
int numhash_cleanse(lua_State *L) {
  MapTable *t = checkmap(L, 1);
  if (!t) return luaL_error(L, MSG_UNINITIALIZED, "numhash.cleanse");
  map_free_values(t);
  maptable_empty(t);
  return 0;
}


static bool holds_value(const MapTable *t, const char *s) {
  for (uint32_t i = 0; i < t->capacity; i++)
    if (maptable_islive(t, i) && strcmp(t->values[i], s) == 0) return true;
  return false;
}


int numhash_has(lua_State *L) {
  MapTable *t = checkmap(L, 1);
  const char *s = ovr_checkstring(L, 2);
  if (!t) return luaL_error(L, MSG_UNINITIALIZED, "numhash.has");
  lua_pushboolean(L, holds_value(t, s));
  return 1;
}


/* __in(string, map) and __notin(string, map): the map comes second. */
int numhash_mm_in(lua_State *L) {
  MapTable *t = checkmap(L, 2);
  const char *s = ovr_checkstring(L, 1);
  lua_pushboolean(L, t && holds_value(t, s));
  return 1;
}


int numhash_mm_notin(lua_State *L) {
  MapTable *t = checkmap(L, 2);
  const char *s = ovr_checkstring(L, 1);
  lua_pushboolean(L, !(t && holds_value(t, s)));
  return 1;
}


int numhash_mm_size(lua_State *L) {
  MapTable *t = checkmap(L, 1);
  lua_pushinteger(L, t ? (lua_Integer)t->count : 0);
  return 1;
}


int numhash_mm_empty(lua_State *L) {
  MapTable *t = checkmap(L, 1);
  lua_pushboolean(L, !t || t->count == 0);
  return 1;
}


int numhash_mm_filled(lua_State *L) {
  MapTable *t = checkmap(L, 1);
  lua_pushboolean(L, t && t->count != 0);
  return 1;
}


/* totable(map): a new table of the entries, in bucket order. */
int numhash_totable(lua_State *L) {
  MapTable *t = checkmap(L, 1);
  if (!t) return luaL_error(L, MSG_UNINITIALIZED, "numhash.totable");
  lua_createtable(L, (int)t->count, 0);  /* tbl */
  for (uint32_t i = 0; i < t->capacity; i++) {
    if (!maptable_islive(t, i)) continue;
    lua_pushnumber(L, t->keys[i]);     /* tbl key */
    lua_pushstring(L, t->values[i]);   /* tbl key value */
    lua_rawset(L, -3);                 /* tbl */
  }
  return 1;
}
