// bundle.cpp: a program's modules packed into its chunk, and read back.
//
// The launcher runs one chunk, so the modules travel inside it: a prelude
// of ONE physical line holds every module's source as a quoted string and
// adds a searcher to package.loaders, after package.preload and before the
// searches on disk.  The searcher compiles a module only when it is first
// required, under a chunk name made of its path below its folder, so
// messages read "a/b.lua:4:" and tracebacks name the file; require then
// calls it with its name as "...", as it would call a file found on disk.
// Keeping the prelude on one line, in a do ... end block, leaves every line
// of the script its own number and leaves the script's locals untouched.
//
// The prelude is generated here and parsed back only here: the parser is
// strict and takes exactly what the writer writes, byte for byte.
#include "bundle.h"

#include <stdio.h>
#include <string.h>

#include "engine.h"

/* Runs once at start: the searcher, and arg for programs written for the
** stock interpreter, whose layout args already has.  A module's chunk is
** made of its text as loading its file would (BUNDLE_MODULE_CHUNK).  A
** module's chunk name is
** "=" and its path: messages and tracebacks read "a/b.lua:4:", while code
** that looks for its own file by its source name finds no file name, and
** so never a file in the folder the program is started in. */
#define SEARCHER \
  "} local s,ld,as={},loadstring,assert for i=2,#m do s[m[i][1]]=m[i] end " \
  "table.insert(package.loaders,2,function(n) local e=s[n] " \
  "if e then local t=e[4] "
#define NOTFOUND \
  "return \"\\n\\tno module '\"..n..\"' in the bundle\" end) " \
  "if arg==nil then arg=args end end "

static const char head[] = "do --[[ovrelglue 2]] local m={";
static const char body[] = SEARCHER BUNDLE_MODULE_CHUNK "return as(ld(t,\"=\"..e[2])) end " NOTFOUND;

/* Programs made before read back as well. */
static const char head1[] = "do --[[ovrelglue 1]] local m={";
static const char body1[] = SEARCHER "if t:byte(1)==35 then t=t:gsub(\"^[^\\n]*\",\"\",1) "
    "end return as(ld(t,\"@\"..e[2])) end " NOTFOUND;


/* ------------------------------------------------------------------------
** Writing
** --------------------------------------------------------------------- */

/* A quoted string on one line: line ends and control bytes escaped, other
** bytes as they are. */
static void quote(std::string *out, const std::string &s) {
  *out += '"';
  for (unsigned char c : s) {
    if (c == '\\' || c == '"') {
      *out += '\\';
      *out += (char)c;
    } else if (c == '\n') {
      *out += "\\n";
    } else if (c == '\r') {
      *out += "\\r";
    } else if (c < 0x20 || c == 0x7f) {
      char esc[5];
      snprintf(esc, sizeof esc, "\\%03u", c);  /* always three digits: a digit may follow */
      *out += esc;
    } else {
      *out += (char)c;
    }
  }
  *out += '"';
}


std::string makebundle(const std::string &scriptname, const std::string &text,
                       const std::vector<Module> &modules) {
  size_t at = hashline(text);
  std::string out = text.substr(0, at);
  out += head;
  quote(&out, scriptname);
  for (const Module &m : modules) {
    out += ",{";
    quote(&out, m.name);
    out += ',';
    quote(&out, m.rel);
    out += ',';
    quote(&out, m.source);
    out += ',';
    quote(&out, m.text);
    out += '}';
  }
  out += body;
  out.append(text, at, std::string::npos);
  return out;
}


/* ------------------------------------------------------------------------
** Reading
** --------------------------------------------------------------------- */

static int literal(const std::string &s, size_t *i, const char *lit) {
  size_t n = strlen(lit);
  if (s.compare(*i, n, lit) != 0) return 0;
  *i += n;
  return 1;
}


/* Reads a quoted string into out, or with out NULL only counts its bytes;
** n, when given, receives their number. */
static int unquote(const std::string &s, size_t *i, std::string *out, size_t *n = NULL) {
  if (!literal(s, i, "\"")) return 0;
  size_t length = 0;
  auto put = [&](char c) {
    if (out) *out += c;
    length++;
  };
  if (out) out->clear();
  while (*i < s.size()) {
    char c = s[(*i)++];
    if (c == '"') {
      if (n) *n = length;
      return 1;
    }
    if (c == '\n' || c == '\r') return 0;
    if (c != '\\') {
      put(c);
      continue;
    }
    if (*i >= s.size()) return 0;
    c = s[(*i)++];
    if (c == '\\' || c == '"') {
      put(c);
    } else if (c == 'n') {
      put('\n');
    } else if (c == 'r') {
      put('\r');
    } else if (c >= '0' && c <= '9' && *i + 1 < s.size() && s[*i] >= '0' && s[*i] <= '9' &&
               s[*i + 1] >= '0' && s[*i + 1] <= '9') {
      int v = (c - '0') * 100 + (s[*i] - '0') * 10 + (s[*i + 1] - '0');
      if (v > 255) return 0;
      put((char)v);
      *i += 2;
    } else {
      return 0;
    }
  }
  return 0;
}


int readbundle(const std::string &chunk, Bundle *b, int withtext) {
  size_t at = hashline(chunk), i = at;
  if (at == std::string::npos) return 0;
  int first = literal(chunk, &i, head1);
  if (!first && !literal(chunk, &i, head)) return 0;
  if (!unquote(chunk, &i, &b->script)) return 0;
  b->modules.clear();
  while (literal(chunk, &i, ",{")) {
    b->modules.emplace_back();
    Module &m = b->modules.back();
    if (!unquote(chunk, &i, &m.name) || !literal(chunk, &i, ",") ||
        !unquote(chunk, &i, &m.rel) || !literal(chunk, &i, ",") ||
        !unquote(chunk, &i, &m.source) || !literal(chunk, &i, ",") ||
        !unquote(chunk, &i, withtext ? &m.text : NULL, &m.size) || !literal(chunk, &i, "}"))
      return 0;
  }
  if (!literal(chunk, &i, first ? body1 : body)) return 0;
  b->at = at;
  b->len = i - at;
  return 1;
}


void mainscript(std::string *chunk, const Bundle &b) {
  chunk->erase(b.at, b.len);
}
