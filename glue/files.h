// files.h: reading inputs and the trailer, and the paths of files.
#ifndef OVREL_GLUE_FILES_H
#define OVREL_GLUE_FILES_H

#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "srglue.h"

/* The file attributes of every platform, sizes beyond 2 GB included. */
#if defined(_WIN32)
typedef struct _stati64 Stat;
#define statfile _stati64
#define fstatfile _fstati64
#else
typedef struct stat Stat;
#define statfile stat
#define fstatfile fstat
#endif

/* Opens a regular file for reading and gives its length; refuses anything
** else. */
FILE *openfile(const char *path, int64_t *len);
void seekto(FILE *f, const char *path, int64_t pos);
/* Exactly n bytes from the current position. */
std::string readbytes(FILE *f, const char *path, int64_t n);
std::string readstdin(void);

int samefile(const char *a, const char *b);
int isfolder(const char *path);
int isfile(const char *path);

/* The names in a folder, without "." and "..", sorted; empty when it
** cannot be read. */
std::vector<std::string> listfolder(const std::string &path);
/* The device and inode of the file path leads to (on Windows its volume
** and file index); 0 when they cannot be read. */
int fileidentity(const char *path, uint64_t id[2]);

/* Finds the trailer as the launcher does (glue_find); nonzero when there
** is one, whose offset in the file is then *at.  Whether the launcher runs
** what it points at is glue_sound's judgement. */
int trailer(FILE *f, const char *path, int64_t len, Glue *glue, long *at);
/* The script's bytes as the launcher reads them: from its offset, up to
** its length or the end of the file, and here at most `most`. */
std::string scriptbytes(FILE *f, const char *path, const Glue *glue, size_t most);

/* Whether c separates the parts of a path here: "/", and on Windows "\\"
** too.  Every split of a path in the tool goes through these. */
int pathsep(char c);

/* The length of path's folder part, its last separator (or on Windows
** drive mark) included; 0 for a bare name.  With anyplatform, "/" and
** "\\" both separate, as a name that is read back on either platform. */
size_t folderlen(const std::string &path, int anyplatform = 0);

/* The folder of path without its last separator: "." for a bare name. */
std::string folderof(const std::string &path);

/* path without the separators it ends in; "" for "" or the root. */
std::string droptrailing(const std::string &path);

/* Refuses what holds more bytes than the trailer can point at: "what is
** too large".  A negative count is one not known in full. */
void fitstrailer(const char *what, int64_t bytes);

/* Whether s, split at sep, names a path below a folder: it is not empty,
** holds no separator of paths or drive mark other than sep, and no part is
** empty, "." or "..".  A module name's parts are split at '.', a relative
** path's at '/'. */
int plainparts(const std::string &s, char sep);

/* The file that writing to path replaces: a symbolic link is followed to
** its target, so the link stays a link. */
std::string throughlink(const char *path);

#endif /* OVREL_GLUE_FILES_H */
