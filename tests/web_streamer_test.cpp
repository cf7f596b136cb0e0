// The headless panel behind skyvane-web: a gauge is drawn when a browser first wants it, again only when one
// of its nodes moved, once per distinct size and turn, and no more often than the interval allows.
#include "Assignments.h"
#include "GaugeStreamer.h"
#include "OffscreenContext.h"
#include "QuartzFont.h"
#include "SimLink.h"
#include "support/TestServers.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstring>
#include <map>
#include <optional>

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

// A browser's copy of a gauge's scene, read back from the messages as the page reads them: what each node
// shows and where, and each node's shape as its bytes. Reading checks that every block is whole.
class SceneMirror {
public:
  struct Node {
    int parent = -1;
    bool visible = true;
    std::array<float, 12> local{};
    std::optional<std::array<float, 13>> material;  // emission, ambient, diffuse, then cull
    std::vector<std::uint8_t> shape;
  };

  // The scene as exported, brought to now by its catch-up.
  explicit SceneMirror(const web::SceneSnapshot& snapshot) : SceneMirror(*snapshot.scene) { apply(*snapshot.catchUp); }
  explicit SceneMirror(const web::SceneMessage& scene) {
    const std::vector<std::uint8_t>& b = scene.bytes;
    EXPECT_EQ(b.at(0), web::kSceneKind);
    m_at = 8 + 112;  // the header and the camera
    for (std::uint16_t i = 0, n = u16(b, 2); i < n; ++i) {
      Node node;
      const std::uint16_t parent = u16(b, m_at);
      node.parent = parent == 0xFFFF ? -1 : parent;
      node.visible = (b.at(m_at + 2) & 1) != 0;
      const bool material = (b.at(m_at + 2) & 2) != 0;
      const int batches = b.at(m_at + 3);
      m_at += 4;
      node.local = floats<12>(b);
      if (material) {
        node.material = readMaterial(b);
      }
      node.shape = readShape(b, batches);
      nodes.push_back(node);
    }
    EXPECT_EQ(m_at, b.size()) << "the scene ends where its last node does";
  }

  // A catch-up to the scene as it came, or a tick's changes after it.
  void apply(const web::SceneMessage& change) {
    const std::vector<std::uint8_t>& b = change.bytes;
    ASSERT_TRUE(b.at(0) == web::kDeltaKind || b.at(0) == web::kCatchUpKind);
    ASSERT_GT(change.sequence, sequence);
    sequence = change.sequence;
    m_at = 8;
    for (std::uint16_t i = 0, n = u16(b, 2); i < n; ++i) {
      Node& node = nodes.at(u16(b, m_at));
      const std::uint8_t op = b.at(m_at + 2);
      m_at += 4;
      switch (op) {
        case 1:
          node.local = floats<12>(b);
          break;
        case 2:
          node.visible = b.at(m_at) != 0;
          m_at += 4;
          break;
        case 3:
          node.material = readMaterial(b);
          break;
        case 4: {
          const int batches = b.at(m_at);
          m_at += 4;
          node.shape = readShape(b, batches);
          break;
        }
        default:
          FAIL() << "an unknown change " << int(op);
      }
    }
    EXPECT_EQ(m_at, b.size());
  }

  std::vector<Node> nodes;
  std::uint32_t sequence = 0;
  int runs = 0;  // glyph runs read

private:
  static std::uint16_t u16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b.at(at) | b.at(at + 1) << 8);
  }
  std::uint32_t u32(const std::vector<std::uint8_t>& b) {
    std::uint32_t v = 0;
    std::memcpy(&v, &b.at(m_at + 3) - 3, 4);
    m_at += 4;
    return v;
  }
  template <std::size_t N>
  std::array<float, N> floats(const std::vector<std::uint8_t>& b) {
    std::array<float, N> v{};
    std::memcpy(v.data(), &b.at(m_at + N * 4 - 1) - (N * 4 - 1), N * 4);
    m_at += N * 4;
    return v;
  }
  std::array<float, 13> readMaterial(const std::vector<std::uint8_t>& b) {
    std::array<float, 13> m{};
    const auto colours = floats<12>(b);
    std::copy(colours.begin(), colours.end(), m.begin());
    m[12] = b.at(m_at);
    m_at += 4;
    return m;
  }
  std::vector<std::uint8_t> readShape(const std::vector<std::uint8_t>& b, int batches) {
    const std::size_t from = m_at;
    for (int i = 0; i < batches; ++i) {
      if (b.at(m_at) == 2) {  // a glyph run: header, the frame, the codes padded
        const std::uint32_t codes = (m_at += 8, u32(b));
        m_at += 4 + 48 + (codes + 3) / 4 * 4;
        ++runs;
        continue;
      }
      const bool lines = b.at(m_at) == 1;
      const std::uint8_t flags = b.at(m_at + 1);
      m_at += 8;  // kind, flags, stipple, width
      const std::uint32_t n = u32(b);
      const std::uint32_t indices = u32(b);
      m_at += lines ? 0 : (flags & 2) ? 12 : n * 12;          // normals
      m_at += (flags & 4) ? 4 + n * 8 : n * 12;               // positions
      m_at += lines ? n * 4 : 0;                              // colours
      m_at += (indices * ((flags & 8) ? 4 : 2) + 3) / 4 * 4;  // indices, padded
      EXPECT_LE(m_at, b.size());
    }
    return {b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(std::min(m_at, b.size()))};
  }
  std::size_t m_at = 0;
};

// A browser's copy kept up to date by the changes alone equals the scene made afresh; a steady tick sends
// nothing; the changes are those of the nodes that moved. The scene itself never changes: a browser that kept
// it gets only the catch-up.
TEST_F(WebStreamer, AScenePlusItsChangesIsTheSceneMadeAfresh) {
  set("airspeed=100");
  set("altitude=1000");
  const auto first = streamer->sceneOf(kAirspeed, 1);
  ASSERT_TRUE(first);
  SceneMirror mirror(*first);
  ASSERT_GT(mirror.nodes.size(), 50u);
  const auto again = streamer->sceneOf(kAirspeed, 2);
  EXPECT_EQ(again->catchUp, first->catchUp) << "nothing changed: the same catch-up";

  set("airspeed=100");
  EXPECT_TRUE(streamer->sceneChanges({kAirspeed, kAltimeter}, 3).empty()) << "a steady tick sends nothing";

  set("airspeed=150");
  set("altitude=5000");
  const auto changes = streamer->sceneChanges({kAirspeed, kAltimeter}, 4);
  ASSERT_EQ(changes.size(), 1u) << "the altimeter was never asked for: it has no copy to keep up";
  EXPECT_EQ(changes[0]->gauge, kAirspeed);
  EXPECT_LT(changes[0]->bytes.size(), 200u) << "a needle's turn is a few records";
  mirror.apply(*changes[0]);

  const auto fresh = streamer->sceneOf(kAirspeed, 5);
  EXPECT_EQ(fresh->scene, first->scene) << "the scene as exported, the same for the life of the process";
  EXPECT_EQ(fresh->scene->sequence, first->scene->sequence);
  EXPECT_NE(fresh->catchUp, first->catchUp);
  const SceneMirror made(*fresh);
  const SceneMirror before(*first);
  ASSERT_EQ(made.nodes.size(), mirror.nodes.size());
  int moved = 0;
  for (std::size_t i = 0; i < made.nodes.size(); ++i) {
    const SceneMirror::Node& a = mirror.nodes[i];
    const SceneMirror::Node& b = made.nodes[i];
    EXPECT_EQ(a.local, b.local) << "node " << i;
    EXPECT_EQ(a.visible, b.visible) << "node " << i;
    EXPECT_EQ(a.material, b.material) << "node " << i;
    EXPECT_EQ(a.shape, b.shape) << "node " << i;
    moved += a.local != before.nodes[i].local ? 1 : 0;
  }
  EXPECT_GE(moved, 1) << "the needle moved";
  EXPECT_TRUE(streamer->sceneChanges({kAirspeed}, 6).empty()) << "the catch-up's changes are not sent again";
}

// The fuel statistics read-out's text changes with the fuel remaining (a new shape): the changes carry the new
// shape whole, and so does a catch-up made later.
TEST_F(WebStreamer, ATextThatChangesIsSentAsARunOfItsFontsGlyphs) {
  const int fuel = static_cast<int>(gauges::findGauge("TForm37") - gauges::kGauges.data());
  set("fuelStatsSelector=11");  // the fuel remaining
  set("tankLeft1Capacity=20");
  set("tankLeft1Level=0.5");
  const auto first = streamer->sceneOf(fuel, 1);
  ASSERT_TRUE(first);
  SceneMirror mirror(*first);
  set("tankLeft1Level=0.25");
  const auto changes = streamer->sceneChanges({fuel}, 2);
  ASSERT_EQ(changes.size(), 1u);
  const int runsBefore = mirror.runs;
  mirror.apply(*changes[0]);
  // The new figures as a run of codes in the font the browser has: not the glyphs' triangles again.
  EXPECT_GE(mirror.runs, runsBefore + 1);
  EXPECT_LT(changes[0]->bytes.size(), 400u);
  ASSERT_EQ(changes[0]->fonts.size(), 1u);
  EXPECT_EQ(changes[0]->fonts[0]->bytes.at(0), web::kFontKind);
  const SceneMirror made(*streamer->sceneOf(fuel, 3));
  const SceneMirror before(*first);
  int reshaped = 0;
  for (std::size_t i = 0; i < made.nodes.size(); ++i) {
    EXPECT_EQ(mirror.nodes[i].shape, made.nodes[i].shape) << "node " << i;
    EXPECT_EQ(mirror.nodes[i].material, made.nodes[i].material) << "node " << i;
    reshaped += before.nodes[i].shape != made.nodes[i].shape ? 1 : 0;
  }
  EXPECT_GE(reshaped, 1) << "the page's text changed";
}

}  // namespace