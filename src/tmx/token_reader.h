// The token reader of file-type detection: the first bytes of a file, then a stream of short
// tokens read from its start through one large buffer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace tesmar::tmx {

// Where the reader gets its bytes. `read` fills up to `size` bytes of `buffer` and returns the
// count, 0 at the end of the file, or -1 with errno set; it retries interrupted calls itself.
struct ByteSource {
  int64_t (*read)(void *context, uint8_t *buffer, std::size_t size);
  void *context;
};

// Tokens are runs of letters, digits and ; - _ { } (ASCII, whatever the locale), at most 119 of
// them. White space and every other byte end a token and are skipped before one. "/*" starts a
// comment that runs to "*/" and is skipped (the token goes on after it); a '/' that does not start
// a comment ends the token and is dropped, the byte after it being read again by the next call. A
// single quote starts a quoted part in which blanks are token characters; the next single quote
// ends the token (an empty quoted part is an empty token). The end of the file ends a token like a
// blank, except inside a quoted part, whose token is then incomplete and not returned.
class TokenReader {
 public:
  static constexpr std::size_t kTokenLimit = 119;
  static constexpr std::size_t kHeaderSize = 160;
  // The buffer must hold at least kHeaderSize bytes.
  static constexpr std::size_t kMinimumCapacity = kHeaderSize;

  enum class Result { kToken, kEnd, kError };

  // `buffer` (of `capacity` bytes) stays the caller's and must outlive the reader.
  TokenReader(ByteSource source, uint8_t *buffer, std::size_t capacity);

  // Reads the first kHeaderSize bytes (fewer when the file is shorter); call it before next().
  // False on a read error.
  bool read_header();
  std::span<const uint8_t> header() const { return {header_.data(), header_size_}; }

  // Reads the next token. kEnd at the end of the file, kError when a read failed (error() tells
  // the errno); both repeat on later calls.
  Result next();
  // The token; valid until the next call.
  std::string_view token() const { return {text_, length_}; }
  // Marks of skip_unmarked(), one per byte value.
  static constexpr uint8_t kUnmarked = 0;
  static constexpr uint8_t kMarkedFirst = 1;     // matters as the first byte of a token
  static constexpr uint8_t kMarkedAnywhere = 2;  // matters anywhere in a token ('/' and the quote)

  // Whether a token is of interest to the caller of skip_unmarked().
  using Interest = bool (*)(std::string_view token, const void *context);

  // Moves past the tokens that neither start with a kMarkedFirst byte nor hold a kMarkedAnywhere
  // byte (nor touch a '/' or quote, which must be marked anywhere), and the bytes between them,
  // stopping at the start of the first token that does; a marked token that lies whole in the
  // buffer is first shown to `interest` (when given), and passed over too when it is of no
  // interest. The next call to next() returns the token stopped at, exactly as if the tokens
  // before it had been read one by one: for a caller that only looks for some tokens, the rest is
  // skipped at the speed of a byte search.
  void skip_unmarked(const std::array<uint8_t, 256> &marks, Interest interest = nullptr,
                     const void *context = nullptr);
  // Offset in the file just past the last character of the token returned last.
  uint64_t token_end() const { return token_end_; }
  int error() const { return error_; }

 private:
  bool fill();
  Result stop(bool quoted);
  bool skip_comment();

  ByteSource source_;
  uint8_t *buffer_;
  std::size_t capacity_;
  std::size_t position_ = 0;  // next byte to look at
  std::size_t end_ = 0;       // end of the valid bytes
  uint64_t base_ = 0;         // file offset of buffer_[0]
  bool at_end_ = false;
  int error_ = 0;
  const char *text_ = nullptr;  // the token: in token_, or where it lies in the buffer
  std::size_t length_ = 0;
  uint64_t token_end_ = 0;
  std::array<char, kTokenLimit> token_{};
  std::array<uint8_t, kHeaderSize> header_{};
  std::size_t header_size_ = 0;
};

}  // namespace tesmar::tmx
