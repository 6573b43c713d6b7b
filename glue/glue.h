// glue.h: what every part of the glue tool shares: the one report and exit
// (report.h), and the records that pass between its jobs.
#ifndef OVREL_GLUE_H
#define OVREL_GLUE_H

#include <algorithm>
#include <string>
#include <vector>

#include "report.h"

/* A Lua module packed into a program. */
struct Module {
  std::string name;    /* as required: "a.b" */
  std::string rel;     /* path below the folder it was found in: "a/b/init.lua" */
  std::string source;  /* path it was read from */
  std::string text;    /* its bytes, unchanged */
  size_t size = 0;     /* their number, also where --show does not keep them */
};

/* Whether v holds s. */
inline int has(const std::vector<std::string> &v, const std::string &s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

#endif /* OVREL_GLUE_H */
