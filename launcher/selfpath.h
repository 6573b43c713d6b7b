// selfpath.h: finding the program's own file from the name it was started by.
#ifndef OVREL_SELFPATH_H
#define OVREL_SELFPATH_H

#include <stddef.h>

#if defined(_WIN32)
#define SELFPATH_MAX 260
#else
#include <limits.h>
#define SELFPATH_MAX PATH_MAX
#endif

/* Whether the last part of name has an extension.  Windows runs a
** program by a name without one as name.exe: the search below tries both,
** and programs glued onto a Windows launcher get ".exe" for it. */
static inline int selfpath_hasext(const char *name) {
  const char *base = name;
  for (const char *p = name; *p; p++)
#if defined(_WIN32)
    if (*p == '/' || *p == '\\' || *p == ':') base = p + 1;
#else
    if (*p == '/') base = p + 1;
#endif
  for (; *base; base++)
    if (*base == '.') return 1;
  return 0;
}

/* Writes the full path of the file that `name` stands for into filename
** (size bytes, terminator included) and returns nonzero.  Returns 0 with
** errno set when nothing is found (ENOENT) or the path does not fit
** (ENAMETOOLONG). */
int selfpath(const char *name, char *filename, size_t size);

#if !defined(_WIN32)
/* The search from the name alone, which selfpath falls back on where the
** kernel cannot name the running file (no /proc): a name with a slash is a
** path from the current directory; any other name is looked for in the
** current directory, then in each directory of PATH (an empty entry is the
** current directory), the first file found winning.  Each place is tried
** with the name as given and, when it has no extension, with ".exe"
** appended; directories are passed over.  Results as selfpath's; for a
** name with a slash, errno is what that path gave (EISDIR for a directory). */
int selfpath_search(const char *name, char *filename, size_t size);
#endif

#if defined(_WIN32)
#include <stdio.h>

/* The program's own file, open for reading in binary mode.  First the
** search above, into filename; when that cannot reach the running program
** because the code page cannot spell its path or the path is too long, its
** wide-character module file name, and then *shown is a heap copy of that
** name for reports, in the ANSI code page with '?' for what it lacks (else
** NULL).  Returns NULL with errno set when neither opens. */
FILE *selfopen(const char *name, char *filename, size_t size, char **shown);
#endif

#endif /* OVREL_SELFPATH_H */
