// File operations that crash safety rests on and that POSIX spells differently per system: a
// rename that never replaces an existing file, and the flush of a folder entry. A file is made
// whole under a temporary name and then moved to its final one with these, so a name that a
// reader sees always holds a whole file and never destroys another file.
//
// The writes of the task files and of downloaded files go through FileIo, so that tests can make
// one system call fail the way a full disk, a read-only folder or a crash would, without
// needing either.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace quarry {

// The system calls that create and write files. The base class makes the real calls; a test
// derives from it and fails the one it wants, setting errno as the system would.
class FileIo {
public:
  virtual ~FileIo() = default;
  virtual int Open(const char* path, int flags, mode_t mode);
  virtual ssize_t Write(int fd, const void* data, std::size_t size);
  virtual int Fsync(int fd);
  virtual int Rename(const char* from, const char* to);
  // The real system calls; shared, as it holds no state.
  static FileIo& System();
};

// Writes all of `data` to `fd`, going on after partial and interrupted writes. 0, or the errno
// value of the failure (EIO for a write that wrote nothing).
int WriteAll(FileIo& io, int fd, const void* data, std::size_t size);

// Checks that a file can be created and written in `folder` (which ends with '/'): creates a
// small probe file there, writes to it and removes it again. 0, or the errno value of the step
// that failed.
int ProbeFolderWritable(const std::string& folder, FileIo& io);

// Moves `from` to `to` in one step, only when nothing exists at `to`. 0 on success, else an
// errno value: EEXIST when `to` is taken (nothing moved). Where the filesystem has no such
// rename, a hard link followed by the removal of `from` does the same.
int RenameNoReplace(const std::string& from, const std::string& to);

// Flushes the folder that holds `path`, so that a rename or a new name in it survives a power
// cut. Best effort: false when the folder cannot be opened or flushed.
bool SyncParentFolder(const std::string& path);

}  // namespace quarry
