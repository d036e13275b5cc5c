// UTF-8, UTF-16 and UTF-32 conversions, measured against glibc iconv in strict mode.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/library.h"
#include "unl/iconv_peer.h"
#include "unl/unl_internal.h"

namespace tesmar::test {
namespace {

class UtfTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    unl_Initialize(0);
  }
  void TearDown() override {
    unl_Terminate(0);
    LibraryTest::TearDown();
  }
};

std::u16string to_u16(const uint16_t *units) {
  std::u16string s;
  for (; *units != 0; ++units) s += static_cast<char16_t>(*units);
  return s;
}

std::string as_bytes(const std::u16string &s) {
  std::string bytes;
  for (char16_t u : s) {
    bytes += static_cast<char>(u & 0xFF);
    bytes += static_cast<char>(u >> 8);
  }
  return bytes;
}

std::vector<uint16_t> terminated(const std::u16string &s) {
  std::vector<uint16_t> v(s.begin(), s.end());
  v.push_back(0);
  return v;
}

// UTF-8 -> UTF-16 through the library: ok and the result, or the status.
mpm_Status utf8_to_16(const std::string &in, std::u16string *out) {
  uint16_t *units = reinterpret_cast<uint16_t *>(1);
  mpm_Status status = unl_StrUTF8ToUTF16(0, in.c_str(), &units);
  if (status == 0) {
    *out = to_u16(units);
    std::free(units);
  } else {
    EXPECT_EQ(units, nullptr);
  }
  return status;
}

mpm_Status utf16_to_8(const std::u16string &in, std::string *out) {
  char *bytes = reinterpret_cast<char *>(1);
  std::vector<uint16_t> units = terminated(in);
  mpm_Status status = unl_StrUTF16ToUTF8(0, units.data(), &bytes);
  if (status == 0) {
    *out = bytes;
    std::free(bytes);
  } else {
    EXPECT_EQ(bytes, nullptr);
  }
  return status;
}

TEST_F(UtfTest, Measuring) {
  uint64_t bytes = 9, chars = 9;
  const char *text = "A\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80";
  EXPECT_EQ(unl_UTF8Length(text, nullptr, &bytes, &chars), 0u);
  EXPECT_EQ(bytes, 10u);
  EXPECT_EQ(chars, 4u);
  EXPECT_EQ(unl_UTF8Length(text, text + 5, &bytes, &chars), 0u);  // ends inside a sequence
  EXPECT_EQ(bytes, 5u);
  EXPECT_EQ(chars, 2u);
  const char with_zero[] = {'a', 0, 'b'};
  EXPECT_EQ(unl_UTF8Length(with_zero, with_zero + 3, &bytes, &chars), 0u);
  EXPECT_EQ(chars, 3u);
  EXPECT_EQ(unl_UTF8Length("\xC3\xC3", nullptr, &bytes, &chars), UNL_CONVERSION_ERR);
  EXPECT_EQ(unl_UTF8Length("ab", nullptr, nullptr, nullptr), 0u);
  const uint16_t u16[] = {'a', 0xD83D, 0xDE00, 0xDC00, 0};
  EXPECT_EQ(unl_UTF16Length(u16, u16 + 3, &bytes, &chars), 0u);
  EXPECT_EQ(bytes, 6u);
  EXPECT_EQ(chars, 2u);
  EXPECT_EQ(unl_UTF16Length(u16, nullptr, &bytes, &chars), UNL_CONVERSION_ERR);
  EXPECT_EQ(unl_UTF16Length(u16, u16 + 2, nullptr, nullptr), 0u);
  // Long ASCII runs go through the wide path: counts stay exact.
  std::string long_text(1000, 'x');
  long_text += "\xC3\xA9";
  long_text += std::string(37, 'y');
  EXPECT_EQ(unl_UTF8Length(long_text.c_str(), nullptr, &bytes, &chars), 0u);
  EXPECT_EQ(bytes, 1039u);
  EXPECT_EQ(chars, 1038u);
}

TEST_F(UtfTest, Utf32) {
  const uint32_t text[] = {'A', 0xE9, 0x65E5, 0x10000, 0x10FFFF, 0};
  char *out = nullptr;
  ASSERT_EQ(unl_StrUTF32ToUTF8(text, &out), 0u);
  EXPECT_STREQ(out, "A\xC3\xA9\xE6\x97\xA5\xF0\x90\x80\x80\xF4\x8F\xBF\xBF");
  EXPECT_EQ(std::strlen(out) + 1, 15u);
  std::free(out);
  out = nullptr;
  const uint32_t bad[] = {'A', 0x110000, 0};
  EXPECT_EQ(unl_StrUTF32ToUTF8(bad, &out), UNL_CONVERSION_ERR);
  EXPECT_EQ(out, nullptr);
  const uint32_t huge[] = {'A', 'B', 0x80000000u, 'C', 0};
  char buffer[32];
  std::memset(buffer, 'Z', sizeof buffer);
  char *into = buffer;
  EXPECT_EQ(unl_StrUTF32ToUTF8(huge, &into), UNL_CONVERSION_ERR);  // read unsigned: refused
  EXPECT_STREQ(buffer, "AB");  // terminated after the error
  const uint32_t surrogate[] = {0xD800, 0};
  EXPECT_EQ(unl_StrUTF32ToUTF8(surrogate, &out), UNL_CONVERSION_ERR);
  into = buffer;
  const uint32_t empty[] = {0};
  EXPECT_EQ(unl_StrUTF32ToUTF8(empty, &into), 0u);
  EXPECT_STREQ(buffer, "");
  EXPECT_TRUE(pending_texts().empty());
}

TEST_F(UtfTest, Dumps) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(unl_DumpUTF8("A\xC3\xA9", nullptr), 0u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "41 \nC3 A9 \n00\nbytes: 4 chars: 3\n");
  const uint16_t u16[] = {'A', 0xD83D, 0xDE00, 0};
  testing::internal::CaptureStdout();
  EXPECT_EQ(unl_DumpUTF16(u16, nullptr), 0u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "0041 \nD83D DE00 \n0000\nbytes: 8 chars: 3\n");
  testing::internal::CaptureStdout();
  EXPECT_EQ(unl_DumpUTF16(u16, u16 + 2), 0u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "0041 \nD83D bytes: 4 chars: 1\n");
  testing::internal::CaptureStdout();
  EXPECT_EQ(unl_DumpUTF8("A\x80", nullptr), UNL_CONVERSION_ERR);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "41 \n");
  const uint16_t lone[] = {0xDC00, 0};
  testing::internal::CaptureStdout();
  EXPECT_EQ(unl_DumpUTF16(lone, nullptr), UNL_CONVERSION_ERR);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

// Random code points from every range that matters: ASCII, two-, three- and four-byte forms and
// the edges around the surrogates and the end of the BMP.
uint32_t random_code_point(std::mt19937 &random) {
  switch (random() % 6) {
    case 0: return 1 + random() % 0x7F;
    case 1: return 0x80 + random() % (0x800 - 0x80);
    case 2: return 0x800 + random() % (0xD800 - 0x800);
    case 3: return 0xE000 + random() % (0x10000 - 0xE000);
    case 4: return 0x10000 + random() % (0x110000 - 0x10000);
    default: {
      const uint32_t edges[] = {0x7F, 0x80, 0x7FF, 0x800, 0xD7FF, 0xE000, 0xFFFD, 0xFFFF, 0x10000,
                                0x10FFFF, 0xFEFF};
      return edges[random() % (sizeof edges / sizeof edges[0])];
    }
  }
}

TEST_F(UtfTest, AgreesWithIconvOnRandomValidStrings) {
  std::mt19937 random(2024);
  for (int round = 0; round < 3000; ++round) {
    std::string utf32;
    std::vector<uint32_t> points;
    std::size_t length = random() % (round % 10 == 0 ? 600 : 40);
    for (std::size_t i = 0; i < length; ++i) {
      uint32_t cp = random() % 3 == 0 ? 'a' + random() % 26 : random_code_point(random);
      points.push_back(cp);
      for (int k = 0; k < 4; ++k) utf32 += static_cast<char>((cp >> (8 * k)) & 0xFF);
    }
    points.push_back(0);
    IconvResult u8 = iconv_convert("UTF-32LE", "UTF-8", utf32);
    ASSERT_TRUE(u8.ok);
    IconvResult u16 = iconv_convert("UTF-8", "UTF-16LE", u8.out);
    ASSERT_TRUE(u16.ok);

    char *ours8 = nullptr;
    ASSERT_EQ(unl_StrUTF32ToUTF8(points.data(), &ours8), 0u);
    EXPECT_EQ(std::string(ours8), u8.out);
    std::free(ours8);

    std::u16string ours16;
    ASSERT_EQ(utf8_to_16(u8.out, &ours16), 0u);
    EXPECT_EQ(as_bytes(ours16), u16.out);

    std::string back;
    ASSERT_EQ(utf16_to_8(ours16, &back), 0u);
    EXPECT_EQ(back, u8.out);

    uint64_t bytes = 0, chars = 0;
    EXPECT_EQ(unl_UTF8Length(u8.out.c_str(), nullptr, &bytes, &chars), 0u);
    EXPECT_EQ(bytes, u8.out.size());
    EXPECT_EQ(chars, points.size() - 1);
    std::vector<uint16_t> units = terminated(ours16);
    EXPECT_EQ(unl_UTF16Length(units.data(), nullptr, &bytes, &chars), 0u);
    EXPECT_EQ(chars, points.size() - 1);
  }
  EXPECT_TRUE(pending_texts().empty());
}

// Random byte strings made mostly of the bytes that make UTF-8 interesting.
std::string random_bytes(std::mt19937 &random, std::size_t length) {
  const unsigned char pool[] = {'a',  0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1,
                                0xC2, 0xDF, 0xE0, 0xE1, 0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF4,
                                0xF5, 0xF7, 0xF8, 0xFE, 0xFF};
  std::string s;
  for (std::size_t i = 0; i < length; ++i) {
    unsigned char b = random() % 4 == 0 ? static_cast<unsigned char>(1 + random() % 255)
                                        : pool[random() % sizeof pool];
    s += static_cast<char>(b);
  }
  return s;
}

TEST_F(UtfTest, RejectsWhatIconvRejectsOnRandomBytes) {
  std::mt19937 random(99);
  int rejected = 0;
  for (int round = 0; round < 100000; ++round) {
    std::string in = random_bytes(random, 1 + random() % 12);
    if (round % 3 == 0) in = std::string(random() % 40, 'x') + in;  // after a wide ASCII run
    IconvResult peer = iconv_convert("UTF-8", "UTF-16LE", in);
    std::u16string ours;
    mpm_Status status = utf8_to_16(in, &ours);
    ASSERT_EQ(status == 0, peer.ok) << testing::PrintToString(in);
    if (peer.ok) {
      EXPECT_EQ(as_bytes(ours), peer.out);
    } else {
      ++rejected;
      const auto *bytes = reinterpret_cast<const unsigned char *>(in.data());
      std::vector<uint16_t> scratch(unl::utf16_units_of_utf8(bytes, in.size()) + unl::kSlack);
      unl::Outcome outcome = unl::utf8_to_utf16(reinterpret_cast<const unsigned char *>(in.data()),
                                               in.size(), scratch.data());
      EXPECT_FALSE(outcome.ok);
      EXPECT_EQ(outcome.error_at, peer.error_at) << testing::PrintToString(in);
      // Issued only when the structural walk passed.
      bool walked = unl_UTF8Length(in.c_str(), nullptr, nullptr, nullptr) == 0;
      EXPECT_EQ(pending_texts().size(), walked ? 1u : 0u);
    }
    mpm_DiscardPending(0);
  }
  EXPECT_GT(rejected, 10000);
}

TEST_F(UtfTest, Utf16RejectsWhatIconvRejectsOnRandomUnits) {
  std::mt19937 random(5);
  const uint16_t pool[] = {'a', 0x7F, 0x80, 0x7FF, 0x800, 0xD7FF, 0xD800, 0xDBFF,
                           0xDC00, 0xDFFF, 0xE000, 0xFFFF, 0xFFFE, 0xFEFF};
  int rejected = 0;
  for (int round = 0; round < 50000; ++round) {
    std::u16string in;
    std::size_t length = 1 + random() % 10;
    if (round % 3 == 0) in.assign(random() % 30, u'x');
    for (std::size_t i = 0; i < length; ++i)
      in += static_cast<char16_t>(random() % 3 == 0 ? 1 + random() % 0xFFFF
                                                     : pool[random() % (sizeof pool / 2)]);
    IconvResult peer = iconv_convert("UTF-16LE", "UTF-8", as_bytes(in));
    std::string ours;
    mpm_Status status = utf16_to_8(in, &ours);
    ASSERT_EQ(status == 0, peer.ok) << round;
    if (peer.ok) {
      EXPECT_EQ(ours, peer.out);
    } else {
      ++rejected;
      const auto *units = reinterpret_cast<const uint16_t *>(in.data());
      std::vector<unsigned char> scratch(unl::utf8_bytes_of_utf16(units, in.size()) + unl::kSlack);
      unl::Outcome outcome = unl::utf16_to_utf8(units, in.size(), scratch.data());
      EXPECT_EQ(2 * outcome.error_at, peer.error_at) << round;
    }
    mpm_DiscardPending(0);
  }
  EXPECT_GT(rejected, 5000);
}

TEST_F(UtfTest, Utf32RejectsWhatIconvRejects) {
  std::mt19937 random(17);
  for (int round = 0; round < 20000; ++round) {
    std::vector<uint32_t> points;
    std::string bytes;
    for (int i = 0; i < 4; ++i) {
      uint32_t cp = random() % 4 == 0 ? static_cast<uint32_t>(random()) | 1u
                                      : (random() % 2 ? 0xD700 + random() % 0x1000
                                                      : 0x10F000 + random() % 0x2000);
      points.push_back(cp);
      for (int k = 0; k < 4; ++k) bytes += static_cast<char>((cp >> (8 * k)) & 0xFF);
    }
    points.push_back(0);
    IconvResult peer = iconv_convert("UTF-32LE", "UTF-8", bytes);
    char *ours = nullptr;
    mpm_Status status = unl_StrUTF32ToUTF8(points.data(), &ours);
    ASSERT_EQ(status == 0, peer.ok) << std::hex << points[0] << " " << points[1];
    if (status == 0) {
      EXPECT_EQ(std::string(ours), peer.out);
    }
    std::free(ours);
  }
}

}  // namespace
}  // namespace tesmar::test
