// `tesmar model`: a model of a few hundred entities built, walked and listed in a disk-backed and
// a memory-only store; bad arguments and a file that is not a schema fail with exit status 1 or 2.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "support/library.h"

namespace tesmar::test {
namespace {

using ModelToolTest = SampleSchemaTest;

// The listing's total and the walk's entity count.
int total_of(const std::string &out) {
  std::smatch m;
  return std::regex_search(out, m, std::regex("Total +([0-9]+)")) ? std::stoi(m[1]) : -1;
}

TEST_F(ModelToolTest, BuildsWalksAndListsBothKindsOfModel) {
  for (const char *kind : {"", " --memory"}) {
    ToolRun run = run_tool(dir_, "model '" + ddf_ + "' --entities 700" + kind);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("built 700 entities"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("walked 700 entities"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("(0 dangling)"), std::string::npos) << run.out;
    EXPECT_EQ(total_of(run.out), 700) << run.out;
    EXPECT_NE(run.out.find("No errors."), std::string::npos) << run.out;
    // Only the disk-backed model has a paged file to report on.
    EXPECT_EQ(run.out.find("Page Buffer Stats") != std::string::npos, *kind == '\0') << run.out;
  }
}

// A model saved, shown and converted both ways comes back the same; a damaged file is refused.
TEST_F(ModelToolTest, SavesShowsAndConvertsModels) {
  const std::string text = dir_.file("tour.sav"), binary = dir_.file("tour.bin"), back = dir_.file("back.sav");
  const std::string schema = " --schema '" + ddf_ + "'";
  ToolRun made = run_tool(dir_, "model '" + ddf_ + "' --entities 300 --save '" + text + "'");
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_NE(made.out.find("saved the model to"), std::string::npos);
  ToolRun shown = run_tool(dir_, "model show '" + text + "'" + schema + " --entity 2");
  ASSERT_EQ(shown.status, 0) << shown.err;
  EXPECT_EQ(total_of(shown.out), 300) << shown.out;
  EXPECT_NE(shown.out.find("entity 2:\n"), std::string::npos) << shown.out;
  ASSERT_EQ(run_tool(dir_, "model convert '" + text + "' '" + binary + "'" + schema + " --binary").status, 0);
  ASSERT_EQ(run_tool(dir_, "model convert '" + binary + "' '" + back + "'" + schema).status, 0);
  const std::string a = read_file(text), b = read_file(back);
  EXPECT_EQ(a.substr(a.find('\n')), b.substr(b.find('\n')));  // the same but for the model's number
  EXPECT_EQ(run_tool(dir_, "model show '" + binary + "'" + schema).status, 0);
  // A damaged file, a missing entity, usage errors.
  write_file(dir_.file("bad.sav"), a.substr(0, a.size() / 2));
  ToolRun bad = run_tool(dir_, "model show '" + dir_.file("bad.sav") + "'" + schema);
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("MDA_FILE_READ_ERR"), std::string::npos) << bad.err;
  EXPECT_EQ(run_tool(dir_, "model show '" + text + "'" + schema + " --entity 100000").status, 1);
  EXPECT_EQ(run_tool(dir_, "model show '" + text + "'").status, 2);
  EXPECT_EQ(run_tool(dir_, "model convert '" + text + "' '" + text + "'" + schema).status, 1);
}

}  // namespace
}  // namespace tesmar::test

namespace tesmar::test {
namespace {

// The debugging aids on a saved model: a clean check, a dump, and an edit fed on standard input.
TEST_F(ModelToolTest, ChecksDumpsAndEditsASavedModel) {
  const std::string saved = dir_.file("tour.sav"), edited = dir_.file("edited.sav");
  ASSERT_EQ(run_tool(dir_, "model '" + ddf_ + "' --entities 30 --memory --save '" + saved + "'").status, 0);
  const std::string schema = " --schema '" + ddf_ + "'";
  ToolRun check = run_tool(dir_, "model check '" + saved + "'" + schema);
  EXPECT_EQ(check.status, 0) << check.out << check.err;
  EXPECT_NE(check.out.find("30 entities checked: no findings"), std::string::npos) << check.out;
  ToolRun dump = run_tool(dir_, "model dump '" + saved + "'" + schema + " --entity 5");
  EXPECT_EQ(dump.status, 0);
  EXPECT_NE(dump.out.find("db_ptr #1:5 (0x1000000000005)\n"), std::string::npos) << dump.out;
  write_file(dir_.file("answers"), "1.5\nd\n");
  ToolRun edit = run_tool(dir_, "model edit '" + saved + "'" + schema + " --entity 5 -o '" + edited +
                                    "' < '" + dir_.file("answers") + "'");
  ASSERT_EQ(edit.status, 0) << edit.err;
  ToolRun after = run_tool(dir_, "model dump '" + edited + "'" + schema + " --entity 5");
  EXPECT_NE(after.out.find("x = 1.50000000000000\n"), std::string::npos) << after.out;
  EXPECT_EQ(run_tool(dir_, "model edit '" + saved + "'" + schema + " -o x").status, 2);
  EXPECT_EQ(run_tool(dir_, "model dump '" + saved + "'" + schema + " --entity 99").status, 1);
}

}  // namespace
}  // namespace tesmar::test
