// Byte strings against std::string, capacities, self-appends and failures.
#include <gtest/gtest.h>

#include <bit>
#include <cstdlib>
#include <random>
#include <string>

#include "support/library.h"
#include "support/random_driver.h"

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
  RandomDriver r(77);
  DstString s;
  ASSERT_EQ(dst_InitializeString(&s, static_cast<uint64_t>(r.pick(5))), 0u);
  std::string model;
  auto any = [&](int32_t n) { return static_cast<std::size_t>(r.pick(static_cast<int32_t>(n))); };
  auto text = [&](bool letters) {
    std::string piece(any(40), '\0');
    for (char &c : piece) c = static_cast<char>(letters ? 'a' + r.pick(26) : r.pick(256));
    return piece;
  };
  auto append = [&](const std::string &piece, bool terminated) {
    ASSERT_EQ(terminated ? dst_AppendString(&s, piece.c_str())
                         : dst_AppendSubstring(&s, piece.data(), static_cast<int64_t>(piece.size())), 0u);
    model += piece;
  };
  auto prepend = [&](char c) {
    ASSERT_EQ(dst_PrependChar(&s, c), 0u);
    model.insert(model.begin(), c);
  };
  auto erase = [&](uint64_t n) {
    EXPECT_EQ(dst_Erase(&s, n), 0u);
    model.erase(0, std::min<uint64_t>(n, model.size()));
  };
  auto self_append = [&] {  // bytes of the string itself
    if (model.empty()) return;
    const std::size_t from = any(static_cast<int32_t>(model.size()));
    const std::size_t n = any(static_cast<int32_t>(model.size() - from + 1));
    ASSERT_EQ(dst_AppendSubstring(&s, s.data + from, static_cast<int64_t>(n)), 0u);
    model += model.substr(from, n);
  };
  r.run(20000,
        {{30, [&] { append(std::string(1, static_cast<char>(r.pick(256))), false); }},
         {15, [&] { append(text(true), true); }},
         {15, [&] { append(text(false), false); }},
         {8, self_append},
         {12, [&] { prepend(static_cast<char>(r.pick(256))); }},
         {10, [&] { erase(any(static_cast<int32_t>(model.size() + 3))); }},
         {1, [&] { dst_Empty(&s), model.clear(); }},
         {2, [&] { if (model.size() > 4096) erase(model.size() - 100); }},
         {7, [] {}}},
        [&] {
          ASSERT_EQ(contents(&s), model) << r.where();
          ASSERT_GE(dst_GetCapacity(&s), dst_GetLength(&s));
          ASSERT_TRUE(std::has_single_bit(dst_GetCapacity(&s)));
        });
  char *text_copy = nullptr;
  ASSERT_EQ(dst_CopyString(&s, &text_copy), 0u);
  EXPECT_EQ(std::string(text_copy, model.size()), model);
  EXPECT_EQ(text_copy[model.size()], '\0');
  std::free(text_copy);
  dst_Free(&s);
}

}  // namespace
}  // namespace tesmar::test
