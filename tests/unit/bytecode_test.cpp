// bytecode_test.cpp: the requires the glue tool reads from the engine's own
// compilation of a chunk.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "bytecode.h"

namespace {

int append(lua_State *, const void *p, size_t n, void *ud) {
  static_cast<std::string *>(ud)->append(static_cast<const char *>(p), n);
  return 0;
}

// The engine's dump of a chunk, source or precompiled; "" when it does not load.
std::string dump(const std::string &chunk) {
  lua_State *L = luaL_newstate();
  std::string out;
  if (luaL_loadbuffer(L, chunk.data(), chunk.size(), "=t") == 0) lua_dump(L, append, &out);
  lua_close(L);
  return out;
}

// The requires read from source, one "name@line" each, "?" after an
// optional one.
std::string listed(const char *source) {
  std::string chunk = dump(source);
  if (chunk.empty()) return "does not compile";
  std::vector<Require> found;
  std::string out = bytecoderequires(chunk, &found) ? "" : "not read whole: ";
  for (const Require &r : found) out += r.name + "@" + std::to_string(r.line) + (r.optional ? "? " : " ");
  return out;
}

// `require "a"` as a precompiler would leave it stripped of debug data,
// in the engine's own sizes and byte order.
std::string stripped() {
  std::string c = dump("").substr(0, 12);  // the header
  auto put = [&](const void *p, size_t n) { c.append(static_cast<const char *>(p), n); };
  auto integer = [&](int v) { put(&v, sizeof v); };
  auto text = [&](const char *s) { size_t n = strlen(s) + 1; put("\4", 1); put(&n, sizeof n); put(s, n); };
  const uint32_t code[] = {5, 1 | 1 << 6 | 1 << 14, 28 | 1 << 14 | 2 << 23, 30 | 1 << 23};
  size_t nosource = 0;
  put(&nosource, sizeof nosource);
  integer(0), integer(0);                 // lines defined
  put("\0\0\2\2", 4);                     // upvalues, parameters, vararg, stack
  integer(4), put(code, sizeof code);     // GETGLOBAL, LOADK, CALL, RETURN
  integer(2), text("require"), text("a");
  integer(0);                             // nested functions
  integer(0), integer(0), integer(0);     // lines, locals, upvalue names
  return c;
}

struct Case {
  const char *source, *expected;
};

}  // namespace


TEST(Bytecode, LiteralNamesInEveryFormTheEngineHonours) {
  const Case cases[] = {
    {"require 'a'\nrequire('b')\nreturn require [[c]]", "a@1 b@2 c@3 "},
    {"_G.require 'a'\n_G.require('b')\nlocal G = _G\nG.require 'c'", "a@1 b@2 c@4 "},
    {"pcall(require, 'a')\n_G.pcall(_G.require, 'b')\npcall(_G.require, 'c')\n_G.pcall(require, 'd', 1)",
     "a@1? b@2? c@3? d@4? "},
    {"local r = require\nr 'a'\nlocal function f()\n  return r 'b'\nend\nlocal req = _G.require\nreq 'c'",
     "a@2 b@4 c@7 "},
    {"local r = require\nlocal function f()\n  return function() r 'a' end\nend", "a@3 "},
    {"local require = require\nrequire 'a'\nreturn function(require) require 'b' end", "a@2 b@3 "},
    {"local function f() require 'b' end\nrequire 'a'", "b@1 a@2 "},
    {"pcall(require, 'a')\nrequire 'a'\npcall(require, 'b')\npcall(require, 'b')", "a@2 b@3? "},
    {"local r = require\nwhile x do r 'a' end\nfor k, v in pairs(t) do require 'b' end", "a@2 b@3 "},
    {"local ok, m = pcall(require, 'a')\nm 'b'", "a@1? "},
    // A require that runs only when a pcall of require failed.
    {"local ok, m = pcall(require, 'a')\nif not ok then m = require 'b' end\nrequire 'c'", "a@1? b@2? c@3 "},
    {"local ok, m = _G.pcall(_G.require, 'a')\nif not ok then m = require 'b' end", "a@1? b@2? "},
    {"local ok = pcall(require, 'a') or require 'b'\nif not pcall(require, 'c') then require 'd' end",
     "a@1? b@1? c@2? d@2? "},
    {"local ok, m = pcall(require, 'a')\nif ok then x = require 'b' end\nif x or not ok then require 'c' end",
     "a@1? b@2 c@3 "},
    {"local ok = pcall(require, 'a')\nwhile x do\n  if not ok then require 'b' end\n  ok = f()\nend",
     "a@1? b@3 "},
    // Calls of something else, of require with more than the name, or of
    // what held require on one way there only, or before.
    {"local t = {require = print}\nt.require 'a'\nlocal p = print\np 'b'", ""},
    {"require('c', 2)\nrequire('d', f())\nrequire()", ""},
    {"local m = x and print or require\nm 'a'\n_ = require\nlocal function f() end\nf 'b'", ""},
    {"_ = {1, 2, require}\nfor k in next, t do k 'a' end", ""},
  };
  for (const Case &c : cases) EXPECT_EQ(listed(c.source), c.expected) << c.source;
}


TEST(Bytecode, ComputedNamesOncePerLineOfTheCall) {
  const Case cases[] = {
    {"require(name)\nrequire('a.' .. x)\nrequire(...)", "@1 @2 @3 "},
    {"pcall(require, name)\n_G.pcall(_G.require, name or 'a')\npcall(require, f())", "@1? @2? @3? "},
    {"local r = require\nr(x) r(y)\npcall(require, x) require(y)", "@2 @3 "},
    {"local s = 'a'\nrequire(s)\nrequire('b')", "@2 b@3 "},
    {"local ok = pcall(require, x)\nif not ok then require(y) end", "@1? @2? "},
  };
  for (const Case &c : cases) EXPECT_EQ(listed(c.source), c.expected) << c.source;
}


TEST(Bytecode, AChunkNotWholeIsNotReadWhole) {
  std::vector<Require> found;
  std::string chunk = stripped();
  ASSERT_NE(dump(chunk), "") << "the engine loads the stripped chunk";
  EXPECT_EQ(bytecoderequires(chunk, &found), 0);
  EXPECT_EQ(listed("require 'a'"), "a@1 ");

  // Every prefix of a dump, each in a buffer of its own size.
  std::string whole = dump("local r = require\nlocal function f() return r 'a' end\npcall(require, 'b')");
  for (size_t n = 0; n < whole.size(); n++) {
    std::string part = whole.substr(0, n);
    EXPECT_EQ(bytecoderequires(part, &found), 0) << n << " bytes";
  }
}
