// The panel's window-less diagnostics: what the settings are, and what the simulator link delivers.
#pragma once

#include <cstdio>
#include <string>

namespace app {

// Prints every effective setting of the config.ini at `path`, then one "warning:" line per unworkable scale;
// values not understood are reported on `err`. Returns the exit status, 0.
int checkConfig(const std::string& path, std::FILE* out, std::FILE* err);

// Opens the link once, fetches one catalogue batch and prints each row as "0xNNNN name value [unit]".
// Returns 0, or 1 after naming the failing result code on `err`.
int checkLink(std::FILE* out, std::FILE* err);

}  // namespace app
