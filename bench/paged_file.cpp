// The paged file against its peers:
//  - 4 KiB transfers, sequential and random, through the page buffers (16 and 256 of them) against
//    raw pread/pwrite on the same file;
//  - allocation from a free list of 10^3 .. 10^5 blocks of mixed sizes, against walking that list
//    from its head (what first fit costs without the index).
// TESMAR_BENCH_SMOKE=1 shrinks the file and the lists for a quick run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tesmar/tesmar.h"

namespace {

bool smoke() {
  const char *v = std::getenv("TESMAR_BENCH_SMOKE");
  return v != nullptr && v[0] == '1';
}

constexpr int64_t kTransfer = 4096;

int64_t file_size() { return smoke() ? (4 << 20) : (64 << 20); }

std::string scratch_name(const char *what) {
  const char *base = std::getenv("TMPDIR");
  return std::string(base != nullptr && *base ? base : "/tmp") + "/tesmar-bench-" + what + "-" +
         std::to_string(getpid());
}

// The file every transfer benchmark uses, written once.
const std::string &data_file() {
  static std::string name = [] {
    std::string n = scratch_name("data");
    int fd = open(n.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    std::vector<char> chunk(1 << 20, 'p');
    for (int64_t done = 0; done < file_size(); done += static_cast<int64_t>(chunk.size()))
      if (write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size())) std::abort();
    close(fd);
    return n;
  }();
  return name;
}

// Offsets of 4 KiB transfers: in order, or shuffled.
std::vector<int64_t> offsets(bool random) {
  std::vector<int64_t> all;
  for (int64_t at = 0; at < file_size(); at += kTransfer) all.push_back(at);
  if (random) std::shuffle(all.begin(), all.end(), std::mt19937(42));
  return all;
}

void paged(benchmark::State &state, bool random, int direction) {
  int32_t buffers = static_cast<int32_t>(state.range(0));
  DofFile *file = nullptr;
  if (dof_OpenFile(DOF_OPEN_EXISTING, data_file().c_str(), buffers, 4096, &file) != 0) std::abort();
  std::vector<int64_t> at = offsets(random);
  std::vector<char> buffer(kTransfer, 'w');
  size_t i = 0;
  for (auto _ : state) {
    if (dof_ReadWrite(direction, file, kTransfer, at[i], buffer.data()) != 0) std::abort();
    if (++i == at.size()) i = 0;
  }
  if (dof_CloseFile(0, file) != 0) std::abort();
  state.SetBytesProcessed(state.iterations() * kTransfer);
}

void raw(benchmark::State &state, bool random, int direction) {
  int fd = open(data_file().c_str(), O_RDWR);
  std::vector<int64_t> at = offsets(random);
  std::vector<char> buffer(kTransfer, 'w');
  size_t i = 0;
  for (auto _ : state) {
    ssize_t n = direction == DOF_READ ? pread(fd, buffer.data(), kTransfer, at[i])
                                      : pwrite(fd, buffer.data(), kTransfer, at[i]);
    if (n != kTransfer) std::abort();
    if (++i == at.size()) i = 0;
  }
  close(fd);
  state.SetBytesProcessed(state.iterations() * kTransfer);
}

void BM_PagedSequentialRead(benchmark::State &s) { paged(s, false, DOF_READ); }
void BM_RawSequentialRead(benchmark::State &s) { raw(s, false, DOF_READ); }
void BM_PagedSequentialWrite(benchmark::State &s) { paged(s, false, DOF_WRITE); }
void BM_RawSequentialWrite(benchmark::State &s) { raw(s, false, DOF_WRITE); }
void BM_PagedRandomRead(benchmark::State &s) { paged(s, true, DOF_READ); }
void BM_RawRandomRead(benchmark::State &s) { raw(s, true, DOF_READ); }
void BM_PagedRandomWrite(benchmark::State &s) { paged(s, true, DOF_WRITE); }
void BM_RawRandomWrite(benchmark::State &s) { raw(s, true, DOF_WRITE); }

BENCHMARK(BM_PagedSequentialRead)->Arg(16)->Arg(256);
BENCHMARK(BM_RawSequentialRead);
BENCHMARK(BM_PagedSequentialWrite)->Arg(16)->Arg(256);
BENCHMARK(BM_RawSequentialWrite);
BENCHMARK(BM_PagedRandomRead)->Arg(16)->Arg(256);
BENCHMARK(BM_RawRandomRead);
BENCHMARK(BM_PagedRandomWrite)->Arg(16)->Arg(256);
BENCHMARK(BM_RawRandomWrite);

// A file whose free list holds `n` blocks of mixed sizes (16 .. 1000 bytes), separated by live
// blocks so that none merge, with one large free block last: a request for it is served by the
// last block of the list.
struct Fragmented {
  DofFile *file = nullptr;
  std::string name;
  explicit Fragmented(int64_t n) : name(scratch_name("free")) {
    if (dof_OpenFile(DOF_FREE_LIST, name.c_str(), 64, 4096, &file) != 0) std::abort();
    std::mt19937 rng(3);
    std::vector<int64_t> to_free;
    for (int64_t i = 0; i <= n; ++i) {
      int64_t block = 0, keep = 0;
      uint32_t size = i == n ? 5000 : 16 + rng() % 985;
      if (dof_AllocateBlock(file, size, &block) != 0) std::abort();
      if (dof_AllocateBlock(file, 8, &keep) != 0) std::abort();
      to_free.push_back(block);
    }
    for (int64_t block : to_free)
      if (dof_FreeBlock(file, block) != 0) std::abort();
  }
  ~Fragmented() {
    file->flags |= DOF_TEMPORARY;  // deleted at close, nothing written back
    dof_CloseFile(0, file);
    unlink(name.c_str());
  }
};

// Allocation (and freeing it again, which restores the list) through the index.
void BM_AllocateLastFit(benchmark::State &state) {
  Fragmented f(state.range(0));
  for (auto _ : state) {
    int64_t block = 0;
    if (dof_AllocateBlock(f.file, 4000, &block) != 0) std::abort();
    if (dof_FreeBlock(f.file, block) != 0) std::abort();
  }
  state.counters["free_blocks"] = f.file->free_list->free_blocks;
}

// Allocation of mixed sizes, each freed again.
void BM_AllocateMixed(benchmark::State &state) {
  Fragmented f(state.range(0));
  std::mt19937 rng(9);
  for (auto _ : state) {
    int64_t block = 0;
    if (dof_AllocateBlock(f.file, 16 + rng() % 985, &block) != 0) std::abort();
    if (dof_FreeBlock(f.file, block) != 0) std::abort();
  }
}

// The peer: first fit by walking the same list from its head.
void walk(benchmark::State &state, bool mixed) {
  Fragmented f(state.range(0));
  std::mt19937 rng(9);
  for (auto _ : state) {
    uint32_t size = mixed ? 16 + rng() % 985 : 4000;
    const DofFreeBlock *b = f.file->free_list->head;
    while (b != nullptr && b->size < size) b = b->next;
    benchmark::DoNotOptimize(b);
  }
}
void BM_ListWalkLastFit(benchmark::State &s) { walk(s, false); }
void BM_ListWalkMixed(benchmark::State &s) { walk(s, true); }

void free_list_sizes(benchmark::internal::Benchmark *b) {
  for (int64_t n : {1000, 10000, 100000}) b->Arg(smoke() ? n / 100 : n);
}
BENCHMARK(BM_AllocateLastFit)->Apply(free_list_sizes);
BENCHMARK(BM_ListWalkLastFit)->Apply(free_list_sizes);
BENCHMARK(BM_AllocateMixed)->Apply(free_list_sizes);
BENCHMARK(BM_ListWalkMixed)->Apply(free_list_sizes);

}  // namespace

int main(int argc, char **argv) {
  tmx_Initialize(0);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  unlink(data_file().c_str());
  tmx_Terminate(0);
  return 0;
}
