/*
** lwinpath.c: file names of the engine on Windows.
**
** The engine names files with char strings and opens them with fopen,
** freopen and LoadLibraryA, which read a name in the ANSI code page and stop
** at MAX_PATH characters.  A folder that the code page cannot spell, or one
** deeper than that, is thus out of reach, and it is often the program's own.
** So the program's folder goes onto the module paths in UTF-8 (setprogdir),
** and the calls below take a name that is valid UTF-8 and not plain ASCII,
** or one too long for the ANSI calls, through the wide-character calls.
** Any other name goes the ANSI way, as before; so does a UTF-8-looking name
** that the wide way cannot open, since it may be ANSI text after all.
** The engine's call sites come here through lua51.patch, beside this file.
*/

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

/* LUA_LIB, which the engine's libraries define, comes from the runtime's
** build: every source of ovrel.dll has it. */
#include "lua.h"
#include "lauxlib.h"

#include "widepath.h"


static int plainascii (const char *s) {
  for (; *s != '\0'; s++)
    if ((unsigned char)*s >= 0x80) return 0;
  return 1;
}


/* A long name is made absolute, then prefixed (widepath.h).  Returns w
** itself when it is short or cannot be made so. */
static wchar_t *unlimited (wchar_t *w) {
  DWORD n;
  wchar_t *full;
  if (!widepath_limited(w)) return w;
  n = GetFullPathNameW(w, 0, NULL, NULL);  /* length with terminator */
  if (n == 0 || n > WIDEPATH_MAX) return w;
  full = (wchar_t *)malloc((n + WIDEPATH_ROOM) * sizeof(wchar_t));
  if (full == NULL) return w;
  if (GetFullPathNameW(w, n, full + WIDEPATH_ROOM, NULL) + 1 != n) {
    free(full);
    return w;
  }
  free(w);
  widepath_prefix(full);
  return full;
}


/* The wide form of name for the wide-character calls, or NULL when the
** ANSI call serves it.  *ansitoo tells whether the ANSI call is still
** worth a try when the wide one fails. */
static wchar_t *widename (const char *name, int *ansitoo) {
  UINT cp = CP_UTF8;
  DWORD flags = MB_ERR_INVALID_CHARS;
  int n;
  wchar_t *w;
  *ansitoo = 0;
  if (plainascii(name) ||
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, NULL, 0) == 0) {
    if (strlen(name) < MAX_PATH) return NULL;
    cp = CP_ACP;  /* long: only the wide calls reach it */
    flags = 0;
  }
  else
    *ansitoo = strlen(name) < MAX_PATH;
  n = MultiByteToWideChar(cp, flags, name, -1, NULL, 0);
  if (n == 0 || n > WIDEPATH_MAX) return NULL;
  w = (wchar_t *)malloc(n * sizeof(wchar_t));
  if (w == NULL) return NULL;
  MultiByteToWideChar(cp, flags, name, -1, w, n);
  return unlimited(w);
}


/* Modes are a few ASCII letters; anything else is left to the ANSI call,
** which judges it as before. */
static int widemode (const char *mode, wchar_t *wmode, size_t size) {
  size_t i;
  for (i = 0; mode[i] != '\0'; i++) {
    if (i + 1 >= size || (unsigned char)mode[i] >= 0x80) return 0;
    wmode[i] = (wchar_t)mode[i];
  }
  wmode[i] = L'\0';
  return 1;
}


FILE *luai_fopen (const char *name, const char *mode) {
  wchar_t wmode[16];
  int ansitoo;
  wchar_t *w;
  FILE *f;
  if (!widemode(mode, wmode, sizeof wmode / sizeof *wmode) ||
      (w = widename(name, &ansitoo)) == NULL)
    return fopen(name, mode);
  f = _wfopen(w, wmode);
  free(w);
  if (f == NULL && ansitoo) f = fopen(name, mode);
  return f;
}


FILE *luai_freopen (const char *name, const char *mode, FILE *stream) {
  wchar_t wmode[16];
  int ansitoo;
  wchar_t *w;
  FILE *f;
  if (!widemode(mode, wmode, sizeof wmode / sizeof *wmode) ||
      (w = widename(name, &ansitoo)) == NULL)
    return freopen(name, mode, stream);
  f = _wfreopen(w, wmode, stream);
  free(w);
  if (f == NULL && ansitoo) f = freopen(name, mode, stream);
  return f;
}


/* The caller reports a failure from GetLastError, which free leaves. */
void *luai_loadlibrary (const char *name) {
  int ansitoo;
  wchar_t *w = widename(name, &ansitoo);
  HMODULE lib;
  DWORD error;
  if (w == NULL) return LoadLibraryA(name);
  lib = LoadLibraryW(w);
  error = GetLastError();
  free(w);
  if (lib == NULL && ansitoo) return LoadLibraryA(name);
  SetLastError(error);
  return lib;
}


/*
** Pushes the running program's own file, in UTF-8, and returns it.  The
** buffers are the runtime's own, so that an allocation that fails (and
** raises) leaks nothing.  Raises only when the system names no file or a
** name without a folder.
*/
const char *luai_pushprogpath (lua_State *L) {
  DWORD size = MAX_PATH;
  wchar_t *w;
  char *path;
  int bytes, got;
  for (;;) {
    w = (wchar_t *)lua_newuserdata(L, size * sizeof(wchar_t));  /* w */
    if ((got = widepath_module(w, &size)) >= 0) break;
    lua_pop(L, 1);
  }
  if (got == 0 || wcsrchr(w, L'\\') == NULL)
    luaL_error(L, "unable to get ModuleFileName");
  bytes = WideCharToMultiByte(CP_UTF8, 0, w, -1, NULL, 0, NULL, NULL);
  if (bytes == 0) luaL_error(L, "unable to get ModuleFileName");
  path = (char *)lua_newuserdata(L, (size_t)bytes);  /* w path */
  WideCharToMultiByte(CP_UTF8, 0, w, -1, path, bytes, NULL, NULL);
  lua_pushstring(L, path);  /* w path text */
  lua_replace(L, -3);  /* text path */
  lua_pop(L, 1);  /* text */
  return lua_tostring(L, -1);
}


/* Pushes the folder of the running program, in UTF-8, and returns it. */
const char *luai_pushprogdir (lua_State *L) {
  const char *path = luai_pushprogpath(L);
  lua_pushlstring(L, path, (size_t)(strrchr(path, '\\') - path));
  lua_replace(L, -2);
  return lua_tostring(L, -1);
}
