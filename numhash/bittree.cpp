// bittree.cpp: searching a long bit set through its summary levels.
#include "bittree.h"

#include "heap.h"


BitTreeShape bittree_shape(uint32_t leaves) {
  BitTreeShape s{};
  uint32_t n = leaves, off = 0;
  do {
    uint32_t words = (n + 63) >> 6;
    s.base[s.levels] = off;
    s.size[s.levels] = words;
    s.levels++;
    off += words;
    n = words;
  } while (n > 1);
  s.total = off;
  return s;
}


uint64_t *bittree_build(const uint32_t *words, uint32_t leaves, uint32_t mask,
                        const BitTreeShape &s) {
  uint64_t *t = (uint64_t *)heap_cache_calloc(s.total, sizeof(uint64_t));
  if (!t) return nullptr;
  for (uint32_t w = 0; w < leaves; w++)
    if (words[w] & mask) t[w >> 6] |= 1ull << (w & 63);
  for (uint32_t l = 1; l < s.levels; l++)
    for (uint32_t x = 0; x < s.size[l - 1]; x++)
      if (t[s.base[l - 1] + x]) t[s.base[l] + (x >> 6)] |= 1ull << (x & 63);
  return t;
}


/* Bits past the last leaf are compared too: a search trusts a set bit as
** much as a clear one. */
bool bittree_matches(const uint64_t *t, const uint32_t *words, uint32_t leaves, uint32_t mask,
                     const BitTreeShape &s, uint32_t leaf) {
  const bool all = leaf == BITTREE_NONE;
  for (uint32_t l = 0, n = leaves; l < s.levels; n = s.size[l], l++, leaf >>= 6) {
    const uint32_t first = all ? 0 : leaf >> 6, last = all ? s.size[l] - 1 : leaf >> 6;
    for (uint32_t wi = first; wi <= last; wi++) {
      uint64_t want = 0;  // from the leaves' words, or the level below
      for (uint32_t x = wi << 6; x < n && x < (wi + 1) << 6; x++)
        if (l == 0 ? words[x] & mask : t[s.base[l - 1] + x]) want |= 1ull << (x & 63);
      if (t[s.base[l] + wi] != want) return false;
    }
  }
  return true;
}


void bittree_set(uint64_t *t, const BitTreeShape &s, uint32_t x) {
  for (uint32_t l = 0; l < s.levels; l++) {
    uint64_t &w = t[s.base[l] + (x >> 6)];
    bool was = w != 0;
    w |= 1ull << (x & 63);
    if (was) return;
    x >>= 6;
  }
}


void bittree_clear(uint64_t *t, const BitTreeShape &s, uint32_t x) {
  for (uint32_t l = 0; l < s.levels; l++) {
    uint64_t &w = t[s.base[l] + (x >> 6)];
    w &= ~(1ull << (x & 63));
    if (w) return;
    x >>= 6;
  }
}


/* Up until a word has a set bit on the searched side, then down along the
** nearest set bits. */
uint32_t bittree_next(const uint64_t *t, const BitTreeShape &s, uint32_t x) {
  uint32_t l = 0;
  for (;;) {
    uint32_t wi = x >> 6;
    if (wi >= s.size[l]) return BITTREE_NONE;
    uint64_t m = t[s.base[l] + wi] & (~0ull << (x & 63));
    if (m) {
      x = (wi << 6) | (uint32_t)__builtin_ctzll(m);
      break;
    }
    if (++l == s.levels) return BITTREE_NONE;
    x = wi + 1;
  }
  while (l > 0) {
    l--;
    x = (x << 6) | (uint32_t)__builtin_ctzll(t[s.base[l] + x]);
  }
  return x;
}


uint32_t bittree_prev(const uint64_t *t, const BitTreeShape &s, uint32_t x) {
  uint32_t l = 0;
  for (;;) {
    uint32_t wi = x >> 6;
    uint64_t m = t[s.base[l] + wi] & (~0ull >> (63 - (x & 63)));
    if (m) {
      x = (wi << 6) | (63 - (uint32_t)__builtin_clzll(m));
      break;
    }
    if (wi == 0 || ++l == s.levels) return BITTREE_NONE;
    x = wi - 1;
  }
  while (l > 0) {
    l--;
    x = (x << 6) | (63 - (uint32_t)__builtin_clzll(t[s.base[l] + x]));
  }
  return x;
}
