// The token reader of file-type detection.
//
// Design: the reader owns no memory; it moves through the caller's buffer, which always holds the
// bytes [base_, base_ + end_) of the file, of which [0, position_) are consumed. fill() is called
// only when position_ == end_ and replaces the whole buffer with the next bytes of the file, so a
// byte is never read twice and the only look-ahead (the byte after a '/') is done by leaving that
// byte unconsumed. Between calls position_ is always where a token search begins: no token is
// under way and no quoted part is open. A plain token that lies whole in the buffer is handed out
// where it lies; any other token (one that crosses a refill, a comment or a quote) is copied into
// token_ as its characters are accepted, so it may span any number of refills. Once the end of
// the file or a read error has been seen, at_end_ or error_ stays set and fill() does not read
// again.
//
// Speed: an unknown file is scanned to its end. The two common runs (bytes skipped between
// tokens, and token characters) are consumed by tight loops over a class table, and
// skip_unmarked() lets a caller pass over the tokens it has no use for with one table lookup per
// byte, stopping only at marked bytes (and at '/' and quotes, where tokens are not plain runs).
#include "tmx/token_reader.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>

namespace tesmar::tmx {
namespace {

enum Class : uint8_t { kSkip, kToken, kBlank, kSlash, kQuote };

constexpr std::array<uint8_t, 256> make_classes() {
  std::array<uint8_t, 256> classes{};  // kSkip: white space, controls, punctuation, bytes >= 0x80
  for (int c = 'A'; c <= 'Z'; ++c) classes[c] = kToken;
  for (int c = 'a'; c <= 'z'; ++c) classes[c] = kToken;
  for (int c = '0'; c <= '9'; ++c) classes[c] = kToken;
  for (char c : {';', '-', '_', '{', '}'}) classes[static_cast<uint8_t>(c)] = kToken;
  classes[' '] = kBlank;
  classes['/'] = kSlash;
  classes['\''] = kQuote;
  return classes;
}

constexpr std::array<uint8_t, 256> kClasses = make_classes();

bool is_delimiter(uint8_t c) { return kClasses[c] == kSkip || kClasses[c] == kBlank; }

}  // namespace

TokenReader::TokenReader(ByteSource source, uint8_t *buffer, std::size_t capacity)
    : source_(source), buffer_(buffer), capacity_(capacity) {
  assert(capacity >= kMinimumCapacity);
}

bool TokenReader::read_header() {
  assert(base_ == 0 && position_ == 0);
  while (end_ < kHeaderSize && !at_end_) {
    int64_t n = source_.read(source_.context, buffer_ + end_, capacity_ - end_);
    if (n < 0) {
      error_ = errno != 0 ? errno : EIO;
      return false;
    }
    if (n == 0) at_end_ = true;
    end_ += static_cast<std::size_t>(n);
  }
  header_size_ = end_ < kHeaderSize ? end_ : kHeaderSize;
  std::memcpy(header_.data(), buffer_, header_size_);
  return true;
}

bool TokenReader::fill() {
  assert(position_ == end_);
  if (at_end_ || error_ != 0) return false;
  base_ += end_;
  position_ = end_ = 0;
  int64_t n = source_.read(source_.context, buffer_, capacity_);
  if (n < 0) {
    error_ = errno != 0 ? errno : EIO;
    return false;
  }
  if (n == 0) {
    at_end_ = true;
    return false;
  }
  end_ = static_cast<std::size_t>(n);
  return true;
}

// The end of the file (or a read error) met while reading a token.
TokenReader::Result TokenReader::stop(bool quoted) {
  if (error_ != 0) return Result::kError;
  return length_ > 0 && !quoted ? Result::kToken : Result::kEnd;
}

// Skips a comment whose "/*" has been consumed; false when the file ends first.
bool TokenReader::skip_comment() {
  for (;;) {
    if (position_ == end_ && !fill()) return false;
    const void *star = std::memchr(buffer_ + position_, '*', end_ - position_);
    if (star == nullptr) {
      position_ = end_;
      continue;
    }
    position_ = static_cast<std::size_t>(static_cast<const uint8_t *>(star) - buffer_) + 1;
    for (;;) {  // after a '*': more stars, the closing '/', or back to the comment's text
      if (position_ == end_ && !fill()) return false;
      if (buffer_[position_] != '*') break;
      ++position_;
    }
    if (buffer_[position_] == '/') {
      ++position_;
      return true;
    }
  }
}

// The tokens of a run of token characters starting at `run` are cut every kTokenLimit characters:
// the start of the token holding byte `k` of the run.
static std::size_t token_start(std::size_t run, std::size_t k) {
  return run + (k - run) / TokenReader::kTokenLimit * TokenReader::kTokenLimit;
}

void TokenReader::skip_unmarked(const std::array<uint8_t, 256> &marks, Interest interest,
                                const void *context) {
  assert(marks['/'] == kMarkedAnywhere && marks['\''] == kMarkedAnywhere);
  for (;;) {
    // position_ is where a token search begins: no token is under way and nothing is quoted. Up
    // to the next '/' or quote, tokens are plain runs of token characters cut every kTokenLimit.
    const std::size_t from = position_;
    std::size_t run = from;  // start of the run that holds (or ends at) the marked byte m
    std::size_t k = from;
    std::size_t m;
    for (;;) {
      // One pass finds the marked byte and the start of its run: every byte that is not a token
      // character starts a new run after it.
      const uint8_t *bytes = buffer_;
      const std::size_t end = end_;
      std::size_t r = run;
      for (m = k; m < end; ++m) {
        const uint8_t c = bytes[m];
        if (marks[c] != kUnmarked) break;
        r = kClasses[c] == kToken ? r : m + 1;
      }
      run = r;
      if (m == end_) break;
      const std::size_t start = token_start(run, m);
      if (marks[buffer_[m]] == kMarkedAnywhere || start == m) {
        position_ = start;
        break;
      }
      k = m + 1;  // a byte that matters only at the start of a token, and is not there
    }
    if (m == end_) {
      // Nothing that matters here: a token the buffer ends inside may go on after the refill.
      position_ = token_start(run, end_);
      if (position_ < end_ || !fill()) return;
      continue;
    }
    // A plain token that lies whole in the buffer, ended by white space or punctuation, is shown
    // to the caller at once; the others are left to next().
    const std::size_t start = position_;
    std::size_t q = start;
    const std::size_t limit = std::min(end_, start + kTokenLimit);
    while (q < limit && kClasses[buffer_[q]] == kToken) ++q;
    if (interest == nullptr || q == start || q == limit || !is_delimiter(buffer_[q]) ||
        interest(std::string_view(reinterpret_cast<const char *>(buffer_ + start), q - start), context))
      return;
    position_ = q;
  }
}

TokenReader::Result TokenReader::next() {
  length_ = 0;
  text_ = token_.data();
  // The common case first: a plain token that lies in the buffer and ends at a white-space or
  // punctuation byte is handed out where it lies.
  {
    const uint8_t *bytes = buffer_;
    std::size_t p = position_;
    const std::size_t end = end_;
    while (p < end && (kClasses[bytes[p]] == kSkip || kClasses[bytes[p]] == kBlank)) ++p;
    std::size_t q = p;
    const std::size_t limit = std::min(end, p + kTokenLimit);
    while (q < limit && kClasses[bytes[q]] == kToken) ++q;
    position_ = p;
    if (q > p && (q - p == kTokenLimit ||
                  (q < end && (kClasses[bytes[q]] == kSkip || kClasses[bytes[q]] == kBlank)))) {
      text_ = reinterpret_cast<const char *>(bytes + p);
      length_ = q - p;
      token_end_ = base_ + q;
      position_ = q == end ? q : q + (length_ < kTokenLimit);
      return Result::kToken;
    }
  }
  bool quoted = false;
  for (;;) {
    if (position_ == end_ && !fill()) return stop(quoted);
    const uint8_t *bytes = buffer_;
    std::size_t p = position_;
    const std::size_t end = end_;
    if (length_ == 0 && !quoted) {
      while (p < end && (kClasses[bytes[p]] == kSkip || kClasses[bytes[p]] == kBlank)) ++p;
      position_ = p;
      if (p == end) continue;
    }
    // The run of token characters here, as far as the token may still grow.
    const std::size_t run = p;
    const std::size_t limit = std::min(end, p + (kTokenLimit - length_));
    if (quoted) {
      while (p < limit && (kClasses[bytes[p]] == kToken || bytes[p] == ' ')) ++p;
    } else {
      while (p < limit && kClasses[bytes[p]] == kToken) ++p;
    }
    if (p != run) {
      std::memcpy(token_.data() + length_, bytes + run, p - run);
      length_ += p - run;
      token_end_ = base_ + p;
    }
    position_ = p;
    if (length_ == kTokenLimit) return Result::kToken;
    if (p == end) continue;

    const uint8_t c = bytes[position_++];
    switch (kClasses[c]) {
      case kQuote:
        if (quoted) return Result::kToken;
        quoted = true;
        break;
      case kSlash:
        if (position_ == end_ && !fill()) {
          if (error_ != 0) return Result::kError;
          return length_ > 0 ? Result::kToken : Result::kEnd;
        }
        if (buffer_[position_] == '*') {
          ++position_;
          if (!skip_comment()) return stop(quoted);
        } else if (length_ > 0) {
          return Result::kToken;  // the byte after the '/' is read again by the next call
        }
        break;
      default:  // white space or another byte that is not a token character
        if (length_ > 0) return Result::kToken;
        break;
    }
  }
}

}  // namespace tesmar::tmx
