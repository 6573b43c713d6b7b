// appfile.cpp: read-only file handles over a string, for a file a program carries.
//
// A program must read a carried file as it reads the same bytes opened "rb"
// from disk, so every method answers as the engine's own (liolib.c) does,
// quirks included.  What cannot be the same: io.type(h) is nil, since the
// handle holds no FILE*; a wrong self is "ovrel.app file expected", not
// "FILE* expected"; h.close() with no handle is an argument error, where the
// engine's would close the default output; "*n" reads, and writes fail, as
// over glibc on every system (see scannumber and f_write).
//
// Only the engine's API is used, so the file also compiles into a test.
#include "appfile.h"
#include "engine.h"

#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#define APPFILE "ovrel.app file"  /* the handles' metatable in the registry */

typedef struct AppFile {
  const char *data;  /* the string's bytes, valid while ref holds it */
  size_t size;
  uint64_t pos;      /* may lie past the end, which reads as the end */
  int ref;           /* the string in the registry; LUA_NOREF once closed */
  int closed;
} AppFile;


static AppFile *checkfile(lua_State *L) {
  AppFile *f = (AppFile *)luaL_checkudata(L, 1, APPFILE);
  if (f->closed) luaL_error(L, "attempt to use a closed file");
  return f;
}


/* Bytes from the position to the end; none past it. */
static size_t left(const AppFile *f) {
  return f->pos < f->size ? f->size - (size_t)f->pos : 0;
}


/* A failed call's results, as the engine gives them from errno. */
static int failure(lua_State *L, int en) {
  lua_pushnil(L);                   /* nil */
  lua_pushstring(L, strerror(en));  /* nil msg */
  lua_pushinteger(L, en);           /* nil msg en */
  return 3;
}


/* "*l" as the engine reads it: fgets into pieces of LUAL_BUFFERSIZE - 1
** bytes, each cut at its first zero byte by strlen.  So a line holding a
** zero byte loses what follows the zero in its piece and, its newline lost
** too, runs on into the next line. */
static int readline(lua_State *L, AppFile *f) {
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  for (;;) {
    size_t n = left(f);
    if (n == 0) {
      luaL_pushresult(&b);  /* line */
      return lua_objlen(L, -1) > 0;
    }
    const char *p = f->data + f->pos;
    if (n > LUAL_BUFFERSIZE - 1) n = LUAL_BUFFERSIZE - 1;
    const char *nl = (const char *)memchr(p, '\n', n);
    if (nl != NULL) n = (size_t)(nl - p) + 1;
    f->pos += n;
    const char *zero = (const char *)memchr(p, '\0', n);
    size_t l = zero != NULL ? (size_t)(zero - p) : n;
    if (l > 0 && p[l - 1] == '\n') {
      luaL_addlstring(&b, p, l - 1);
      luaL_pushresult(&b);  /* line */
      return 1;
    }
    luaL_addlstring(&b, p, l);
  }
}


/* Up to n bytes (n > 0); fails only when it reads none. */
static int readchars(lua_State *L, AppFile *f, size_t n) {
  size_t got = left(f);
  if (got > n) got = n;
  lua_pushlstring(L, got > 0 ? f->data + f->pos : "", got);  /* s */
  f->pos += got;
  return got > 0;
}


static int isspacec(int c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}


static int lowerc(int c) {
  return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c;
}


static int isdigitc(int c) {
  return c >= '0' && c <= '9';
}


static int isxdigitc(int c) {
  return isdigitc(c) || (lowerc(c) >= 'a' && lowerc(c) <= 'f');
}


/* The engine reads "*n" with fscanf("%lf"); this is glibc's reading of it,
** kept on every system so that a carried file reads the same everywhere
** (Windows' C library takes no hexadecimal, for one).  After white space,
** scanf takes the longest text that can begin a number, "nan", "inf" or
** "infinity", and hands it to strtod: it fails when strtod takes none of
** it, and succeeds with what strtod makes of a part ("1e+" is 1).  The text
** is consumed either way, all but the one byte after it, which scanf puts
** back; within an unfinished "nan" or "infinity" even that byte is gone.
** Returns 1 with the number in *d, 0 for none, -1 when out of memory;
** *used is the bytes consumed. */
static int scannumber(const char *s, size_t n, size_t *used, double *d) {
  size_t i = 0;
  while (i < n && isspacec((unsigned char)s[i])) i++;
  *used = i;
  if (i == n) return 0;
  size_t start = i;
  int c = (unsigned char)s[i++];
  int sign = 0;
  if (c == '-' || c == '+') {
    sign = 1;
    *used = i;
    if (i == n) return 0;
    c = (unsigned char)s[i++];
  }
  const char *word = NULL;  /* a special value, its letters after the first */
  if (lowerc(c) == 'n') word = "an";
  else if (lowerc(c) == 'i') word = "nf";
  if (word != NULL) {
    for (; *word != '\0'; word++) {
      if (i == n || lowerc((unsigned char)s[i++]) != *word) {
        *used = i;
        return 0;
      }
    }
    if (lowerc(c) == 'i' && i < n && lowerc((unsigned char)s[i]) == 'i') {
      i++;
      for (word = "nity"; *word != '\0'; word++) {
        if (i == n || lowerc((unsigned char)s[i++]) != *word) {
          *used = i;
          return 0;
        }
      }
    }
  } else {
    int exp = 'e', hex = 0, digit = 0, dot = 0, e = 0;
    if (c == '0') {
      c = i < n ? (unsigned char)s[i++] : EOF;
      if (lowerc(c) == 'x') {
        hex = 1;
        exp = 'p';
        c = i < n ? (unsigned char)s[i++] : EOF;
      } else {
        digit = 1;
      }
    }
    while (c != EOF) {
      if (isdigitc(c) || (hex && !e && isxdigitc(c))) {
        digit = 1;
      } else if (digit && !e && lowerc(c) == exp) {
        e = dot = 1;
      } else if (!dot && c == '.') {
        dot = 1;
      } else if (!(e && (c == '-' || c == '+') && lowerc((unsigned char)s[i - 2]) == exp)) {
        i--;  /* put back */
        break;
      }
      if (i == n) break;
      c = (unsigned char)s[i++];
    }
    *used = i;
    if (i - start == (size_t)sign || (hex && i - start == (size_t)sign + 2)) return 0;
  }
  *used = i;
  char *text = (char *)malloc(i - start + 1);
  if (text == NULL) return -1;
  memcpy(text, s + start, i - start);
  text[i - start] = '\0';
  char *end;
  *d = strtod(text, &end);
  int ok = end != text;
  free(text);
  return ok;
}


static int readnumber(lua_State *L, AppFile *f) {
  size_t used;
  double d = 0;
  int ok = scannumber(f->data + (f->pos < f->size ? f->pos : f->size), left(f), &used, &d);
  f->pos += used;
  if (ok < 0) luaL_error(L, "not enough memory");
  if (ok == 0) {
    lua_pushnil(L);  /* nil, a result to be replaced */
    return 0;
  }
  lua_pushnumber(L, (lua_Number)d);  /* d */
  return 1;
}


/* The engine's g_read: results after the arguments, the first failure
** giving nil and ending the reads. */
static int f_read(lua_State *L) {
  AppFile *f = checkfile(L);
  int nargs = lua_gettop(L) - 1;
  int success;
  int n;
  if (nargs == 0) {
    success = readline(L, f);
    n = 3;
  } else {
    luaL_checkstack(L, nargs + LUA_MINSTACK, "too many arguments");
    success = 1;
    for (n = 2; nargs-- && success; n++) {
      if (lua_type(L, n) == LUA_TNUMBER) {
        size_t l = (size_t)lua_tointeger(L, n);
        if (l == 0) {
          lua_pushlstring(L, "", 0);  /* "" */
          success = left(f) > 0;
        } else {
          success = readchars(L, f, l);
        }
      } else {
        const char *p = lua_tostring(L, n);
        luaL_argcheck(L, p && p[0] == '*', n, "invalid option");
        switch (p[1]) {
          case 'n':
            success = readnumber(L, f);
            break;
          case 'l':
            success = readline(L, f);
            break;
          case 'a':
            readchars(L, f, ~(size_t)0);
            success = 1;
            break;
          default:
            return luaL_argerror(L, n, "invalid format");
        }
      }
    }
  }
  if (!success) {
    lua_pop(L, 1);
    lua_pushnil(L);  /* nil in place of the failed result */
  }
  return n - 2;
}


/* The iterator of h:lines(); the handle stays open at the end. */
static int nextline(lua_State *L) {
  AppFile *f = (AppFile *)lua_touserdata(L, lua_upvalueindex(1));
  if (f->closed) luaL_error(L, "file is already closed");
  return readline(L, f) ? 1 : 0;
}


static int f_lines(lua_State *L) {
  checkfile(L);
  lua_pushvalue(L, 1);                 /* h */
  lua_pushcclosure(L, nextline, 1);  /* iter */
  return 1;
}


/* Any position from 0 up is allowed, past the end too, as fseek allows it. */
static int f_seek(lua_State *L) {
  static const char *const modes[] = {"set", "cur", "end", NULL};
  AppFile *f = checkfile(L);
  int op = luaL_checkoption(L, 2, "cur", modes);
  lua_Integer offset = luaL_optinteger(L, 3, 0);
  uint64_t base = op == 0 ? 0 : op == 1 ? f->pos : (uint64_t)f->size;
  uint64_t pos;
  if (offset < 0) {
    uint64_t back = (uint64_t)(-(offset + 1)) + 1;  /* the least integer negates too */
    if (back > base) return failure(L, EINVAL);
    pos = base - back;
  } else {
    if ((uint64_t)offset > (uint64_t)INT64_MAX - base) return failure(L, EOVERFLOW);
    pos = base + (uint64_t)offset;
  }
  f->pos = pos;
  lua_pushnumber(L, (lua_Number)pos);  /* pos */
  return 1;
}


/* As on a file opened for reading, over glibc: writing nothing succeeds,
** anything else fails, and every argument is still checked.  (Windows' C
** library lets a write succeed while the buffer holds bytes not yet read.) */
static int f_write(lua_State *L) {
  checkfile(L);
  int nargs = lua_gettop(L) - 1;
  int status = 1;
  for (int arg = 2; nargs--; arg++) {
    if (lua_type(L, arg) == LUA_TNUMBER) {
      status = 0;  /* a number always has text */
    } else {
      size_t l;
      luaL_checklstring(L, arg, &l);
      status = status && l == 0;
    }
  }
  if (!status) return failure(L, EBADF);
  lua_pushboolean(L, 1);  /* true */
  return 1;
}


/* fflush of a stream being read succeeds. */
static int f_flush(lua_State *L) {
  checkfile(L);
  lua_pushboolean(L, 1);  /* true */
  return 1;
}


/* There is no buffer; the arguments are checked as the engine checks them. */
static int f_setvbuf(lua_State *L) {
  static const char *const modes[] = {"no", "full", "line", NULL};
  checkfile(L);
  luaL_checkoption(L, 2, NULL, modes);
  luaL_optinteger(L, 3, LUAL_BUFFERSIZE);
  lua_pushboolean(L, 1);  /* true */
  return 1;
}


/* Lets go of the string; the handle stays, closed. */
static void release(lua_State *L, AppFile *f) {
  luaL_unref(L, LUA_REGISTRYINDEX, f->ref);
  f->ref = LUA_NOREF;
  f->closed = 1;
  f->data = NULL;
  f->size = 0;
}


static int f_close(lua_State *L) {
  release(L, checkfile(L));
  lua_pushboolean(L, 1);  /* true */
  return 1;
}


static int f_gc(lua_State *L) {
  release(L, (AppFile *)luaL_checkudata(L, 1, APPFILE));
  return 0;
}


static int f_tostring(lua_State *L) {
  AppFile *f = (AppFile *)luaL_checkudata(L, 1, APPFILE);
  if (f->closed)
    lua_pushliteral(L, "file (closed)");  /* text */
  else
    lua_pushfstring(L, "file (%p)", (void *)f);  /* text */
  return 1;
}


static const luaL_Reg methods[] = {
  {"close", f_close},
  {"flush", f_flush},
  {"lines", f_lines},
  {"read", f_read},
  {"seek", f_seek},
  {"setvbuf", f_setvbuf},
  {"write", f_write},
  {"__gc", f_gc},
  {"__tostring", f_tostring},
  {NULL, NULL}
};


void appfile_push(lua_State *L, int idx) {
  if (idx < 0 && idx > LUA_REGISTRYINDEX) idx = lua_gettop(L) + idx + 1;
  AppFile *f = (AppFile *)lua_newuserdata(L, sizeof *f);  /* h */
  /* Closed until it holds the string, so that a failure below leaves the
  ** collector nothing to let go of. */
  f->data = NULL;
  f->size = 0;
  f->pos = 0;
  f->ref = LUA_NOREF;
  f->closed = 1;
  if (luaL_newmetatable(L, APPFILE)) {  /* h mt */
    lua_pushvalue(L, -1);               /* h mt mt */
    lua_setfield(L, -2, "__index");     /* h mt */
    luaL_register(L, NULL, methods);
  }
  lua_setmetatable(L, -2);  /* h */
  lua_pushvalue(L, idx);    /* h s */
  size_t size;
  const char *data = lua_tolstring(L, -1, &size);
  int ref = luaL_ref(L, LUA_REGISTRYINDEX);  /* h */
  f->data = data;
  f->size = size;
  f->ref = ref;
  f->closed = 0;
}
