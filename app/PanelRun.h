// Runs the panel until its control window closes; returns the exit status.
#pragma once

#include <string>

namespace app {

// `arrange`: see GaugePanel.
int runPanel(int argc, char** argv, const std::string& dataDir, const std::string& arrange = {});

}  // namespace app
