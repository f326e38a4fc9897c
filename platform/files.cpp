// The no-replace rename uses renameat2 with RENAME_NOREPLACE (Linux 3.15, glibc 2.28). Some
// filesystems refuse the flag; a hard link is refused on an existing name as well, so link and
// unlink give the same guarantee there, at the price of a moment with both names present.
#include "platform/files.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>

namespace quarry {

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
