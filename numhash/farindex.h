// farindex.h: an index from keys to the buckets that hold them, kept
// beside a table for the keys that its walks reach slowly.
#ifndef NUMHASH_FARINDEX_H
#define NUMHASH_FARINDEX_H

#include <stdint.h>

/* A slot: the bucket plus one (0: free), and a tag made of the high half of
** the key's mixed hash, whose top bits pick the slot (so growing needs no
** key) and whose bit 0 is replaced by a mark: the key lies far out. */
struct FarSlot {
  uint32_t bucket1;
  uint32_t tag;
};

struct FarIndex {
  FarSlot *slots;  // 2^bits of them, or null
  uint32_t bits;
  uint32_t count;  // entries
  uint32_t far;    // entries marked far
};

/* Slot bits for n entries: at most four fifths full. */
uint32_t farindex_bits_for(uint64_t n);

/* Empties the index and gives it 2^bits slots, reusing its array when the
** size is the same; false without memory, leaving no slots. */
bool farindex_reset(FarIndex *x, uint32_t bits);
void farindex_free(FarIndex *x);

/* Adds an entry, growing when full; false when it cannot grow. */
bool farindex_add(FarIndex *x, double key, uint32_t bucket, bool far);
/* The same, unless the bucket is in the index already. */
bool farindex_add_new(FarIndex *x, double key, uint32_t bucket);
void farindex_remove(FarIndex *x, double key, uint32_t bucket);

/* The bucket whose key equals key, read through keys, or UINT32_MAX. */
uint32_t farindex_find(const FarIndex *x, const double *keys, double key);
void farindex_prefetch(const FarIndex *x, double key);

/* Keeps only the entries marked far; false without memory (no change). */
bool farindex_keep_far(FarIndex *x);

#endif
