// search.cpp: which modules a program requires, and where their sources are.
//
// The scan is a small lexer, not a parser: it skips comments and every form
// of string, so a "require" inside them is never taken, and it recognises
// only calls whose argument is one literal string.  A name computed at run
// time cannot be seen here; -m adds such modules by name or by prefix.
// The search follows the templates the way require does: the first file a
// template leads to is the module.
#include "search.h"

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <set>
#include <utility>

#include "engine.h"
#include "files.h"


/* ------------------------------------------------------------------------
** Scanning
** --------------------------------------------------------------------- */

struct Token {
  char kind;         /* 'n' name, 's' string, 'p' punctuation */
  std::string text;  /* the name, the string's value, or the punctuation */
};


/* The length of the line end at i, 0 when there is none: "\n" or "\r",
** with the other one when it follows ("\r\n", "\n\r"), as the engine's
** lexer counts lines. */
static size_t lineend(const std::string &s, size_t i) {
  if (i >= s.size() || (s[i] != '\n' && s[i] != '\r')) return 0;
  return i + 1 < s.size() && (s[i + 1] == '\n' || s[i + 1] == '\r') && s[i + 1] != s[i] ? 2 : 1;
}


/* The level of a long bracket "[==[" at i, or -1 when there is none. */
static int longlevel(const std::string &s, size_t i) {
  if (i >= s.size() || s[i] != '[') return -1;
  size_t j = i + 1;
  while (j < s.size() && s[j] == '=') j++;
  return j < s.size() && s[j] == '[' ? (int)(j - i - 1) : -1;
}


/* Skips the long bracket at *i; gives its contents as the engine does:
** without a first line end, and each line end read as "\n". */
static std::string longbody(const std::string &s, size_t *i, int level) {
  size_t start = *i + (size_t)level + 2;
  start += lineend(s, start);
  std::string close((size_t)level + 2, '=');
  close.front() = close.back() = ']';
  size_t end = std::min(s.find(close, start), s.size());
  *i = std::min(end + close.size(), s.size());
  std::string v;
  for (size_t k = start; k < end; k++) {
    size_t n = lineend(s, k);
    v += n ? '\n' : s[k];
    if (n == 2) k++;
  }
  return v;
}


static std::string shortbody(const std::string &s, size_t *i) {
  char quote = s[(*i)++];
  std::string v;
  while (*i < s.size() && s[*i] != quote && !lineend(s, *i)) {
    char c = s[(*i)++];
    if (c != '\\' || *i >= s.size()) {
      v += c;
      continue;
    }
    if (size_t n = lineend(s, *i)) {  /* an escaped line end, both bytes of a pair */
      v += '\n';
      *i += n;
      continue;
    }
    c = s[(*i)++];
    const char *from = "abfnrtv", *to = "\a\b\f\n\r\t\v";
    const char *e = strchr(from, c);
    if (e && c) {
      v += to[e - from];
    } else if (c >= '0' && c <= '9') {
      int n = c - '0';
      for (int k = 0; k < 2 && *i < s.size() && s[*i] >= '0' && s[*i] <= '9'; k++)
        n = n * 10 + (s[(*i)++] - '0');
      v += (char)n;
    } else {
      v += c;  /* \\, \" and \' */
    }
  }
  if (*i < s.size() && s[*i] == quote) (*i)++;
  return v;
}


static int namechar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}


/* The next token from *i on; 0 at the end. */
static int next(const std::string &s, size_t *pos, Token *tok) {
  size_t i = *pos;
  while (i < s.size()) {
    char c = s[i];
    int level;
    if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
      i += 2;
      if ((level = longlevel(s, i)) >= 0) {
        longbody(s, &i, level);
      } else {
        while (i < s.size() && !lineend(s, i)) i++;
      }
      continue;
    }
    if ((level = longlevel(s, i)) >= 0) {
      *tok = {'s', longbody(s, &i, level)};
    } else if (c == '"' || c == '\'') {
      *tok = {'s', shortbody(s, &i)};
    } else if ((c >= '0' && c <= '9') || (c == '.' && i + 1 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '9')) {
      /* A number, exponent signs included, is no token of interest. */
      while (i < s.size() && (namechar(s[i]) || s[i] == '.' ||
                              ((s[i] == '+' || s[i] == '-') && (s[i - 1] == 'e' || s[i - 1] == 'E'))))
        i++;
      continue;
    } else if (namechar(c)) {
      size_t start = i;
      while (i < s.size() && namechar(s[i])) i++;
      *tok = {'n', s.substr(start, i - start)};
    } else if (c == '.') {
      size_t start = i;
      while (i < s.size() && s[i] == '.' && i - start < 3) i++;
      *tok = {'p', s.substr(start, i - start)};
    } else if ((unsigned char)c <= ' ') {
      i++;
      continue;
    } else {
      *tok = {'p', std::string(1, c)};
      i++;
    }
    *pos = i;
    return 1;
  }
  *pos = i;
  return 0;
}


static int is(const std::vector<Token> &t, size_t i, char kind, const char *text = NULL) {
  return i < t.size() && t[i].kind == kind && (text == NULL || t[i].text == text);
}


/* The literal name that a call at t[i] requires, or NULL. */
static const std::string *required(const std::vector<Token> &t, size_t i) {
  if (t[i].kind != 'n' || (i > 0 && (is(t, i - 1, 'p', ".") || is(t, i - 1, 'p', ":"))))
    return NULL;
  if (t[i].text == "require") {
    if (is(t, i + 1, 's')) return &t[i + 1].text;
    if (is(t, i + 1, 'p', "(") && is(t, i + 2, 's') && is(t, i + 3, 'p', ")")) return &t[i + 2].text;
  } else if (t[i].text == "pcall") {
    if (is(t, i + 1, 'p', "(") && is(t, i + 2, 'n', "require") && is(t, i + 3, 'p', ",") &&
        is(t, i + 4, 's') && (is(t, i + 5, 'p', ")") || is(t, i + 5, 'p', ",")))
      return &t[i + 4].text;
  }
  return NULL;
}


/* Tokens are looked at through a short window, so a large script costs
** no memory beyond its own. */
std::vector<std::string> scanrequires(const std::string &text) {
  std::string chunk = launcherchunk(text);
  std::vector<Token> t;
  std::vector<std::string> names;
  size_t pos = 0, i = 0;
  Token tok;
  int more = 1;
  while (more || i < t.size()) {
    more = more && next(chunk, &pos, &tok);
    if (more) t.push_back(tok);
    for (; i < t.size() && (!more || t.size() - i > 6); i++) {
      const std::string *name = required(t, i);
      if (name && std::find(names.begin(), names.end(), *name) == names.end())
        names.push_back(*name);
    }
    if (i > 256) {  /* keep one token behind for the look back */
      t.erase(t.begin(), t.begin() + (ptrdiff_t)(i - 1));
      i = 1;
    }
  }
  return names;
}


/* ------------------------------------------------------------------------
** Searching
** --------------------------------------------------------------------- */

static int pathsep(char c) {
#if defined(_WIN32)
  return c == '/' || c == '\\';
#else
  return c == '/';
#endif
}


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
  size_t q = tmpl.find('?');
  size_t n = q == std::string::npos ? tmpl.size() : q;
  while (n > 0 && !pathsep(tmpl[n - 1])) n--;
  return n;
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
      if (goodname(p) && std::find(names.begin(), names.end(), p) == names.end())
        names.push_back(p);
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}
