// mapaccel_test.cpp: the lookup aids beside the table change no result.
//
// Each workload drives two tables with the same operations: one whose walks
// hand over to the aids early (tuned so that every aided path runs on small
// tables), one by the plain rules alone.  After every operation both give
// the same status and bucket, and the aided table's bit trees are exact
// where it changed; after every rebuild and emptying, and at the end, their
// counts, flag arrays and live keys are the same bit for bit, and the trees
// exact throughout.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "bittree.h"
#include "heap.h"
#include "maptable.h"

namespace {

char value[] = "v";
const MapAccelTuning defaults = mapaccel_tuning();

struct Twin {
  MapTable aided{}, plain{};
  MapAccelTuning tuning;

  explicit Twin(MapAccelTuning t) : tuning(t) { rehash(8); }
  ~Twin() {
    maptable_release(&aided);
    maptable_release(&plain);
    mapaccel_tune(defaults);
  }

  /* Runs op on each table under its own tuning, which a rebuild takes. */
  template <class Op>
  void both(Op op) {
    mapaccel_tune(tuning);
    op(&aided);
    mapaccel_tune({MAPACCEL_PLAIN, 0, 0});
    op(&plain);
  }

  void put(double key) {
    uint32_t ba = 0, bp = 0;
    MapPutStatus sa = MAPTABLE_FAILED, sp = MAPTABLE_FAILED;
    both([&](MapTable *t) {
      uint32_t &b = t == &aided ? ba : bp;
      MapPutStatus &s = t == &aided ? sa : sp;
      s = maptable_put(t, key, &b);
      if (s == MAPTABLE_NEW || s == MAPTABLE_REUSED) t->values[b] = value;
    });
    ASSERT_EQ(sa, sp) << "put " << key;
    ASSERT_EQ(ba, bp) << "put " << key;
    ASSERT_TRUE(mapaccel_trees_exact(&aided, ba)) << "put " << key;
    if (aided.capacity != capacity) same();
  }
  void find(double key) {
    ASSERT_EQ(maptable_find(&aided, key), maptable_find(&plain, key)) << "find " << key;
  }
  void erase(double key) {
    uint32_t b = maptable_find(&aided, key);
    ASSERT_EQ(b, maptable_find(&plain, key)) << "erase " << key;
    maptable_erase(&aided, b);
    maptable_erase(&plain, b);
    if (b == MAPTABLE_ABSENT) return;
    ASSERT_TRUE(mapaccel_trees_exact(&aided, b)) << "erase " << key;
  }
  void rehash(uint32_t requested) {
    bool ok[2];
    both([&](MapTable *t) { ok[t == &plain] = maptable_rehash(t, requested); });
    ASSERT_EQ(ok[0], ok[1]);
    same();
  }
  void empty() {
    both(maptable_empty);
    same();
  }

  uint32_t capacity = 0;
  void same() {
    capacity = aided.capacity;
    ASSERT_EQ(aided.capacity, plain.capacity);
    ASSERT_EQ(aided.count, plain.count);
    ASSERT_EQ(aided.occupied, plain.occupied);
    ASSERT_EQ(aided.grow_limit, plain.grow_limit);
    ASSERT_TRUE(mapaccel_trees_exact(&aided));
    if (aided.capacity == 0) return;
    ASSERT_EQ(0, memcmp(aided.flags, plain.flags, maptable_flagwords(aided.capacity) * 4));
    for (uint32_t i = 0; i < aided.capacity; i++) {
      if (maptable_islive(&aided, i)) {
        ASSERT_EQ(0, memcmp(&aided.keys[i], &plain.keys[i], 8)) << i;
      }
    }
  }
};

/* The key between 1 and 2 whose home is h in tables below 2^20 buckets,
** told apart by bits that no such table's mask keeps. */
double dense(uint32_t h, uint32_t m) {
  uint64_t bits = (uint64_t)(0x3FF00000u | h) << 32 | (uint64_t)m << 20;
  double key;
  memcpy(&key, &bits, sizeof key);
  return key;
}

/* Sequential, shifted and random keys, deletions that leave deleted buckets
** to reuse, shrinking and enlarging rebuilds, emptying and regrowth. */
void workload(Twin &w, uint32_t n, uint32_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> spread(-1e6, 1e6);
  // Below the trees' size, small integers share home 0: walks hand over
  // and reuse deleted buckets without trees.  The NaN stays through every
  // rebuild.
  for (uint32_t i = 0; i < 5; i++) ASSERT_NO_FATAL_FAILURE(w.put(i));
  for (uint32_t i = 1; i < 3; i++) ASSERT_NO_FATAL_FAILURE(w.erase(i));
  ASSERT_NO_FATAL_FAILURE(w.put(5));
  ASSERT_NO_FATAL_FAILURE(w.put(__builtin_nan("")));
  // Four keys for each of 700 consecutive homes: long runs of full words,
  // as integers past 2^21 make in large tables.
  ASSERT_NO_FATAL_FAILURE(w.rehash(4096));
  for (uint32_t i = 0; i < 2800; i++) ASSERT_NO_FATAL_FAILURE(w.put(dense(i / 4, i % 4)));
  for (uint32_t i = 0; i < 2800; i += 3) ASSERT_NO_FATAL_FAILURE(w.erase(dense(i / 4, i % 4)));
  for (uint32_t i = 0; i < 2800; i += 2) ASSERT_NO_FATAL_FAILURE(w.put(dense(i / 4, 4 + i % 4)));
  for (uint32_t i = 1; i <= n; i++) ASSERT_NO_FATAL_FAILURE(w.put(i));
  for (uint32_t i = 1; i <= 2 * n; i += 3) ASSERT_NO_FATAL_FAILURE(w.find(i));
  for (uint32_t i = 1; i <= n; i += 2) ASSERT_NO_FATAL_FAILURE(w.erase(i));
  for (uint32_t i = 1; i <= n / 2; i++) ASSERT_NO_FATAL_FAILURE(w.put(i + 0.5));
  for (uint32_t i = 1; i <= n; i++) ASSERT_NO_FATAL_FAILURE(w.find(i));
  for (uint32_t i = 0; i < n; i++) {
    double k = (rng() & 3) ? (double)(rng() % (2 * n)) : spread(rng);
    if (rng() & 1)
      ASSERT_NO_FATAL_FAILURE(w.put(k));
    else
      ASSERT_NO_FATAL_FAILURE(w.erase(k));
  }
  ASSERT_NO_FATAL_FAILURE(w.rehash(w.aided.count));  // a shrinking purge
  for (uint32_t i = 1; i <= n; i++) ASSERT_NO_FATAL_FAILURE(w.put(-(double)i));
  ASSERT_NO_FATAL_FAILURE(w.rehash(w.aided.capacity * 4));  // resize
  for (uint32_t i = 1; i <= n; i += 5) ASSERT_NO_FATAL_FAILURE(w.erase(-(double)i));
  ASSERT_NO_FATAL_FAILURE(w.put(0.0));
  ASSERT_NO_FATAL_FAILURE(w.put(-0.0));
  ASSERT_NO_FATAL_FAILURE(w.put(__builtin_nan("")));
  ASSERT_NO_FATAL_FAILURE(w.empty());
  // Homes up to the last bucket: runs of full words that wrap around.
  const uint32_t c = w.aided.capacity;
  for (uint32_t i = 0; i < 800; i++) ASSERT_NO_FATAL_FAILURE(w.put(dense(c - 200 + i / 4, i % 4)));
  for (uint32_t i = n; i >= 1; i--) ASSERT_NO_FATAL_FAILURE(w.put(i * 2.0));
  for (uint32_t i = 1; i <= n; i += 4) ASSERT_NO_FATAL_FAILURE(w.erase(i * 2.0));
  for (uint32_t i = 1; i <= n; i += 8) ASSERT_NO_FATAL_FAILURE(w.put(i * 2.0));
  ASSERT_NO_FATAL_FAILURE(w.same());
  // Emptied key by key, far keys first: the index runs dry while deleted
  // buckets remain.
  for (uint32_t i = 0; i < 800; i++) ASSERT_NO_FATAL_FAILURE(w.erase(dense(c - 200 + i / 4, i % 4)));
  for (uint32_t i = 1; i <= n; i++) ASSERT_NO_FATAL_FAILURE(w.erase(i * 2.0));
  // Then spread keys: a table that came to index every key keeps only the
  // far ones from its next rebuild on.
  for (uint32_t i = 0; i < n; i++) ASSERT_NO_FATAL_FAILURE(w.put(spread(rng)));
  ASSERT_NO_FATAL_FAILURE(w.rehash(w.aided.capacity));
}

}  // namespace


TEST(Aids, EveryTuningPlacesAsThePlainRules) {
  const MapAccelTuning tunings[] = {
      {1, 0, 0},     // the index of far keys and the jumps from the first step on
      {0, 0, 0},     // every key indexed, no walk at all
      {2, 1000, 0},  // every key indexed as soon as one is far
      {3, 4, 1},     // back and forth between the two as clustering comes and goes
      defaults,
  };
  for (const MapAccelTuning &t : tunings) {
    SCOPED_TRACE(testing::Message() << "farsteps " << t.farsteps << ", allshare " << t.allshare);
    Twin w(t);
    workload(w, 6000, t.farsteps);
  }
}


TEST(Aids, LargeClusteredTablesPlaceAsThePlainRules) {
  for (const MapAccelTuning &t : {MapAccelTuning{1, 0, 0}, defaults}) {
    Twin w(t);
    for (uint32_t i = 1; i <= 200000; i++) ASSERT_NO_FATAL_FAILURE(w.put(i));
    for (uint32_t i = 1; i <= 200000; i += 97) ASSERT_NO_FATAL_FAILURE(w.erase(i));
    for (uint32_t i = 200001; i <= 300000; i++) ASSERT_NO_FATAL_FAILURE(w.put(i));
    EXPECT_NE(w.aided.accel.index.count, 0u) << "the workload went through the aids";
    w.same();
  }
}


/* Memory for the aids fails at each of their allocations in turn: the
** table answers as before and leaves nothing behind. */
TEST(Aids, TheirMemoryFailingChangesNoResult) {
  const long base = heap_live_blocks();
  for (unsigned long n = 1;; n++) {
    SCOPED_TRACE(testing::Message() << "aid allocation " << n << " fails");
    heap_cache_fail_at(n);
    {
      Twin w({1, 8, 0});
      workload(w, 300, 7);
    }
    unsigned long made = heap_cache_allocations();
    heap_cache_fail_at(0);
    ASSERT_EQ(heap_live_blocks(), base);
    if (made < n) break;
  }
}


/* Tables take a new tuning at their next rebuild: one that indexed every
** key stops when the new tuning never does. */
TEST(Aids, ARebuildTakesTheTuningOfItsTime) {
  Twin w({2, 1000, 0});
  for (uint32_t i = 1; i <= 3000; i++) ASSERT_NO_FATAL_FAILURE(w.put(i));
  ASSERT_TRUE(w.aided.accel.all);
  w.tuning = {1, 0, 0};
  ASSERT_NO_FATAL_FAILURE(w.rehash(w.aided.capacity));
  EXPECT_FALSE(w.aided.accel.all);
  for (uint32_t i = 1; i <= 4000; i++) ASSERT_NO_FATAL_FAILURE(w.find(i));
  for (uint32_t i = 3001; i <= 4000; i++) ASSERT_NO_FATAL_FAILURE(w.put(i));
  ASSERT_NO_FATAL_FAILURE(w.same());
}


/* The bit trees against a plain scan, with bits so sparse that searches
** climb every level, and against bittree_matches. */
TEST(BitTree, NextAndPrevAgreeWithAScan) {
  std::mt19937 rng(3);
  for (uint32_t leaves : {1u, 64u, 65u, 4113u, 300000u}) {
    for (uint32_t density : {2u, 500u, 100000u}) {
      std::vector<uint32_t> words(leaves);
      for (uint32_t &w : words) w = rng() % density == 0;
      const BitTreeShape s = bittree_shape(leaves);
      uint64_t *t = bittree_build(words.data(), leaves, 1, s);
      ASSERT_NE(t, nullptr);
      for (int round = 0; round < 2000; round++) {
        uint32_t x = rng() % leaves;
        if (round % 3 == 0) {
          words[x] = !words[x];
          if (words[x])
            bittree_set(t, s, x);
          else
            bittree_clear(t, s, x);
        }
        uint32_t next = x, prev = x;
        while (next < leaves && !words[next]) next++;
        while (prev != BITTREE_NONE && !words[prev]) prev--;
        ASSERT_EQ(bittree_next(t, s, x), next < leaves ? next : BITTREE_NONE) << leaves << " " << x;
        ASSERT_EQ(bittree_prev(t, s, x), prev) << leaves << " " << x;
      }
      // The check of the table's trees, against a tree that missed a change.
      ASSERT_TRUE(bittree_matches(t, words.data(), leaves, 1, s));
      words[leaves / 2] ^= 1;
      EXPECT_FALSE(bittree_matches(t, words.data(), leaves, 1, s));
      EXPECT_FALSE(bittree_matches(t, words.data(), leaves, 1, s, leaves / 2));
      heap_cache_free(t);
    }
  }
}
