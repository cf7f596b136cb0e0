// skyvane-gauges: the instrument panel, and two window-less diagnostics.
#include "DataDirectory.h"
#include "Diagnostics.h"
#include "PanelRun.h"

#include <cstdio>
#include <cstring>

#ifndef SKYVANE_VERSION
#define SKYVANE_VERSION "0.0.0"
#endif

namespace {

void printHelp(std::FILE* out) {
  std::fprintf(out,
               "Usage: skyvane-gauges [OPTION]\n"
               "Analogue instrument panel for flight simulators.\n"
               "\n"
               "  --check-config  print every effective setting of config.ini, one line each, then a\n"
               "                  warning line per scale the dials cannot draw as configured\n"
               "  --check-link    open the simulator link once, read one batch of every simulator\n"
               "                  variable and print it as \"0xOFFSET name value [unit]\"\n"
               "  --help          show this text\n"
               "  --version       show the version\n"
               "\n"
               "Without an option the panel starts: the control window \"Skyvane Gauges\" and the gauge\n"
               "windows of the saved layout. It reads the simulator every 30 ms once a simulator server\n"
               "(skyvane-sim, or a bridge) answers, and saves the window layout when the control window\n"
               "closes (also on SIGINT and SIGTERM).\n"
               "\n"
               "Files (config.ini, ConfigWindows.cfg, Quartz.ttf) live in the data directory:\n"
               "$SKYVANE_HOME, else the program's directory when it is writable, else\n"
               "$XDG_CONFIG_HOME/skyvane. The simulator server is looked for in\n"
               "$SKYVANE_RUNTIME_DIR, else $XDG_RUNTIME_DIR/skyvane, else /tmp/skyvane-<uid>.\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2) {
    std::fprintf(stderr, "skyvane-gauges: one option at most; see --help\n");
    return 2;
  }
  const char* option = argc == 2 ? argv[1] : nullptr;
  if (option == nullptr) {
    return runPanel(argc, argv, dataDirectory());
  }
  if (std::strcmp(option, "--help") == 0 || std::strcmp(option, "-h") == 0) {
    printHelp(stdout);
    return 0;
  }
  if (std::strcmp(option, "--version") == 0) {
    std::printf("skyvane-gauges %s\n", SKYVANE_VERSION);
    return 0;
  }
  if (std::strcmp(option, "--check-config") == 0) {
    return checkConfig(dataDirectory() + "/config.ini", stdout, stderr);
  }
  if (std::strcmp(option, "--check-link") == 0) {
    return checkLink(stdout, stderr);
  }
  std::fprintf(stderr, "skyvane-gauges: unknown option %s; see --help\n", option);
  return 2;
}
