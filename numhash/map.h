// map.h: the map object that scripts hold, and the module's native functions.
#ifndef NUMHASH_MAP_H
#define NUMHASH_MAP_H

#include "ovrel.h"
#include "maptable.h"

#define NUMHASH_TYPE "numhash"

#if defined(_WIN32)
#define NUMHASH_EXPORT extern "C" __declspec(dllexport)
#else
#define NUMHASH_EXPORT extern "C" __attribute__((visibility("default")))
#endif

/* The block of a map's userdata: one pointer, written by new. */
struct MapHandle {
  MapTable *table;
};

/* Messages, filled with "numhash." and the operation's registered name. */
#define MSG_UNINITIALIZED "Error in `%s`: uninitialized hash map."
#define MSG_BADKEY "Error in `%s`: invalid second argument given."
#define MSG_NOMEMORY "Error in `%s`: memory allocation failed."
#define MSG_NOUTYPE "Error in `%s`: invalid string hash table."
#define MSG_NOSTACK "not enough stack space"

/* The map at stack index i, or null for a handle that holds no table.
** Anything that is not a map is rejected by the runtime's check. */
static inline MapTable *checkmap(lua_State *L, int i) {
  MapHandle *h = (MapHandle *)luaL_checkudata(L, i, NUMHASH_TYPE);
  return h ? h->table : nullptr;
}

/* Frees the string of every live bucket; the buckets keep their states. */
void map_free_values(MapTable *t);

/* Module functions. */
int numhash_attrib(lua_State *L);
int numhash_cleanse(lua_State *L);
int numhash_getitem(lua_State *L);
int numhash_has(lua_State *L);
int numhash_include(lua_State *L);
int numhash_iterate(lua_State *L);
int numhash_new(lua_State *L);
int numhash_purge(lua_State *L);
int numhash_resize(lua_State *L);
int numhash_totable(lua_State *L);

/* Metamethods (__writeindex is numhash_include itself). */
int numhash_mm_index(lua_State *L);
int numhash_mm_size(lua_State *L);
int numhash_mm_empty(lua_State *L);
int numhash_mm_filled(lua_State *L);
int numhash_mm_in(lua_State *L);
int numhash_mm_notin(lua_State *L);
int numhash_mm_tostring(lua_State *L);
int numhash_mm_gc(lua_State *L);

#endif
