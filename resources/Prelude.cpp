// The start-up prelude shared by the programs that show the panel.
#include "Prelude.h"

#include "FileWrite.h"
#include "QuartzFont.h"

#include <cstdio>

namespace resources {

Prelude runPrelude(const char* program, int dataDirFd, const std::string& dataDir,
                   const std::function<std::string()>& fallback) {
  settings::removeStaleTemporaries(dataDir);
  Prelude prelude;
  prelude.load = settings::loadSettingsAt(dataDirFd, dataDir);
  for (const std::string& warning : prelude.load.warnings) {
    std::fprintf(stderr, "%s: config.ini: %s\n", program, warning.c_str());
  }
  prelude.fontPath = installQuartzFont(dataDir, fallback);
  if (prelude.fontPath.empty()) {
    std::fprintf(stderr, "%s: the Quartz font could not be installed; the fuel statistics stay blank\n", program);
  }
  return prelude;
}

}  // namespace resources
