// `tesmar config check`: the examples of docs/config.md, run as they are written there.
#include <gtest/gtest.h>

#include <string>

#include "support/library.h"

namespace tesmar::test {
namespace {

// The file a listing of the docs reads: the indented block after "and this file:".
std::string example_file(const std::string &docs) {
  const std::size_t at = docs.find("and this file:\n\n");
  std::string out;
  for (std::size_t i = docs.find('\n', at + 15) + 1; i < docs.size() && docs.compare(i, 4, "    ") == 0;) {
    const std::size_t end = docs.find('\n', i);
    out += docs.substr(i + 4, end - i - 4) + "\n";
    i = end + 1;
  }
  return out;
}

// Output as a listing shows it: the trailing empty lines left out.
std::string tidy(std::string text) {
  while (text.size() > 1 && text.back() == '\n' && text[text.size() - 2] == '\n') text.pop_back();
  return text;
}

TEST(ConfigToolTest, TheExamplesOfTheDocs) {
  TempDir dir;
  const std::string docs = read_file(source_dir() + "/docs/config.md");
  ASSERT_EQ(run_tool(dir, "ddl compile '" + source_dir() + "/samples/translate.ddl' -o '" +
                              dir.file("translate.ddf") + "'").status, 0);
  write_file(dir.file("bad.cfg"), example_file(docs));
  write_file(dir.file("open.cfg"),
             "input:\n    units = \"mm\";   /* the comment is never closed\noutput:\n    release = \"R2000\";\n");
  const std::string schema = " --schema '" + dir.file("translate.ddf") + "'";
  ToolRun bad = run_tool(dir, "config check '" + dir.file("bad.cfg") + "'" + schema);
  EXPECT_EQ(bad.status, 0);
  EXPECT_EQ(tidy(bad.err + bad.out), listing_after(docs, "tesmar config check bad.cfg --schema translate.ddf"));
  ToolRun open = run_tool(dir, "config check '" + dir.file("open.cfg") + "'" + schema);
  EXPECT_EQ(open.status, 1);
  EXPECT_EQ(tidy(open.err + open.out), listing_after(docs, "tesmar config check open.cfg --schema translate.ddf"));
  ToolRun overrides = run_tool(dir, "config check '" + source_dir() + "/samples/translate.cfg'" +
                                        schema + " -- -scale 25.4 -release R2013");
  EXPECT_EQ(overrides.status, 0) << overrides.err;
  EXPECT_EQ(tidy(overrides.out), listing_after(docs, "tesmar config check samples/translate.cfg --schema "
                                               "translate.ddf -- -scale 25.4 -release R2013"));
  // Usage errors.
  EXPECT_EQ(run_tool(dir, "config").status, 2);
  EXPECT_EQ(run_tool(dir, "config check '" + dir.file("bad.cfg") + "'").status, 2);
  EXPECT_EQ(run_tool(dir, "config check a b" + schema).status, 2);
  EXPECT_EQ(run_tool(dir, "config check '" + dir.file("missing.cfg") + "'" + schema).status, 1);
}

}  // namespace
}  // namespace tesmar::test
