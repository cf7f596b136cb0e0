// config.ini read again while a program runs: what a new reading means for the settings the program runs with.
// A file saved unchanged (or changed only where a value not understood falls back to what it had) rebuilds
// nothing; one whose settings changed does; what is said about the file is said again only when it changed.
#pragma once

#include "Settings.h"
#include "TextFile.h"

#include <string>
#include <vector>

namespace settings {

// What is said about a config.ini: the values not understood ("config.ini: ..."), then the scales a gauge
// cannot show ("warning: ...").
std::vector<std::string> warningLines(const SettingsLoad& load);

struct ReloadVerdict {
  enum class Action {
    Keep,         // nothing to do: the file is unreadable or gone (between an editor's remove and rename), or
                  // neither its settings nor what is said about it changed
    SayWarnings,  // the settings are those taken, but what is said about the file changed
    Rebuild,      // the settings changed: build from `settings`, then say `warnings`
  };
  Action action = Action::Keep;
  Settings settings;                  // with Rebuild: as read from the file
  std::vector<std::string> warnings;  // with SayWarnings and Rebuild: every line now (none: the file is right again)
  std::string error;                  // with Keep, when the file could not be read: why
};

class ConfigReload {
public:
  // The file as the program started with it.
  explicit ConfigReload(const SettingsLoad& initial);

  // Judges a new reading against the settings last taken and the lines last said; the lines are then taken as
  // said. A Rebuild's settings count as taken only once `taken` is called, so that a rebuild that fails is
  // tried again at the next reading.
  ReloadVerdict judge(const TextFileRead& read);
  void taken(const Settings& settings) { m_settings = settings; }

private:
  Settings m_settings;
  std::vector<std::string> m_warnings;
};

}  // namespace settings
