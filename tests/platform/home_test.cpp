#include "platform/home.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
