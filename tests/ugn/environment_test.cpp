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

TEST_F(LibraryTest, OverridesEndWithTheLibrary) {
  ScopedEnv a("TESMAR_TEST_A", nullptr);
  ASSERT_EQ(ugn_PutEnv(0, "TESMAR_TEST_A", "set"), 0u);
  tmx_Terminate(0);
  tmx_Initialize(0);
  EXPECT_EQ(env("TESMAR_TEST_A"), "<none>");
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

std::string pid_part() {
  char text[16];
  std::snprintf(text, sizeof text, "t%08lx.", static_cast<unsigned long>(getpid()));
  return text;
}

TEST_F(TempNameTest, NamesFollowTheConfiguredDirectoryAndAreRemovedAtShutDown) {
  ASSERT_EQ(ugn_PutEnv(0, "TESMAR_TMP", dir_.path().c_str()), 0u);
  std::string first = ugn_TempName();
  std::string second = ugn_TempName();
  EXPECT_EQ(first.rfind(dir_.path() + "/" + pid_part(), 0), 0u) << first;
  EXPECT_EQ(first.size(), dir_.path().size() + 15);
  EXPECT_NE(first, second);
  write_file(first, "x");
  write_file(dir_.file("other"), "y");
  tmx_Terminate(0);
  EXPECT_FALSE(std::filesystem::exists(first));
  EXPECT_TRUE(std::filesystem::exists(dir_.file("other")));
  tmx_Initialize(0);
}

TEST_F(TempNameTest, ExistingFilesArePassedOverAndTheCounterWraps) {
  ASSERT_EQ(ugn_PutEnv(0, "TESMAR_TMP", dir_.path().c_str()), 0u);
  std::string name = ugn_TempName();
  std::string counter = name.substr(name.size() - 4);
  unsigned next = (std::stoul(counter, nullptr, 16) + 1) & 0xFFFF;
  char blocker[32];
  std::snprintf(blocker, sizeof blocker, "%s%04x", pid_part().c_str(), next);
  write_file(dir_.file(blocker), "someone else's");
  std::string after = ugn_TempName();
  EXPECT_NE(after, dir_.file(blocker));
  EXPECT_EQ(read_file(dir_.file(blocker)), "someone else's");
  // The counter wraps back to where `name` was; that name is free again (65536 values were tried:
  // the two above, 65533 here, and `name` once more).
  for (int i = 0; i < 65533; ++i) ASSERT_NE(ugn_TempName(), nullptr);
  EXPECT_EQ(std::string(ugn_TempName()), name);
  // Once it exists, it is passed over on the next round.
  write_file(name, "now in use");
  for (int i = 0; i < 65534; ++i) ASSERT_NE(ugn_TempName(), nullptr);
  std::string later = ugn_TempName();
  EXPECT_NE(later, name);
  EXPECT_NE(later, dir_.file(blocker));
  tmx_Terminate(0);
  EXPECT_EQ(read_file(dir_.file(blocker)), "someone else's");  // never handed out, never removed
  tmx_Initialize(0);
}

TEST_F(TempNameTest, WithoutTheSettingAPrivateDirectoryIsUsed) {
  ScopedEnv tmp("TESMAR_TMP", nullptr);
  ScopedEnv base("TMPDIR", dir_.path().c_str());
  std::string name = ugn_TempName();
  std::filesystem::path parent = std::filesystem::path(name).parent_path();
  EXPECT_EQ(parent.parent_path(), std::filesystem::path(dir_.path()));
  EXPECT_EQ(parent.filename().string().rfind("tesmar-", 0), 0u);
  struct stat st;
  ASSERT_EQ(stat(parent.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  write_file(name, "data");
  EXPECT_EQ(ugn_PutEnv(0, "TESMAR_TMP", ""), 0u);  // empty counts as unset
  EXPECT_EQ(std::filesystem::path(ugn_TempName()).parent_path(), parent);
  tmx_Terminate(0);
  EXPECT_FALSE(std::filesystem::exists(parent));
  tmx_Initialize(0);
}

TEST_F(TempNameTest, OverlongDirectoriesGiveNoName) {
  std::string longest = dir_.path();
  while (longest.size() < 1008) longest += "/" + std::string(std::min<std::size_t>(200, 1008 - longest.size() - 1), 'd');
  ASSERT_EQ(longest.size(), 1008u);
  ASSERT_EQ(ugn_PutEnv(0, "TESMAR_TMP", longest.c_str()), 0u);
  const char *name = ugn_TempName();
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(std::string(name).size(), 1023u);
  ASSERT_EQ(ugn_PutEnv(0, "TESMAR_TMP", (longest + "d").c_str()), 0u);
  EXPECT_EQ(ugn_TempName(), nullptr);
}

}  // namespace
}  // namespace tesmar::test
