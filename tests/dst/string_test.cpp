// Byte strings against std::string, capacities, self-appends and failures.
#include <gtest/gtest.h>

#include <bit>
#include <cstdlib>
#include <random>
#include <string>

#include "support/library.h"

namespace tesmar::test {
namespace {

std::string contents(DstString *s) {
  char *buffer = nullptr;
  dst_GetBuffer(s, &buffer);
  return std::string(buffer, dst_GetLength(s));
}

std::string copy_of(DstString *s) {
  char *text = nullptr;
  EXPECT_EQ(dst_CopyString(s, &text), 0u);
  std::string result = text != nullptr ? text : "<null>";
  std::free(text);
  return result;
}

TEST_F(LibraryTest, DstInitialCapacities) {
  DstString s;
  for (auto [asked, given] : {std::pair<uint64_t, uint64_t>{0, 1}, {1, 1}, {8, 8}, {9, 16}, {1000, 1024}}) {
    ASSERT_EQ(dst_InitializeString(&s, asked), 0u);
    EXPECT_EQ(dst_GetCapacity(&s), given) << asked;
    EXPECT_EQ(dst_GetLength(&s), 0u);
    dst_Free(&s);
    EXPECT_EQ(dst_GetCapacity(&s), 0u);
    EXPECT_EQ(s.data, nullptr);
  }
}

TEST_F(LibraryTest, DstAppendGrowsToThePowerOfTwoThatHoldsIt) {
  DstString s;
  ASSERT_EQ(dst_InitializeString(&s, 8), 0u);
  ASSERT_EQ(dst_AppendString(&s, "abcd"), 0u);
  EXPECT_EQ(dst_GetCapacity(&s), 8u);
  ASSERT_EQ(dst_AppendString(&s, "efghi"), 0u);
  EXPECT_EQ(dst_GetCapacity(&s), 16u);
  EXPECT_EQ(copy_of(&s), "abcdefghi");
  ASSERT_EQ(dst_AppendSubstring(&s, "0123456789012345678901234567890123456789", 40), 0u);
  EXPECT_EQ(dst_GetCapacity(&s), 64u);
  // Missing and empty inputs change nothing.
  EXPECT_EQ(dst_AppendString(&s, nullptr), 0u);
  EXPECT_EQ(dst_AppendString(&s, ""), 0u);
  EXPECT_EQ(dst_AppendSubstring(&s, nullptr, 5), 0u);
  EXPECT_EQ(dst_AppendSubstring(&s, "xyz", 0), 0u);
  EXPECT_EQ(dst_AppendSubstring(&s, "xyz", -3), 0u);
  EXPECT_EQ(dst_GetLength(&s), 49u);
  dst_Free(&s);
}

TEST_F(LibraryTest, DstBytesMayComeFromTheSameString) {
  DstString s;
  ASSERT_EQ(dst_InitializeString(&s, 4), 0u);
  ASSERT_EQ(dst_AppendString(&s, "abcd"), 0u);  // full: every self-append below moves the buffer
  std::string model = "abcd";
  for (int i = 0; i < 12; ++i) {
    ASSERT_EQ(dst_AppendSubstring(&s, s.data + 1, static_cast<int64_t>(dst_GetLength(&s) - 1)), 0u);
    model += model.substr(1);
    ASSERT_EQ(contents(&s), model);
  }
  ASSERT_EQ(dst_AppendChar(&s, '\0'), 0u);
  model.push_back('\0');
  ASSERT_EQ(dst_AppendString(&s, s.data + model.size() - 5), 0u);  // a terminated tail of itself
  model += model.substr(model.size() - 5, 4);
  EXPECT_EQ(contents(&s), model);
  dst_Free(&s);
}

TEST_F(LibraryTest, DstPrependFillsThenDoubles) {
  DstString s;
  ASSERT_EQ(dst_InitializeString(&s, 2), 0u);
  ASSERT_EQ(dst_PrependChar(&s, 'b'), 0u);
  ASSERT_EQ(dst_PrependChar(&s, 'a'), 0u);
  EXPECT_EQ(dst_GetCapacity(&s), 2u);
  ASSERT_EQ(dst_PrependChar(&s, '_'), 0u);
  EXPECT_EQ(dst_GetCapacity(&s), 4u);
  EXPECT_EQ(copy_of(&s), "_ab");
  dst_Free(&s);
}

TEST_F(LibraryTest, DstSizesBeyondMemoryLeaveTheStringUnchanged) {
  DstString s;
  EXPECT_EQ(dst_InitializeString(&s, UINT64_MAX), DST_NOMEMORY);
  EXPECT_EQ(dst_GetCapacity(&s), 0u);
  dst_Free(&s);
  ASSERT_EQ(dst_InitializeString(&s, 4), 0u);
  ASSERT_EQ(dst_AppendString(&s, "abc"), 0u);
  EXPECT_EQ(dst_AppendSubstring(&s, "x", INT64_MAX), DST_NOMEMORY);
  EXPECT_EQ(contents(&s), "abc");
  EXPECT_EQ(dst_GetCapacity(&s), 4u);
  EXPECT_TRUE(pending_texts().empty());  // DST never issues
  dst_Free(&s);
}

TEST_F(LibraryTest, DstRandomSequencesMatchAString) {
  std::mt19937 rng(77);
  DstString s;
  ASSERT_EQ(dst_InitializeString(&s, rng() % 5), 0u);
  std::string model;
  for (int step = 0; step < 20000; ++step) {
    uint32_t op = rng() % 100;
    if (op < 30) {
      char c = static_cast<char>(rng());
      ASSERT_EQ(dst_AppendChar(&s, c), 0u);
      model.push_back(c);
    } else if (op < 45) {
      std::string piece(rng() % 40, 'a');
      for (char &c : piece) c = static_cast<char>('a' + rng() % 26);
      ASSERT_EQ(dst_AppendString(&s, piece.c_str()), 0u);
      model += piece;
    } else if (op < 60) {
      std::string piece(rng() % 40, '\0');
      for (char &c : piece) c = static_cast<char>(rng());
      ASSERT_EQ(dst_AppendSubstring(&s, piece.data(), static_cast<int64_t>(piece.size())), 0u);
      model += piece;
    } else if (op < 68 && !model.empty()) {
      std::size_t from = rng() % model.size();
      std::size_t n = rng() % (model.size() - from + 1);
      ASSERT_EQ(dst_AppendSubstring(&s, s.data + from, static_cast<int64_t>(n)), 0u);
      model += model.substr(from, n);
    } else if (op < 80) {
      char c = static_cast<char>(rng());
      ASSERT_EQ(dst_PrependChar(&s, c), 0u);
      model.insert(model.begin(), c);
    } else if (op < 90) {
      uint64_t n = rng() % (model.size() + 3);
      EXPECT_EQ(dst_Erase(&s, n), 0u);
      model.erase(0, std::min<uint64_t>(n, model.size()));
    } else if (op < 91) {
      dst_Empty(&s);
      model.clear();
    } else if (op < 93 && model.size() > 4096) {
      dst_Erase(&s, model.size() - 100);
      model.erase(0, model.size() - 100);
    }
    ASSERT_EQ(contents(&s), model) << "step " << step;
    ASSERT_GE(dst_GetCapacity(&s), dst_GetLength(&s));
    ASSERT_TRUE(std::has_single_bit(dst_GetCapacity(&s)));
  }
  char *text = nullptr;
  ASSERT_EQ(dst_CopyString(&s, &text), 0u);
  EXPECT_EQ(std::string(text, model.size()), model);
  EXPECT_EQ(text[model.size()], '\0');
  std::free(text);
  dst_Free(&s);
}

}  // namespace
}  // namespace tesmar::test
