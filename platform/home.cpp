// Home folder resolution and the single-instance lock. An installed program is told from a
// portable copy by where it lies, not only by whether its folder is writable: root may write in
// /usr/bin, and a user's own prefix (~/.local/bin) is writable too. The lock is an flock() on a
// file in sys/: the kernel drops it when the process ends, however it ends, so a crash never
// leaves a stale lock behind. A look at the lock (IsHeld) takes it shared for an instant, so
// taking it for good tries again for a moment before it calls the home taken.
#include "platform/home.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>
#include <utility>

namespace quarry {

namespace {

// How long Acquire keeps trying while the lock is held: longer than any look at it lasts.
constexpr int kLockTries = 10;
constexpr auto kLockRetryPause = std::chrono::milliseconds(10);

std::string LockPath(const std::string& home) { return home + "sys/quarry.lock"; }

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace

std::string ExecutableFolder() {
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return "";
  return WithSlash(exe.parent_path().string());
}

bool IsPortableFolder(const std::string& executableFolder) {
  if (executableFolder.empty() || access(executableFolder.c_str(), W_OK) != 0) return false;
  const std::filesystem::path folder =
      std::filesystem::path(WithSlash(executableFolder)).parent_path().lexically_normal();
  const std::string name = folder.filename().string();
  if (name == "bin" || name == "sbin") return false;
  const std::string text = folder.string();
  return text != "/usr" && text.rfind("/usr/", 0) != 0;
}

std::string ResolveHome(const std::string& overrideHome, const std::string& executableFolder) {
  if (!overrideHome.empty()) return WithSlash(overrideHome);
  if (IsPortableFolder(executableFolder)) return WithSlash(executableFolder);
  const char* userHome = std::getenv("HOME");
  std::string base = userHome && *userHome ? userHome : "/tmp";
  return WithSlash(base) + ".local/share/Quarry/";
}

std::string HomeProblemText(const HomeProblem& problem, bool chinese) {
  const std::string cause = problem.error != 0 ? std::strerror(problem.error) : "";
  switch (problem.failure) {
    case HomeFailure::CannotCreate:
      return chinese ? "无法创建文件夹 " + problem.path + (cause.empty() ? "" : "（" + cause + "）")
                     : "Cannot create the folder " + problem.path;
    case HomeFailure::CannotOpen:
      return chinese ? "无法打开 " + problem.path + "（" + cause + "）"
                     : "Cannot open " + problem.path + ": " + cause;
    case HomeFailure::InUse:
      return chinese ? "另一个 Quarry 正在使用主文件夹 " + problem.path +
                           "；请先关闭它，或用 --home DIR 启动这一个。"
                     : "Another copy of Quarry is already using the home folder " + problem.path +
                           "; close it first, or start this one with --home DIR.";
    case HomeFailure::CannotLock:
      return chinese ? "无法锁定 " + problem.path + "（" + cause + "）"
                     : "Cannot lock " + problem.path + ": " + cause;
    case HomeFailure::None: break;
  }
  return std::string();
}

namespace {

// Fills `problem` and `error` (English) when given; false.
bool Fail(HomeProblem found, std::string* error, HomeProblem* problem) {
  if (error) *error = HomeProblemText(found, false);
  if (problem) *problem = std::move(found);
  return false;
}

}  // namespace

bool CreateHomeFolders(const std::string& home, std::string* error, HomeProblem* problem) {
  std::error_code ec;
  std::filesystem::create_directories(home, ec);
  for (const char* sub : {"", "sys", "DownData"}) {
    std::string folder = home + sub;
    if (*sub) std::filesystem::create_directory(folder, ec);
    if (!std::filesystem::is_directory(folder))
      return Fail({HomeFailure::CannotCreate, folder, ec ? ec.value() : 0}, error, problem);
  }
  return true;
}

std::unique_ptr<HomeLock> HomeLock::Acquire(const std::string& home, std::string* error,
                                            HomeProblem* problem) {
  std::string path = LockPath(home);
  FileDescriptor file(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (!file.IsOpen()) {
    Fail({HomeFailure::CannotOpen, path, errno}, error, problem);
    return nullptr;
  }
  int locked = flock(file.Get(), LOCK_EX | LOCK_NB);
  for (int tries = 1; locked != 0 && errno == EWOULDBLOCK && tries < kLockTries; ++tries) {
    std::this_thread::sleep_for(kLockRetryPause);
    locked = flock(file.Get(), LOCK_EX | LOCK_NB);
  }
  if (locked != 0) {
    const int cause = errno;
    Fail(cause == EWOULDBLOCK ? HomeProblem{HomeFailure::InUse, home, 0}
                              : HomeProblem{HomeFailure::CannotLock, path, cause},
         error, problem);
    return nullptr;
  }
  return std::unique_ptr<HomeLock>(new HomeLock(std::move(file)));
}

bool HomeLock::IsHeld(const std::string& home) {
  // Closing the descriptor on return drops the shared lock, if it was taken.
  const FileDescriptor file(open(LockPath(home).c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.IsOpen()) return false;  // no copy ever ran here
  return flock(file.Get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

}  // namespace quarry
