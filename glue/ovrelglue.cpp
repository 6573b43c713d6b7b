// ovrelglue.cpp: makes a self-running program from the launcher and a script.
//
// The output is the launcher's image, the script and a Glue trailer, written
// to a temporary file beside the output and renamed over it only once it is
// complete, so a refusal or a failure never leaves a half-written program.
// A launcher that already carries a script gives only its image: programs
// are never stacked.  Every refusal is one line "ovrelglue: ..." and exit
// status 1.
#include <errno.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "selfpath.h"
#include "srglue.h"

#ifndef OVRELGLUE_LAUNCHER
#define OVRELGLUE_LAUNCHER "ovrelrun"
#endif

static const char usage[] =
    "usage: ovrelglue SCRIPT -o OUTPUT [--launcher PATH]\n"
    "       ovrelglue --show FILE\n"
    "       ovrelglue --help\n"
    "\n"
    "Writes OUTPUT as a self-running program: the launcher, then SCRIPT, then a\n"
    "16-byte trailer; OUTPUT is marked executable.  The launcher is\n"
    "" OVRELGLUE_LAUNCHER " beside this tool unless --launcher names another; one that\n"
    "already carries a script gives only its own image.\n"
    "\n"
    "--show prints the offset, length and first line of the script that FILE\n"
    "carries, without running it.\n";

static char *tmpname;  /* the half-written output, removed on any refusal */


[[noreturn]] static void die(const char *fmt, ...) {
  fflush(stdout);
  fputs("ovrelglue: ", stderr);
  va_list ap;
  va_start(ap, fmt);
  vfprintf(stderr, fmt, ap);
  va_end(ap);
  fputc('\n', stderr);
  if (tmpname) remove(tmpname);
  exit(EXIT_FAILURE);
}


/* ------------------------------------------------------------------------
** Files
** --------------------------------------------------------------------- */

#if defined(_WIN32)
typedef struct _stati64 Stat;
#define statfile _stati64
#define fstatfile _fstati64
#else
typedef struct stat Stat;
#define statfile stat
#define fstatfile fstat
#endif


/* Opens a regular file for reading and gives its length. */
static FILE *openfile(const char *path, int64_t *len) {
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


static void seekto(FILE *f, const char *path, int64_t pos) {
#if defined(_WIN32)
  int rc = _fseeki64(f, pos, SEEK_SET);
#else
  int rc = fseeko(f, (off_t)pos, SEEK_SET);
#endif
  if (rc != 0) die("cannot seek in %s: %s", path, strerror(errno));
}


/* Copies n bytes; a source shorter than its length has changed under us. */
static void copy(FILE *from, const char *path, FILE *to, int64_t n) {
  static char buff[65536];
  while (n > 0) {
    size_t want = n < (int64_t)sizeof buff ? (size_t)n : sizeof buff;
    size_t got = fread(buff, 1, want, from);
    if (got != want) {
      if (ferror(from)) die("cannot read %s: %s", path, strerror(errno));
      die("%s became shorter while it was read", path);
    }
    if (fwrite(buff, 1, got, to) != got) die("cannot write %s: %s", tmpname, strerror(errno));
    n -= (int64_t)got;
  }
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


static int samefile(const char *a, const char *b) {
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


/* ------------------------------------------------------------------------
** Trailer
** --------------------------------------------------------------------- */

/* Reads the last 16 bytes; nonzero when they are a trailer. */
static int trailer(FILE *f, const char *path, int64_t len, Glue *glue) {
  if (len < (int64_t)sizeof *glue) return 0;
  seekto(f, path, len - (int64_t)sizeof *glue);
  if (fread(glue, sizeof *glue, 1, f) != 1) die("cannot read %s: %s", path, strerror(errno));
  return memcmp(glue->sig, GLUE_SIG, GLUE_SIGLEN) == 0;
}


/* A trailer is sound when the script it points at lies between the start
** of the file and the trailer itself. */
static int sound(const Glue *glue, int64_t len) {
  int64_t size1 = glue_get32(glue->size1), size2 = glue_get32(glue->size2);
  return size1 >= 0 && size2 >= 0 && size1 + size2 <= len - (int64_t)sizeof *glue;
}


/* ------------------------------------------------------------------------
** Commands
** --------------------------------------------------------------------- */

static int show(const char *path) {
  int64_t len;
  FILE *f = openfile(path, &len);
  Glue glue;
  if (!trailer(f, path, len, &glue)) die("%s carries no script (no trailer)", path);
  if (!sound(&glue, len))
    die("%s has a damaged trailer (offset %ld, length %ld, file of %lld bytes)", path,
        (long)glue_get32(glue.size1), (long)glue_get32(glue.size2), (long long)len);
  int32_t offset = glue_get32(glue.size1), length = glue_get32(glue.size2);

  char line[201];
  size_t n = 0;
  seekto(f, path, offset);
  for (int c; n < sizeof line - 1 && (int32_t)n < length && (c = getc(f)) != EOF && c != '\n';)
    line[n++] = (char)c;
  if (n > 0 && line[n - 1] == '\r') n--;  /* the CR of a CRLF line end */
  line[n] = '\0';
  for (size_t i = 0; i < n; i++)  /* one terminal line, whatever the bytes */
    if (((unsigned char)line[i] < 0x20 && line[i] != '\t') || line[i] == 0x7f) line[i] = '?';
  fclose(f);
  printf("offset: %ld\nlength: %ld\nfirst line: %s\n", (long)offset, (long)length, line);
  return 0;
}


/* The default launcher: beside this tool, found the way the launcher
** finds itself. */
static char *deflauncher(const char *argv0) {
  char self[SELFPATH_MAX];
  if (argv0 == NULL || !selfpath(argv0, self, sizeof self))
    die("cannot find this tool's own folder; name the launcher with --launcher");
  char *end = strrchr(self, '/');
#if defined(_WIN32)
  char *bs = strrchr(self, '\\');
  if (bs && (end == NULL || bs > end)) end = bs;
#endif
  size_t dirlen = end ? (size_t)(end - self) + 1 : 0;
  char *path = (char *)malloc(dirlen + sizeof OVRELGLUE_LAUNCHER);
  if (path == NULL) die("out of memory");
  memcpy(path, self, dirlen);
  strcpy(path + dirlen, OVRELGLUE_LAUNCHER);
  return path;
}


/* A temporary file in the output's folder, so the final rename stays
** within one file system. */
static FILE *maketemp(const char *output) {
  tmpname = (char *)malloc(strlen(output) + sizeof ".XXXXXX");
  if (tmpname == NULL) die("out of memory");
  strcat(strcpy(tmpname, output), ".XXXXXX");
#if defined(_WIN32)
  int fd = -1;
  if (_mktemp_s(tmpname, strlen(tmpname) + 1) == 0)
    fd = _open(tmpname, _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
  int fd = mkstemp(tmpname);
#endif
  if (fd < 0) {
    int err = errno;
    free(tmpname);
    tmpname = NULL;
    die("cannot create %s: %s", output, strerror(err));
  }
  FILE *f = fdopen(fd, "wb");
  if (f == NULL) die("cannot write %s: %s", tmpname, strerror(errno));
  return f;
}


static void finish(FILE *out, const char *output) {
  if (fflush(out) != 0) die("cannot write %s: %s", tmpname, strerror(errno));
#if !defined(_WIN32)
  if (fsync(fileno(out)) != 0) die("cannot write %s: %s", tmpname, strerror(errno));
  mode_t mask = umask(0);
  umask(mask);
  if (fchmod(fileno(out), 0777 & ~mask) != 0)
    die("cannot mark %s executable: %s", tmpname, strerror(errno));
#endif
  if (fclose(out) != 0) die("cannot write %s: %s", tmpname, strerror(errno));
#if defined(_WIN32)
  if (!MoveFileExA(tmpname, output, MOVEFILE_REPLACE_EXISTING))
    die("cannot create %s: error %lu", output, (unsigned long)GetLastError());
#else
  if (rename(tmpname, output) != 0) die("cannot create %s: %s", output, strerror(errno));
#endif
  free(tmpname);
  tmpname = NULL;
}


static int glue(const char *script, const char *output, const char *launcher) {
  int64_t slen, llen;
  FILE *s = openfile(script, &slen);
  FILE *l = openfile(launcher, &llen);
  if (samefile(output, script)) die("%s is the script itself; choose another output", output);
  if (samefile(output, launcher)) die("%s is the launcher itself; choose another output", output);
  Stat st;
  if (statfile(output, &st) == 0 && (st.st_mode & S_IFMT) == S_IFDIR)
    die("%s is a folder", output);

  int64_t image = llen;
  Glue glue;
  if (trailer(l, launcher, llen, &glue)) {
    if (!sound(&glue, llen)) die("%s has a damaged trailer; use a bare launcher", launcher);
    image = glue_get32(glue.size1);  /* drop the script it carries */
  }
  if (image > INT32_MAX)
    die("%s is too large (%lld bytes; the trailer holds at most %ld)", launcher,
        (long long)image, (long)INT32_MAX);
  if (slen > INT32_MAX)
    die("%s is too large (%lld bytes; the trailer holds at most %ld)", script,
        (long long)slen, (long)INT32_MAX);

  FILE *out = maketemp(output);
  seekto(l, launcher, 0);
  copy(l, launcher, out, image);
  copy(s, script, out, slen);
  memcpy(glue.sig, GLUE_SIG, GLUE_SIGLEN);
  glue_put32(glue.size1, (int32_t)image);
  glue_put32(glue.size2, (int32_t)slen);
  if (fwrite(&glue, sizeof glue, 1, out) != 1) die("cannot write %s: %s", tmpname, strerror(errno));
  fclose(s);
  fclose(l);
  finish(out, output);
  return 0;
}


int main(int argc, char **argv) {
  const char *script = NULL, *output = NULL, *launcher = NULL, *shown = NULL;
  for (int i = 1; i < argc; i++) {
    const char *a = argv[i];
    if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0) {
      fputs(usage, stdout);
      return 0;
    } else if (strcmp(a, "-o") == 0 || strcmp(a, "--launcher") == 0 || strcmp(a, "--show") == 0) {
      if (i + 1 >= argc) die("%s needs a file name (try --help)", a);
      const char **slot = a[1] == 'o' ? &output : a[2] == 'l' ? &launcher : &shown;
      if (*slot) die("%s given twice (try --help)", a);
      *slot = argv[++i];
    } else if (a[0] == '-' && a[1] != '\0') {
      die("unknown option %s (try --help)", a);
    } else if (script) {
      die("more than one script: %s and %s (try --help)", script, a);
    } else {
      script = a;
    }
  }
  if (shown) {
    if (script || output || launcher) die("--show takes nothing else (try --help)");
    return show(shown);
  }
  if (script == NULL) die("no script given (try --help)");
  if (output == NULL) die("no output given: -o OUTPUT (try --help)");
  char *beside = launcher ? NULL : deflauncher(argv[0]);
  int status = glue(script, output, launcher ? launcher : beside);
  free(beside);
  return status;
}
