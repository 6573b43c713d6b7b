// search.cpp: where the sources of a program's modules are.
//
// The search follows the templates the way require does: the first file a
// template leads to is the module.  Which modules are required is read
// from the compiled chunks (bytecode.cpp); a name computed at run time
// cannot be seen there, and -m adds such modules by name or by prefix.
#include "search.h"

#include <stdint.h>

#include <algorithm>
#include <set>
#include <utility>

#include "engine.h"
#include "files.h"


int goodname(const std::string &name) {
  return plainparts(name, '.');
}


void addtemplates(std::vector<std::string> *out, const std::string &path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t semi = path.find(';', start);
    if (semi == std::string::npos) semi = path.size();
    if (semi > start) out->push_back(path.substr(start, semi - start));
    start = semi + 1;
  }
}


std::vector<std::string> searchpath(const std::vector<std::string> &includes,
                                    const char *scriptfolder) {
  std::vector<std::string> out;
  for (const std::string &inc : includes) {
    if (inc.find('?') != std::string::npos) {
      addtemplates(&out, inc);
    } else {
      std::string dir = inc.empty() || pathsep(inc.back()) ? inc : inc + "/";
      out.push_back(dir + "?.lua");
      out.push_back(dir + "?/init.lua");
    }
  }
  if (scriptfolder) {
    std::string dir = scriptfolder;
    out.push_back(dir + "?.lua");
    out.push_back(dir + "?/init.lua");
  }
  addtemplates(&out, defaultpath("path"));
  return out;
}


std::string fill(const std::string &tmpl, const std::string &name) {
  std::string path = name;
  std::replace(path.begin(), path.end(), '.', '/');
  std::string out;
  for (char c : tmpl) {
    if (c == '?') out += path;
    else out += c;
  }
  return out;
}


/* Where the folder of a template ends: the last separator before "?". */
static size_t rootlen(const std::string &tmpl) {
  return folderlen(tmpl.substr(0, tmpl.find('?')));
}


int findmodule(const std::vector<std::string> &templates, const std::string &name, Module *m) {
  for (const std::string &tmpl : templates) {
    std::string path = fill(tmpl, name);
    if (!isfile(path.c_str())) continue;
    int64_t len;
    FILE *f = openfile(path.c_str(), &len);
    fitstrailer(path.c_str(), len);
    m->name = name;
    m->source = path;
    m->text = readbytes(f, path.c_str(), len);
    fclose(f);
    m->rel = path.substr(rootlen(tmpl));
    std::replace(m->rel.begin(), m->rel.end(), '\\', '/');
    return 1;
  }
  return 0;
}


typedef std::set<std::pair<uint64_t, uint64_t>> Seen;

/* Collects the files below folder (as paths relative to the template's
** root).  Links can lead back up or to one folder twice: each folder is
** walked once, under the first name met in sorted order.  Only a folder
** that cannot be identified needs the depth bound. */
static void walk(const std::string &root, const std::string &rel, int depth, Seen *seen,
                 std::vector<std::string> *files) {
  uint64_t id[2];
  if (fileidentity((root + rel).c_str(), id) ? !seen->insert({id[0], id[1]}).second : depth > 32)
    return;
  for (const std::string &entry : listfolder(root + rel)) {
    std::string r = rel + "/" + entry;
    std::string full = root + r;
    if (isfolder(full.c_str())) walk(root, r, depth + 1, seen, files);
    else if (isfile(full.c_str())) files->push_back(r);
  }
}


std::vector<std::string> walkprefix(const std::vector<std::string> &templates,
                                    const std::string &prefix) {
  std::vector<std::string> names;
  std::string top = prefix;
  std::replace(top.begin(), top.end(), '.', '/');
  for (const std::string &tmpl : templates) {
    size_t q = tmpl.find('?');
    if (q == std::string::npos || tmpl.find('?', q + 1) != std::string::npos) continue;
    std::string before = tmpl.substr(0, q), after = tmpl.substr(q + 1);
    std::vector<std::string> files;
    if (isfile((before + top + after).c_str())) files.push_back("");
    Seen seen;
    walk(before + top, "", 0, &seen, &files);
    for (const std::string &f : files) {
      /* f is "" for the prefix itself, else "/x/y.lua" below it. */
      std::string p = top + f;
      if (!f.empty()) {
        if (p.size() <= after.size() || p.compare(p.size() - after.size(), after.size(), after) != 0)
          continue;
        p.resize(p.size() - after.size());
      }
      std::replace(p.begin(), p.end(), '/', '.');
      if (goodname(p) && !has(names, p))
        names.push_back(p);
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}
