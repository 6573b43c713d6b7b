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
** module's chunk name is "=" and its path: messages and tracebacks read
** "a/b.lua:4:", while code that looks for its own file by its source name
** finds no file name, and so never a file in the folder the program is
** started in. */
#define SEARCHER \
  "} local s,ld,as={},loadstring,assert for i=2,#m do s[m[i][1]]=m[i] end " \
  "table.insert(package.loaders,2,function(n) local e=s[n] " \
  "if e then local t=e[4] "
#define NOTFOUND \
  "return \"\\n\\tno module '\"..n..\"' in the bundle\" end) " \
  "if arg==nil then arg=args end end "

/* Since version 3 the prelude also holds x: whether the program is sealed,
** its module paths, the files it expects beside it, and the libraries to
** load before a native module.  A sealed program looks for modules in its
** bundle and its own folder only, so that it finds on the machine it is
** made on what it will find where it is shipped.  Its folder comes from
** the system's name for the running file (ovrel.app); one that would split
** or fill a template, or a launcher without ovrel.app, leaves only the
** bundle.  Before a native module's
** file is opened, the libraries it needs are loaded from beside the
** program by their full names: the loader then takes them for the names
** the module gives, though it would never look in the program's folder. */
#define SEALING \
  "} local s,ld,as,p={},loadstring,assert,package for i=2,#m do s[m[i][1]]=m[i] end " \
  "local o,a=pcall(require,\"ovrel.app\") local d=o and a.dir if d and d:find\"[;?]\" then d=nil end " \
  "if x[1] then local function h(t) return d and (t:gsub(\"!\",function() return d end)) or \"\" end " \
  "p.path=h(x[2]) p.cpath=h(x[3]) end "
#define LOADER "table.insert(p.loaders,2,function(n) local e=s[n] if e then local t=e[4] "
#define SEARCHER3 SEALING "local l={} for i=5,#x do l[x[i][1]]=x[i] end " LOADER
#define PRELOAD \
  "local f=n:gsub(\"%.\",\"/\") for _,r in ipairs{f..\".so\",f:match\"^[^/]*\"..\".so\"} do " \
  "local q=l[r] if q and d then l[r]=nil for i=2,#q do p.loadlib(d..\"/\"..q[i],\"*\") end end end "

/* Since version 4, x[5] lists the native files the program carries inside
** it (--onefile).  ovrel.app loads those from memory, so a module found
** there, and the libraries it loads, need no file beside the program; the
** module's entry is the engine's name for it (luaopen_, the part after a
** "-" with "." as "_"). */
#define SEARCHER4 \
  SEALING "local l,c={},{} for i=6,#x do l[x[i][1]]=x[i] end for _,r in ipairs(x[5]) do c[r]=o end " LOADER
#define PRELOAD4 \
  "local f=n:gsub(\"%.\",\"/\") for _,r in ipairs{f..\".so\",f:match\"^[^/]*\"..\".so\"} do " \
  "local q=l[r] if q and (d or c[r]) then l[r]=nil for i=2,#q do " \
  "if c[r] then a.loadlib(q[i],\"*\") else p.loadlib(d..\"/\"..q[i],\"*\") end end end " \
  "if c[r] then local g,w=a.loadlib(r,\"luaopen_\"..n:gsub(\"^[^-]*%-\",\"\"):gsub(\"%.\",\"_\")) " \
  "if g then return g end error(\"error loading module '\"..n..\"' carried as '\"..r..\"':\\n\\t\"..w,0) end end "

static const char head[] = "do --[[ovrelglue 4]] local m={";
static const char body[] = SEARCHER4 BUNDLE_MODULE_CHUNK "return as(ld(t,\"=\"..e[2])) end " PRELOAD4 NOTFOUND;

/* Programs made before read back as well. */
static const char head3[] = "do --[[ovrelglue 3]] local m={";
static const char body3[] = SEARCHER3 BUNDLE_MODULE_CHUNK "return as(ld(t,\"=\"..e[2])) end " PRELOAD NOTFOUND;
static const char head2[] = "do --[[ovrelglue 2]] local m={";
static const char body2[] = SEARCHER BUNDLE_MODULE_CHUNK "return as(ld(t,\"=\"..e[2])) end " NOTFOUND;
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


/* ,{"a","b"} */
static void quotelist(std::string *out, const std::vector<std::string> &items) {
  *out += ",{";
  for (size_t i = 0; i < items.size(); i++) {
    if (i > 0) *out += ',';
    quote(out, items[i]);
  }
  *out += '}';
}


std::string makebundle(const Bundle &b, const std::string &text) {
  size_t at = hashline(text);
  std::string out = text.substr(0, at);
  out += head;
  quote(&out, b.script);
  for (const Module &m : b.modules) {
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
  out += b.kind == BUNDLE_SEALED ? "} local x={true," : "} local x={false,";
  quote(&out, b.path);
  out += ',';
  quote(&out, b.cpath);
  quotelist(&out, b.beside);
  quotelist(&out, b.carried);
  for (const std::vector<std::string> &p : b.preload) quotelist(&out, p);
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


/* {"a","b"} after the comma that literal() took. */
static int readlist(const std::string &s, size_t *i, std::vector<std::string> *items) {
  items->clear();
  if (!literal(s, i, "{")) return 0;
  if (literal(s, i, "}")) return 1;
  do {
    items->emplace_back();
    if (!unquote(s, i, &items->back())) return 0;
  } while (literal(s, i, ","));
  return literal(s, i, "}");
}


int readbundle(const std::string &chunk, Bundle *b, int withtext) {
  size_t at = hashline(chunk), i = at;
  if (at == std::string::npos) return 0;
  int version = literal(chunk, &i, head) ? 4 : literal(chunk, &i, head3) ? 3
              : literal(chunk, &i, head2) ? 2 : literal(chunk, &i, head1) ? 1 : 0;
  if (version == 0 || !unquote(chunk, &i, &b->script)) return 0;
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
  b->kind = BUNDLE_OPEN;
  b->preload.clear();
  b->carried.clear();
  if (version >= 3) {
    if (literal(chunk, &i, "} local x={true,")) b->kind = BUNDLE_SEALED;
    else if (literal(chunk, &i, "} local x={false,")) b->kind = BUNDLE_SYSTEM;
    else return 0;
    if (!unquote(chunk, &i, &b->path) || !literal(chunk, &i, ",") || !unquote(chunk, &i, &b->cpath) ||
        !literal(chunk, &i, ",") || !readlist(chunk, &i, &b->beside))
      return 0;
    if (version == 4 && (!literal(chunk, &i, ",") || !readlist(chunk, &i, &b->carried))) return 0;
    while (literal(chunk, &i, ",")) {
      b->preload.emplace_back();
      if (!readlist(chunk, &i, &b->preload.back()) || b->preload.back().empty()) return 0;
    }
  }
  const char *bodies[] = {body1, body2, body3, body};
  if (!literal(chunk, &i, bodies[version - 1])) return 0;
  b->at = at;
  b->len = i - at;
  return 1;
}


void mainscript(std::string *chunk, const Bundle &b) {
  chunk->erase(b.at, b.len);
}
