// The headless panel behind skyvane-web: a gauge is drawn when a browser first wants it, again only when one
// of its nodes moved, once per distinct size and turn, and no more often than the interval allows.
#include "Assignments.h"
#include "GaugeStreamer.h"
#include "OffscreenContext.h"
#include "QuartzFont.h"
#include "SimLink.h"
#include "support/TestServers.h"

#include <gtest/gtest.h>

#include <climits>
#include <map>

namespace {

using std::chrono::milliseconds;

constexpr int kAirspeed = 0;  // TForm2
constexpr int kAltimeter = 1;

class WebStreamer : public ::testing::Test {
protected:
  void SetUp() override {
    if (!engine::OffscreenContext::available()) {
      GTEST_SKIP() << "no EGL surfaceless context on this machine";
    }
    resources::installQuartzFont(privateTestDirectory());
    streamer = std::make_unique<web::GaugeStreamer>(settings::Settings{}, TGLAntiAliasing::aaNone);
    SimLinkResult result{};
    ASSERT_TRUE(SimLinkOpen(0, result));
  }
  void TearDown() override {
    streamer.reset();
    SimLinkClose();
  }
  void set(const std::string& assignment) {
    const auto parsed = simlink::parseSet(assignment);
    ASSERT_TRUE(parsed) << parsed.error();
    server.space().apply({*parsed});
    ASSERT_EQ(streamer->tick(), instruments::TickOutcome::Updated);
  }
  std::vector<web::FramePtr> due(const std::set<web::Variant>& wanted, milliseconds at,
                                 web::Clock::duration interval = milliseconds(0)) {
    return streamer->renderDue({{wanted.begin(), wanted.end()}}, start + at, interval);
  }

  TempRuntimeDir runtime;
  FakeServer server{"UIPCMAIN", INT_MAX, FakeServer::After::Answer};
  std::unique_ptr<web::GaugeStreamer> streamer;
  web::Clock::time_point start = web::Clock::now();
};

TEST_F(WebStreamer, AGaugeIsDrawnWhenFirstWantedAndAgainOnlyWhenItMoved) {
  const std::set<web::Variant> wanted{{kAirspeed, 200, 0}, {kAltimeter, 200, 0}};
  set("airspeed=120");
  EXPECT_EQ(due(wanted, milliseconds(0)).size(), 2u);
  EXPECT_TRUE(due(wanted, milliseconds(30)).empty());

  set("altitude=4350");
  const auto frames = due(wanted, milliseconds(60));
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0]->variant.gauge, kAltimeter);
  EXPECT_EQ(streamer->renders(), 3);

  set("altitude=4350");  // the same value again: nothing moved
  EXPECT_TRUE(due(wanted, milliseconds(90)).empty());
}

TEST_F(WebStreamer, EachDistinctSizeAndTurnIsOneDrawingSharedByItsWatchers) {
  set("airspeed=120");
  const std::set<web::Variant> wanted{{kAirspeed, 200, 0}, {kAirspeed, 300, 0}, {kAirspeed, 200, 1}};
  const auto frames = due(wanted, milliseconds(0));
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_NE(frames[0]->bytes, frames[1]->bytes);
  EXPECT_NE(frames[0]->bytes, frames[2]->bytes);
  // Later watchers of a variant take the frame already drawn.
  EXPECT_EQ(streamer->latest({kAirspeed, 200, 1}), frames[1]);
  set("airspeed=140");
  EXPECT_EQ(due(wanted, milliseconds(30)).size(), 3u);
  EXPECT_EQ(streamer->renders(), 6);
}

TEST_F(WebStreamer, AMovedGaugeKeepsToItsRateAndStaysDueWhileItWaits) {
  const std::set<web::Variant> wanted{{kAirspeed, 128, 0}};
  const milliseconds interval(100);
  set("airspeed=100");
  ASSERT_EQ(due(wanted, milliseconds(0), interval).size(), 1u);  // the first frame, at once
  set("airspeed=110");
  ASSERT_EQ(due(wanted, milliseconds(10), interval).size(), 1u);  // a second one may follow: bursts of two
  set("airspeed=120");
  EXPECT_TRUE(due(wanted, milliseconds(20), interval).empty());
  EXPECT_TRUE(due(wanted, milliseconds(90), interval).empty());
  EXPECT_EQ(due(wanted, milliseconds(130), interval).size(), 1u);  // still due once it has earned a frame
  EXPECT_TRUE(due(wanted, milliseconds(400), interval).empty());   // nothing moved since
}

TEST_F(WebStreamer, TicksALittleShorterThanTheIntervalStillGiveTheFullRate) {
  // The panel's 30 ms tick against 30 frames a second: a gauge that moves at every tick gets 30 frames a
  // second, not the 16.7 that drawing at every other tick would give.
  const std::set<web::Variant> wanted{{kAirspeed, 64, 0}};
  const auto interval = std::chrono::duration_cast<web::Clock::duration>(std::chrono::seconds(1)) / 30;
  int frames = 0;
  for (int tick = 0; tick < 100; ++tick) {  // 3 s
    set("airspeed=" + std::to_string(100 + tick));
    frames += static_cast<int>(due(wanted, milliseconds(30 * tick), interval).size());
  }
  EXPECT_GE(frames, 89);
  EXPECT_LE(frames, 92);
}

TEST_F(WebStreamer, NoMoreThanThirtySixDrawingsATickHoweverManySizesAreAskedFor) {
  std::set<web::Variant> wanted;
  for (int size = 64; size < 64 + 50; ++size) {
    wanted.insert({kAirspeed, size, 0});
  }
  EXPECT_EQ(due(wanted, milliseconds(0)).size(), web::kMaxDrawingsPerCall);
  EXPECT_EQ(due(wanted, milliseconds(30)).size(), 50 - web::kMaxDrawingsPerCall) << "the rest at the next tick";
}

TEST_F(WebStreamer, VariantsBeyondTheCapShowEveryMoveAndLaterGaugesGetTheirTurn) {
  // One gauge at 40 sizes: a move is drawn in two ticks, and the 4 variants past the cap are not left showing
  // the value from before it.
  std::set<web::Variant> wanted;
  for (int size = 64; size < 64 + 40; ++size) {
    wanted.insert({kAirspeed, size, 0});
  }
  due(wanted, milliseconds(0));
  due(wanted, milliseconds(30));
  set("airspeed=150");
  std::map<web::Variant, web::FramePtr> before;
  for (const web::Variant& v : wanted) {
    before[v] = streamer->latest(v);
  }
  EXPECT_EQ(due(wanted, milliseconds(60)).size(), web::kMaxDrawingsPerCall);
  EXPECT_EQ(due(wanted, milliseconds(90)).size(), 4u);
  for (const web::Variant& v : wanted) {
    EXPECT_NE(streamer->latest(v), before[v]) << v.sizePx;
  }
  // With the altimeter watched too and both moving at every tick, the altimeter is drawn every other tick at
  // least, however many airspeed variants come before it.
  wanted.insert({kAltimeter, 64, 0});
  due(wanted, milliseconds(120));
  int altimeterFrames = 0;
  for (int tick = 0; tick < 6; ++tick) {
    set("airspeed=" + std::to_string(160 + tick));
    set("altitude=" + std::to_string(1000 + 100 * tick));
    for (const web::FramePtr& f : due(wanted, milliseconds(150 + 30 * tick))) {
      altimeterFrames += f->variant.gauge == kAltimeter ? 1 : 0;
    }
  }
  EXPECT_GE(altimeterFrames, 3);
}

TEST_F(WebStreamer, AVariantNoLongerWantedIsForgotten) {
  set("airspeed=100");
  due({{kAirspeed, 128, 0}}, milliseconds(0));
  ASSERT_NE(streamer->latest({kAirspeed, 128, 0}), nullptr);
  due({{kAltimeter, 128, 0}}, milliseconds(30));
  EXPECT_EQ(streamer->latest({kAirspeed, 128, 0}), nullptr);
}

TEST_F(WebStreamer, AGaugeThatCannotBeDrawnGivesNoFrameIsSaidOnceAndTheOthersGoOn) {
  // Larger than any framebuffer the renderer makes: its drawing fails.
  const web::Variant huge{kAirspeed, 1 << 15, 0};
  const web::Variant altimeter{kAltimeter, 128, 0};
  testing::internal::CaptureStderr();
  std::vector<web::FramePtr> first;
  std::vector<web::FramePtr> second;
  EXPECT_NO_THROW(first = due({huge, altimeter}, milliseconds(0)));
  set("airspeed=150");
  set("altitude=5000");
  EXPECT_NO_THROW(second = due({huge, altimeter}, milliseconds(30)));
  const std::string said = testing::internal::GetCapturedStderr();
  ASSERT_EQ(first.size(), 1u) << said;
  EXPECT_EQ(first[0]->variant, altimeter);
  ASSERT_EQ(second.size(), 1u) << "both moved; the failed one is not tried again";
  EXPECT_EQ(second[0]->variant, altimeter);
  EXPECT_EQ(streamer->latest(huge), nullptr);
  const std::string text = "the gauge \"Anemometer\" cannot be drawn at 32768 px";
  EXPECT_NE(said.find(text), std::string::npos) << said;
  EXPECT_EQ(said.find(text), said.rfind(text)) << said;
}

TEST_F(WebStreamer, ShowsTheAskedFuelPageButLeavesTheRequestForTheDesktopPanel) {
  set("fuelStatsSelector=12");
  EXPECT_EQ(streamer->instruments().fuelStats().page, instruments::FuelPage::USED);
  std::uint8_t selector[2] = {0xff, 0xff};
  server.space().read(0x78EA, selector);
  EXPECT_EQ(selector[0] | selector[1] << 8, 12) << "a watcher never clears the page request";
}

TEST_F(WebStreamer, APictureAfterALargerOneIsThePictureOfItsOwnSize) {
  // Framebuffer storage is reused between sizes; a smaller picture must not keep a corner of the larger one.
  // One streamer only: the glyph lists belong to the process's one font manager and its first context.
  set("airspeed=120");
  const auto before = due({{kAirspeed, 300, 1}}, milliseconds(0));
  set("airspeed=140");
  ASSERT_EQ(due({{kAirspeed, 600, 0}}, milliseconds(30)).size(), 1u);
  set("airspeed=120");
  const auto after = due({{kAirspeed, 300, 1}}, milliseconds(60));
  ASSERT_EQ(before.size(), 1u);
  ASSERT_EQ(after.size(), 1u);
  EXPECT_TRUE(before[0]->bytes == after[0]->bytes);
}

}  // namespace
