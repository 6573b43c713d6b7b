// deps.cpp: the files a program needs beside it where it runs.
//
// A program carries its Lua modules, but not its native ones, nor the
// libraries that its launcher and those modules load.  Which libraries a
// file loads is read from the file itself (image.cpp).  A library
// travels when the loader would find it beside the file that loads it, or
// through a run-path relative to that file, outside the system's library
// folders; the runtime library travels wherever it is found, since the
// machines a program is handed to do not have it.  What the system
// provides (the C library, the engine for a shared-library launcher) stays.
#include "deps.h"

#include <ctype.h>
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#if !defined(_WIN32)
#include <limits.h>
#endif

#include "engine.h"
#include "files.h"
#include "image.h"
#include "writing.h"
#include "glue.h"
#include "search.h"

#if defined(_WIN32)
#define MODULE_SUFFIX ".dll"
#else
#define MODULE_SUFFIX ".so"
#endif

#ifndef OVRELGLUE_MODULE_DIR
#define OVRELGLUE_MODULE_DIR ""
#endif


/* ------------------------------------------------------------------------
** Which libraries travel
** --------------------------------------------------------------------- */

/* The runtime library: libovrel.so.N here, ovrel.dll on Windows. */
static int isruntime(const std::string &name) {
  std::string n = name;
  for (char &ch : n) ch = (char)tolower((unsigned char)ch);
  return n.compare(0, 10, "libovrel.s") == 0 || n == "ovrel.dll";
}


/* /lib, /usr/lib, /usr/local/lib and their 32-, 64-bit and multiarch
** folders: whatever is there, a system of the kind has. */
static int systemfolder(const std::string &dir) {
#if defined(_WIN32)
  (void)dir;
  return 0;  /* only beside the program or the module: never the system's */
#else
  char real[PATH_MAX];
  std::string d = realpath(dir.c_str(), real) != NULL ? real : dir;  /* "lua/5.1/../.." */
  while (d.size() > 1 && d.back() == '/') d.pop_back();
  for (const char *root : {"/lib", "/usr/lib", "/usr/local/lib"}) {
    size_t n = strlen(root);
    if (d.compare(0, n, root) != 0) continue;
    std::string rest = d.substr(n);
    if (rest.empty() || rest == "32" || rest == "64") return 1;
    if (rest[0] == '/' && rest.find('/', 1) == std::string::npos && rest.find("-linux-") != std::string::npos)
      return 1;
  }
  return 0;
#endif
}


/* rel's folder, then more, as a path below the program's folder with "."
** and ".." parts resolved; "" when it would climb out of it. */
static std::string below(const std::string &rel, const std::string &more) {
  std::vector<std::string> parts;
  std::string path = folderof(rel) + "/" + more;
  for (size_t start = 0; start <= path.size();) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    if (part == "..") {
      if (parts.empty()) return "";
      parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string out;
  for (const std::string &p : parts) out += (out.empty() ? "" : "/") + p;
  return out;
}


/* Where the loader would find library `name` for the file at path, which
** travels as rel: beside it, or on Windows beside the launcher too;
** through its run-path.  *to is where the library goes beside the program:
** as far from rel as the run-path has it from path, so the copy finds it;
** else beside the program. */
static std::string findlibrary(const std::string &name, const std::string &path,
                               const std::string &rel, const Image &im,
                               const std::string &launcherdir, int *own, std::string *to) {
  struct Place {
    std::string dir;
    bool relative;        /* a run-path entry from $ORIGIN: */
    std::string further;  /* what follows it */
  };
  std::vector<Place> places;
#if defined(_WIN32)
  (void)im;
  (void)rel;
  places.push_back({launcherdir, false, ""});
  places.push_back({folderof(path), false, ""});
#else
  (void)launcherdir;
  for (const std::string &e : im.runpath) {
    size_t origin = e.compare(0, 7, "$ORIGIN") == 0 ? 7 : e.compare(0, 9, "${ORIGIN}") == 0 ? 9 : 0;
    if (e.empty()) continue;
    if (origin == 0) places.push_back({e, false, ""});
    else places.push_back({folderof(path) + e.substr(origin), true, e.substr(origin)});
  }
#endif
  for (const Place &pl : places) {
    std::string p = pl.dir + "/" + name;
    if (!isfile(p.c_str())) continue;
    *own = !systemfolder(pl.dir);
    *to = pl.relative ? below(rel, pl.further + "/" + name) : "";
    if (to->empty()) *to = name;
    return p;
  }
  return "";
}


static int listed(const std::vector<Dep> &deps, const std::string &rel) {
  return std::any_of(deps.begin(), deps.end(), [&](const Dep &d) { return d.rel == rel; });
}


/* Adds what the file at path, travelling as rel, loads that travels, and
** what that loads. */
static void addlibraries(const std::string &path, const std::string &rel,
                         const std::string &launcherdir, std::vector<Dep> *deps) {
  Image im = readimage(path);
  for (const std::string &name : im.needed) {
    int own = 0;
    std::string to;
    std::string found = findlibrary(name, path, rel, im, launcherdir, &own, &to);
    if (found.empty() || !(own || isruntime(name)) || listed(*deps, to)) continue;
    deps->push_back(Dep{to, found});
    addlibraries(found, to, launcherdir, deps);
  }
}


std::vector<std::string> nativepath(const char *scriptfolder, const char *tooldir) {
  std::vector<std::string> out;
  if (scriptfolder) out.push_back(std::string(scriptfolder) + "?" MODULE_SUFFIX);
  if (tooldir && *tooldir) {
    out.push_back(std::string(tooldir) + "?" MODULE_SUFFIX);
    if (*OVRELGLUE_MODULE_DIR)
      out.push_back(std::string(tooldir) + OVRELGLUE_MODULE_DIR "/?" MODULE_SUFFIX);
  }
  addtemplates(&out, defaultpath("cpath"));
  return out;
}


std::vector<Dep> travellers(const std::string &launcher, const std::vector<std::string> &templates,
                            const std::vector<std::string> &names) {
  std::vector<Dep> deps;
  std::string launcherdir = folderof(launcher);
  addlibraries(launcher, "", launcherdir, &deps);
  for (const std::string &name : names) {
    std::string rel = fill("?" MODULE_SUFFIX, name);
    for (const std::string &tmpl : templates) {
      std::string path = fill(tmpl, name);
      if (!isfile(path.c_str())) continue;
      if (!listed(deps, rel)) {
        deps.push_back(Dep{rel, path});
        addlibraries(path, rel, launcherdir, &deps);
      }
      break;
    }
  }
  return deps;
}


/* ------------------------------------------------------------------------
** Copying
** --------------------------------------------------------------------- */

static std::string slurp(const std::string &path) {
  int64_t len;
  FILE *f = openfile(path.c_str(), &len);
  std::string bytes = readbytes(f, path.c_str(), len);
  fclose(f);
  return bytes;
}


void checkdeps(const std::vector<Dep> &deps, const std::string &out) {
  std::string dir = folderof(out);
  for (const Dep &d : deps) {
    std::string to = dir + "/" + d.rel;
    if (samefile(to.c_str(), d.from.c_str())) continue;
    if ((isfile(to.c_str()) && slurp(to) != slurp(d.from)) || isfolder(to.c_str()))
      die("%s is already there and differs from %s; it is not replaced", to.c_str(),
          d.from.c_str());
    /* A file where a folder of the copy must go would stop it half-way. */
    for (std::string f = folderof(to); f.size() > dir.size(); f = folderof(f)) {
      if (f == out) die("%s must go into a folder named %s; choose another output", d.rel.c_str(), out.c_str());
      Stat st;
      if (statfile(f.c_str(), &st) == 0 && !isfolder(f.c_str()))
        die("%s is not a folder, and %s goes into it; it is not replaced", f.c_str(), to.c_str());
    }
  }
}


void copydeps(const std::vector<Dep> &deps, const std::string &out) {
  std::string dir = folderof(out);
  for (const Dep &d : deps) {
    std::string to = dir + "/" + d.rel;
    if (samefile(to.c_str(), d.from.c_str()) || isfile(to.c_str())) continue;  /* checked equal */
    makefolders(folderof(to));
    std::string bytes = slurp(d.from);
    FILE *tmp = maketemp(to);
    putbytes(tmp, bytes.data(), bytes.size());
    finish(tmp, to);
  }
}
