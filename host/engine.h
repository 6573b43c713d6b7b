// engine.h: what differs between the Lua engines the runtime builds for.
//
// Every file of the runtime includes this instead of ovrel.h, and writes
// 5.1's API: the few operations that differ on a later engine are mapped
// here, and only here.
#ifndef OVREL_HOST_ENGINE_H
#define OVREL_HOST_ENGINE_H

#include "ovrel.h"

#include <lualib.h>
#include <math.h>

/* Every engine function the runtime calls, on any engine, is a weak
** reference (as in ovrel.h for modules): under another engine the library
** still loads, and engine_require refuses it by name.  A name missing here
** makes a strong reference, which the engine stage's check reports. */
#if defined(__ELF__)
#pragma weak luaL_addlstring
#pragma weak luaL_addstring
#pragma weak luaL_addvalue
#pragma weak luaL_argerror
#pragma weak luaL_buffinit
#pragma weak luaL_checklstring
#pragma weak luaL_checkoption
#pragma weak luaL_checkstack
#pragma weak luaL_checkudata
#pragma weak luaL_error
#pragma weak luaL_gsub
#pragma weak luaL_newmetatable
#pragma weak luaL_openlibs
#pragma weak luaL_optinteger
#pragma weak luaL_prepbuffer
#pragma weak luaL_prepbuffsize
#pragma weak luaL_pushresult
#pragma weak luaL_ref
#pragma weak luaL_register
#pragma weak luaL_setfuncs
#pragma weak luaL_typerror
#pragma weak luaL_unref
#pragma weak luaL_where
#pragma weak lua_call
#pragma weak lua_callk
#pragma weak lua_concat
#pragma weak lua_copy
#pragma weak lua_createtable
#pragma weak lua_error
#pragma weak lua_getfenv
#pragma weak lua_getfield
#pragma weak lua_getiuservalue
#pragma weak lua_gettop
#pragma weak lua_getuservalue
#pragma weak lua_insert
#pragma weak lua_newuserdata
#pragma weak lua_newuserdatauv
#pragma weak lua_objlen
#pragma weak lua_pushboolean
#pragma weak lua_pushcclosure
#pragma weak lua_pushfstring
#pragma weak lua_pushinteger
#pragma weak lua_pushlstring
#pragma weak lua_pushnil
#pragma weak lua_pushnumber
#pragma weak lua_pushstring
#pragma weak lua_pushvalue
#pragma weak lua_rawequal
#pragma weak lua_rawget
#pragma weak lua_rawgeti
#pragma weak lua_rawlen
#pragma weak lua_rawset
#pragma weak lua_rawseti
#pragma weak lua_remove
#pragma weak lua_replace
#pragma weak lua_rotate
#pragma weak lua_setfenv
#pragma weak lua_setfield
#pragma weak lua_setglobal
#pragma weak lua_setiuservalue
#pragma weak lua_setmetatable
#pragma weak lua_settop
#pragma weak lua_setuservalue
#pragma weak lua_toboolean
#pragma weak lua_tointeger
#pragma weak lua_tointegerx
#pragma weak lua_tolstring
#pragma weak lua_tonumber
#pragma weak lua_tonumberx
#pragma weak lua_touserdata
#pragma weak lua_type
#pragma weak lua_typename
#endif

static_assert(OVREL_LUA == LUA_VERSION_NUM, "OVREL_LUA names another engine than these headers");
static_assert(OVREL_REGISTRYINDEX == LUA_REGISTRYINDEX, "the registry index is the engine's");
static_assert(OVREL_UPVALUEINDEX(1) == lua_upvalueindex(1) &&
                  OVREL_UPVALUEINDEX(255) == lua_upvalueindex(255),
              "upvalue indices are the engine's");
#if OVREL_LUA == 501
static_assert(OVREL_GLOBALSINDEX == LUA_GLOBALSINDEX, "the globals index is the engine's");
#endif

/* Variables closed at the end of their scope (5.4), which the runtime maps
** onto release. */
#define ENGINE_CLOSE (OVREL_LUA >= 504)

/* Raises an error in L's engine, whichever it is, unless it is the one
** this runtime was built for.  Uses only operations that every engine
** has, with one meaning and one calling convention.  On Windows the
** runtime's DLL holds its engine, so no other can be there. */
#if defined(_WIN32)
static inline void engine_require(lua_State *) {}
#else
void engine_require(lua_State *L);
#endif

#if OVREL_LUA == 501

/* An object's environment: pushes it (nil for one without), or sets it
** from the value on top, which is popped; 0 when the object has none. */
#define engine_getenv lua_getfenv
#define engine_setenv lua_setfenv

/* Gives the metatable of library libname's objects what pairs() asks of
** it, on engines that ask. */
static inline void engine_wirepairs(lua_State *, const char *) {}

#else

/* A userdata's environment is its (first) user value; other objects have
** none on these engines. */
static inline void engine_getenv(lua_State *L, int idx) {
  if (lua_type(L, idx) != LUA_TUSERDATA) {
    lua_pushnil(L);
    return;
  }
#if OVREL_LUA >= 504
  lua_getiuservalue(L, idx, 1);
#else
  lua_getuservalue(L, idx);
#endif
}

static inline int engine_setenv(lua_State *L, int idx) {
  if (lua_type(L, idx) != LUA_TUSERDATA) {
    lua_settop(L, -2);
    return 0;
  }
#if OVREL_LUA >= 504
  return lua_setiuservalue(L, idx, 1);
#else
  lua_setuservalue(L, idx);
  return 1;
#endif
}

#define lua_objlen lua_rawlen

static inline void engine_wirepairs(lua_State *L, const char *libname) {
  if (libname == NULL) return;
  luaL_getmetatable(L, libname);     /* lib mt */
  lua_getfield(L, -2, "iterate");    /* lib mt iterate */
  if (lua_istable(L, -2) && lua_isfunction(L, -1)) {
    lua_getfield(L, -2, "__pairs");  /* lib mt iterate pairs */
    if (lua_isnil(L, -1)) {
      lua_pushvalue(L, -2);
      lua_setfield(L, -4, "__pairs");
    }
    lua_pop(L, 1);
  }
  lua_pop(L, 2);
}

/* 5.1's wording: "number expected, got string". */
static inline int luaL_typerror(lua_State *L, int narg, const char *tname) {
  return luaL_argerror(L, narg, lua_pushfstring(L, "%s expected, got %s", tname,
                                                luaL_typename(L, narg)));
}

/* 5.1's registration: the functions go into the table on top, or, given
** a name, into package.loaded[name], made where it does not exist yet and
** set as the global of that name; that table is left on top. */
static inline void engine_register(lua_State *L, const char *libname, const luaL_Reg *l) {
  if (libname != NULL) {
    lua_getfield(L, LUA_REGISTRYINDEX, "_LOADED");  /* loaded */
    lua_getfield(L, -1, libname);                    /* loaded lib */
    if (!lua_istable(L, -1)) {
      lua_pop(L, 1);
      lua_newtable(L);
      lua_pushvalue(L, -1);
      lua_setfield(L, -3, libname);
    }
    lua_remove(L, -2);                               /* lib */
    lua_pushvalue(L, -1);
    lua_setglobal(L, libname);
  }
  luaL_setfuncs(L, l, 0);
}
#define luaL_register engine_register

/* The module search paths: their variables, which the engine reads in
** this order, and the characters of its templates. */
#define LUA_PATH_VARS {"LUA_PATH_" OVREL_LUA_SUFFIX, "LUA_PATH"}
#define LUA_CPATH_VARS {"LUA_CPATH_" OVREL_LUA_SUFFIX, "LUA_CPATH"}
#define OVREL_LUA_SUFFIX LUA_VERSION_MAJOR "_" LUA_VERSION_MINOR
#ifndef LUA_PATHSEP
#define LUA_PATHSEP ";"
#endif
#ifndef LUA_EXECDIR
#define LUA_EXECDIR "!"
#endif

#endif /* OVREL_LUA != 501 */

#if OVREL_LUA == 501
#define LUA_PATH_VARS {LUA_PATH}
#define LUA_CPATH_VARS {LUA_CPATH}
#endif

/* Pushes n as the engine's own number; from 5.3 on an integral value
** that an integer holds exactly is an integer (-0 stays a float).  The
** range test also turns away NaN; 2^63 itself is out of range. */
#if OVREL_LUA >= 503
static inline void engine_pushnumber(lua_State *L, lua_Number n) {
  if (n == floor(n) && n >= -0x1p63 && n < 0x1p63 && !(n == 0 && signbit(n)))
    lua_pushinteger(L, (lua_Integer)n);
  else
    lua_pushnumber(L, n);
}
#else
#define engine_pushnumber lua_pushnumber
#endif

/* Functions that the engine this runtime is built for has and the others
** lack (or have with another meaning).  The runtime's references to them
** are weak, as all its engine references, so they are null elsewhere. */
#if OVREL_LUA == 501
#define ENGINE_OWN {(void *)&lua_setfenv, (void *)&lua_objlen}
#elif OVREL_LUA == 502
#define ENGINE_OWN {(void *)&lua_callk, (void *)&lua_insert}
#elif OVREL_LUA == 503
#define ENGINE_OWN {(void *)&lua_rotate, (void *)&lua_newuserdata}
#else
#define ENGINE_OWN {(void *)&lua_newuserdatauv}
#endif

#endif
