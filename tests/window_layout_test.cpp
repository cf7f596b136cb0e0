// The window layout file: byte format, 80-bit angles, tolerant reading and a replace that never half-happens.
#include "DataDirectory.h"
#include "FileWrite.h"
#include "Settings.h"
#include "WindowLayout.h"
#include "WindowPlacement.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct TempDir {
  fs::path path;
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "skyvane-layout-XXXXXX").string();
    path = ::mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ignored;
    fs::permissions(path, fs::perms::owner_all, ignored);
    fs::remove_all(path, ignored);
  }
};

std::string readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void writeAll(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

settings::WindowLayout sampleLayout() {
  settings::WindowLayout layout;
  layout.records[0].setTop(249);
  layout.records[0].setLeft(367);
  layout.records[0].setAntiAliasing(3);
  layout.records[0].setStartMasked(true);
  for (std::size_t r = 1; r < settings::kLayoutRecordCount; ++r) {
    layout.records[r].setTop(static_cast<std::int32_t>(10 * r));
    layout.records[r].setLeft(-static_cast<std::int32_t>(r));
    layout.records[r].setWidth(401);
    layout.records[r].setHeight(402);
    layout.records[r].setVisible(r % 2 == 0);
    layout.records[r].setRollAngleDeg(-90.0L * static_cast<long double>(r));
  }
  return layout;
}

}  // namespace

TEST(ExtendedFloat, MatchesHandMadeBytePatterns) {
  struct Case {
    long double value;
    std::array<std::uint8_t, 10> bytes;
  };
  // -180 = -1.40625 · 2^7: significand 1.01101b, exponent 7 + 16383 = 0x4006, sign set.
  // 90.5 = 1.0110101b · 2^6; 1 = 1.0 · 2^0; -0 keeps only its sign.
  // clang-format off
  const Case cases[] = {
      {0.0L, {0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00}},
      {-0.0L, {0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x80}},
      {1.0L, {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F}},
      {-180.0L, {0, 0, 0, 0, 0, 0, 0, 0xB4, 0x06, 0xC0}},
      {90.5L, {0, 0, 0, 0, 0, 0, 0, 0xB5, 0x05, 0x40}},
  };
  // clang-format on
  for (const Case& c : cases) {
    EXPECT_EQ(settings::encodeExtended(c.value), c.bytes) << static_cast<double>(c.value);
    const long double back = settings::decodeExtended(c.bytes.data());
    EXPECT_EQ(back, c.value);
    EXPECT_EQ(std::signbit(back), std::signbit(c.value));
  }
  // The smallest 80-bit denormal: exponent field 0, significand 1, worth 2^-16445.
  const std::array<std::uint8_t, 10> tiny{1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(settings::decodeExtended(tiny.data()), std::ldexp(1.0L, -16445));
}

TEST(ExtendedFloat, RoundTripsAnglesAndExtremes) {
  const long double values[] = {0.0L, -0.0L, -180.0L, 90.5L, 1e-300L, -450.0L, 4.9406564584124654e-324L /* a
      double denormal */, 123456.789L, std::ldexp(1.0L, -16440) /* an 80-bit denormal */};
  for (long double v : values) {
    const auto bytes = settings::encodeExtended(v);
    EXPECT_EQ(settings::decodeExtended(bytes.data()), v) << static_cast<double>(v);
  }
  const auto inf = settings::encodeExtended(-HUGE_VALL);
  EXPECT_TRUE(std::isinf(settings::decodeExtended(inf.data())));
  const auto nan = settings::encodeExtended(NAN);
  EXPECT_TRUE(std::isnan(settings::decodeExtended(nan.data())));
}

TEST(WindowLayoutFile, WritesThirtySevenLittleEndianRecordsAndReadsThemBack) {
  TempDir dir;
  const fs::path file = dir.path / settings::kLayoutFileName;
  settings::WindowLayout layout = sampleLayout();
  layout.records[5].bytes()[21] = 0xAB;  // reserved bytes, as a file of another writer may hold them
  layout.records[0].bytes()[30] = 0xCD;
  ASSERT_TRUE(settings::saveWindowLayout(file.string(), layout).ok());

  const std::string bytes = readAll(file);
  ASSERT_EQ(bytes.size(), 1776u);
  // Record 0: top 249 = 0xF9 at offset 0, left 367 = 0x16F at 4, masked byte at 36, trackbar 3 at 40.
  EXPECT_EQ(static_cast<std::uint8_t>(bytes[0]), 0xF9);
  EXPECT_EQ(static_cast<std::uint8_t>(bytes[4]), 0x6F);
  EXPECT_EQ(static_cast<std::uint8_t>(bytes[5]), 0x01);
  EXPECT_EQ(bytes[36], 1);
  EXPECT_EQ(bytes[40], 3);
  // Record 2 (offset 96): left -2 as two's complement, visible 1, roll -180 at offset 24.
  EXPECT_EQ(static_cast<std::uint8_t>(bytes[96 + 4]), 0xFE);
  EXPECT_EQ(static_cast<std::uint8_t>(bytes[96 + 7]), 0xFF);
  EXPECT_EQ(bytes[96 + 16], 1);
  EXPECT_EQ(static_cast<std::uint8_t>(bytes[96 + 31]), 0xB4);
  EXPECT_EQ(static_cast<std::uint8_t>(bytes[96 + 33]), 0xC0);

  const settings::LayoutLoad load = settings::loadWindowLayout(file.string());
  ASSERT_TRUE(load.found);
  EXPECT_TRUE(load.warnings.empty());
  for (std::size_t r = 0; r < settings::kLayoutRecordCount; ++r) {
    EXPECT_EQ(load.layout.records[r].bytes(), layout.records[r].bytes()) << "record " << r;
  }
  // Reserved bytes survive a read-write cycle.
  const fs::path again = dir.path / "again.cfg";
  ASSERT_TRUE(settings::saveWindowLayout(again.string(), load.layout).ok());
  EXPECT_EQ(readAll(again), bytes);
}

TEST(WindowLayoutFile, StayOnTopIsByteThirtySixOfAGaugeRecordAndOffInAnOlderFile) {
  // An older file: zeros in the reserved bytes, or (from another writer) anything but 1 there.
  std::string older(settings::kLayoutFileSize, '\0');
  older[48 * 3 + 36] = 2;
  const settings::LayoutLoad load = settings::parseWindowLayout(older);
  for (const settings::LayoutRecord& record : load.layout.records) {
    EXPECT_FALSE(record.stayOnTop());
  }
  settings::WindowLayout layout = load.layout;
  layout.records[7].setStayOnTop(true);
  const std::string bytes = settings::encodeWindowLayout(layout);
  ASSERT_EQ(bytes.size(), 1776u);
  EXPECT_EQ(bytes[48 * 7 + 36], 1);
  EXPECT_EQ(bytes.substr(0, 48 * 7 + 36) + bytes.substr(48 * 7 + 37),
            older.substr(0, 48 * 7 + 36) + older.substr(48 * 7 + 37))
      << "nothing else changes";
  EXPECT_TRUE(settings::parseWindowLayout(bytes).layout.records[7].stayOnTop());
}

TEST(WindowLayoutFile, ShortLongAndPartialFilesFillWhatTheyHold) {
  const std::string full = [] {
    std::string s;
    for (const settings::LayoutRecord& r : sampleLayout().records) {
      s.append(reinterpret_cast<const char*>(r.bytes().data()), settings::kLayoutRecordSize);
    }
    return s;
  }();
  // Two whole records and 20 bytes of a third: the third and every later record stay zero.
  const settings::LayoutLoad shortLoad = settings::parseWindowLayout(full.substr(0, 2 * 48 + 20));
  EXPECT_EQ(shortLoad.layout.records[1].top(), 10);
  EXPECT_EQ(shortLoad.layout.records[2].top(), 0);
  EXPECT_EQ(shortLoad.layout.records[36].visible(), 0);
  EXPECT_EQ(shortLoad.layout.records[2].rollAngleDeg(), 0);

  // A 40-record file: the first 37 are used.
  std::string longer = full;
  longer.append(3 * 48, '\x7F');
  TempDir dir;
  writeAll(dir.path / settings::kLayoutFileName, longer);
  const settings::LayoutLoad longLoad = settings::loadWindowLayout((dir.path / settings::kLayoutFileName).string());
  EXPECT_TRUE(longLoad.found);
  EXPECT_EQ(longLoad.layout.records[36].top(), 360);
  EXPECT_EQ(longLoad.layout.records[36].rollAngleDeg(), -3240.0L);
}

TEST(WindowLayoutFile, MissingAndUnreadableFilesReadAsNone) {
  TempDir dir;
  const settings::LayoutLoad missing = settings::loadWindowLayout((dir.path / settings::kLayoutFileName).string());
  EXPECT_FALSE(missing.found);
  EXPECT_TRUE(missing.warnings.empty());
  fs::create_directory(dir.path / settings::kLayoutFileName);
  const settings::LayoutLoad directory = settings::loadWindowLayout((dir.path / settings::kLayoutFileName).string());
  EXPECT_FALSE(directory.found);
  EXPECT_EQ(directory.warnings.size(), 1u);
  // Planted in a shared folder: a FIFO would block the start in open(), a link would read another file.
  const fs::path fifo = dir.path / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const settings::LayoutLoad blocked = settings::loadWindowLayout(fifo.string());
  EXPECT_FALSE(blocked.found);
  EXPECT_EQ(blocked.warnings.size(), 1u);
  std::ofstream(dir.path / "real", std::ios::binary) << std::string(settings::kLayoutFileSize, '\1');
  fs::create_symlink(dir.path / "real", dir.path / "link");
  const settings::LayoutLoad linked = settings::loadWindowLayout((dir.path / "link").string());
  EXPECT_FALSE(linked.found);
  ASSERT_EQ(linked.warnings.size(), 1u);
  EXPECT_NE(linked.warnings[0].find("symbolic link"), std::string::npos);
}

// A save killed between its write and its rename leaves a temporary; those of this user untouched for a
// minute are removed at the next start, a save in progress (a fresh one) is not, nor another user's.
TEST(WindowLayoutFile, TemporariesLeftByAKilledSaveAreRemovedOnceStale) {
  TempDir dir;
  const auto make = [&](const std::string& name, time_t ageSeconds) {
    const fs::path path = dir.path / name;
    std::ofstream(path) << "half a layout";
    const timespec times[2] = {{0, UTIME_OMIT}, {::time(nullptr) - ageSeconds, 0}};
    EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    return path;
  };
  const fs::path stale = make(".skyvane-a1B2c3", 3600);
  const fs::path fresh = make(".skyvane-d4E5f6", 0);
  const fs::path other = make(".skyvane-notours", 3600);  // not mkstemp's length: not a temporary of ours
  const fs::path layout = make(settings::kLayoutFileName, 3600);
  EXPECT_EQ(settings::removeStaleTemporaries(dir.path.string()), 1);
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(fresh) && fs::exists(other) && fs::exists(layout));
  if (::geteuid() == 0) {
    const fs::path theirs = make(".skyvane-g7H8i9", 3600);
    ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
    EXPECT_EQ(settings::removeStaleTemporaries(dir.path.string()), 0);
    EXPECT_TRUE(fs::exists(theirs));
  }
}

TEST(WindowLayoutFile, AFailedWriteLeavesTheOldFileIntact) {
  TempDir dir;
  const fs::path file = dir.path / settings::kLayoutFileName;
  ASSERT_TRUE(settings::saveWindowLayout(file.string(), sampleLayout()).ok());
  const std::string before = readAll(file);
  settings::WindowLayout changed = sampleLayout();
  changed.records[3].setTop(-77);

  // A disk that fills up after 100 bytes: the file size limit fails the write the same way.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  rlimit tight = old;
  tight.rlim_cur = 100;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);
  const auto saved = settings::saveWindowLayout(file.string(), changed);
  ::setrlimit(RLIMIT_FSIZE, &old);
  ASSERT_FALSE(saved.ok());
  EXPECT_EQ(readAll(file), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1) << "temporary left";

  // A directory that cannot be written (only a non-root user is stopped by permissions) and a path whose
  // directory is a file.
  if (::geteuid() != 0) {
    fs::permissions(dir.path, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(settings::saveWindowLayout(file.string(), changed).ok());
    fs::permissions(dir.path, fs::perms::owner_all);
    EXPECT_EQ(readAll(file), before);
  }
  EXPECT_FALSE(settings::saveWindowLayout((file / "inside").string(), changed).ok());
  EXPECT_EQ(readAll(file), before);
}

// A damaged or hostile layout file's rectangles as windows take them: no side beyond what the screens span
// together (eighteen windows of 16,384 px each wanted a gigabyte framebuffer), none too small to grab, no
// corner far off, and a window no screen shows comes back whole on the nearest one.
TEST(WindowPlacement, SavedRectanglesAreMadeUsableOnTheScreensThereAreNow) {
  using settings::PixelRect;
  using settings::ScreenArea;
  const std::vector<ScreenArea> one{{{0, 0, 1920, 1040}, 1}};
  const std::vector<ScreenArea> two{{{0, 0, 1920, 1040}, 1}, {{1920, 0, 1280, 1024}, 1}};
  const std::vector<ScreenArea> dense{{{0, 0, 3840, 2160}, 2}, {{3840, 0, 3840, 2160}, 2}, {{7680, 0, 3840, 2160}, 2}};
  EXPECT_EQ(settings::savedRect(10, 20, 16384, 16384, 32, one), (PixelRect{10, 20, 1920, 1040}));
  EXPECT_EQ(settings::savedRect(10, 20, 16384, 16384, 32, two), (PixelRect{10, 20, 3200, 1040}));
  EXPECT_EQ(settings::savedRect(0, 0, 16384, 100, 32, dense).width, 8192) << "16,384 device pixels at ratio 2";
  EXPECT_EQ(settings::savedRect(0, 0, 5, -7, 32, one), (PixelRect{0, 0, 32, 32})) << "too small to grab";
  EXPECT_EQ(settings::savedRect(INT32_MIN, INT32_MAX, 300, 300, 32, one),
            (PixelRect{-settings::kFarthestPx, settings::kFarthestPx, 300, 300}));
  EXPECT_EQ(settings::savedRect(0, 0, 99999, 99999, 32, {}).width, settings::kLargestSidePx) << "no screen known";

  EXPECT_EQ(settings::ontoAScreen({100, 100, 300, 300}, two), (PixelRect{100, 100, 300, 300})) << "shown: stays";
  EXPECT_EQ(settings::ontoAScreen({3150, 900, 300, 300}, two), (PixelRect{3150, 900, 300, 300})) << "partly shown";
  EXPECT_EQ(settings::ontoAScreen({5000, 500, 300, 300}, two), (PixelRect{2900, 500, 300, 300})) << "right of both";
  EXPECT_EQ(settings::ontoAScreen({-900, -900, 300, 300}, two), (PixelRect{0, 0, 300, 300}));
  EXPECT_EQ(settings::ontoAScreen({100, 2000, 300, 300}, one), (PixelRect{100, 740, 300, 300}));

  EXPECT_EQ(settings::savedTurnDeg(std::nanl("")), 0);
  EXPECT_EQ(settings::savedTurnDeg(-HUGE_VALL), 0);
  EXPECT_EQ(settings::savedTurnDeg(450), 450) << "accumulated quarter turns are kept";
  EXPECT_EQ(settings::savedTurnDeg(1e30L), std::fmod(1e30L, 360.0L));
}

// The data directory is held open for the run: renamed away and replaced by another one (a member of a shared
// group folder can do it), the files still go to and come from the directory the program started with.
TEST(DataDirectoryHandle, ADirectorySwappedAfterTheStartReceivesNothing) {
  TempDir dir;
  const fs::path data = dir.path / "data";
  fs::create_directory(data);
  const settings::DirectoryHandle handle(data.string());
  ASSERT_GE(handle.fd(), 0);
  fs::rename(data, dir.path / "moved");
  fs::create_directory(data);  // the other one's, with a FIFO where the layout would be
  ASSERT_EQ(::mkfifo((data / settings::kLayoutFileName).c_str(), 0600), 0);
  std::ofstream(data / "config.ini") << "[IAS]\nunit=KPH\n";

  ASSERT_TRUE(settings::saveWindowLayoutAt(handle.fd(), handle.path(), sampleLayout()).ok());
  EXPECT_TRUE(fs::is_regular_file(dir.path / "moved" / settings::kLayoutFileName));
  EXPECT_TRUE(fs::is_fifo(data / settings::kLayoutFileName)) << "the replacement is untouched";
  const settings::LayoutLoad back = settings::loadWindowLayoutAt(handle.fd(), handle.path());
  EXPECT_TRUE(back.found);
  EXPECT_EQ(settings::encodeWindowLayout(back.layout), settings::encodeWindowLayout(sampleLayout()));
  EXPECT_FALSE(settings::loadSettingsAt(handle.fd(), handle.path()).settings.airspeedInKph())
      << "config.ini comes from the directory it started with";

  // A link at the data directory's own name is followed only to a directory of this user's.
  fs::create_directory_symlink(dir.path / "moved", dir.path / "link");
  EXPECT_GE(settings::DirectoryHandle((dir.path / "link").string()).fd(), 0);
  if (::geteuid() == 0) {
    fs::create_directory(dir.path / "theirs");
    ASSERT_EQ(::chown((dir.path / "theirs").c_str(), 65534, 65534), 0);
    fs::create_directory_symlink(dir.path / "theirs", dir.path / "their-link");
    EXPECT_EQ(settings::DirectoryHandle((dir.path / "their-link").string()).fd(), -1);
  }
}
