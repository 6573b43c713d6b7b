// carry.cpp: the files a program carries inside it, gathered, written and
// read back (the format is srdata.h's).
//
// A carried file keeps its bytes between the launcher's image and the
// script, so the launcher never reads it: a program starts as fast with
// 100 MB of data as without, and the runtime's ovrel.app reads one file
// at a time from the program's own file.
#include "carry.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <unordered_map>

#if defined(_WIN32)
#include <direct.h>
#define getcwd _getcwd
#else
#include <unistd.h>
#endif

#include "files.h"
#include "glue.h"
#include "writing.h"


/* ------------------------------------------------------------------------
** Gathering
** --------------------------------------------------------------------- */

/* path made absolute and its "." and ".." parts resolved, as text: the
** parts of a name, "/" between them, and a leading "/" (or on Windows a
** drive "C:") for the root. */
static std::vector<std::string> pathparts(const std::string &path, std::string *root) {
  std::string full = path;
  int absolute = !path.empty() && pathsep(path[0]);
#if defined(_WIN32)
  absolute = absolute || (path.size() >= 2 && path[1] == ':');
#endif
  if (!absolute) {
    char here[4096];
    if (getcwd(here, sizeof here) == NULL) die("cannot tell the current folder: %s", strerror(errno));
    full = std::string(here) + "/" + path;
  }
  *root = "";
#if defined(_WIN32)
  if (full.size() >= 2 && full[1] == ':') *root = full.substr(0, 2), full.erase(0, 2);
#endif
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= full.size()) {
    size_t j = i;
    while (j < full.size() && !pathsep(full[j])) j++;
    std::string part = full.substr(i, j - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = j + 1;
  }
  return parts;
}


/* The name of path below folder, "/" between its parts; "" when it does
** not lie below it. */
static std::string namebelow(const std::string &path, const std::string &folder) {
  std::string r1, r2;
  std::vector<std::string> p = pathparts(path, &r1), f = pathparts(folder, &r2);
  if (r1 != r2 || p.size() <= f.size() || !std::equal(f.begin(), f.end(), p.begin())) return "";
  std::string name;
  for (size_t i = f.size(); i < p.size(); i++) name += (name.empty() ? "" : "/") + p[i];
  return name;
}


/* A folder reached through a symbolic link is not walked: it may lead
** back up, without end. */
static int linkedfolder(const std::string &path) {
#if defined(_WIN32)
  (void)path;
  return 0;
#else
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && isfolder(path.c_str());
#endif
}


void carryfile(std::vector<Carry> *out, const std::string &name, const std::string &from, unsigned kind) {
  Stat st;
  if (statfile(from.c_str(), &st) != 0) die("cannot include %s: %s", from.c_str(), strerror(errno));
  if (name.size() > 0xffff) die("cannot include %s: its name is longer than 65535 bytes", from.c_str());
  Carry c;
  c.name = name;
  c.from = from;
  c.kind = kind;
  c.size = (int64_t)st.st_size;
  out->push_back(c);
}


/* Every file below a folder, hidden entries (".name") aside. */
static void walk(std::vector<Carry> *out, const std::string &name, const std::string &folder,
                 std::vector<std::string> *hidden) {
  for (const std::string &entry : listfolder(folder)) {
    std::string path = folder + "/" + entry, inside = name + "/" + entry;
    if (entry[0] == '.') {
      hidden->push_back(inside);
    } else if (isfolder(path.c_str())) {
      if (linkedfolder(path)) hidden->push_back(inside);
      else walk(out, inside, path, hidden);
    } else if (isfile(path.c_str())) {
      carryfile(out, inside, path, DATA_FILE);
    } else {
      die("cannot include %s: it is neither a file nor a folder", path.c_str());
    }
  }
}


std::vector<Carry> includedfiles(const std::vector<std::string> &args, const std::string &folder,
                                 std::vector<std::string> *hidden) {
  std::vector<Carry> out;
  for (const std::string &arg : args) {
    /* PATH=NAME splits at its last "=", unless PATH as a whole exists. */
    std::string path = arg, name;
    size_t eq = arg.rfind('=');
    Stat st;
    if (eq != std::string::npos && statfile(arg.c_str(), &st) != 0) {
      path = arg.substr(0, eq);
      name = arg.substr(eq + 1);
      if (!plainparts(name, '/'))
        die("--include %s: %s is no name below the program's folder (a/b.txt: no \"..\", \".\", "
            "empty or absolute part)", arg.c_str(), name.c_str());
    } else {
      name = namebelow(path, folder);
      if (name.empty())
        die("--include %s: it lies outside the script's folder %s; give it a name: --include %s=NAME",
            arg.c_str(), folder.c_str(), arg.c_str());
    }
    if (isfolder(path.c_str())) walk(&out, name, droptrailing(path), hidden);
    else if (isfile(path.c_str())) carryfile(&out, name, path, DATA_FILE);
    else if (statfile(path.c_str(), &st) != 0) die("cannot include %s: %s", path.c_str(), strerror(errno));
    else die("cannot include %s: it is neither a file nor a folder", path.c_str());
  }
  std::sort(out.begin(), out.end(), [](const Carry &a, const Carry &b) { return a.name < b.name; });
  for (size_t i = 1; i < out.size(); i++)
    if (out[i].name == out[i - 1].name)
      die("two files would be carried as %s: %s and %s", out[i].name.c_str(), out[i - 1].from.c_str(),
          out[i].from.c_str());
  return out;
}


/* ------------------------------------------------------------------------
** Writing
** --------------------------------------------------------------------- */

static void put(std::string *s, uint64_t v, int n) {
  for (int i = 0; i < n; i++) *s += (char)(unsigned char)(v >> (8 * i));
}


static std::string index(const std::vector<Carry> &files) {
  std::string s;
  int64_t offset = 0;
  for (const Carry &c : files) {
    put(&s, (uint64_t)offset, 4);
    put(&s, (uint64_t)c.size, 4);
    put(&s, c.name.size(), 2);
    put(&s, c.kind, 1);
    put(&s, 0, 1);
    s += c.name;
    offset += c.size;
  }
  return s;
}


int64_t carriedsize(const std::vector<Carry> &files) {
  if (files.empty()) return 0;
  int64_t n = (int64_t)sizeof(DataRecord);
  for (const Carry &c : files) n += DATA_ENTRY + (int64_t)c.name.size() + c.size;
  return n;
}


void writecarried(FILE *out, const std::vector<Carry> &files) {
  if (files.empty()) return;
  int64_t total = 0;
  for (const Carry &c : files) {
    int64_t len;
    FILE *f = openfile(c.from.c_str(), &len);
    if (len != c.size) die("%s changed while the program was made", c.from.c_str());
    copybytes(f, c.from.c_str(), out, len);
    fclose(f);
    total += len;
    checkstops();
  }
  std::string ix = index(files);
  putbytes(out, ix.data(), ix.size());
  std::string record(DATA_SIG);
  put(&record, ix.size(), 4);
  put(&record, (uint64_t)total, 4);
  putbytes(out, record.data(), record.size());
}


/* ------------------------------------------------------------------------
** Reading back
** --------------------------------------------------------------------- */

std::vector<Carry> readcarried(FILE *f, const char *path, const Glue &glue) {
  std::vector<Carry> out;
  DataSpan span;
  int found = data_locate(f, &glue, &span);
  if (found < 0) die("%s carries files, but their record is damaged", path);
  if (found == 0) return out;
  seekto(f, path, span.index);
  std::string ix = readbytes(f, path, span.size);
  size_t pos = 0;
  DataEntry e;
  int step;
  std::unordered_map<std::string, int> seen;
  while ((step = data_next((const unsigned char *)ix.data(), ix.size(), span.length, &pos, &e)) > 0) {
    Carry c;
    c.name.assign(e.name, e.namelen);
    c.kind = e.kind;
    c.size = e.size;
    c.at = span.files + e.offset;
    if (!plainparts(c.name, '/') || !seen.emplace(c.name + (char)c.kind, 1).second)
      die("%s carries a file under a name it cannot have", path);
    out.push_back(c);
  }
  if (step < 0) die("%s carries files, but their index is damaged", path);
  return out;
}
