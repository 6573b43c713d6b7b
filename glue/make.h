// make.h: making a self-running program.
#ifndef OVREL_GLUE_MAKE_H
#define OVREL_GLUE_MAKE_H

#include <string>
#include <vector>

struct Job {
  const char *script;                 /* a path, or "-" for standard input */
  const char *output;                 /* NULL only when checking */
  const char *launcher;
  std::vector<std::string> includes;  /* -I, in order */
  std::vector<std::string> modules;   /* -m, in order */
  int plain;                          /* the script's bytes, nothing bundled */
  int withdeps;                       /* copy what the program needs beside it */
  int check;                          /* compile and scan, write nothing */
  int systemmodules;                  /* the program searches the target's folders too */
  std::vector<std::string> allowmissing;  /* --allow-missing, in order */
  std::vector<std::string> carry;     /* --include PATH[=NAME], in order */
  int onefile;                        /* carry native modules inside, not beside */
  const char *tooldir;                /* this tool's folder, with its separator, or "" */
};

/* Writes the program, then prints what was bundled and what was not. */
int makeprogram(const Job &job);

#endif /* OVREL_GLUE_MAKE_H */
