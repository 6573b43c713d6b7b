// deps.cpp: the files a program needs beside it where it runs.
//
// A program carries its Lua modules, but not its native ones, nor the
// libraries that its launcher and those modules load.  Which libraries a
// file loads is read from the file itself: the DT_NEEDED entries and the
// run-path of an ELF file, the import table of a PE file.  A library
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
** Reading an image
** --------------------------------------------------------------------- */

/* Bounds what a crafted file can make the tool read. */
#define MAX_TABLE (16 << 20)

struct Image {
  std::vector<std::string> needed;   /* library names, as the file gives them */
  std::vector<std::string> runpath;  /* ELF only, $ORIGIN not yet filled in */
};


/* n bytes at pos into buff, or 0. */
static int readat(FILE *f, uint64_t pos, void *buff, size_t n) {
#if defined(_WIN32)
  if (_fseeki64(f, (int64_t)pos, SEEK_SET) != 0) return 0;
#else
  if (pos > INT64_MAX || fseeko(f, (off_t)pos, SEEK_SET) != 0) return 0;
#endif
  return fread(buff, 1, n, f) == n;
}


static std::string readtext(FILE *f, uint64_t pos, uint64_t limit) {
  std::string s;
  char buff[256];
  size_t n = limit < sizeof buff ? (size_t)limit : sizeof buff;
  if (n == 0 || !readat(f, pos, buff, n)) return s;
  return std::string(buff, strnlen(buff, n));
}


/* ELF, little-endian, 32 or 64 bits: the dynamic section and its strings,
** found through the section headers. */
static void readelf(FILE *f, const unsigned char *h, Image *im) {
  int wide = h[4] == 2;
  if ((h[4] != 1 && !wide) || h[5] != 1) return;
  uint64_t shoff = wide ? glue_le(h + 0x28, 8) : glue_le(h + 0x20, 4);
  unsigned entsize = (unsigned)glue_le(h + (wide ? 0x3a : 0x2e), 2);
  unsigned count = (unsigned)glue_le(h + (wide ? 0x3c : 0x30), 2);
  if (entsize < (wide ? 64u : 40u) || count == 0 || (uint64_t)entsize * count > MAX_TABLE) return;
  std::string sh((size_t)entsize * count, '\0');
  if (!readat(f, shoff, &sh[0], sh.size())) return;
  for (unsigned i = 0; i < count; i++) {
    const unsigned char *s = (const unsigned char *)sh.data() + (size_t)i * entsize;
    if (glue_le(s + 4, 4) != 6) continue;  /* SHT_DYNAMIC */
    uint64_t off = glue_le(s + (wide ? 0x18 : 0x10), wide ? 8 : 4);
    uint64_t size = glue_le(s + (wide ? 0x20 : 0x14), wide ? 8 : 4);
    uint64_t link = glue_le(s + (wide ? 0x28 : 0x18), 4);
    if (link >= count || size > MAX_TABLE) return;
    const unsigned char *str = (const unsigned char *)sh.data() + link * entsize;
    uint64_t stroff = glue_le(str + (wide ? 0x18 : 0x10), wide ? 8 : 4);
    uint64_t strsize = glue_le(str + (wide ? 0x20 : 0x14), wide ? 8 : 4);
    std::string dyn((size_t)size, '\0');
    if (!readat(f, off, &dyn[0], dyn.size())) return;
    size_t step = wide ? 16 : 8;
    for (size_t at = 0; at + step <= dyn.size(); at += step) {
      const unsigned char *d = (const unsigned char *)dyn.data() + at;
      uint64_t tag = glue_le(d, (int)step / 2), val = glue_le(d + step / 2, (int)step / 2);
      if (tag == 0) break;  /* DT_NULL */
      if (val >= strsize) continue;
      if (tag == 1) {  /* DT_NEEDED */
        im->needed.push_back(readtext(f, stroff + val, strsize - val));
      } else if (tag == 15 || tag == 29) {  /* DT_RPATH, DT_RUNPATH */
        std::string path = readtext(f, stroff + val, strsize - val);
        size_t start = 0;
        for (size_t colon; (colon = path.find(':', start)) != std::string::npos; start = colon + 1)
          im->runpath.push_back(path.substr(start, colon - start));
        im->runpath.push_back(path.substr(start));
      }
    }
    return;
  }
}


/* PE: the names in the import table (data directory 1), found through
** the section table. */
static void readpe(FILE *f, Image *im) {
  GluePE pe;
  long entry;
  uint32_t rva, size;
  if (!glue_pe_read(f, &pe) || !glue_pe_directory(&pe, 1, &entry, &rva, &size) || rva == 0) return;
  unsigned nsections = pe.sections;
  std::string sec((size_t)nsections * 40, '\0');
  if (nsections == 0 || !readat(f, (uint64_t)pe.at + GLUE_PE_OPTIONAL + pe.optsize, &sec[0], sec.size()))
    return;
  auto offset = [&](uint64_t r, uint64_t *off) {
    for (unsigned i = 0; i < nsections; i++) {
      const unsigned char *s = (const unsigned char *)sec.data() + (size_t)i * 40;
      uint64_t va = glue_le(s + 12, 4), vsize = std::max(glue_le(s + 8, 4), glue_le(s + 16, 4));
      if (r >= va && r < va + vsize) {
        *off = glue_le(s + 20, 4) + (r - va);
        return 1;
      }
    }
    return 0;
  };
  for (int i = 0; i < 4096; i++) {
    uint64_t at, nameat;
    unsigned char d[20];
    if (!offset(rva + (uint64_t)i * 20, &at) || !readat(f, at, d, sizeof d)) return;
    uint64_t name = glue_le(d + 12, 4);
    if (name == 0) return;  /* the closing all-zero entry */
    if (offset(name, &nameat)) im->needed.push_back(readtext(f, nameat, 256));
  }
}


/* 'E' for an ELF image, 'P' for a PE one, 0 for anything else. */
static int kindof(FILE *f, const unsigned char *h) {
  GluePE pe;
  if (memcmp(h, "\x7f" "ELF", 4) == 0) return 'E';
  return glue_pe_read(f, &pe) ? 'P' : 0;
}


/* What the file at path loads; nothing for a file that is no image. */
static Image readimage(const std::string &path) {
  Image im;
  FILE *f = fopen(path.c_str(), "rb");
  if (f == NULL) die("cannot open %s: %s", path.c_str(), strerror(errno));  /* it was found */
  unsigned char h[64];
  if (readat(f, 0, h, sizeof h)) {
    int kind = kindof(f, h);
    if (kind == 'E') readelf(f, h, &im);
    else if (kind == 'P') readpe(f, &im);
  }
  fclose(f);
  return im;
}


int executable(const std::string &path) {
  FILE *f = fopen(path.c_str(), "rb");
  if (f == NULL) die("cannot open %s: %s", path.c_str(), strerror(errno));
  unsigned char h[64];
  int kind = readat(f, 0, h, sizeof h) ? kindof(f, h) : 0;
  fclose(f);
  return kind != 0;
}


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
