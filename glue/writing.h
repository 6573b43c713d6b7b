// writing.h: writing outputs safely: whole or not at all.
#ifndef OVREL_GLUE_WRITING_H
#define OVREL_GLUE_WRITING_H

#include <stdint.h>
#include <stdio.h>

#include <string>

/* Refuses a path that holds anything but a regular file: shown names it. */
void replaceable(const std::string &path, const char *shown);

/* A temporary file in the folder of path, renamed over path by finish; an
** existing file at path keeps its permission bits and owner. */
FILE *maketemp(const std::string &path);
void putbytes(FILE *out, const void *p, size_t n);
/* Copies n bytes from a source into the temporary file. */
void copybytes(FILE *from, const char *path, FILE *to, int64_t n);
void finish(FILE *out, const std::string &path);

/* Creates path and every missing folder above it. */
void makefolders(const std::string &path);
/* Writes a new file; an existing one, or a link, is refused, not replaced. */
void writenew(const std::string &path, const std::string &bytes);

/* Refuses a dir that exists and is not an empty folder; creates a private
** folder beside it, whose name it returns, for makefolders and writenew to
** fill.  finishfolder gives it dir's name once it is complete. */
std::string maketempfolder(const std::string &dir);
void finishfolder(const std::string &dir);

#endif /* OVREL_GLUE_WRITING_H */
