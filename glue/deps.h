// deps.h: the files a program needs beside it where it runs.
#ifndef OVREL_GLUE_DEPS_H
#define OVREL_GLUE_DEPS_H

#include <string>
#include <vector>

struct Dep {
  std::string rel;   /* its name beside the program: "numhash.so", "a/b.so" */
  std::string from;  /* where it was found */
};

/* The libraries the launcher loads that must travel with the program, the
** native modules among `names` found through the templates, and the
** libraries those load in turn, each once. */
std::vector<Dep> travellers(const std::string &launcher, const std::vector<std::string> &templates,
                            const std::vector<std::string> &names);

/* The templates for native modules: the script's folder, the tool's own
** module folders, then LUA_CPATH or the engine's default. */
std::vector<std::string> nativepath(const char *scriptfolder, const char *argv0);

/* Refuses a file already beside out that differs from the one to copy. */
void checkdeps(const std::vector<Dep> &deps, const std::string &out);
/* Copies each beside out; one already there unchanged is left alone. */
void copydeps(const std::vector<Dep> &deps, const std::string &out);

#endif /* OVREL_GLUE_DEPS_H */
