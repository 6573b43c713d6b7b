// checks.cpp: the runtime's argument checkers, strict about types.
#include "engine.h"

#include <limits.h>
#include <math.h>

/* Unlike the engine's own checkers these never convert: a number is not a
** string and a string is not a number.  Errors use the engine's wording,
** "bad argument #2 to 'include' (number expected, got string)". */

lua_Number ovr_checknumber(lua_State *L, int idx) {
  if (lua_type(L, idx) != LUA_TNUMBER) luaL_typerror(L, idx, "number");
  return lua_tonumber(L, idx);
}


const char *ovr_checklstring(lua_State *L, int idx, size_t *len) {
  if (lua_type(L, idx) != LUA_TSTRING) luaL_typerror(L, idx, "string");
  return lua_tolstring(L, idx, len);
}


const char *ovr_checkstring(lua_State *L, int idx) {
  return ovr_checklstring(L, idx, nullptr);
}


/* An integral number in [lo, INT_MAX], else an argument error naming what. */
static int checkint(lua_State *L, int idx, int lo, const char *what) {
  if (lua_type(L, idx) != LUA_TNUMBER) luaL_typerror(L, idx, "number");
  lua_Number v = lua_tonumber(L, idx);
  if (!(v >= lo && v <= INT_MAX && v == floor(v))) luaL_argerror(L, idx, what);
  return (int)v;
}


int ovr_checknonnegint(lua_State *L, int idx) {
  return checkint(L, idx, 0, "non-negative integer expected");
}


int ovrL_optposint(lua_State *L, int idx, int def) {
  if (lua_isnoneornil(L, idx)) return def;
  return checkint(L, idx, 1, "positive integer expected");
}


int ovrL_optboolean(lua_State *L, int idx, int def) {
  if (lua_isnoneornil(L, idx)) return def;
  if (lua_type(L, idx) != LUA_TBOOLEAN) luaL_typerror(L, idx, "boolean");
  return lua_toboolean(L, idx);
}
