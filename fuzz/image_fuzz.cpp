// image_fuzz.cpp: the glue tool's reading of executable images, ELF and
// PE, over arbitrary bytes: what a file loads and what it exports.
//
// The tool reads images by name, so each input is written to a file of
// this process's own first.  Whatever the bytes, the reading must stay
// inside them: every name it gives is a run of the file's bytes, and an
// export it reports is a name the file holds.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "image.h"

static int held(const std::string &bytes, const std::string &name) {
  return bytes.find(name) != std::string::npos;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static std::string path;
  if (path.empty()) {
    char name[] = "/tmp/image_fuzz.XXXXXX";
    int fd = mkstemp(name);
    if (fd < 0) abort();
    close(fd);
    path = name;
  }
  FILE *f = fopen(path.c_str(), "wb");
  if (f == NULL || fwrite(data, 1, size, f) != size || fclose(f) != 0) abort();
  std::string bytes((const char *)data, size);

  Image im = readimage(path);
  int bad = im.kind == 0 && (!im.needed.empty() || !im.runpath.empty() || !im.soname.empty());
  for (const std::string &n : im.needed) bad |= !held(bytes, n);
  for (const std::string &r : im.runpath) bad |= !held(bytes, r);
  bad |= !held(bytes, im.soname);
  for (const char *symbol : {"luaopen_a_b", "luaopen_numhash", "lua_pushstring"})
    bad |= exportsymbol(path, symbol) && !held(bytes, symbol);
  if (bad) {
    fprintf(stderr, "image_fuzz: a name that is not the file's\n");
    abort();
  }
  return 0;
}
