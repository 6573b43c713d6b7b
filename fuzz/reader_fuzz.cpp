// reader_fuzz.cpp: the launcher's load step over arbitrary files.
//
// The input is a whole self-running file: whatever image, script and
// trailer the bytes make, negative, huge and overlapping offsets included.
// The launcher's own load() runs on it in this process: its source is
// compiled in here with exit, stderr and the file and loader calls routed
// to this harness, so that its one report and exit can be observed and the
// next input run.  Every run must either leave a compiled chunk and report
// nothing, or write exactly one report and exit with status 1; the report
// must be the one the trailer calls for.  The loader must see exactly the
// bytes the trailer and the first-line rule select, in blocks of 1 to 512
// bytes handed out of the reader's own block.
#include <errno.h>
#include <setjmp.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "ovrel.h"
#include "reader.h"
#include "selfpath.h"
#include "srglue.h"

#define CHECK(c) ((c) ? (void)0 : fail(#c, __LINE__))

[[noreturn]] static void fail(const char *what, int line) {
  fprintf(stderr, "reader_fuzz: check failed at line %d: %s\n", line, what);
  abort();
}


/* ------------------------------------------------------------------------
** What the launcher's calls are routed to
** --------------------------------------------------------------------- */

static jmp_buf ended;     // where an exit of the launcher comes back to
static int exits;         // exits taken, with the status of the last
static int exitstatus;
static FILE *reports;     // the launcher's stderr
static FILE *opened;      // the stream load() opened and has not closed

struct Seen {
  std::string chunk;      // every byte handed to the loader
  int blocks, nulls;
  bool badblock;          // a block outside the reader's buffer or too long
};
static Seen seen;
static lua_Reader inner;  // the launcher's reader, watched by spy


[[noreturn]] static void fuzz_exit(int status) {
  exits++;
  exitstatus = status;
  longjmp(ended, 1);
}


static FILE *fuzz_fopen(const char *path, const char *mode) {
  opened = fopen(path, mode);
  return opened;
}


static int fuzz_fclose(FILE *f) {
  if (f == opened) opened = nullptr;
  return fclose(f);
}


static const char *spy(lua_State *L, void *data, size_t *size) {
  const State *S = (const State *)data;
  const char *block = inner(L, data, size);
  if (block == nullptr) {
    seen.nulls++;
    if (*size != 0) seen.badblock = true;
    return nullptr;
  }
  seen.blocks++;
  if (block != S->buff || *size == 0 || *size > READER_BLOCK) seen.badblock = true;
  else seen.chunk.append(block, *size);
  return block;
}


static int fuzz_lua_load(lua_State *L, lua_Reader reader, void *data, const char *name) {
  inner = reader;
  return lua_load(L, spy, data, name);
}


/* The file under test is named, not running: the launcher's search for
** its own file is answered with the name itself. */
static int fuzz_selfpath(const char *name, char *filename, size_t size) {
  if (strlen(name) >= size) return 0;
  strcpy(filename, name);
  return 1;
}


#define main ovrelrun_main
#define selfpath fuzz_selfpath
#define exit fuzz_exit
#define fopen fuzz_fopen
#define fclose fuzz_fclose
#undef stderr
#define stderr reports
#define lua_load fuzz_lua_load
#include "ovrelrun.cpp"
#undef main
#undef selfpath
#undef exit
#undef fopen
#undef fclose
#undef stderr
#undef lua_load


/* ------------------------------------------------------------------------
** What the file calls for
** --------------------------------------------------------------------- */

namespace {

struct Expect {
  std::string report;  // empty: the chunk compiles and nothing is reported
  std::string chunk;   // what the loader must be handed
  bool loads;          // the chunk reaches the loader at all
};


struct Buffer {
  const std::string *s;
  bool given;
};


const char *whole(lua_State *, void *data, size_t *size) {
  Buffer *b = (Buffer *)data;
  if (b->given || b->s->empty()) {
    *size = 0;
    return nullptr;
  }
  b->given = true;
  *size = b->s->size();
  return b->s->data();
}


static uint32_t le32at(const uint8_t *data, size_t len, size_t at) {
  if (at > len || len - at < 4) return 0;
  return (uint32_t)data[at] | (uint32_t)data[at + 1] << 8 | (uint32_t)data[at + 2] << 16 |
         (uint32_t)data[at + 3] << 24;
}


/* Where a signed PE image keeps its trailer: before a certificate table
** (data directory 4) that ends the file, behind up to 7 zero bytes.  The
** trailer's offset, or len when there is none. */
static size_t signedtrailer(const uint8_t *data, size_t len) {
  if (len < 64 || data[0] != 'M' || data[1] != 'Z') return len;
  size_t pe = le32at(data, len, 0x3c);
  if (pe >= len || len - pe < 26 || memcmp(data + pe, "PE\0\0", 4) != 0) return len;
  uint32_t optsize = le32at(data, len, pe + 20) & 0xffff, magic = le32at(data, len, pe + 24) & 0xffff;
  size_t dirs = magic == 0x10b ? 96 : magic == 0x20b ? 112 : 0;
  if (dirs == 0 || optsize < dirs + 40 || len - pe < 24 + dirs + 40 ||
      le32at(data, len, pe + 24 + dirs - 4) < 5)
    return len;
  uint64_t off = le32at(data, len, pe + 24 + dirs + 32), size = le32at(data, len, pe + 24 + dirs + 36);
  if (size == 0 || off + size != len) return len;
  for (size_t pad = 0; pad <= 7 && off >= pad + sizeof(Glue); pad++) {
    if (pad > 0 && data[off - pad] != 0) break;
    if (memcmp(data + off - pad - sizeof(Glue), "%%srglue", 8) == 0) return off - pad - sizeof(Glue);
  }
  return len;
}


/* The trailer and first-line rules, read off the bytes directly. */
Expect expect(const uint8_t *data, size_t len, const std::string &path, lua_State *L) {
  Expect e{"", "", false};
  const std::string head = "ovrelrun: ";
  if (len < sizeof(Glue)) {
    e.report = head + "Cannot seek " + path + ": " + strerror(EINVAL) + ".\n";
    return e;
  }
  size_t at = len - sizeof(Glue);
  if (memcmp(data + at, "%%srglue", 8) != 0) at = signedtrailer(data, len);
  if (at == len) {
    e.report = head + "Cannot find an Ovrel program in " + path + ": no glue.\n";
    return e;
  }
  const uint8_t *g = data + at;
  int32_t size1 = (int32_t)((uint32_t)g[8] | (uint32_t)g[9] << 8 | (uint32_t)g[10] << 16 |
                            (uint32_t)g[11] << 24);
  int32_t size2 = (int32_t)((uint32_t)g[12] | (uint32_t)g[13] << 8 | (uint32_t)g[14] << 16 |
                            (uint32_t)g[15] << 24);
  if (size1 < 0 || (size_t)size1 > at) {  // before the file, or past the script
    e.report = head + "Cannot seek " + path + ": " + strerror(EINVAL) + ".\n";
    return e;
  }
  uint64_t rest = (uint64_t)(int64_t)size2;  // a negative length is huge
  size_t pos = (size_t)size1;
  if (rest > 0 && pos < len && data[pos] == '#') {
    pos++, rest--;
    while (rest > 0 && pos < len) {
      if (data[pos] == '\n') break;  // the chunk starts with the newline
      pos++, rest--;
    }
  }
  if (pos < len) e.chunk.assign((const char *)data + pos, (size_t)(rest < len - pos ? rest : len - pos));
  e.loads = true;
  Buffer b{&e.chunk, false};
  if (lua_load(L, whole, &b, "=") != 0) e.report = head + lua_tolstring(L, -1, nullptr) + "\n";
  lua_settop(L, 0);
  return e;
}


/* A binary chunk can ask for any size; beyond this one the state gets no
** memory, as a real heap would refuse it, and the loader says so. */
constexpr size_t ALLOC_CAP = 64u << 20;

typedef void *(*Alloc)(void *ud, void *ptr, size_t osize, size_t nsize);
extern "C" lua_State *lua_newstate(Alloc f, void *ud);

void *capped(void *, void *p, size_t, size_t n) {
  if (n == 0) {
    free(p);
    return nullptr;
  }
  return n > ALLOC_CAP ? nullptr : realloc(p, n);
}


int memfd = -1;
char path[64];

}  // namespace


extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (memfd < 0) {
    memfd = memfd_create("selfrunning", 0);
    CHECK(memfd >= 0);
    snprintf(path, sizeof path, "/proc/self/fd/%d", memfd);
  }
  CHECK(ftruncate(memfd, 0) == 0);
  CHECK(pwrite(memfd, data, size, 0) == (ssize_t)size);

  lua_State *L = lua_newstate(capped, nullptr);
  CHECK(L != nullptr);
  Expect e = expect(data, size, path, L);

  char *text = nullptr;
  size_t textlen = 0;
  reports = open_memstream(&text, &textlen);
  CHECK(reports != nullptr);
  exits = 0;
  exitstatus = 0;
  seen = Seen{"", 0, 0, false};
  opened = nullptr;
  volatile bool returned = false;  // set between setjmp and a longjmp
  if (setjmp(ended) == 0) {
    load(L, path);
    returned = true;
  }
  if (opened) fclose(opened);  // the compile-error report leaves it open
  fclose(reports);
  std::string report(text, textlen);
  free(text);

  CHECK(!seen.badblock);
  if (returned) {
    CHECK(exits == 0);
    CHECK(report.empty());
    CHECK(e.report.empty());
    CHECK(lua_gettop(L) == 1 && lua_type(L, 1) == LUA_TFUNCTION);
    CHECK(seen.chunk == e.chunk);  // the whole selection, not a byte more
  } else {
    CHECK(exits == 1 && exitstatus == 1);
    if (report != e.report)
      fprintf(stderr, "reported: %s\nexpected: %s\n", report.c_str(), e.report.c_str());
    CHECK(report == e.report);
    // A compile error may stop reading early: what was read is a prefix.
    CHECK(e.chunk.compare(0, seen.chunk.size(), seen.chunk) == 0);
    if (!e.loads) CHECK(seen.blocks == 0 && seen.nulls == 0);
  }
  lua_close(L);
  return 0;
}
