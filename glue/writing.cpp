// writing.cpp: writing outputs safely.
//
// An output is written to a temporary file in its own folder and renamed
// over it only once it is complete, so a refusal or a failure never leaves
// a half-written program.  The temporary name has a bounded length of its
// own, so any output name the file system takes can be written.  An
// extraction is made whole in a private folder the same way.
#include "writing.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#if defined(_WIN32)
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "files.h"
#include "report.h"

/* The existing output being replaced: its mode and owner carry over. */
static int replacing;
static Stat replaced;


/* Only a regular file is ever replaced: a device, a pipe or a socket in
** its place is some other program's, and a folder holds files. */
void replaceable(const std::string &path, const char *shown) {
  Stat st;
  if (statfile(path.c_str(), &st) != 0) return;
  if ((st.st_mode & S_IFMT) == S_IFDIR) die("%s is a folder", shown);
  if ((st.st_mode & S_IFMT) != S_IFREG) die("%s is not a regular file; it is not replaced", shown);
}


/* The temporary name is the folder and a short name of its own, never the
** output's name plus a suffix, which would not fit beside the longest name
** the file system takes. */
FILE *maketemp(const std::string &path) {
  replaceable(path, path.c_str());
  replacing = statfile(path.c_str(), &replaced) == 0;
  holdstops();
  halfwritten.file = path.substr(0, folderlen(path)) + ".ovrelglue-XXXXXX";
#if defined(_WIN32)
  int fd = -1;
  if (_mktemp_s(&halfwritten.file[0], halfwritten.file.size() + 1) == 0)
    fd = _open(halfwritten.file.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
  int fd = mkstemp(&halfwritten.file[0]);
#endif
  if (fd < 0) {
    int err = errno;
    halfwritten.file.clear();
    die("cannot create %s: %s", path.c_str(), strerror(err));
  }
  FILE *f = fdopen(fd, "wb");
  if (f == NULL) die("cannot write %s: %s", halfwritten.file.c_str(), strerror(errno));
  return f;
}


/* In pieces, so that a stop signal is answered soon. */
static void writeall(FILE *out, const void *p, size_t n, const char *path) {
  const char *at = (const char *)p;
  while (n > 0) {
    checkstops();
    size_t piece = n < ((size_t)1 << 20) ? n : (size_t)1 << 20;
    if (fwrite(at, 1, piece, out) != piece) die("cannot write %s: %s", path, strerror(errno));
    at += piece;
    n -= piece;
  }
}


void putbytes(FILE *out, const void *p, size_t n) {
  writeall(out, p, n, halfwritten.file.c_str());
}


void copybytes(FILE *from, const char *path, FILE *to, int64_t n) {
  static char buff[65536];
  while (n > 0) {
    size_t want = n < (int64_t)sizeof buff ? (size_t)n : sizeof buff;
    size_t got = fread(buff, 1, want, from);
    if (got != want) {
      if (ferror(from)) die("cannot read %s: %s", path, strerror(errno));
      die("%s became shorter while it was read", path);
    }
    putbytes(to, buff, got);
    n -= (int64_t)got;
  }
}


#if !defined(_WIN32)
/* What a new file or folder gets: everything the umask allows. */
static mode_t newmode(void) {
  mode_t mask = umask(0);
  umask(mask);
  return 0777 & ~mask;
}


/* A new file: executable as the umask allows.  A replaced one keeps its
** permission bits, and its owner and group as far as the tool may set
** them; whoever may read it may run it, as a program is meant to be run
** (the set-id bits are not carried over to a new program). */
static void setmode(int fd, const char *tmp) {
  mode_t mode;
  if (replacing) {
    struct stat now;
    if (fstat(fd, &now) == 0 && (now.st_uid != replaced.st_uid || now.st_gid != replaced.st_gid) &&
        fchown(fd, replaced.st_uid, replaced.st_gid) != 0 && now.st_gid != replaced.st_gid)
      (void)!fchown(fd, (uid_t)-1, replaced.st_gid);
    mode = (replaced.st_mode & 0777) | (replaced.st_mode & 0444) >> 2;
  } else {
    mode = newmode();
  }
  if (fchmod(fd, mode) != 0) die("cannot mark %s executable: %s", tmp, strerror(errno));
}
#endif


void finish(FILE *out, const std::string &path) {
  const char *tmp = halfwritten.file.c_str();
  checkstops();
  if (fflush(out) != 0) die("cannot write %s: %s", tmp, strerror(errno));
#if !defined(_WIN32)
  if (fsync(fileno(out)) != 0) die("cannot write %s: %s", tmp, strerror(errno));
  setmode(fileno(out), tmp);
#endif
  if (fclose(out) != 0) die("cannot write %s: %s", tmp, strerror(errno));
  replaceable(path, path.c_str());  /* once more: it may have changed meanwhile */
  checkstops();
#if defined(_WIN32)
  if (!MoveFileExA(tmp, path.c_str(), MOVEFILE_REPLACE_EXISTING))
    die("cannot create %s: error %lu", path.c_str(), (unsigned long)GetLastError());
#else
  if (rename(tmp, path.c_str()) != 0) die("cannot create %s: %s", path.c_str(), strerror(errno));
#endif
  halfwritten.file.clear();
  releasestops();
}


static int makefolder(const char *path) {
#if defined(_WIN32)
  return _mkdir(path);
#else
  return mkdir(path, 0777);
#endif
}


/* Inside an extraction's folder, a name is kept among what it has made
** before the file or folder is made: keeping it may need memory, which
** must not run out with the entry made and not known.  Nonzero when kept;
** unkeep takes it back when the making fails. */
static int keepname(const std::string &path) {
  if (halfwritten.folder.empty()) return 0;
  halfwritten.made.push_back(path);
  return 1;
}

static void unkeep(int kept) {
  if (kept) halfwritten.made.pop_back();
}


/* Windows finds no folder by a name that ends in a separator: none is
** ever asked for. */
void makefolders(const std::string &path) {
  std::string p = droptrailing(path);
  if (p.empty()) return;  /* "" or the root */
  if (isfolder(p.c_str())) return;
  size_t up = folderlen(p);
  if (up > 0) makefolders(p.substr(0, up));
  checkstops();
  int kept = keepname(p);
  if (makefolder(p.c_str()) != 0) {
    int err = errno;
    unkeep(kept);
    if (!isfolder(p.c_str())) die("cannot create the folder %s: %s", p.c_str(), strerror(err));
  }
}


void writenew(const std::string &path, const std::string &bytes) {
  checkstops();
  int kept = keepname(path);
#if defined(_WIN32)
  int fd = _open(path.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
  int fd = open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW, 0666);
#endif
  if (fd < 0) {
    int err = errno;
    unkeep(kept);  /* not ours to remove */
    die("cannot create %s: %s", path.c_str(), strerror(err));
  }
  FILE *f = fdopen(fd, "wb");
  if (f == NULL) die("cannot write %s: %s", path.c_str(), strerror(errno));
  writeall(f, bytes.data(), bytes.size(), path.c_str());
  if (fclose(f) != 0) die("cannot write %s: %s", path.c_str(), strerror(errno));
}


/* The folder that is extracted into is made whole beside its final name
** and only then given that name, so a failure leaves nothing partial, and
** nothing is ever written through a link that was there before. */
std::string maketempfolder(const std::string &dir) {
  Stat st;
  if (statfile(dir.c_str(), &st) == 0) {
#if !defined(_WIN32)
    struct stat l;
    if (lstat(dir.c_str(), &l) == 0 && S_ISLNK(l.st_mode))
      die("%s is a symbolic link; extract into a new or empty folder", dir.c_str());
#endif
    if ((st.st_mode & S_IFMT) != S_IFDIR || !listfolder(dir).empty())
      die("%s exists; extract into a new or empty folder", dir.c_str());
  }
  holdstops();
  /* The name is kept before the folder is made, and made in place. */
  std::string &tmp = halfwritten.folder;
  std::string pattern = dir.substr(0, folderlen(dir)) + ".ovrelglue-XXXXXX";
  tmp = pattern;
#if defined(_WIN32)
  int ok = 0;
  for (int tries = 0; !ok && tries < 100; tries++) {
    memcpy(&tmp[0], pattern.data(), pattern.size());
    ok = _mktemp_s(&tmp[0], tmp.size() + 1) == 0 && _mkdir(tmp.c_str()) == 0;
  }
#else
  int ok = mkdtemp(&tmp[0]) != NULL;
#endif
  if (!ok) {
    int err = errno;
    tmp.clear();
    die("cannot create a folder beside %s: %s", dir.c_str(), strerror(err));
  }
  return tmp;
}


void finishfolder(const std::string &dir) {
  const char *tmp = halfwritten.folder.c_str();
  checkstops();
  Stat st;
  int existed = statfile(dir.c_str(), &st) == 0;
#if defined(_WIN32)
  /* Windows renames no folder over another: the empty one goes first. */
  if (existed && !listfolder(dir).empty())
    die("%s exists; extract into a new or empty folder", dir.c_str());
  if ((existed && _rmdir(dir.c_str()) != 0) || !MoveFileA(tmp, dir.c_str()))
    die("cannot create %s: error %lu", dir.c_str(), (unsigned long)GetLastError());
#else
  if (chmod(tmp, existed ? st.st_mode & 07777 : newmode()) != 0) die("cannot create %s: %s", dir.c_str(), strerror(errno));
  if (rename(tmp, dir.c_str()) != 0) {
    int err = errno;
    die("cannot create %s: %s", dir.c_str(),
        err == ENOTEMPTY || err == EEXIST ? "it is no longer empty" : strerror(err));
  }
#endif
  halfwritten.made.clear();
  halfwritten.folder.clear();
  releasestops();
}
