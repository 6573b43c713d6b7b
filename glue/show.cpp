// show.cpp: what a self-running program carries, shown or written back.
#include "show.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "bundle.h"
#include "carry.h"
#include "files.h"
#include "writing.h"
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


/* A name on one terminal line, whatever its bytes: no control byte. */
static std::string printable(const std::string &s, size_t max) {
  std::string out = s.substr(0, max);
  for (char &c : out)
    if (((unsigned char)c < 0x20 && c != '\t') || c == 0x7f) c = '?';
  return out;
}


/* The first line of a text, without the CR of a CR LF line end. */
static std::string firstline(const std::string &s, size_t max) {
  std::string out = s.substr(0, std::min(s.find('\n'), max));
  if (!out.empty() && out.back() == '\r') out.pop_back();
  return printable(out, max);
}


/* The start of the script, enough to tell a bundle: its "#" line, however
** long, and the prelude's opening after it. */
static std::string scripthead(FILE *f, const char *path, const Glue *glue) {
  size_t want = 4096;
  for (;;) {
    std::string s = scriptbytes(f, path, glue, want);
    if (s.size() < want || s[0] != '#' || s.find('\n') != std::string::npos) return s;
    want *= 4;
  }
}


int showprogram(const char *path) {
  Glue glue;
  FILE *f = openprogram(path, &glue);
  /* Only a bundle is read whole, and its modules only measured. */
  std::string chunk = scripthead(f, path, &glue);
  Bundle b;
  int bundle = 0;
  if (chunk.find("--[[ovrelglue ") != std::string::npos) {
    chunk = scriptbytes(f, path, &glue, SIZE_MAX);
    bundle = readbundle(chunk, &b, 0);
  }
  std::vector<Carry> carried = readcarried(f, path, glue);
  fclose(f);
  if (bundle) mainscript(&chunk, b);
  /* Made whole before any of it is printed: a failure prints nothing. */
  std::string out = "offset: " + std::to_string(glue_get32(glue.size1)) + "\nlength: " +
                    std::to_string(glue_get32(glue.size2)) + "\nfirst line: " + firstline(chunk, 200) + "\n";
  if (bundle) {
    out += "script: " + printable(b.script, 200) + " (" + std::to_string(chunk.size()) + " bytes)\n";
    for (const Module &m : b.modules)
      out += "module: " + printable(m.name, 200) + " from " + printable(m.source, 4096) + " (" +
             std::to_string(m.size) + " bytes)\n";
    if (b.kind == BUNDLE_SEALED && b.path.empty())
      out += "modules: sealed, from its bundle and what it carries only (--onefile)\n";
    else if (b.kind == BUNDLE_SEALED)
      out += "modules: sealed, from its bundle and its own folder only\n";
    else if (b.kind == BUNDLE_SYSTEM)
      out += "modules: from its bundle, its own folder, then the system's (--system-modules)\n";
    for (const std::string &rel : b.beside) out += "beside it: " + printable(rel, 4096) + "\n";
  }
  if (!bundle)
    out += "modules: the launcher's paths, not sealed\n";
  for (const Carry &c : carried)
    out += (c.kind == DATA_NATIVE ? "carried: " : "included: ") + printable(c.name, 4096) + " (" +
           std::to_string(c.size) + " bytes)\n";
  fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}


struct Entry {
  std::string rel;
  const std::string *bytes;
};


/* Adds a file to write; one path twice must hold the same bytes. */
static void addentry(std::vector<Entry> *files, std::unordered_map<std::string, size_t> *at,
                     const char *path, const std::string &rel, const std::string *bytes) {
  auto seen = at->emplace(rel, files->size());
  if (seen.second) files->push_back({rel, bytes});
  else if (*(*files)[seen.first->second].bytes != *bytes)
    die("%s carries two different files as %s", path, printable(rel, 4096).c_str());
}


/* The files to write: the script first, then each module once, then the
** files the program carries, below the script's folder (base).  A module
** name holds no "." in a folder part, so the script's folder "script.d"
** is no module's, and the script shadows none when the tree is glued
** again. */
static std::vector<Entry> entries(const char *path, const Bundle *b, const std::string &script,
                                  const std::vector<Carry> &carried, const std::vector<std::string> &bytes) {
  std::string base = b ? SCRIPT_FOLDER "/" : "";
  if (b && (!plainparts(b->script, '/') || b->script.find('/') != std::string::npos))
    die("%s names its script %s, which is no plain file name", path, printable(b->script, 200).c_str());
  std::vector<Entry> files;
  std::unordered_map<std::string, size_t> at;
  addentry(&files, &at, path, b ? base + b->script : "script.lua", &script);
  for (size_t i = 0; b && i < b->modules.size(); i++) {
    const Module &m = b->modules[i];
    if (!plainparts(m.rel, '/'))
      die("%s carries module %s as %s, a path outside the folder", path,
          printable(m.name, 200).c_str(), printable(m.rel, 4096).c_str());
    addentry(&files, &at, path, m.rel, &m.text);
  }
  for (size_t i = 0; i < carried.size(); i++) addentry(&files, &at, path, base + carried[i].name, &bytes[i]);
  return files;
}


int extractprogram(const char *path, const char *dir) {
  Glue glue;
  FILE *f = openprogram(path, &glue);
  std::string chunk = scriptbytes(f, path, &glue, SIZE_MAX);
  std::vector<Carry> carried = readcarried(f, path, glue);
  std::vector<std::string> bytes;
  for (const Carry &c : carried) {
    seekto(f, path, c.at);
    bytes.push_back(readbytes(f, path, c.size));
  }
  fclose(f);

  /* The chunk becomes the script in place: with the modules' texts, the
  ** tool holds the program's bytes about twice. */
  Bundle b;
  int bundle = readbundle(chunk, &b, 1);
  if (bundle) mainscript(&chunk, b);
  std::vector<Entry> files = entries(path, bundle ? &b : NULL, chunk, carried, bytes);

  /* The folder is renamed into place: it needs a name of its own. */
  std::string root = droptrailing(dir);
  std::string last = root.substr(folderlen(root));
  if (last.empty() || last == "." || last == "..")
    die("%s: name a new or empty folder to extract into", dir);
  std::string tmp = maketempfolder(root);
  for (const Entry &e : files) {
    std::string p = tmp + "/" + e.rel;
    makefolders(folderof(p));
    writenew(p, *e.bytes);
  }
  std::string shown = dir, listing;
  if (shown.back() != '/' && shown.back() != '\\') shown += '/';
  for (const Entry &e : files) listing += printable(shown + e.rel, 4096) + "\n";
  finishfolder(root);  /* the last step that can fail */
  fwrite(listing.data(), 1, listing.size(), stdout);
  return 0;
}
