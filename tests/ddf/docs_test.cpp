// docs/ddl.md shows what `tesmar ddl show` prints for the bundled sample; this keeps it true.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "schema_support.h"
#include "show.h"
#include "support/library.h"

namespace tesmar::test {
namespace {

using DocsTest = LibraryTest;

std::string source_file(const std::string &relative) {
  const char *root = std::getenv("TESMAR_SOURCE_DIR");
  std::ifstream in(std::string(root != nullptr ? root : ".") + "/" + relative, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The indented lines that follow "    $ COMMAND\n" in the docs, without their 4-blank indent, up to
// the next line that is neither indented nor empty (or the next command).
std::string listing_after(const std::string &docs, const std::string &command) {
  std::size_t at = docs.find("    $ " + command + "\n");
  if (at == std::string::npos) return "(no listing for " + command + ")";
  std::istringstream lines(docs.substr(docs.find('\n', at) + 1));
  std::string line, out, blanks;
  while (std::getline(lines, line)) {
    if (line.empty()) {
      blanks += "\n";
      continue;
    }
    if (line.rfind("    ", 0) != 0 || line.rfind("    $ ", 0) == 0) break;
    out += blanks + line.substr(4) + "\n";
    blanks.clear();
  }
  return out;
}

TEST_F(DocsTest, TheSampleListingInTheDocsIsWhatShowPrints) {
  std::string sample = source_file("samples/geometry.ddl");
  ASSERT_FALSE(sample.empty());
  CurrentSchema schema(sample);
  std::string docs = source_file("docs/ddl.md");
  EXPECT_EQ(listing_after(docs, "tesmar ddl show geometry.ddf"), ddl::show_schema(*schema.get()));
}

}  // namespace
}  // namespace tesmar::test
