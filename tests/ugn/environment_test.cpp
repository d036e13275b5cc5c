// The environment override table as tmx_GetEnv sees it, and temporary names.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "support/library.h"

namespace tesmar::test {
namespace {

std::string env(const char *name) {
  const char *value = nullptr;
  EXPECT_EQ(tmx_GetEnv(0, name, &value), 0u);
  return value != nullptr ? value : "<none>";
}

// Sets or clears a process environment variable for one test.
class ScopedEnv {
 public:
  ScopedEnv(const char *name, const char *value) : name_(name) {
    const char *old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value != nullptr)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_)
      setenv(name_.c_str(), old_.c_str(), 1);
    else
      unsetenv(name_.c_str());
  }

 private:
  std::string name_, old_;
  bool had_ = false;
};

TEST_F(LibraryTest, OverridesComeBeforeTheEnvironment) {
  ScopedEnv a("TESMAR_TEST_A", "from-env");
  ScopedEnv b("TESMAR_TEST_B", "b-env");
  ScopedEnv c("TESMAR_TEST_C", nullptr);
  EXPECT_EQ(env("TESMAR_TEST_A"), "from-env");
  ASSERT_EQ(ugn_PutEnv(0, "TESMAR_TEST_A", "set"), 0u);
  EXPECT_EQ(env("TESMAR_TEST_A"), "set");
  ASSERT_EQ(ugn_PutEnv(0, "TESMAR_TEST_A", "again"), 0u);
  EXPECT_EQ(env("TESMAR_TEST_A"), "again");

  // An alias is looked up first: its set value, else its environment value.
  ASSERT_EQ(ugn_SetEnvAlias(0, "TESMAR_TEST_A", "TESMAR_TEST_B"), 0u);
  EXPECT_EQ(env("TESMAR_TEST_A"), "b-env");
  ASSERT_EQ(ugn_PutEnv(0, "TESMAR_TEST_B", "b-set"), 0u);
  EXPECT_EQ(env("TESMAR_TEST_A"), "b-set");
  // An alias without a value falls back to the name's own value.
  ASSERT_EQ(ugn_SetEnvAlias(0, "TESMAR_TEST_A", "TESMAR_TEST_C"), 0u);
  EXPECT_EQ(env("TESMAR_TEST_A"), "again");
  // Removing the entry drops its value too.
  ASSERT_EQ(ugn_SetEnvAlias(0, "TESMAR_TEST_A", nullptr), 0u);
  EXPECT_EQ(env("TESMAR_TEST_A"), "from-env");
  // A null value removes the override but keeps an alias.
  ASSERT_EQ(ugn_PutEnv(0, "TESMAR_TEST_C", "c-set"), 0u);
  ASSERT_EQ(ugn_SetEnvAlias(0, "TESMAR_TEST_C", "TESMAR_TEST_A"), 0u);
  EXPECT_EQ(env("TESMAR_TEST_C"), "from-env");
  ASSERT_EQ(ugn_PutEnv(0, "TESMAR_TEST_C", nullptr), 0u);
  unsetenv("TESMAR_TEST_A");
  EXPECT_EQ(env("TESMAR_TEST_C"), "<none>");
  EXPECT_TRUE(pending_texts().empty());
}

TEST_F(LibraryTest, OverrideNamesAreAtMostSixtyThreeCharacters) {
  std::string longest(63, 'N'), too_long(64, 'N');
  EXPECT_EQ(ugn_PutEnv(0, longest.c_str(), "v"), 0u);
  EXPECT_EQ(env(longest.c_str()), "v");
  EXPECT_EQ(ugn_PutEnv(0, too_long.c_str(), "v"), UGN_ENV_VAR_TOO_LONG);
  EXPECT_EQ(pending_texts().front(), "*** Error (UGN_ENV_VAR_TOO_LONG) ***\nEnvironment variable name too long.\n");
  EXPECT_EQ(ugn_SetEnvAlias(0, "A", too_long.c_str()), UGN_ENV_VAR_TOO_LONG);
  EXPECT_EQ(ugn_SetEnvAlias(0, too_long.c_str(), "A"), UGN_ENV_VAR_TOO_LONG);
  EXPECT_EQ(ugn_PutEnv(0, nullptr, "v"), UGN_ENVALIAS_ERR);
  EXPECT_EQ(ugn_PutEnv(0, "", "v"), UGN_ENVALIAS_ERR);
  EXPECT_EQ(env(too_long.c_str()), "<none>");
}

class TempNameTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    ASSERT_FALSE(dir_.path().empty());
  }
  TempDir dir_;
};

}  // namespace
}  // namespace tesmar::test
