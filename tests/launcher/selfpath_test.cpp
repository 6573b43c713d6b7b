// selfpath_test.cpp: the search for the program's own file from its name,
// which the launcher falls back on where /proc cannot name the running file,
// over files made in a temporary folder.
#include <gtest/gtest.h>

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "selfpath.h"

namespace {

// Each test runs in a fresh folder T, its current one, with PATH as the test
// sets it; both are put back afterwards.
class Search : public testing::Test {
 protected:
  std::string T, oldpath = getenv("PATH") ? getenv("PATH") : "";
  std::filesystem::path oldcwd = std::filesystem::current_path();

  void SetUp() override {
    std::string tmpl = std::string(getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp") + "/selfpath.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    std::filesystem::current_path(tmpl);
    T = std::filesystem::current_path();  // physical, as the search reports
    unsetenv("PATH");
  }
  void TearDown() override {
    std::filesystem::current_path(oldcwd);
    std::filesystem::remove_all(T);
    setenv("PATH", oldpath.c_str(), 1);
  }

  // Makes the files (paths from T; one ending in "/" is a folder).
  void files(std::initializer_list<std::string> paths) {
    for (const auto &p : paths) {
      std::filesystem::create_directories(std::filesystem::path(T + "/" + p).parent_path());
      if (!p.ends_with('/')) std::ofstream(T + "/" + p) << "x";
    }
  }
  // PATH: the entries, folders of T ("" stays empty).
  void path(std::initializer_list<std::string> entries) {
    std::string s, sep;
    for (const auto &e : entries) s += std::exchange(sep, ":") + (e.empty() ? e : T + "/" + e);
    setenv("PATH", s.c_str(), 1);
  }
  // The file that name leads to, from T (written "T"), or why there is none.
  std::string find(const std::string &name, size_t size = SELFPATH_MAX) {
    std::string buff(size, '#');
    errno = 0;
    if (!selfpath_search(name.c_str(), buff.data(), size)) return strerror(errno);
    std::string got = buff.c_str();
    return got.starts_with(T) ? "T" + got.substr(T.size()) : got;
  }
};

const std::string NOENT = strerror(ENOENT), TOOLONG = strerror(ENAMETOOLONG);


TEST_F(Search, ANameWithASlashIsAPathFromTheCurrentFolder) {
  files({"s/prog"});
  path({"s"});
  EXPECT_EQ(find("s/prog"), "T/s/prog");
  EXPECT_EQ(find(T + "/s/prog"), "T/s/prog");
  EXPECT_EQ(find("./s//./prog"), "T/s/prog") << "\".\" components and doubled slashes dropped";
  EXPECT_EQ(find("./prog"), NOENT) << "not looked for on PATH";
  EXPECT_EQ(find("./s"), strerror(EISDIR));
}


TEST_F(Search, ANameAloneIsLookedForHereThenOnPath) {
  files({"here/tool", "first/tool", "first/one", "second/one", "second/two"});
  path({"", "first", "", "second"});
  EXPECT_EQ(find("one"), "T/first/one") << "the first folder that has it wins";
  EXPECT_EQ(find("two"), "T/second/two") << "empty entries pass on to the next";
  std::filesystem::current_path(T + "/here");
  EXPECT_EQ(find("tool"), "T/here/tool") << "the current folder comes first";
  EXPECT_EQ(find("three"), NOENT);
  path({""});
  EXPECT_EQ(find("one"), NOENT) << "with PATH empty, the current folder only";
  unsetenv("PATH");
  EXPECT_EQ(find("one"), NOENT) << "and without PATH";
}


TEST_F(Search, ExeIsAppendedToANameWithoutExtension) {
  files({"prog.exe", "both", "both.exe", "tool.v2.exe", "v1.0/app.exe", "bin/cmd.exe"});
  path({"bin"});
  EXPECT_EQ(find("prog"), "T/prog.exe");
  EXPECT_EQ(find("both"), "T/both") << "the name as given first";
  EXPECT_EQ(find("cmd"), "T/bin/cmd.exe") << "on PATH too";
  EXPECT_EQ(find("v1.0/app"), "T/v1.0/app.exe") << "only the last component's extension counts";
  EXPECT_EQ(find("tool.v2"), NOENT) << "a name with an extension is taken as given";
}


TEST_F(Search, FoldersArePassedOver) {
  files({"tool/", "bin/tool", "prog/", "prog.exe", "bin/dir/"});
  path({"bin"});
  EXPECT_EQ(find("tool"), "T/bin/tool");
  EXPECT_EQ(find("prog"), "T/prog.exe");
  EXPECT_EQ(find("dir"), NOENT);
}


TEST_F(Search, APathThatDoesNotFitIsRefused) {
  files({"prog"});
  EXPECT_EQ(find("prog", T.size()), TOOLONG);
  EXPECT_EQ(find("prog", T.size() + 5), TOOLONG);
  EXPECT_EQ(find("prog", T.size() + 6), "T/prog");
  EXPECT_EQ(find("./prog", 1), TOOLONG);
  files({"sub/tool", "b/tool"});
  path({"b"});
  std::filesystem::current_path(T + "/sub");
  EXPECT_EQ(find("tool", T.size() + 8), TOOLONG) << "the first match, not a shorter one on PATH";

  // A current folder deeper than the limit has no full path at all.
  std::string part(250, 'd');
  int depth = 0;
  for (size_t len = T.size(); len <= SELFPATH_MAX; len += part.size() + 1, depth++)
    ASSERT_TRUE(mkdir(part.c_str(), 0700) == 0 && chdir(part.c_str()) == 0);
  std::ofstream("prog") << "x";
  EXPECT_EQ(find("prog"), TOOLONG);
  EXPECT_EQ(find("./prog"), TOOLONG);
  unlink("prog");
  for (; depth > 0; depth--) ASSERT_TRUE(chdir("..") == 0 && rmdir(part.c_str()) == 0);
}


// Where /proc names the running file, no name leads anywhere else.
TEST_F(Search, TheKernelsNameComesFirst) {
  if (access("/proc/self/exe", F_OK) != 0) GTEST_SKIP() << "no /proc here";
  files({"prog"});
  char buff[SELFPATH_MAX];
  ASSERT_TRUE(selfpath("prog", buff, sizeof buff));
  EXPECT_EQ(std::filesystem::path(buff), std::filesystem::canonical("/proc/self/exe"));
  EXPECT_FALSE(selfpath("prog", buff, 4));
  EXPECT_EQ(errno, ENAMETOOLONG);
}

}  // namespace
