// show.cpp: what a self-running program carries, shown or written back.
#include "show.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bundle.h"
#include "files.h"
#include "glue.h"


/* Opens a program whose trailer the launcher would run. */
static FILE *openprogram(const char *path, Glue *glue) {
  int64_t len;
  long at;
  FILE *f = openfile(path, &len);
  if (!trailer(f, path, len, glue, &at)) die("%s carries no script (no trailer)", path);
  if (!glue_sound(glue, at))
    die("%s has a damaged trailer (offset %ld, length %ld, file of %lld bytes)", path,
        (long)glue_get32(glue->size1), (long)glue_get32(glue->size2), (long long)len);
  return f;
}


/* One terminal line, whatever the bytes. */
static std::string visible(const std::string &s, size_t max) {
  std::string out = s.substr(0, std::min(s.find('\n'), max));
  if (!out.empty() && out.back() == '\r') out.pop_back();  /* the CR of a CRLF line end */
  for (char &c : out)
    if (((unsigned char)c < 0x20 && c != '\t') || c == 0x7f) c = '?';
  return out;
}


int showprogram(const char *path) {
  Glue glue;
  FILE *f = openprogram(path, &glue);
  /* Only a bundle is read whole; a plain script is shown by its start. */
  std::string chunk = scriptbytes(f, path, &glue, 4096);
  Bundle b;
  int bundle = 0;
  if (chunk.find("--[[ovrelglue 1]]") != std::string::npos) {
    chunk = scriptbytes(f, path, &glue, SIZE_MAX);
    bundle = readbundle(chunk, &b);
  }
  fclose(f);
  std::string script = bundle ? mainscript(chunk, b) : chunk;
  printf("offset: %ld\nlength: %ld\nfirst line: %s\n", (long)glue_get32(glue.size1),
         (long)glue_get32(glue.size2), visible(script, 200).c_str());
  if (bundle) {
    printf("script: %s (%lu bytes)\n", visible(b.script, 200).c_str(), (unsigned long)script.size());
    for (const Module &m : b.modules)
      printf("module: %s from %s (%lu bytes)\n", visible(m.name, 200).c_str(),
             visible(m.source, 4096).c_str(), (unsigned long)m.text.size());
  }
  return 0;
}


/* A path below the folder it is written to: no absolute path, no drive,
** no empty, "." or ".." part. */
static int below(const std::string &rel) {
  if (rel.empty() || rel.find_first_of("\\:") != std::string::npos) return 0;
  size_t start = 0;
  for (;;) {
    size_t slash = rel.find('/', start);
    std::string part = rel.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (part.empty() || part == "." || part == "..") return 0;
    if (slash == std::string::npos) return 1;
    start = slash + 1;
  }
}


struct Entry {
  std::string rel;
  const std::string *bytes;
};


int extractprogram(const char *path, const char *dir) {
  Glue glue;
  FILE *f = openprogram(path, &glue);
  std::string chunk = scriptbytes(f, path, &glue, SIZE_MAX);
  fclose(f);

  Bundle b;
  std::string script;
  std::vector<Entry> files;
  if (readbundle(chunk, &b)) {
    script = mainscript(chunk, b);
    /* The script of a program installed as "tool" beside its package
    ** "tool/..." cannot share the name: it becomes "tool.lua". */
    std::string name = b.script;
    for (const Module &m : b.modules)
      if (m.rel == name || m.rel.compare(0, name.size() + 1, name + "/") == 0) name += ".lua";
    if (!below(name) || name.find('/') != std::string::npos)
      die("%s names its script %s, which is no plain file name", path, b.script.c_str());
    files.push_back({name, &script});
    for (const Module &m : b.modules) {
      if (!below(m.rel)) die("%s carries module %s as %s, a path outside the folder", path,
                             m.name.c_str(), m.rel.c_str());
      int again = 0;
      for (const Entry &e : files) {
        if (e.rel != m.rel) continue;
        if (*e.bytes != m.text) die("%s carries two different files as %s", path, m.rel.c_str());
        again = 1;
      }
      if (!again) files.push_back({m.rel, &m.text});
    }
  } else {
    files.push_back({"script.lua", &chunk});
  }

  std::string root = *dir ? dir : ".";
  if (root.back() != '/' && root.back() != '\\') root += '/';
  for (const Entry &e : files) {
    std::string p = root + e.rel;
    if (isfile(p.c_str()) || isfolder(p.c_str()))
      die("%s exists; extract into a new or empty folder", p.c_str());
  }
  for (const Entry &e : files) {
    std::string p = root + e.rel;
    makefolders(p.substr(0, p.find_last_of('/')));
    writenew(p, *e.bytes);
    printf("%s\n", p.c_str());
  }
  return 0;
}
