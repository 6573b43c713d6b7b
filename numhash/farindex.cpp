// farindex.cpp: linear probing by a mixed hash of the key.
//
// The table's own hash is fixed and clusters; this one mixes every bit of
// the key, so that clustered keys spread here.  The two zeros hash alike,
// as they are one key.  Removal shifts later entries of the run back, so
// no probe meets a gap and no slot is ever a tombstone.
#include "farindex.h"

#include <stdint.h>
#include <string.h>

#include "heap.h"

namespace {

constexpr uint32_t FIRST_BITS = 6;
constexpr uint32_t MOST_BITS = 31;  // a table has at most 2^31 buckets
constexpr uint32_t FAR_MARK = 1;

inline uint32_t tag_of(double key) {
  uint64_t h = 0;
  if (key != 0) memcpy(&h, &key, sizeof h);
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ull;
  h ^= h >> 33;
  return (uint32_t)(h >> 32) & ~FAR_MARK;
}

inline uint32_t home_of(uint32_t tag, uint32_t bits) { return tag >> (32 - bits); }

inline uint32_t mask_of(uint32_t bits) { return (uint32_t)((1ull << bits) - 1); }

void store(FarSlot *slots, uint32_t bits, FarSlot e) {
  const uint32_t mask = mask_of(bits);
  uint32_t s = home_of(e.tag, bits);
  while (slots[s].bucket1) s = (s + 1) & mask;
  slots[s] = e;
}

FarSlot *alloc(uint32_t bits) {
  if (bits > MOST_BITS || (1ull << bits) > SIZE_MAX / sizeof(FarSlot)) return nullptr;
  return (FarSlot *)heap_cache_calloc((size_t)1 << bits, sizeof(FarSlot));
}

/* Moves every entry that `keep` accepts into a new array of 2^bits slots. */
template <class Keep>
bool rebuild(FarIndex *x, uint32_t bits, Keep keep) {
  FarSlot *slots = alloc(bits);
  if (!slots) return false;
  uint32_t count = 0, far = 0;
  for (uint64_t s = 0; x->slots && s < (1ull << x->bits); s++) {
    FarSlot e = x->slots[s];
    if (!e.bucket1 || !keep(e)) continue;
    store(slots, bits, e);
    count++;
    far += e.tag & FAR_MARK;
  }
  heap_cache_free(x->slots);
  x->slots = slots;
  x->bits = bits;
  x->count = count;
  x->far = far;
  return true;
}

}  // namespace


uint32_t farindex_bits_for(uint64_t n) {
  uint32_t bits = FIRST_BITS;
  while (n * 5 > (4ull << bits)) bits++;
  return bits;
}


bool farindex_reset(FarIndex *x, uint32_t bits) {
  x->count = x->far = 0;
  if (x->slots && x->bits == bits) {
    memset(x->slots, 0, sizeof(FarSlot) << bits);
    return true;
  }
  farindex_free(x);
  x->slots = alloc(bits);
  if (!x->slots) return false;
  x->bits = bits;
  return true;
}


void farindex_free(FarIndex *x) {
  heap_cache_free(x->slots);
  *x = FarIndex{};
}


bool farindex_add(FarIndex *x, double key, uint32_t bucket, bool far) {
  if (!x->slots || (uint64_t)(x->count + 1) * 5 > (4ull << x->bits)) {
    uint32_t bits = x->slots ? x->bits + 1 : FIRST_BITS;
    if (!rebuild(x, bits, [](FarSlot) { return true; })) return false;
  }
  store(x->slots, x->bits, FarSlot{bucket + 1, tag_of(key) | (far ? FAR_MARK : 0)});
  x->count++;
  x->far += far;
  return true;
}


bool farindex_add_new(FarIndex *x, double key, uint32_t bucket) {
  if (x->slots) {
    const uint32_t mask = mask_of(x->bits);
    for (uint32_t s = home_of(tag_of(key), x->bits); x->slots[s].bucket1; s = (s + 1) & mask)
      if (x->slots[s].bucket1 == bucket + 1) return true;
  }
  return farindex_add(x, key, bucket, false);
}


void farindex_remove(FarIndex *x, double key, uint32_t bucket) {
  if (!x->count) return;
  const uint32_t bits = x->bits, mask = mask_of(bits);
  uint32_t s = home_of(tag_of(key), bits);
  while (x->slots[s].bucket1 != bucket + 1) {
    if (!x->slots[s].bucket1) return;
    s = (s + 1) & mask;
  }
  x->count--;
  x->far -= x->slots[s].tag & FAR_MARK;
  for (uint32_t j = (s + 1) & mask; x->slots[j].bucket1; j = (j + 1) & mask) {
    uint32_t home = home_of(x->slots[j].tag, bits);
    if (((j - home) & mask) >= ((j - s) & mask)) {
      x->slots[s] = x->slots[j];
      s = j;
    }
  }
  x->slots[s] = FarSlot{0, 0};
}


uint32_t farindex_find(const FarIndex *x, const double *keys, double key) {
  if (!x->count) return UINT32_MAX;
  const uint32_t tag = tag_of(key), mask = mask_of(x->bits);
  for (uint32_t s = home_of(tag, x->bits);; s = (s + 1) & mask) {
    const FarSlot &e = x->slots[s];
    if (!e.bucket1) return UINT32_MAX;
    if ((e.tag & ~FAR_MARK) == tag && keys[e.bucket1 - 1] == key) return e.bucket1 - 1;
  }
}


void farindex_prefetch(const FarIndex *x, double key) {
#if defined(__GNUC__)
  if (x->slots) __builtin_prefetch(&x->slots[home_of(tag_of(key), x->bits)]);
#else
  (void)x;
  (void)key;
#endif
}


bool farindex_keep_far(FarIndex *x) {
  return rebuild(x, farindex_bits_for(x->far), [](FarSlot e) { return (e.tag & FAR_MARK) != 0; });
}
