// Profiles: one aircraft's config.ini and window layout each, in profiles/NAME/ of the data directory, so
// that a user who flies two aircraft keeps both without copying directories by hand.
#pragma once

#include "Result.h"

#include <string>
#include <string_view>
#include <vector>

namespace settings {

inline constexpr std::size_t kMaxProfileNameLength = 64;

// A name is 1..64 characters, no '/', no control characters, not starting with '.' (so never "." or "..", and
// never a profile being made); else why not.
Result<void> checkProfileName(std::string_view name);

// The directory of profile `name` in `dataDir`, made on first use with copies of the data directory's own
// config.ini and window layout (when it has them), so the profile starts as the panel was.
Result<std::string> openProfile(const std::string& dataDir, std::string_view name);

// The profiles of `dataDir`, sorted.
std::vector<std::string> listProfiles(const std::string& dataDir);

// openProfile, then the profile is this process's data directory (and its children's): $SKYVANE_HOME.
Result<std::string> useProfile(std::string_view name);

}  // namespace settings
