// The program's home folder: where sys/ (the task files) and DownData/ (the default download
// folder) live. It is the folder of the executable when that is a copy of Quarry's own (writable,
// and not an installed program's folder), else ~/.local/share/Quarry/; --home DIR or QUARRY_HOME
// override both. Two running copies must never share one home, so the home is held with an
// advisory lock on sys/quarry.lock.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "platform/files.h"

namespace quarry {

// The folder of the running executable, ending with '/', or "" when it cannot be found.
std::string ExecutableFolder();

// True when `executableFolder` may be the home: it is writable, it is not a `bin` or `sbin`
// folder (/usr/bin, /usr/local/bin, ~/.local/bin: an install prefix's, shared with other
// programs) and it is not under /usr/. So an installed Quarry never writes beside itself, even
// run by root, who may write everywhere.
bool IsPortableFolder(const std::string& executableFolder);

// Picks the home folder: `overrideHome` when not empty, else the executable's folder when it is
// a portable one, else ~/.local/share/Quarry/. The result always ends with '/'.
std::string ResolveHome(const std::string& overrideHome, const std::string& executableFolder);

// Why a home could not be taken, for each front end to word in its own language.
enum class HomeFailure { None, CannotCreate, CannotOpen, InUse, CannotLock };
struct HomeProblem {
  HomeFailure failure = HomeFailure::None;
  std::string path;  // the folder or lock file at fault (the home itself for InUse)
  int error = 0;     // the system's errno, 0 when none
};
// The words of `problem`: English for the terminal, or Chinese for the window (a Chinese
// sentence with the system's own words after it).
std::string HomeProblemText(const HomeProblem& problem, bool chinese);

// Creates the home itself (with its parents), then sys/ and DownData/ in it. An existing
// folder is fine. False with a message in `error` (and why in `problem`) when one of them
// cannot be made.
bool CreateHomeFolders(const std::string& home, std::string* error, HomeProblem* problem = nullptr);

// Holds the home for this process until destroyed.
class HomeLock {
public:
  // Takes the lock on <home>sys/quarry.lock. Null, with a user-facing message in `error` (and
  // why in `problem`), when another process holds it or the lock file cannot be opened.
  static std::unique_ptr<HomeLock> Acquire(const std::string& home, std::string* error,
                                           HomeProblem* problem = nullptr);
  // True when a process holds the home's lock now. Takes nothing that outlasts the call and
  // creates no file.
  static bool IsHeld(const std::string& home);
  HomeLock(const HomeLock&) = delete;
  HomeLock& operator=(const HomeLock&) = delete;

private:
  explicit HomeLock(FileDescriptor file) : m_file(std::move(file)) {}
  FileDescriptor m_file;  // the lock goes with the descriptor
};

}  // namespace quarry
