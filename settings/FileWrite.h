// Replacing a file whole: the bytes go to a unique temporary beside it (mkstemp: created exclusively, never
// through a link someone planted) that is renamed over the target (a rename replaces a link at the name rather
// than writing through it). A reader sees the old file or the new one, never half of one.
#pragma once

#include "Result.h"

#include <string>
#include <string_view>

namespace settings {

enum class Durability {
  Flushed,  // the data and the rename reach the disk before returning (what a crash must not lose)
  Cached,   // left to the system (pictures, files written afresh at every start)
};

// Writes `bytes` as `path` with mode 0644. What went wrong names the file; on failure
// the old file, if any, is left as it was and no temporary remains.
Result<void> replaceFile(const std::string& path, std::string_view bytes, Durability durability);
// The same for the file `name` of the directory open as `dirFd` (whose path `dirPath` only names it in
// messages): the temporary, the rename and the flush all go through the descriptor, so a directory renamed
// away and replaced after it was opened receives nothing.
Result<void> replaceFileAt(int dirFd, const std::string& dirPath, const std::string& name, std::string_view bytes,
                           Durability durability);

// Removes the temporaries replaceFile leaves in `directory` when the process is killed between its write and
// its rename: this user's regular files of that name pattern untouched for a minute (a save in progress takes
// milliseconds). Returns how many were removed.
int removeStaleTemporaries(const std::string& directory);

}  // namespace settings
