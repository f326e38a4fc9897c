// File operations that crash safety rests on and that POSIX spells differently per system: a
// rename that never replaces an existing file, and the flush of a folder entry. A file is made
// whole under a temporary name and then moved to its final one with these, so a name that a
// reader sees always holds a whole file and never destroys another file.
#pragma once

#include <string>

namespace quarry {

// Moves `from` to `to` in one step, only when nothing exists at `to`. 0 on success, else an
// errno value: EEXIST when `to` is taken (nothing moved). Where the filesystem has no such
// rename, a hard link followed by the removal of `from` does the same.
int RenameNoReplace(const std::string& from, const std::string& to);

// Flushes the folder that holds `path`, so that a rename or a new name in it survives a power
// cut. Best effort: false when the folder cannot be opened or flushed.
bool SyncParentFolder(const std::string& path);

}  // namespace quarry
