// bytecode_fuzz.cpp: the glue tool's reader of precompiled chunks over
// arbitrary bytes.
//
// A chunk the engine accepts is read before this reader sees it, but the
// reader is bounded on its own: whatever the bytes, it must stay inside
// them, and every name it gives must be one of the chunk's strings, once.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bytecode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string chunk((const char *)data, size);
  std::vector<Require> found;
  bytecoderequires(chunk, &found);
  std::vector<std::string> names;
  for (const Require &r : found)
    if (!r.name.empty()) names.push_back(r.name);
  for (size_t i = 0; i < names.size(); i++) {
    if (chunk.find(names[i]) == std::string::npos ||
        std::count(names.begin(), names.end(), names[i]) != 1) {
      fprintf(stderr, "bytecode_fuzz: name %zu is no single string of the chunk\n", i);
      abort();
    }
  }
  return 0;
}
