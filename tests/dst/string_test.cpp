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
