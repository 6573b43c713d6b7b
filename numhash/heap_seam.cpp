// heap_seam.cpp: failing and counting heap for test builds of the module.
#include "heap.h"

#include <stdint.h>

/* Blocks carry a small header so that frees can be counted and realloc
** keeps working on the original pointer. */
namespace {
struct Seam {
  unsigned long fail_at;   // allocation number that fails; 0 = none
  unsigned long made;      // allocations attempted since armed
  long live;               // blocks not yet freed
  unsigned long cache_fail_at, cache_made;  // the same for the cache heap
};
Seam seam;
constexpr size_t HEADER = 16;  // keeps doubles aligned

bool should_fail() {
  seam.made++;
  return seam.fail_at != 0 && seam.made == seam.fail_at;
}
}  // namespace


void heap_fail_at(unsigned long n) {
  seam.fail_at = n;
  seam.made = 0;
}


unsigned long heap_allocations(void) { return seam.made; }


long heap_live_blocks(void) { return seam.live; }


void *heap_malloc(size_t n) {
  if (should_fail() || n > SIZE_MAX - HEADER) return nullptr;
  char *p = (char *)malloc(n + HEADER);
  if (!p) return nullptr;
  seam.live++;
  return p + HEADER;
}


void *heap_calloc(size_t count, size_t size) {
  if (size != 0 && count > (SIZE_MAX - HEADER) / size) return nullptr;
  void *p = heap_malloc(count * size);
  if (p) memset(p, 0, count * size);
  return p;
}


void *heap_realloc(void *p, size_t n) {
  if (!p) return heap_malloc(n);
  if (should_fail() || n > SIZE_MAX - HEADER) return nullptr;
  char *q = (char *)realloc((char *)p - HEADER, n + HEADER);
  return q ? q + HEADER : nullptr;
}


void heap_free(void *p) {
  if (!p) return;
  seam.live--;
  free((char *)p - HEADER);
}


void heap_cache_fail_at(unsigned long n) {
  seam.cache_fail_at = n;
  seam.cache_made = 0;
}


unsigned long heap_cache_allocations(void) { return seam.cache_made; }


void *heap_cache_calloc(size_t count, size_t size) {
  seam.cache_made++;
  if (seam.cache_fail_at != 0 && seam.cache_made == seam.cache_fail_at) return nullptr;
  if (size != 0 && count > (SIZE_MAX - HEADER) / size) return nullptr;
  char *p = (char *)calloc(1, count * size + HEADER);
  if (!p) return nullptr;
  seam.live++;
  return p + HEADER;
}


void heap_cache_free(void *p) { heap_free(p); }
