// Runs the panel until its control window closes; returns the exit status.
#pragma once

#include <string>

namespace app {

int runPanel(int argc, char** argv, const std::string& dataDir);

}  // namespace app
