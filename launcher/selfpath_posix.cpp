// selfpath_posix.cpp: the program's own file, found the way Windows finds it.
//
// A name with a slash is a path from the current directory.  Any other name
// is looked for in the directory of the running executable, then in the
// current directory, then in each directory of PATH: the order of the
// Windows search, which starts with the application's own directory.  In
// each place the name is tried as given and, when it has no extension,
// with ".exe" appended.  The result is absolute, with "." components and
// doubled slashes dropped; symbolic links are left as they are.
#include "selfpath.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>


static int hasext(const char *name) {
  const char *base = strrchr(name, '/');
  return strchr(base ? base + 1 : name, '.') != NULL;
}


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
  for (int exe = 0; exe <= !hasext(name) && !found; exe++) {
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


int selfpath(const char *name, char *filename, size_t size) {
  if (strchr(name, '/')) return tryin(NULL, name, filename, size) > 0;

  int found = 0;
  char exe[SELFPATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0 && n < (ssize_t)sizeof exe - 1) {  /* else cut short: unusable */
    exe[n] = '\0';
    char *slash = strrchr(exe, '/');
    if (slash) {
      *slash = '\0';
      found = tryin(*exe ? exe : "/", name, filename, size);
    }
  }
  if (!found) found = tryin(".", name, filename, size);

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
