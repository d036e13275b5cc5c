// The option parser: values of every type and their limits, groups, required options, the table
// checks, and the compacted vector.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/library.h"

namespace tesmar::test {
namespace {

// An argument vector the parser may rewrite, with room for the terminator.
class Args {
 public:
  Args(std::initializer_list<const char *> args) {
    for (const char *a : args) storage_.emplace_back(a);
    for (std::string &s : storage_) pointers_.push_back(s.data());
    pointers_.push_back(nullptr);
    argc_ = static_cast<int32_t>(storage_.size());
  }
  int32_t *argc() { return &argc_; }
  char **argv() { return pointers_.data(); }
  // The arguments now in the vector, from index 1.
  std::vector<std::string> rest() const {
    std::vector<std::string> r;
    for (int32_t i = 1; i < argc_; ++i) r.emplace_back(pointers_[i]);
    return r;
  }
  bool terminated() const { return pointers_[argc_] == nullptr; }

 private:
  std::vector<std::string> storage_;
  std::vector<char *> pointers_;
  int32_t argc_ = 0;
};

class OptionsTest : public LibraryTest {
 protected:
  int32_t flag_ = 0, number_ = 0, count_ = 0;
  double scale_ = 0;
  uint64_t handle_ = 0;
  uint32_t tf_ = 0;
  const char *file_ = nullptr;
  const char *mode_ = nullptr;
  int32_t fast_ = 0, slow_ = 0;
  std::vector<ugn_Option> table() {
    return {
        {"o", "s+", "FILE", &file_, "output file"},
        {"v", "f", nullptr, &flag_, "verbose"},
        {"n", "i", "N", &number_, "a number"},
        {"c", "l", "N", &count_, "a count"},
        {"x", "d", "X", &scale_, "a scale"},
        {"e", "m", "M:E", &handle_, "an entity"},
        {"t", "t", "T:F", &tf_, "a type form"},
        {"[", nullptr, nullptr, nullptr, nullptr},
        {"fast", "f", nullptr, &fast_, "go fast"},
        {"slow", "f", nullptr, &slow_, "go slow"},
        {"mode", "s", "M", &mode_, "a mode"},
        {"]", nullptr, nullptr, nullptr, nullptr},
        {"keep", "s", "K", nullptr, "stays in the vector"},
        {"flagonly", "f", nullptr, nullptr, "stays too"},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
  }
  mpm_Status parse(Args &args) {
    std::vector<ugn_Option> t = table();
    return ugn_ParseCommandLine(0, t.data(), args.argc(), args.argv());
  }
  std::string first_pending() {
    std::vector<std::string> texts = pending_texts();
    return texts.empty() ? "" : texts.front();
  }
};

TEST_F(OptionsTest, HandleWithoutModelIsModelZero) {
  Args args{"p", "-o", "f", "-e", "42"};
  ASSERT_EQ(parse(args), 0u);
  EXPECT_EQ(handle_, 42u);
}

TEST_F(OptionsTest, ValuesBeyondTheirLimitsAreRefused) {
  struct Case {
    const char *option, *value;
    mpm_Status code;
  } cases[] = {
      {"-n", "2147483648", UGN_OPTS_VALUE_MISSING}, {"-n", "-2147483649", UGN_OPTS_VALUE_MISSING},
      {"-c", "9223372036854775807", UGN_OPTS_VALUE_MISSING}, {"-c", "99999999999999999999", UGN_OPTS_VALUE_MISSING},
      {"-n", "12abc", UGN_OPTS_VALUE_MISSING}, {"-n", "", UGN_OPTS_VALUE_MISSING},
      {"-n", "0x10", UGN_OPTS_VALUE_MISSING}, {"-n", " 5", UGN_OPTS_VALUE_MISSING},
      {"-x", "abc", UGN_OPTS_VALUE_MISSING}, {"-x", "1e999", UGN_OPTS_VALUE_MISSING},
      {"-x", "1,5", UGN_OPTS_VALUE_MISSING}, {"-x", "-", UGN_OPTS_VALUE_MISSING},
      {"-e", "65536:1", UGN_OPTS_INVALID_TF}, {"-e", "1:281474976710656", UGN_OPTS_INVALID_TF},
      {"-e", "x", UGN_OPTS_INVALID_TF}, {"-e", "1:", UGN_OPTS_INVALID_TF}, {"-e", ":5", UGN_OPTS_INVALID_TF},
      {"-t", "3", UGN_OPTS_INVALID_TF}, {"-t", "3:65536", UGN_OPTS_INVALID_TF}, {"-t", "3:x", UGN_OPTS_INVALID_TF},
      {"-t", "-32769:0", UGN_OPTS_VALUE_MISSING},  // begins with '-': taken for the next option
      {"-mode", "-n", UGN_OPTS_VALUE_MISSING}, {"-e", "-1", UGN_OPTS_VALUE_MISSING},
  };
  for (const Case &c : cases) {
    number_ = 77;
    Args args{"p", "-o", "f", c.option, c.value, "rest"};
    EXPECT_EQ(parse(args), c.code) << c.option << " " << c.value;
    EXPECT_EQ(*args.argc(), 6) << "the vector is left alone after a failure";
    EXPECT_EQ(number_, 77);
    mpm_DiscardPending(0);
  }
  Args args{"p", "-o", "f", "-t", "1:x"};
  EXPECT_EQ(parse(args), UGN_OPTS_INVALID_TF);
  EXPECT_EQ(first_pending(), "*** Error (UGN_OPTS_INVALID_TF) ***\nInvalid type/form \"1:x\" specified for option \"-t\".\n");
}

TEST_F(OptionsTest, SmallestAndLargestValuesAreAccepted) {
  Args args{"p", "-o", "f", "-n", "-2147483648", "-c", "+17", "-t", "65535:-32768", "-x", "1e-300"};
  ASSERT_EQ(parse(args), 0u) << first_pending();
  EXPECT_EQ(number_, INT32_MIN);
  EXPECT_EQ(count_, 17);
  EXPECT_EQ(tf_, 0xFFFF8000u);
  EXPECT_EQ(scale_, 1e-300);
}

TEST_F(OptionsTest, ArgumentFailuresNameTheirOption) {
  struct Case {
    std::vector<const char *> args;
    mpm_Status code;
    const char *text;
  } cases[] = {
      {{"p", "-o", "f", "-q"}, UGN_OPTS_UNKNOWN_OPTION, "Unknown option \"-q\" found.\n"},
      {{"p", "-o", "f", "-"}, UGN_OPTS_UNKNOWN_OPTION, "Unknown option \"-\" found.\n"},
      {{"p", "-o", "f", "-["}, UGN_OPTS_UNKNOWN_OPTION, "Unknown option \"-[\" found.\n"},
      {{"p", "-v", "-o", "f", "-v"}, UGN_OPTS_REPEATED_OPTION, "Option \"-v\" was specified more than once.\n"},
      {{"p", "-o", "f", "-o", "g"}, UGN_OPTS_REPEATED_OPTION, "Option \"-o\" was specified more than once.\n"},
      {{"p", "-o", "f", "-fast", "-slow"}, UGN_OPTS_CONFLICT,
       "Options \"-slow\" and \"-fast\" can not be specified at the same time.\n"},
      {{"p", "-mode", "m", "-o", "f", "-fast"}, UGN_OPTS_CONFLICT,
       "Options \"-fast\" and \"-mode\" can not be specified at the same time.\n"},
      {{"p", "-o"}, UGN_OPTS_VALUE_MISSING, "Option \"-o\" requires a value to be specified.\n"},
      {{"p", "-v"}, UGN_OPTS_REQUIRED_NOT_FOUND, "Required option \"-o\" not specified.\n"},
      {{"p"}, UGN_OPTS_REQUIRED_NOT_FOUND, "Required option \"-o\" not specified.\n"},
      {{"p", "in", "-o", "f"}, UGN_OPTS_REQUIRED_NOT_FOUND, "Required option \"-o\" not specified.\n"},
  };
  for (Case &c : cases) {
    std::vector<std::string> storage(c.args.begin(), c.args.end());
    std::vector<char *> argv;
    for (std::string &s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);
    auto argc = static_cast<int32_t>(storage.size());
    std::vector<ugn_Option> t = table();
    EXPECT_EQ(ugn_ParseCommandLine(0, t.data(), &argc, argv.data()), c.code) << c.text;
    EXPECT_EQ(first_pending(), std::string("*** Error (") + mpm_GetMessageName(c.code) + ") ***\n" + c.text);
    EXPECT_EQ(pending_texts().size(), 1u);
    mpm_DiscardPending(0);
  }
}

TEST_F(LibraryTest, UgnTableChecksComeFirst) {
  int32_t v = 0;
  struct Case {
    std::vector<ugn_Option> table;
    mpm_Status code;
    std::string text;
  } cases[] = {
      {{{"a", "f", nullptr, &v, nullptr}, {"", "f", nullptr, &v, nullptr}, {}}, UGN_OPTS_INVALID_NAME,
       "Zero length name found in options structure at index 1.\n"},
      {{{"a", nullptr, nullptr, &v, nullptr}, {}}, UGN_OPTS_INVALID_TYPE,
       "Invalid type string found in options structure at index 0.\n"},
      {{{"[", nullptr, nullptr, nullptr, nullptr}, {"a", "", nullptr, &v, nullptr}, {}}, UGN_OPTS_INVALID_TYPE,
       "Invalid type string found in options structure at index 1.\n"},
      {{{"[", nullptr, nullptr, nullptr, nullptr}, {"[", nullptr, nullptr, nullptr, nullptr}, {}},
       UGN_OPTS_INVALID_GROUP, "Invalid group found in options structure at index 1.\n"},
      {{{"a", "f", nullptr, &v, nullptr}, {"]", nullptr, nullptr, nullptr, nullptr}, {}}, UGN_OPTS_INVALID_GROUP,
       "Invalid group found in options structure at index 1.\n"},
      {{{"[", nullptr, nullptr, nullptr, nullptr}, {"a", "f+", nullptr, &v, nullptr}, {}},
       UGN_OPTS_REQUIRED_IN_GROUP, "Required option \"-a\" is inside an option group.\n"},
      {{{"z", "zq", nullptr, &v, nullptr}, {}}, 0, ""},  // letters are checked when used
  };
  for (Case &c : cases) {
    char prog[] = "p";
    char *argv[] = {prog, nullptr};
    int32_t argc = 1;
    EXPECT_EQ(ugn_ParseCommandLine(0, c.table.data(), &argc, argv), c.code) << c.text;
    std::vector<std::string> texts = pending_texts();
    if (c.code != 0) {
      ASSERT_EQ(texts.size(), 1u);
      EXPECT_EQ(texts.front(), std::string("*** Error (") + mpm_GetMessageName(c.code) + ") ***\n" + c.text);
    }
    mpm_DiscardPending(0);
  }
  // An unknown type letter, when the option is used.
  std::vector<ugn_Option> t{{"z", "zq", nullptr, &v, nullptr}, {}};
  char prog[] = "p", opt[] = "-z", val[] = "1";
  char *argv[] = {prog, opt, val, nullptr};
  int32_t argc = 3;
  EXPECT_EQ(ugn_ParseCommandLine(0, t.data(), &argc, argv), UGN_OPTS_ILLEGAL_TYPE);
  EXPECT_EQ(pending_texts().front(), "*** Error (UGN_OPTS_ILLEGAL_TYPE) ***\nType \"zq\" for option \"z\" is not a known type.\n");
  // No vector at all: the required options are still missing.
  std::vector<ugn_Option> required{{"r", "s+", nullptr, &v, nullptr}, {}};
  EXPECT_EQ(ugn_ParseCommandLine(0, required.data(), nullptr, nullptr), UGN_OPTS_REQUIRED_NOT_FOUND);
}

}  // namespace
}  // namespace tesmar::test
