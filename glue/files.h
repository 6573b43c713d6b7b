// files.h: reading inputs, the trailer, and writing outputs safely.
#ifndef OVREL_GLUE_FILES_H
#define OVREL_GLUE_FILES_H

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "srglue.h"

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

/* The length of path's folder part, its last separator included; 0 for a
** bare name. */
size_t folderlen(const std::string &path);

/* The file that writing to path replaces: a symbolic link is followed to
** its target, so the link stays a link. */
std::string throughlink(const char *path);

/* Refuses a path that holds anything but a regular file: shown names it. */
void replaceable(const std::string &path, const char *shown);

/* A temporary file in the folder of path, renamed over path by finish; an
** existing file at path keeps its permission bits and owner. */
FILE *maketemp(const std::string &path);
void putbytes(FILE *out, const void *p, size_t n);
/* Copies n bytes from a source into the temporary file. */
void copybytes(FILE *from, const char *path, FILE *to, int64_t n);
void finish(FILE *out, const std::string &path);
/* Removes whatever is half-written: the temporary file, or the temporary
** folder with all that was made in it. */
void droptemp(void);

/* Creates path and every missing folder above it. */
void makefolders(const std::string &path);
/* Writes a new file; an existing one, or a link, is refused, not replaced. */
void writenew(const std::string &path, const std::string &bytes);

/* Refuses a dir that exists and is not an empty folder; creates a private
** folder beside it, whose name it returns, for makefolders and writenew to
** fill.  finishfolder gives it dir's name once it is complete. */
std::string maketempfolder(const std::string &dir);
void finishfolder(const std::string &dir);

#endif /* OVREL_GLUE_FILES_H */
