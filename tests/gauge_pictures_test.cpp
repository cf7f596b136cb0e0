// Gauges as the panel shows them at rest, drawn by skyvane-render (and once in-process), checked at places
// where the geometry says what must be seen.
#include "GaugeTable.h"
#include "OffscreenContext.h"
#include "PanelBuild.h"
#include "PanelScene.h"
#include "PngFile.h"
#include "QuartzFont.h"
#include "TGLSceneBuffer.h"
#include "support/TestServers.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Picture {
  PngImage image;
  // The pixel where the gauge point (x, y) lands: ±5.29 units across the picture.
  std::array<int, 3> at(double x, double y) const {
    const double perPixel = 2 * 10 * 25.4 * 400 / (4 * 50 * 96.0) / image.width;
    const int px = static_cast<int>(std::floor(image.width / 2.0 + x / perPixel));
    const int py = static_cast<int>(std::floor(image.height / 2.0 - y / perPixel));
    const std::size_t i = (static_cast<std::size_t>(py) * static_cast<std::size_t>(image.width) + px) * 4;
    return {image.rgba[i], image.rgba[i + 1], image.rgba[i + 2]};
  }
};

// Lit emission e shows as e + 0.04, in bytes.
int shown(double emission) {
  return static_cast<int>(std::lround(std::min(1.0, emission + 0.04) * 255));
}

void expectColor(const std::array<int, 3>& got, int r, int g, int b, const std::string& where) {
  EXPECT_NEAR(got[0], r, 1) << where;
  EXPECT_NEAR(got[1], g, 1) << where;
  EXPECT_NEAR(got[2], b, 1) << where;
}

class GaugePictures : public ::testing::Test {
protected:
  GaugePictures() {
    char pattern[] = "/tmp/skyvane-pictures-XXXXXX";
    m_dir = ::mkdtemp(pattern);
    ::setenv("SKYVANE_HOME", m_dir.c_str(), 1);  // no config.ini there: the defaults
  }
  ~GaugePictures() override {
    ::unsetenv("SKYVANE_HOME");
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
  }

  Picture render(const std::string& gauge, std::vector<std::string> extra = {}) {
    const std::string file = m_dir + "/" + gauge + std::to_string(m_count++) + ".png";
    std::vector<std::string> argv{SKYVANE_RENDER_PATH, "--gauge", gauge, "-o", file, "--aa", "none"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    const ProgramRun run = runProgram(argv);
    EXPECT_EQ(run.status, 0) << run.err;
    auto image = readPng(file);
    if (!image) {
      ADD_FAILURE() << "no picture from " << gauge;
      return {};
    }
    return {*image};
  }

  std::string m_dir;
  int m_count = 0;
};

TEST_F(GaugePictures, BezelRingIsItsGrey) {
  const Picture p = render("PAdummy1");
  ASSERT_EQ(p.image.width, 400);
  // The gap of the manifold scale (140 .. 220 degrees) holds neither ticks nor arcs: the bezel alone.
  for (double degrees : {165.0, 180.0, 195.0}) {
    const double a = degrees * kPi / 180;
    const int grey = shown(0.658824);
    expectColor(p.at(4.25 * std::sin(a), 4.25 * std::cos(a)), grey, grey, grey, "bezel at " + std::to_string(degrees));
  }
}

TEST_F(GaugePictures, AirspeedGreenArcWhereTheSpeedsAre) {
  const Picture p = render("TForm2");
  // 330 degrees for 310 kt; between the ticks of 150 and 155 kt, inside the green arc (99 .. 260 kt) and
  // below the white one (which starts at radius 4.15).
  const double a = 152.5 * 330 / 310 * kPi / 180;
  expectColor(p.at(4.05 * std::sin(a), 4.05 * std::cos(a)), shown(0.137255), shown(0.556863), shown(0.137255),
              "green arc");
  const double yellow = 280 * 330.0 / 310 * kPi / 180 + 0.02;  // 260 .. 308 kt
  expectColor(p.at(4.05 * std::sin(yellow), 4.05 * std::cos(yellow)), shown(0.85), shown(0.85), shown(0.1),
              "yellow arc");
}

TEST_F(GaugePictures, HorizonSkyAboveGroundBelow) {
  const Picture p = render("Horizon");
  expectColor(p.at(-2.5, 2), shown(0.196078), shown(0.6), shown(0.8), "sky");
  expectColor(p.at(-2.5, -2), shown(0.72), shown(0.45), shown(0.2), "ground");
  expectColor(p.at(4.7, 0), shown(0), shown(0), shown(0), "mask ring");
}

TEST_F(GaugePictures, TurnedPictureIsTheUnturnedRotatedClockwise) {
  const Picture flat = render("TForm2");
  const Picture turned = render("TForm2", {"--turn", "1"});
  const int w = flat.image.width;
  int different = 0;
  for (int y = 0; y < w; ++y) {
    for (int x = 0; x < w; ++x) {
      // A quarter turn clockwise takes (x, y) to (w - 1 - y, x).
      const std::size_t from = (static_cast<std::size_t>(y) * w + x) * 4;
      const std::size_t to = (static_cast<std::size_t>(x) * w + (w - 1 - y)) * 4;
      for (int c = 0; c < 3; ++c) {
        if (std::abs(flat.image.rgba[from + c] - turned.image.rgba[to + c]) > 48) {
          ++different;
          break;
        }
      }
    }
  }
  // Only rasterisation along edges may differ.
  EXPECT_LT(different, w * w / 100);
}

// OpenGL refuses a line width that is not positive, which failed the gauge's every frame: a configured
// width below 1 draws the thinnest lines instead, and a huge one (whose limit lines are one wider) draws too.
TEST_F(GaugePictures, LineWidthsBelowOneDrawTheThinnestLines) {
  const auto withConfig = [&](const std::string& text, const std::string& gauge) {
    std::ofstream(m_dir + "/config.ini") << text;
    return render(gauge).image.rgba;
  };
  EXPECT_EQ(withConfig("[IAS]\nLineWidth=0\n", "TForm2"), withConfig("[IAS]\nLineWidth=1\n", "TForm2"));
  // OAT's limit lines are one wider than its ticks: at -5 and at 0 every line is 1 px.
  EXPECT_EQ(withConfig("[OAT]\nLineWidth=-5\n", "TForm31"), withConfig("[OAT]\nLineWidth=0\n", "TForm31"));
  EXPECT_FALSE(withConfig("[OAT]\nLineWidth=2147483647\n", "TForm31").empty());
}

TEST_F(GaugePictures, ArgumentsTheRendererRefuses) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--gauge", "TForm99", "-o", "x.png"},
        {"--gauge", "TForm2"},
        {"--gauge", "TForm2", "-o", "x.png", "--aa", "8x"},
        {"--gauge", "TForm2", "-o", "x.png", "--size", "0"},
        {"--gauge", "TForm2", "-o", "x.png", "--set", "nosuch=120"},
        {"--gauge", "TForm2", "-o", "x.png", "--poke", "0x10:u9=1"},
        {"--gauge", "TForm2", "-o", "x.png", "--from-sim", "--set", "airspeed=120"}}) {
    std::vector<std::string> argv{SKYVANE_RENDER_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    const ProgramRun run = runProgram(argv);
    EXPECT_EQ(run.status, 2) << args.back();
    EXPECT_FALSE(run.err.empty());
  }
}

// Where a needle turned `clockwiseDeg` from 12 o'clock has its point at `radius`.
std::array<int, 3> alongNeedle(const Picture& p, double clockwiseDeg, double radius) {
  const double a = clockwiseDeg * kPi / 180;
  return p.at(radius * std::sin(a), radius * std::cos(a));
}

TEST_F(GaugePictures, NeedlesStandWhereARunningSimulatorPutsThem) {
  TempRuntimeDir runtime;
  SimProcess sim({"--feed", "none", "--set", "airspeed=120", "--set", "altitude=1234"});
  ASSERT_TRUE(sim.running());
  const Picture airspeed = render("TForm2", {"--from-sim"});
  // 120 kt on the default dial, 330 degrees for 310 kt, clockwise from 12 o'clock: the white pointer there.
  const double iasDeg = 120 * 330.0 / 310;
  expectColor(alongNeedle(airspeed, iasDeg, 2.4), 255, 255, 255, "airspeed pointer at 127.7 degrees");
  expectColor(alongNeedle(airspeed, iasDeg, 1.2), 255, 255, 255, "airspeed pointer, nearer the hub");
  EXPECT_NE(alongNeedle(airspeed, 0, 2.4), (std::array<int, 3>{255, 255, 255})) << "not at rest";

  const Picture altimeter = render("TForm3", {"--from-sim"});
  // 1234 ft: the long hand 234 × 0.36 = 84.24 degrees, the short hand (0.9 grey) 1234 × 0.036 = 44.424.
  expectColor(alongNeedle(altimeter, 84.24, 2.4), 255, 255, 255, "long hand");
  const int hand = shown(0.9);
  expectColor(alongNeedle(altimeter, 44.424, 1.6), hand, hand, hand, "short hand");
  EXPECT_NE(alongNeedle(altimeter, 0, 1.6), (std::array<int, 3>{hand, hand, hand})) << "short hand not at rest";
}

TEST_F(GaugePictures, SetValuesMoveTheNeedleThroughOneTick) {
  // -1000 ft/min: 90 + 88 = 178 degrees anticlockwise of 12 o'clock, pointing down a little left of 6.
  const Picture vs = render("TForm6", {"--set", "verticalSpeed=-1000"});
  const double v = -1000 / (60 * 3.28084 / 256);  // the raw word, rounded as the catalogue stores it
  const double angle = 90 - std::nearbyint(v) * (60 * 3.28084 / 256) * 44 / 500;
  expectColor(alongNeedle(vs, -angle, 3.0), 255, 255, 255, "vertical speed pointer");
  TempRuntimeDir empty;
  EXPECT_EQ(runProgram({SKYVANE_RENDER_PATH, "--gauge", "TForm2", "-o", m_dir + "/none.png", "--from-sim"}).status, 1)
      << "no server to take values from";
}

TEST_F(GaugePictures, EveryFuelStatisticsTextStaysInsideItsBoxAtEverySize) {
  // 80 gallons at 10 gal/h: "8 HR 0 MIN" on the TIME page, 10.2 units wide at the authored scale where the box
  // holds 8.8; 8000 gallons on the REM page: "8000 GAL", 9 units.
  const auto fuel = [](int selector, int capacityGal) {
    return std::vector<std::string>{"--set", "fuelStatsSelector=" + std::to_string(selector),
                                    "--set", "eng1.running=1",
                                    "--set", "eng1.fuelFlow=60",
                                    "--set", "fuelWeight=6",
                                    "--set", "tankLeft1Level=1",
                                    "--set", "tankLeft1Capacity=" + std::to_string(capacityGal / 2),
                                    "--set", "tankRight1Level=1",
                                    "--set", "tankRight1Capacity=" + std::to_string(capacityGal / 2)};
  };
  for (const auto& [selector, capacity] : {std::pair{13, 80}, {11, 8000}}) {
    for (const int size : {120, 300, 640}) {
      std::vector<std::string> args = fuel(selector, capacity);
      args.insert(args.end(), {"--size", std::to_string(size)});
      const Picture p = render("TForm37", args);
      ASSERT_EQ(p.image.width, size);
      // The text's colours are warm (yellow or red); the box's frame and captions are grey.
      int inside = 0;
      int outside = 0;
      const double perPixel = 10.583 / size;
      for (double y = 0.2; y < 2.8; y += perPixel) {
        for (double x = -5.2; x < 5.2; x += perPixel) {
          const auto c = p.at(x, y);
          if (c[0] > 120 && c[0] - c[2] > 80) {
            (std::abs(x) < 4.4 ? inside : outside) += 1;
          }
        }
      }
      const std::string where = "page " + std::to_string(selector) + " at " + std::to_string(size) + " px";
      EXPECT_GT(inside, size / 4) << where;
      EXPECT_EQ(outside, 0) << where;
    }
  }
}

// The built panel seen through one gauge's camera, in-process.
class PanelView : public ::testing::Test {
protected:
  static constexpr int kSize = 400;

  PanelView() : buffer([] { return std::make_unique<engine::OffscreenContext>(kSize, kSize); }) {
    // Every view draws the whole panel, the fuel statistics read-out in its own face among it.
    EXPECT_FALSE(resources::installQuartzFont(privateTestDirectory()).empty());
    gauges::buildPanel(panel, settings, states);
    buffer.resize(kSize, kSize);
    buffer.setAntiAliasing(TGLAntiAliasing::aaNone);
    buffer.createRenderingContext();
  }
  ~PanelView() override { buffer.setCamera(nullptr); }

  std::vector<std::uint8_t> frame(const char* window) {
    const gauges::GaugeRow& row = *gauges::findGauge(window);
    TGLCamera* camera = &gauges::aimCamera(panel.nodes(), row);
    buffer.setCamera(camera);
    buffer.renderFrame();
    return static_cast<engine::OffscreenContext&>(*buffer.context()).readPixels();
  }

  panel::PanelScene panel;
  settings::Settings settings;
  gauges::ScaleStates states;
  TGLSceneBuffer buffer;
};

TEST_F(PanelView, EngineOneAndTwoMoveApart) {
  const auto rpm1 = frame("TForm11");
  const auto rpm2 = frame("TForm12");
  panel.nodes().RPMneedle1->setRollAngle(-90);
  EXPECT_NE(frame("TForm11"), rpm1);
  EXPECT_EQ(frame("TForm12"), rpm2);
}

TEST_F(PanelView, BarometricCardShowsOnlyThroughTheAltimetersWindow) {
  const auto withCard = frame("TForm3");
  panel.nodes().QNHDummy->setVisible(false);
  const auto withoutCard = frame("TForm3");
  int shownThrough = 0;
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      const std::size_t i = (static_cast<std::size_t>(y) * kSize + x) * 4;
      if (withCard[i] == withoutCard[i] && withCard[i + 1] == withoutCard[i + 1]) {
        continue;
      }
      // Where the card shows: its angle clockwise from 12 o'clock must lie in the window, 80 .. 100 degrees.
      const double dx = x + 0.5 - kSize / 2.0;
      const double dy = kSize / 2.0 - y - 0.5;
      const double degrees = std::atan2(dx, dy) * 180 / kPi;
      EXPECT_GT(degrees, 79) << x << "," << y;
      EXPECT_LT(degrees, 101) << x << "," << y;
      ++shownThrough;
    }
  }
  EXPECT_GT(shownThrough, 100) << "the card's ticks and the 1070 label show in the window";
}

}  // namespace

// The font file is written only into a directory of this user's, never through a link planted at its name or
// at a temporary's name, and goes to the private fallback directory when the data directory cannot take it.
TEST(QuartzFontFile, NeverWritesThroughALinkAndFallsBackToThePrivateDirectory) {
  char pattern[] = "/tmp/skyvane-font-XXXXXX";
  const std::filesystem::path home = ::mkdtemp(pattern);
  const std::filesystem::path victim = home / "notes.txt";
  std::ofstream(victim) << "my notes";
  const std::filesystem::path data = home / "data";
  std::filesystem::create_directory(data);
  std::filesystem::create_symlink(victim, data / "Quartz.ttf");
  std::filesystem::create_symlink(victim, data / ("Quartz.ttf.tmp-" + std::to_string(::getpid())));
  const std::size_t fontBytes = resources::quartzFontData().size();

  EXPECT_EQ(resources::installQuartzFont(data.string()), (data / "Quartz.ttf").string());
  EXPECT_EQ(std::filesystem::file_size(victim), 8u) << "the victim is untouched";
  EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(data / "Quartz.ttf")));
  EXPECT_EQ(std::filesystem::file_size(data / "Quartz.ttf"), fontBytes);

  // A data directory that cannot take it (a path through a file): the fallback, asked for only now.
  const std::filesystem::path fallback = home / "private";
  std::filesystem::create_directory(fallback);
  int asked = 0;
  const auto privateDir = [&] {
    ++asked;
    return fallback.string();
  };
  EXPECT_EQ(resources::installQuartzFont(data.string(), privateDir), (data / "Quartz.ttf").string());
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(resources::installQuartzFont((victim / "sub").string(), privateDir), (fallback / "Quartz.ttf").string());
  EXPECT_EQ(asked, 1);
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(fallback)) {
    ++files;
  }
  EXPECT_EQ(files, 1u) << "no temporary left behind";
  EXPECT_EQ(resources::installQuartzFont((victim / "sub").string(), [] { return std::string(); }), "");
  // A data directory others may write to (where the file could be swapped before it is read): the fallback.
  const std::filesystem::path shared = home / "shared";
  std::filesystem::create_directory(shared);
  std::filesystem::permissions(shared, std::filesystem::perms::all);
  EXPECT_EQ(resources::installQuartzFont(shared.string(), privateDir), (fallback / "Quartz.ttf").string());
  EXPECT_FALSE(std::filesystem::exists(shared / "Quartz.ttf"));
  // A private data directory in a group's folder without the sticky bit (2775): another member can rename it
  // away and put one of theirs in its place, so it is not private either.
  const std::filesystem::path group = home / "group";
  std::filesystem::create_directory(group);
  ::chmod(group.c_str(), 02775);
  std::filesystem::create_directory(group / "mine");
  ::chmod((group / "mine").c_str(), 0700);
  EXPECT_EQ(resources::installQuartzFont((group / "mine").string(), privateDir), (fallback / "Quartz.ttf").string());
  EXPECT_FALSE(std::filesystem::exists(group / "mine" / "Quartz.ttf"));
  ::chmod(group.c_str(), 01777);  // with the sticky bit, only the owner may rename it
  EXPECT_EQ(resources::installQuartzFont((group / "mine").string(), privateDir),
            (group / "mine" / "Quartz.ttf").string());
  std::filesystem::remove_all(home);
}

// A picture is written whole or not at all, and a link at its name is replaced, never written through.
TEST(PngFile, APictureReplacesALinkAtItsNameAndKeepsItsPixels) {
  const std::filesystem::path dir = privateTestDirectory();
  const std::filesystem::path victim = dir / "keep.txt";
  std::ofstream(victim) << "keep";
  const std::filesystem::path picture = dir / "picture.png";
  std::filesystem::create_symlink(victim, picture);
  std::vector<std::uint8_t> rgba(7 * 5 * 4);
  for (std::size_t i = 0; i < rgba.size(); ++i) {
    rgba[i] = static_cast<std::uint8_t>(i * 37 + 11);
  }
  EXPECT_TRUE(writePng(picture.string(), 7, 5, rgba).ok());
  EXPECT_EQ(std::filesystem::file_size(victim), 4u);
  EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(picture)));
  const std::optional<PngImage> back = readPng(picture.string());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->rgba, rgba);
  EXPECT_FALSE(writePng((victim / "no.png").string(), 7, 5, rgba).ok()) << "a path through a file fails";
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    EXPECT_EQ(entry.path().filename().string().rfind(".png-", 0), std::string::npos) << "a temporary left behind";
  }
}
