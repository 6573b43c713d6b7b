// clustered.cpp: the table core on clustered keys, with its lookup aids and
// by the plain rules alone, in one process.
//
// For each n and each key set, one table is filled with the aids (walks
// hand over after the default number of steps) and one by the plain rules
// (the aids tuned off).  Both get the same keys in the same order; then
// every key is read back in shuffled order, and as many absent keys are
// looked up.  The two tables must come out bit for bit the same: flags,
// keys and counts; the run stops with an error otherwise.  Memory per
// entry is the heap in use (malloc chunks and mapped blocks) after filling,
// divided by n; values are one shared string, so that it is the table's
// and the aids' own.  Random keys are run twice under each rule, in the
// order aids, plain, plain, aids, and the means reported.  The plain rules' reads are timed on a sample of the
// keys when the plain walks are long (the mean over a random sample).
//
// Output: one tab-separated line per key set and n:
//   keys n rule insert_ns read_ns miss_ns bytes_per_entry buckets
// with rule "aids" or "plain".
#include <malloc.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "maptable.h"

namespace {

double now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}

size_t heap_in_use() {
  struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

/* The engine's math.random() on this C library: rand() % RAND_MAX, divided
** by RAND_MAX. */
double engine_random(std::mt19937 &rng) {
  uint32_t r = rng() & 0x7fffffffu;
  return (double)(r % RAND_MAX) / (double)RAND_MAX;
}

struct KeySet {
  const char *name;
  std::vector<double> keys, lookups, misses;
};

KeySet make(const std::string &kind, size_t n) {
  KeySet s{nullptr, {}, {}, {}};
  std::mt19937_64 rng(1234 + n);
  std::mt19937 small(99 + (unsigned)n);
  auto add = [&](double k, std::vector<double> &to) { to.push_back(k); };
  if (kind == "random") {
    // Doubles with a full mantissa, like most measured quantities.
    std::uniform_real_distribution<double> d(-1e9, 1e9);
    for (size_t i = 0; i < 2 * n; i++) add(d(rng), i < n ? s.keys : s.misses);
    s.name = "random";
  } else if (kind == "integers") {
    for (size_t i = 1; i <= n; i++) add((double)i, s.keys);
    for (size_t i = 1; i <= n; i++) add((double)(n + i), s.misses);
    s.name = "integers";
  } else if (kind == "halves") {
    for (size_t i = 1; i <= n; i++) add((double)i + 0.5, s.keys);
    for (size_t i = 1; i <= n; i++) add((double)(n + i) + 0.5, s.misses);
    s.name = "halves";
  } else {
    // Integer ids drawn by a script: math.floor(math.random() * 2^31).
    for (size_t i = 0; i < 2 * n; i++)
      add(floor(engine_random(small) * 2147483648.0), i < n ? s.keys : s.misses);
    s.name = "engine-random";
  }
  // Duplicates would only replace; keep the key lists distinct.
  std::vector<double> all(s.keys);
  std::sort(all.begin(), all.end());
  s.lookups = s.keys;
  std::shuffle(s.lookups.begin(), s.lookups.end(), rng);
  std::vector<double> misses;
  for (double k : s.misses)
    if (!std::binary_search(all.begin(), all.end(), k)) misses.push_back(k);
  s.misses = misses;
  std::shuffle(s.misses.begin(), s.misses.end(), rng);
  return s;
}

char shared_value[] = "value";

struct Result {
  double insert_ns, read_ns, miss_ns, bytes;
};

Result fill_and_read(MapTable *t, const KeySet &s, size_t sample) {
  Result r{};
  size_t before = heap_in_use();
  maptable_rehash(t, 8);
  double t0 = now();
  for (double k : s.keys) {
    uint32_t b;
    if (maptable_put(t, k, &b) != MAPTABLE_PRESENT) t->values[b] = shared_value;
  }
  r.insert_ns = (now() - t0) * 1e9 / (double)s.keys.size();
  r.bytes = (double)(heap_in_use() - before) / (double)s.keys.size();
  size_t reads = std::min(sample, s.lookups.size()), sum = 0;
  t0 = now();
  for (size_t i = 0; i < reads; i++) sum += maptable_find(t, s.lookups[i]);
  r.read_ns = (now() - t0) * 1e9 / (double)reads;
  size_t misses = std::min(sample, s.misses.size());
  t0 = now();
  for (size_t i = 0; i < misses; i++) sum += maptable_find(t, s.misses[i]) == MAPTABLE_ABSENT;
  r.miss_ns = (now() - t0) * 1e9 / (double)misses;
  if (sum == 42) fprintf(stderr, "!");  // keeps the finds
  return r;
}

bool same(const MapTable &a, const MapTable &b) {
  if (a.capacity != b.capacity || a.count != b.count || a.occupied != b.occupied ||
      a.grow_limit != b.grow_limit)
    return false;
  if (memcmp(a.flags, b.flags, maptable_flagwords(a.capacity) * sizeof(uint32_t))) return false;
  for (uint32_t i = 0; i < a.capacity; i++)
    if (maptable_islive(&a, i) && memcmp(&a.keys[i], &b.keys[i], sizeof(double))) return false;
  return true;
}

void line(const KeySet &s, size_t n, const char *rule, const Result &r, uint32_t buckets) {
  printf("%s\t%zu\t%s\t%.1f\t%.1f\t%.1f\t%.1f\t%u\n", s.name, n, rule, r.insert_ns, r.read_ns,
         r.miss_ns, r.bytes, buckets);
  fflush(stdout);
}

}  // namespace


int main(int argc, char **argv) {
  size_t largest = argc > 1 ? strtoull(argv[1], nullptr, 10) : 10000000;
  size_t plain_sample = argc > 2 ? strtoull(argv[2], nullptr, 10) : 200000;
  const char *kinds[] = {"random", "integers", "halves", "engine-random"};
  const MapAccelTuning aids = mapaccel_tuning();
  printf("keys\tn\trule\tinsert_ns\tread_ns\tmiss_ns\tbytes_per_entry\tbuckets\n");
  for (size_t n : {1000000ul, 4000000ul, 10000000ul}) {
    if (n > largest) break;
    for (const char *kind : kinds) {
      KeySet s = make(kind, n);
      /* Random keys, where the two rules should cost the same, are timed
      ** twice each in the order aids, plain, plain, aids, so that neither
      ** gains from going second; the rest once each. */
      const bool twice = !strcmp(kind, "random");
      MapTable first{};  // the aids' table, kept for the comparison
      Result a{}, p{};
      uint32_t buckets = 0;
      for (int round = 0; round < (twice ? 2 : 1); round++) {
        for (int k = 0; k < 2; k++) {
          bool aided = (k == 0) == (round == 0);
          MapTable t{}, *ref = aided ? &t : nullptr;
          mapaccel_tune(aided ? aids : MapAccelTuning{MAPACCEL_PLAIN, 0, 0});
          Result r = fill_and_read(&t, s, aided ? SIZE_MAX : plain_sample);
          Result &sum = aided ? a : p;
          sum.insert_ns += r.insert_ns;
          sum.read_ns += r.read_ns;
          sum.miss_ns += r.miss_ns;
          sum.bytes += r.bytes;
          buckets = t.capacity;
          if (!ref && !same(first, t)) {
            fprintf(stderr, "clustered: %s, n = %zu: the tables differ\n", s.name, n);
            return 1;
          }
          if (ref && round == 0) {
            maptable_release(&first);
            first = t;
          } else {
            maptable_release(&t);
          }
          malloc_trim(0);
        }
      }
      const double runs = twice ? 2 : 1;
      for (Result *r : {&a, &p}) {
        r->insert_ns /= runs;
        r->read_ns /= runs;
        r->miss_ns /= runs;
        r->bytes /= runs;
      }
      line(s, n, "aids", a, buckets);
      line(s, n, "plain", p, buckets);
      maptable_release(&first);
      malloc_trim(0);
    }
  }
  return 0;
}
