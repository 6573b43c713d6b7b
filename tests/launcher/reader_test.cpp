// reader_test.cpp: block sizes and the first-line skip of the script reader,
// and where the trailer is found.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "reader.h"
#include "srglue.h"

namespace {

// A State over a temporary file holding `bytes`, positioned at `start`.
struct Script {
  State S{};
  explicit Script(const std::string &bytes, size_t size, long start = 0) {
    S.f = std::tmpfile();
    EXPECT_NE(S.f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), S.f);
    std::fseek(S.f, start, SEEK_SET);
    S.size = size;
  }
  ~Script() { std::fclose(S.f); }

  // Calls myget until it returns null; the lengths of the blocks, and
  // their bytes joined in `chunk`.
  std::vector<size_t> drain(std::string &chunk) {
    std::vector<size_t> blocks;
    for (;;) {
      size_t n = 12345;
      const char *b = myget(nullptr, &S, &n);
      if (b == nullptr) {
        EXPECT_EQ(n, 0u) << "the end is reported with length 0";
        return blocks;
      }
      EXPECT_EQ(b, S.buff);
      EXPECT_GT(n, 0u) << "no empty block before the end";
      chunk.append(b, n);
      blocks.push_back(n);
    }
  }
};

std::string bytes(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; i++) s += static_cast<char>('a' + i % 26);
  return s;
}

using Blocks = std::vector<size_t>;


TEST(Myget, DeliversBlocksOfAtMost512Bytes) {
  std::string text = bytes(600), chunk;
  Script s(text, 600);
  EXPECT_EQ(s.drain(chunk), (Blocks{512, 88}));
  EXPECT_EQ(chunk, text);
  EXPECT_EQ(s.S.size, 0u);

  std::string exact = bytes(1024), chunk2;
  Script t(exact, 1024);
  EXPECT_EQ(t.drain(chunk2), (Blocks{512, 512}));
  EXPECT_EQ(chunk2, exact);
}


TEST(Myget, StopsAtTheDeclaredLength) {
  std::string text = bytes(600), chunk;
  Script s(text, 100);
  EXPECT_EQ(s.drain(chunk), (Blocks{100}));
  EXPECT_EQ(chunk, text.substr(0, 100));
  EXPECT_EQ(std::ftell(s.S.f), 100) << "nothing past the script is read";
}


TEST(Myget, StopsAtTheEndOfTheFile) {
  std::string text = bytes(600), chunk;
  Script s(text, 1000, 10);
  EXPECT_EQ(s.drain(chunk), (Blocks{512, 78}));
  EXPECT_EQ(chunk, text.substr(10));
  EXPECT_EQ(s.S.size, 410u) << "the undelivered rest stays counted";
}


TEST(Myget, EmptyScriptIsAnEmptyChunk) {
  std::string chunk;
  Script s(bytes(600), 0, 7);
  EXPECT_EQ(s.drain(chunk), Blocks{});
  EXPECT_EQ(std::ftell(s.S.f), 7);
}


// The chunk that the loader sees after the skip, for a script of `text`
// whose declared length is `size`; the glue tool's reading of the same
// script in memory must see the same.
std::string chunkof(const std::string &text, size_t size) {
  Script s(text, size);
  skipline(&s.S);
  std::string chunk;
  s.drain(chunk);
  State m{};
  m.mem = text.data();
  m.size = std::min(size, text.size());
  skipline(&m);
  std::string inmemory;
  size_t n;
  for (const char *b; (b = myget(nullptr, &m, &n)) != nullptr;) inmemory.append(b, n);
  EXPECT_EQ(inmemory, chunk) << "in memory";
  return chunk;
}


TEST(Skipline, HashLineIsDroppedUpToItsNewline) {
  EXPECT_EQ(chunkof("#!/usr/bin/env x\nline2\nline3\n", 29), "\nline2\nline3\n");
  EXPECT_EQ(chunkof("#!x\r\n\r\nerror()\r\n", 16), "\n\r\nerror()\r\n")
      << "the carriage return belongs to the skipped line";
  EXPECT_EQ(chunkof("#x\ny", 4), "\ny") << "a last line without newline ends the chunk";
}


TEST(Skipline, HashLineWithoutNewlineLeavesNothing) {
  EXPECT_EQ(chunkof("#", 1), "");
  EXPECT_EQ(chunkof("#!only a comment", 16), "");
  EXPECT_EQ(chunkof("#abc\nrest", 3), "") << "the line is cut off by the script's length";
  EXPECT_EQ(chunkof("#abc", 10), "") << "or by the end of the file";
}


TEST(Skipline, OtherFirstBytesStayInTheChunk) {
  EXPECT_EQ(chunkof("print(1)\n", 9), "print(1)\n");
  EXPECT_EQ(chunkof(" #x\n", 4), " #x\n");
  EXPECT_EQ(chunkof("\n#x\n", 4), "\n#x\n");
  std::string text = bytes(600);
  Script s(text, 600);
  skipline(&s.S);
  EXPECT_EQ(s.S.size, 600u);
  std::string chunk;
  EXPECT_EQ(s.drain(chunk), (Blocks{512, 88}));
  EXPECT_EQ(chunk, text);
}


TEST(Skipline, EmptyScriptReadsNothing) {
  Script s("#abc\n", 0);
  skipline(&s.S);
  EXPECT_EQ(s.S.size, 0u);
  EXPECT_EQ(std::ftell(s.S.f), 0);
}


// glue_find over a file of `bytes`; the step, and the trailer's offset.
GlueStep find(const std::string &bytes, long *at) {
  FILE *f = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  Glue g;
  GlueStep step = glue_find(f, &g, at);
  std::fclose(f);
  return step;
}


// A PE32 image signed after gluing: its script at 0x200, the trailer at
// 0x209, 7 zero bytes, then a certificate table of 24 bytes at 0x220.
std::string signedfile() {
  std::string s(0x220 + 24, '\0');
  s.replace(0, 2, "MZ");
  s[0x3c] = 0x40;
  s.replace(0x40, 4, std::string("PE\0\0", 4));
  s[0x54] = static_cast<char>(224);                 // optional header size: 16 directories
  s[0x58] = 0x0b, s[0x59] = 0x01, s[0xb4] = 16;    // PE32, 16 directories
  s[0xd8] = 0x20, s[0xd9] = 0x02, s[0xdc] = 24;    // directory 4: 0x220, 24 bytes
  s.replace(0x200, 9 + 8, std::string("print(12)") + GLUE_SIG);
  glue_put32(reinterpret_cast<unsigned char *>(&s[0x211]), 0x200);
  glue_put32(reinterpret_cast<unsigned char *>(&s[0x215]), 9);
  return s;
}


TEST(GlueFind, AtTheEndOrBeforeACertificateTableThatEndsTheFile) {
  long at = 0;
  EXPECT_EQ(find(bytes(100) + signedfile().substr(0x209, 16), &at), GLUE_FOUND);
  EXPECT_EQ(at, 100);
  std::string file = signedfile();
  EXPECT_EQ(find(file, &at), GLUE_FOUND);
  EXPECT_EQ(at, 0x209);
  EXPECT_EQ(find(file + "x", &at), GLUE_MISSING) << "the table is not the file's last part";
  file[0x21f] = 1;
  EXPECT_EQ(find(file, &at), GLUE_MISSING) << "only zero bytes pad the table";
}


TEST(GlueFind, NoTrailerBeforeTheTableOfADamagedImage) {
  struct Spoil {
    const char *what;
    size_t at;
    std::string bytes;
  };
  const Spoil spoils[] = {
      {"not MZ", 0, "XZ"},
      {"a PE header far beyond any file", 0x3c, "\xff\xff\xff\xff"},
      {"no PE signature", 0x40, "PX"},
      {"an optional header of no known kind", 0x58, std::string("\x0c\x01")},
      {"PE32+, whose directories lie elsewhere", 0x58, std::string("\x0b\x02")},
      {"an optional header too small", 0x54, std::string("\x60")},
      {"four directories", 0xb4, std::string("\x04")},
      {"an empty table", 0xdc, std::string(1, '\0')},
      {"a table that leaves no room for a trailer", 0xd8, std::string("\x08\x00\x00\x00\x30\x02", 6)},
  };
  long at = 0;
  for (const Spoil &sp : spoils) {
    std::string file = signedfile();
    file.replace(sp.at, sp.bytes.size(), sp.bytes);
    EXPECT_EQ(find(file, &at), GLUE_MISSING) << sp.what;
  }
  EXPECT_EQ(find(signedfile().substr(0, 40) + signedfile().substr(0x209), &at), GLUE_MISSING)
      << "an image too short for its header";
}

}  // namespace
