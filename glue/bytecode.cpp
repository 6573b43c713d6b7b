// bytecode.cpp: the modules a compiled chunk requires by a literal name.
//
// The tool reads requires only here, from the engine's own compilation of
// every file, source and precompiled alike: what the engine takes as a
// call is what counts, and comments, strings and computed names are the
// engine's business, never guessed from text.  A compiled chunk keeps its
// calls as instructions.  `require "a.b"` is
// a load of require into some register (GETGLOBAL of the constant
// "require", or MOVE or GETUPVAL of a local or upvalue of that name), a
// LOADK of the constant "a.b" into the next one and a CALL (or TAILCALL) of
// the first with one argument; `pcall(require, "a.b")` is the same one
// register on, behind a load of pcall.  Reading the engine's dump format (a
// header, then each function: its code, constants, nested functions and
// debug data, which names the locals) finds these.  Names come in the order
// of the source: a nested function's where its closure is made.
//
// Every read is bounded by the chunk, and nesting by a depth: a crafted
// file yields fewer names and a "not read" answer, never a read past its
// end.
#include "bytecode.h"

#include <stdint.h>
#include <string.h>

#include <algorithm>

#include "srglue.h"  /* glue_le */

/* The instruction layout of the engine: 6 bits of opcode, then A (8 bits),
** and C (9), B (9) or Bx (18) above it. */
enum {
  OP_MOVE = 0, OP_LOADK = 1, OP_GETUPVAL = 4, OP_GETGLOBAL = 5, OP_CALL = 28, OP_TAILCALL = 29,
  OP_CLOSURE = 36
};
#define OPCODE(i) ((i) & 0x3f)
#define ARG_A(i) (((i) >> 6) & 0xff)
#define ARG_B(i) (((i) >> 23) & 0x1ff)
#define ARG_BX(i) ((i) >> 14)

#define MAX_DEPTH 200  /* the engine's own nesting limit is lower */

struct Reader {
  const std::string *s;
  size_t at;
  int ok;
  int little;                       /* byte order of the dump */
  size_t intsize, sizesize, numsize;
};


static int room(Reader *r, uint64_t n) {
  if (r->ok && n <= r->s->size() - r->at) return 1;
  r->ok = 0;
  return 0;
}


static uint64_t number(Reader *r, size_t n) {
  if (!room(r, n)) return 0;
  const unsigned char *p = (const unsigned char *)r->s->data() + r->at;
  uint64_t v = 0;
  if (r->little) v = glue_le(p, (int)n);
  else for (size_t k = 0; k < n; k++) v = v << 8 | p[k];
  r->at += n;
  return v;
}


static void skip(Reader *r, uint64_t n) {
  if (room(r, n)) r->at += (size_t)n;
}


static int byte(Reader *r) {
  return (int)number(r, 1);
}


/* A count of items of at least `each` bytes, so that it fits the rest. */
static uint32_t count(Reader *r, size_t each) {
  uint64_t n = number(r, r->intsize);
  if (n > 0x7fffffff || !room(r, n * each)) return 0;
  return (uint32_t)n;
}


/* A string: its size_t length with the closing NUL, 0 for none. */
static std::string text(Reader *r) {
  uint64_t n = number(r, r->sizesize);
  if (n == 0 || !room(r, n)) return std::string();
  std::string v = r->s->substr(r->at, (size_t)n - 1);
  r->at += (size_t)n;
  return v;
}


static int header(Reader *r) {
  static const char sig[] = "\033Lua\x51\x00";
  if (!room(r, 12) || r->s->compare(0, 6, sig, 6) != 0) return 0;
  const unsigned char *h = (const unsigned char *)r->s->data();
  r->little = h[6];
  r->intsize = h[7];
  r->sizesize = h[8];
  r->numsize = h[10];
  r->at = 12;
  return h[6] <= 1 && h[9] == 4 && r->intsize >= 1 && r->intsize <= 8 && r->sizesize >= 1 &&
         r->sizesize <= 8 && r->numsize >= 1 && r->numsize <= 8;
}


struct Local {
  std::string name;
  uint64_t startpc, endpc;
};

/* What one function holds that tells its calls. */
struct Function {
  std::vector<uint32_t> code;
  std::vector<std::string> k;         /* string constants; "" stands for the others */
  std::vector<char> isstring;
  std::vector<Local> locals;          /* in the order they start */
  std::vector<std::string> upvalues;  /* their names */
  std::vector<uint64_t> lines;        /* of each instruction, when kept */
  std::vector<std::vector<Require>> nested;  /* what each nested function requires */
};


static void addname(std::vector<Require> *names, const Require &r) {
  auto same = [&](const Require &o) { return o.name == r.name && (!r.name.empty() || o.line == r.line); };
  auto at = std::find_if(names->begin(), names->end(), same);
  if (at == names->end()) names->push_back(r);
  else if (at->optional && !r.optional) *at = r;
}


static const std::string *stringk(const Function &f, uint64_t i) {
  return i < f.k.size() && f.isstring[i] ? &f.k[i] : NULL;
}


/* The name of the local in register reg at pc, counted among the locals
** alive there, as the engine's debug library counts them. */
static const std::string *localname(const Function &f, uint32_t reg, size_t pc) {
  uint32_t n = reg + 1;
  for (const Local &l : f.locals) {
    if (l.startpc > pc) break;
    if (pc < l.endpc && --n == 0) return &l.name;
  }
  return NULL;
}


/* Whether the instruction at pc loads the global, local or upvalue `name`
** into a register. */
static int loads(const Function &f, size_t pc, const char *name) {
  uint32_t i = f.code[pc];
  const std::string *n = NULL;
  switch (OPCODE(i)) {
    case OP_GETGLOBAL: n = stringk(f, ARG_BX(i)); break;
    case OP_MOVE: n = localname(f, ARG_B(i), pc); break;
    case OP_GETUPVAL: n = ARG_B(i) < f.upvalues.size() ? &f.upvalues[ARG_B(i)] : NULL; break;
  }
  return n != NULL && *n == name;
}


/* The literal requires among one function's instructions: a call of
** require with the name alone, or of pcall with require and the name
** first, its other arguments loaded into the registers above them. */
static void calls(const Function &f, std::vector<Require> *names) {
  const std::vector<uint32_t> &code = f.code;
  for (size_t i = 0; i < code.size(); i++) {
    /* A nested function's requires where its closure is made; any that no
    ** closure makes, at the end. */
    if (OPCODE(code[i]) == OP_CLOSURE && ARG_BX(code[i]) < f.nested.size())
      for (const Require &n : f.nested[ARG_BX(code[i])]) addname(names, n);
    if (i + 2 >= code.size()) continue;
    uint32_t base = ARG_A(code[i]), at = (uint32_t)i + 1, args = 2;
    if (loads(f, i, "pcall") && loads(f, at, "require") && ARG_A(code[at]) == base + 1) {
      at++;
      args = 3;
    } else if (!loads(f, i, "require")) {
      continue;
    }
    uint32_t load = code[at];
    const std::string *name = stringk(f, ARG_BX(load));
    if (OPCODE(load) != OP_LOADK || ARG_A(load) != base + args - 1 || name == NULL) continue;
    for (size_t j = at + 1; j < code.size() && j < at + 64; j++) {
      uint32_t call = code[j];
      if (OPCODE(call) == OP_CALL || OPCODE(call) == OP_TAILCALL) {
        if (ARG_A(call) == base && (args == 2 ? ARG_B(call) == 2 : ARG_B(call) == 0 || ARG_B(call) >= 3)) {
          Require r;
          r.name = *name;
          r.line = j < f.lines.size() ? (int)f.lines[j] : 0;
          r.optional = args == 3;
          addname(names, r);
        }
        if (ARG_A(call) <= base + args - 1) break;
      } else if (ARG_A(call) <= base + args - 1 || args == 2) {
        break;  /* the name or the function is overwritten, or require takes more */
      }
    }
  }
  for (const std::vector<Require> &inner : f.nested)
    for (const Require &n : inner) addname(names, n);
}


static void function(Reader *r, int depth, std::vector<Require> *names) {
  if (depth > MAX_DEPTH) r->ok = 0;
  Function f;
  text(r);                      /* source */
  skip(r, r->intsize * 2 + 4);  /* lines, upvalues, parameters, vararg, stack */
  f.code.resize(count(r, 4));
  for (uint32_t &c : f.code) c = (uint32_t)number(r, 4);
  for (uint32_t n = count(r, 1); n > 0 && r->ok; n--) {  /* grown as read: a count is no promise */
    int type = byte(r);
    f.k.push_back(type == 4 ? text(r) : std::string());
    f.isstring.push_back(type == 4);
    if (type == 1) skip(r, 1);                  /* boolean */
    else if (type == 3) skip(r, r->numsize);    /* number */
    else if (type != 0 && type != 4) r->ok = 0;
  }
  for (uint32_t n = count(r, 1); n > 0 && r->ok; n--) {
    f.nested.emplace_back();
    function(r, depth + 1, &f.nested.back());
  }
  uint32_t lines = count(r, r->intsize);
  for (uint32_t n = lines; n > 0 && r->ok; n--) f.lines.push_back(number(r, r->intsize));
  for (uint32_t n = count(r, 1); n > 0 && r->ok; n--) {
    Local l;
    l.name = text(r);
    l.startpc = number(r, r->intsize);
    l.endpc = number(r, r->intsize);
    f.locals.push_back(l);
  }
  for (uint32_t n = count(r, 1); n > 0 && r->ok; n--) f.upvalues.push_back(text(r));
  /* Stripped of its debug data, a function may call require through a
  ** local that cannot be named: it is not read whole. */
  if (lines == 0 && !f.code.empty()) r->ok = 0;
  if (r->ok) calls(f, names);
}


int bytecoderequires(const std::string &chunk, std::vector<Require> *names) {
  Reader r = {&chunk, 0, 1, 1, 0, 0, 0};
  if (!header(&r)) return 0;
  function(&r, 0, names);
  return r.ok;
}
