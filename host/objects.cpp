// objects.cpp: environments, user type names and frozen marks of objects.
#include "engine.h"
#include "stack.h"

/* The engine gives every userdata an environment table and has no user
** type names or frozen marks.  Names and marks are kept in weak-keyed
** registry tables so that they never keep an object alive; a removed
** environment is a shared empty table that reads back as nil. */

static const char NOENV[] = "ovrel.noenv";
static const char UTYPES[] = "ovrel.utypes";
static const char FROZEN[] = "ovrel.frozen";


/* Pushes the registry table named key, made on first use. */
static void pushregtable(lua_State *L, const char *key, bool weakkeys) {
  lua_getfield(L, LUA_REGISTRYINDEX, key);
  if (lua_istable(L, -1)) return;
  lua_pop(L, 1);
  lua_newtable(L);  /* t */
  if (weakkeys) {
    lua_createtable(L, 0, 1);   /* t mt */
    lua_pushliteral(L, "k");
    lua_setfield(L, -2, "__mode");
    lua_setmetatable(L, -2);    /* t */
  }
  lua_pushvalue(L, -1);
  lua_setfield(L, LUA_REGISTRYINDEX, key);
}


void ovrel_getfenv(lua_State *L, int idx) {
  engine_getenv(L, idx);        /* env */
  pushregtable(L, NOENV, false);  /* env noenv */
  bool removed = lua_rawequal(L, -1, -2);
  lua_pop(L, 1);
  if (removed) {
    lua_pop(L, 1);
    lua_pushnil(L);
  }
}


int ovrel_setfenv(lua_State *L, int idx) {
  idx = absindex(L, idx);
  if (lua_isnil(L, -1)) {
    lua_pop(L, 1);
    pushregtable(L, NOENV, false);
  } else if (!lua_istable(L, -1)) {
    lua_pop(L, 1);  /* only a table or nil can be an environment */
    return 0;
  }
  return engine_setenv(L, idx);
}


/* Sets (value on top) or clears (nil on top) the weak entry of object idx. */
static void setmark(lua_State *L, const char *table, int idx) {
  pushregtable(L, table, true);  /* v t */
  lua_pushvalue(L, idx);         /* v t obj */
  lua_pushvalue(L, -3);          /* v t obj v */
  lua_rawset(L, -3);             /* v t */
  lua_pop(L, 2);
}


void lua_setmetatabletoobject(lua_State *L, int idx, const char *tname,
                              int settype) {
  idx = absindex(L, idx);
  int t = lua_type(L, idx);
  /* The engine would give a number or string a metatable for its whole
  ** type; only a single object may get one here. */
  if (t != LUA_TUSERDATA && t != LUA_TTABLE) return;
  if (tname) {
    luaL_getmetatable(L, tname);
    if (!lua_istable(L, -1)) {
      lua_pop(L, 1);
      lua_pushnil(L);
    }
  } else {
    lua_pushnil(L);
  }
  lua_setmetatable(L, idx);
  if (settype || !tname) {
    if (tname)
      lua_pushstring(L, tname);
    else
      lua_pushnil(L);
    setmark(L, UTYPES, idx);
  }
}


int ovr_getutype(lua_State *L, int idx) {
  idx = absindex(L, idx);
  pushregtable(L, UTYPES, true);  /* t */
  lua_pushvalue(L, idx);
  lua_rawget(L, -2);              /* t name */
  lua_remove(L, -2);              /* name */
  if (lua_type(L, -1) == LUA_TSTRING) return 1;
  lua_pop(L, 1);
  return 0;
}


void ovr_udfreeze(lua_State *L, int idx, int freeze) {
  idx = absindex(L, idx);
  if (lua_type(L, idx) != LUA_TUSERDATA) return;
  if (freeze)
    lua_pushboolean(L, 1);
  else
    lua_pushnil(L);
  setmark(L, FROZEN, idx);
}


int ovr_udisfrozen(lua_State *L, int idx) {
  idx = absindex(L, idx);
  pushregtable(L, FROZEN, true);
  lua_pushvalue(L, idx);
  lua_rawget(L, -2);
  int frozen = lua_toboolean(L, -1);
  lua_pop(L, 2);
  return frozen;
}
