// `tesmar extract ARCHIVE -o FILE`: the first file member of a zip archive, or a gzip file's
// contents, written to FILE.
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "command.h"
#include "tesmar/tesmar.h"

namespace tesmar::cli {
namespace {

int run(int argc, char **argv) {
  const char *output = nullptr;
  const ugn_Option options[] = {
      {"o", "s+", "FILE", &output, "the file to write"},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  // The archive may come first ("extract A -o F") or after the options ("extract -o F A"); the
  // parser stops at the first plain argument, so a leading archive is set aside.
  std::vector<char *> args(argv, argv + argc);
  const char *archive = nullptr;
  if (args.size() > 1 && args[1][0] != '-') {
    archive = args[1];
    args.erase(args.begin() + 1);
  }
  args.push_back(nullptr);
  auto count = static_cast<int32_t>(args.size() - 1);
  if (ugn_ParseCommandLine(0, options, &count, args.data()) != 0) {
    mpm_FlushPending(MPM_SHOW_ALL);
    return usage_error("extract", "expects ARCHIVE -o FILE");
  }
  if (archive == nullptr && count == 2) archive = args[1];
  else if (count != 1) return usage_error("extract", "expects one ARCHIVE");
  if (archive == nullptr) return usage_error("extract", "expects an ARCHIVE");
  if (ugn_Uncompress(0, output, archive) != 0) return 1;
  std::error_code ec;
  auto size = std::filesystem::file_size(output, ec);
  if (ec)
    std::printf("%s -> %s\n", archive, output);
  else
    std::printf("%s -> %s (%ju bytes)\n", archive, output, static_cast<uintmax_t>(size));
  return 0;
}

const Registrar registrar{{"extract", "decompress a gzip file or the first file of a zip archive",
                           "usage: tesmar extract ARCHIVE -o FILE\n\n"
                           "Writes the contents of a gzip file, or of the first file member of a\n"
                           "zip archive (directories are passed over), to FILE. FILE appears only\n"
                           "when the whole archive member was read and checked; anything that is\n"
                           "not a gzip file or a readable zip archive is refused:\n\n"
                           "  $ tesmar extract part.stp.gz -o part.stp\n"
                           "  part.stp.gz -> part.stp (48213 bytes)\n\n"
                           "Exit status 1 when the archive cannot be extracted, 2 for a usage error.\n",
                           run}};

}  // namespace
}  // namespace tesmar::cli
