// values.cpp: type codes, conversions, raw stores and registration.
#include "engine.h"
#include "stack.h"

#include <stdlib.h>
#include <string.h>

/* The runtime numbers its types differently from the engine. */
static const int to_runtime[] = {
    /* LUA_TNIL */ 0,      /* LUA_TBOOLEAN */ 1, /* LUA_TLIGHTUSERDATA */ 3,
    /* LUA_TNUMBER */ 2,   /* LUA_TSTRING */ 4,  /* LUA_TTABLE */ 9,
    /* LUA_TFUNCTION */ 5, /* LUA_TUSERDATA */ 6, /* LUA_TTHREAD */ 7,
};


int ovrel_type(lua_State *L, int idx) {
  int t = lua_type(L, idx);
  return t == LUA_TNONE ? -1 : to_runtime[t];
}


const char *ovrel_typename(lua_State *L, int tp) {
  for (int t = 0; t < (int)(sizeof to_runtime / sizeof to_runtime[0]); t++)
    if (to_runtime[t] == tp) return lua_typename(L, t);
  return tp == -1 ? "no value" : "?";
}


void ovr_poptop(lua_State *L) { lua_pop(L, 1); }


lua_Number ovr_tonumber(lua_State *L, int idx) { return lua_tonumber(L, idx); }


char *ovr_tostring(lua_State *L, int idx) {
  int t = lua_type(L, idx);
  if (t != LUA_TSTRING && t != LUA_TNUMBER) return nullptr;
  lua_pushvalue(L, idx);  /* converting a copy leaves the slot itself alone */
  size_t len;
  const char *s = lua_tolstring(L, -1, &len);
  char *copy = (char *)malloc(len + 1);
  if (copy) memcpy(copy, s, len + 1);
  lua_pop(L, 1);
  return copy;
}


void ovr_rawsetfield(lua_State *L, int idx, const char *k) {
  idx = absindex(L, idx);
  lua_pushstring(L, k);   /* value key */
  lua_insert(L, -2);      /* key value */
  lua_rawset(L, idx);
}


void ovrel_pushnumber(lua_State *L, lua_Number n) { engine_pushnumber(L, n); }


/* The runtime's event names that the engine has an operator for under
** another name; both fields then hold the one function.  On an engine
** that closes variables at the end of their scope, closing one releases it. */
static const char *const event_alias[][2] = {
    {"__writeindex", "__newindex"},
    {"__size", "__len"},
    {"__gc", ENGINE_CLOSE ? "__close" : nullptr},
};


void ovrel_register(lua_State *L, const char *libname, const luaL_Reg *l) {
  engine_require(L);
  luaL_register(L, libname, l);
  for (const auto &alias : event_alias) {
    if (alias[1] == nullptr) continue;
    lua_getfield(L, -1, alias[0]);
    if (lua_isnil(L, -1))
      lua_pop(L, 1);
    else
      lua_setfield(L, -2, alias[1]);
  }
  /* pairs() walks a library's objects with its iterate */
  engine_wirepairs(L, libname);
}


uint32_t tools_nextpow2u32(uint32_t n) {
  n--;
  n |= n >> 1;
  n |= n >> 2;
  n |= n >> 4;
  n |= n >> 8;
  n |= n >> 16;
  return n + 1;
}
