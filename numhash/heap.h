// heap.h: the module's heap, with a seam that tests use to make it fail.
#ifndef NUMHASH_HEAP_H
#define NUMHASH_HEAP_H

#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#if defined(NUMHASH_HEAP_SEAM)

/* Test builds route every allocation of the module through these, which
** can fail the n-th allocation from now and count blocks still live. */
void *heap_malloc(size_t n);
void *heap_calloc(size_t count, size_t size);
void *heap_realloc(void *p, size_t n);
void heap_free(void *p);

/* The lookup aids beside each table (mapaccel.cpp) allocate through these,
** counted and failed apart from the table's own memory: a failure there
** never fails an operation, so it must not be mistaken for one that does.
** Live blocks are counted together. */
void *heap_cache_calloc(size_t count, size_t size);
void heap_cache_free(void *p);
void heap_cache_fail_at(unsigned long n);
unsigned long heap_cache_allocations(void);

/* Fail the n-th allocation from now (1 = the next one); 0 disarms. */
void heap_fail_at(unsigned long n);
/* Allocations made since the counter was last armed or reset. */
unsigned long heap_allocations(void);
/* Blocks allocated through the seam and not yet freed. */
long heap_live_blocks(void);

#else

static inline void *heap_malloc(size_t n) { return malloc(n); }
static inline void *heap_calloc(size_t c, size_t s) { return calloc(c, s); }
static inline void *heap_realloc(void *p, size_t n) { return realloc(p, n); }
static inline void heap_free(void *p) { free(p); }
static inline void *heap_cache_calloc(size_t c, size_t s) { return calloc(c, s); }
static inline void heap_cache_free(void *p) { free(p); }

#endif

/* A private copy of s up to its first zero byte, or null. */
static inline char *heap_strdup(const char *s) {
  size_t n = strlen(s) + 1;
  char *copy = (char *)heap_malloc(n);
  if (copy) memcpy(copy, s, n);
  return copy;
}

#endif
