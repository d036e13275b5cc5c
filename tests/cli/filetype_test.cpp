// `tesmar filetype`: one line per file, JSON that a JSON parser reads back, exit statuses.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "support/library.h"

namespace tesmar::test {
namespace {

std::string sample(const std::string &name) {
  return source_dir() + "/samples/filetype/" + name;
}

// Runs `tesmar filetype ARGS` (ARGS quoted for the shell).
ToolRun filetype(const TempDir &dir, const std::string &arguments) {
  return run_tool(dir, "filetype " + arguments);
}

TEST(FiletypeCommand, OneLinePerFileWithItsFacts) {
  TempDir dir;
  const ToolRun run = filetype(dir, "'" + sample("iges_crlf.igs") + "' '" + sample("step_two_schemas.stp") +
                                    "' '" + sample("random.bin") + "'");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, sample("iges_crlf.igs") + ": IGES, line end CR LF, record length 82\n" +
                         sample("step_two_schemas.stp") +
                         ": STEP, schemas CONFIG_CONTROL_DESIGN, AUTOMOTIVE_DESIGN\n" +
                         sample("random.bin") + ": unknown\n");
}

TEST(FiletypeCommand, JsonReadsBackWithAwkwardNames) {
  TempDir dir;
  // A name with a quote, a backslash, a tab and a byte that is not UTF-8.
  const std::string awkward = dir.file("a\"b\\c\td\xff.igs");
  write_file(awkward, std::string(72, 'x') + "S0000001\r\n");
  const ToolRun run = filetype(dir, "--json '" + sample("iges_crlf.igs") + "' '" +
                                           sample("step_one_schema.stp") + "' '" + sample("model.txt") +
                                           "' absent '" + awkward + "'");
  EXPECT_EQ(run.status, 1);  // "absent"
  write_file(dir.file("out.json"), run.out);
  write_file(dir.file("check.py"), R"(import json, sys
d = json.load(open(sys.argv[1], encoding="utf-8"))
assert [e["type"] for e in d] == [5, 11, 9, 14, 5], d
assert d[0]["line_end"] == "\r\n" and d[0]["record_length"] == 82, d[0]
assert d[1]["schemas"] == ["AUTOMOTIVE_DESIGN"], d[1]
assert d[2]["schema"] == "TESMAR_PARTS" and d[2]["release"] == 2, d[2]
assert d[3]["error"] == "TMX_NOT_FOUND", d[3]
assert d[4]["file"].endswith('a"b\\c\td\ufffd.igs'), d[4]
)");
  const int raw = std::system(("python3 '" + dir.file("check.py") + "' '" + dir.file("out.json") + "'").c_str());
  EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 0) << run.out;
}

}  // namespace
}  // namespace tesmar::test
