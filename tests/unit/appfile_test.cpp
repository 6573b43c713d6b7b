// appfile_test.cpp: handles over a carried file, call by call against the
// engine's own handles on the same bytes read from disk.
#include <gtest/gtest.h>

#include <string>

#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>

#include "appfile.h"

namespace {

int newappfile(lua_State *L) {
  luaL_checkstring(L, 1);
  appfile_push(L, 1);
  return 1;
}

class AppFile : public ::testing::Test {
 protected:
  lua_State *L = nullptr;
  void SetUp() override {
    L = luaL_newstate();
    luaL_openlibs(L);
    lua_pushcfunction(L, newappfile);
    lua_setglobal(L, "appfile");
    // Reads of "*n" and writes answer as glibc's on every system; only there
    // does the engine's own handle agree on hexadecimal, "nan", the text a
    // failed "*n" eats, and writes.
#if defined(__GLIBC__)
    lua_pushboolean(L, 1);
#else
    lua_pushboolean(L, 0);
#endif
    lua_setglobal(L, "glibc");
    lua_pushboolean(L, sizeof(lua_Integer) >= 8);
    lua_setglobal(L, "wide");
    std::string path = ::testing::TempDir() + "appfile_" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name();
    lua_pushstring(L, path.c_str());
    lua_setglobal(L, "path");
  }
  void TearDown() override { lua_close(L); }

  // Runs code; its error, else the text it returns.
  std::string run(const char *code) {
    if (luaL_loadstring(L, code) != 0 || lua_pcall(L, 0, 1, 0) != 0) return lua_tostring(L, -1);
    const char *s = lua_tostring(L, -1);
    return s ? s : "";
  }
};

}  // namespace


// Every call's results, or error, must be the engine's on the same bytes.
TEST_F(AppFile, AnswersAsTheEnginesOwnHandle) {
  EXPECT_EQ(run(R"lua(
    local function ser(...)
      local out = {select('#', ...)}
      for i = 1, select('#', ...) do
        local v = select(i, ...)
        out[#out + 1] = type(v) .. ":" .. (type(v) == "string" and ("%q"):format(v) or tostring(v))
      end
      return table.concat(out, " ")
    end
    local ops = {
      function(h) return h:read() end,
      function(h) return h:read("*l", "*l") end,
      function(h) return h:seek() end,
      function(h) return h:read(0, 3, "*n", "*l") end,
      function(h) return h:seek("cur", -2), h:read(1) end,
      function(h) return h:read("*a") end,
      function(h) return h:read(0), h:read("*a"), h:read(1), h:read("*l"), h:read("*n"), h:read() end,
      function(h) return h:read("*a", "*a", 0, "*bogus") end,
      function(h) return h:seek("end"), h:seek("end", 10), h:read("*a"), h:read(0), h:read(5), h:read(), h:seek() end,
      function(h) return h:seek("set", -1) end,
      function(h) return h:seek("cur", -1e6), h:seek() end,
      function(h) return h:seek("set", 2), h:read(2, "*bogus") end,
      function(h) return h:seek() end,
      function(h) return h:read("x") end,
      function(h) return h:read({}) end,
      function(h) return h:read(-1), h:seek("set", 1), h:read("*line", 4, "*all") end,
      function(h)
        h:seek("set")
        local t = {}
        for l in h:lines() do t[#t + 1] = l end
        return table.concat(t, "|"), #t
      end,
      function(h)
        local it = h:lines()
        return h:seek("set", 3), it(), h:seek("end"), select('#', it())
      end,
      function(h)
        h:seek("set")
        local t = {}
        for i = 1, 8 do t[i] = ser(h:read("*n")) .. "@" .. h:seek() end
        return table.concat(t, " ")
      end,
      function(h) return h:seek("set"), h:read("*n", "*n", "*l", "*n") end,
      -- Windows' C library lets a write into a stream being read succeed
      -- while its buffer holds bytes not yet read.
      function(h) if glibc then return h:write("x") end end,
      function(h) if glibc then return h:write("", ""), h:write(), h:write(1), h:write("", 2) end end,
      function(h) return h:write("a", {}) end,
      function(h) return h:flush(), h:setvbuf("no"), h:setvbuf("full", 1024), h:setvbuf("line") end,
      function(h) return h:setvbuf("bogus") end,
      function(h) return h:seek("bogus") end,
      function(h) return h:seek("set", "x") end,
      function(h) return h:seek("set"), h:read(3), h:seek() end,
      function(h) return (tostring(h):gsub("%(%w+%)", "(p)")) end,
      function(h)
        h:seek("set")
        local it = h:lines()
        return it(), h:close(), pcall(it)
      end,
      function(h)
        local t = {tostring(h)}
        for _, m in ipairs{"read", "lines", "seek", "write", "flush", "setvbuf", "close"} do
          t[#t + 1] = select(2, pcall(h[m], h, "no"))
        end
        return table.concat(t, "|")
      end,
    }
    local big = {}
    for i = 1, 1800 do big[i] = ("line %d %s"):format(i, ("x"):rep(i % 97)) end
    -- Lines longer than the engine's line buffer, with zero bytes inside
    -- and at the edge of its pieces.
    big[#big + 1] = ("y"):rep(9000) .. "\0z\n" .. ("w"):rep(8191) .. "\0v\n" .. "a\0" .. ("b"):rep(9000)
                    .. "\n" .. ("u"):rep(8190) .. "\n\0t"
    local contents = {
      "", "one\ntwo\nthree", "a\r\nb\r\n\r\nlast\r\n", "ze\0ro\nnext\n\0\nend\0",
      " 12 -3.5e2 abc", "\n\t 7\n8.25 9\n", "   ", table.concat(big, "\n"),
    }
    if glibc then
      for _, s in ipairs{" 12 -3.5e2 0x10 abc", "1e+x 2", "-x 5", "nan(1) inf infinity -INF Infinit",
                         "0x1p4 0X.8P-1 0x 1", "0xg", ".5 1.5.3 +.e1", "1E5e 3",
                         "\v\f\r 3 -nan +inf nAn(a_1) nan( i n na -0x 0x.p1 1e- 1e+5 0xAbCp+2 0x1.8P",
                         "infinity7 INFINITE -i +n 00012 0.0e0x -. +0x1p-3q"} do
        contents[#contents + 1] = s
      end
    end
    assert(#contents[8] > 100000)
    local bad = {}
    for ci, s in ipairs(contents) do
      local w = assert(io.open(path, "wb"))
      w:write(s)
      w:close()
      local real, app = assert(io.open(path, "rb")), appfile(s)
      for oi, op in ipairs(ops) do
        local want, got = ser(pcall(op, real)), ser(pcall(op, app))
        if want ~= got then
          bad[#bad + 1] = ("content %d, call %d: io %s\n  app %s"):format(ci, oi, want:sub(1, 300), got:sub(1, 300))
        end
      end
    end
    os.remove(path)
    return table.concat(bad, "\n")
  )lua"), "");
}


// What the engine's handles cannot show: the handle's own type name, writes
// refused on every system, the string it holds, positions past what a 32-bit
// offset reaches.
TEST_F(AppFile, HoldsItsStringAndNamesItsType) {
  EXPECT_EQ(run(R"lua(
    local h = appfile("abc")
    local ok, err = pcall(function() return h.read(42) end)
    assert(not ok and err:find("bad argument #1 to 'read' (ovrel.app file expected, got number)", 1, true), err)
    assert(io.type(h) == nil)
    local none, msg, code = h:write("x")
    assert(none == nil and msg == "Bad file descriptor" and code == 9, msg)
    assert(h:write("", "") == true and h:write(1) == nil)
    assert(tostring(h):match("^file %(%w+%)$") and tostring(h) ~= "file (closed)", tostring(h))

    local function held(s)
      local n = 0
      for _, v in pairs(debug.getregistry()) do if v == s then n = n + 1 end end
      return n
    end
    local s = ("carried\n"):rep(100) .. "alone"
    h = appfile(s)
    assert(held(s) == 1)
    h:close()
    assert(held(s) == 0, "close lets go of the string")
    h = appfile(s)
    h = nil
    collectgarbage()
    collectgarbage()
    assert(held(s) == 0, "collection lets go of the string")

    h = appfile(("k"):rep(50000) .. "\n")
    collectgarbage()
    collectgarbage()
    assert(h:read("*a") == ("k"):rep(50000) .. "\n", "the handle keeps its string")

    for _ = 1, 4 do h:seek("cur", 2^30) end
    assert(h:seek() == 50001 + 2^32)
    assert(h:read(1) == nil and h:read("*a") == "" and h:read() == nil)
    if wide then
      assert(h:seek("set", 2^62) == 2^62)
      local pos, msg, code = h:seek("cur", 2^62)
      assert(pos == nil and type(msg) == "string" and type(code) == "number", msg)
      assert(h:seek() == 2^62)
    end
    return ""
  )lua"), "");
}
