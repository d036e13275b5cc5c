// `tesmar extract ARCHIVE -o FILE`: the first file member of a zip archive, or a gzip file's
// contents, written to FILE.
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "command.h"
#include "tesmar/tesmar.h"

namespace tesmar::cli {
namespace {

int run(int argc, char **argv) {
  const char *output = nullptr;
  int32_t force = 0;
  const ugn_Option options[] = {
      {"o", "s+", "FILE", &output, "the file to write (- for standard output)"},
      {"f", "f", nullptr, &force, "replace FILE if it exists"},
      {"-force", "f", nullptr, &force, "the same as -f"},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  Args args;
  if (const int parsed = parse_args(options, "ARCHIVE", argc, argv, &args); parsed != 0) return parsed;
  if (args.operands.size() != 1) return usage_error("expects one ARCHIVE");
  const char *archive = input_file(args.operands[0]);
  if (archive == nullptr) return 1;
  Output out;
  if (!out.prepare(output, {archive}, force != 0)) return 1;
  if (ugn_Uncompress(0, out.path(), archive) != 0) {
    show_pending();
    return 1;
  }
  std::error_code ec;
  const auto size = std::filesystem::file_size(out.path(), ec);
  if (!out.commit()) return 1;
  if (out.target() == "-") return 0;
  if (ec)
    std::printf("%s -> %s\n", escaped(args.operands[0]).c_str(), escaped(output).c_str());
  else
    std::printf("%s -> %s (%ju bytes)\n", escaped(args.operands[0]).c_str(), escaped(output).c_str(),
                static_cast<uintmax_t>(size));
  return 0;
}

const Registrar registrar{{"extract", "decompress a gzip file or the first file of a zip archive",
                           "usage: tesmar extract ARCHIVE -o FILE [-f]\n\n"
                           "Writes the contents of a gzip file, or of the first file member of a\n"
                           "zip archive (directories are passed over), to FILE. FILE appears only\n"
                           "when the whole archive member was read and checked; anything that is\n"
                           "not a gzip file or a zip archive is copied through unchanged. An\n"
                           "existing FILE is replaced only with -f (--force). ARCHIVE - reads\n"
                           "standard input, FILE - writes standard output:\n\n"
                           "  $ tesmar extract part.stp.gz -o part.stp\n"
                           "  part.stp.gz -> part.stp (48213 bytes)\n\n"
                           "Exit status 1 when the archive cannot be extracted, 2 for a usage error.\n",
                           run}};

}  // namespace
}  // namespace tesmar::cli
