// Status codes: building, decoding, naming, and the name lookup the other way.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "support/library.h"

namespace tesmar::test {
namespace {

using NamesTest = LibraryTest;

TEST_F(NamesTest, MessageCodeOfNames) {
  mpm_Status code = 0;
  EXPECT_EQ(tmx_GetMessageCode("OTM_NOTFOUND", &code), 0u);
  EXPECT_EQ(code, OTM_NOTFOUND);
  EXPECT_EQ(tmx_GetMessageCode("MPM__INVALIDMESSAGE", &code), 0u);
  EXPECT_EQ(code, MPM__INVALIDMESSAGE);
  EXPECT_EQ(tmx_GetMessageCode("ABCD_NOTFOUND", &code), 0xFFFFu);
  EXPECT_EQ(tmx_GetMessageCode("OTM_notfound", &code), 0xFFFFu);
  EXPECT_TRUE(pending_texts().empty());
  EXPECT_EQ(tmx_GetMessageCode("OT_NOTFOUND", &code), TMX_BAD_MSG_NAME);
  EXPECT_EQ(tmx_GetMessageCode("OTMXY_NOTFOUND", &code), TMX_BAD_MSG_NAME);
  EXPECT_EQ(tmx_GetMessageCode("NOUNDERSCORE", &code), TMX_BAD_MSG_NAME);
  EXPECT_EQ(tmx_GetMessageCode(nullptr, &code), TMX_BAD_MSG_NAME);
  EXPECT_EQ(pending_texts().front(), "*** Error (TMX_BAD_MSG_NAME) ***\nInvalid message name (null).\n");
}

TEST_F(NamesTest, StoredTextsKeepTheirMarker) {
  char *text = mpm_GetMessageText(0, 3, 6);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, " Object not found\n");
  std::free(text);
  EXPECT_EQ(mpm_GetMessageText(0, 3, 10), nullptr);
  EXPECT_EQ(mpm_GetMessageText(0, 300, 1), nullptr);
  EXPECT_EQ(mpm_GetMessageText(0, -1, 1), nullptr);
}

// Every module's message table (names, kinds and texts, in order) as a digest, so that no row
// changes unnoticed. When a change is meant, the failure message gives the new digest.
TEST_F(NamesTest, MessageTablesAreTheOnesOfTheInterface) {
  ASSERT_EQ(unl_Initialize(0), 0u);
  const std::vector<std::pair<std::string, uint64_t>> expected = {
      {"TMX", 0x00f4496caa575128ull}, {"MPM", 0x223e85fd0b0c7fafull}, {"OLM", 0x53cff60005982fa7ull},
      {"OTM", 0xc177504cebb9d48full}, {"OSM", 0x49750ba4b905bd06ull}, {"OQM", 0xc12263b7ffcccdc3ull},
      {"EAM", 0x1614796398924a9cull}, {"DST", 0xeac463eda2739e2bull}, {"DDF", 0x194ba7ea5a301efbull},
      {"MDA", 0x2cc21bbfb748a69cull}, {"UGN", 0x76e18be73f85e717ull}, {"MTH", 0x85acc1d6311fbd8full},
      {"EVM", 0x3bcd4b109d5ae0bbull}, {"FMT", 0xb7d68b7d24973801ull}, {"HDB", 0xcf2aae40598827f9ull},
      {"CFG", 0x5fae2f362e88e988ull}, {"DOF", 0xb52b2d83a1736b35ull}, {"MAP", 0xfb96340ca29ef47full},
      {"UNL", 0x70a5b0f34fbc8e53ull},
  };
  std::vector<std::pair<std::string, uint64_t>> found;
  for (int32_t id = 0; id < 256; ++id) {
    const mpm_ModuleDesc *desc = mpm_GetModuleDesc(id);
    if (desc == nullptr || desc->count == 0) continue;
    uint64_t h = 14695981039346656037ull;  // FNV-1a over every row
    auto mix = [&h](const std::string &bytes) {
      for (unsigned char c : bytes + '\0') h = (h ^ c) * 1099511628211ull;
    };
    for (int32_t i = 0; i < desc->count; ++i) {
      mix(desc->names[i].name);
      mix(std::to_string(desc->names[i].kind) + ":" + std::to_string(desc->names[i].text_index));
      mix(desc->texts[i] != nullptr ? desc->texts[i] : "(none)");
    }
    found.emplace_back(desc->name, h);
  }
  std::string listing;
  for (const auto &entry : found) {
    char hex[20];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(entry.second));
    listing += "{\"" + entry.first + "\", 0x" + hex + "ull}, ";
  }
  EXPECT_EQ(found, expected) << listing;
  unl_Terminate(0);
}

}  // namespace
}  // namespace tesmar::test
