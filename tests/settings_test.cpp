// config.ini as the Windows profile functions read it: defaults, value syntax, hand-edited files, unreadable
// files, and the scales the dials cannot draw.
#include "Settings.h"
#include "DataDirectory.h"
#include "IniFile.h"
#include "TextFile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace {

std::vector<std::string> readLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

// The line describeSettings gives for one key, or "" when absent.
std::string lineFor(const settings::Settings& s, const std::string& sectionAndKey) {
  for (const std::string& line : settings::describeSettings(s)) {
    if (line.starts_with(sectionAndKey + " = ")) {
      return line.substr(sectionAndKey.size() + 3);
    }
  }
  return "";
}

TEST(SettingsDefaults, EmptyOrAbsentFileGivesEveryDefaultInReadingOrder) {
  // The expected lines were transcribed from the settings table by hand, independently of the code.
  const std::vector<std::string> expected = readLines(SKYVANE_TEST_DATA "/default-settings.txt");
  ASSERT_EQ(expected.size(), 337u);
  EXPECT_EQ(settings::describeSettings(settings::Settings{}), expected);
  EXPECT_EQ(settings::describeSettings(settings::parseSettings("").settings), expected);
  const settings::SettingsLoad absent = settings::loadSettings("/nonexistent/config.ini");
  EXPECT_EQ(settings::describeSettings(absent.settings), expected);
  EXPECT_TRUE(absent.warnings.empty());

  std::set<std::string> sections;
  for (const std::string& line : expected) {
    sections.insert(line.substr(0, line.find(']')));
  }
  EXPECT_EQ(sections.size(), 23u);
  const settings::Settings s;
  EXPECT_EQ(s.general.nbOfEngines, 1);
  EXPECT_TRUE(s.general.anemometer && s.general.fuelStat);
  EXPECT_EQ(s.iasUnit, "MPH");
  EXPECT_FALSE(s.vor1Glide || s.vor2Glide);
  EXPECT_TRUE(s.altiHpa);
  EXPECT_TRUE(settings::unworkableScales(s).empty());
}

struct ValueCase {
  const char* ini;
  const char* key;  // "[Section] Key"
  const char* expected;
  bool warns;
};

void PrintTo(const ValueCase& c, std::ostream* os) {
  *os << c.key << " = " << c.expected << (c.warns ? " (warns)" : "") << " from " << ::testing::PrintToString(c.ini);
}

class SettingsValues : public ::testing::TestWithParam<ValueCase> {};

TEST_P(SettingsValues, ReadsAsTheProfileFunctionsDo) {
  const ValueCase& c = GetParam();
  const settings::SettingsLoad load = settings::parseSettings(c.ini);
  EXPECT_EQ(lineFor(load.settings, c.key), c.expected) << c.ini;
  EXPECT_EQ(!load.warnings.empty(), c.warns) << (load.warnings.empty() ? "" : load.warnings.front());
}

INSTANTIATE_TEST_SUITE_P(
    Syntax, SettingsValues,
    ::testing::Values(
        ValueCase{"[General]\nAnemometer=0\n", "[General] Anemometer", "0", false},
        ValueCase{"[General]\nAnemometer=7\n", "[General] Anemometer", "1", false},
        ValueCase{"[General]\nNbOfEngines=0x2\n", "[General] NbOfEngines", "2", false},
        ValueCase{"[General]\nNbOfEngines=0X1f\n", "[General] NbOfEngines", "31", false},
        ValueCase{"[AMP]\nFirstValue=-40\n", "[AMP] FirstValue", "-40", false},
        ValueCase{"[AMP]\nFirstValue=+40\n", "[AMP] FirstValue", "40", false},
        ValueCase{"[AMP]\nFirstValue=-0x10\n", "[AMP] FirstValue", "0", true},  // hex only at the very start
        ValueCase{"[AMP]\nFirstValue=0xFFFFFFFF\n", "[AMP] FirstValue", "-1", false},
        ValueCase{"[AMP]\nFirstValue=0x100000000\n", "[AMP] FirstValue", "0", true},  // above 32 bits
        ValueCase{"[AMP]\nFirstValue=-2147483648\n", "[AMP] FirstValue", "-2147483648", false},
        ValueCase{"[AMP]\nFirstValue=2147483648\n", "[AMP] FirstValue", "0", true},
        ValueCase{"[VOR1]\nGlide=true\n", "[VOR1] Glide", "0", true},
        ValueCase{"[General]\nNbOfEngines=2.5\n", "[General] NbOfEngines", "1", true},
        ValueCase{"[General]\nNbOfEngines=\n", "[General] NbOfEngines", "1", true},
        ValueCase{"[General]\nNbOfEngines=0x\n", "[General] NbOfEngines", "1", true},
        ValueCase{"[General]\nNbOfEngines=--2\n", "[General] NbOfEngines", "1", true},
        ValueCase{"[AMP]\nLineWidth=4 ; thick\n", "[AMP] LineWidth", "3", true},  // no inline comments
        ValueCase{"[general]\nNBOFENGINES=2\n", "[General] NbOfEngines", "2", false},
        ValueCase{"  [ General ]  \n\t NbOfEngines \t=  2  \n", "[General] NbOfEngines", "2", false},
        ValueCase{"[IAS]\nunit=\"KPH\"\n", "[IAS] unit", "KPH", false},
        ValueCase{"[IAS]\nunit='KPH'\n", "[IAS] unit", "KPH", false},
        ValueCase{"[IAS]\nunit=\"KPH'\n", "[IAS] unit", "\"KPH'", false},
        ValueCase{"[IAS]\nunit= kph \n", "[IAS] unit", "kph", false},
        ValueCase{"[IAS]\nunit=\n", "[IAS] unit", "", false},
        ValueCase{"[General]\n; NbOfEngines=2\n", "[General] NbOfEngines", "1", false},
        ValueCase{"NbOfEngines=2\n[General]\n", "[General] NbOfEngines", "1", false},  // before any section
        ValueCase{"\xEF\xBB\xBF[General]\r\nNbOfEngines=2\r\n", "[General] NbOfEngines", "2", false},
        ValueCase{"[General]\rNbOfEngines=2\r", "[General] NbOfEngines", "2", false},
        ValueCase{"[General]\nNbOfEngines=2\nNbOfEngines=3\n", "[General] NbOfEngines", "2", false},
        ValueCase{"[General]\nNbOfEngines=2\n[General]\nNbOfEngines=3\n", "[General] NbOfEngines", "2", false},
        ValueCase{"[General]\nVS=0\n[General]\nNbOfEngines=3\n", "[General] NbOfEngines", "1", false},
        ValueCase{"[IAS]\nunit=KPH\nLastValue=200\n", "[IAS] LastValue", "200", false},
        ValueCase{"[ALTI]\nhPa=0\n", "[ALTI] hPa", "0", false}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(SettingsValues, TextIsCutAt2047Characters) {
  const std::string ini = "[IAS]\nunit=" + std::string(3000, 'x') + "\n";
  EXPECT_EQ(settings::parseSettings(ini).settings.iasUnit, std::string(2047, 'x'));
}

// A file names its keys in any order; the values not understood are reported in the table's reading order,
// and every other value still lands in its own field.
TEST(SettingsValues, WarningsComeInReadingOrderWhateverTheFilesOrder) {
  const settings::SettingsLoad load = settings::parseSettings(
      "[ALTI]\nhPa=no\n[RPM]\nLastValue=2700\nN1=maybe\n[general]\nvor2=0\nNbOfEngines=two\n[IAS]\nunit=KPH\n");
  ASSERT_EQ(load.warnings.size(), 3u);
  EXPECT_EQ(load.warnings[0].rfind("[General] NbOfEngines = \"two\"", 0), 0u) << load.warnings[0];
  EXPECT_EQ(load.warnings[1].rfind("[RPM] N1 = \"maybe\"", 0), 0u) << load.warnings[1];
  EXPECT_EQ(load.warnings[2].rfind("[ALTI] hPa = \"no\"", 0), 0u) << load.warnings[2];
  EXPECT_EQ(load.settings.rpm.lastValue, 2700);
  EXPECT_FALSE(load.settings.general.vor2);
  EXPECT_EQ(load.settings.iasUnit, "KPH");
  EXPECT_EQ(load.settings.general.nbOfEngines, 1);
  EXPECT_TRUE(load.settings.altiHpa);
}

TEST(IniFiles, AFileMovedOrAssignedKeepsItsValuesAndTheOneItReplacedIsGone) {
  settings::IniFile kept = settings::IniFile::parse("[General]\nNbOfEngines=2\n[IAS]\nunit=" + std::string(300, 'k'));
  settings::IniFile other = settings::IniFile::parse("[ALTI]\nhPa=0\n");
  kept = std::move(other);
  EXPECT_EQ(kept.value("alti", "HPA"), "0");
  EXPECT_FALSE(kept.value("General", "NbOfEngines"));
  settings::IniFile moved(std::move(kept));
  EXPECT_EQ(moved.value("ALTI", "hPa"), "0");
  EXPECT_EQ(moved.entries().size(), 1u);
  std::swap(moved, other);
  EXPECT_EQ(other.value("ALTI", "hPa"), "0");
}

class SettingsFiles : public ::testing::Test {
protected:
  SettingsFiles() {
    char pattern[] = "/tmp/skyvane-settings-XXXXXX";
    m_dir = ::mkdtemp(pattern);
  }
  ~SettingsFiles() override {
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
  }
  std::string path() const { return m_dir + "/config.ini"; }
  void write(const std::string& text) { std::ofstream(path(), std::ios::binary) << text; }

  void expectDefaultsWithWarning() {
    const settings::SettingsLoad load = settings::loadSettings(path());
    EXPECT_EQ(settings::describeSettings(load.settings), settings::describeSettings(settings::Settings{}));
    ASSERT_FALSE(load.warnings.empty());
    EXPECT_NE(load.warnings.front().find("was not read"), std::string::npos) << load.warnings.front();
  }

  std::string m_dir;
};

TEST_F(SettingsFiles, HandEditedFileIsRead) {
  write("; panel of a light twin\r\n[General]\r\nNbOfEngines = 2\r\nVOR2=0\r\n\r\n[IAS]\r\nunit=KPH\r\n");
  const settings::SettingsLoad load = settings::loadSettings(path());
  EXPECT_EQ(load.settings.general.nbOfEngines, 2);
  EXPECT_FALSE(load.settings.general.vor2);
  EXPECT_EQ(load.settings.iasUnit, "KPH");
  EXPECT_TRUE(load.warnings.empty());
}

// Windows editors save "Unicode" as UTF-16 with a byte order mark, little-endian ("\xFF\xFE") or big-endian.
TEST_F(SettingsFiles, AUtf16FileIsReadAsItsText) {
  using namespace std::literals;
  const std::u16string text = u"[General]\r\nNbOfEngines=2\r\n[IAS]\r\nunit=KPH\r\n; \u00e9t\u00e9 \U0001F6E9\r\n";
  for (const bool little : {true, false}) {
    std::string bytes = little ? "\xFF\xFE" : "\xFE\xFF";
    for (const char16_t unit : text) {
      const char low = static_cast<char>(unit & 0xFF);
      const char high = static_cast<char>(unit >> 8);
      bytes += little ? std::string{low, high} : std::string{high, low};
    }
    write(bytes);
    const settings::SettingsLoad load = settings::loadSettings(path());
    EXPECT_EQ(load.settings.general.nbOfEngines, 2) << little;
    EXPECT_EQ(load.settings.iasUnit, "KPH") << little;
    EXPECT_TRUE(load.warnings.empty()) << little;
  }
  EXPECT_EQ(settings::utf16ToUtf8("\xFF\xFE\x41\x00\xE9\x00\x3D\xD8\xE9\xDE"sv), "A\u00e9\U0001F6E9");
  // An unpaired surrogate and a last odd byte are replacement characters; no mark, no decoding.
  EXPECT_EQ(settings::utf16ToUtf8("\xFF\xFE\x3D\xD8\x41\x00\x42"sv), "\uFFFDA\uFFFD");
  EXPECT_FALSE(settings::utf16ToUtf8("A\x00"sv));
}

TEST_F(SettingsFiles, UnreadableFilesGiveTheDefaults) {
  std::filesystem::create_directory(path());  // a directory in the file's place
  expectDefaultsWithWarning();
  std::filesystem::remove(path());

  write(std::string("[General]\nNbOfEngines=2\n\0\x01\xFF junk", 32));  // binary junk
  expectDefaultsWithWarning();

  {
    // 50 MB, sparse, so that making it costs nothing.
    const int fd = ::open(path().c_str(), O_WRONLY | O_TRUNC);
    ASSERT_EQ(::ftruncate(fd, 50 << 20), 0);
    ::close(fd);
  }
  expectDefaultsWithWarning();
  std::filesystem::remove(path());

  ASSERT_EQ(::mkfifo(path().c_str(), 0600), 0);  // would block a plain open
  expectDefaultsWithWarning();
  std::filesystem::remove(path());

  if (::geteuid() != 0) {
    write("[General]\nNbOfEngines=2\n");
    ::chmod(path().c_str(), 0);
    expectDefaultsWithWarning();
  }
}

TEST(UnworkableScales, EachKindIsReportedOnce) {
  const settings::SettingsLoad load = settings::parseSettings(
      "[AMP]\nIncrementation=0\n[VOLT]\nDigitEveryXincrementation=0\n[FF]\nDivideBy=0\n"
      // Negative: negated numerals, every |D|-th tick.
      "[OAT]\nDigitEveryXincrementation=-1\nDivideBy=-2\nLineWidth=1\n"
      "[CHT]\nFirstValue=100\nLastValue=100\nLineWidth=0\n[RPM]\nLastValue=0\n[EGT]\nIncrementation=1\nFirstValue=0\n"
      "LastValue=1000000\n[IAS]\nIncrementation=0\n[ITT]\nDivideBy=0\nFirstValue=50\n");
  const std::vector<std::string> problems = settings::unworkableScales(load.settings);
  ASSERT_EQ(problems.size(), 8u);
  EXPECT_EQ(problems[0], "[AMP] Incrementation = 0 is below 1");
  EXPECT_EQ(problems[1], "[VOLT] DigitEveryXincrementation = 0 is below 1");
  EXPECT_EQ(problems[2],
            "[CHT] LineWidth = 0 is below 1 (its lines are drawn 1 px wide); LastValue equals the first value (100)");
  EXPECT_EQ(problems[3], "[EGT] would have 1000001 ticks, more than 20000");
  EXPECT_EQ(problems[4], "[FF] DivideBy = 0 is below 1");
  EXPECT_EQ(problems[5], "[ITT] DivideBy = 0 is below 1; LastValue equals the first value (50)");
  EXPECT_EQ(problems[6], "[RPM] LastValue equals the first value (0)");  // no FirstValue: the scale starts at 0
  EXPECT_EQ(problems[7], "[IAS] Incrementation = 0 is below 1");
}

}  // namespace

namespace {

TEST(DataDirectory, HomeThenWritableProgramFolderUnlessInstalledThenXdgConfig) {
  settings::DataDirectoryInputs in{"/srv/panel",       "/opt/skyvane/bin", true,
                                   "/home/pilot/.cfg", "/home/pilot",      "/home/account"};
  EXPECT_EQ(settings::chooseDataDirectory(in), "/srv/panel");
  in.skyvaneHome.clear();
  EXPECT_EQ(settings::chooseDataDirectory(in), "/opt/skyvane/bin");
  in.executableDirInstalled = true;  // /usr/bin as root, ~/.local/bin: not where new user files go
  EXPECT_EQ(settings::chooseDataDirectory(in), "/home/pilot/.cfg/skyvane");
  in.executableDirHoldsSettings = true;  // where an earlier version put them: they are still found
  EXPECT_EQ(settings::chooseDataDirectory(in), "/opt/skyvane/bin");
  in.executableDirInstalled = false;
  in.executableDirWritable = false;
  EXPECT_EQ(settings::chooseDataDirectory(in), "/home/pilot/.cfg/skyvane");
  in.xdgConfigHome.clear();
  EXPECT_EQ(settings::chooseDataDirectory(in), "/home/pilot/.config/skyvane");
  // An empty environment: the account's home, and without one a folder only root can make, never /tmp.
  in.home.clear();
  EXPECT_EQ(settings::chooseDataDirectory(in), "/home/account/.config/skyvane");
  in.accountHome.clear();
  EXPECT_EQ(settings::chooseDataDirectory(in), "/.config/skyvane");
  in.accountHome = "/";
  EXPECT_EQ(settings::chooseDataDirectory(in), "/.config/skyvane");
}

}  // namespace
