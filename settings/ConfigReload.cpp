#include "ConfigReload.h"

namespace settings {

std::vector<std::string> warningLines(const SettingsLoad& load) {
  std::vector<std::string> lines;
  for (const std::string& warning : load.warnings) {
    lines.push_back("config.ini: " + warning);
  }
  for (const std::string& problem : unworkableScales(load.settings)) {
    lines.push_back("warning: " + problem);
  }
  return lines;
}

ConfigReload::ConfigReload(const SettingsLoad& initial)
    : m_settings(initial.settings),
      m_warnings(warningLines(initial)) {}

ReloadVerdict ConfigReload::judge(const TextFileRead& read) {
  ReloadVerdict verdict;
  if (read.status != TextFileRead::Status::Read) {
    verdict.error = read.error;  // empty when the file is merely missing
    return verdict;
  }
  const SettingsLoad load = parseSettings(read.text);
  verdict.warnings = warningLines(load);
  const bool sameWarnings = verdict.warnings == m_warnings;
  m_warnings = verdict.warnings;
  if (load.settings != m_settings) {
    verdict.action = ReloadVerdict::Action::Rebuild;
    verdict.settings = load.settings;
  } else if (!sameWarnings) {
    verdict.action = ReloadVerdict::Action::SayWarnings;
  }
  return verdict;
}

}  // namespace settings
