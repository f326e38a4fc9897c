// The no-replace rename uses renameat2 with RENAME_NOREPLACE (Linux 3.15, glibc 2.28). Some
// filesystems refuse the flag; a hard link is refused on an existing name as well, so link and
// unlink give the same guarantee there, at the price of a moment with both names present.
#include "platform/files.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>

namespace quarry {
namespace {

// The probe of a folder's writability. A leftover of a crash is simply written over.
constexpr const char* kProbeName = ".quarry-write-probe";
// Enough bytes that a full filesystem refuses them; a handful of free bytes is not room.
constexpr std::size_t kProbeSize = 4096;
// How much a whole-file read asks for at a time.
constexpr std::size_t kReadChunk = 64 * 1024;

// statfs f_type of the file systems whose kind decides how a group of files is flushed
// (linux/magic.h).
constexpr unsigned long kExt4Magic = 0xEF53;  // also ext2 and ext3
constexpr unsigned long kXfsMagic = 0x58465342;
constexpr unsigned long kBtrfsMagic = 0x9123683E;
constexpr unsigned long kTmpfsMagic = 0x01021994;

}  // namespace

int FileIo::Open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }

ssize_t FileIo::Write(int fd, const void* data, std::size_t size) {
  return ::write(fd, data, size);
}

int FileIo::Fsync(int fd) { return ::fsync(fd); }

int FileIo::Rename(const char* from, const char* to) { return ::rename(from, to); }

int FileIo::Fdatasync(int fd) { return ::fdatasync(fd); }

int FileIo::Syncfs(int fd) { return ::syncfs(fd); }

int FileIo::MoveNoReplace(const std::string& from, const std::string& to) {
  return RenameNoReplace(from, to);
}

bool FileIo::SyncFolder(const std::string& folder) {
  FileDescriptor folderFile(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return folderFile.IsOpen() && ::fsync(folderFile.Get()) == 0;
}

FileDescriptor::~FileDescriptor() {
  if (m_fd >= 0) ::close(m_fd);
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = other.m_fd;
    other.m_fd = -1;
  }
  return *this;
}

int FileDescriptor::Close() {
  if (m_fd < 0) return EBADF;
  const int fd = m_fd;
  m_fd = -1;
  return ::close(fd) == 0 ? 0 : errno;
}

FileIo& FileIo::System() {
  static FileIo system;
  return system;
}

int WriteAll(FileIo& io, int fd, const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = io.Write(fd, bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return written == 0 ? EIO : errno;
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return 0;
}

int ReadWholeFile(const std::string& path, std::string* bytes) {
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.IsOpen()) return errno;
  char buffer[kReadChunk];
  for (;;) {
    const ssize_t count = ::read(file.Get(), buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return errno;
    if (count == 0) return 0;
    bytes->append(buffer, static_cast<std::size_t>(count));
  }
}

int ProbeFolderWritable(const std::string& folder, FileIo& io) {
  const std::string probe = folder + kProbeName;
  FileDescriptor file(
      io.Open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!file.IsOpen()) return errno;
  static const char zeros[kProbeSize] = {};
  int result = WriteAll(io, file.Get(), zeros, sizeof zeros);
  const int closed = file.Close();
  if (result == 0) result = closed;
  ::unlink(probe.c_str());
  return result;
}

int RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  const int cause = errno;
  if (cause != EINVAL && cause != ENOSYS && cause != EOPNOTSUPP) return cause;
  if (::link(from.c_str(), to.c_str()) != 0) return errno;
  if (::unlink(from.c_str()) != 0) {
    const int unlinkCause = errno;
    ::unlink(to.c_str());  // the new name is ours: keep one name only
    return unlinkCause;
  }
  return 0;
}

bool LockAlone(int fd) {
  int result;
  do {
    result = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  return result == 0 || errno != EWOULDBLOCK;
}

bool RemoveUnlessLocked(const std::string& path) {
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!file.IsOpen() || !LockAlone(file.Get())) return false;
  return ::unlink(path.c_str()) == 0;
}

bool SyncParentFolder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  FileDescriptor folderFile(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return folderFile.IsOpen() && ::fsync(folderFile.Get()) == 0;
}

GroupFlush GroupFlushOf(const std::string& folder) {
  struct statfs about {};
  if (::statfs(folder.c_str(), &about) != 0) return GroupFlush::PerFile;
  // Only the low 32 bits carry the kind; a long may sign-extend them.
  switch (static_cast<unsigned long>(about.f_type) & 0xFFFFFFFFul) {
    case kExt4Magic:
    case kXfsMagic:
    case kBtrfsMagic: return GroupFlush::FileSystem;
    case kTmpfsMagic: return GroupFlush::None;
    default: return GroupFlush::PerFile;
  }
}

}  // namespace quarry
