// `tesmar map dump` and `tesmar map check`: the examples of docs/mapping-file.md as written, and a
// dump read back by `check` to the tables it came from.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/library.h"

namespace tesmar::test {
namespace {

TEST(MapToolTest, TheExamplesOfTheDocs) {
  TempDir dir;
  const std::string docs = read_file(source_dir() + "/docs/mapping-file.md");
  const ToolRun dump = run_tool(dir, "map dump");
  ASSERT_EQ(dump.status, 0) << dump.err;
  EXPECT_EQ(dump.out, listing_after(docs, "tesmar map dump"));
  // The dump read back gives the operations the translator enables.
  write_file(dir.file("dump.map"), dump.out);
  const ToolRun again = run_tool(dir, "map check '" + dir.file("dump.map") + "'");
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.err, "");
  EXPECT_NE(again.out.find("  \"scale LINE\" <FINAL MAPPING OPERATION>\n      Next operation: 0\n"
                           "      Target model:  Use default\n      Options:  COMMIT  \n"),
            std::string::npos)
      << again.out;
  // The file of the error example, from the directory it is named in.
  const std::size_t at = docs.find("for this `bad.map`:\n\n");
  std::string bad;
  for (std::size_t i = docs.find('\n', at + 20) + 1; docs.compare(i, 4, "    ") == 0; i = docs.find('\n', i) + 1)
    bad += docs.substr(i + 4, docs.find('\n', i) - i - 4) + "\n";
  write_file(dir.file("bad.map"), bad);
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  const ToolRun check = run_tool(dir, "map check bad.map");
  std::filesystem::current_path(before);
  EXPECT_EQ(check.status, 1);
  EXPECT_EQ(check.err, listing_after(docs, "tesmar map check bad.map"));
  EXPECT_EQ(run_tool(dir, "map").status, 2);
  EXPECT_EQ(run_tool(dir, "map check").status, 2);
  EXPECT_EQ(run_tool(dir, "map check '" + dir.file("missing.map") + "'").status, 1);
}

}  // namespace
}  // namespace tesmar::test
