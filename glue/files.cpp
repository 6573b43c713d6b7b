// files.cpp: reading inputs and the trailer, and the paths of files.
#include "files.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>
#endif

#include "glue.h"

/* ------------------------------------------------------------------------
** Reading
** --------------------------------------------------------------------- */

FILE *openfile(const char *path, int64_t *len) {
  Stat st;
  /* Windows cannot open a folder at all; look before opening. */
  if (statfile(path, &st) == 0 && (st.st_mode & S_IFMT) != S_IFREG)
    die("%s is not a regular file", path);
  FILE *f = fopen(path, "rb");
  if (f == NULL) die("cannot open %s: %s", path, strerror(errno));
  if (fstatfile(fileno(f), &st) != 0) die("cannot read %s: %s", path, strerror(errno));
  if ((st.st_mode & S_IFMT) != S_IFREG) die("%s is not a regular file", path);
  *len = (int64_t)st.st_size;
  return f;
}


void seekto(FILE *f, const char *path, int64_t pos) {
#if defined(_WIN32)
  int rc = _fseeki64(f, pos, SEEK_SET);
#else
  int rc = fseeko(f, (off_t)pos, SEEK_SET);
#endif
  if (rc != 0) die("cannot seek in %s: %s", path, strerror(errno));
}


/* A source shorter than its length has changed under us. */
std::string readbytes(FILE *f, const char *path, int64_t n) {
  std::string s((size_t)n, '\0');
  size_t got = n > 0 ? fread(&s[0], 1, (size_t)n, f) : 0;
  if (got != (size_t)n) {
    if (ferror(f)) die("cannot read %s: %s", path, strerror(errno));
    die("%s became shorter while it was read", path);
  }
  return s;
}


std::string readstdin(void) {
#if defined(_WIN32)
  _setmode(_fileno(stdin), _O_BINARY);
#endif
  std::string s;
  char buff[65536];
  size_t got;
  while ((got = fread(buff, 1, sizeof buff, stdin)) > 0) {
    s.append(buff, got);
    if (s.size() > (size_t)INT32_MAX) fitstrailer("the script on standard input", -1);
  }
  if (ferror(stdin)) die("cannot read standard input: %s", strerror(errno));
  return s;
}


int isfolder(const char *path) {
  Stat st;
  return statfile(path, &st) == 0 && (st.st_mode & S_IFMT) == S_IFDIR;
}


int isfile(const char *path) {
  Stat st;
  return statfile(path, &st) == 0 && (st.st_mode & S_IFMT) == S_IFREG;
}


/* Whether both names lead to one file.  Only an existing output can. */
#if defined(_WIN32)
/* The volume and index that identify a file however it is named. */
static int fileid(const char *path, BY_HANDLE_FILE_INFORMATION *id) {
  HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
  if (h == INVALID_HANDLE_VALUE) return 0;
  int ok = GetFileInformationByHandle(h, id) != 0;
  CloseHandle(h);
  return ok;
}
#endif


int samefile(const char *a, const char *b) {
#if defined(_WIN32)
  BY_HANDLE_FILE_INFORMATION ia, ib;
  if (!fileid(a, &ia) || !fileid(b, &ib)) return 0;
  return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
#else
  struct stat sa, sb;
  if (stat(a, &sa) != 0 || stat(b, &sb) != 0) return 0;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
#endif
}


std::vector<std::string> listfolder(const std::string &path) {
  std::vector<std::string> names;
#if defined(_WIN32)
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((path + "\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    if (strcmp(fd.cFileName, ".") != 0 && strcmp(fd.cFileName, "..") != 0)
      names.push_back(fd.cFileName);
  } while (FindNextFileA(h, &fd));
  FindClose(h);
#else
  DIR *d = opendir(path.c_str());
  if (d == NULL && errno == ENOMEM) die("not enough memory");  /* not a folder it cannot read */
  if (d == NULL) return names;
  for (struct dirent *e; (e = readdir(d)) != NULL;)
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
  closedir(d);
#endif
  std::sort(names.begin(), names.end());  /* the folder's own order is no order */
  return names;
}


/* Links give a folder many names; what it is stays one. */
int fileidentity(const char *path, uint64_t id[2]) {
#if defined(_WIN32)
  BY_HANDLE_FILE_INFORMATION info;
  if (!fileid(path, &info)) return 0;
  id[0] = info.dwVolumeSerialNumber;
  id[1] = (uint64_t)info.nFileIndexHigh << 32 | info.nFileIndexLow;
#else
  struct stat st;
  if (stat(path, &st) != 0) return 0;
  id[0] = (uint64_t)st.st_dev;
  id[1] = (uint64_t)st.st_ino;
#endif
  return 1;
}


/* ------------------------------------------------------------------------
** Trailer
** --------------------------------------------------------------------- */

int trailer(FILE *f, const char *path, int64_t len, Glue *glue, long *at) {
  if (len < (int64_t)sizeof *glue) return 0;
  switch (glue_find(f, glue, at)) {
    case GLUE_SEEK_FAILED: die("cannot seek in %s: %s", path, strerror(errno));
    case GLUE_READ_FAILED: die("cannot read %s: %s", path, strerror(errno));
    case GLUE_MISSING: return 0;
    case GLUE_FOUND: break;
  }
  return 1;
}


std::string scriptbytes(FILE *f, const char *path, const Glue *glue, size_t most) {
  seekto(f, path, glue_get32(glue->size1));
  size_t want = std::min(glue_length(glue), most);
  std::string s;
  char buff[65536];
  while (s.size() < want) {
    size_t got = fread(buff, 1, std::min(sizeof buff, want - s.size()), f);
    if (got == 0) break;
    s.append(buff, got);
  }
  if (ferror(f)) die("cannot read %s: %s", path, strerror(errno));
  return s;
}


/* ------------------------------------------------------------------------
** Paths
** --------------------------------------------------------------------- */

void fitstrailer(const char *what, int64_t bytes) {
  if (bytes < 0)
    die("%s is too large (the trailer holds at most %ld bytes)", what, (long)INT32_MAX);
  if (bytes > INT32_MAX)
    die("%s is too large (%lld bytes; the trailer holds at most %ld)", what, (long long)bytes,
        (long)INT32_MAX);
}


int plainparts(const std::string &s, char sep) {
  if (s.empty()) return 0;
  for (char c : {'/', '\\', ':'})
    if (c != sep && s.find(c) != std::string::npos) return 0;
  size_t start = 0;
  for (;;) {
    size_t end = s.find(sep, start);
    std::string part = s.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part.empty() || part == "." || part == "..") return 0;
    if (end == std::string::npos) return 1;
    start = end + 1;
  }
}


int pathsep(char c) {
#if defined(_WIN32)
  return c == '/' || c == '\\';
#else
  return c == '/';
#endif
}


size_t folderlen(const std::string &path, int anyplatform) {
  for (size_t n = path.size(); n > 0; n--) {
    char c = path[n - 1];
    if (pathsep(c) || (anyplatform && (c == '/' || c == '\\')))
      return n;
#if defined(_WIN32)
    if (c == ':') return n;
#endif
  }
  return 0;
}


std::string folderof(const std::string &path) {
  size_t n = folderlen(path);
  if (n == 0) return ".";
  return path.substr(0, n == 1 || path[n - 1] == ':' ? n : n - 1);
}


std::string droptrailing(const std::string &path) {
  size_t n = path.size();
  while (n > 0 && pathsep(path[n - 1])) n--;
  return path.substr(0, n);
}


std::string throughlink(const char *path) {
  std::string p = path;
#if !defined(_WIN32)
  for (int hops = 0;; hops++) {
    struct stat st;
    if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
    if (hops == 40) die("%s: too many levels of symbolic links", path);
    char target[PATH_MAX];
    ssize_t n = readlink(p.c_str(), target, sizeof target - 1);
    if (n < 0) die("cannot read the link %s: %s", p.c_str(), strerror(errno));
    target[n] = '\0';
    /* A relative target is relative to the link's own folder. */
    p = target[0] == '/' ? std::string(target) : p.substr(0, folderlen(p)) + target;
  }
#else
  return p;
#endif
}
