// Trees and lists against the standard containers.
//
// OTM against std::set and OLM against std::list, with records of 16 and 64 bytes whose first eight
// bytes are the key, for 10^3 to 10^6 records. Both trees call the same compare function through a
// pointer the compiler cannot see through, so the comparison costs the same on both sides.
//
// Names are "<container>/<operation>/<record bytes>/<records>"; every benchmark reports items per
// second (one item = one record inserted, found, removed or visited). bench/ratios.py turns the JSON
// output into the table of docs/performance.md. With TESMAR_BENCH_SMOKE=1 only the small sizes run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <list>
#include <memory>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tesmar/tesmar.h"

namespace {

template <int Bytes>
struct Record {
  uint64_t key;
  unsigned char payload[Bytes - sizeof(uint64_t)];
};
static_assert(sizeof(Record<16>) == 16 && sizeof(Record<64>) == 64);

int compare_keys(const void *a, const void *b) {
  uint64_t x, y;
  std::memcpy(&x, a, sizeof x);
  std::memcpy(&y, b, sizeof y);
  return (x > y) - (x < y);
}

// The compare function, loaded so that neither container can inline it.
otm_CompareFn opaque_compare() {
  otm_CompareFn fn = compare_keys;
  benchmark::DoNotOptimize(fn);
  return fn;
}

template <int Bytes>
struct Less {
  otm_CompareFn fn;
  bool operator()(const Record<Bytes> &a, const Record<Bytes> &b) const { return fn(&a, &b) < 0; }
};

template <int Bytes>
using Set = std::set<Record<Bytes>, Less<Bytes>>;

// n records with distinct keys in random order (fixed seed), a second random order of the same
// records for removals, and a stream of lookups drawn at random from them. The stream is at least
// kMinLookups long: a short sequence repeated every iteration is learnt by the branch predictor,
// which then measures the predictor rather than the search.
constexpr std::size_t kMinLookups = std::size_t{1} << 17;

template <int Bytes>
struct Data {
  std::vector<Record<Bytes>> records;
  std::vector<Record<Bytes>> probes;
  std::vector<Record<Bytes>> lookups;
  explicit Data(int64_t n) {
    std::mt19937_64 rng(static_cast<uint64_t>(n) * 7919u + Bytes);
    std::vector<uint64_t> keys(static_cast<std::size_t>(n));
    std::iota(keys.begin(), keys.end(), uint64_t{0});
    std::shuffle(keys.begin(), keys.end(), rng);
    records.resize(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
      records[i].key = keys[i] * 0x9E3779B97F4A7C15u;
      std::memset(records[i].payload, static_cast<int>(i & 0xFF), sizeof records[i].payload);
    }
    probes = records;
    std::shuffle(probes.begin(), probes.end(), rng);
    std::uniform_int_distribution<std::size_t> pick(0, records.size() - 1);
    lookups.resize(std::max(records.size(), kMinLookups));
    for (auto &r : lookups) r = records[pick(rng)];
  }
};

otm_Tree *new_tree(int bytes) { return otm_CreateTree(0, bytes, opaque_compare(), 0); }

void finish(benchmark::State &state, int64_t n) {
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * n);
}

// ---- OTM against std::set ----

template <int Bytes>
void tree_insert(benchmark::State &state) {
  Data<Bytes> data(state.range(0));
  for (auto _ : state) {
    otm_Tree *tree = new_tree(Bytes);
    for (const auto &r : data.records) benchmark::DoNotOptimize(otm_AddObject(0, tree, &r));
    state.PauseTiming();
    otm_DeleteTree(0, tree);
    state.ResumeTiming();
  }
  finish(state, state.range(0));
}

template <int Bytes>
void set_insert(benchmark::State &state) {
  Data<Bytes> data(state.range(0));
  for (auto _ : state) {
    auto set = std::make_unique<Set<Bytes>>(Less<Bytes>{opaque_compare()});
    for (const auto &r : data.records) benchmark::DoNotOptimize(set->insert(r));
    state.PauseTiming();
    set.reset();
    state.ResumeTiming();
  }
  finish(state, state.range(0));
}

template <int Bytes>
void tree_find(benchmark::State &state) {
  Data<Bytes> data(state.range(0));
  otm_Tree *tree = new_tree(Bytes);
  for (const auto &r : data.records) otm_AddObject(0, tree, &r);
  for (auto _ : state)
    for (const auto &r : data.lookups) benchmark::DoNotOptimize(otm_GetObject(0, tree, &r));
  otm_DeleteTree(0, tree);
  finish(state, static_cast<int64_t>(data.lookups.size()));
}

template <int Bytes>
void set_find(benchmark::State &state) {
  Data<Bytes> data(state.range(0));
  Set<Bytes> set(Less<Bytes>{opaque_compare()});
  for (const auto &r : data.records) set.insert(r);
  for (auto _ : state)
    for (const auto &r : data.lookups) benchmark::DoNotOptimize(set.find(r));
  finish(state, static_cast<int64_t>(data.lookups.size()));
}

template <int Bytes>
void tree_remove(benchmark::State &state) {
  Data<Bytes> data(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    otm_Tree *tree = new_tree(Bytes);
    for (const auto &r : data.records) otm_AddObject(0, tree, &r);
    state.ResumeTiming();
    for (const auto &r : data.probes) benchmark::DoNotOptimize(otm_RemoveObject(0, tree, &r));
    state.PauseTiming();
    otm_DeleteTree(0, tree);
    state.ResumeTiming();
  }
  finish(state, state.range(0));
}

template <int Bytes>
void set_remove(benchmark::State &state) {
  Data<Bytes> data(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto set = std::make_unique<Set<Bytes>>(Less<Bytes>{opaque_compare()});
    for (const auto &r : data.records) set->insert(r);
    state.ResumeTiming();
    for (const auto &r : data.probes) benchmark::DoNotOptimize(set->erase(r));
    state.PauseTiming();
    set.reset();
    state.ResumeTiming();
  }
  finish(state, state.range(0));
}

template <int Bytes>
void tree_cycle(benchmark::State &state) {
  Data<Bytes> data(state.range(0));
  otm_Tree *tree = new_tree(Bytes);
  for (const auto &r : data.records) otm_AddObject(0, tree, &r);
  for (auto _ : state) {
    uint64_t sum = 0;
    while (void *r = otm_CycleTree(0, tree)) sum += static_cast<Record<Bytes> *>(r)->key;
    benchmark::DoNotOptimize(sum);
  }
  otm_DeleteTree(0, tree);
  finish(state, state.range(0));
}

template <int Bytes>
void set_cycle(benchmark::State &state) {
  Data<Bytes> data(state.range(0));
  Set<Bytes> set(Less<Bytes>{opaque_compare()});
  for (const auto &r : data.records) set.insert(r);
  for (auto _ : state) {
    uint64_t sum = 0;
    for (const auto &r : set) sum += r.key;
    benchmark::DoNotOptimize(sum);
  }
  finish(state, state.range(0));
}

// ---- OLM against std::list ----

// Nodes per block of the lists measured here.
constexpr int32_t kNodesPerBlock = 64;

template <int Bytes>
olm_List *new_list() {
  return olm_CreateList(0, Bytes, kNodesPerBlock, 0);
}

template <int Bytes>
void olm_append(benchmark::State &state) {
  Data<Bytes> data(state.range(0));
  for (auto _ : state) {
    olm_List *list = new_list<Bytes>();
    for (const auto &r : data.records) benchmark::DoNotOptimize(olm_AddObject(0, list, OLM_TAIL, &r));
    state.PauseTiming();
    olm_DeleteList(0, list);
    state.ResumeTiming();
  }
  finish(state, state.range(0));
}

template <int Bytes>
void list_append(benchmark::State &state) {
  Data<Bytes> data(state.range(0));
  for (auto _ : state) {
    auto list = std::make_unique<std::list<Record<Bytes>>>();
    for (const auto &r : data.records) list->push_back(r);
    benchmark::DoNotOptimize(list->back());
    state.PauseTiming();
    list.reset();
    state.ResumeTiming();
  }
  finish(state, state.range(0));
}

// Inserts every record before the cursor, which stands in the middle of a list of n records.
template <int Bytes>
void olm_insert(benchmark::State &state) {
  Data<Bytes> data(state.range(0));
  auto middle = static_cast<int32_t>(data.records.size() / 2);
  for (auto _ : state) {
    state.PauseTiming();
    olm_List *list = new_list<Bytes>();
    for (const auto &r : data.records) olm_AddObject(0, list, OLM_TAIL, &r);
    olm_GetObject(0, list, middle);
    state.ResumeTiming();
    for (const auto &r : data.probes)
      benchmark::DoNotOptimize(olm_AddObject(0, list, OLM_CURRENT, &r));
    state.PauseTiming();
    olm_DeleteList(0, list);
    state.ResumeTiming();
  }
  finish(state, state.range(0));
}

template <int Bytes>
void list_insert(benchmark::State &state) {
  Data<Bytes> data(state.range(0));
  auto middle = static_cast<std::ptrdiff_t>(data.records.size() / 2);
  for (auto _ : state) {
    state.PauseTiming();
    auto list = std::make_unique<std::list<Record<Bytes>>>(data.records.begin(), data.records.end());
    auto at = std::next(list->begin(), middle - 1);
    state.ResumeTiming();
    for (const auto &r : data.probes) at = list->insert(at, r);
    benchmark::DoNotOptimize(*at);
    state.PauseTiming();
    list.reset();
    state.ResumeTiming();
  }
  finish(state, state.range(0));
}

template <int Bytes>
void olm_iterate(benchmark::State &state) {
  Data<Bytes> data(state.range(0));
  olm_List *list = new_list<Bytes>();
  for (const auto &r : data.records) olm_AddObject(0, list, OLM_TAIL, &r);
  for (auto _ : state) {
    uint64_t sum = 0;
    while (void *r = olm_CycleList(0, list)) sum += static_cast<Record<Bytes> *>(r)->key;
    benchmark::DoNotOptimize(sum);
  }
  olm_DeleteList(0, list);
  finish(state, state.range(0));
}

template <int Bytes>
void list_iterate(benchmark::State &state) {
  Data<Bytes> data(state.range(0));
  std::list<Record<Bytes>> list(data.records.begin(), data.records.end());
  for (auto _ : state) {
    uint64_t sum = 0;
    for (const auto &r : list) sum += r.key;
    benchmark::DoNotOptimize(sum);
  }
  finish(state, state.range(0));
}

// Removes every record at the cursor, starting from the head.
template <int Bytes>
void olm_remove(benchmark::State &state) {
  Data<Bytes> data(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    olm_List *list = new_list<Bytes>();
    for (const auto &r : data.records) olm_AddObject(0, list, OLM_TAIL, &r);
    olm_GetObject(0, list, OLM_HEAD);
    state.ResumeTiming();
    for (std::size_t i = 0; i < data.records.size(); ++i)
      benchmark::DoNotOptimize(olm_RemoveObject(0, list, OLM_CURRENT));
    state.PauseTiming();
    olm_DeleteList(0, list);
    state.ResumeTiming();
  }
  finish(state, state.range(0));
}

template <int Bytes>
void list_remove(benchmark::State &state) {
  Data<Bytes> data(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto list = std::make_unique<std::list<Record<Bytes>>>(data.records.begin(), data.records.end());
    state.ResumeTiming();
    for (auto at = list->begin(); at != list->end();) at = list->erase(at);
    benchmark::DoNotOptimize(list->size());
    state.PauseTiming();
    list.reset();
    state.ResumeTiming();
  }
  finish(state, state.range(0));
}

using Fn = void (*)(benchmark::State &);

struct Pair {
  const char *operation;
  Fn ours16, peer16, ours64, peer64;
};

void register_all() {
  const char *smoke = std::getenv("TESMAR_BENCH_SMOKE");
  bool quick = smoke != nullptr && *smoke != '\0' && std::strcmp(smoke, "0") != 0;
  std::vector<int64_t> sizes = quick ? std::vector<int64_t>{1000}
                                     : std::vector<int64_t>{1000, 10000, 100000, 1000000};
  const Pair trees[] = {
      {"insert", tree_insert<16>, set_insert<16>, tree_insert<64>, set_insert<64>},
      {"find", tree_find<16>, set_find<16>, tree_find<64>, set_find<64>},
      {"remove", tree_remove<16>, set_remove<16>, tree_remove<64>, set_remove<64>},
      {"cycle", tree_cycle<16>, set_cycle<16>, tree_cycle<64>, set_cycle<64>},
  };
  const Pair lists[] = {
      {"append", olm_append<16>, list_append<16>, olm_append<64>, list_append<64>},
      {"insert", olm_insert<16>, list_insert<16>, olm_insert<64>, list_insert<64>},
      {"iterate", olm_iterate<16>, list_iterate<16>, olm_iterate<64>, list_iterate<64>},
      {"remove", olm_remove<16>, list_remove<16>, olm_remove<64>, list_remove<64>},
  };
  auto add = [&](const char *ours, const char *peer, const Pair &p) {
    for (int bytes : {16, 64}) {
      for (int64_t n : sizes) {
        // Google Benchmark appends "/<records>" for the argument.
        std::string tail = std::string("/") + p.operation + "/" + std::to_string(bytes);
        benchmark::RegisterBenchmark((ours + tail).c_str(), bytes == 16 ? p.ours16 : p.ours64)
            ->Arg(n);
        benchmark::RegisterBenchmark((peer + tail).c_str(), bytes == 16 ? p.peer16 : p.peer64)
            ->Arg(n);
      }
    }
  };
  for (const Pair &p : trees) add("otm", "std::set", p);
  for (const Pair &p : lists) add("olm", "std::list", p);
}

}  // namespace

int main(int argc, char **argv) {
  tmx_Initialize(0);
  register_all();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  tmx_Terminate(0);
  return 0;
}
