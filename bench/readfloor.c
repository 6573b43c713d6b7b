/* readfloor.c: the least a native map read can do, for the read benchmark.
**
**   local floor = require "readfloor"
**   local f = floor.new(n, scale)     -- n slots; key k reads slot k*scale - 1
**   floor.set(f, i, s)                -- slot i (1..n) holds a heap copy of s
**   v = f[k]
**
** A read is what every native map read must do and nothing more: the call
** through __index, the check that the object is one of ours, one slot load
** and a fresh copy of the slot's string pushed.  No hash, no probe, no key
** compare: the slot is the key scaled, which only keys made for it allow.
** Symbols come from the interpreter. */
#include <stdlib.h>
#include <string.h>

#include <lauxlib.h>
#include <lua.h>

#define FLOOR_TYPE "readfloor"

typedef struct Floor {
  size_t n;
  double scale;
  char **slots;
} Floor;


static int get(lua_State *L) {
  Floor *f = (Floor *)luaL_checkudata(L, 1, FLOOR_TYPE);
  size_t i = (size_t)(lua_tonumber(L, 2) * f->scale) - 1;
  if (i >= f->n || f->slots[i] == NULL) return 0;
  lua_pushstring(L, f->slots[i]);
  return 1;
}


static int set(lua_State *L) {
  Floor *f = (Floor *)luaL_checkudata(L, 1, FLOOR_TYPE);
  size_t i = (size_t)luaL_checkinteger(L, 2) - 1;
  const char *s = luaL_checkstring(L, 3);
  luaL_argcheck(L, i < f->n, 2, "slot out of range");
  char *copy = (char *)malloc(strlen(s) + 1);
  if (copy == NULL) return luaL_error(L, "not enough memory");
  free(f->slots[i]);
  f->slots[i] = strcpy(copy, s);
  return 0;
}


static int release(lua_State *L) {
  Floor *f = (Floor *)luaL_checkudata(L, 1, FLOOR_TYPE);
  if (f->slots) {
    for (size_t i = 0; i < f->n; i++) free(f->slots[i]);
    free(f->slots);
    f->slots = NULL;
    f->n = 0;
  }
  return 0;
}


static int new_floor(lua_State *L) {
  size_t n = (size_t)luaL_checkinteger(L, 1);
  double scale = luaL_checknumber(L, 2);
  Floor *f = (Floor *)lua_newuserdata(L, sizeof *f);
  f->n = 0;
  f->scale = scale;
  f->slots = NULL;
  luaL_getmetatable(L, FLOOR_TYPE);
  lua_setmetatable(L, -2);
  f->slots = (char **)calloc(n ? n : 1, sizeof *f->slots);
  if (f->slots == NULL) return luaL_error(L, "not enough memory");
  f->n = n;
  return 1;
}


static const luaL_Reg functions[] = {
    {"new", new_floor},
    {"set", set},
    {NULL, NULL},
};


int luaopen_readfloor(lua_State *L) {
  luaL_newmetatable(L, FLOOR_TYPE);
  lua_pushcfunction(L, get);
  lua_setfield(L, -2, "__index");
  lua_pushcfunction(L, release);
  lua_setfield(L, -2, "__gc");
  lua_pop(L, 1);
  lua_createtable(L, 0, 2);
  luaL_register(L, NULL, functions);
  return 1;
}
