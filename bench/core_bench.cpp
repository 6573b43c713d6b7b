// core_bench.cpp: the table core against general-purpose hash maps.
//
// Every map holds the same data: double keys and short string values.  The
// core keeps heap copies of its values, as the module does (copied before
// the put, freed on replace and erase); the peers hold std::string.  Each
// benchmark reports ns_per_op, the time of one operation in a batch of n
// (or more, for small n), and the insert benchmarks also bytes_per_entry:
// the heap in use after building a map of n entries (malloc chunk sizes and
// mapped blocks, so allocator overhead counts) divided by n.
//
// Names are "op/keys/n/map", which the report script splits.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include <absl/container/flat_hash_map.h>
#include <boost/unordered/unordered_flat_map.hpp>

#include "heap.h"
#include "maptable.h"

namespace {

/* ------------------------------------------------------------------------
** Data
** --------------------------------------------------------------------- */

enum Keys { RANDOM, SEQUENTIAL, STRIDE };
const char *const key_names[] = {"random", "sequential", "stride"};

/* Integers this far apart have set bits in both halves of their pattern. */
constexpr double STRIDE_STEP = 1000003.0;

struct Data {
  std::vector<double> keys;     // insertion order
  std::vector<double> lookups;  // the same keys, shuffled
  std::vector<double> misses;   // as many keys that are not in the map, shuffled
  std::vector<std::string> values;
};


const Data &data(Keys kind, size_t n) {
  static std::map<std::pair<int, size_t>, Data> cache;
  auto [it, fresh] = cache.try_emplace({kind, n});
  Data &d = it->second;
  if (!fresh) return d;
  std::mt19937_64 rng(12345 + n * 3 + kind);
  if (kind == RANDOM) {
    std::uniform_real_distribution<double> dist(-1e9, 1e9);
    std::unordered_set<double> seen;
    while (d.keys.size() < n) {
      double k = dist(rng);
      if (seen.insert(k).second) d.keys.push_back(k);
    }
    while (d.misses.size() < n) {
      double k = dist(rng);
      if (!seen.count(k)) d.misses.push_back(k);
    }
  } else {
    double step = kind == SEQUENTIAL ? 1.0 : STRIDE_STEP;
    for (size_t i = 1; i <= n; i++) {
      d.keys.push_back(step * (double)i);
      d.misses.push_back(step * (double)(n + i));
    }
  }
  d.lookups = d.keys;
  std::shuffle(d.lookups.begin(), d.lookups.end(), rng);
  std::shuffle(d.misses.begin(), d.misses.end(), rng);
  char buf[32];
  for (size_t i = 0; i < n; i++) {
    snprintf(buf, sizeof buf, "value%07zu", i);
    d.values.emplace_back(buf);
  }
  return d;
}


size_t heap_in_use() {
  struct mallinfo2 mi = mallinfo2();
  return mi.uordblks + mi.hblkhd;
}


/* ------------------------------------------------------------------------
** The maps, behind one face
** --------------------------------------------------------------------- */

/* The core as the module drives it: made with new's default size 8;
** insert and erase take the steps of include and purge. */
struct Core {
  MapTable t{};

  Core() { maptable_rehash(&t, 8); }

  ~Core() {
    for (uint32_t i = 0; i < t.capacity; i++)
      if (maptable_islive(&t, i)) heap_free(t.values[i]);
    heap_free(t.keys);
    heap_free(t.flags);
    heap_free(t.values);
  }

  void insert(double k, const std::string &v) {
    maptable_prefetch(&t, k);
    char *copy = heap_strdup(v.c_str());
    uint32_t b;
    MapPutStatus s = maptable_put(&t, k, &b);
    if (s == MAPTABLE_FAILED) abort();
    if (s == MAPTABLE_PRESENT) heap_free(t.values[b]);
    t.values[b] = copy;
  }

  bool find(double k) const { return maptable_find(&t, k) != MAPTABLE_ABSENT; }

  void erase(double k) {
    uint32_t b = maptable_find(&t, k);
    if (b == MAPTABLE_ABSENT) return;
    heap_free(t.values[b]);
    maptable_erase(&t, b);
  }

  template <class F>
  void each(F f) const {
    for (uint32_t i = 0; i < t.capacity; i++)
      if (maptable_islive(&t, i)) f(t.keys[i], t.values[i]);
  }
};


template <class M>
struct Peer {
  M m;

  void insert(double k, const std::string &v) { m.insert_or_assign(k, v.c_str()); }
  bool find(double k) const { return m.find(k) != m.end(); }
  void erase(double k) { m.erase(k); }

  template <class F>
  void each(F f) const {
    for (const auto &p : m) f(p.first, p.second.data());
  }
};

using Std = Peer<std::unordered_map<double, std::string>>;
using Absl = Peer<absl::flat_hash_map<double, std::string>>;
using Boost = Peer<boost::unordered_flat_map<double, std::string>>;


/* ------------------------------------------------------------------------
** Workloads
** --------------------------------------------------------------------- */

/* Small maps are built and torn down several at a time, so that pausing
** the timer costs little against the work timed. */
size_t batch_for(size_t n) { return std::max<size_t>(1, 100000 / n); }


/* Every run carries every counter (the CSV output needs one column set);
** those that do not apply stay 0. */
void report(benchmark::State &st, double ops) {
  for (const char *name : {"bytes_per_entry", "probes", "compares"})
    if (!st.counters.count(name)) st.counters[name] = 0;
  st.counters["ns_per_op"] = benchmark::Counter(
      ops * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}


template <class Map>
std::vector<Map *> build(const Data &d, size_t count) {
  std::vector<Map *> maps;
  for (size_t j = 0; j < count; j++) {
    Map *m = new Map;
    for (size_t i = 0; i < d.keys.size(); i++) m->insert(d.keys[i], d.values[i]);
    maps.push_back(m);
  }
  return maps;
}


/* Also hands the freed blocks back to the allocator's main lists, so that
** the next timed round does not pay for consolidating this one's frees. */
template <class Map>
void destroy(std::vector<Map *> &maps) {
  for (Map *m : maps) delete m;
  maps.clear();
  malloc_trim(0);
}


template <class Map>
void bm_insert(benchmark::State &st, Keys kind, size_t n) {
  const Data &d = data(kind, n);
  const size_t batch = batch_for(n);
  std::vector<Map *> maps;
  for (auto _ : st) {
    maps = build<Map>(d, batch);
    benchmark::ClobberMemory();
    st.PauseTiming();
    destroy(maps);
    st.ResumeTiming();
  }
  report(st, (double)(n * batch));
  size_t before = heap_in_use();
  maps = build<Map>(d, 1);
  st.counters["bytes_per_entry"] = (double)(heap_in_use() - before) / (double)n;
  destroy(maps);
}


/* Buckets visited and keys compared per find, walking each key's probe
** sequence as maptable_find does: what clustering costs the core. */
void probe_counters(benchmark::State &st, const MapTable &t, const std::vector<double> &keys) {
  double probes = 0, compares = 0;
  const uint32_t mask = t.capacity - 1;
  for (double k : keys) {
    uint32_t i = maptable_home(k, t.capacity), step = 0;
    for (;;) {
      probes++;
      uint32_t s = maptable_state(&t, i);
      if (s == MAPTABLE_EMPTY) break;
      if (s == MAPTABLE_LIVE) {
        compares++;
        if (t.keys[i] == k) break;
      }
      i = (i + ++step) & mask;
    }
  }
  st.counters["probes"] = probes / (double)keys.size();
  st.counters["compares"] = compares / (double)keys.size();
}

template <class Map>
void find_all(benchmark::State &st, const Data &d, const std::vector<double> &keys) {
  std::vector<Map *> maps = build<Map>(d, 1);
  const Map &m = *maps[0];
  for (auto _ : st)
    for (double k : keys) benchmark::DoNotOptimize(m.find(k));
  report(st, (double)keys.size());
  if constexpr (std::is_same_v<Map, Core>) probe_counters(st, m.t, keys);
  destroy(maps);
}


template <class Map>
void bm_findhit(benchmark::State &st, Keys kind, size_t n) {
  const Data &d = data(kind, n);
  find_all<Map>(st, d, d.lookups);
}


template <class Map>
void bm_findmiss(benchmark::State &st, Keys kind, size_t n) {
  const Data &d = data(kind, n);
  find_all<Map>(st, d, d.misses);
}


template <class Map>
void bm_erase(benchmark::State &st, Keys kind, size_t n) {
  const Data &d = data(kind, n);
  const size_t batch = batch_for(n);
  std::vector<Map *> maps;
  for (auto _ : st) {
    st.PauseTiming();
    maps = build<Map>(d, batch);
    st.ResumeTiming();
    for (Map *m : maps)
      for (double k : d.lookups) m->erase(k);
    benchmark::ClobberMemory();
    st.PauseTiming();
    destroy(maps);
    st.ResumeTiming();
  }
  report(st, (double)(n * batch));
}


template <class Map>
void bm_iterate(benchmark::State &st, Keys kind, size_t n) {
  const Data &d = data(kind, n);
  std::vector<Map *> maps = build<Map>(d, 1);
  const Map &m = *maps[0];
  for (auto _ : st) {
    double sum = 0;
    m.each([&](double k, const char *v) { sum += k + (unsigned char)v[0]; });
    benchmark::DoNotOptimize(sum);
  }
  report(st, (double)n);
  destroy(maps);
}


template <class Map>
void register_map(const char *map, Keys kind, size_t n) {
  using Fn = void (*)(benchmark::State &, Keys, size_t);
  static const std::pair<const char *, Fn> ops[] = {
      {"insert", bm_insert<Map>},   {"findhit", bm_findhit<Map>},
      {"findmiss", bm_findmiss<Map>}, {"erase", bm_erase<Map>},
      {"iterate", bm_iterate<Map>},
  };
  for (const auto &[op, fn] : ops) {
    std::string name = std::string(op) + "/" + key_names[kind] + "/" + std::to_string(n) + "/" + map;
    benchmark::RegisterBenchmark(name.c_str(), fn, kind, n)->UseRealTime();
  }
}

}  // namespace


int main(int argc, char **argv) {
  for (size_t n : {size_t(1000), size_t(100000), size_t(1000000)}) {
    for (Keys kind : {RANDOM, SEQUENTIAL, STRIDE}) {
      register_map<Core>("core", kind, n);
      register_map<Std>("std", kind, n);
      register_map<Absl>("absl", kind, n);
      register_map<Boost>("boost", kind, n);
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
