// mapaccel.cpp: lookup aids that make clustered keys fast without moving
// a bucket.
//
// The hash is fixed, and it puts integer-valued keys (and any key whose
// double has few significant bits) into few home buckets, so walks along
// the triangular probe sequence grow long: at 10^7 sequential integers a
// find passes well over a thousand buckets.  The placement cannot change,
// since it is the order scripts iterate in, so these aids change nothing
// the table holds; they only answer, sooner, the three questions that the
// walks ask:
//
//   Is the key live, and where?  A walk hands over after `farsteps` probe
//   steps.  The index (farindex.cpp) maps every live key whose bucket lies
//   farsteps or more steps along its own sequence to that bucket.  A live
//   key is reached from home without passing an empty bucket, and no two
//   live buckets hold equal keys, so a walk that has passed farsteps steps
//   without an empty bucket or its key finds it exactly where the index
//   says, or nowhere.  NaN keys equal nothing and are not indexed.  When
//   one live key in `allshare` or more is far, the table indexes all of
//   them (`all`), and a find asks the index before walking at all: one
//   cache miss in a table of mixed hashes instead of a walk through a
//   cluster.  Each entry is marked far or not, so the share stays known.
//
//   Which bucket is the first empty one from here on?  The roomy tree has
//   one bit per flag word, set when the word holds an empty bucket, with
//   levels above that say which 64-bit words of the level below are not
//   zero.  A probe step that lands in a word without an empty bucket cannot
//   end the walk, and the steps that follow advance by step+1, step+2, ...,
//   so every step that lands inside a run of such words is skipped at once:
//   from step k at bucket b, the first step k+j past the run's end E is the
//   least j with j*k + j(j+1)/2 >= E - b, the inverse of the triangular
//   numbers.  Only steps that cannot be empty are skipped, so the walk stops
//   at the same step as the plain one.
//
//   Many keys often share one home, so the walk for the next of them would
//   pass all the buckets its predecessors filled.  A small cache of recent
//   homes keeps, for each, a step before which every bucket was found
//   non-empty; that stays true until a rebuild or an emptying, as nothing
//   else makes a bucket empty again, so the next walk from that home starts
//   there.
//
//   Which deleted bucket did that walk pass last?  The holes tree does the
//   same for words that hold a deleted bucket, walked backwards from the
//   empty bucket's step; it is needed only while the table has deleted
//   buckets (occupied > count).
//
// The trees are exact: every change of a flag word's states updates its two
// bits (mapaccel_trees_exact lets tests check it after every operation).
// The index holds exactly the far live keys, or exactly all.  All of it is
// derived from flags and keys, so it can be dropped at any time: the
// trees are built again from the flag array once walks past the hand-over
// have cost as much as building them, while the index can only be rebuilt
// by a rehash, which re-places every key anyway.  Until then a table that
// lost its index walks by the plain rules alone (farsteps = MAPACCEL_PLAIN),
// and so does one whose index could not be allocated: memory for the aids
// never fails an operation.  A table whose keys spread builds next to
// nothing, as few walks go far: an index of a few keys, and no trees.
//
// Memory comes from the cache heap (heap.h), which test builds fail apart
// from the table's own allocations.
#include "mapaccel.h"

#include <math.h>
#include <stdint.h>

#include "bittree.h"
#include "heap.h"
#include "maprecord.h"

namespace {

constexpr uint32_t EMPTY_BITS = MAPTABLE_EMPTY_BITS;
constexpr uint32_t DELETED_BITS = MAPTABLE_DELETED_BITS;

/* 32 steps cost spread keys nothing (almost none of them lies that far
** out), and a walk that long is still cheaper than an index look-up where
** clustered keys stay in the cache.  Once one key in 8 is far, finds do
** better asking the index first.  The trees pay once long walks have cost
** one reading of the flag array. */
MapAccelTuning tuned = {32, 8, 1};

constexpr uint32_t FRONT_SLOTS = 256;


/* ------------------------------------------------------------------------
** The trees
** --------------------------------------------------------------------- */

/* The trees need whole flag words: below 16 buckets walks stay plain. */
bool trees_fit(const MapAccel *a, uint32_t capacity) {
  return capacity >= 16 && (a->treecap == 0 || a->treecap == capacity);
}

/* The tree in *which, for a walk that has taken `steps` more plain steps.
** It is built once the steps walked past the hand-over since the last
** rebuild have cost as much as building it, which reads every flag word:
** spread keys walk that far too seldom to get there, and so never pay for
** the upkeep either. */
const uint64_t *tree_for_walk(MapAccel *a, uint64_t **which, const uint32_t *flags,
                              uint32_t capacity, uint32_t bits, const BitTreeShape &s,
                              uint32_t steps) {
  if (*which) return *which;
  a->walked += steps;
  if (a->walked < (uint64_t)(capacity >> 4) * tuned.treewalks) return nullptr;
  *which = bittree_build(flags, capacity >> 4, bits, s);
  if (*which) a->treecap = capacity;
  return *which;
}


/* After bucket i's state changed: its word's two bits, as they now are. */
void retree(MapAccel *a, const uint32_t *flags, uint32_t i) {
  const BitTreeShape s = bittree_shape(a->treecap >> 4);
  const uint32_t w = i >> 4, f = flags[w];
  if (a->roomy && bittree_get(a->roomy, w) != ((f & EMPTY_BITS) != 0)) {
    if (f & EMPTY_BITS)
      bittree_set(a->roomy, s, w);
    else
      bittree_clear(a->roomy, s, w);
  }
  if (a->holes && bittree_get(a->holes, w) != ((f & DELETED_BITS) != 0)) {
    if (f & DELETED_BITS)
      bittree_set(a->holes, s, w);
    else
      bittree_clear(a->holes, s, w);
  }
}


/* ------------------------------------------------------------------------
** Jumps along the triangular sequence
** --------------------------------------------------------------------- */

/* Offset from the bucket of step k to that of step k+j. */
inline uint64_t ahead(uint64_t k, uint64_t j) { return j * k + j * (j + 1) / 2; }

/* Offset from the bucket of step k back to that of step k-j (j <= k). */
inline uint64_t behind(uint64_t k, uint64_t j) { return j * k - j * (j - 1) / 2; }

/* The least j >= 1 with ahead(k, j) >= d. */
uint64_t steps_past(uint64_t k, uint64_t d) {
  double b = 2.0 * (double)k + 1.0;
  double root = (-b + sqrt(b * b + 8.0 * (double)d)) / 2.0;
  uint64_t j = root < 1.0 ? 1 : (uint64_t)root;
  while (ahead(k, j) < d) j++;
  while (j > 1 && ahead(k, j - 1) >= d) j--;
  return j;
}

/* The least j in 1..most with behind(k, j) >= d, or 0. */
uint64_t steps_back(uint64_t k, uint64_t d, uint64_t most) {
  if (most == 0 || behind(k, most) < d) return 0;
  double b = 2.0 * (double)k + 1.0;
  double disc = b * b - 8.0 * (double)d;
  double root = disc < 0 ? (double)most : (b - sqrt(disc)) / 2.0;
  uint64_t j = root < 1.0 ? 1 : root > (double)most ? (uint64_t)most : (uint64_t)root;
  while (behind(k, j) < d) j++;
  while (j > 1 && behind(k, j - 1) >= d) j--;
  return j;
}


/* ------------------------------------------------------------------------
** The index
** --------------------------------------------------------------------- */

/* Without memory for the index the table goes plain until its next
** rebuild, since an index that misses a far key would answer wrongly. */
void lose(MapAccel *a) {
  mapaccel_drop(a);
  a->farsteps = MAPACCEL_PLAIN;
}

bool crowded(const MapTable *t) {
  const MapAccel *a = &t->accel;
  return a->index.far && tuned.allshare && (uint64_t)a->index.far * tuned.allshare >= t->count;
}

/* Indexes every live key.  Without the memory nothing changes. */
void index_all(MapTable *t) {
  MapAccel *a = &t->accel;
  FarIndex all{};
  if (!farindex_reset(&all, farindex_bits_for(t->grow_limit))) return;
  for (uint32_t s = 0; a->index.slots && s < (1ull << a->index.bits); s++) {
    FarSlot e = a->index.slots[s];
    if (e.bucket1 && !farindex_add(&all, t->keys[e.bucket1 - 1], e.bucket1 - 1, true)) {
      farindex_free(&all);
      return;
    }
  }
  for (uint32_t i = 0; i < t->capacity; i++) {
    double key = t->keys[i];
    if (maptable_state_in(t->flags, i) != MAPTABLE_LIVE || key != key) continue;
    if (!farindex_add_new(&all, key, i)) {
      farindex_free(&all);
      return;
    }
  }
  farindex_free(&a->index);
  a->index = all;
  a->all = 1;
}

/* Indexes a key that was just placed: far ones always, near ones when the
** index holds all. */
void index_placed(MapAccel *a, double key, uint32_t i, uint32_t step) {
  bool far = step >= a->farsteps;
  if ((far || a->all) && key == key && !farindex_add(&a->index, key, i, far)) lose(a);
}

}  // namespace


void mapaccel_tune(MapAccelTuning tuning) { tuned = tuning; }

MapAccelTuning mapaccel_tuning(void) { return tuned; }


uint32_t mapaccel_find_far(const MapTable *t, double key) {
  uint32_t b = farindex_find(&t->accel.index, t->keys, key);
  return b == UINT32_MAX ? MAPTABLE_ABSENT : b;
}


/* From the bucket of *step on, the first empty bucket; *step becomes its
** step.  Works on any flag array of the given capacity, so that a rehash
** can use it on the array it is filling. */
uint32_t mapaccel_next_empty(MapAccel *a, const uint32_t *flags, uint32_t capacity,
                             uint32_t i, uint32_t *stepp) {
  const uint32_t mask = capacity - 1;
  uint32_t step = *stepp;
  const bool fit = trees_fit(a, capacity);
  const BitTreeShape s = fit ? bittree_shape(capacity >> 4) : BitTreeShape{};
  const uint64_t *roomy = nullptr;
  /* Start where the last walk from the same home found the first empty. */
  const uint32_t home = (uint32_t)((i - ahead(0, step)) & mask);
  MapFront *front = a->front ? &a->front[home & (FRONT_SLOTS - 1)] : nullptr;
  if (front && front->home1 == home + 1 && front->step > step) {
    step = front->step;
    i = (uint32_t)((home + ahead(0, step)) & mask);
  }
  for (uint32_t plain = 0;; plain++) {
    if (fit && !roomy && plain % 16 == 0) {
      roomy = tree_for_walk(a, &a->roomy, flags, capacity, EMPTY_BITS, s, plain ? 16 : 0);
      if (roomy && !a->front)
        a->front = (MapFront *)heap_cache_calloc(FRONT_SLOTS, sizeof(MapFront));
    }
    if (roomy && !bittree_get(roomy, i >> 4)) {
      /* Skip every step that lands before the next word with room. */
      uint32_t w = i >> 4, next = bittree_next(roomy, s, w + 1);
      if (next == BITTREE_NONE) next = bittree_next(roomy, s, 0);
      if (next == BITTREE_NONE) {  // cannot be: a table always has an empty bucket
        roomy = nullptr;
        continue;
      }
      uint64_t end = (uint64_t)next << 4;
      if (next <= w) end += capacity;
      uint64_t j = steps_past(step, end - i);
      i = (uint32_t)((i + ahead(step, j)) & mask);
      step += (uint32_t)j;
      continue;
    }
    if (maptable_state_in(flags, i) == MAPTABLE_EMPTY) break;
    i = (i + ++step) & mask;
  }
  if (front) *front = MapFront{home + 1, step};
  *stepp = step;
  return i;
}


/* The last deleted bucket at a step from `from` up to (not including) the
** given step, whose bucket is given, or MAPTABLE_ABSENT. */
uint32_t mapaccel_last_deleted(MapTable *t, uint32_t i, uint32_t step, uint32_t from,
                               uint32_t *sitestep) {
  if (step <= from) return MAPTABLE_ABSENT;
  const uint32_t capacity = t->capacity, mask = capacity - 1;
  MapAccel *a = &t->accel;
  const bool fit = trees_fit(a, capacity);
  const BitTreeShape s = fit ? bittree_shape(capacity >> 4) : BitTreeShape{};
  const uint64_t *holes = nullptr;
  uint32_t k = step - 1, p = (i - step) & mask;  // the candidate: step k, bucket p
  for (uint32_t plain = 0;; plain++) {
    if (fit && !holes && plain % 16 == 0)
      holes = tree_for_walk(a, &a->holes, t->flags, capacity, DELETED_BITS, s, plain ? 16 : 0);
    if (holes && !bittree_get(holes, p >> 4)) {
      /* Skip back over every step that lands in the run of words without a
      ** deleted bucket that ends at p's word. */
      uint32_t w = p >> 4, prev = w ? bittree_prev(holes, s, w - 1) : BITTREE_NONE;
      if (prev == BITTREE_NONE) prev = bittree_prev(holes, s, (capacity >> 4) - 1);
      if (prev == BITTREE_NONE) return MAPTABLE_ABSENT;
      int64_t start = ((int64_t)prev + 1) << 4;
      if (prev >= w) start -= capacity;
      uint64_t j = steps_back(k, (uint64_t)((int64_t)p - start + 1), k - from);
      if (j == 0) return MAPTABLE_ABSENT;
      p = (uint32_t)((p - behind(k, j)) & mask);
      k -= (uint32_t)j;
      continue;
    }
    if (maptable_state_in(t->flags, p) == MAPTABLE_DELETED) {
      *sitestep = k;
      return p;
    }
    if (k == from) return MAPTABLE_ABSENT;
    p = (p - k) & mask;
    k--;
  }
}


void mapaccel_note_claim(MapTable *t, uint32_t i, uint32_t step, double key) {
  MapAccel *a = &t->accel;
  if (a->treecap) retree(a, t->flags, i);
  index_placed(a, key, i, step);
  if (!a->all && crowded(t)) index_all(t);
}


void mapaccel_note_erase(MapTable *t, uint32_t i) {
  MapAccel *a = &t->accel;
  if (a->treecap) retree(a, t->flags, i);
  farindex_remove(&a->index, t->keys[i], i);
}


void mapaccel_note_placed(MapAccel *a, const uint32_t *flags, uint32_t i, uint32_t step,
                          double key) {
  if (a->treecap) retree(a, flags, i);
  index_placed(a, key, i, step);
}


/* Before a rehash re-places every key (limit is the new bound), or an
** emptying (limit 0).  The trees describe the old flags and go.  A table
** that indexes all keeps doing so, with room for all it may hold until the
** next rebuild; otherwise the index is emptied, its slots kept when they
** suit the new size.  Whatever the table lost before, it trusts the aids
** again. */
void mapaccel_rebuilding(MapAccel *a, uint32_t capacity, uint32_t limit) {
  heap_cache_free(a->roomy);
  heap_cache_free(a->holes);
  heap_cache_free(a->front);
  a->roomy = a->holes = nullptr;
  a->front = nullptr;
  a->treecap = 0;
  a->walked = 0;
  a->farsteps = tuned.farsteps;
  a->all = a->all && limit && tuned.allshare;
  if (a->all) {
    if (farindex_reset(&a->index, farindex_bits_for(limit))) return;
    a->all = 0;
  }
  uint32_t bits = a->index.bits;
  if (!a->index.slots || (1ull << bits) > capacity || bits > farindex_bits_for(a->index.far) + 1 ||
      !farindex_reset(&a->index, bits))
    farindex_free(&a->index);
}


/* After a rehash: all keys indexed when the far ones are many, only the
** far ones when they have become few. */
void mapaccel_rebuilt(MapTable *t) {
  MapAccel *a = &t->accel;
  if (!a->all) {
    if (crowded(t)) index_all(t);
  } else if ((uint64_t)a->index.far * tuned.allshare * 2 < t->count) {
    if (farindex_keep_far(&a->index)) a->all = 0;
  }
}


bool mapaccel_trees_exact(const MapTable *t, uint32_t bucket) {
  const MapAccel *a = &t->accel;
  if (!a->treecap) return !a->roomy && !a->holes;
  if (a->treecap != t->capacity) return false;
  const uint32_t leaves = t->capacity >> 4;
  const uint32_t w = bucket == MAPTABLE_ABSENT ? BITTREE_NONE : bucket >> 4;
  const BitTreeShape s = bittree_shape(leaves);
  return (!a->roomy || bittree_matches(a->roomy, t->flags, leaves, EMPTY_BITS, s, w)) &&
         (!a->holes || bittree_matches(a->holes, t->flags, leaves, DELETED_BITS, s, w));
}


void mapaccel_drop(MapAccel *a) {
  farindex_free(&a->index);
  heap_cache_free(a->roomy);
  heap_cache_free(a->holes);
  heap_cache_free(a->front);
  a->roomy = a->holes = nullptr;
  a->front = nullptr;
  a->treecap = a->all = 0;
}
