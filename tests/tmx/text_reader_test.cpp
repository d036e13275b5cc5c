// The text reader: bytes, UTF-8 characters, line ends, lines and columns.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/library.h"

namespace tesmar::test {
namespace {

class TextReaderTest : public LibraryTest {
 protected:
  // Reads a whole file with `next` until -1.
  std::vector<int32_t> read_all(const std::string &bytes, int32_t (*next)(tmx_TextReader *)) {
    std::string path = dir.file("text");
    write_file(path, bytes);
    tmx_TextReader reader;
    EXPECT_EQ(tmx_OpenTextReader(&reader, path.c_str()), 1);
    std::vector<int32_t> out;
    for (int32_t c; (c = next(&reader)) != -1;) out.push_back(c);
    EXPECT_EQ(reader.byte_count, static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(tmx_CloseTextReader(&reader), 1);
    return out;
  }
  TempDir dir;
};

TEST_F(TextReaderTest, Utf8Decoding) {
  using V = std::vector<int32_t>;
  EXPECT_EQ(read_all("\xC3\xA9", tmx_ReadUTF8Char), V({0xE9}));
  EXPECT_EQ(read_all("\xC3\x41", tmx_ReadUTF8Char), V({0xFFFD, 'A'}));
  EXPECT_EQ(read_all("\x80", tmx_ReadUTF8Char), V({0xFFFD}));
  EXPECT_EQ(read_all("\xE6\x97\xA5\xF0\x9F\x98\x80z", tmx_ReadUTF8Char), V({0x65E5, 0x1F600, 'z'}));
  EXPECT_EQ(read_all("\xE6\x97", tmx_ReadUTF8Char), V({0xFFFD}));  // cut by the end
  EXPECT_EQ(read_all("\xF8\x88\x80\x80\x80", tmx_ReadUTF8Char), V(5, 0xFFFD));
  // Overlong forms, surrogates and values above U+10FFFF are refused whole.
  EXPECT_EQ(read_all("\xC0\xAF/", tmx_ReadUTF8Char), V({0xFFFD, '/'}));
  EXPECT_EQ(read_all("\xE0\x80\xAF", tmx_ReadUTF8Char), V({0xFFFD}));
  EXPECT_EQ(read_all("\xED\xA0\x80", tmx_ReadUTF8Char), V({0xFFFD}));
  EXPECT_EQ(read_all("\xF4\x90\x80\x80", tmx_ReadUTF8Char), V({0xFFFD}));
  EXPECT_EQ(read_all("\xF4\x8F\xBF\xBF", tmx_ReadUTF8Char), V({0x10FFFF}));
}

TEST_F(TextReaderTest, LineEndsFold) {
  using V = std::vector<int32_t>;
  EXPECT_EQ(read_all("a\r\nb", tmx_ReadChar), V({'a', '\n', 'b'}));
  EXPECT_EQ(read_all("a\n\rb", tmx_ReadChar), V({'a', '\n', 'b'}));
  EXPECT_EQ(read_all("a\nb", tmx_ReadChar), V({'a', '\n', 'b'}));
  EXPECT_EQ(read_all("a\rb", tmx_ReadChar), V({'a', '\r', 'b'}));
  EXPECT_EQ(read_all("a\r\r\nb", tmx_ReadChar), V({'a', '\n', 'b'}));
  EXPECT_EQ(read_all("a\r\rb", tmx_ReadChar), V({'a', '\r', 'b'}));
  EXPECT_EQ(read_all("a\n\nb", tmx_ReadChar), V({'a', '\n', '\n', 'b'}));
  EXPECT_EQ(read_all("a\r\n\r\nb\r\n\x1A", tmx_ReadChar), V({'a', '\n', '\n', 'b', '\n'}));
  EXPECT_EQ(read_all("a\x1A" "b", tmx_ReadChar), V({'a', 0x1A, 'b'}));
}

TEST_F(TextReaderTest, OpenFailuresLeaveNothingOpen) {
  tmx_TextReader reader;
  EXPECT_EQ(tmx_OpenTextReader(&reader, dir.file("missing").c_str()), 0);
  EXPECT_EQ(reader.stream, nullptr);
  EXPECT_EQ(reader.buffer, nullptr);
  EXPECT_EQ(tmx_OpenTextReader(&reader, dir.path().c_str()), 0);
  EXPECT_EQ(errno, EISDIR);
  EXPECT_EQ(reader.stream, nullptr);
  EXPECT_EQ(tmx_OpenTextReader(&reader, nullptr), 0);
  EXPECT_EQ(tmx_OpenTextReader(nullptr, dir.file("x").c_str()), 0);
  EXPECT_EQ(tmx_ReadByte(nullptr), -1);
  EXPECT_EQ(tmx_CloseTextReader(&reader), 1);
}

}  // namespace
}  // namespace tesmar::test
