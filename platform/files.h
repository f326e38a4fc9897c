// File operations that crash safety rests on and that POSIX spells differently per system: a
// rename that never replaces an existing file, and the flush of a folder entry. A file is made
// whole under a temporary name and then moved to its final one with these, so a name that a
// reader sees always holds a whole file and never destroys another file.
//
// Every file Quarry writes (downloaded files, the task files, the URL queue's spill files) is
// held by a FileDescriptor and written with WriteAll. The writes of the task files and of
// downloaded files go through FileIo, so that tests can make one system call fail the way a full
// disk, a read-only folder or a crash would, without needing either.
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
  // The steps that make a group of received files durable (engine/file_committer.cpp): the flush
  // of one file's data, of the whole file system that holds `fd`, a no-replace rename (0 or an
  // errno value, as RenameNoReplace) and the flush of a folder (false when it failed).
  virtual int Fdatasync(int fd);
  virtual int Syncfs(int fd);
  virtual int MoveNoReplace(const std::string& from, const std::string& to);
  virtual bool SyncFolder(const std::string& folder);
  // The real system calls; shared, as it holds no state.
  static FileIo& System();
};

// The one owner of an open file descriptor: closed when the owner goes, or earlier by Close,
// whose result tells a late write error.
class FileDescriptor {
public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : m_fd(fd) {}
  ~FileDescriptor();
  FileDescriptor(FileDescriptor&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  // The descriptor, or -1 when none is held (an open that failed, or after Close).
  int Get() const { return m_fd; }
  bool IsOpen() const { return m_fd >= 0; }
  // Closes the descriptor now. 0, or the errno value of a failing close (EBADF when none is
  // held).
  int Close();

private:
  int m_fd = -1;
};

// Writes all of `data` to `fd`, going on after partial and interrupted writes. 0, or the errno
// value of the failure (EIO for a write that wrote nothing).
int WriteAll(FileIo& io, int fd, const void* data, std::size_t size);

// Reads the whole file at `path` into `bytes` (appended). 0, or the errno value of the failure;
// after a read error `bytes` holds what was read before it.
int ReadWholeFile(const std::string& path, std::string* bytes);

// Checks that a file can be created and written in `folder` (which ends with '/'): creates a
// small probe file there, writes to it and removes it again. 0, or the errno value of the step
// that failed.
int ProbeFolderWritable(const std::string& folder, FileIo& io);

// Moves `from` to `to` in one step, only when nothing exists at `to`. 0 on success, else an
// errno value: EEXIST when `to` is taken (nothing moved). Where the filesystem has no such
// rename, a hard link followed by the removal of `from` does the same.
int RenameNoReplace(const std::string& from, const std::string& to);

// Takes an exclusive advisory lock (flock) on `fd` without waiting, held until the file is
// closed. False only when another open file holds one; where the filesystem has no such locks
// it counts as taken.
bool LockAlone(int fd);

// Removes the file `path` unless another open file holds a lock on it (see LockAlone). True when
// it was removed.
bool RemoveUnlessLocked(const std::string& path);

// Flushes the folder that holds `path`, so that a rename or a new name in it survives a power
// cut. Best effort: false when the folder cannot be opened or flushed.
bool SyncParentFolder(const std::string& path);

// How the data of a group of files in one folder is flushed, chosen by its file system's kind.
enum class GroupFlush {
  FileSystem,  // one syncfs: a local file system known to flush all it holds so (ext4, xfs, btrfs)
  PerFile,     // one fdatasync per file: syncfs is not known to reach the storage (FUSE, NFS, CIFS,
               // any other kind)
  None,        // nothing outlives a power cut anyway (tmpfs)
};

// The flush for files in `folder`, from statfs's f_type; PerFile when statfs fails.
GroupFlush GroupFlushOf(const std::string& folder);

}  // namespace quarry
