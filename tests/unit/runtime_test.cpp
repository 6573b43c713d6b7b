// runtime_test.cpp: the stand-in runtime's own operations, seen as the
// deliverables see them (through ovrel.h).
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#if !defined(_WIN32)
#include <dlfcn.h>

#include <filesystem>
#include <sstream>
#endif

#include "ovrel.h"

namespace {

struct Source {
  const char *text;
  bool done;
};

const char *readsource(lua_State *, void *data, size_t *size) {
  Source *s = (Source *)data;
  if (s->done) return nullptr;
  s->done = true;
  *size = strlen(s->text);
  return s->text;
}

class Runtime : public ::testing::Test {
 protected:
  lua_State *L = nullptr;
  void SetUp() override {
    L = luaL_newstate();
    luaL_openlibs(L);
  }
  void TearDown() override { lua_close(L); }

  // Compiles and runs code, leaving its one result on the stack; returns
  // the error message, or "" when it ran.
  std::string eval(const char *code) {
    Source s{code, false};
    if (lua_load(L, readsource, &s, "=t") != 0 || lua_pcall(L, 0, 1, 0) != 0) {
      std::string msg = lua_tolstring(L, -1, nullptr);
      lua_settop(L, -2);
      return msg;
    }
    return "";
  }

  // Calls the native function fn with the results of code as arguments.
  std::string call(lua_CFunction fn, const char *code) {
    lua_pushcclosure(L, fn, 0);
    Source s{code, false};
    if (lua_load(L, readsource, &s, "=t") != 0) return "bad test code";
    lua_call(L, 0, -1);  // fn args...
    if (lua_pcall(L, lua_gettop(L) - 1, 1, 0) != 0) {
      std::string msg = lua_tolstring(L, -1, nullptr);
      lua_settop(L, 0);
      return msg;
    }
    std::string out = lua_tolstring(L, -1, nullptr) ? lua_tolstring(L, -1, nullptr) : "(no text)";
    lua_settop(L, 0);
    return out;
  }
};

}  // namespace


TEST_F(Runtime, TypeCodesAreTheRuntimes) {
  ASSERT_EQ(eval("return 1"), "");
  EXPECT_EQ(lua_type(L, -1), 2);
  ASSERT_EQ(eval("return 's'"), "");
  EXPECT_EQ(lua_type(L, -1), 4);
  ASSERT_EQ(eval("return print"), "");
  EXPECT_EQ(lua_type(L, -1), 5);
  ASSERT_EQ(eval("return {}"), "");
  EXPECT_EQ(lua_type(L, -1), 9);
  EXPECT_EQ(lua_type(L, 100), LUA_TNONE);
  EXPECT_STREQ(lua_typename(L, 2), "number");
  EXPECT_STREQ(lua_typename(L, 9), "table");
  EXPECT_STREQ(lua_typename(L, LUA_TUSERDATA), "userdata");
  EXPECT_STREQ(lua_typename(L, lua_type(L, 100)), "no value");
  EXPECT_STREQ(lua_typename(L, 8), "?") << "no runtime type has code 8";
}


TEST_F(Runtime, FormatterKnowsUnsignedAndEverythingTheEngineDoes) {
  lua_pushfstring(L, "%s|%d|%u|%c|%%|%f|%q|%", "x", -5, 4000000000u, 'z', 2.5);
  EXPECT_STREQ(lua_tolstring(L, -1, nullptr), "x|-5|4000000000|z|%|2.5|%q|%");
  lua_pushfstring(L, "(%u)", 0u);
  EXPECT_STREQ(lua_tolstring(L, -1, nullptr), "(0)");
  // Many directives in one format must not run out of stack.
  std::string want;
  for (int i = 0; i < 15; i++) want += "ab";
  lua_pushfstring(L, "%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s",
                  "a", "b", "a", "b", "a", "b", "a", "b", "a", "b", "a", "b", "a", "b", "a",
                  "b", "a", "b", "a", "b", "a", "b", "a", "b", "a", "b", "a", "b", "a", "b");
  EXPECT_EQ(std::string(lua_tolstring(L, -1, nullptr)), want);

  char p[64];
  snprintf(p, sizeof p, "%p|7", (void *)&want);
  lua_pushfstring(L, "%p|%d", (void *)&want, 7);
  EXPECT_STREQ(lua_tolstring(L, -1, nullptr), p);
  lua_pushfstring(L, "[%s]", (const char *)nullptr);
  EXPECT_STREQ(lua_tolstring(L, -1, nullptr), "[(null)]");
  lua_settop(L, 0);
}


TEST_F(Runtime, FormatterDirectivesLandingOnAFullBufferKeepTheirText) {
  // The engine's buffer holds BUFSIZ bytes; each single-character
  // directive must also be right when it is the one that overflows it.
  const char *const tails[][2] = {{"%c!", "z!"}, {"%%!", "%!"}, {"%", "%"}, {"%q!", "%q!"}};
  for (size_t pad = BUFSIZ - 2; pad <= BUFSIZ + 1; pad++) {
    for (const auto &t : tails) {
      std::string head(pad, 'a');
      lua_pushfstring(L, (head + t[0]).c_str(), 'z');
      EXPECT_EQ(std::string(lua_tolstring(L, -1, nullptr)), head + t[1]) << pad << " " << t[0];
      lua_settop(L, 0);
    }
  }
}


static int raise_u(lua_State *L) { return luaL_error(L, "count %u of %s", 7u, "x"); }

TEST_F(Runtime, ErrorsCarryTheFormattedText) {
  EXPECT_EQ(call(raise_u, "return"), "count 7 of x");
}


static int checks(lua_State *L) {
  lua_Number n = ovr_checknumber(L, 1);
  const char *s = ovr_checkstring(L, 2);
  int k = ovr_checknonnegint(L, 3);
  int p = ovrL_optposint(L, 4, 8);
  int b = ovrL_optboolean(L, 5, 1);
  lua_pushfstring(L, "%f %s %d %d %d", n, s, k, p, b);
  return 1;
}

TEST_F(Runtime, CheckersAreStrictAndOptionalsTakeTheirDefaults) {
  EXPECT_EQ(call(checks, "return 1.5, 's', 0"), "1.5 s 0 8 1");
  EXPECT_EQ(call(checks, "return 1, 's', 3, nil, false"), "1 s 3 8 0");
  EXPECT_EQ(call(checks, "return 1, 's', 2147483647, 1"), "1 s 2147483647 1 1");
  EXPECT_EQ(call(checks, "return '1', 's', 0"), "bad argument #1 to '?' (number expected, got string)");
  EXPECT_EQ(call(checks, "return 1, 2, 0"), "bad argument #2 to '?' (string expected, got number)");
  EXPECT_EQ(call(checks, "return 1, 's', -1"), "bad argument #3 to '?' (non-negative integer expected)");
  EXPECT_EQ(call(checks, "return 1, 's', 0.5"), "bad argument #3 to '?' (non-negative integer expected)");
  EXPECT_EQ(call(checks, "return 1, 's', 2^31"), "bad argument #3 to '?' (non-negative integer expected)");
  EXPECT_EQ(call(checks, "return 1, 's', 0/0"), "bad argument #3 to '?' (non-negative integer expected)");
  EXPECT_EQ(call(checks, "return 1, 's', 0, 0"), "bad argument #4 to '?' (positive integer expected)");
  EXPECT_EQ(call(checks, "return 1, 's', 0, 1, 1"), "bad argument #5 to '?' (boolean expected, got number)");
}


TEST_F(Runtime, EnvironmentsCanBeRemovedAndOnlyTablesSet) {
  lua_newuserdata(L, 1);                 // ud
  lua_createtable(L, 0, 0);
  EXPECT_NE(lua_setfenv(L, -2), 0);
  lua_getfenv(L, -1);                    // ud env
  EXPECT_EQ(lua_type(L, -1), LUA_TTABLE);
  lua_settop(L, -2);
  lua_pushnil(L);
  lua_setfenv(L, -2);                    // removed
  lua_getfenv(L, -1);
  EXPECT_EQ(lua_type(L, -1), LUA_TNIL);
  lua_settop(L, -2);
  lua_pushinteger(L, 5);
  EXPECT_EQ(lua_setfenv(L, -2), 0);      // refused, and popped
  EXPECT_EQ(lua_gettop(L), 1);
}


TEST_F(Runtime, UserTypeNamesAndFrozenMarksComeAndGoWithoutHoldingObjects) {
  luaL_newmetatable(L, "thing");
  lua_settop(L, 0);
  lua_newuserdata(L, 1);                              // ud
  EXPECT_EQ(ovr_getutype(L, 1), 0);
  lua_setmetatabletoobject(L, 1, "thing", 1);
  ASSERT_EQ(ovr_getutype(L, 1), 1);                   // ud name
  EXPECT_STREQ(lua_tolstring(L, -1, nullptr), "thing");
  lua_settop(L, 1);
  ovr_udfreeze(L, 1, 1);
  EXPECT_EQ(ovr_udisfrozen(L, 1), 1);
  ovr_udfreeze(L, 1, 0);
  EXPECT_EQ(ovr_udisfrozen(L, 1), 0);
  lua_setmetatabletoobject(L, 1, nullptr, 1);
  EXPECT_EQ(ovr_getutype(L, 1), 0);
  EXPECT_EQ(luaL_callmeta(L, 1, "__gc"), 0);

  // A number cannot get a metatable of its own (the engine would give one
  // to every number).
  lua_pushinteger(L, 3);
  lua_setmetatabletoobject(L, -1, "thing", 1);
  EXPECT_EQ(eval("return tostring(getmetatable(3))"), "");
  EXPECT_STREQ(lua_tolstring(L, -1, nullptr), "nil");
  lua_settop(L, 0);

  // A table takes both; without settype only the metatable changes; a
  // name with no registered metatable leaves the object none.
  lua_createtable(L, 0, 0);
  lua_setmetatabletoobject(L, 1, "thing", 1);
  ovr_udfreeze(L, 1, 1);  // only a userdata can be frozen
  EXPECT_EQ(ovr_udisfrozen(L, 1), 0);
  lua_setglobal(L, "t");
  lua_newuserdata(L, 1);
  lua_setmetatabletoobject(L, 1, "thing", 0);
  EXPECT_EQ(ovr_getutype(L, 1), 0);
  lua_setglobal(L, "u");
  lua_newuserdata(L, 1);
  lua_setmetatabletoobject(L, 1, "unregistered", 1);
  ASSERT_EQ(ovr_getutype(L, 1), 1);
  EXPECT_STREQ(lua_tolstring(L, -1, nullptr), "unregistered");
  lua_settop(L, 1);
  lua_setglobal(L, "v");
  EXPECT_EQ(eval("local thing = debug.getregistry().thing "
                 "return tostring(getmetatable(t) == thing and getmetatable(u) == thing "
                 "and getmetatable(v) == nil)"), "");
  EXPECT_STREQ(lua_tolstring(L, -1, nullptr), "true");
  lua_settop(L, 0);
  lua_getglobal(L, "t");
  lua_setmetatabletoobject(L, 1, nullptr, 0);  // no name removes both, settype or not
  EXPECT_EQ(ovr_getutype(L, 1), 0);
  EXPECT_EQ(eval("return tostring(getmetatable(t))"), "");
  EXPECT_STREQ(lua_tolstring(L, -1, nullptr), "nil");
  lua_settop(L, 0);

  // Pseudo-indices name their slot as they are, here a closure's upvalue.
  lua_newuserdata(L, 1);
  lua_pushcclosure(L, [](lua_State *L) {
    ovr_udfreeze(L, lua_upvalueindex(1), 1);
    lua_pushfstring(L, "%d", ovr_udisfrozen(L, lua_upvalueindex(1)));
    return 1;
  }, 1);
  lua_call(L, 0, 1);
  EXPECT_STREQ(lua_tolstring(L, -1, nullptr), "1");
  lua_settop(L, 0);

  // Marks do not keep objects alive: once only the marks refer to it, an
  // object with a finalizer is finalized.
  EXPECT_EQ(eval("collected = false "
                 "debug.getregistry().thing.__gc = function() collected = true end "
                 "p = newproxy and newproxy() or {} return p"), "");
  lua_setmetatabletoobject(L, -1, "thing", 1);
  ovr_udfreeze(L, -1, 1);
  lua_settop(L, 0);
  EXPECT_EQ(eval("p = nil collectgarbage() collectgarbage() return tostring(collected)"), "");
  EXPECT_STREQ(lua_tolstring(L, -1, nullptr), "true");
}


TEST_F(Runtime, RegistrationWiresTheRuntimesEventsToTheEnginesOperators) {
  static const luaL_Reg events[] = {
      {"__writeindex", [](lua_State *L) { lua_setglobal(L, "stored"); return 0; }},
      {"__size", [](lua_State *L) { lua_pushinteger(L, 42); return 1; }},
      {nullptr, nullptr},
  };
  luaL_newmetatable(L, "events");
  luaL_register(L, nullptr, events);
  lua_settop(L, 0);
  lua_newuserdata(L, 1);
  lua_setmetatabletoobject(L, 1, "events", 1);
  lua_setglobal(L, "u");
  EXPECT_EQ(eval("u[1] = 'v' return #u == 42 and stored == 'v'"), "");
  lua_getglobal(L, "stored");
  EXPECT_STREQ(lua_tolstring(L, -1, nullptr), "v");
}


TEST_F(Runtime, SmallOperations) {
  EXPECT_EQ(tools_nextpow2u32(1), 1u);
  EXPECT_EQ(tools_nextpow2u32(5), 8u);
  EXPECT_EQ(tools_nextpow2u32(1024), 1024u);
  EXPECT_EQ(tools_nextpow2u32(0x80000000u), 0x80000000u);

  lua_pushinteger(L, 12);
  char *copy = ovr_tostring(L, -1);
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "12");
  EXPECT_EQ(lua_type(L, -1), LUA_TNUMBER) << "the slot itself is not converted";
  free(copy);
  lua_createtable(L, 0, 0);
  EXPECT_EQ(ovr_tostring(L, -1), nullptr);
  lua_pushnumber(L, 2.5);
  ovr_rawsetfield(L, -2, "f");
  lua_getfield(L, -1, "f");
  EXPECT_EQ(ovr_tonumber(L, -1), 2.5);
  ovr_poptop(L);
  EXPECT_EQ(lua_type(L, -1), LUA_TTABLE);
}


#if !defined(_WIN32)
namespace {

// Reads package.path and package.cpath as a fresh state gets them.
std::string module_paths() {
  lua_State *L = luaL_newstate();
  luaL_openlibs(L);
  lua_getglobal(L, "package");
  lua_getfield(L, -1, "path");
  std::string out = std::string("path=") + lua_tolstring(L, -1, nullptr) + "\n";
  lua_getfield(L, -2, "cpath");
  out += std::string("cpath=") + lua_tolstring(L, -1, nullptr) + "\n";
  lua_close(L);
  return out;
}

// Each line of paths ("name=entries") without the entries in dir.
std::string without(const std::string &paths, const std::string &dir) {
  std::istringstream lines(paths);
  std::string out, line;
  while (std::getline(lines, line)) {
    size_t at = line.find('=') + 1;
    out += line.substr(0, at);
    const char *sep = "";
    for (size_t end = 0; end != std::string::npos; at = end + 1) {
      end = line.find(';', at);
      std::string entry = line.substr(at, end - at);
      if (entry.rfind(dir + "/", 0) == 0) continue;
      out += sep + entry;
      sep = ";";
    }
    out += "\n";
  }
  return out;
}

}  // namespace


/* A program's folder whose name holds ';' would split the path templates:
** such a program gets the default folders alone, and LUA_CPATH's ";;"
** still stands for them.  The test runs a copy of itself from such a folder. */
TEST_F(Runtime, AProgramFolderThatWouldSplitTheModulePathsIsLeftOut) {
  if (getenv("RUNTIME_TEST_SHOW_PATHS")) {
    printf("<<%s>>", module_paths().c_str());
    return;
  }
  namespace fs = std::filesystem;
  const fs::path self = fs::read_symlink("/proc/self/exe");
  const fs::path odd = self.parent_path() / "odd;folder";
  fs::create_directories(odd);
  fs::copy_file(self, odd / "copy", fs::copy_options::overwrite_existing);
  Dl_info runtime;  // the copy finds the runtime library where this program does
  ASSERT_NE(dladdr((void *)&ovrel_openlibs, &runtime), 0);
  setenv("LD_LIBRARY_PATH", fs::path(runtime.dli_fname).parent_path().c_str(), 1);
  unsetenv("LUA_PATH");
  setenv("LUA_CPATH", "/opt/mods/?.so;;", 1);
  const std::string mine = module_paths();
  setenv("RUNTIME_TEST_SHOW_PATHS", "1", 1);
  std::string cmd = "'";
  cmd += (odd / "copy").string();
  cmd += "' --gtest_filter=Runtime.AProgramFolderThatWouldSplitTheModulePathsIsLeftOut";
  FILE *child = popen(cmd.c_str(), "r");
  ASSERT_NE(child, nullptr);
  std::string out;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, child)) > 0;) out.append(buf, n);
  int status = pclose(child);
  unsetenv("RUNTIME_TEST_SHOW_PATHS");
  unsetenv("LUA_CPATH");
  fs::remove_all(odd);
  ASSERT_EQ(status, 0) << out;
  size_t from = out.find("<<"), to = out.find(">>");
  ASSERT_TRUE(from != std::string::npos && to != std::string::npos) << out;
  const std::string theirs = out.substr(from + 2, to - from - 2);
  EXPECT_NE(mine.find(self.parent_path().string() + "/?.so;"), std::string::npos) << mine;
  EXPECT_EQ(theirs, without(mine, self.parent_path().string()));
}
#endif


// A host that is no glued program carries nothing: every name, well formed
// or not, is answered as not included, and only names a program can carry
// reach the lookup at all.
TEST_F(Runtime, AppOfAProgramThatCarriesNothing) {
  ASSERT_EQ(eval("local app, out = require 'ovrel.app', {}\n"
                 "for _, n in ipairs{'a.txt', 'd/a', '', '/a', 'a//b', './a', 'a/..', 'a\\\\b', 'c:a', 'a\\0b', 42} do\n"
                 "  local s, e = app.read(n); local h, f = app.open(n); local l, g = app.loadlib(n, 'f')\n"
                 "  out[#out + 1] = tostring(s) .. tostring(h) .. tostring(l) .. (e == f and f == g and e or '?')\n"
                 "end\n"
                 "for n in app.files() do out[#out + 1] = n end\n"
                 // the function's name is the engine's to find
                 "out[#out + 1] = select(2, pcall(app.read)):gsub(\"to '[^']*'\", \"to 'read'\")\n"
                 "return table.concat(out, '|')"),
            "");
  EXPECT_STREQ(lua_tolstring(L, -1, nullptr),
               "nilnilnilno included file \"a.txt\"|nilnilnilno included file \"d/a\"|"
               "nilnilnilno included file \"\"|nilnilnilno included file \"/a\"|"
               "nilnilnilno included file \"a//b\"|nilnilnilno included file \"./a\"|"
               "nilnilnilno included file \"a/..\"|nilnilnilno included file \"a\\b\"|"
               "nilnilnilno included file \"c:a\"|nilnilnilno included file \"a\"|"
               "nilnilnilno included file \"42\"|"
               "bad argument #1 to 'read' (string expected, got no value)");
#if !defined(_WIN32)
  ASSERT_EQ(eval("return require('ovrel.app').path"), "");
  EXPECT_EQ(std::filesystem::path(lua_tolstring(L, -1, nullptr)), std::filesystem::read_symlink("/proc/self/exe"));
#endif
}
