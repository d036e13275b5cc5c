// `tesmar ddl compile` and `tesmar ddl show` on the bundled sample: the listing is the one
// docs/ddl.md shows, `--entity` prints the descriptor dump of one type, and bad files or names
// give the reader's message and exit status 1.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>

#include "support/library.h"

namespace tesmar::test {
namespace {

std::string without_addresses(const std::string &text) {
  return std::regex_replace(text, std::regex("Address: 0x[0-9a-f]+"), "Address: ADDR");
}

using DdlToolTest = SampleSchemaTest;

TEST_F(DdlToolTest, ShowPrintsTheListingTheDocsShow) {
  ToolRun run = run_tool(dir_, "ddl show '" + ddf_ + "'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  std::string docs = read_file(source_dir() + "/docs/ddl.md");
  EXPECT_EQ(run.out, listing_after(docs, "tesmar ddl show geometry.ddf"));
}

TEST_F(DdlToolTest, EntityPrintsEachDescriptorOfOneTypeInAnyCase) {
  ToolRun run = run_tool(dir_, "ddl show '" + ddf_ + "' --entity LINE");
  ASSERT_EQ(run.status, 0) << run.err;
  const char *expected =
      "ptr start (\"Start point\")\n"
      "   Address: ADDR\n"
      "   Modifiers:  REFTYPE\n"
      "   Flags:\n"
      "   Field #: 0  NDims: 0   Offset: 0  Default value key:  0\n"
      "ptr end (\"End point\")\n"
      "   Address: ADDR\n"
      "   Modifiers:  REFTYPE\n"
      "   Flags:\n"
      "   Field #: 1  NDims: 0   Offset: 0  Default value key:  0\n"
      "ptr layer (\"Layer of the line\")\n"
      "   Address: ADDR\n"
      "   Modifiers:  REFTYPE\n"
      "   Flags:\n"
      "   Field #: 2  NDims: 0   Offset: 0  Default value key:  0\n"
      "short style (\"Line style\")\n"
      "   Address: ADDR\n"
      "   Modifiers:  DEFAULT\n"
      "   Flags:\n"
      "   Field #: 3  NDims: 0   Offset: 0  Default value key:  1\n"
      "endent **Field not named** (\"\")\n"
      "   Address: ADDR\n"
      "   Modifiers:\n"
      "   Flags:\n"
      "   Field #: 4  NDims: 0   Offset: 0  fld_methods index:  0\n";
  EXPECT_EQ(without_addresses(run.out), expected);
  // The blocks the docs show are blocks of this output.
  std::string docs = without_addresses(
      listing_after(read_file(source_dir() + "/docs/ddl.md"),
                    "tesmar ddl show geometry.ddf --entity line"));
  std::istringstream parts(docs);
  std::string block, line;
  while (std::getline(parts, line)) {
    if (line == "...") {
      EXPECT_NE(run.out.empty() ? std::string::npos : without_addresses(run.out).find(block),
                std::string::npos)
          << block;
      block.clear();
    } else {
      block += line + "\n";
    }
  }
  EXPECT_NE(without_addresses(run.out).find(block), std::string::npos) << block;
  // Descriptors in a struct keep their flags and dimensions.
  run = run_tool(dir_, "ddl show '" + ddf_ + "' --entity polyline");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("double points (\"Vertex coordinates\")\n"), std::string::npos);
  EXPECT_NE(run.out.find("   Flags:  ARRAY  PTRFIXED\n   Field #: 1  NDims: 2"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("struct bounds (\"Bounding box\")"), std::string::npos);
  EXPECT_NE(run.out.find("  Structure size:  48\n   # of fields to endstruct:  3\n"),
            std::string::npos)
      << run.out;
}

TEST_F(DdlToolTest, UnknownEntitiesAndBadFilesExitWithStatusOne) {
  ToolRun run = run_tool(dir_, "ddl show '" + ddf_ + "' --entity circle");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("has no entity type 'circle'"), std::string::npos) << run.err;

  std::string missing = dir_.file("missing.ddf");
  run = run_tool(dir_, "ddl show '" + missing + "'");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "tesmar ddl: " + missing + ": No such file or directory\n");

  // A file cut inside its sections, and a schema text that is not a binary schema file.
  std::string bytes = read_file(ddf_);
  std::string cut = dir_.file("cut.ddf");
  write_file(cut, bytes.substr(0, 1000));
  run = run_tool(dir_, "ddl show '" + cut + "'");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE((run.out + run.err).find("Error reading DDF file " + cut + "."), std::string::npos)
      << run.out << run.err;
  std::string source = source_dir() + "/samples/geometry.ddl";
  run = run_tool(dir_, "ddl show '" + source + "' --entity line");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE((run.out + run.err).find("File " + source + " is not a binary DDF."), std::string::npos)
      << run.out << run.err;

}


}  // namespace
}  // namespace tesmar::test
