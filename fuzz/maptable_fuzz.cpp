// maptable_fuzz.cpp: the table core driven by operation sequences.
//
// Every input is a program of puts, finds, erases, rehashes and armed heap
// failures.  After each step the table is compared with two models: a plain
// multimap of what it must hold (NaN keys in a list of their own, since
// they equal nothing), and a bucket-by-bucket replay of the placement rules
// on unpacked arrays, which pins the layout that scripts see as iteration
// order.  The core's invariants are checked on the table itself: count <=
// occupied <= grow_limit < capacity, every live key reachable from its home
// along its triangular probe sequence before any empty bucket, no two live
// buckets with equal keys.  A step that meets an armed failure must leave
// the table exactly as it was, except for the trimming of arrays after a
// shrink, which may fail silently.  At the end every block is freed and the
// seam must count none live.
//
// The input also picks how soon walks hand over to the lookup aids (from
// the first step, or never) and may fail their allocations, which must
// change no result: the placement model is the plain rules alone.  Their
// bit trees must be exactly what the flag array gives after every step.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <vector>

#include "heap.h"
#include "maptable.h"

#define CHECK(c) ((c) ? (void)0 : fail(#c, __LINE__))

[[noreturn]] static void fail(const char *what, int line) {
  fprintf(stderr, "maptable_fuzz: check failed at line %d: %s\n", line, what);
  abort();
}


/* ------------------------------------------------------------------------
** Input
** --------------------------------------------------------------------- */

namespace {

struct Input {
  const uint8_t *p;
  size_t n;

  bool more() const { return n > 0; }
  uint8_t byte() {
    if (n == 0) return 0;
    n--;
    return *p++;
  }
  uint64_t bits() {
    uint64_t v = 0;
    for (int i = 0; i < 8; i++) v |= (uint64_t)byte() << (8 * i);
    return v;
  }
};


double frombits(uint64_t b) {
  double d;
  memcpy(&d, &b, sizeof d);
  return d;
}


uint64_t tobits(double d) {
  uint64_t b;
  memcpy(&b, &d, sizeof b);
  return b;
}


/* ------------------------------------------------------------------------
** The placement model: the rules replayed on plain arrays
** --------------------------------------------------------------------- */

enum : uint8_t { LIVE = 0, DELETED = 1, EMPTY = 2 };

struct Ref {
  uint32_t cap = 0, count = 0, occupied = 0, limit = 0;
  std::vector<uint8_t> st;
  std::vector<double> keys;
  std::vector<uint64_t> vals;  // serial numbers of the stored strings
};


uint32_t ref_sizefor(uint32_t r) {
  uint64_t n = 1;
  while (n < r) n <<= 1;
  if (r == 0 || r > 0x80000000u) n = 0;  // the bit trick wraps to 0 here
  return n < 4 ? 4 : (uint32_t)n;
}


uint32_t ref_home(double key, uint32_t cap) {
  uint64_t b = tobits(key);
  return ((uint32_t)b ^ (uint32_t)(b >> 32)) & (cap - 1);
}


uint32_t ref_find(const Ref &r, double key) {
  if (r.cap == 0) return MAPTABLE_ABSENT;
  uint32_t i = ref_home(key, r.cap), start = i;
  for (uint32_t step = 1;; step++) {
    if (r.st[i] == EMPTY) return MAPTABLE_ABSENT;
    if (r.st[i] == LIVE && r.keys[i] == key) return i;
    i = (i + step) & (r.cap - 1);
    if (i == start) return MAPTABLE_ABSENT;
  }
}


void ref_rehash(Ref &r, uint32_t requested) {
  uint32_t ncap = ref_sizefor(requested);
  uint32_t limit = (uint32_t)(ncap * 0.77 + 0.5);
  if (r.count >= limit) return;
  uint32_t oldcap = r.cap;
  std::vector<uint8_t> old = r.st, nst(ncap, EMPTY);
  if (ncap > oldcap) {
    r.keys.resize(ncap);
    r.vals.resize(ncap);
  }
  for (uint32_t j = 0; j < oldcap; j++) {
    if (old[j] != LIVE) continue;
    double key = r.keys[j];
    uint64_t val = r.vals[j];
    old[j] = DELETED;
    for (;;) {
      uint32_t i = ref_home(key, ncap);
      for (uint32_t step = 1; nst[i] != EMPTY; step++) i = (i + step) & (ncap - 1);
      nst[i] = LIVE;
      if (i < oldcap && old[i] == LIVE) {
        std::swap(key, r.keys[i]);
        std::swap(val, r.vals[i]);
        old[i] = DELETED;
        continue;
      }
      r.keys[i] = key;
      r.vals[i] = val;
      break;
    }
  }
  r.keys.resize(ncap);
  r.vals.resize(ncap);
  r.st = nst;
  r.cap = ncap;
  r.occupied = r.count;
  r.limit = limit;
}


MapPutStatus ref_put(Ref &r, double key, uint32_t *bucket) {
  if (r.occupied >= r.limit)
    ref_rehash(r, (uint64_t)r.cap > 2ull * r.count ? r.cap - 1 : r.cap + 1);
  uint32_t i = ref_home(key, r.cap), site = MAPTABLE_ABSENT;
  for (uint32_t step = 1; r.st[i] != EMPTY && (r.st[i] == DELETED || r.keys[i] != key); step++) {
    if (r.st[i] == DELETED) site = i;
    i = (i + step) & (r.cap - 1);
  }
  *bucket = i;
  if (r.st[i] == LIVE) return MAPTABLE_PRESENT;
  if (site != MAPTABLE_ABSENT) *bucket = site;
  MapPutStatus s = r.st[*bucket] == EMPTY ? MAPTABLE_NEW : MAPTABLE_REUSED;
  r.keys[*bucket] = key;
  r.st[*bucket] = LIVE;
  r.count++;
  if (s == MAPTABLE_NEW) r.occupied++;
  return s;
}


/* ------------------------------------------------------------------------
** The content model, and the run
** --------------------------------------------------------------------- */

struct Entry {
  uint64_t keybits;  // as first stored: a zero keeps its sign
  uint64_t val;
};

struct Run {
  MapTable t{};
  Ref ref;
  std::map<double, Entry> entries;   // -0.0 and +0.0 are one key here too
  std::multimap<uint64_t, int> nans;  // value serial of each NaN entry
  uint64_t serial = 0;
  unsigned long failat = 0;          // armed failure, counted from arming
};


char *makevalue(uint64_t serial) {
  char *s = (char *)malloc(24);
  snprintf(s, 24, "v%llu", (unsigned long long)serial);
  return s;
}


uint64_t valueof(const char *s) {
  CHECK(s != nullptr && s[0] == 'v');
  return strtoull(s + 1, nullptr, 10);
}


uint32_t state(const MapTable &t, uint32_t i) {
  return (t.flags[i >> 4] >> ((i & 15u) << 1)) & 3u;
}


/* The core's invariants, the placement model and the content model, all
** against the table as it is now. */
void verify(const Run &r) {
  const MapTable &t = r.t;
  const Ref &ref = r.ref;
  CHECK(t.capacity == ref.cap);
  CHECK(t.count == ref.count);
  CHECK(t.occupied == ref.occupied);
  CHECK(t.grow_limit == ref.limit);
  if (t.capacity == 0) {
    CHECK(t.count == 0 && t.occupied == 0 && t.grow_limit == 0);
    CHECK(r.entries.empty() && r.nans.empty());
    return;
  }
  CHECK(t.capacity >= 4 && (t.capacity & (t.capacity - 1)) == 0);
  CHECK(t.grow_limit == (uint32_t)(((uint64_t)t.capacity * 77 + 50) / 100));
  CHECK(t.count <= t.occupied && t.occupied <= t.grow_limit && t.grow_limit < t.capacity);
  if (t.capacity < 16) {  // the unused bits of the one word keep the fill
    uint32_t used = maptable_usedbits(t.capacity);
    CHECK((t.flags[0] & ~used) == (MAPTABLE_EMPTY_BITS & ~used));
  }

  uint32_t live = 0, nonempty = 0;
  std::map<double, Entry> seen;
  std::multimap<uint64_t, int> nans;
  for (uint32_t i = 0; i < t.capacity; i++) {
    uint32_t s = state(t, i);
    CHECK(s != 3);
    CHECK(s == ref.st[i]);
    if (s != EMPTY) nonempty++;
    if (s != LIVE) continue;
    live++;
    double key = t.keys[i];
    uint64_t val = valueof(t.values[i]);
    CHECK(tobits(key) == tobits(ref.keys[i]));
    CHECK(val == ref.vals[i]);
    // Reachable from home before any empty bucket.
    uint32_t j = maptable_home(key, t.capacity), steps = 0;
    while (j != i) {
      CHECK(state(t, j) != EMPTY);
      CHECK(++steps < t.capacity);
      j = (j + steps) & (t.capacity - 1);
    }
    if (key != key) {
      nans.insert({val, 0});
      CHECK(maptable_find(&t, key) == MAPTABLE_ABSENT);
      continue;
    }
    CHECK(seen.find(key) == seen.end());  // no two live buckets, equal keys
    seen[key] = Entry{tobits(key), val};
    CHECK(maptable_find(&t, key) == i);
  }
  CHECK(live == t.count);
  CHECK(nonempty == t.occupied);
  CHECK(mapaccel_trees_exact(&t));

  CHECK(seen.size() == r.entries.size());
  for (const auto &[key, e] : r.entries) {
    auto it = seen.find(key);
    CHECK(it != seen.end());
    CHECK(it->second.keybits == e.keybits);
    CHECK(it->second.val == e.val);
  }
  CHECK(nans.size() == r.nans.size());
  for (auto a = nans.cbegin(), b = r.nans.cbegin(); a != nans.cend(); ++a, ++b)
    CHECK(a->first == b->first);
}


/* What a failed step must not have changed. */
struct Snapshot {
  uint32_t capacity, count, occupied, grow_limit;
  uint32_t *flags;
  std::vector<uint32_t> words;
  std::vector<std::pair<uint64_t, char *>> live;
};


Snapshot snap(const MapTable &t) {
  Snapshot s{t.capacity, t.count, t.occupied, t.grow_limit, t.flags, {}, {}};
  if (t.capacity == 0) return s;
  s.words.assign(t.flags, t.flags + maptable_flagwords(t.capacity));
  for (uint32_t i = 0; i < t.capacity; i++)
    if (state(t, i) == LIVE) s.live.push_back({tobits(t.keys[i]), t.values[i]});
  return s;
}


void unchanged(const Snapshot &s, const MapTable &t) {
  CHECK(t.capacity == s.capacity && t.count == s.count);
  CHECK(t.occupied == s.occupied && t.grow_limit == s.grow_limit);
  CHECK(t.flags == s.flags);
  Snapshot now = snap(t);
  CHECK(now.words == s.words);
  CHECK(now.live == s.live);
}


double pickkey(Run &r, Input &in) {
  static const double special[] = {
      0.0, -0.0, __builtin_nan(""), -__builtin_nan(""), __builtin_inf(), -__builtin_inf(),
      9007199254740992.0, 1e-310, 0.5, -1.5, 1024.0, 2048.0, 65536.0, 4294967296.0};
  uint8_t tag = in.byte();
  switch (tag % 4) {
    case 0:
      return (double)(int8_t)in.byte();  // small integers: all home 0
    case 1:
      return frombits(in.bits());
    case 2:
      if (!r.entries.empty()) {
        auto it = r.entries.begin();
        std::advance(it, in.byte() % r.entries.size());
        return frombits(it->second.keybits);
      }
      [[fallthrough]];
    default:
      return special[in.byte() % (sizeof special / sizeof special[0])];
  }
}


/* Where the armed failure fell: 0 when not in [before, after). */
unsigned long failed_at(const Run &r, unsigned long before) {
  unsigned long after = heap_allocations();
  if (r.failat == 0 || before >= r.failat || after < r.failat) return 0;
  return r.failat - before;
}


void put(Run &r, double key) {
  Snapshot s = snap(r.t);
  unsigned long before = heap_allocations();
  uint32_t b = MAPTABLE_ABSENT;
  MapPutStatus st = maptable_put(&r.t, key, &b);
  unsigned long nth = failed_at(r, before);
  if (nth) {
    CHECK(st == MAPTABLE_FAILED);
    unchanged(s, r.t);
    return;
  }
  CHECK(st != MAPTABLE_FAILED);
  uint32_t rb;
  MapPutStatus rst = ref_put(r.ref, key, &rb);
  CHECK(st == rst);
  CHECK(b == rb);
  CHECK(b < r.t.capacity && tobits(r.t.keys[b]) == tobits(r.ref.keys[b]));
  uint64_t v = ++r.serial;
  if (st == MAPTABLE_PRESENT) free(r.t.values[b]);
  r.t.values[b] = makevalue(v);
  r.ref.vals[b] = v;
  if (key != key) {
    CHECK(st != MAPTABLE_PRESENT);
    r.nans.insert({v, 0});
  } else if (st == MAPTABLE_PRESENT) {
    CHECK(r.entries.count(key));
    r.entries[key].val = v;
  } else {
    CHECK(!r.entries.count(key));
    r.entries[key] = Entry{tobits(key), v};
  }
}


void erase_key(Run &r, double key) {
  uint32_t b = maptable_find(&r.t, key);
  CHECK(b == ref_find(r.ref, key));
  auto it = key == key ? r.entries.find(key) : r.entries.end();
  CHECK((b != MAPTABLE_ABSENT) == (it != r.entries.end()));
  if (b == MAPTABLE_ABSENT) return;
  CHECK(valueof(r.t.values[b]) == it->second.val);
  free(r.t.values[b]);
  maptable_erase(&r.t, b);
  r.ref.st[b] = DELETED;
  r.ref.count--;
  r.entries.erase(it);
}


/* maptable_erase on any bucket: a live one is removed, others stay. */
void erase_bucket(Run &r, uint32_t b) {
  if (r.t.capacity == 0) return;
  b %= r.t.capacity;
  if (state(r.t, b) != LIVE) {
    Snapshot s = snap(r.t);
    maptable_erase(&r.t, b);
    unchanged(s, r.t);
    return;
  }
  double key = r.t.keys[b];
  uint64_t v = valueof(r.t.values[b]);
  free(r.t.values[b]);
  maptable_erase(&r.t, b);
  r.ref.st[b] = DELETED;
  r.ref.count--;
  if (key != key) {
    auto it = r.nans.find(v);
    CHECK(it != r.nans.end());
    r.nans.erase(it);
  } else {
    r.entries.erase(key);
  }
}


void rehash(Run &r, uint32_t requested) {
  Snapshot s = snap(r.t);
  uint32_t oldcap = r.t.capacity;
  uint32_t ncap = ref_sizefor(requested);
  bool nochange = r.t.count >= (uint32_t)(ncap * 0.77 + 0.5);
  unsigned long before = heap_allocations();
  bool ok = maptable_rehash(&r.t, requested);
  unsigned long made = heap_allocations() - before;
  unsigned long nth = failed_at(r, before);
  // In place: the flag array, and at most a resize of each other array.
  CHECK(made <= 3);
  if (nochange) CHECK(made == 0);
  if (ncap == oldcap && !nochange) CHECK(made == 1);
  if (nth && (nth == 1 || ncap > oldcap)) {
    CHECK(!ok);
    unchanged(s, r.t);
    return;
  }
  CHECK(ok);  // a failed trim after a shrink keeps the larger arrays
  ref_rehash(r.ref, requested);
}


/* Emptying in place, as cleanse does. */
void empty(Run &r) {
  for (uint32_t i = 0; i < r.t.capacity; i++)
    if (state(r.t, i) == LIVE) free(r.t.values[i]);
  maptable_empty(&r.t);
  std::fill(r.ref.st.begin(), r.ref.st.end(), EMPTY);
  r.ref.count = r.ref.occupied = 0;
  r.entries.clear();
  r.nans.clear();
}


void release(Run &r) {
  heap_fail_at(0);
  heap_cache_fail_at(0);
  for (uint32_t i = 0; i < r.t.capacity; i++)
    if (state(r.t, i) == LIVE) free(r.t.values[i]);
  maptable_release(&r.t);
  CHECK(heap_live_blocks() == 0);
}

}  // namespace


extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Input in{data, size};
  Run r;
  heap_fail_at(0);
  heap_cache_fail_at(0);
  CHECK(heap_live_blocks() == 0);
  static const uint32_t farsteps[] = {1, 2, 3, 5, 8, 32, MAPACCEL_PLAIN, 0};
  static const uint32_t allshare[] = {0, 1, 8, 1000};
  uint8_t first = in.byte();
  mapaccel_tune({farsteps[(first >> 1) & 7], allshare[(first >> 4) & 3], (uint32_t)(first >> 6) & 1});
  if (first & 1) {  // a table sized at creation, as new does
    uint8_t sz = in.byte();
    rehash(r, sz);
    verify(r);
  }
  while (in.more()) {
    uint8_t op = in.byte();
    switch (op % 8) {
      case 0:
      case 1:
      case 2:
        put(r, pickkey(r, in));
        break;
      case 3:
        erase_key(r, pickkey(r, in));
        break;
      case 4: {
        double key = pickkey(r, in);
        uint32_t b = maptable_find(&r.t, key);
        CHECK(b == ref_find(r.ref, key));
        break;
      }
      case 5: {
        // Sizes up to 4096 buckets, and those that wrap to 4.
        static const uint32_t wrapping[] = {0, 0x80000001u, 0xFFFFFFFFu};
        uint8_t b = in.byte();
        uint32_t req = b < 240 ? (uint32_t)in.byte() << (b % 5) : wrapping[b % 3];
        rehash(r, req);
        break;
      }
      case 6:
        if (op & 0x80)
          empty(r);
        else
          rehash(r, r.t.count);  // a shrink, as a purge asks for it
        break;
      case 7:
        if (op & 0x80) {
          erase_bucket(r, in.byte());
        } else if (op & 0x40) {
          heap_cache_fail_at(1 + in.byte() % 8);  // the aids' memory: no result changes
        } else {
          r.failat = 1 + in.byte() % 4;
          heap_fail_at(r.failat);
        }
        break;
    }
    verify(r);
  }
  release(r);
  return 0;
}
