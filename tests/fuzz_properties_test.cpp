// The fuzz targets' properties on fixed inputs, so that they hold in every ordinary run without clang: each
// target's committed seeds, and the two round trips through the real files and the real program.
#include "Properties.h"
#include "WindowLayout.h"
#include "support/TestServers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void writeAll(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<fs::path> seedsOf(const std::string& target) {
  std::vector<fs::path> seeds;
  for (const auto& entry : fs::directory_iterator(fs::path(SKYVANE_FUZZ_CORPUS) / target)) {
    seeds.push_back(entry.path());
  }
  std::sort(seeds.begin(), seeds.end());
  return seeds;
}

struct Target {
  const char* name;
  std::optional<std::string> (*check)(fuzz::Bytes);
};

// clang-format off
constexpr Target kTargets[] = {
    {"config_ini_fuzz", fuzz::checkSettingsReader},
    {"config_ini_roundtrip_fuzz", fuzz::checkSettingsFile},
    {"window_layout_fuzz", fuzz::checkLayoutFile},
    {"server_request_fuzz", fuzz::checkServerRequest},
    {"client_walk_fuzz", fuzz::checkClientWalk},
    {"flightgear_record_fuzz", fuzz::checkFlightGearRecord},
    {"xplane_reply_fuzz", fuzz::checkXPlaneReply},
    {"xplane_beacon_fuzz", fuzz::checkXPlaneBeacon},
    {"feed_state_fuzz", fuzz::checkFeedState},
    {"bridge_mapping_fuzz", fuzz::checkMappingFile},
    {"replay_fuzz", fuzz::checkReplay},
    {"web_message_fuzz", fuzz::checkWebMessage},
    {"request_gate_fuzz", fuzz::checkRequestGate},
    {"window_placement_fuzz", fuzz::checkWindowPlacement},
    {"host_check_fuzz", fuzz::checkHostCheck},
    {"client_messages_fuzz", fuzz::checkClientMessages},
    {"link_frames_fuzz", fuzz::checkLinkFrames},
    {"assignments_fuzz", fuzz::checkAssignments},
};
// clang-format on

TEST(FuzzProperties, HoldForEverySeed) {
  for (const Target& target : kTargets) {
    const std::vector<fs::path> seeds = seedsOf(target.name);
    EXPECT_GE(seeds.size(), 3u) << target.name;
    for (const fs::path& seed : seeds) {
      const std::string bytes = readAll(seed);
      const auto data = reinterpret_cast<const std::uint8_t*>(bytes.data());
      EXPECT_EQ(target.check(fuzz::Bytes(data, bytes.size())), std::nullopt)
          << target.name << "/" << seed.filename().string();
    }
  }
}

std::string checkConfig(const std::string& home) {
  ::setenv("SKYVANE_HOME", home.c_str(), 1);
  const ProgramRun run = runProgram({SKYVANE_GAUGES_PATH, "--check-config"});
  ::unsetenv("SKYVANE_HOME");
  EXPECT_EQ(run.status, 0) << run.err;
  return run.out;
}

TEST(FuzzProperties, CheckConfigOutputWrittenBackAsTheFileReadsBackTheSame) {
  for (const fs::path& seed : seedsOf("config_ini_fuzz")) {
    TempRuntimeDir first;  // private folders, used as data directories
    TempRuntimeDir second;
    fs::copy_file(seed, first.path() + "/config.ini");
    const std::string printed = checkConfig(first.path());
    std::vector<std::string> settingLines;
    std::istringstream in(printed);
    for (std::string line; std::getline(in, line);) {
      if (!line.starts_with("warning: ")) {
        settingLines.push_back(line);
      }
    }
    ASSERT_EQ(settingLines.size(), 337u) << seed.filename();
    writeAll(second.path() + "/config.ini", fuzz::settingsFileFromDescription(settingLines));
    EXPECT_EQ(checkConfig(second.path()), printed) << seed.filename();
  }
}

TEST(FuzzProperties, LayoutFileLoadedAndSavedAgainIsByteIdentical) {
  TempRuntimeDir dir;
  int whole = 0;
  for (const fs::path& seed : seedsOf("window_layout_fuzz")) {
    const std::string bytes = readAll(seed);
    if (bytes.size() != settings::kLayoutFileSize) {
      continue;
    }
    ++whole;
    const std::string saved = dir.path() + "/" + settings::kLayoutFileName;
    const settings::LayoutLoad load = settings::loadWindowLayout(seed.string());
    ASSERT_TRUE(load.found);
    ASSERT_TRUE(settings::saveWindowLayout(saved, load.layout).ok());
    EXPECT_EQ(readAll(saved), bytes) << seed.filename();
  }
  EXPECT_GE(whole, 2);
}

}  // namespace
