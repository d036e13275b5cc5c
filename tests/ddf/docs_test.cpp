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
  std::ifstream in(source_dir() + "/" + relative, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
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
