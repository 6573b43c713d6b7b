// app.cpp: the module "ovrel.app": the running program's own file and
// folder, and the files it carries.
//
// A program started through PATH has as its arg[0] the name as typed, so
// a folder derived from it is the current one, where anyone may plant
// files.  The system's name for the running file is the only sound one;
// the programs that ovrelglue makes also take their module folder from it.
//
// The runtime preloads this module for every program, and its files are
// those the program carries (srdata.h), read from the program's own file
// and never from a folder: the index once, when first asked, then each
// file when it is read, so that what a program carries costs nothing until
// it is used and a read costs that file's bytes.  The same source built
// with OVREL_APP_UNGLUED is the module that the stock interpreter loads
// (ovrel/app.so): there the program is the script, and its files are read
// from the disk below the script's folder, so that a program can be run
// and tested before it is glued.  Both give the same answers for the same
// names; only app.files() differs, as it must: unglued, it lists every
// file below the script's folder that --include of that folder would
// carry.
#include "app.h"

#include "appfile.h"
#include "engine.h"
#include "srdata.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <lualib.h>

#if defined(_WIN32)
/* The program's own file in UTF-8, pushed, and a file opened by such a
** name (lwinpath.c). */
extern "C" const char *luai_pushprogpath(lua_State *L);
extern "C" FILE *luai_fopen(const char *name, const char *mode);
#define DIRSEP '\\'
#else
#include <dirent.h>
#include <limits.h>
#include <unistd.h>
#include "ownfile.h"
#define DIRSEP '/'
#endif

#if !defined(_WIN32) && !defined(OVREL_APP_UNGLUED)
#include <sys/mman.h>
#include <sys/sendfile.h>
#endif

/* Upvalue 1 of every function: the module's state, a table with "dir" (the
** folder unglued), and once the index is read, "data" and "native" (name
** -> {offset, size}), "names" (the included names in order), "error" (why
** there are none) and "fds" (a carried library's name -> the path it is
** loaded by). */
#define STATE lua_upvalueindex(1)


/* ------------------------------------------------------------------------
** The program's own file
** --------------------------------------------------------------------- */

const char *app_pushpath(lua_State *L) {
#if defined(_WIN32)
  return luai_pushprogpath(L);
#else
  char buff[PATH_MAX];
  if (ownfile_name(buff, sizeof buff) != 0) {
    lua_pushstring(L, buff);
    return lua_tostring(L, -1);
  }
  lua_getfield(L, LUA_REGISTRYINDEX, OVREL_PROGRAM_KEY);
  if (lua_type(L, -1) == LUA_TSTRING && lua_tostring(L, -1)[0] == '/') return lua_tostring(L, -1);
  lua_settop(L, -2);
  return NULL;
#endif
}


/* Sets t.path and t.dir (t on the top) from the path on the top, popped. */
static void setpath(lua_State *L) {
  const char *path = lua_tostring(L, -1);
  const char *slash = strrchr(path, DIRSEP);
  lua_pushlstring(L, path, slash == path ? 1 : (size_t)(slash - path));  /* "/" for the root */
  lua_setfield(L, -3, "dir");
  lua_setfield(L, -2, "path");
}


/* A name of a carried file: a relative path, "/" between parts that are
** neither empty, "." nor "..", without "\" or ":".  The tool takes no
** other, and unglued no other leads outside the script's folder. */
static int goodname(const char *name, size_t len) {
  if (len == 0 || memchr(name, '\\', len) != NULL || memchr(name, ':', len) != NULL ||
      strlen(name) != len)
    return 0;
  const char *p = name, *end = name + len;
  while (p <= end) {
    const char *q = (const char *)memchr(p, '/', (size_t)(end - p));
    if (q == NULL) q = end;
    size_t n = (size_t)(q - p);
    if (n == 0 || (n == 1 && p[0] == '.') || (n == 2 && p[0] == '.' && p[1] == '.')) return 0;
    p = q + 1;
  }
  return 1;
}


static int notincluded(lua_State *L, const char *name) {
  lua_pushnil(L);
  lua_pushfstring(L, "no included file \"%s\"", name);
  return 2;
}


/* Argument 1, a name; NULL when it is none a program can carry. */
static const char *checkname(lua_State *L) {
  size_t len;
  const char *name = luaL_checklstring(L, 1, &len);
  return goodname(name, len) ? name : NULL;
}


#if !defined(_WIN32) || defined(OVREL_APP_UNGLUED)
/* Calls package.loadlib(path on the top, sym) and returns what it gives. */
static int packageloadlib(lua_State *L, const char *sym) {
  lua_getfield(L, LUA_REGISTRYINDEX, "_LOADED");
  lua_getfield(L, -1, LUA_LOADLIBNAME);                   /* path _LOADED package */
  if (lua_type(L, -1) != LUA_TTABLE) return luaL_error(L, "the package library is not open");
  lua_getfield(L, -1, "loadlib");                         /* path _LOADED package loadlib */
  lua_pushvalue(L, -4);
  lua_pushstring(L, sym);                                 /* ... loadlib path sym */
  int base = lua_gettop(L) - 3;
  lua_call(L, 2, LUA_MULTRET);
  return lua_gettop(L) - base;
}
#endif


#if !defined(OVREL_APP_UNGLUED)
/* ------------------------------------------------------------------------
** Glued: the files the program carries
** --------------------------------------------------------------------- */

static FILE *openself(lua_State *L) {
#if defined(_WIN32)
  const char *path = luai_pushprogpath(L);
  FILE *f = path != NULL ? luai_fopen(path, "rb") : NULL;
  if (path != NULL) lua_settop(L, -2);
  return f;
#else
  /* The running file itself, even where a new one has taken its name;
  ** without /proc, the file the launcher runs the program from. */
  FILE *f = fopen(OWNFILE_LINK, "rb");
  if (f != NULL) return f;
  const char *path = app_pushpath(L);
  if (path == NULL) return NULL;
  f = fopen(path, "rb");
  lua_settop(L, -2);
  return f;
#endif
}


/* Reads size bytes at offset at of the program into buff; 1 when all
** were read. */
static int readat(lua_State *L, long at, void *buff, size_t size) {
  FILE *f = openself(L);
  if (f == NULL) return 0;
  int read = fseek(f, at, SEEK_SET) == 0 && fread(buff, 1, size, f) == size;
  fclose(f);
  return read;
}


static void seterror(lua_State *L, int state, const char *message) {
  lua_pushstring(L, message);
  lua_setfield(L, state, "error");
}


/* Fills the state at index state from the program's index: a program
** without one carries nothing. */
static void readindex(lua_State *L, int state) {
  lua_newtable(L);
  lua_setfield(L, state, "data");
  lua_newtable(L);
  lua_setfield(L, state, "native");
  lua_newtable(L);
  lua_setfield(L, state, "names");
  lua_newtable(L);
  lua_setfield(L, state, "fds");
  FILE *f = openself(L);
  if (f == NULL) return seterror(L, state, "cannot open the program's own file");
  Glue glue;
  long at;
  DataSpan span;
  int found = glue_find(f, &glue, &at) == GLUE_FOUND ? data_locate(f, &glue, &span) : 0;
  fclose(f);
  if (found == 0) return;
  if (found < 0) return seterror(L, state, "the index of the program's files is damaged");
  unsigned char *index = (unsigned char *)lua_newuserdata(L, span.size);  /* index */
  if (!readat(L, (long)span.index, index, span.size)) {
    lua_settop(L, -2);
    return seterror(L, state, "cannot read the index of the program's files");
  }
  lua_getfield(L, state, "names");                        /* index names */
  size_t pos = 0;
  DataEntry e;
  int step;
  while ((step = data_next(index, span.size, span.length, &pos, &e)) > 0) {
    lua_getfield(L, state, e.kind == DATA_NATIVE ? "native" : "data");  /* index names kind */
    lua_pushlstring(L, e.name, e.namelen);                /* index names kind name */
    lua_createtable(L, 2, 0);
    lua_pushnumber(L, (lua_Number)span.files + e.offset);
    lua_rawseti(L, -2, 1);
    lua_pushnumber(L, (lua_Number)e.size);
    lua_rawseti(L, -2, 2);                                /* index names kind name {at, size} */
    lua_rawset(L, -3);
    lua_settop(L, -2);
    if (e.kind == DATA_FILE) {
      lua_pushlstring(L, e.name, e.namelen);
      lua_rawseti(L, -2, (int)lua_objlen(L, -2) + 1);
    }
  }
  lua_settop(L, -3);
  if (step < 0) seterror(L, state, "the index of the program's files is damaged");
}


/* Pushes the state, its index read. */
static void state(lua_State *L) {
  lua_pushvalue(L, STATE);
  lua_getfield(L, -1, "data");
  int known = lua_type(L, -1) == LUA_TTABLE;
  lua_settop(L, -2);
  if (!known) readindex(L, lua_gettop(L));
}


/* Finds name among the files of a kind: leaves {offset, size} on the top,
** or returns nonzero with nil and a message pushed. */
static int lookup(lua_State *L, const char *kind, const char *name) {
  state(L);                                               /* state */
  lua_getfield(L, -1, "error");
  if (!lua_isnil(L, -1)) {
    lua_pushnil(L);
    lua_insert(L, -2);
    return 1;
  }
  lua_settop(L, -2);
  lua_getfield(L, -1, kind);
  lua_getfield(L, -1, name);                              /* state kinds entry */
  if (lua_type(L, -1) != LUA_TTABLE) return notincluded(L, name);
  return 0;
}


/* Pushes the bytes of the entry on the top, or nil and a message; the
** buffer is the runtime's, so nothing leaks should a push fail. */
static int pushbytes(lua_State *L, const char *name) {
  lua_rawgeti(L, -1, 1);
  lua_rawgeti(L, -2, 2);
  long at = (long)lua_tonumber(L, -2);
  size_t size = (size_t)lua_tonumber(L, -1);
  char *buff = (char *)lua_newuserdata(L, size > 0 ? size : 1);  /* ... buffer */
  if (!readat(L, at, buff, size)) {
    lua_pushnil(L);
    lua_pushfstring(L, "cannot read included file \"%s\" from the program", name);
    return 2;
  }
  lua_pushlstring(L, buff, size);
  return 1;
}


static int readfile(lua_State *L, const char *name) {
  if (lookup(L, "data", name)) return 2;
  return pushbytes(L, name);
}


#if defined(_WIN32)
/* Windows loads a library only from a file of its own, so a program
** carries none (the tool refuses --onefile there). */
static int apploadlib(lua_State *L) {
  luaL_checkstring(L, 1);
  luaL_checkstring(L, 2);
  return notincluded(L, lua_tostring(L, 1));
}
#else
/* Copies size bytes at offset at of the program into an anonymous file in
** memory, and gives its descriptor, or -1.  The descriptor stays open as
** long as the process does: the loader knows a library by its path, and
** a path /proc/self/fd/N that named another file before would make it
** take the new library for the old. */
static int memoryfile(FILE *f, const char *name, long at, size_t size) {
  int fd = memfd_create(name, MFD_CLOEXEC);
  off_t from = at;
  ssize_t n = 1;
  while (fd >= 0 && size > 0 && (n = sendfile(fd, fileno(f), &from, size)) > 0) size -= (size_t)n;
  if (fd >= 0 && n <= 0) {
    close(fd);
    return -1;
  }
  return fd;
}


/* package.loadlib's answer to a library it cannot open. */
static int cannotload(lua_State *L, const char *name, const char *why) {
  lua_pushnil(L);
  lua_pushfstring(L, "cannot load carried library %s: %s", name, why);
  lua_pushliteral(L, "open");
  return 3;
}


/* package.loadlib for a library the program carries (--onefile), loaded
** from memory: nothing is written to any folder. */
static int apploadlib(lua_State *L) {
  const char *name = checkname(L);
  const char *sym = luaL_checkstring(L, 2);
  if (name == NULL) return notincluded(L, lua_tostring(L, 1));
  lua_settop(L, 2);
  if (lookup(L, "native", name)) return 2;                /* name sym state natives entry */
  lua_getfield(L, 3, "fds");
  lua_getfield(L, -1, name);                              /* ... entry fds path */
  if (lua_isnil(L, -1)) {
    lua_rawgeti(L, 5, 1);
    lua_rawgeti(L, 5, 2);
    /* The loader reaches a file in memory only through /proc. */
    if (access("/proc/self/fd", F_OK) != 0) return cannotload(L, name, "/proc is not mounted");
    FILE *f = openself(L);
    int fd = f != NULL ? memoryfile(f, name, (long)lua_tonumber(L, -2), (size_t)lua_tonumber(L, -1)) : -1;
    int err = errno;
    if (f != NULL) fclose(f);
    if (fd < 0) return cannotload(L, name, strerror(err));
    lua_pushfstring(L, "/proc/self/fd/%d", fd);           /* ... entry fds nil at size path */
    lua_pushvalue(L, -1);
    lua_setfield(L, 6, name);
  }
  return packageloadlib(L, sym);
}
#endif


/* The glued module: path, dir and the functions. */
static void pushfields(lua_State *L) {
  const char *path = app_pushpath(L);
  if (path != NULL) setpath(L);
}


#else
/* ------------------------------------------------------------------------
** Unglued: the files below the script's folder
** --------------------------------------------------------------------- */

/* Pushes the bytes of dir/name, or nil and a message.  The buffer comes
** before the file is opened, so that no failing push leaves it open. */
static int readfile(lua_State *L, const char *name) {
  lua_getfield(L, STATE, "dir");
  const char *path = lua_pushfstring(L, "%s/%s", lua_tostring(L, -1), name);
  struct stat st;
  if (stat(path, &st) != 0 || !S_ISREG(st.st_mode))
    return notincluded(L, name);
  size_t size = (size_t)st.st_size;
  char *buff = (char *)lua_newuserdata(L, size > 0 ? size : 1);
  FILE *f = fopen(path, "rb");
  size_t got = f != NULL ? fread(buff, 1, size, f) : 0;
  int failed = f == NULL || ferror(f);
  int err = errno;
  if (f != NULL) fclose(f);
  if (failed) {
    lua_pushnil(L);
    lua_pushfstring(L, "cannot read included file \"%s\": %s", name, strerror(err));
    return 2;
  }
  lua_pushlstring(L, buff, got);
  return 1;
}


static int apploadlib(lua_State *L) {
  const char *name = checkname(L);
  luaL_checkstring(L, 2);
  if (name == NULL) return notincluded(L, lua_tostring(L, 1));
  lua_getfield(L, STATE, "dir");
  lua_pushfstring(L, "%s/%s", lua_tostring(L, -1), name);
  return packageloadlib(L, lua_tostring(L, 2));
}


/* Appends to the table on the top the files below folder, as name/... ;
** hidden entries and folders reached through a link are left out, as
** ovrelglue --include leaves them. */
static void walk(lua_State *L, const char *folder, const char *name) {
  DIR *d = opendir(folder);
  if (d == NULL) return;
  struct dirent *e;
  /* A failing push here leaves d open: only when memory runs out. */
  while ((e = readdir(d)) != NULL) {
    if (e->d_name[0] == '.') continue;
    const char *path = lua_pushfstring(L, "%s/%s", folder, e->d_name);  /* names path */
    if (*name) lua_pushfstring(L, "%s/%s", name, e->d_name);              /* names path inside */
    else lua_pushstring(L, e->d_name);
    struct stat st, lst;
    if (stat(path, &st) == 0 && lstat(path, &lst) == 0) {
      if (S_ISDIR(st.st_mode) && !S_ISLNK(lst.st_mode)) {
        lua_pushvalue(L, -3);
        walk(L, path, lua_tostring(L, -2));
        lua_settop(L, -2);
      } else if (S_ISREG(st.st_mode)) {
        lua_pushvalue(L, -1);
        lua_rawseti(L, -4, (int)lua_objlen(L, -4) + 1);
      }
    }
    lua_settop(L, -3);
  }
  closedir(d);
}


static int bytes(const void *a, const void *b) {
  return strcmp(*(const char *const *)a, *(const char *const *)b);
}


/* The names below the folder, sorted as the tool sorts them: by bytes. */
static void listnames(lua_State *L) {
  lua_newtable(L);                                        /* names */
  lua_getfield(L, STATE, "dir");
  lua_pushvalue(L, -2);
  walk(L, lua_tostring(L, -2), "");
  lua_settop(L, -3);
  size_t n = lua_objlen(L, -1);
  const char **order = (const char **)lua_newuserdata(L, (n > 0 ? n : 1) * sizeof *order);
  for (size_t i = 0; i < n; i++) {
    lua_rawgeti(L, -2, (int)i + 1);
    order[i] = lua_tostring(L, -1);  /* kept alive by the table */
    lua_settop(L, -2);
  }
  qsort(order, n, sizeof *order, bytes);
  lua_createtable(L, (int)n, 0);                          /* names order sorted */
  for (size_t i = 0; i < n; i++) {
    lua_pushstring(L, order[i]);
    lua_rawseti(L, -2, (int)i + 1);
  }
  lua_replace(L, -3);
  lua_settop(L, -2);
}


/* The unglued module: the script's path from arg[0], and its folder; the
** current folder where there is no script (lua5.1 -e, or interactive). */
static void pushfields(lua_State *L) {
  lua_getglobal(L, "arg");
  if (lua_type(L, -1) == LUA_TTABLE) lua_rawgeti(L, -1, 0);
  else lua_pushnil(L);
  char buff[PATH_MAX];
  const char *script = lua_tostring(L, -1);
  int found = script != NULL && realpath(script, buff) != NULL;
  lua_settop(L, -3);
  if (found) {
    lua_pushstring(L, buff);
    setpath(L);
  } else if (getcwd(buff, sizeof buff) != NULL) {
    lua_pushstring(L, buff);
    lua_setfield(L, -2, "dir");
  }
}
#endif


/* ------------------------------------------------------------------------
** The module's functions
** --------------------------------------------------------------------- */

/* app.read(name): the file's bytes, or nil and a message. */
static int appread(lua_State *L) {
  const char *name = checkname(L);
  if (name == NULL) return notincluded(L, lua_tostring(L, 1));
  return readfile(L, name);
}


/* app.open(name): a read-only handle over the file's bytes, or nil and a
** message. */
static int appopen(lua_State *L) {
  const char *name = checkname(L);
  if (name == NULL) return notincluded(L, lua_tostring(L, 1));
  int n = readfile(L, name);
  if (n != 1) return n;
  appfile_push(L, lua_gettop(L));
  return 1;
}


/* The iterator app.files() returns: upvalue 1 the names, 2 the next one's
** index. */
static int nextname(lua_State *L) {
  int i = (int)lua_tointeger(L, lua_upvalueindex(2));
  lua_rawgeti(L, lua_upvalueindex(1), i);
  if (!lua_isnil(L, -1)) {
    lua_pushinteger(L, i + 1);
    lua_replace(L, lua_upvalueindex(2));
  }
  return 1;
}


/* app.files(): an iterator over the included names, in order. */
static int appfiles(lua_State *L) {
#if defined(OVREL_APP_UNGLUED)
  listnames(L);                                           /* names */
#else
  state(L);
  lua_getfield(L, -1, "error");
  if (!lua_isnil(L, -1)) return lua_error(L);
  lua_getfield(L, -2, "names");                           /* state nil names */
#endif
  lua_pushinteger(L, 1);
  lua_pushcclosure(L, nextname, 2);
  return 1;
}


static int loadapp(lua_State *L) {
  lua_createtable(L, 0, 7);                               /* app */
  pushfields(L);
  lua_newtable(L);                                        /* app state */
  lua_getfield(L, -2, "dir");
  lua_setfield(L, -2, "dir");
  static const luaL_Reg functions[] = {
      {"read", appread}, {"open", appopen}, {"files", appfiles}, {"loadlib", apploadlib}, {NULL, NULL}};
  for (const luaL_Reg *r = functions; r->name != NULL; r++) {
    lua_pushvalue(L, -1);
    lua_pushcclosure(L, r->func, 1);
    lua_setfield(L, -3, r->name);
  }
  lua_settop(L, -2);                                      /* app */
  return 1;
}


#if defined(OVREL_APP_UNGLUED)
OVREL_EXTERN_C __attribute__((visibility("default"))) int luaopen_ovrel_app(lua_State *L) {
  return loadapp(L);
}
#else
/* The engine's libraries are open: package.preload is there. */
void app_preload(lua_State *L) {
  lua_getfield(L, LUA_REGISTRYINDEX, "_LOADED");
  lua_getfield(L, -1, LUA_LOADLIBNAME);
  lua_getfield(L, -1, "preload");                         /* loaded package preload */
  lua_pushcclosure(L, loadapp, 0);
  lua_setfield(L, -2, OVREL_APP_NAME);
  lua_settop(L, -4);
}
#endif
