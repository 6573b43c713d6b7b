/* ovrel.h: the runtime interface that the module and the launcher compile against.
**
** Everything a deliverable may call of the runtime is declared here and
** nowhere else.  On this stand-in the engine underneath is Lua 5.1: the
** operations whose meaning is the engine's own are the engine's functions,
** declared with their own signatures; those whose meaning differs, or that
** are the runtime's own, live in the stand-in library and are reached
** through the macros at the end of this file.
*/
#ifndef OVREL_H
#define OVREL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define OVREL_EXTERN_C extern "C"
#else
#define OVREL_EXTERN_C extern
#endif

#if defined(_WIN32)
#if defined(OVREL_BUILDING_STANDIN)
#define OVREL_API OVREL_EXTERN_C __declspec(dllexport)
#else
#define OVREL_API OVREL_EXTERN_C __declspec(dllimport)
#endif
#else
#define OVREL_API OVREL_EXTERN_C __attribute__((visibility("default")))
#endif


/* ------------------------------------------------------------------------
** The engine a build is for
** --------------------------------------------------------------------- */

/* OVREL_LUA is the engine as its LUA_VERSION_NUM: 501 (Lua 5.1, which
** LuaJIT also runs, and the default), 502, 503 or 504.  A build for any
** other engine names it through its package (ovrel-5.x.pc, the CMake
** package ovrel-5.x), and loads only in a process that runs that engine. */
#ifndef OVREL_LUA
#define OVREL_LUA 501
#endif
#if OVREL_LUA < 501 || OVREL_LUA > 504
#error "OVREL_LUA must be 501, 502, 503 or 504"
#endif

/* The engine's pseudo-indices.  On 5.1 the globals are -10002 as in the
** runtime, but upvalue n is -10002 - n (the runtime counts from -10003 for
** its first upvalue); from 5.2 on the globals are reached through
** lua_getglobal and lua_setglobal.  Always use lua_upvalueindex. */
#if OVREL_LUA == 501
#define OVREL_REGISTRYINDEX (-10000)
#define OVREL_GLOBALSINDEX (-10002)
#define OVREL_UPVALUEINDEX(i) (OVREL_GLOBALSINDEX - (i))
#else
#define OVREL_REGISTRYINDEX (-1000000 - 1000)
#define OVREL_UPVALUEINDEX(i) (OVREL_REGISTRYINDEX - (i))
#endif

/* Engine functions are weak references on ELF systems: a module loaded by
** another engine than its own then still loads, and the runtime refuses it
** with a clear error when it registers its functions, before anything of
** it runs (a strong reference would fail the load, naming only a symbol).
** A program that links the engine itself defines OVREL_LINKS_ENGINE: a
** linker that keeps only the libraries a program needs drops one that is
** referenced weakly. */
#if defined(__ELF__) && !defined(OVREL_LINKS_ENGINE)
#define OVREL_ENGINE_REF __attribute__((weak))
#else
#define OVREL_ENGINE_REF
#endif


/* ------------------------------------------------------------------------
** Value model: types, stack indices, type codes
** --------------------------------------------------------------------- */

#if defined(OVREL_BUILDING_STANDIN)
/* The stand-in itself sees the engine's declarations and codes. */
#include <lua.h>
#include <lauxlib.h>
#else

typedef struct lua_State lua_State;
typedef int (*lua_CFunction)(lua_State *L);
typedef const char *(*lua_Reader)(lua_State *L, void *data, size_t *size);
typedef double lua_Number;
#if OVREL_LUA >= 503
typedef long long lua_Integer;
typedef intptr_t lua_KContext;
typedef int (*lua_KFunction)(lua_State *L, int status, lua_KContext ctx);
#else
typedef ptrdiff_t lua_Integer;
#endif

typedef struct luaL_Reg {
  const char *name;
  lua_CFunction func;
} luaL_Reg;

#define LUA_REGISTRYINDEX OVREL_REGISTRYINDEX
#define lua_upvalueindex(i) OVREL_UPVALUEINDEX(i)
#if OVREL_LUA == 501
#define LUA_GLOBALSINDEX OVREL_GLOBALSINDEX
#endif

#define LUA_MULTRET (-1)

/* The runtime's type codes (lua_type, lua_typename). */
#define LUA_TNONE (-1)
#define LUA_TNIL 0
#define LUA_TBOOLEAN 1
#define LUA_TNUMBER 2
#define LUA_TLIGHTUSERDATA 3
#define LUA_TSTRING 4
#define LUA_TFUNCTION 5
#define LUA_TUSERDATA 6
#define LUA_TTHREAD 7
#define LUA_TTABLE 9

#define LUA_ENGINE_API OVREL_EXTERN_C OVREL_ENGINE_REF

/* Operations with the engine's own meaning. */
LUA_ENGINE_API lua_State *luaL_newstate(void);
LUA_ENGINE_API void luaL_openlibs(lua_State *L);
LUA_ENGINE_API void lua_close(lua_State *L);
/* What ends the process on an error no protected call catches: the
** launcher reports those as it reports every other failure. */
LUA_ENGINE_API lua_CFunction lua_atpanic(lua_State *L, lua_CFunction panicf);
LUA_ENGINE_API int lua_gettop(lua_State *L);
LUA_ENGINE_API void lua_settop(lua_State *L, int idx);
LUA_ENGINE_API void lua_pushvalue(lua_State *L, int idx);
LUA_ENGINE_API void lua_pushnil(lua_State *L);
LUA_ENGINE_API void lua_pushboolean(lua_State *L, int b);
LUA_ENGINE_API void lua_pushinteger(lua_State *L, lua_Integer n);
LUA_ENGINE_API void lua_pushnumber(lua_State *L, lua_Number n);
LUA_ENGINE_API void lua_pushcclosure(lua_State *L, lua_CFunction fn, int n);
LUA_ENGINE_API void lua_concat(lua_State *L, int n);
LUA_ENGINE_API const char *lua_tolstring(lua_State *L, int idx, size_t *len);
LUA_ENGINE_API void *lua_touserdata(lua_State *L, int idx);
LUA_ENGINE_API void lua_createtable(lua_State *L, int narr, int nrec);
LUA_ENGINE_API void lua_setfield(lua_State *L, int idx, const char *k);
LUA_ENGINE_API void lua_rawset(lua_State *L, int idx);

/* The same operations under each engine's own names and signatures. */
#if OVREL_LUA == 501
LUA_ENGINE_API void lua_pushstring(lua_State *L, const char *s);
LUA_ENGINE_API void lua_replace(lua_State *L, int idx);
LUA_ENGINE_API lua_Integer lua_tointeger(lua_State *L, int idx);
LUA_ENGINE_API void lua_getfield(lua_State *L, int idx, const char *k);
LUA_ENGINE_API void lua_rawgeti(lua_State *L, int idx, int n);
LUA_ENGINE_API void lua_rawseti(lua_State *L, int idx, int n);
LUA_ENGINE_API void *lua_newuserdata(lua_State *L, size_t size);
LUA_ENGINE_API void lua_call(lua_State *L, int nargs, int nresults);
LUA_ENGINE_API int lua_pcall(lua_State *L, int nargs, int nresults, int errfunc);
LUA_ENGINE_API int lua_load(lua_State *L, lua_Reader reader, void *data,
                            const char *chunkname);
#define lua_getglobal(L, k) lua_getfield(L, LUA_GLOBALSINDEX, (k))
#define lua_setglobal(L, k) lua_setfield(L, LUA_GLOBALSINDEX, (k))
#else
LUA_ENGINE_API const char *lua_pushstring(lua_State *L, const char *s);
LUA_ENGINE_API lua_Integer lua_tointegerx(lua_State *L, int idx, int *isnum);
#define lua_tointeger(L, i) lua_tointegerx(L, (i), NULL)
LUA_ENGINE_API void lua_setglobal(lua_State *L, const char *k);
LUA_ENGINE_API int lua_load(lua_State *L, lua_Reader reader, void *data,
                            const char *chunkname, const char *mode);
#define lua_load(L, r, d, n) lua_load(L, r, d, n, NULL)
#if OVREL_LUA == 502
LUA_ENGINE_API void lua_replace(lua_State *L, int idx);
LUA_ENGINE_API void lua_getfield(lua_State *L, int idx, const char *k);
LUA_ENGINE_API void lua_getglobal(lua_State *L, const char *k);
LUA_ENGINE_API void lua_rawgeti(lua_State *L, int idx, int n);
LUA_ENGINE_API void lua_rawseti(lua_State *L, int idx, int n);
LUA_ENGINE_API void *lua_newuserdata(lua_State *L, size_t size);
LUA_ENGINE_API void lua_callk(lua_State *L, int nargs, int nresults, int ctx,
                              lua_CFunction k);
LUA_ENGINE_API int lua_pcallk(lua_State *L, int nargs, int nresults, int errfunc,
                              int ctx, lua_CFunction k);
#else
LUA_ENGINE_API void lua_copy(lua_State *L, int from, int to);
#define lua_replace(L, idx) (lua_copy(L, -1, (idx)), lua_settop(L, -2))
LUA_ENGINE_API int lua_getfield(lua_State *L, int idx, const char *k);
LUA_ENGINE_API int lua_getglobal(lua_State *L, const char *k);
LUA_ENGINE_API int lua_rawgeti(lua_State *L, int idx, lua_Integer n);
LUA_ENGINE_API void lua_rawseti(lua_State *L, int idx, lua_Integer n);
LUA_ENGINE_API void lua_callk(lua_State *L, int nargs, int nresults,
                              lua_KContext ctx, lua_KFunction k);
LUA_ENGINE_API int lua_pcallk(lua_State *L, int nargs, int nresults, int errfunc,
                              lua_KContext ctx, lua_KFunction k);
#if OVREL_LUA == 503
LUA_ENGINE_API void *lua_newuserdata(lua_State *L, size_t size);
#else
/* Every userdata gets one user value: its environment. */
LUA_ENGINE_API void *lua_newuserdatauv(lua_State *L, size_t size, int nuvalue);
#define lua_newuserdata(L, s) lua_newuserdatauv(L, (s), 1)
#endif
#endif
#define lua_call(L, n, r) lua_callk(L, (n), (r), 0, NULL)
#define lua_pcall(L, n, r, f) lua_pcallk(L, (n), (r), (f), 0, NULL)
#endif
LUA_ENGINE_API void luaL_checkstack(lua_State *L, int sz, const char *msg);
LUA_ENGINE_API void *luaL_checkudata(lua_State *L, int ud, const char *tname);
LUA_ENGINE_API int luaL_newmetatable(lua_State *L, const char *tname);
LUA_ENGINE_API int luaL_callmeta(lua_State *L, int obj, const char *e);

#endif /* OVREL_BUILDING_STANDIN */


/* ------------------------------------------------------------------------
** Operations whose runtime meaning differs from the engine's
** --------------------------------------------------------------------- */

/* Type codes of the runtime (see the list above). */
OVREL_API int ovrel_type(lua_State *L, int idx);
OVREL_API const char *ovrel_typename(lua_State *L, int tp);

/* From Lua 5.3 on, a number with an integral value that an integer can
** hold exactly is pushed as an integer (-0 stays a float), so that keys and
** counts print and compare as the engine's own table keys do. */
OVREL_API void ovrel_pushnumber(lua_State *L, lua_Number n);

/* Formatting accepts %u besides everything the engine accepts. */
OVREL_API const char *ovrel_pushfstring(lua_State *L, const char *fmt, ...);
OVREL_API int ovrel_error(lua_State *L, const char *fmt, ...);

/* An environment can be removed (nil); reading a removed one gives nil. */
OVREL_API void ovrel_getfenv(lua_State *L, int idx);
OVREL_API int ovrel_setfenv(lua_State *L, int idx);

/* Registration also wires the runtime's event names to the engine's
** operators: __writeindex to index assignment, __size to the length.
** From Lua 5.2 on it also gives a library's own metatable (one registered
** under the library's name) its `iterate` as __pairs, and on 5.4 its __gc
** as __close.  A module built for another engine than the process runs is
** refused here, with an error that names both. */
OVREL_API void ovrel_register(lua_State *L, const char *libname,
                              const luaL_Reg *l);

/* The standard libraries, with the running program's folder on the module
** paths where the engine's Windows defaults have it, and the module
** "ovrel.app" preloaded: the program's own file and folder, and the files
** it carries. */
OVREL_API void ovrel_openlibs(lua_State *L);

/* The registry field where a launcher leaves the file it runs the program
** from (a string); ovrel.app takes it where the system cannot name the
** running file itself (Linux without /proc). */
#define OVREL_PROGRAM_KEY "ovrel.program"


/* ------------------------------------------------------------------------
** The runtime's own operations
** --------------------------------------------------------------------- */

OVREL_API void ovr_poptop(lua_State *L);
OVREL_API lua_Number ovr_tonumber(lua_State *L, int idx);
/* A heap copy (malloc) of the value's text, or null; the caller frees it. */
OVREL_API char *ovr_tostring(lua_State *L, int idx);
OVREL_API void ovr_rawsetfield(lua_State *L, int idx, const char *k);

OVREL_API lua_Number ovr_checknumber(lua_State *L, int idx);
OVREL_API const char *ovr_checkstring(lua_State *L, int idx);
OVREL_API const char *ovr_checklstring(lua_State *L, int idx, size_t *len);
OVREL_API int ovr_checknonnegint(lua_State *L, int idx);
OVREL_API int ovrL_optposint(lua_State *L, int idx, int def);
OVREL_API int ovrL_optboolean(lua_State *L, int idx, int def);

/* tname null removes both metatable and user type name. */
OVREL_API void lua_setmetatabletoobject(lua_State *L, int idx,
                                        const char *tname, int settype);
OVREL_API int ovr_getutype(lua_State *L, int idx);
OVREL_API void ovr_udfreeze(lua_State *L, int idx, int freeze);
OVREL_API int ovr_udisfrozen(lua_State *L, int idx);

OVREL_API uint32_t tools_nextpow2u32(uint32_t n);


#if !defined(OVREL_BUILDING_STANDIN)
#define lua_type ovrel_type
#define lua_typename ovrel_typename
#define lua_pushfstring ovrel_pushfstring
#define luaL_error ovrel_error
#define lua_getfenv ovrel_getfenv
#define lua_setfenv ovrel_setfenv
#define luaL_register ovrel_register
#define luaL_openlibs ovrel_openlibs
#if OVREL_LUA >= 503
#define lua_pushnumber ovrel_pushnumber
#endif
#endif

#endif /* OVREL_H */
