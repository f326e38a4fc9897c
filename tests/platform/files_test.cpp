// The no-replace rename: a free name is taken in one step, a taken one is left alone.
#include "platform/files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/temp_folder.h"

namespace quarry {
namespace {

std::string Content(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(FilesTest, RenameNoReplaceTakesOnlyAFreeName) {
  testing::TempFolder folder;
  const std::string part = folder.path() + "a.doc.part";
  const std::string taken = folder.path() + "taken.doc";
  std::ofstream(part) << "new";
  std::ofstream(taken) << "old";

  EXPECT_EQ(RenameNoReplace(part, taken), EEXIST);
  EXPECT_EQ(Content(taken), "old");
  EXPECT_EQ(Content(part), "new");
  EXPECT_EQ(RenameNoReplace(part, folder.path() + "a.doc"), 0);
  EXPECT_EQ(Content(folder.path() + "a.doc"), "new");
  EXPECT_EQ(RenameNoReplace(part, folder.path() + "b.doc"), ENOENT);
  EXPECT_TRUE(SyncParentFolder(folder.path() + "a.doc"));
  EXPECT_FALSE(SyncParentFolder(folder.path() + "missing/a.doc"));
}

}  // namespace
}  // namespace quarry
