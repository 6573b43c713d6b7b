// bytecode.cpp: the modules a compiled chunk requires.
//
// The tool reads requires only here, from the engine's own compilation of
// every file, source and precompiled alike: what the engine takes as a
// call is what counts, and comments, strings and fields of other tables
// are the engine's business, never guessed from text.  Reading the
// engine's dump format (a header, then each function: its code,
// constants, nested functions and debug data, which names the locals)
// gives each function's instructions.
//
// Each function is walked once, in the order of its code, keeping what
// each register is known to hold: require, pcall, _G, a string constant,
// or nothing known.  require, pcall and _G come as globals, as fields of
// _G, as a local named after one of them or that holds one when it starts
// (it counts as that for its whole life), or as an upvalue made from such
// a local or upvalue.  A call of require with one argument, or of pcall
// with require first, is a require: of a literal name when the argument
// is a string constant loaded for the call, else of a name computed at
// run time.  A require is optional too where it runs only when such a
// pcall failed: inside the code a test of the pcall's status skips to
// when the status is false (`if not ok then`, `ok or require 'b'`), while
// no jump from outside lands there.  The status is the call's first
// result, in a register the walk has seen no other write to, or in a local
// nothing writes in its life, so a loop cannot change it between tests.
// The walk follows no branches: where a jump forward lands, a
// register written between the jump and there is not known; where only
// jumps lead, none is.  A loop's head keeps what falls into it, as
// nothing the compiler leaves in a register outlives its statement.
// Names come in the order of the source: a nested function's where its
// closure is made.
//
// Every read is bounded by the chunk, and nesting by a depth; each
// function is walked once: a crafted file yields fewer names and a "not
// read" answer, never a read past its end.
#include "bytecode.h"

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>

#include "srglue.h"  /* glue_le */

/* The instruction layout of the engine: 6 bits of opcode, then A (8 bits),
** and C (9), B (9) or Bx (18) above it; sBx is Bx less its middle.  A B
** or C of 256 and above names constant 256 less. */
enum {
  OP_MOVE = 0, OP_LOADK = 1, OP_LOADBOOL = 2, OP_LOADNIL = 3, OP_GETUPVAL = 4, OP_GETGLOBAL = 5,
  OP_GETTABLE = 6, OP_SETGLOBAL = 7, OP_SETUPVAL = 8, OP_SETTABLE = 9, OP_SELF = 11, OP_JMP = 22,
  OP_EQ = 23, OP_LT = 24, OP_LE = 25, OP_TEST = 26, OP_TESTSET = 27, OP_CALL = 28, OP_TAILCALL = 29,
  OP_RETURN = 30, OP_FORLOOP = 31, OP_FORPREP = 32, OP_TFORLOOP = 33, OP_SETLIST = 34, OP_CLOSE = 35,
  OP_CLOSURE = 36, OP_VARARG = 37
};
#define OPCODE(i) ((i) & 0x3f)
#define ARG_A(i) (((i) >> 6) & 0xff)
#define ARG_B(i) (((i) >> 23) & 0x1ff)
#define ARG_C(i) (((i) >> 14) & 0x1ff)
#define ARG_BX(i) ((i) >> 14)
#define ARG_SBX(i) ((int64_t)ARG_BX(i) - 131071)
#define CONSTANT 256

#define REGISTERS 256  /* what A can name */
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
  std::vector<Function> nested;
  int nups;                           /* its upvalues, each made by an instruction after its closure */
};

/* What a register, local or upvalue is known to hold. */
enum { NOTHING, REQUIRE, PCALL, GLOBALS, STRING, STATUS };

struct Held {
  int kind;
  uint32_t k;  /* the constant, for a STRING */
};

/* One function's walk.  A live local's register reads as what the local
** held when it started; any other as the walk last left it. */
struct Walk {
  const Function *f;
  std::vector<Held> up;       /* what each upvalue holds, as its closure was made */
  std::vector<Held> reg;      /* REGISTERS of them */
  std::vector<int64_t> wrote; /* the pc that last wrote each register */
  std::vector<size_t> live;   /* the locals alive, by register */
  std::vector<int> alias;     /* what each local holds for its life */
  size_t failed, failed_end;  /* the test of a status, and where its code for failure ends */
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


static int kindof(const std::string *name) {
  if (name == NULL) return NOTHING;
  if (*name == "require") return REQUIRE;
  if (*name == "pcall") return PCALL;
  return *name == "_G" ? GLOBALS : NOTHING;
}


static Held value(const Walk *w, uint32_t reg) {
  Held v = {NOTHING, 0};
  if (reg < w->live.size()) v.kind = w->alias[w->live[reg]];
  else if (reg < REGISTERS) v = w->reg[reg];
  return v;
}


/* The instruction after the one at pc: a closure is followed by one that
** makes each upvalue, a long SETLIST by its count. */
static size_t following(const Function &f, size_t pc) {
  uint32_t i = f.code[pc];
  if (OPCODE(i) == OP_SETLIST && ARG_C(i) == 0) return pc + 2;
  if (OPCODE(i) == OP_CLOSURE && ARG_BX(i) < f.nested.size()) return pc + 1 + f.nested[ARG_BX(i)].nups;
  return pc + 1;
}


/* Where the instruction at pc may go other than to the next; -1 for nowhere. */
static int64_t jump(const Function &f, size_t pc) {
  uint32_t i = f.code[pc];
  switch (OPCODE(i)) {
    case OP_JMP: case OP_FORPREP: case OP_FORLOOP:
      return (int64_t)pc + 1 + ARG_SBX(i);
    case OP_EQ: case OP_LT: case OP_LE: case OP_TEST: case OP_TESTSET: case OP_TFORLOOP:
      return (int64_t)pc + 2;
    case OP_LOADBOOL:
      return ARG_C(i) ? (int64_t)pc + 2 : -1;
  }
  return -1;
}


/* What the jumps of a function tell each instruction. */
struct Joins {
  /* The least pc a jump forward reaches it from: a register written since
  ** then may hold something else on the way there.  -1 where only jumps
  ** reach (after an unconditional jump or a return): nothing is known
  ** there.  INT64_MAX for the others. */
  std::vector<int64_t> since;
  std::vector<int64_t> least, most;  /* the pcs any jump reaches it from; INT64_MAX, -1 for none */
};


static Joins joins(const Function &f) {
  Joins j;
  j.since.assign(f.code.size() + 1, INT64_MAX);
  j.least.assign(f.code.size(), INT64_MAX);
  j.most.assign(f.code.size(), -1);
  int tested = 0;
  for (size_t pc = 0; pc < f.code.size(); pc = following(f, pc)) {
    int op = OPCODE(f.code[pc]);
    int64_t to = jump(f, pc);
    if ((op == OP_JMP && !tested) || op == OP_FORPREP || op == OP_RETURN) j.since[pc + 1] = -1;
    if (to > (int64_t)pc && to < (int64_t)f.code.size())
      j.since[(size_t)to] = std::min(j.since[(size_t)to], (int64_t)pc);
    if (to >= 0 && to < (int64_t)f.code.size()) {
      j.least[(size_t)to] = std::min(j.least[(size_t)to], (int64_t)pc);
      j.most[(size_t)to] = std::max(j.most[(size_t)to], (int64_t)pc);
    }
    tested = op >= OP_EQ && op <= OP_TESTSET;
  }
  return j;
}


/* Whether instruction i writes registers: those from `from` to `to`. */
static int writes(uint32_t i, uint32_t *from, uint32_t *to) {
  uint32_t a = ARG_A(i);
  *from = *to = a;
  switch (OPCODE(i)) {
    case OP_LOADNIL: *to = ARG_B(i); break;
    case OP_SELF: *to = a + 1; break;
    case OP_CALL: case OP_TAILCALL: case OP_VARARG: *to = REGISTERS; break;
    case OP_FORLOOP: case OP_FORPREP: *to = a + 3; break;
    case OP_TFORLOOP: *from = a + 3, *to = a + 2 + ARG_C(i); break;
    case OP_SETGLOBAL: case OP_SETUPVAL: case OP_SETTABLE: case OP_JMP: case OP_EQ: case OP_LT:
    case OP_LE: case OP_TEST: case OP_RETURN: case OP_SETLIST: case OP_CLOSE:
      return 0;
  }
  return *from <= *to;
}


/* Whether anything writes reg from pc, where local l starts in it, to its
** end.  At most REGISTERS locals are alive at once, so these reads come
** to that many walks of the code at most. */
static int overwritten(const Function &f, size_t pc, const Local &l, uint32_t reg) {
  for (; pc < l.endpc && pc < f.code.size(); pc = following(f, pc)) {
    uint32_t from, to;
    if (writes(f.code[pc], &from, &to) && from <= reg && reg <= to) return 1;
  }
  return 0;
}


/* The call at pc, if it is one of require with one argument or of pcall
** with require first: a require of the name, or of "" when the name is
** not loaded for the call.  Returns PCALL for the second. */
static int call(const Walk *w, size_t pc, std::vector<Require> *names) {
  uint32_t i = w->f->code[pc], a = ARG_A(i), b = ARG_B(i), arg = a + 1;
  Require r;
  r.optional = w->failed_end > pc;
  if (value(w, a).kind == PCALL && value(w, a + 1).kind == REQUIRE && b != 1 && b != 2) {
    r.optional = 1;
    arg = a + 2;
  } else if (value(w, a).kind != REQUIRE || (b != 2 && b != 0)) {
    return NOTHING;
  }
  Held name = value(w, arg);
  if (b == 0 && arg == a + 1 && name.kind == STRING) return NOTHING;  /* more than the name */
  if (name.kind == STRING && stringk(*w->f, name.k)) r.name = *stringk(*w->f, name.k);
  r.line = pc < w->f->lines.size() ? (int)w->f->lines[pc] : 0;
  addname(names, r);
  return arg == a + 2 ? PCALL : REQUIRE;
}


/* At a test of the register of a pcall's status, the code it skips to
** when the status is false, up to where its jump lands. */
static void failure(Walk *w, size_t pc, uint32_t tested) {
  const Function &f = *w->f;
  uint32_t i = f.code[pc];
  if (w->failed_end > pc || ARG_C(i) != 1 || value(w, tested).kind != STATUS) return;
  if (pc + 1 >= f.code.size() || OPCODE(f.code[pc + 1]) != OP_JMP) return;
  int64_t to = jump(f, pc + 1);
  if (to <= (int64_t)pc + 2) return;
  w->failed = pc;
  w->failed_end = (size_t)std::min(to, (int64_t)f.code.size());
}


static void calls(const Function &f, const std::vector<Held> &up, std::vector<Require> *names);

/* The closure made at pc: its upvalues hold what the locals and upvalues
** it is made from hold.  Each nested function is walked once. */
static void closure(const Walk *w, size_t pc, std::vector<char> *walked, std::vector<Require> *names) {
  const Function &f = *w->f;
  uint32_t n = ARG_BX(f.code[pc]);
  if (n >= f.nested.size() || (*walked)[n]) return;
  (*walked)[n] = 1;
  std::vector<Held> up;
  for (size_t j = pc + 1; j <= pc + f.nested[n].nups && j < f.code.size(); j++) {
    uint32_t b = ARG_B(f.code[j]);
    Held h = {NOTHING, 0};
    if (OPCODE(f.code[j]) == OP_MOVE) h = value(w, b);
    else if (OPCODE(f.code[j]) == OP_GETUPVAL && b < w->up.size()) h = w->up[b];
    if (h.kind == STRING || h.kind == STATUS) h.kind = NOTHING;  /* of this function, not of that */
    up.push_back(h);
  }
  calls(f.nested[n], up, names);
}


/* The requires of one function and those nested in it. */
static void calls(const Function &f, const std::vector<Held> &up, std::vector<Require> *names) {
  Walk w;
  w.f = &f;
  w.up = up;
  w.reg.assign(REGISTERS, Held{NOTHING, 0});
  w.wrote.assign(REGISTERS, -1);
  w.alias.assign(f.locals.size(), NOTHING);
  w.failed = w.failed_end = 0;
  Joins jumps = joins(f);
  std::vector<char> walked(f.nested.size());
  size_t next = 0;
  for (size_t pc = 0; pc < f.code.size(); pc = following(f, pc)) {
    uint32_t i = f.code[pc], a = ARG_A(i), b = ARG_B(i), c = ARG_C(i);
    for (size_t j = w.live.size(); j-- > 0;)
      if (f.locals[w.live[j]].endpc <= pc) w.live.erase(w.live.begin() + (ptrdiff_t)j);
    if (jumps.since[pc] != INT64_MAX)
      for (uint32_t r = 0; r < REGISTERS; r++)
        if (w.wrote[r] > jumps.since[pc]) w.reg[r] = Held{NOTHING, 0};
    int64_t in = (int64_t)w.failed, out = (int64_t)w.failed_end;
    if (pc > w.failed + 1 && (jumps.least[pc] < in || jumps.most[pc] >= out))
      w.failed_end = 0;  /* reached from outside too */
    for (; next < f.locals.size() && f.locals[next].startpc <= pc; next++) {
      if (f.locals[next].endpc <= pc || w.live.size() >= REGISTERS) continue;
      uint32_t at = (uint32_t)w.live.size();
      int kind = kindof(&f.locals[next].name);
      if (kind == NOTHING && w.reg[at].kind != STRING) kind = w.reg[at].kind;
      if (kind == STATUS && overwritten(f, pc, f.locals[next], at)) kind = NOTHING;
      w.alias[next] = kind;
      w.live.push_back(next);
    }

    Held v = {NOTHING, 0};
    switch (OPCODE(i)) {
      case OP_MOVE:
        v = value(&w, b);
        break;
      case OP_LOADK:
        if (stringk(f, ARG_BX(i))) v = Held{STRING, ARG_BX(i)};
        break;
      case OP_GETUPVAL:
        if (b < w.up.size()) v = w.up[b];
        break;
      case OP_GETGLOBAL:
        v.kind = kindof(stringk(f, ARG_BX(i)));
        break;
      case OP_GETTABLE:
        if (value(&w, b).kind == GLOBALS) {
          Held key = value(&w, c);
          if (c >= CONSTANT) v.kind = kindof(stringk(f, c - CONSTANT));
          else if (key.kind == STRING) v.kind = kindof(stringk(f, key.k));
        }
        break;
      case OP_CALL:
        if (call(&w, pc, names) == PCALL && c != 1) v.kind = STATUS;
        break;
      case OP_TAILCALL:
        call(&w, pc, names);
        break;
      case OP_TEST:
        failure(&w, pc, a);
        break;
      case OP_TESTSET:
        failure(&w, pc, b);
        break;
      case OP_CLOSURE:
        closure(&w, pc, &walked, names);
        break;
    }
    uint32_t from, to;
    if (writes(i, &from, &to))
      for (uint32_t r = from; r <= to && r < REGISTERS; r++) {
        w.reg[r] = Held{NOTHING, 0};
        w.wrote[r] = (int64_t)pc;
      }
    if (v.kind != NOTHING && a < REGISTERS) w.reg[a] = v;
  }
  /* a nested function no closure makes, at the end */
  for (size_t n = 0; n < f.nested.size(); n++)
    if (!walked[n]) calls(f.nested[n], std::vector<Held>(), names);
}


static void function(Reader *r, int depth, Function *f) {
  if (depth > MAX_DEPTH) r->ok = 0;
  text(r);                   /* source */
  skip(r, r->intsize * 2);   /* lines */
  f->nups = byte(r);
  skip(r, 3);                /* parameters, vararg, stack */
  f->code.resize(count(r, 4));
  for (uint32_t &c : f->code) c = (uint32_t)number(r, 4);
  for (uint32_t n = count(r, 1); n > 0 && r->ok; n--) {  /* grown as read: a count is no promise */
    int type = byte(r);
    f->k.push_back(type == 4 ? text(r) : std::string());
    f->isstring.push_back(type == 4);
    if (type == 1) skip(r, 1);                  /* boolean */
    else if (type == 3) skip(r, r->numsize);    /* number */
    else if (type != 0 && type != 4) r->ok = 0;
  }
  for (uint32_t n = count(r, 1); n > 0 && r->ok; n--) {
    f->nested.emplace_back();
    function(r, depth + 1, &f->nested.back());
  }
  uint32_t lines = count(r, r->intsize);
  for (uint32_t n = lines; n > 0 && r->ok; n--) f->lines.push_back(number(r, r->intsize));
  for (uint32_t n = count(r, 1); n > 0 && r->ok; n--) {
    Local l;
    l.name = text(r);
    l.startpc = number(r, r->intsize);
    l.endpc = number(r, r->intsize);
    f->locals.push_back(l);
  }
  for (uint32_t n = count(r, 1); n > 0 && r->ok; n--) f->upvalues.push_back(text(r));
  /* Stripped of its debug data, a function may call require through a
  ** local that cannot be named: it is not read whole. */
  if (lines == 0 && !f->code.empty()) r->ok = 0;
}


int bytecoderequires(const std::string &chunk, std::vector<Require> *names) {
  Reader r = {&chunk, 0, 1, 1, 0, 0, 0};
  if (!header(&r)) return 0;
  Function main;
  function(&r, 0, &main);
  if (r.ok) calls(main, std::vector<Held>(), names);
  return r.ok;
}
