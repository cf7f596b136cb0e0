// skyvane-gauges' diagnostics as a user runs them: --check-config from the data directory, --check-link
// against a running skyvane-sim, and the honest answer without a server.
#include "support/TestServers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace {

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

TEST(GaugesCli, CheckConfigPrintsEverySettingThenWarnings) {
  TempRuntimeDir home;  // a private folder; used as the data directory here
  ::setenv("SKYVANE_HOME", home.path().c_str(), 1);
  std::ofstream(home.path() + "/config.ini") << "[General]\nNbOfEngines=0x2\n[FF]\nDivideBy=0\n[VOR1]\nGlide=true\n";
  const ProgramRun run = runProgram({SKYVANE_GAUGES_PATH, "--check-config"});
  ::unsetenv("SKYVANE_HOME");
  EXPECT_EQ(run.status, 0);
  const auto lines = linesOf(run.out);
  ASSERT_EQ(lines.size(), 338u);
  EXPECT_EQ(lines[0], "[IAS] unit = MPH");
  EXPECT_EQ(lines[1], "[General] NbOfEngines = 2");
  EXPECT_EQ(lines[337], "warning: [FF] DivideBy = 0 is below 1");
  EXPECT_NE(run.err.find("[VOR1] Glide = \"true\" is not an integer"), std::string::npos) << run.err;
}

TEST(GaugesCli, ProfilesStartFromTheCurrentFilesAndThenKeepTheirOwn) {
  TempRuntimeDir home;
  ::setenv("SKYVANE_HOME", home.path().c_str(), 1);
  std::ofstream(home.path() + "/config.ini") << "[IAS]\nunit=KPH\n";
  const auto unitOf = [](const std::vector<std::string>& argv) {
    const ProgramRun run = runProgram(argv);
    return run.status == 0 ? linesOf(run.out).at(0) : "status " + std::to_string(run.status) + ": " + run.err;
  };
  EXPECT_EQ(unitOf({SKYVANE_GAUGES_PATH, "--profile", "cub", "--check-config"}), "[IAS] unit = KPH");
  std::ofstream(home.path() + "/profiles/cub/config.ini") << "[IAS]\nunit=MPH\n";
  EXPECT_EQ(unitOf({SKYVANE_GAUGES_PATH, "--profile", "cub", "--check-config"}), "[IAS] unit = MPH");
  EXPECT_EQ(unitOf({SKYVANE_GAUGES_PATH, "--profile", "Baron 58", "--check-config"}), "[IAS] unit = KPH");
  EXPECT_EQ(unitOf({SKYVANE_GAUGES_PATH, "--check-config"}), "[IAS] unit = KPH") << "the data directory's own";
  EXPECT_EQ(runProgram({SKYVANE_GAUGES_PATH, "--list-profiles"}).out, "Baron 58\ncub\n");

  for (const std::string& bad : std::vector<std::string>{"", "a/b", "..", ".", std::string(65, 'x'), "tab\there"}) {
    const ProgramRun run = runProgram({SKYVANE_GAUGES_PATH, "--profile", bad, "--check-config"});
    EXPECT_EQ(run.status, 2) << bad;
    EXPECT_NE(run.err.find("--profile"), std::string::npos) << run.err;
  }
  EXPECT_FALSE(std::filesystem::exists(home.path() + "/a")) << "nothing made for a refused name";
  ::unsetenv("SKYVANE_HOME");
}

TEST(GaugesCli, CheckLinkPrintsEveryVariable) {
  TempRuntimeDir runtime;
  SimProcess sim({"--feed", "demo", "--set", "airspeed=120", "--set", "eng2.oilTemp=70"});
  const ProgramRun run = runProgram({SKYVANE_GAUGES_PATH, "--check-link"});
  EXPECT_EQ(run.status, 0) << run.err;
  const auto lines = linesOf(run.out);
  ASSERT_EQ(lines.size(), 79u);
  const std::regex format(R"(0x[0-9A-F]{4} [A-Za-z0-9.]+ -?[0-9.e+-]+( \S+)?)");
  for (const std::string& line : lines) {
    EXPECT_TRUE(std::regex_match(line, format)) << line;
  }
  EXPECT_EQ(lines[0], "0x78EA fuelStatsSelector 0");
  EXPECT_NE(run.out.find("0x02BC airspeed 120 kt\n"), std::string::npos);
  EXPECT_NE(run.out.find("0x0950 eng2.oilTemp 70 deg\n"), std::string::npos);
}

TEST(GaugesCli, CheckLinkWithoutServerNamesTheResult) {
  TempRuntimeDir runtime;
  const ProgramRun run = runProgram({SKYVANE_GAUGES_PATH, "--check-link"});
  EXPECT_NE(run.status, 0);
  EXPECT_TRUE(run.out.empty());
  EXPECT_NE(run.err.find("SimLinkNoServer"), std::string::npos) << run.err;
}

TEST(GaugesCli, HelpAndUnknownOptions) {
  const ProgramRun help = runProgram({SKYVANE_GAUGES_PATH, "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--check-link"), std::string::npos);
  EXPECT_EQ(runProgram({SKYVANE_GAUGES_PATH, "--frobnicate"}).status, 2);
  EXPECT_EQ(runProgram({SKYVANE_GAUGES_PATH, "--check-config", "--check-link"}).status, 2);
}

TEST(GaugesCli, ThePanelWithoutAnyDisplaySaysSoInsteadOfCrashing) {
  std::map<std::string, std::string> saved;
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    if (const char* v = std::getenv(name)) {
      saved[name] = v;
    }
    ::unsetenv(name);
  }
  const ProgramRun run = runProgram({SKYVANE_GAUGES_PATH});
  for (const auto& [name, value] : saved) {
    ::setenv(name.c_str(), value.c_str(), 1);
  }
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("no display"), std::string::npos) << run.err;
}

}  // namespace
