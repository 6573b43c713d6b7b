// iterate.cpp: the iterator over a map's entries in bucket order.
#include "map.h"


/* Upvalue 1 is the map's userdata, which keeps the map alive; upvalue 2 the
** next bucket to examine.  Each call reads the table afresh, so entries
** stored at or after the position still show up and a rebuild below the
** position ends the walk.  A map released by a script's own call of __gc
** holds no table any more: the iterator then answers nil. */
static int iterate_step(lua_State *L) {
  MapHandle *h = (MapHandle *)lua_touserdata(L, lua_upvalueindex(1));
  MapTable *t = h ? h->table : nullptr;
  uint32_t p = (uint32_t)lua_tointeger(L, lua_upvalueindex(2));
  if (!t || p >= t->capacity) {
    lua_pushnil(L);
    return 1;
  }
  luaL_checkstack(L, 3, MSG_NOSTACK);
  while (p < t->capacity && !maptable_islive(t, p)) p++;
  if (p == t->capacity) {
    lua_pushnil(L);
    return 1;
  }
  lua_pushnumber(L, t->keys[p]);                 /* key */
  lua_pushstring(L, t->values[p]);               /* key value */
  lua_pushinteger(L, (lua_Integer)p + 1);        /* key value p+1 */
  lua_replace(L, lua_upvalueindex(2));           /* key value */
  return 2;
}


int numhash_iterate(lua_State *L) {
  checkmap(L, 1);
  luaL_checkstack(L, 2, MSG_NOSTACK);
  lua_pushvalue(L, 1);                     /* map */
  lua_pushinteger(L, 0);                   /* map 0 */
  lua_pushcclosure(L, iterate_step, 2);    /* step */
  return 1;
}
