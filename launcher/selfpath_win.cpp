// selfpath_win.cpp: the program's own file through the system's search path or,
// where the code page cannot reach it, its wide-character module file name.
#include "selfpath.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "widepath.h"


/* SearchPathA leaves errno alone; give the report its true reason. */
static void seterrno(DWORD code) {
  switch (code) {
    case ERROR_ACCESS_DENIED: errno = EACCES; break;
    case ERROR_FILENAME_EXCED_RANGE: errno = ENAMETOOLONG; break;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: errno = ENOMEM; break;
    default: errno = ENOENT; break;
  }
}


int selfpath(const char *name, char *filename, size_t size) {
  DWORD n = SearchPathA(NULL, name, ".exe", (DWORD)size, filename, NULL);
  if (n == 0) {
    seterrno(GetLastError());
    return 0;
  }
  if (n >= size) {  /* found, but the path does not fit: cannot be opened */
    errno = ENAMETOOLONG;
    return 0;
  }
  return 1;
}


/* ------------------------------------------------------------------------
** The program's own file by its wide-character name
**
** The program name, the search and fopen all speak the ANSI code page and
** stop at MAX_PATH.  A program in a folder the code page cannot spell
** ("Иван" where it is 1252) arrives with '?' for those letters, and one
** deeper than MAX_PATH is found by no ANSI call; yet the system knows the
** running program's file by its wide-character name, whatever it is.
** ------------------------------------------------------------------------ */

/* The running program's module file name, at WIDEPATH_ROOM characters into
** the heap block *block, grown until the name fits; NULL when the system
** gives none or memory runs out. */
static wchar_t *modulename(wchar_t **block) {
  DWORD size = MAX_PATH;
  for (;;) {
    wchar_t *w = (wchar_t *)malloc((WIDEPATH_ROOM + size) * sizeof(wchar_t));
    if (w == NULL) return NULL;
    int got = widepath_module(w + WIDEPATH_ROOM, &size);
    if (got > 0) {
      *block = w;
      return w + WIDEPATH_ROOM;
    }
    free(w);
    if (got == 0) return NULL;
  }
}


/* A heap copy of name in the ANSI code page, '?' standing for each
** character it lacks (no look-alike letters, which would name another
** file); *exact tells that none was lacking.  A code page of UTF-8 spells
** everything and takes neither the flag nor the question. */
static char *ansiname(const wchar_t *name, bool *exact) {
  BOOL lost = FALSE;
  BOOL *askp = GetACP() == CP_UTF8 ? NULL : &lost;
  DWORD flags = askp == NULL ? 0 : WC_NO_BEST_FIT_CHARS;
  int n = WideCharToMultiByte(CP_ACP, flags, name, -1, NULL, 0, NULL, askp);
  char *a = n > 0 ? (char *)malloc((size_t)n) : NULL;
  if (a == NULL) return NULL;
  WideCharToMultiByte(CP_ACP, flags, name, -1, a, n, NULL, askp);
  *exact = !lost;
  return a;
}


FILE *selfopen(const char *name, char *filename, size_t size, char **shown) {
  *shown = NULL;
  if (selfpath(name, filename, size)) {
    FILE *f = fopen(filename, "rb");
    if (f != NULL) return f;
  }
  int why = errno;
  wchar_t *block = NULL;
  wchar_t *own = modulename(&block);
  bool exact = false;
  char *ansi = own != NULL ? ansiname(own, &exact) : NULL;
  /* Where the search could have reached the running program, its report
  ** stands: the name truly stands for no file that opens. */
  if (ansi == NULL || (exact && strlen(ansi) < size)) {
    free(ansi);
    free(block);
    errno = why;
    return NULL;
  }
  const wchar_t *open = own;
  if (widepath_limited(own)) {
    widepath_prefix(block);
    open = block;
  }
  FILE *f = _wfopen(open, L"rb");
  free(block);
  if (f == NULL) {
    free(ansi);
    return NULL;
  }
  *shown = ansi;
  return f;
}

