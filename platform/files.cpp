// The no-replace rename uses renameat2 with RENAME_NOREPLACE (Linux 3.15, glibc 2.28). Some
// filesystems refuse the flag; a hard link is refused on an existing name as well, so link and
// unlink give the same guarantee there, at the price of a moment with both names present.
#include "platform/files.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>

namespace quarry {
namespace {

// The probe of a folder's writability. A leftover of a crash is simply written over.
constexpr const char* kProbeName = ".quarry-write-probe";
// Enough bytes that a full filesystem refuses them; a handful of free bytes is not room.
constexpr std::size_t kProbeSize = 4096;

}  // namespace

int FileIo::Open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }

ssize_t FileIo::Write(int fd, const void* data, std::size_t size) {
  return ::write(fd, data, size);
}

int FileIo::Fsync(int fd) { return ::fsync(fd); }

int FileIo::Rename(const char* from, const char* to) { return ::rename(from, to); }

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

int ProbeFolderWritable(const std::string& folder, FileIo& io) {
  const std::string probe = folder + kProbeName;
  const int fd =
      io.Open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  static const char zeros[kProbeSize] = {};
  int result = WriteAll(io, fd, zeros, sizeof zeros);
  if (::close(fd) != 0 && result == 0) result = errno;
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

bool SyncParentFolder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  return synced;
}

}  // namespace quarry
