/* ownfile.h: the running program's own file, as the kernel names it.
**
** /proc/self/exe is a link to the file the process was started from,
** whatever name it was started by.  The runtime reads it for the folder it
** puts on the module paths, the launcher for the file it opens: both read
** it here.  Plain C, POSIX only. */
#ifndef OVREL_OWNFILE_H
#define OVREL_OWNFILE_H

#include <stddef.h>
#include <unistd.h>

#define OWNFILE_LINK "/proc/self/exe"

/* Writes the link's text, an absolute path, into buff (size bytes) and
** returns its length; 0 when there is no link, or its text does not fit
** or is not absolute. */
static inline size_t ownfile_name(char *buff, size_t size) {
  ssize_t n = readlink(OWNFILE_LINK, buff, size);
  if (n <= 0 || (size_t)n >= size || buff[0] != '/') return 0;
  buff[n] = '\0';
  return (size_t)n;
}

#endif /* OVREL_OWNFILE_H */
