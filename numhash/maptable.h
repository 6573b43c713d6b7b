// maptable.h: the open-addressing table from double keys to heap strings.
#ifndef NUMHASH_MAPTABLE_H
#define NUMHASH_MAPTABLE_H

#include <stdint.h>
#include <string.h>

#include "mapaccel.h"
#include "maprecord.h"

/* Results of maptable_put. */
enum MapPutStatus {
  MAPTABLE_NEW,      // an empty bucket was claimed
  MAPTABLE_REUSED,   // a deleted bucket was claimed
  MAPTABLE_PRESENT,  // the key was already live there
  MAPTABLE_FAILED,   // the rebuild it needed could not allocate
};

static inline uint32_t maptable_state(const MapTable *t, uint32_t i) {
  return maptable_state_in(t->flags, i);
}

static inline bool maptable_islive(const MapTable *t, uint32_t i) {
  return maptable_state(t, i) == MAPTABLE_LIVE;
}

/* The sizing rule: the capacity that a requested size gives, and its bound. */
uint32_t maptable_sizefor(uint32_t requested);
uint32_t maptable_limitfor(uint32_t capacity);

/* The home bucket: the two halves of the key's bit pattern XORed, masked. */
static inline uint32_t maptable_home(double key, uint32_t capacity) {
  uint64_t bits;
  memcpy(&bits, &key, sizeof bits);
  return ((uint32_t)bits ^ (uint32_t)(bits >> 32)) & (capacity - 1);
}

/* Starts loading the key and value slots of key's home bucket, where most
** keys sit, so that their cache misses overlap the caller's work before
** the put (the copy of the value).  Changes nothing. */
static inline void maptable_prefetch(const MapTable *t, double key) {
#if defined(__GNUC__)
  if (t->capacity == 0) return;
  uint32_t i = maptable_home(key, t->capacity);
  __builtin_prefetch(&t->keys[i]);
  __builtin_prefetch(&t->values[i]);
#else
  (void)t;
  (void)key;
#endif
}

/* The live bucket holding key, or MAPTABLE_ABSENT. */
uint32_t maptable_find(const MapTable *t, double key);

/* Finds or claims the bucket for key; *bucket is valid unless FAILED.
** For NEW and REUSED the caller stores the value before anything else
** reads the table. */
MapPutStatus maptable_put(MapTable *t, double key, uint32_t *bucket);

void maptable_erase(MapTable *t, uint32_t bucket);

/* false only for an allocation failure, which leaves the table unchanged. */
bool maptable_rehash(MapTable *t, uint32_t requested);

/* Marks every bucket empty, keeping the capacity and the arrays. */
void maptable_empty(MapTable *t);

/* Frees the arrays (not the strings) and leaves a table of capacity 0. */
void maptable_release(MapTable *t);

#endif
