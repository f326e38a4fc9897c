// The no-replace rename: a free name is taken in one step, a taken one is left alone. The
// probe of a folder's writability, against real and injected failures.
#include "platform/files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/failing_file_io.h"
#include "tests/support/files.h"
#include "tests/support/temp_folder.h"

namespace quarry {
namespace {

using testing::ReadFile;

TEST(FilesTest, RenameNoReplaceTakesOnlyAFreeName) {
  testing::TempFolder folder;
  const std::string part = folder.Path() + "a.doc.part";
  const std::string taken = folder.Path() + "taken.doc";
  std::ofstream(part) << "new";
  std::ofstream(taken) << "old";

  EXPECT_EQ(RenameNoReplace(part, taken), EEXIST);
  EXPECT_EQ(ReadFile(taken), "old");
  EXPECT_EQ(ReadFile(part), "new");
  EXPECT_EQ(RenameNoReplace(part, folder.Path() + "a.doc"), 0);
  EXPECT_EQ(ReadFile(folder.Path() + "a.doc"), "new");
  EXPECT_EQ(RenameNoReplace(part, folder.Path() + "b.doc"), ENOENT);
  EXPECT_TRUE(SyncParentFolder(folder.Path() + "a.doc"));
  EXPECT_FALSE(SyncParentFolder(folder.Path() + "missing/a.doc"));
}

TEST(FilesTest, ProbeFolderWritableTellsWhyAFolderTakesNoFile) {
  testing::TempFolder folder;
  std::ofstream(folder.Path() + "plain") << "a file";
  testing::FailingFileIo io;
  struct Case {
    const char* name;
    std::string folder;
    int openError, writeError;
    int expected;
  } cases[] = {
      {"writable", folder.Path(), 0, 0, 0},
      {"missing", folder.Path() + "missing/", 0, 0, ENOENT},
      {"under a file", folder.Path() + "plain/", 0, 0, ENOTDIR},
      {"no permission", folder.Path(), EACCES, 0, EACCES},
      {"full disk", folder.Path(), 0, ENOSPC, ENOSPC},
  };
  for (const Case& c : cases) {
    io.openError = c.openError;
    io.writeError = c.writeError;
    EXPECT_EQ(ProbeFolderWritable(c.folder, io), c.expected) << c.name;
    EXPECT_FALSE(std::filesystem::exists(c.folder + ".quarry-write-probe")) << c.name;
  }
}

}  // namespace
}  // namespace quarry
