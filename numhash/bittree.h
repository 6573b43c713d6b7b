// bittree.h: a set of bits with a summary above it, for finding the next
// or previous set bit in a few word reads however long the gap.
#ifndef NUMHASH_BITTREE_H
#define NUMHASH_BITTREE_H

#include <stdint.h>

constexpr uint32_t BITTREE_NONE = UINT32_MAX;

/* Level 0 has one bit per leaf; each level above has one bit per 64-bit
** word of the level below, set when that word is not zero.  The levels lie
** one after another in one array. */
struct BitTreeShape {
  uint32_t levels;
  uint32_t base[7];
  uint32_t size[7];
  uint32_t total;
};

BitTreeShape bittree_shape(uint32_t leaves);

/* A tree whose leaf w is set when words[w] has any bit of `mask`, or null
** without memory (from the cache heap). */
uint64_t *bittree_build(const uint32_t *words, uint32_t leaves, uint32_t mask,
                        const BitTreeShape &shape);

static inline bool bittree_get(const uint64_t *t, uint32_t x) { return (t[x >> 6] >> (x & 63)) & 1u; }

void bittree_set(uint64_t *t, const BitTreeShape &shape, uint32_t x);
void bittree_clear(uint64_t *t, const BitTreeShape &shape, uint32_t x);

/* Whether t is, bit for bit, the tree bittree_build makes from words: all
** of it, or the words on the path from one leaf to the top. */
bool bittree_matches(const uint64_t *t, const uint32_t *words, uint32_t leaves, uint32_t mask,
                     const BitTreeShape &shape, uint32_t leaf = BITTREE_NONE);

/* The least set leaf at or after x, the greatest at or before x, or NONE. */
uint32_t bittree_next(const uint64_t *t, const BitTreeShape &shape, uint32_t x);
uint32_t bittree_prev(const uint64_t *t, const BitTreeShape &shape, uint32_t x);

#endif
