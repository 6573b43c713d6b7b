// image_test.cpp: reading the built module and runtime library as images,
// whole, cut short and damaged.
#include <gtest/gtest.h>

#include <stdint.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image.h"

namespace {

namespace fs = std::filesystem;

// The process's own architecture, as ELF and PE number it.
#if defined(__x86_64__) || defined(_M_X64)
const int elfmachine = 62, pemachine = 0x8664;
#elif defined(__i386__) || defined(_M_IX86)
const int elfmachine = 3, pemachine = 0x14c;
#elif defined(__aarch64__) || defined(_M_ARM64)
const int elfmachine = 183, pemachine = 0xaa64;
#else
const int elfmachine = -1, pemachine = -1;
#endif

#if defined(_WIN32)
const int platformkind = 'P';
#else
const int platformkind = 'E';
#endif

std::string slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A file holding text, in the working folder: the build's, not shared.
std::string scratch(const char *name, const std::string &text) {
  std::ofstream(name, std::ios::binary | std::ios::trunc) << text;
  return name;
}

// A cut or damaged copy of an image reads without a fault and exports
// nothing the whole image lacks.
// Each test has a file of its own: ctest runs them side by side.
void expectnomore(const std::string &text, size_t n, int kind = platformkind) {
  const testing::TestInfo *test = testing::UnitTest::GetInstance()->current_test_info();
  std::string file = std::string("image_test_cut_") + test->name();
  std::string path = scratch(file.c_str(), text);
  Image im = readimage(path);
  EXPECT_TRUE(im.kind == 0 || im.kind == kind) << n;
  EXPECT_EQ(exportsymbol(path, "luaopen_absent"), 0) << n;
  EXPECT_EQ(exportsymbol(path, "lua_setmetatabletoobject"), 0) << n;
  fs::remove(path);
}

void put(std::string *s, size_t at, uint32_t v, int n) {
  for (int i = 0; i < n; i++) (*s)[at + i] = (char)(v >> (8 * i));
}

// A 32-bit x86 DLL of one section (address 0x1000, file offset 0x200) that
// exports luaopen_a_b and luaopen_a_c and imports ovrel.dll, as a file
// holding several modules for the Windows launcher does.
std::string dll() {
  std::string s(0x400, '\0');
  s.replace(0, 2, "MZ");
  put(&s, 0x3c, 0x40, 4);
  s.replace(0x40, 4, std::string("PE\0\0", 4));
  put(&s, 0x44, 0x14c, 2);            // machine
  put(&s, 0x46, 1, 2);                // sections
  put(&s, 0x54, 224, 2);              // optional header's size
  put(&s, 0x58, 0x10b, 2);            // PE32
  put(&s, 0xb4, 16, 4);               // data directories
  put(&s, 0xb8, 0x1000, 4), put(&s, 0xbc, 0x60, 4);   // exports
  put(&s, 0xc0, 0x1100, 4), put(&s, 0xc4, 0x28, 4);   // imports
  put(&s, 0x138 + 8, 0x200, 4), put(&s, 0x138 + 12, 0x1000, 4);
  put(&s, 0x138 + 16, 0x200, 4), put(&s, 0x138 + 20, 0x200, 4);
  put(&s, 0x200 + 24, 2, 4), put(&s, 0x200 + 32, 0x1040, 4);  // two names, their table
  put(&s, 0x240, 0x1080, 4), put(&s, 0x244, 0x1090, 4);
  s.replace(0x280, 11, "luaopen_a_b"), s.replace(0x290, 11, "luaopen_a_c");
  put(&s, 0x300 + 12, 0x1180, 4);
  s.replace(0x380, 9, "ovrel.dll");
  return s;
}

TEST(ImageTest, ModuleAndRuntime) {
  Image mod = readimage(NUMHASH_MODULE), rt = readimage(OVREL_LIBRARY);
  EXPECT_EQ(mod.kind, platformkind);
  EXPECT_EQ(rt.kind, platformkind);
  if (platformkind == 'E') {  // on Windows the runtime is ovrel.dll, no soname
    EXPECT_EQ(rt.soname, "libovrel.so.1");
    EXPECT_EQ(mod.soname, "");
    EXPECT_NE(std::find(mod.needed.begin(), mod.needed.end(), rt.soname), mod.needed.end());
  }
  EXPECT_EQ(rt.machine, mod.machine);
  if (elfmachine < 0) GTEST_SKIP() << "no machine number known for this architecture";
  EXPECT_EQ(mod.machine, platformkind == 'E' ? elfmachine : pemachine);
}

TEST(ImageTest, Exports) {
  EXPECT_EQ(exportsymbol(NUMHASH_MODULE, "luaopen_numhash"), 1);
  EXPECT_EQ(exportsymbol(NUMHASH_MODULE, "luaopen_absent"), 0);
  EXPECT_EQ(exportsymbol(NUMHASH_MODULE, "luaopen_numhas"), 0);  // a prefix is no match
  // Defined by the runtime, only imported by the module.
  EXPECT_EQ(exportsymbol(OVREL_LIBRARY, "lua_setmetatabletoobject"), 1);
  EXPECT_EQ(exportsymbol(NUMHASH_MODULE, "lua_setmetatabletoobject"), 0);
}

TEST(ImageTest, ADllOfSeveralModules) {
  std::string whole = dll(), path = scratch("image_test.dll", whole);
  Image im = readimage(path);
  EXPECT_EQ(im.kind, 'P');
  EXPECT_EQ(im.machine, 0x14c);
  EXPECT_EQ(im.needed, std::vector<std::string>{"ovrel.dll"});
  EXPECT_EQ(exportsymbol(path, "luaopen_a_b"), 1);
  EXPECT_EQ(exportsymbol(path, "luaopen_a_c"), 1);
  EXPECT_EQ(exportsymbol(path, "luaopen_a"), 0);
  fs::remove(path);
  // Cut, and 16 bytes set to all ones or to zeros: sizes and offsets out
  // of range, or tables and names that are not there.
  for (size_t n = 0; n < whole.size(); n += 7) {
    expectnomore(whole.substr(0, n), n, 'P');
    for (char fill : {'\xff', '\0'}) {
      std::string damaged = whole;
      for (size_t i = n; i < std::min(n + 16, whole.size()); i++) damaged[i] = fill;
      expectnomore(damaged, n, 'P');
    }
  }
}

TEST(ImageTest, TextIsNoImage) {
  std::string path = scratch("image_test_text.lua", "print 'hello'\n");
  Image im = readimage(path);
  EXPECT_EQ(im.kind, 0);
  EXPECT_EQ(im.machine, 0);
  EXPECT_TRUE(im.needed.empty());
  EXPECT_EQ(exportsymbol(path, "luaopen_numhash"), 0);
  EXPECT_FALSE(executable(path));
  fs::remove(path);
}

TEST(ImageTest, CutOrDamagedModule) {
  std::string whole = slurp(NUMHASH_MODULE);
  ASSERT_GT(whole.size(), 4096u);
  for (size_t n = 0; n < whole.size(); n += 997) {
    expectnomore(whole.substr(0, n), n);
    // Every other 8 bytes all ones or zeros: links, sizes and offsets out
    // of range in headers whose other fields still look right.
    for (char fill : {'\xff', '\0'}) {
      std::string damaged = whole;
      for (size_t i = n; i < std::min(n + 997, whole.size()); i++)
        if (i & 8) damaged[i] = fill;
      expectnomore(damaged, n);
    }
  }
}

}  // namespace
