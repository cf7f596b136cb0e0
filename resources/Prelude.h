// What every program that shows the panel does first, once: clears the temporaries of saves killed between
// their write and their rename, reads config.ini from the data directory (saying on stderr what was not
// understood, each line after "PROGRAM: config.ini: "), and installs the private font (saying so when it
// cannot: the fuel statistics then stay blank). skyvane-gauges, skyvane-web and skyvane-render call it.
#pragma once

#include "Settings.h"

#include <functional>
#include <string>

namespace resources {

struct Prelude {
  settings::SettingsLoad load;  // the settings, and what was not understood
  std::string fontPath;         // the font file registered, or empty
};

// `dataDirFd` is the data directory open (see settings::DirectoryHandle); `dataDir` its path; `fallback` names
// a private directory for the font when the data directory cannot take it.
Prelude runPrelude(const char* program, int dataDirFd, const std::string& dataDir,
                   const std::function<std::string()>& fallback);

}  // namespace resources
