// replay.cpp: runs a fuzz target over its saved inputs, without libFuzzer.
//
// Builds that are not fuzzing link the targets with this driver, so that
// every seed and every input that once found a fault is checked again by
// the ordinary test suite, under whatever checker that build carries.
#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fs = std::filesystem;


static void runfile(const fs::path &p) {
  std::ifstream f(p, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput((const uint8_t *)bytes.data(), bytes.size());
}


int main(int argc, char **argv) {
  size_t runs = 0;
  for (int i = 1; i < argc; i++) {
    std::vector<fs::path> files;
    if (fs::is_directory(argv[i])) {
      for (const auto &e : fs::directory_iterator(argv[i]))
        if (e.is_regular_file()) files.push_back(e.path());
      std::sort(files.begin(), files.end());
    } else {
      files.push_back(argv[i]);
    }
    for (const auto &p : files) {
      runfile(p);
      runs++;
    }
  }
  printf("replayed %zu inputs\n", runs);
  return runs > 0 ? 0 : 1;
}
