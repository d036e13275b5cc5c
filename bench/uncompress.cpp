// ugn_Uncompress against the command-line tools on the same archives: `gzip -dc` for a gzip file and
// `unzip -p` for a zip archive, each writing the same 100 MB of text to a file in the same
// directory. The tools run as child processes (through the shell), so wall-clock time is measured
// for both sides. With TESMAR_BENCH_SMOKE set the text is 4 MB.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "tesmar/tesmar.h"

namespace {

// A directory with data.txt, data.gz and data.zip, removed at exit.
class Archives {
 public:
  Archives() {
    tmx_Initialize(0);
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base ? base : "/tmp") + "/tesmar-bench.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    dir_ = pattern;
    const std::size_t size = std::getenv("TESMAR_BENCH_SMOKE") != nullptr ? 4u << 20 : 100u << 20;
    // Text lines of coordinates, like an exchange file's data section: compresses about 3:1.
    std::mt19937 random(42);
    std::ofstream out(path("data.txt"), std::ios::binary);
    std::string line;
    for (std::size_t written = 0, n = 1; written < size; ++n) {
      line = "#" + std::to_string(n) + "=CARTESIAN_POINT('',(" + std::to_string(random() % 100000) + "." +
             std::to_string(random() % 1000) + "," + std::to_string(random() % 100000) + ".0," +
             std::to_string(random() % 1000) + ".25));\n";
      out << line;
      written += line.size();
    }
    out.close();
    shell("gzip -6 -c data.txt > data.gz && zip -q -6 data.zip data.txt");
  }
  ~Archives() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    tmx_Terminate(0);
  }
  std::string path(const char *name) const { return dir_ + "/" + name; }
  void shell(const std::string &command) const {
    std::string full = "cd '" + dir_ + "' && " + command;
    if (std::system(full.c_str()) != 0) std::abort();
  }
  int64_t text_bytes() const { return static_cast<int64_t>(std::filesystem::file_size(path("data.txt"))); }

 private:
  std::string dir_;
};

Archives &archives() {
  static Archives a;
  return a;
}

void BM_UncompressGzip(benchmark::State &state) {
  Archives &a = archives();
  const std::string in = a.path("data.gz"), out = a.path("out.txt");
  for (auto _ : state)
    if (ugn_Uncompress(0, out.c_str(), in.c_str()) != 0) state.SkipWithError("ugn_Uncompress failed");
  state.SetBytesProcessed(state.iterations() * a.text_bytes());
}

void BM_GzipDc(benchmark::State &state) {
  Archives &a = archives();
  for (auto _ : state) a.shell("gzip -dc data.gz > out.txt");
  state.SetBytesProcessed(state.iterations() * a.text_bytes());
}

void BM_UncompressZip(benchmark::State &state) {
  Archives &a = archives();
  const std::string in = a.path("data.zip"), out = a.path("out.txt");
  for (auto _ : state)
    if (ugn_Uncompress(0, out.c_str(), in.c_str()) != 0) state.SkipWithError("ugn_Uncompress failed");
  state.SetBytesProcessed(state.iterations() * a.text_bytes());
}

void BM_UnzipP(benchmark::State &state) {
  Archives &a = archives();
  for (auto _ : state) a.shell("unzip -p data.zip > out.txt");
  state.SetBytesProcessed(state.iterations() * a.text_bytes());
}

BENCHMARK(BM_UncompressGzip)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GzipDc)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_UncompressZip)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_UnzipP)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
