// --profile NAME and --list-profiles, for the programs that read the data directory: a profile is
// profiles/NAME/ in it, made on first use from the current files (see Profiles.h).
#pragma once

#include "DataDirectory.h"
#include "Profiles.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

namespace cli {

struct ProfileChoice {
  std::string name;
  bool list = false;
};

// `withList`: also --list-profiles (not for a program whose other options are required).
inline void addProfileOptions(CLI::App& app, ProfileChoice& choice, bool withList = true) {
  app.add_option_function<std::string>(
         "--profile",
         [&choice](const std::string& name) {
           if (auto checked = settings::checkProfileName(name); !checked) {
             throw CLI::ValidationError("--profile", checked.error());
           }
           choice.name = name;
         },
         "use profiles/NAME/ of the data directory for config.ini and the window layout (made from the current "
         "files on first use)")
      ->type_name("NAME");
  if (withList) {
    app.add_flag("--list-profiles", choice.list, "list the profiles of the data directory and exit");
  }
}

// After parsing: lists the profiles (then the program exits with the status returned), or makes the chosen
// profile the data directory. Nothing when the program goes on.
inline std::optional<int> applyProfile(const std::string& program, const ProfileChoice& choice) {
  if (choice.list) {
    for (const std::string& name : settings::listProfiles(settings::dataDirectory())) {
      std::printf("%s\n", name.c_str());
    }
    return 0;
  }
  if (!choice.name.empty()) {
    if (const Result<std::string> dir = settings::useProfile(choice.name); !dir) {
      std::fprintf(stderr, "%s: --profile: %s\n", program.c_str(), dir.error().c_str());
      return 1;
    }
  }
  return std::nullopt;
}

}  // namespace cli
