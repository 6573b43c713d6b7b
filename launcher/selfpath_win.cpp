// selfpath_win.cpp: the program's own file through the system's search path, and
// the start-up expansion of wildcards in its arguments.
#include "selfpath.h"

#include <errno.h>
#include <windows.h>


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
** Start-up
** --------------------------------------------------------------------- */

/* Windows hands a program its command line as one string and leaves
** wildcards to the program; the start-up code of MinGW-w64 expands the
** unquoted ones into matching file names when this is set, as users of a
** console program there expect. */
extern "C" {
int _dowildcard = -1;
}
