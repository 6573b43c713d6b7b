// deps.cpp: the files a program needs beside it where it runs.
//
// A program carries its Lua modules, but not its native ones, nor the
// libraries that its launcher and those modules load.  Which libraries a
// file loads is read from the file itself (image.cpp).  A native module
// takes along every library it loads but the C library's own: a bare
// target has nothing else, and what it has may differ.  The launcher's
// libraries travel when they lie outside the system's folders, and the
// runtime library always, since the machines a program is handed to do not
// have it.  Only files of the launcher's kind travel: a program for
// Windows never gets a Linux library beside it, nor the reverse.
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

#ifndef OVRELGLUE_MODULE_DIR
#define OVRELGLUE_MODULE_DIR ""
#endif


/* ------------------------------------------------------------------------
** Which libraries travel
** --------------------------------------------------------------------- */

/* The libraries of the C library itself, which every Linux system of the
** kind has, matched to the same C library: they never travel.  Everything
** else a native module loads does, the C++ library included. */
static const char *const clibrary[] = {
  "libc.so.", "libm.so.", "libdl.so.", "libpthread.so.", "librt.so.", "libresolv.so.",
  "libutil.so.", "libanl.so.", "libnsl.so.1", "libBrokenLocale.so.", "libmvec.so.",
  "libthread_db.so.", "libc_malloc_debug.so.", "ld-linux", "ld64.so.", NULL
};

static int ofclibrary(const std::string &name) {
  for (const char *const *c = clibrary; *c != NULL; c++)
    if (name.compare(0, strlen(*c), *c) == 0) return 1;
  return 0;
}


/* The runtime library: libovrel.so.N on Linux, ovrel.dll on Windows. */
static int isruntime(const std::string &name) {
  std::string n = name;
  for (char &ch : n) ch = (char)tolower((unsigned char)ch);
  return n.compare(0, 10, "libovrel.s") == 0 || n == "ovrel.dll";
}


/* /lib, /usr/lib, /usr/local/lib and their 32-, 64-bit and multiarch
** folders: what the launcher finds there, a system of the kind has. */
static int systemfolder(const std::string &dir) {
#if defined(_WIN32)
  (void)dir;
  return 0;
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


/* The folders the system's loader searches after the run-paths, as this
** machine has them: LD_LIBRARY_PATH, the folders of /etc/ld.so.conf and
** the includes it names, then the defaults of each word size. */
static std::vector<std::string> loaderfolders() {
  std::vector<std::string> out;
#if !defined(_WIN32)
  const char *env = getenv("LD_LIBRARY_PATH");
  for (std::string e = env ? env : ""; !e.empty();) {
    size_t colon = e.find(':');
    if (colon != 0) out.push_back(e.substr(0, colon));
    e = colon == std::string::npos ? "" : e.substr(colon + 1);
  }
  std::vector<std::string> conf = {"/etc/ld.so.conf"};
  for (size_t i = 0; i < conf.size() && i < 256; i++) {
    FILE *f = fopen(conf[i].c_str(), "r");
    if (f == NULL) continue;
    char line[1024];
    while (fgets(line, sizeof line, f) != NULL) {
      std::string l(line, strcspn(line, "#\r\n"));
      while (!l.empty() && isspace((unsigned char)l.back())) l.pop_back();
      size_t at = l.find_first_not_of(" \t");
      if (at == std::string::npos) continue;
      l = l.substr(at);
      if (l.compare(0, 8, "include ") != 0) {
        if (l[0] == '/') out.push_back(l);
        continue;
      }
      std::string pattern = l.substr(l.find_first_not_of(" \t", 8));
      if (pattern[0] != '/') pattern = folderof(conf[i]) + "/" + pattern;
      std::string dir = folderof(pattern), glob = pattern.substr(dir.size() + 1);
      if (glob.size() > 1 && glob[0] == '*')  /* "*.conf": the only form in use */
        for (const std::string &entry : listfolder(dir))
          if (entry.size() >= glob.size() - 1 &&
              entry.compare(entry.size() - (glob.size() - 1), glob.size() - 1, glob, 1) == 0)
            conf.push_back(dir + "/" + entry);
    }
    fclose(f);
  }
  for (const char *d : {"/lib/x86_64-linux-gnu", "/usr/lib/x86_64-linux-gnu", "/lib/i386-linux-gnu",
                        "/usr/lib/i386-linux-gnu", "/lib64", "/usr/lib64", "/lib32", "/usr/lib32",
                        "/lib", "/usr/lib"})
    out.push_back(d);
#endif
  return out;
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


/* What the program is made for: the launcher's kind and machine, and
** what the launcher brings into every process it starts. */
struct Target {
  Image launcher;
  std::string dir;                    /* the launcher's folder */
  std::vector<std::string> provided;  /* names the loader finds already loaded */
  std::vector<std::string> system;    /* ELF: the loader's folders here */
};


/* A file of the target's kind and machine. */
static int fits(const Target &t, const Image &im) {
  return im.kind == t.launcher.kind && im.machine == t.launcher.machine;
}


/* Where the loader would find library `name` for the file at path, which
** travels as rel.  A PE file: beside it or beside the launcher.  An ELF
** file: through its run-path, then the system's folders.  *to is where the
** library goes beside the program: as far from rel as a run-path from
** $ORIGIN has it from path, so the copy finds it; else beside the program.
** *insystem tells a library found in the system's folders. */
static std::string findlibrary(const Target &t, const std::string &name, const std::string &path,
                               const std::string &rel, const Image &im, int *insystem,
                               std::string *to) {
  struct Place {
    std::string dir;
    bool relative;        /* a run-path entry from $ORIGIN: */
    std::string further;  /* what follows it */
  };
  std::vector<Place> places;
  if (im.kind == 'P') {
    places.push_back({t.dir, false, ""});
    places.push_back({folderof(path), false, ""});
  } else {
    for (const std::string &e : im.runpath) {
      size_t origin = e.compare(0, 7, "$ORIGIN") == 0 ? 7 : e.compare(0, 9, "${ORIGIN}") == 0 ? 9 : 0;
      if (e.empty()) continue;
      if (origin == 0) places.push_back({e, false, ""});
      else places.push_back({folderof(path) + e.substr(origin), true, e.substr(origin)});
    }
    for (const std::string &d : t.system) places.push_back({d, false, ""});
  }
  for (const Place &pl : places) {
    std::string p = pl.dir + "/" + name;
    if (!isfile(p.c_str()) || !fits(t, readimage(p))) continue;
    *insystem = systemfolder(pl.dir);
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
** what that loads, each after what it loads to `order`.  For the launcher
** (rel "") only its runtime and what lies outside the system's folders
** travel: the rest is what a system of its kind has.  For a native module
** every library travels but the C library's and what the launcher brings. */
static void addlibraries(const Target &t, const std::string &path, const std::string &rel,
                         Natives *out, std::vector<std::string> *order,
                         std::vector<std::string> *visiting) {
  Image im = readimage(path);
  for (const std::string &name : im.needed) {
    if (name.empty() || has(t.provided, name) || (im.kind == 'E' && ofclibrary(name))) continue;
    int insystem = 0;
    std::string to;
    std::string found = findlibrary(t, name, path, rel, im, &insystem, &to);
    if (found.empty()) {
      if (isruntime(name) || (im.kind == 'E' && !rel.empty()))
        die("%s needs %s, which is not found%s", path.c_str(), name.c_str(),
            im.kind != 'P' ? "" : rel.empty() ? " beside it" : " beside it or the launcher");
      continue;  /* a system's DLL */
    }
    if (rel.empty() && insystem && !isruntime(name)) continue;
    if (has(*order, to) || has(*visiting, to)) continue;  /* libraries may load each other */
    if (!listed(out->deps, to)) out->deps.push_back(Dep{to, found});
    visiting->push_back(to);
    addlibraries(t, found, to, out, order, visiting);
    order->push_back(to);
  }
}


std::vector<std::string> nativepath(const char *scriptfolder, const char *tooldir,
                                    const std::string &launcher, int kind) {
  const char *suffix = kind == 'P' ? ".dll" : ".so";
  std::vector<std::string> out;
  if (scriptfolder) out.push_back(std::string(scriptfolder) + "?" + suffix);
  std::string dir = folderof(launcher);
  out.push_back((dir.empty() ? "." : dir) + "/?" + suffix);
  /* The tool's own modules and the engine's path serve its own platform. */
#if defined(_WIN32)
  if (kind != 'P') return out;
#else
  if (kind != 'E') return out;
#endif
  if (tooldir && *tooldir) {
    out.push_back(std::string(tooldir) + "?" + suffix);
    if (*OVRELGLUE_MODULE_DIR) out.push_back(std::string(tooldir) + OVRELGLUE_MODULE_DIR "/?" + suffix);
  }
  addtemplates(&out, defaultpath("cpath"));
  return out;
}


/* The file of native module name through the templates, as the engine's
** searchers look: a file of its own, then the file of its first part when
** that exports the module's opening function. */
static std::string findnative(const Target &t, const std::vector<std::string> &templates,
                              const std::string &name, std::string *rel) {
  const char *suffix = t.launcher.kind == 'P' ? ".dll" : ".so";
  for (const std::string &tmpl : templates) {
    std::string path = fill(tmpl, name);
    if (isfile(path.c_str()) && fits(t, readimage(path))) {
      *rel = fill(std::string("?") + suffix, name);
      return path;
    }
  }
  size_t dot = name.find('.');
  if (dot == std::string::npos) return "";
  std::string root = name.substr(0, dot);
  std::string func = name.substr(name.find('-') + 1);  /* "a-b.c" opens as b_c */
  std::replace(func.begin(), func.end(), '.', '_');
  for (const std::string &tmpl : templates) {
    std::string path = fill(tmpl, root);
    if (isfile(path.c_str()) && fits(t, readimage(path)) && exportsymbol(path, "luaopen_" + func)) {
      *rel = root + suffix;
      return path;
    }
  }
  return "";
}


Natives travellers(const std::string &launcher, const Image &image,
                   const std::vector<std::string> &templates, const std::vector<std::string> &names) {
  Natives out;
  Target t;
  t.launcher = image;
  std::string dir = folderof(launcher);
  t.dir = dir.empty() ? std::string(".") : dir;
  if (t.launcher.kind == 'E') {
    t.system = loaderfolders();
    if (!t.launcher.soname.empty()) t.provided.push_back(t.launcher.soname);
  }
  std::vector<std::string> order, visiting;
  addlibraries(t, launcher, "", &out, &order, &visiting);
  out.launcherdeps = out.deps.size();
  for (const std::string &n : t.launcher.needed) t.provided.push_back(n);
  for (const std::string &name : names) {
    std::string rel;
    std::string path = findnative(t, templates, name, &rel);
    if (path.empty()) continue;
    out.found.push_back(name);
    if (listed(out.deps, rel)) continue;
    out.deps.push_back(Dep{rel, path});
    std::vector<std::string> libs, visiting = {rel};
    addlibraries(t, path, rel, &out, &libs, &visiting);
    if (t.launcher.kind == 'E' && !libs.empty()) {
      libs.insert(libs.begin(), rel);
      out.preload.push_back(libs);
    }
  }
  return out;
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
    if (to == out || samefile(to.c_str(), out.c_str()))
      die("%s is where %s must go beside it; choose another output", out.c_str(), d.rel.c_str());
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
