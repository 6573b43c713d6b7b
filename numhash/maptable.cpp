// maptable.cpp: placement, growth and in-place rebuild of a MapTable.
//
// The table is open-addressing with a power-of-two number of buckets.  Each
// bucket has two state bits (live 00, deleted 01, empty 10) packed sixteen to
// a 32-bit word.  A key's home bucket is the XOR of the two halves of its
// IEEE-754 bit pattern, masked to the capacity; collisions probe at the
// triangular offsets 0, 1, 3, 6, ... from home, which visit every bucket once
// in the first `capacity` probes.
//
// Invariants kept by every operation, whenever capacity > 0:
//   count <= occupied <= grow_limit < capacity, so a bucket is always empty
//   and every probe ends;
//   every live key is reached from its home along its probe sequence without
//   passing an empty bucket.
//
// Placement is fixed down to which deleted bucket a put reuses and the order
// in which a rebuild re-places entries, because scripts walk the buckets in
// index order: the placement *is* the iteration order they see.
//
// A put grows only when occupied has reached grow_limit: by doubling when at
// least half the buckets are live, else by rebuilding at the same size, which
// turns deleted buckets back into empty ones.  The rebuild is in place: the
// key and value arrays are resized (before a growth, after a shrink) and the
// entries re-placed within them; the only extra memory is the new flag array.
//
// Walks that go far along their sequence hand over to the lookup aids of
// mapaccel.cpp, which give the same bucket and status sooner; every change
// of a bucket's state is reported to them.  They change nothing above.
#include "maptable.h"

#include <stdint.h>
#include <string.h>

#include "heap.h"
#include "ovrel.h"


static inline uint32_t shift(uint32_t i) { return (i & 15u) << 1; }


static inline void set_live(uint32_t *flags, uint32_t i) {
  flags[i >> 4] &= ~(3u << shift(i));
}

static inline void set_deleted(uint32_t *flags, uint32_t i) {
  flags[i >> 4] |= 1u << shift(i);
}

/* Whether the aids must hear of a bucket that became live `step` probe
** steps from its key's home. */
static inline bool noted(const MapAccel *a, uint32_t step) {
  return step >= a->farsteps || a->all || a->treecap;
}

static inline void claimed(MapTable *t, uint32_t i, uint32_t step, double key) {
  if (noted(&t->accel, step)) mapaccel_note_claim(t, i, step, key);
}

/* When the far keys are many, the key's index slot is fetched while the
** walk goes on. */
static inline void prefetch_far(const MapTable *t, double key) {
  if (t->accel.index.far > t->count >> 4) farindex_prefetch(&t->accel.index, key);
}


/* The runtime's rounding: 0 for 0 and for more than 2^31, raised to 4. */
uint32_t maptable_sizefor(uint32_t requested) {
  uint32_t n = tools_nextpow2u32(requested);
  return n < 4 ? 4 : n;
}


/* floor(n * 0.77 + 0.5), exact in integers for every power of two <= 2^31. */
uint32_t maptable_limitfor(uint32_t capacity) {
  return (uint32_t)(((uint64_t)capacity * 77u + 50u) / 100u);
}


uint32_t maptable_find(const MapTable *t, double key) {
  if (t->capacity == 0) return MAPTABLE_ABSENT;
  if (t->accel.all) return mapaccel_find_far(t, key);
  prefetch_far(t, key);
  const uint32_t mask = t->capacity - 1, far = t->accel.farsteps;
  const uint32_t start = maptable_home(key, t->capacity);
  uint32_t i = start, step = 0;
  for (;;) {
    if (step == far) return mapaccel_find_far(t, key);  /* the rest is indexed */
    uint32_t st = maptable_state_in(t->flags, i);
    if (st == MAPTABLE_EMPTY) return MAPTABLE_ABSENT;
    if (st == MAPTABLE_LIVE && t->keys[i] == key) return i;
    i = (i + ++step) & mask;
    if (i == start) return MAPTABLE_ABSENT;
  }
}


/* Makes room before a put: a same-size rebuild when fewer than half the
** buckets are live, else a doubling.  Either leaves occupied below the new
** bound, except at the largest capacity, where nothing can grow and the put
** must fail rather than fill the last empty bucket. */
static bool make_room(MapTable *t) {
  uint32_t requested = (uint64_t)t->capacity > 2ull * t->count
                           ? t->capacity - 1
                           : t->capacity + 1;
  if (!maptable_rehash(t, requested)) return false;
  return t->occupied < t->grow_limit;
}


MapPutStatus maptable_put(MapTable *t, double key, uint32_t *bucket) {
  if (t->occupied >= t->grow_limit && !make_room(t)) return MAPTABLE_FAILED;

  /* A table whose index holds every key hands over at once. */
  prefetch_far(t, key);
  const uint32_t mask = t->capacity - 1, far = t->accel.all ? 0 : t->accel.farsteps;
  uint32_t i = maptable_home(key, t->capacity), step = 0, st;
  /* Remember the last deleted bucket passed: the one nearest to the empty
  ** bucket that ends the probe is the one a new key reuses. */
  uint32_t site = MAPTABLE_ABSENT, sitestep = 0;
  for (;;) {
    if (step == far) {
      /* The aids answer for the rest of the walk.  The empty bucket is
      ** sought before the index is asked, so that their cache misses
      ** overlap; it is simply not used when the key is there. */
      i = mapaccel_next_empty(&t->accel, t->flags, t->capacity, i, &step);
      uint32_t b = mapaccel_find_far(t, key);
      if (b != MAPTABLE_ABSENT) {
        *bucket = b;
        return MAPTABLE_PRESENT;
      }
      if (t->occupied != t->count) {
        b = mapaccel_last_deleted(t, i, step, far, &sitestep);
        if (b != MAPTABLE_ABSENT) site = b;
      }
      st = MAPTABLE_EMPTY;
      break;
    }
    st = maptable_state_in(t->flags, i);
    if (st == MAPTABLE_EMPTY) break;
    if (st == MAPTABLE_LIVE && t->keys[i] == key) {
      *bucket = i;
      return MAPTABLE_PRESENT;
    }
    if (st == MAPTABLE_DELETED) {
      site = i;
      sitestep = step;
    }
    i = (i + ++step) & mask;
  }
  if (site != MAPTABLE_ABSENT) {
    i = site;
    step = sitestep;
    st = MAPTABLE_DELETED;
  }
  t->keys[i] = key;
  set_live(t->flags, i);
  t->count++;
  claimed(t, i, step, key);
  *bucket = i;
  if (st == MAPTABLE_DELETED) return MAPTABLE_REUSED;
  t->occupied++;
  return MAPTABLE_NEW;
}


void maptable_erase(MapTable *t, uint32_t bucket) {
  if (bucket >= t->capacity || maptable_state_in(t->flags, bucket) != MAPTABLE_LIVE) return;
  set_deleted(t->flags, bucket);
  t->count--;
  if (t->accel.index.count || t->accel.holes) mapaccel_note_erase(t, bucket);
}


/* Re-places every live entry for the capacity ncap, within the arrays.  The
** old flag array tells which buckets still hold entries not yet moved: an
** entry that lands on one of those swaps with it and the displaced entry is
** placed next, so each entry moves once and nothing is overwritten. */
static void replace_entries(MapTable *t, uint32_t *nflags, uint32_t ncap) {
  uint32_t *oflags = t->flags;
  const uint32_t oldcap = t->capacity, mask = ncap - 1;
  for (uint32_t j = 0; j < oldcap; j++) {
    if (maptable_state_in(oflags, j) != MAPTABLE_LIVE) continue;
    double key = t->keys[j];
    char *value = t->values[j];
    set_deleted(oflags, j);
    for (;;) {
      uint32_t i = maptable_home(key, ncap), step = 0;
      for (;;) {
        if (step == t->accel.farsteps) {
          i = mapaccel_next_empty(&t->accel, nflags, ncap, i, &step);
          break;
        }
        if (maptable_state_in(nflags, i) == MAPTABLE_EMPTY) break;
        i = (i + ++step) & mask;
      }
      set_live(nflags, i);
      if (noted(&t->accel, step)) mapaccel_note_placed(&t->accel, nflags, i, step, key);
      if (i < oldcap && maptable_state_in(oflags, i) == MAPTABLE_LIVE) {
        double k = t->keys[i];
        char *v = t->values[i];
        t->keys[i] = key;
        t->values[i] = value;
        set_deleted(oflags, i);
        key = k;
        value = v;
        continue;
      }
      t->keys[i] = key;
      t->values[i] = value;
      break;
    }
  }
}


bool maptable_rehash(MapTable *t, uint32_t requested) {
  const uint32_t ncap = maptable_sizefor(requested);
  const uint32_t limit = maptable_limitfor(ncap);
  if (t->count >= limit) return true;  /* too small to hold the entries: no change */

  if ((uint64_t)ncap > SIZE_MAX / sizeof(double) ||
      (uint64_t)ncap > SIZE_MAX / sizeof(char *))
    return false;
  const size_t flagbytes = (size_t)maptable_flagwords(ncap) * sizeof(uint32_t);
  uint32_t *nflags = (uint32_t *)heap_malloc(flagbytes);
  if (!nflags) return false;
  memset(nflags, MAPTABLE_EMPTY_FILL, flagbytes);

  if (ncap > t->capacity) {
    /* A larger keys array left behind by a failed values enlargement is
    ** harmless: the arrays only need at least capacity slots. */
    double *keys = (double *)heap_realloc(t->keys, (size_t)ncap * sizeof(double));
    if (!keys) {
      heap_free(nflags);
      return false;
    }
    t->keys = keys;
    char **values = (char **)heap_realloc(t->values, (size_t)ncap * sizeof(char *));
    if (!values) {
      heap_free(nflags);
      return false;
    }
    t->values = values;
  }

  mapaccel_rebuilding(&t->accel, ncap, limit);
  replace_entries(t, nflags, ncap);

  if (ncap < t->capacity) {
    /* Keeping the larger arrays is sound if the allocator will not shrink. */
    double *keys = (double *)heap_realloc(t->keys, (size_t)ncap * sizeof(double));
    if (keys) t->keys = keys;
    char **values = (char **)heap_realloc(t->values, (size_t)ncap * sizeof(char *));
    if (values) t->values = values;
  }

  heap_free(t->flags);
  t->flags = nflags;
  t->capacity = ncap;
  t->occupied = t->count;
  t->grow_limit = limit;
  mapaccel_rebuilt(t);
  return true;
}


void maptable_empty(MapTable *t) {
  if (!t->flags) return;
  memset(t->flags, MAPTABLE_EMPTY_FILL, maptable_flagwords(t->capacity) * sizeof(uint32_t));
  t->count = 0;
  t->occupied = 0;
  mapaccel_rebuilding(&t->accel, t->capacity, 0);
}


void maptable_release(MapTable *t) {
  mapaccel_drop(&t->accel);
  heap_free(t->keys);
  heap_free(t->flags);
  heap_free(t->values);
  memset(t, 0, sizeof *t);
}
