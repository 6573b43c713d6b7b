// maprecord.h: the records of a map table and of the lookup aids kept
// beside it, and how a bucket's state is read from a flag array.  The
// table's rules (maptable.cpp) and the aids (mapaccel.cpp) both work on
// these; neither needs the other's code to read them.
#ifndef NUMHASH_MAPRECORD_H
#define NUMHASH_MAPRECORD_H

#include <stdint.h>

#include "farindex.h"

/* For a home bucket: every probe step before `step` lands on a bucket that
** is not empty.  Home plus one; 0 is no home. */
struct MapFront {
  uint32_t home1;
  uint32_t step;
};

struct MapAccel {
  uint32_t farsteps;  // walks hand over at this step; MAPACCEL_PLAIN: never
  uint32_t all;       // the index holds every live key, so finds ask it first
  uint32_t treecap;   // capacity the two bit trees describe; 0 when none
  FarIndex index;     // the far live keys (all of them when `all`)
  uint64_t *roomy;    // bit tree over flag words: holds an empty bucket
  uint64_t *holes;    // bit tree over flag words: holds a deleted bucket
  MapFront *front;    // recent homes and the step before which all is full
  uint64_t walked;    // steps walked past the hand-over without trees
};

struct MapTable {
  uint32_t capacity;    // buckets: 0, or a power of two from 4 to 2^31
  uint32_t count;       // live entries
  uint32_t occupied;    // live or deleted buckets
  uint32_t grow_limit;  // occupancy bound for this capacity
  uint32_t *flags;      // 2 state bits per bucket, 16 buckets per word
  double *keys;
  char **values;        // the owner's strings; core code only moves them
  MapAccel accel;       // lookup aids derived from the above; change no result
};

/* Bucket states, as the two bits of a bucket read from its flag word. */
enum : uint32_t {
  MAPTABLE_LIVE = 0,
  MAPTABLE_DELETED = 1,
  MAPTABLE_EMPTY = 2,
};

constexpr uint32_t MAPTABLE_ABSENT = UINT32_MAX;

/* Flag arrays are filled with this byte, which makes every bucket empty. */
constexpr unsigned char MAPTABLE_EMPTY_FILL = 0xAA;

/* The low (deleted) and the high (empty) bit of every bucket of a word. */
constexpr uint32_t MAPTABLE_DELETED_BITS = 0x55555555u;
constexpr uint32_t MAPTABLE_EMPTY_BITS = 0xAAAAAAAAu;

/* The bits of a flag word that hold buckets: every one, but in the single
** word of a 4- or 8-bucket table, whose high bits keep the fill. */
static inline uint32_t maptable_usedbits(uint32_t capacity) {
  return capacity < 16 ? (1u << (2 * capacity)) - 1 : UINT32_MAX;
}

/* The state of bucket i in a flag array, the table's or one being filled. */
static inline uint32_t maptable_state_in(const uint32_t *flags, uint32_t i) {
  return (flags[i >> 4] >> ((i & 15u) << 1)) & 3u;
}

/* Words in the flag array of a table of the given capacity (> 0). */
static inline uint32_t maptable_flagwords(uint32_t capacity) {
  return capacity < 16 ? 1 : capacity >> 4;
}

#endif
