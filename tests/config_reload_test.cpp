// config.ini read again while the panel runs: a file saved unchanged rebuilds nothing and a changed one rebuilds
// until the rebuild is taken; a value not understood is said once and its correction clears it; a file gone or
// unreadable changes nothing.
#include "ConfigReload.h"

#include <gtest/gtest.h>

namespace {

using settings::ReloadVerdict;
using Action = settings::ReloadVerdict::Action;
using Read = settings::TextFileRead;

Read readOf(std::string text) {
  return {Read::Status::Read, std::move(text), {}};
}

const std::string kOneEngine = "[General]\nNbOfEngines=1\n";
const std::string kTwoEngines = "[General]\nNbOfEngines=2\n";
const std::string kNotUnderstood = "[General]\nNbOfEngines=two\n";

TEST(ConfigReload, ATouchedFileRebuildsNothingAndAChangedOneRebuildsUntilTaken) {
  settings::ConfigReload reload(settings::parseSettings(kOneEngine));
  EXPECT_EQ(reload.judge(readOf(kOneEngine)).action, Action::Keep);
  EXPECT_EQ(reload.judge(readOf("; saved by an editor\n" + kOneEngine + "\n")).action, Action::Keep);

  const ReloadVerdict changed = reload.judge(readOf(kTwoEngines));
  ASSERT_EQ(changed.action, Action::Rebuild);
  EXPECT_EQ(changed.settings.general.nbOfEngines, 2);
  EXPECT_TRUE(changed.warnings.empty());
  // A rebuild that failed is not taken: the same file read again is tried again.
  EXPECT_EQ(reload.judge(readOf(kTwoEngines)).action, Action::Rebuild);
  reload.taken(changed.settings);
  EXPECT_EQ(reload.judge(readOf(kTwoEngines)).action, Action::Keep);
  EXPECT_EQ(reload.judge(readOf(kOneEngine)).action, Action::Rebuild);
}

TEST(ConfigReload, AValueNotUnderstoodIsSaidOnceAndItsCorrectionClearsIt) {
  settings::ConfigReload reload(settings::parseSettings(kOneEngine));
  // Not understood, so the default (one engine) holds: the settings are those running, only the line is new.
  const ReloadVerdict said = reload.judge(readOf(kNotUnderstood));
  EXPECT_EQ(said.action, Action::SayWarnings);
  ASSERT_EQ(said.warnings.size(), 1u);
  EXPECT_EQ(said.warnings[0].rfind("config.ini: [General] NbOfEngines = \"two\"", 0), 0u) << said.warnings[0];
  EXPECT_EQ(reload.judge(readOf(kNotUnderstood)).action, Action::Keep);
  const ReloadVerdict right = reload.judge(readOf(kOneEngine));
  EXPECT_EQ(right.action, Action::SayWarnings);
  EXPECT_TRUE(right.warnings.empty()) << "no line: the box of the last one is hidden";

  // A panel started with the faulty file has said its line at the start: the same file read again is nothing new.
  settings::ConfigReload started(settings::parseSettings(kNotUnderstood));
  EXPECT_EQ(started.judge(readOf(kNotUnderstood)).action, Action::Keep);
  // A scale a gauge cannot show is said with the values not understood, in the same list.
  const ReloadVerdict scale = started.judge(readOf(kNotUnderstood + "[AMP]\nIncrementation=0\n"));
  EXPECT_EQ(scale.action, Action::Rebuild);
  ASSERT_EQ(scale.warnings.size(), 2u);
  EXPECT_EQ(scale.warnings[1], "warning: [AMP] Incrementation = 0 is below 1");
}

TEST(ConfigReload, AFileGoneOrUnreadableChangesNothingAndSaysWhy) {
  settings::ConfigReload reload(settings::parseSettings(kNotUnderstood));
  const ReloadVerdict gone = reload.judge({Read::Status::Missing, {}, {}});
  EXPECT_EQ(gone.action, Action::Keep);
  EXPECT_TRUE(gone.error.empty());
  const ReloadVerdict failed = reload.judge({Read::Status::Failed, {}, "larger than 65536 bytes"});
  EXPECT_EQ(failed.action, Action::Keep);
  EXPECT_EQ(failed.error, "larger than 65536 bytes");
  // Neither was a reading: the file as it was is still nothing new, warnings included.
  EXPECT_EQ(reload.judge(readOf(kNotUnderstood)).action, Action::Keep);
}

}  // namespace
