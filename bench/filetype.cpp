// File-type detection of a large file of no known type against the `file` command, and against a
// plain read of the same file in 1 MiB pieces (the speed of the disk, or of the page cache once
// the file has been read).
//
// Two unknown files of 1 GiB are written once: text (the words of a parts list, a token every
// few bytes) and random binary bytes. With TESMAR_BENCH_SMOKE set they are 16 MiB.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "tesmar/tesmar.h"

extern char **environ;

namespace {

std::size_t file_size() {
  static const std::size_t size =
      std::getenv("TESMAR_BENCH_SMOKE") != nullptr ? std::size_t{16} << 20 : std::size_t{1} << 30;
  return size;
}

// A file of file_size() bytes; removed at exit.
class BigFile {
 public:
  explicit BigFile(bool binary) {
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base ? base : "/tmp") + "/tesmar-bench-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0) std::abort();
    path_ = name.data();
    std::mt19937 random(binary ? 2 : 1);
    // Words of a parts list: capitals, zeros, slashes and quotes (the bytes that make the
    // detector look at a token closely) among plain words.
    const char *words[] = {"Bracket", "hole", "drilled", "after", "the", "part's", "is", "bent",
                           "radius", "10.0", "mm", "see", "Model", "A/B", "and", "flange,"};
    std::string chunk;
    while (chunk.size() < (std::size_t{1} << 20)) {
      if (binary) {
        chunk += static_cast<char>(random() & 0xFF);
      } else {
        chunk += words[random() % 16];
        chunk += random() % 12 == 0 ? "\n" : " ";
      }
    }
    chunk.resize(std::size_t{1} << 20);
    for (std::size_t written = 0; written < file_size(); written += chunk.size())
      if (write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size())) std::abort();
    close(fd);
  }
  ~BigFile() { unlink(path_.c_str()); }
  const char *path() const { return path_.c_str(); }

 private:
  std::string path_;
};

const BigFile &big_file(bool binary) {
  static const BigFile text(false), random_bytes(true);
  return binary ? random_bytes : text;
}

struct Library {
  Library() { tmx_Initialize(0); }
  ~Library() { tmx_Terminate(0); }
};

void BM_TmxGetFileType(benchmark::State &state) {
  static Library library;
  const char *path = big_file(state.range(0) != 0).path();
  for (auto _ : state) {
    int32_t type = -1;
    void *block = nullptr;
    if (tmx_GetFileType(0, path, &type, &block) != 0 || type != TMX_FILETYPE_UNKNOWN) {
      state.SkipWithError("the big file was not an unknown file");
      break;
    }
    mpm_DiscardPending(0);
    benchmark::DoNotOptimize(type);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file_size()));
}

void BM_FileCommand(benchmark::State &state) {
  const char *path = big_file(state.range(0) != 0).path();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  for (auto _ : state) {
    char *argv[] = {const_cast<char *>("file"), const_cast<char *>("-b"), const_cast<char *>(path), nullptr};
    pid_t pid;
    int status = 0;
    if (posix_spawnp(&pid, "file", &actions, nullptr, argv, environ) != 0 ||
        waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("`file` could not be run");
      break;
    }
  }
  posix_spawn_file_actions_destroy(&actions);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file_size()));
}

void BM_ReadWhole(benchmark::State &state) {
  const char *path = big_file(state.range(0) != 0).path();
  std::vector<char> buffer(std::size_t{1} << 20);
  for (auto _ : state) {
    const int fd = open(path, O_RDONLY);
    ssize_t n;
    std::size_t total = 0;
    while ((n = read(fd, buffer.data(), buffer.size())) > 0) total += static_cast<std::size_t>(n);
    close(fd);
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file_size()));
}

// Argument 0: the text file; 1: the binary file.
BENCHMARK(BM_TmxGetFileType)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FileCommand)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadWhole)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
