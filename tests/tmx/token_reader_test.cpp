// The token reader of file-type detection against a plain byte-at-a-time reference, whole and
// through reads cut at every size; and the platform read it relies on.
#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tmx/token_reader.h"

namespace tesmar::tmx {
namespace {

// The token rules read one byte at a time with one pushed-back byte.
class Reference {
 public:
  explicit Reference(std::string data) : data_(std::move(data)) {}
  std::optional<std::string> next() {
    std::string token;
    bool quoted = false;
    const auto at_end = [&]() -> std::optional<std::string> {
      if (!token.empty() && !quoted) return token;
      return std::nullopt;
    };
    for (;;) {
      int c = get();
      if (c < 0) return at_end();
      if (c == '/') {
        int d = get();
        if (d == '*') {
          int previous = 0;
          for (;;) {
            int e = get();
            if (e < 0) return at_end();
            if (previous == '*' && e == '/') break;
            previous = e;
          }
          continue;
        }
        if (d >= 0) pushed_ = d;
        if (!token.empty()) return token;
        if (d < 0) return std::nullopt;
        continue;
      }
      if (c == '\'') {
        if (quoted) return token;
        quoted = true;
        continue;
      }
      const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
      if (letter || (c != 0 && std::strchr(";-_{}", c) != nullptr) || (quoted && c == ' ')) {
        token += static_cast<char>(c);
        if (token.size() == 119) return token;
        continue;
      }
      if (!token.empty()) return token;
    }
  }

 private:
  int get() {
    if (pushed_ >= 0) {
      int c = pushed_;
      pushed_ = -1;
      return c;
    }
    return position_ < data_.size() ? static_cast<uint8_t>(data_[position_++]) : -1;
  }
  std::string data_;
  std::size_t position_ = 0;
  int pushed_ = -1;
};

// Bytes from memory, handed out in pieces of the sizes given (cycled), then the end.
struct Pieces {
  std::string data;
  std::vector<std::size_t> sizes;
  std::size_t position = 0;
  std::size_t turn = 0;
  static int64_t read(void *context, uint8_t *buffer, std::size_t size) {
    auto *self = static_cast<Pieces *>(context);
    std::size_t n = std::min({size, self->data.size() - self->position,
                              self->sizes.empty() ? size : self->sizes[self->turn++ % self->sizes.size()]});
    std::memcpy(buffer, self->data.data() + self->position, n);
    self->position += n;
    return static_cast<int64_t>(n);
  }
};

std::vector<std::string> reference_tokens(const std::string &data) {
  Reference reference(data);
  std::vector<std::string> tokens;
  while (auto token = reference.next()) tokens.push_back(*token);
  return tokens;
}

std::vector<std::string> reader_tokens(const std::string &data, std::vector<std::size_t> sizes,
                                       std::size_t capacity = 4096, std::string *header = nullptr) {
  Pieces pieces{data, std::move(sizes)};
  std::vector<uint8_t> buffer(capacity);
  TokenReader reader(ByteSource{Pieces::read, &pieces}, buffer.data(), buffer.size());
  EXPECT_TRUE(reader.read_header());
  if (header != nullptr) header->assign(reinterpret_cast<const char *>(reader.header().data()), reader.header().size());
  std::vector<std::string> tokens;
  TokenReader::Result r;
  while ((r = reader.next()) == TokenReader::Result::kToken) tokens.emplace_back(reader.token());
  EXPECT_EQ(r, TokenReader::Result::kEnd);
  EXPECT_EQ(reader.next(), TokenReader::Result::kEnd);  // the end repeats
  return tokens;
}

using Tokens = std::vector<std::string>;

TEST(TokenReader, ReadErrorsAreReportedAndRepeat) {
  struct Failing {
    int calls = 0;
    static int64_t read(void *context, uint8_t *buffer, std::size_t) {
      auto *self = static_cast<Failing *>(context);
      if (++self->calls > 1) {
        errno = EIO;
        return -1;
      }
      std::memset(buffer, 'w', 200);
      return 200;
    }
  } failing;
  std::vector<uint8_t> buffer(200);
  TokenReader reader(ByteSource{Failing::read, &failing}, buffer.data(), buffer.size());
  ASSERT_TRUE(reader.read_header());
  EXPECT_EQ(reader.next(), TokenReader::Result::kToken);  // the first 119 'w'
  EXPECT_EQ(reader.next(), TokenReader::Result::kError);  // 81 more, then the failed read
  EXPECT_EQ(reader.error(), EIO);
  EXPECT_EQ(reader.next(), TokenReader::Result::kError);
  EXPECT_EQ(failing.calls, 2);
}

// Random texts over the bytes that matter, compared with the reference through reads of every
// size and the smallest buffer.
TEST(TokenReader, AgreesWithTheReferenceOnRandomTexts) {
  std::mt19937 rng(20260106);
  static const char kBytes[] = "aZ09;-_{}  \n\t/*'.=,\x80\xff";
  const std::string alphabet(kBytes, sizeof kBytes);  // with the NUL
  for (int round = 0; round < 3000; ++round) {
    std::string data;
    const std::size_t length = rng() % 700;
    while (data.size() < length) {
      if (rng() % 50 == 0)
        data.append(100 + rng() % 40, 'L');  // long tokens around the 119 limit
      else
        data += alphabet[rng() % alphabet.size()];
    }
    const Tokens expected = reference_tokens(data);
    std::vector<std::size_t> sizes = {1 + rng() % 9, 1 + rng() % 300, 1 + rng() % 2};
    ASSERT_EQ(reader_tokens(data, sizes, TokenReader::kMinimumCapacity), expected) << data;
    ASSERT_EQ(reader_tokens(data, {}, 1 << 16), expected) << data;
  }
}

// ---- The platform read ----

volatile sig_atomic_t g_alarms = 0;
void on_alarm(int) { g_alarms = g_alarms + 1; }

void *write_later(void *fd) {
  usleep(300000);
  const char byte = 'x';
  EXPECT_EQ(write(*static_cast<int *>(fd), &byte, 1), 1);
  return nullptr;
}

TEST(PlatformRead, RetriesWhenASignalInterruptsIt) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  struct sigaction action = {}, saved = {};
  action.sa_handler = on_alarm;  // no SA_RESTART: the blocked read() fails with EINTR
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGALRM, &action, &saved), 0);
  // The writer starts with the alarm blocked, so that the alarm interrupts this thread's read.
  sigset_t alarm_only, previous;
  sigemptyset(&alarm_only);
  sigaddset(&alarm_only, SIGALRM);
  pthread_sigmask(SIG_BLOCK, &alarm_only, &previous);
  pthread_t writer;
  ASSERT_EQ(pthread_create(&writer, nullptr, write_later, &fds[1]), 0);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  g_alarms = 0;
  itimerval timer = {};
  timer.it_value.tv_usec = 50000;
  setitimer(ITIMER_REAL, &timer, nullptr);
  char byte = 0;
  EXPECT_EQ(platform::read_descriptor(fds[0], &byte, 1), 1);
  EXPECT_EQ(byte, 'x');
  EXPECT_EQ(g_alarms, 1);
  pthread_join(writer, nullptr);
  sigaction(SIGALRM, &saved, nullptr);
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
}  // namespace tesmar::tmx
