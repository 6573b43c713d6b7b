// deps.h: the files a program needs beside it where it runs.
#ifndef OVREL_GLUE_DEPS_H
#define OVREL_GLUE_DEPS_H

#include <string>
#include <vector>

#include "image.h"

struct Dep {
  std::string rel;   /* its name beside the program: "numhash.so", "a/b.so" */
  std::string from;  /* where it was found */
};

/* What travels beside a program for its native modules. */
struct Natives {
  std::vector<std::string> found;  /* the names found as native modules */
  std::vector<Dep> deps;           /* every file that travels, each once */
  size_t launcherdeps = 0;         /* the first ones, which the launcher loads itself */
  /* ELF: a module's file, then the libraries to load before it, each
  ** after those it loads. */
  std::vector<std::vector<std::string>> preload;
};

/* The libraries the launcher (image, read from it) loads that must travel
** with the program, the native modules among `names` found through the
** templates (a file of their own, or their first part's file that opens
** them too), and every library those load that the C library and the
** launcher do not provide.  Only files of the launcher's kind and machine
** are taken; a library a module needs that is nowhere to be found ends
** the tool. */
Natives travellers(const std::string &launcher, const Image &image,
                   const std::vector<std::string> &templates, const std::vector<std::string> &names);

/* The templates for native modules of the launcher's platform (kind, as
** its image gives it): the script's folder, the launcher's, then for the
** tool's own platform the tool's module folders and LUA_CPATH or the
** engine's default. */
std::vector<std::string> nativepath(const char *scriptfolder, const char *tooldir,
                                    const std::string &launcher, int kind);

/* Refuses a file already beside out that differs from the one to copy. */
void checkdeps(const std::vector<Dep> &deps, const std::string &out);
/* Copies each beside out; one already there unchanged is left alone. */
void copydeps(const std::vector<Dep> &deps, const std::string &out);

#endif /* OVREL_GLUE_DEPS_H */
