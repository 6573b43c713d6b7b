// ovrelrun.cpp: runs the script appended to the program's own file.
//
// main packs the command line into a table and makes one protected call of
// pmain, which finds and compiles the script (load) and calls it.  Errors the
// script raises pass msghandler, which adds a traceback; failures to find or
// read the script end the process at once through cannot and fatal, and so
// does a memory failure before the protected call, through panic.  Every
// failure is one report "progname: message" on stderr and exit status 1.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ovrel.h"
#include "reader.h"
#include "selfpath.h"
#include "srglue.h"

static const char *progname = "ovrelrun";


/* ------------------------------------------------------------------------
** Reports
** --------------------------------------------------------------------- */

[[noreturn]] static void fatal(const char *message) {
  fprintf(stderr, "%s: %s\n", progname, message);
  exit(EXIT_FAILURE);  /* flushes what the script wrote */
}


/* Only the missing-trailer report has a reason of its own; every other
** step reports what errno says. */
[[noreturn]] static void cannot(lua_State *L, const char *what, const char *name) {
  const char *reason = strncmp(what, "find", 4) == 0 ? "no glue" : strerror(errno);
  fatal(lua_pushfstring(L, "Cannot %s %s: %s.", what, name, reason));
}


/* Leaves debug.traceback(message, 2) on the top, or the stack as it was
** when the script has taken that function away. */
static void traceback(lua_State *L, const char *message) {
  lua_getfield(L, LUA_GLOBALSINDEX, "debug");  /* debug */
  if (lua_type(L, -1) != LUA_TTABLE) {
    lua_settop(L, -2);
    return;
  }
  lua_getfield(L, -1, "traceback");            /* debug traceback */
  if (lua_type(L, -1) != LUA_TFUNCTION) {
    lua_settop(L, -3);
    return;
  }
  lua_pushstring(L, message);                  /* debug traceback message */
  lua_pushinteger(L, 2);                       /* debug traceback message 2 */
  lua_call(L, 2, 1);                           /* debug result */
}


/* The text of the error object at index i: its own, or else, pushed, one
** that names its type. */
static const char *errortext(lua_State *L, int i) {
  const char *message = lua_tolstring(L, i, NULL);
  if (message != NULL) return message;
  return lua_pushfstring(L, "(error object is a %s value)", lua_typename(L, lua_type(L, i)));
}


/* A __tostring that yields a string is the whole report, untraced; any
** other error object without a text form is named by its type. */
static int msghandler(lua_State *L) {
  int text = lua_type(L, 1) == LUA_TSTRING || lua_type(L, 1) == LUA_TNUMBER;
  if (!text && luaL_callmeta(L, 1, "__tostring") && lua_type(L, -1) == LUA_TSTRING)
    return 1;                                  /* err text */
  const char *message = errortext(L, 1);
  traceback(L, message);
  return 1;
}


/* ------------------------------------------------------------------------
** Finding and compiling the script
** --------------------------------------------------------------------- */

/* Leaves the compiled script on the top, or ends the process.  The reports
** before the file is open name the program as it was started; the later
** ones name the file found. */
static void load(lua_State *L, const char *name) {
  char found[SELFPATH_MAX];
  memset(found, 0, sizeof found);
#if defined(_WIN32)
  /* Where the code page or the path limit keeps the search from the
  ** running program, its wide-character name opens it. */
  char *shown;
  FILE *f = selfopen(name, found, sizeof found, &shown);
  if (f == NULL) cannot(L, "open", name);
  const char *filename = shown != NULL ? shown : found;
#else
  if (!selfpath(name, found, sizeof found)) cannot(L, "open", name);
  FILE *f = fopen(found, "rb");
  if (f == NULL) cannot(L, "open", name);
  const char *filename = found;
#endif

  Glue glue;
  long trailer_at;
  switch (glue_find(f, &glue, &trailer_at)) {
    case GLUE_SEEK_FAILED: cannot(L, "seek", filename);
    case GLUE_READ_FAILED: cannot(L, "read", filename);
    case GLUE_MISSING: cannot(L, "find an Ovrel program in", filename);
    case GLUE_FOUND: break;
  }
  /* A script said to start beyond the trailer would be an empty chunk that
  ** runs and reports success for a damaged file: refuse it, as a start
  ** before the file, as a bad seek. */
  if (!glue_sound(&glue, trailer_at)) {
    errno = EINVAL;
    cannot(L, "seek", filename);
  }
  if (fseek(f, glue_get32(glue.size1), SEEK_SET) != 0) cannot(L, "seek", filename);
  /* The runtime's ovrel.app reads the files the program carries from
  ** this file where the system cannot name the running one. */
  lua_pushstring(L, found);
  lua_setfield(L, LUA_REGISTRYINDEX, OVREL_PROGRAM_KEY);

  State S;
  S.f = f;
  S.mem = NULL;
  S.size = glue_length(&glue);
  skipline(&S);
  if (lua_load(L, myget, &S, "=") != 0)      /* script, or message */
    fatal(lua_tolstring(L, -1, NULL));
  fclose(f);
#if defined(_WIN32)
  free(shown);
#endif
}


/* ------------------------------------------------------------------------
** Entry
** --------------------------------------------------------------------- */

/* Slots: 1 argc, 2 the argument table. */
static int pmain(lua_State *L) {
  int argc = (int)lua_tointeger(L, 1);
  luaL_openlibs(L);
  lua_rawgeti(L, 2, 0);                        /* argc args name */
  if (lua_type(L, -1) != LUA_TSTRING) cannot(L, "fetch environment", "");
  char *pname = ovr_tostring(L, -1);           /* outlives the stack slot */
  if (pname == NULL) {
    errno = ENOMEM;  /* a string that cannot be copied: out of memory */
    cannot(L, "fetch environment", "");
  }
  ovr_poptop(L);                               /* argc args */
  load(L, pname);                              /* argc args script */
  free(pname);
  lua_pushvalue(L, 2);                         /* argc args script args */
  lua_setfield(L, LUA_GLOBALSINDEX, "args");   /* argc args script */
  luaL_checkstack(L, argc - 1, "Too many arguments to script.");
  for (int i = 1; i < argc; i++)
    lua_rawgeti(L, 2, i);                      /* argc args script arg1..argn */
  lua_call(L, argc - 1, 0);
  return 0;
}


/* Output the system refused is a failure, as for any other program: the
** script's last writes are flushed and checked before success is reported.
** A write refused earlier may have left errno long since changed. */
static int checkoutput(void) {
  errno = 0;
  if (fflush(stdout) == 0 && !ferror(stdout)) return EXIT_SUCCESS;
  fprintf(stderr, "%s: Cannot write standard output: %s.\n", progname,
          strerror(errno != 0 ? errno : EIO));
  return EXIT_FAILURE;
}


/* The steps before the protected call can fail, for memory alone, where
** nothing catches the error: the runtime then calls this, and the report
** is the one every other failure gives. */
static int panic(lua_State *L) {
  const char *message = lua_tolstring(L, -1, NULL);
  fatal(message ? message : "not enough memory");
}


int main(int argc, char **argv) {
  if (argv[0] == NULL) fatal("Cannot locate this executable.");
  progname = argv[0];
  lua_State *L = luaL_newstate();
  if (L == NULL) fatal("Cannot create state: not enough memory.");
  lua_atpanic(L, panic);
  lua_pushcclosure(L, msghandler, 0);          /* msghandler */
  lua_pushcclosure(L, pmain, 0);               /* msghandler pmain */
  lua_pushinteger(L, argc);                    /* msghandler pmain argc */
  lua_createtable(L, argc, 0);                 /* msghandler pmain argc args */
  for (int i = 0; i < argc; i++) {
    lua_pushstring(L, argv[i]);
    lua_rawseti(L, -2, i);
  }
  if (lua_pcall(L, 2, 0, 1) != 0) {
    fatal(errortext(L, -1));  /* a replaced traceback may give no text */
  }
  lua_close(L);                                /* last __gc writes included */
  return checkoutput();
}
