// ovrel_lua.cpp: a minimal interpreter that runs one script file, for tests.
//
// Runs "ovrel_lua script [args]" as the stock interpreter runs
// "lua5.1 script [args]": all standard libraries, package.path and cpath
// from LUA_PATH and LUA_CPATH, the global `arg` (script at 0, its arguments
// from 1, the program at -1), the arguments also passed as `...`, errors
// reported with a traceback on stderr and exit status 1.  It exists because
// a module built with sanitizers can only be loaded into a process that
// carries the sanitizer runtime, which this program does when it is built
// in the same configuration.
#include <stdio.h>
#include <stdlib.h>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

static const char *progname = "ovrel_lua";

/* Kept in a global so that a leak checker run at exit() (os.exit) still
** sees the state as reachable. */
static lua_State *globalL = nullptr;


struct Args {
  int argc;
  char **argv;
};


static void report(const char *msg) {
  fprintf(stderr, "%s: %s\n", progname, msg);
  fflush(stderr);
}


/* Message handler: the message with a traceback, as debug.traceback makes it. */
static int traceback(lua_State *L) {
  if (!lua_isstring(L, 1)) return 1;  /* keep a non-string error object */
  lua_getfield(L, LUA_GLOBALSINDEX, "debug");  /* msg debug */
  if (!lua_istable(L, -1)) {
    lua_pop(L, 1);
    return 1;
  }
  lua_getfield(L, -1, "traceback");  /* msg debug tb */
  if (!lua_isfunction(L, -1)) {
    lua_pop(L, 2);
    return 1;
  }
  lua_pushvalue(L, 1);    /* msg debug tb msg */
  lua_pushinteger(L, 2);  /* msg debug tb msg 2 */
  lua_call(L, 2, 1);      /* msg debug trace */
  return 1;
}


/* The global `arg`: the script at 0, its arguments from 1, the program at -1. */
static void setargs(lua_State *L, const Args *a) {
  lua_createtable(L, a->argc - 2, 2);  /* arg */
  for (int i = 0; i < a->argc; i++) {
    lua_pushstring(L, a->argv[i]);     /* arg s */
    lua_rawseti(L, -2, i - 1);         /* arg */
  }
  lua_setfield(L, LUA_GLOBALSINDEX, "arg");
}


static int pmain(lua_State *L) {
  const Args *a = (const Args *)lua_touserdata(L, 1);
  lua_gc(L, LUA_GCSTOP, 0);  /* as the stock interpreter: no collection while opening */
  luaL_openlibs(L);
  lua_gc(L, LUA_GCRESTART, 0);
  setargs(L, a);
  lua_pushcfunction(L, traceback);  /* a tb */
  if (luaL_loadfile(L, a->argv[1]) != 0) lua_error(L);  /* a tb chunk */
  int nargs = a->argc - 2;
  luaL_checkstack(L, nargs, "too many arguments to script");
  for (int i = 2; i < a->argc; i++) lua_pushstring(L, a->argv[i]);  /* a tb chunk ... */
  if (lua_pcall(L, nargs, 0, 2) != 0) lua_error(L);  /* message already has its traceback */
  return 0;
}


int main(int argc, char **argv) {
  if (argv[0] && argv[0][0]) progname = argv[0];
  if (argc < 2) {
    fprintf(stderr, "usage: %s script [args]\n", progname);
    return 1;
  }
  lua_State *L = luaL_newstate();
  if (!L) {
    report("cannot create state: not enough memory");
    return 1;
  }
  globalL = L;
  Args a = {argc, argv};
  int status = lua_cpcall(L, pmain, &a);
  if (status != 0) {
    const char *msg = lua_tostring(L, -1);
    report(msg ? msg : "(error object is not a string)");
  }
  lua_close(L);
  globalL = nullptr;
  return status == 0 ? 0 : 1;
}
