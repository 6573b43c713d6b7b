// glue.h: what every part of the glue tool shares: the one report and exit,
// and the records that pass between its jobs.
#ifndef OVREL_GLUE_H
#define OVREL_GLUE_H

#include <string>
#include <vector>

/* Writes "ovrelglue: message" to stderr, removes a half-written output and
** exits with status 1. */
[[noreturn]] void die(const char *fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

/* One line "ovrelglue: message" on stderr, for the summary. */
void note(const char *fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

/* A Lua module packed into a program. */
struct Module {
  std::string name;    /* as required: "a.b" */
  std::string rel;     /* path below the folder it was found in: "a/b/init.lua" */
  std::string source;  /* path it was read from */
  std::string text;    /* its bytes, unchanged */
  size_t size = 0;     /* their number, also where --show does not keep them */
};

#endif /* OVREL_GLUE_H */
