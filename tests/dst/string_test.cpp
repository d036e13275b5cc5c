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

TEST_F(LibraryTest, DstNothingToAddAndNoStringChangeNothing) {
  DstString s;
  ASSERT_EQ(dst_InitializeString(&s, 4), 0u);
  ASSERT_EQ(dst_AppendString(&s, "ab"), 0u);
  for (mpm_Status status : {dst_AppendString(&s, nullptr), dst_AppendString(&s, ""),
                            dst_AppendSubstring(&s, nullptr, 3), dst_AppendSubstring(&s, "xy", 0),
                            dst_AppendSubstring(&s, "xy", -2)})
    EXPECT_EQ(status, 0u);
  EXPECT_EQ(contents(&s), "ab");
  for (mpm_Status status : {dst_InitializeString(nullptr, 1), dst_AppendChar(nullptr, 'a'),
                            dst_AppendString(nullptr, "a"), dst_AppendSubstring(nullptr, "a", 1),
                            dst_PrependChar(nullptr, 'a'), dst_CopyString(&s, nullptr)})
    EXPECT_EQ(status, DST_NOMEMORY);
  char *text = &s.data[0];
  EXPECT_EQ(dst_CopyString(nullptr, &text), DST_NOMEMORY);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(dst_Erase(nullptr, 1) | dst_Empty(nullptr) | dst_GetBuffer(nullptr, &text), 0u);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(dst_GetCapacity(nullptr) + dst_GetLength(nullptr), 0u);
  dst_Free(nullptr);
  dst_Free(&s);
}

TEST_F(LibraryTest, DstRandomSequencesMatchAString) {
  RandomDriver r(77);
  DstString s;
  ASSERT_EQ(dst_InitializeString(&s, static_cast<uint64_t>(r.pick(5))), 0u);
  std::string model;
  uint64_t capacity = dst_GetCapacity(&s);  // grows to the smallest power of two that holds the bytes
  const auto holds = [&](uint64_t n) { capacity = n <= capacity ? capacity : std::bit_ceil(n); };
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
    holds(model.size());
  };
  auto prepend = [&](char c) {
    ASSERT_EQ(dst_PrependChar(&s, c), 0u);
    model.insert(model.begin(), c);
    holds(model.size());
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
    holds(model.size());
  };
  r.run(20000,
        {{20, [&] { append(std::string(1, static_cast<char>(r.pick(256))), false); }},
         {10, [&] {
            const char c = static_cast<char>(r.pick(256));
            ASSERT_EQ(dst_AppendChar(&s, c), 0u);
            model += c;
            holds(model.size());
          }},
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
          ASSERT_EQ(dst_GetCapacity(&s), capacity) << r.where();
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
