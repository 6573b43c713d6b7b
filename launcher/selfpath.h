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

/* Writes the full path of the file that `name` stands for into filename
** (size bytes, terminator included) and returns nonzero.  Returns 0 with
** errno set when nothing is found (ENOENT) or the path does not fit
** (ENAMETOOLONG). */
int selfpath(const char *name, char *filename, size_t size);

#endif /* OVREL_SELFPATH_H */
