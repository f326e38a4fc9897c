#include "platform/home.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/temp_folder.h"

namespace quarry {
namespace {

class HomeTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(m_temp.Path().empty());
    m_dir = m_temp.Path().substr(0, m_temp.Path().size() - 1);
  }
  testing::TempFolder m_temp;
  std::string m_dir;
};

TEST_F(HomeTest, OverrideWinsAndGetsTrailingSlash) {
  EXPECT_EQ(ResolveHome("/x/y", m_dir + "/"), "/x/y/");
  EXPECT_EQ(ResolveHome("", m_dir), m_dir + "/");
}

TEST_F(HomeTest, UnwritableExecutableFolderFallsBackToUserData) {
  if (geteuid() == 0) GTEST_SKIP() << "root can write everywhere";
  chmod(m_dir.c_str(), 0555);
  EXPECT_NE(ResolveHome("", m_dir + "/").find(".local/share/Quarry/"), std::string::npos);
  chmod(m_dir.c_str(), 0755);
}

// An installed program never writes beside itself, whoever runs it: a writable folder is the home
// only when it is not an install prefix's bin folder and not under /usr/. Root may write in all
// of these, so the rule must not rest on writability alone.
TEST_F(HomeTest, InstalledProgramsUseTheUserDataFolder) {
  const char* userHome = std::getenv("HOME");
  const std::string userData =
      std::string(userHome && *userHome ? userHome : "/tmp") + "/.local/share/Quarry/";
  for (const char* sub : {"/prefix/bin", "/prefix/sbin", "/portable"})
    ASSERT_TRUE(std::filesystem::create_directories(m_dir + sub));
  const struct {
    std::string executableFolder;
    bool portable;
  } cases[] = {
      {m_dir + "/", true},
      {m_dir, true},
      {m_dir + "/portable/", true},
      {m_dir + "/prefix/bin/", false},
      {m_dir + "/prefix/bin", false},
      {m_dir + "/prefix/sbin/", false},
      {m_dir + "/prefix/bin/../../portable/", true},
      {"/usr/bin/", false},
      {"/usr/local/bin/", false},
      {"/usr/lib/", false},
      {"/usr/", false},
      {"/bin/", false},
      {"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.executableFolder);
    EXPECT_EQ(IsPortableFolder(c.executableFolder), c.portable);
    const std::string& folder = c.executableFolder;
    EXPECT_EQ(ResolveHome("", folder), !c.portable            ? userData
                                       : folder.back() == '/' ? folder
                                                              : folder + "/");
  }
}

TEST_F(HomeTest, CreatesSysAndDownDataAndAcceptsExistingOnes) {
  std::string home = m_dir + "/nested/home/";
  std::string error;
  ASSERT_TRUE(CreateHomeFolders(home, &error)) << error;
  ASSERT_TRUE(CreateHomeFolders(home, &error)) << error;
  EXPECT_TRUE(std::filesystem::is_directory(home + "sys"));
  EXPECT_TRUE(std::filesystem::is_directory(home + "DownData"));
}

TEST_F(HomeTest, FailsClearlyWhenAFileBlocksTheFolder) {
  std::string home = m_dir + "/";
  FILE* blocker = std::fopen((home + "sys").c_str(), "w");
  std::fclose(blocker);
  std::string error;
  EXPECT_FALSE(CreateHomeFolders(home, &error));
  EXPECT_NE(error.find("sys"), std::string::npos);
}

// flock() locks belong to the open file description, so a second process is needed to see the
// refusal a second copy of the program gets.
TEST_F(HomeTest, SecondProcessIsRefusedUntilTheFirstLetsGo) {
  std::string home = m_dir + "/";
  ASSERT_TRUE(CreateHomeFolders(home, nullptr));
  EXPECT_FALSE(HomeLock::IsHeld(home));
  EXPECT_FALSE(std::filesystem::exists(home + "sys/quarry.lock"));  // a look creates nothing
  std::string error;
  auto lock = HomeLock::Acquire(home, &error);
  ASSERT_TRUE(lock) << error;
  EXPECT_TRUE(HomeLock::IsHeld(home));

  auto childTakes = [&home]() {
    pid_t pid = fork();
    if (pid == 0) {
      std::string childError;
      auto childLock = HomeLock::Acquire(home, &childError);
      _exit(childLock ? 0 : (childError.find("Another copy") != std::string::npos ? 1 : 2));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WEXITSTATUS(status);
  };
  EXPECT_EQ(childTakes(), 1);
  lock.reset();
  EXPECT_FALSE(HomeLock::IsHeld(home));
  EXPECT_EQ(childTakes(), 0);
}

}  // namespace
}  // namespace quarry
