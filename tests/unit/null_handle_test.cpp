// null_handle_test.cpp: every operation on a map handle that holds no table.
//
// Scripts cannot make such a handle, so the test makes one through the
// engine: a userdata with the module's metatable and a null pointer.
#include <gtest/gtest.h>

#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>

#include <string.h>
#include <string>

extern "C" void lua_setmetatabletoobject(lua_State *L, int idx, const char *tname, int settype);

namespace {

class NullHandle : public ::testing::Test {
 protected:
  lua_State *L = nullptr;

  void SetUp() override {
    L = luaL_newstate();
    luaL_openlibs(L);
    ASSERT_EQ(run("package.cpath = '" NUMHASH_MODULE_PATTERN "'; nh = require 'numhash'"), "");
    pushnull();
    lua_setglobal(L, "nullmap");
    pushnull();
    lua_setmetatabletoobject(L, -1, "numhash", 1);  // with the user type name too
    lua_setglobal(L, "namedmap");
  }

  void TearDown() override { lua_close(L); }

  void pushnull() {
    *(void **)lua_newuserdata(L, sizeof(void *)) = nullptr;
    luaL_getmetatable(L, "numhash");
    lua_setmetatable(L, -2);
  }

  // Runs code; returns the error message without its position, or the
  // text of its one result prefixed with "= ", or "" for no result.
  std::string run(const char *code) {
    if (luaL_loadbuffer(L, code, strlen(code), "=t") || lua_pcall(L, 0, 1, 0)) {
      std::string msg = lua_tostring(L, -1);
      lua_pop(L, 1);
      return msg.rfind("t:1: ", 0) == 0 ? msg.substr(5) : msg;
    }
    std::string out;
    if (!lua_isnil(L, -1)) {
      lua_getglobal(L, "tostring");
      lua_pushvalue(L, -2);
      lua_call(L, 1, 1);
      out = std::string("= ") + lua_tostring(L, -1);
      lua_pop(L, 1);
    }
    lua_pop(L, 1);
    return out;
  }
};

}  // namespace


TEST_F(NullHandle, OperationsThatNeedTheTableRaiseWithTheirOwnName) {
  const std::pair<const char *, const char *> calls[] = {
      {"attrib", "nh.attrib(nullmap)"},
      {"cleanse", "nh.cleanse(nullmap)"},
      {"getitem", "nh.getitem(nullmap)"},
      {"getitem", "nh.getitem(nullmap, 1)"},
      {"getitem", "return nullmap[1]"},
      {"has", "nh.has(nullmap, 'x')"},
      {"include", "nh.include(nullmap, 1, 'x')"},
      {"include", "nullmap[1] = 'x'"},
      {"purge", "nh.purge(nullmap, 1)"},
      {"resize", "nh.resize(nullmap, 'not even a number')"},
      {"totable", "nh.totable(nullmap)"},
  };
  for (auto [name, code] : calls) {
    std::string msg = run(code);
    std::string want = std::string("Error in `numhash.") + name + "`: uninitialized hash map.";
    EXPECT_NE(msg.find(want), std::string::npos) << code << " gave " << msg;
  }
}


TEST_F(NullHandle, ArgumentChecksComeBeforeThePointerTest) {
  EXPECT_EQ(run("nh.has(nullmap, 5)"), "bad argument #2 to 'has' (string expected, got number)");
  EXPECT_EQ(run("nh.include(nullmap, 'k', 'v')"),
            "bad argument #2 to 'include' (number expected, got string)");
  EXPECT_EQ(run("nh.include(nullmap, 1, 2)"),
            "bad argument #3 to 'include' (string expected, got number)");
  EXPECT_EQ(run("nh.purge(nullmap, {})"), "bad argument #2 to 'purge' (number expected, got table)");
}


TEST_F(NullHandle, QueriesAnswerAsForAnEmptyMap) {
  EXPECT_EQ(run("return #nullmap"), "= 0");
  EXPECT_EQ(run("return getmetatable(nullmap).__size(nullmap)"), "= 0");
  EXPECT_EQ(run("return getmetatable(nullmap).__empty(nullmap)"), "= true");
  EXPECT_EQ(run("return getmetatable(nullmap).__filled(nullmap)"), "= false");
  EXPECT_EQ(run("return getmetatable(nullmap).__in('x', nullmap)"), "= false");
  EXPECT_EQ(run("return getmetatable(nullmap).__notin('x', nullmap)"), "= true");
  EXPECT_EQ(run("local it = nh.iterate(nullmap); return it() == nil and it() == nil"), "= true");
}


TEST_F(NullHandle, PrintingNeedsTheUserTypeName) {
  EXPECT_NE(run("return tostring(nullmap)").find("Error in `numhash.__tostring`: invalid string hash table."),
            std::string::npos);
  EXPECT_EQ(run("return tostring(namedmap)"), "= numhash(0)");
}


TEST_F(NullHandle, ReleaseDetachesWithoutFreeingAnything) {
  EXPECT_EQ(run("getmetatable(namedmap).__gc(namedmap); return getmetatable(namedmap)"), "");
  EXPECT_NE(run("return tostring(namedmap)").find("userdata"), std::string::npos);
}
