// selfpath_posix.cpp: the program's own file.
//
// The kernel knows which file is running: /proc/self/exe names it exactly,
// whatever the program was started as, so no planted file of the same name
// (in the current directory, on PATH, or named by "exec -a") is ever taken
// for it.  Only where that link cannot be read (no /proc mounted) is the file
// searched for from the name, the way Windows searches: a name with a slash
// is a path from the current directory; any other name is looked for in the
// current directory, then in each directory of PATH, as given and, when it
// has no extension, with ".exe" appended.  The result is absolute, with "."
// components and doubled slashes dropped.
#include "selfpath.h"

#include "ownfile.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>


/* Appends the components of path to out (len bytes used), skipping empty
** and "." ones.  Returns 0 when the result would not fit. */
static int append(char *out, size_t *len, size_t size, const char *path) {
  const char *p = path;
  while (*p) {
    const char *end = strchr(p, '/');
    size_t n = end ? (size_t)(end - p) : strlen(p);
    if (n > 0 && !(n == 1 && p[0] == '.')) {
      if (*len + 1 + n + 1 > size) return 0;
      out[(*len)++] = '/';
      memcpy(out + *len, p, n);
      *len += n;
      out[*len] = '\0';
    }
    p += n;
    if (*p == '/') p++;
  }
  return 1;
}


/* The absolute form of path in filename, or 0 with ENAMETOOLONG. */
static int absolute(const char *path, char *filename, size_t size) {
  size_t len = 0;
  if (size < 2) goto toolong;
  filename[0] = '\0';
  if (path[0] != '/') {
    char cwd[SELFPATH_MAX];
    if (getcwd(cwd, sizeof cwd) == NULL) goto toolong;  /* deeper than the limit */
    if (!append(filename, &len, size, cwd)) goto toolong;
  }
  if (!append(filename, &len, size, path)) goto toolong;
  if (len == 0) strcpy(filename, "/");
  return 1;
toolong:
  errno = ENAMETOOLONG;
  return 0;
}


/* Tries dir/name (or name alone when dir is null) and, lacking an
** extension, the same with ".exe".  Returns 1 when found and written, 0
** when not found (errno from the first try), -1 when found but too long. */
static int tryin(const char *dir, const char *name, char *filename, size_t size) {
  size_t dlen = dir ? strlen(dir) : 0;
  char *path = (char *)malloc(dlen + 2 + strlen(name) + sizeof ".exe");
  if (path == NULL) return 0;  /* errno is ENOMEM */
  if (dir)
    strcat(strcat(strcpy(path, *dir ? dir : "."), "/"), name);
  else
    strcpy(path, name);
  int found = 0, first = 0;
  for (int exe = 0; exe <= !selfpath_hasext(name) && !found; exe++) {
    if (exe) strcat(path, ".exe");
    struct stat st;
    int rc = stat(path, &st);
    if (rc == 0 && !S_ISDIR(st.st_mode))
      found = absolute(path, filename, size) ? 1 : -1;
    else if (!exe)
      first = rc == 0 ? EISDIR : errno;
  }
  free(path);
  errno = found < 0 ? ENAMETOOLONG : first;
  return found;
}


/* The running executable from /proc/self/exe: 1 when written, 0 when there
** is no such link, -1 (ENAMETOOLONG) when filename is too small.  The
** link's text is the path the file was started from; when that path cannot
** be read back (longer than the limit), or now leads to another file (the
** program was replaced, moved or deleted since it started), the link itself
** is the answer: opening it still opens the running image. */
static int running(char *filename, size_t size) {
  struct stat self, named;
  if (stat(OWNFILE_LINK, &self) != 0) return 0;
  char exe[SELFPATH_MAX];
  const char *answer = OWNFILE_LINK;
  if (ownfile_name(exe, sizeof exe) > 0 && stat(exe, &named) == 0 &&
      named.st_dev == self.st_dev && named.st_ino == self.st_ino)
    answer = exe;
  if (strlen(answer) >= size) {
    errno = ENAMETOOLONG;
    return -1;
  }
  strcpy(filename, answer);
  return 1;
}


/* The search from the name, for systems without /proc. */
int selfpath_search(const char *name, char *filename, size_t size) {
  if (strchr(name, '/')) return tryin(NULL, name, filename, size) > 0;

  int found = tryin(".", name, filename, size);
  const char *path = getenv("PATH");
  while (!found && path && *path) {
    const char *end = strchr(path, ':');
    size_t len = end ? (size_t)(end - path) : strlen(path);
    char *dir = (char *)malloc(len + 1);
    if (dir == NULL) return 0;
    memcpy(dir, path, len);
    dir[len] = '\0';
    found = tryin(dir, name, filename, size);
    free(dir);
    path = end ? end + 1 : NULL;
  }

  if (found > 0) return 1;
  errno = found < 0 ? ENAMETOOLONG : ENOENT;
  return 0;
}


int selfpath(const char *name, char *filename, size_t size) {
  int self = running(filename, size);
  if (self != 0) return self > 0;
  return selfpath_search(name, filename, size);
}
