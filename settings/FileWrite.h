// Replacing a file whole: the bytes go to a unique temporary beside it (mkstemp: created exclusively, never
// through a link someone planted) that is renamed over the target (a rename replaces a link at the name rather
// than writing through it). A reader sees the old file or the new one, never half of one.
#pragma once

#include <optional>
#include <string>
#include <string_view>

enum class Durability {
  Flushed,  // the data and the rename reach the disk before returning (what a crash must not lose)
  Cached,   // left to the system (pictures, files written afresh at every start)
};

// Writes `bytes` as `path` with mode 0644. Returns what went wrong, naming the file, or nullopt; on failure
// the old file, if any, is left as it was and no temporary remains.
std::optional<std::string> replaceFile(const std::string& path, std::string_view bytes, Durability durability);
