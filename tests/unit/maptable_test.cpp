// maptable_test.cpp: placement, growth, rebuild and failure of the table core.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "heap.h"
#include "maptable.h"

namespace {

// The core never looks inside values, so tests store tags that say which
// key a value belongs to and check that they travel with their keys.
char *tag(double key) {
  uint64_t bits;
  std::memcpy(&bits, &key, sizeof bits);
  return reinterpret_cast<char *>(static_cast<uintptr_t>(bits ^ 0x5A5A5A5A5A5A5A5Aull));
}

struct Table {
  MapTable t{};
  explicit Table(uint32_t size) { EXPECT_TRUE(maptable_rehash(&t, size)); }
  ~Table() { maptable_release(&t); }
  MapPutStatus put(double key, uint32_t *at = nullptr) {
    uint32_t b = MAPTABLE_ABSENT;
    MapPutStatus s = maptable_put(&t, key, &b);
    if (s == MAPTABLE_NEW || s == MAPTABLE_REUSED) t.values[b] = tag(key);
    if (at) *at = b;
    return s;
  }
  uint32_t find(double key) const { return maptable_find(&t, key); }
  void erase(double key) { maptable_erase(&t, find(key)); }
};

// Every invariant the core promises, checked from the outside.
void expect_invariants(const MapTable &t) {
  if (t.capacity == 0) return;
  ASSERT_LE(t.count, t.occupied);
  ASSERT_LE(t.occupied, t.grow_limit);
  ASSERT_LT(t.grow_limit, t.capacity);
  uint32_t live = 0, used = 0;
  for (uint32_t i = 0; i < t.capacity; i++) {
    uint32_t st = maptable_state(&t, i);
    ASSERT_NE(st, 3u) << "bucket " << i;
    if (st != MAPTABLE_EMPTY) used++;
    if (st != MAPTABLE_LIVE) continue;
    live++;
    // Reachable from home without crossing an empty bucket.
    uint32_t j = maptable_home(t.keys[i], t.capacity), step = 0;
    while (j != i) {
      ASSERT_NE(maptable_state(&t, j), (uint32_t)MAPTABLE_EMPTY)
          << "key " << t.keys[i] << " in bucket " << i << " cut off at " << j;
      j = (j + ++step) & (t.capacity - 1);
    }
    ASSERT_EQ(t.values[i], tag(t.keys[i])) << "value separated from key in bucket " << i;
  }
  ASSERT_EQ(live, t.count);
  ASSERT_EQ(used, t.occupied);
}

std::vector<uint32_t> buckets_of(const Table &tb, std::initializer_list<double> keys) {
  std::vector<uint32_t> out;
  for (double k : keys) out.push_back(tb.find(k));
  return out;
}

}  // namespace


TEST(Sizing, RequestedSizesRoundUpToPowersOfTwoFromFour) {
  const std::pair<uint32_t, uint32_t> cases[] = {
      {0, 4}, {1, 4}, {2, 4}, {3, 4}, {4, 4}, {5, 8}, {8, 8}, {9, 16},
      {1000, 1024}, {0x80000000u, 0x80000000u}, {0x80000001u, 4}, {0xFFFFFFFFu, 4}};
  for (auto [requested, capacity] : cases)
    EXPECT_EQ(maptable_sizefor(requested), capacity) << "requested " << requested;
}


TEST(Sizing, BoundsFollowTheOccupancyOf077) {
  const std::pair<uint32_t, uint32_t> cases[] = {
      {4, 3}, {8, 6}, {16, 12}, {32, 25}, {64, 49}, {128, 99}, {256, 197},
      {512, 394}, {1024, 788}, {2048, 1577}};
  for (auto [capacity, limit] : cases) EXPECT_EQ(maptable_limitfor(capacity), limit);
  // The integer form agrees with the floating one for every capacity.
  for (uint32_t n = 4; n != 0 && n <= 0x80000000u; n <<= 1)
    EXPECT_EQ(maptable_limitfor(n), (uint32_t)((double)n * 0.77 + 0.5)) << n;
}


TEST(Placement, SmallIntegersFollowBucketZerosProbeSequence) {
  Table tb(8);
  for (double k : {1, 2, 3, 4, 5, 6}) EXPECT_EQ(tb.put(k), MAPTABLE_NEW);
  EXPECT_EQ(buckets_of(tb, {1, 2, 3, 4, 5, 6}), (std::vector<uint32_t>{0, 1, 3, 6, 2, 7}));
  EXPECT_EQ(tb.t.occupied, 6u);
  EXPECT_EQ(tb.t.grow_limit, 6u);
  expect_invariants(tb.t);

  // occupied has reached the bound and 8 <= 2 x 6: the next put doubles first.
  EXPECT_EQ(tb.put(7), MAPTABLE_NEW);
  EXPECT_EQ(tb.t.capacity, 16u);
  EXPECT_EQ(buckets_of(tb, {1, 2, 5, 7, 3, 4, 6}),
            (std::vector<uint32_t>{0, 1, 3, 5, 6, 10, 15}));
  EXPECT_EQ(tb.t.count, 7u);
  EXPECT_EQ(tb.t.occupied, 7u);
  EXPECT_EQ(tb.t.grow_limit, 12u);
  expect_invariants(tb.t);
}


TEST(Placement, PutReusesTheLastDeletedBucketBeforeTheEmptyOne) {
  Table tb(16);
  for (double k : {1, 2, 3, 4, 5, 6}) tb.put(k);
  EXPECT_EQ(buckets_of(tb, {1, 2, 3, 4, 5, 6}), (std::vector<uint32_t>{0, 1, 3, 6, 10, 15}));
  tb.erase(2);
  tb.erase(4);
  uint32_t at;
  EXPECT_EQ(tb.put(7, &at), MAPTABLE_REUSED);
  EXPECT_EQ(at, 6u);
  EXPECT_EQ(tb.t.count, 5u);
  EXPECT_EQ(tb.t.occupied, 6u);
  expect_invariants(tb.t);
}


TEST(Placement, PresentKeyLeavesKeyAndValueSlotsAlone) {
  Table tb(8);
  tb.put(2.5);
  uint32_t at;
  char *before = tb.t.values[tb.find(2.5)];
  EXPECT_EQ(tb.put(2.5, &at), MAPTABLE_PRESENT);
  EXPECT_EQ(at, tb.find(2.5));
  EXPECT_EQ(tb.t.values[at], before);
  EXPECT_EQ(tb.t.count, 1u);
}


TEST(Growth, TooManyDeletedBucketsRebuildAtTheSameSize) {
  Table tb(8);
  for (double k : {1, 2, 3, 4, 5, 6}) tb.put(k);
  for (double k : {3, 4, 5, 6}) tb.erase(k);
  EXPECT_EQ(tb.t.count, 2u);
  EXPECT_EQ(tb.t.occupied, 6u);
  EXPECT_EQ(tb.put(10), MAPTABLE_NEW);
  EXPECT_EQ(tb.t.capacity, 8u);
  EXPECT_EQ(tb.t.occupied, 3u);  // the rebuild dropped it to 2 before the put
  EXPECT_NE(tb.find(1), MAPTABLE_ABSENT);
  EXPECT_NE(tb.find(2), MAPTABLE_ABSENT);
  expect_invariants(tb.t);
}


TEST(Growth, EvenAPutOfAPresentKeyGrowsFirst) {
  Table tb(4);
  for (double k : {1, 2, 3}) tb.put(k);
  EXPECT_EQ(tb.t.capacity, 4u);
  EXPECT_EQ(tb.put(1), MAPTABLE_PRESENT);
  EXPECT_EQ(tb.t.capacity, 8u);
  expect_invariants(tb.t);
}


TEST(Growth, UnsizedTableGetsFourBucketsOnItsFirstPut) {
  MapTable t{};
  uint32_t b;
  EXPECT_EQ(maptable_find(&t, 1.0), MAPTABLE_ABSENT);
  EXPECT_EQ(maptable_put(&t, 1.0, &b), MAPTABLE_NEW);
  t.values[b] = tag(1.0);
  EXPECT_EQ(t.capacity, 4u);
  EXPECT_EQ(t.grow_limit, 3u);
  expect_invariants(t);
  heap_free(t.flags);
  heap_free(t.keys);
  heap_free(t.values);
}


TEST(Keys, NaNIsNeverFoundAndEachPutAddsAnEntry) {
  Table tb(8);
  EXPECT_EQ(tb.put(NAN), MAPTABLE_NEW);
  EXPECT_EQ(tb.put(NAN), MAPTABLE_NEW);
  EXPECT_EQ(tb.t.count, 2u);
  EXPECT_EQ(tb.find(NAN), MAPTABLE_ABSENT);
}


TEST(Keys, SignedZerosAreOneKeyThatKeepsTheFirstSign) {
  Table tb(8);
  EXPECT_EQ(tb.put(-0.0), MAPTABLE_NEW);
  uint32_t at;
  EXPECT_EQ(tb.put(+0.0, &at), MAPTABLE_PRESENT);
  EXPECT_EQ(tb.t.count, 1u);
  EXPECT_TRUE(std::signbit(tb.t.keys[at]));
  EXPECT_EQ(tb.find(0.0), at);
  EXPECT_EQ(maptable_home(-0.0, 1u << 31), 0u);
}


TEST(Erase, BucketsThatAreNotLiveAreLeftAlone) {
  Table tb(8);
  tb.put(1);
  uint32_t b = tb.find(1);
  maptable_erase(&tb.t, b);
  maptable_erase(&tb.t, b);      // deleted
  maptable_erase(&tb.t, b + 1);  // empty
  EXPECT_EQ(tb.t.count, 0u);
  EXPECT_EQ(tb.t.occupied, 1u);
  EXPECT_EQ(maptable_state(&tb.t, b), (uint32_t)MAPTABLE_DELETED);
  EXPECT_EQ(maptable_state(&tb.t, b + 1), (uint32_t)MAPTABLE_EMPTY);
}


TEST(Rehash, ShrinksOnlyWhenTheSmallerTableCanHoldTheEntries) {
  Table tb(16);
  for (double k : {1, 2, 3, 4, 5}) tb.put(k);
  EXPECT_TRUE(maptable_rehash(&tb.t, 5));
  EXPECT_EQ(tb.t.capacity, 8u);
  expect_invariants(tb.t);

  tb.put(6);
  EXPECT_TRUE(maptable_rehash(&tb.t, 6));  // 8 buckets hold 6 at most: no change
  EXPECT_EQ(tb.t.capacity, 8u);
  EXPECT_TRUE(maptable_rehash(&tb.t, 3));  // 4 buckets cannot hold 6
  EXPECT_EQ(tb.t.capacity, 8u);
  for (double k : {1, 2, 3, 4, 5, 6}) EXPECT_NE(tb.find(k), MAPTABLE_ABSENT) << k;
  expect_invariants(tb.t);
}


TEST(Failure, RehashThatCannotAllocateLeavesTheTableAsItWas) {
  // A growth fails with any of its three allocations: flag array, keys,
  // values.  A shrink (5 entries fit in 8 buckets) fails only with its flag
  // array: the trimming of the arrays after it may fail unseen.
  const std::pair<uint32_t, unsigned long> cases[] = {{64, 3}, {8, 1}};
  for (auto [target, expected] : cases) {
    unsigned long failures = 0;
    for (unsigned long n = 1; n <= 3; n++) {
      Table tb(32);
      for (double k : {1, 2, 3, 4, 5, 6}) tb.put(k);
      tb.erase(6);  // a deleted bucket, which a rebuild would drop
      MapTable before = tb.t;
      std::vector<uint32_t> flags(tb.t.flags, tb.t.flags + maptable_flagwords(32));
      std::vector<double> keys(tb.t.keys, tb.t.keys + 32);

      heap_fail_at(n);
      bool ok = maptable_rehash(&tb.t, target);
      heap_fail_at(0);
      expect_invariants(tb.t);
      if (ok) continue;
      failures++;
      EXPECT_EQ(tb.t.capacity, before.capacity);
      EXPECT_EQ(tb.t.count, before.count);
      EXPECT_EQ(tb.t.occupied, before.occupied);
      EXPECT_EQ(tb.t.grow_limit, before.grow_limit);
      EXPECT_EQ(tb.t.flags, before.flags);
      EXPECT_EQ(std::vector<uint32_t>(tb.t.flags, tb.t.flags + flags.size()), flags);
      for (uint32_t i = 0; i < 32; i++) {
        if (!maptable_islive(&tb.t, i)) continue;
        EXPECT_EQ(tb.t.keys[i], keys[i]) << i;  // and the values with them
      }
    }
    EXPECT_EQ(failures, expected) << "rehash to " << target;
  }
}


TEST(Failure, PutThatCannotGrowFailsWithoutClaimingABucket) {
  long live_before = heap_live_blocks();
  {
    Table tb(4);
    for (double k : {1, 2, 3}) tb.put(k);
    int failures = 0;
    for (unsigned long n = 1; n <= 10; n++) {
      heap_fail_at(n);
      uint32_t b;
      MapPutStatus s = maptable_put(&tb.t, 9, &b);
      heap_fail_at(0);
      if (s == MAPTABLE_FAILED) {
        failures++;
        EXPECT_EQ(tb.t.count, 3u);
        EXPECT_EQ(tb.find(9), MAPTABLE_ABSENT);
        expect_invariants(tb.t);
      } else {
        tb.t.values[b] = tag(9);
        break;
      }
    }
    // Flag array, keys and values: the three allocations of a growth.
    EXPECT_EQ(failures, 3);
    EXPECT_EQ(tb.t.capacity, 8u);
    for (double k : {1, 2, 3, 9}) EXPECT_NE(tb.find(k), MAPTABLE_ABSENT);
  }
  EXPECT_EQ(heap_live_blocks(), live_before);
}


TEST(Model, RandomOperationsAgreeWithAPlainMap) {
  std::mt19937 rng(42);
  Table tb(4);
  std::map<double, bool> model;  // non-NaN keys only
  int nans = 0;
  for (int step = 0; step < 20000; step++) {
    int op = rng() % 10;
    double key = (double)(rng() % 300) - 150;
    if (rng() % 8 == 0) key /= 8;
    if (op < 5) {
      MapPutStatus s = tb.put(key);
      EXPECT_EQ(s == MAPTABLE_PRESENT, model.count(key) == 1) << key;
      model[key] = true;
    } else if (op < 8) {
      uint32_t b = tb.find(key);
      EXPECT_EQ(b != MAPTABLE_ABSENT, model.count(key) == 1) << key;
      if (b != MAPTABLE_ABSENT) {
        maptable_erase(&tb.t, b);
        model.erase(key);
      }
    } else if (op == 8) {
      if (rng() % 50 == 0) {
        tb.put(NAN);
        nans++;
      }
    } else {
      ASSERT_TRUE(maptable_rehash(&tb.t, rng() % 700));
    }
    ASSERT_EQ(tb.t.count, model.size() + nans);
    if (step % 97 == 0) expect_invariants(tb.t);
  }
  expect_invariants(tb.t);
  for (auto &[k, _] : model) EXPECT_NE(tb.find(k), MAPTABLE_ABSENT) << k;
}
