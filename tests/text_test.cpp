// Extruded text: font entries shared and released, alignment from the face's own metrics, the code page,
// re-acquisition after the contexts went, and the fixed error texts.
#include "GlyphOutlines.h"
#include "PrivateFont.h"
#include "TFontManager.h"
#include "TGLPlane.h"
#include "TGLSpaceText.h"
#include "support/OffscreenView.h"
#include "support/TestServers.h"

#include <gtest/gtest.h>

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <thread>

namespace {

// The box of pixels brighter than the backdrop, in scene units.
struct Ink {
  double left = 1e9, right = -1e9, bottom = 1e9, top = -1e9;
};

Ink inkOf(const OffscreenView& view) {
  Ink ink;
  const double perPixel = view.unitsPerPixel();
  for (int y = 0; y < view.size(); ++y) {
    for (int x = 0; x < view.size(); ++x) {
      if (view.pixel(x, y).r > 128) {
        const double sx = (x + 0.5 - view.size() / 2.0) * perPixel;
        const double sy = (view.size() / 2.0 - y - 0.5) * perPixel;
        ink.left = std::min(ink.left, sx);
        ink.right = std::max(ink.right, sx);
        ink.bottom = std::min(ink.bottom, sy);
        ink.top = std::max(ink.top, sy);
      }
    }
  }
  return ink;
}

class Text : public ::testing::Test {
protected:
  Text() { view.buffer().setBackgroundColor({0, 0, 0, 1}); }

  TGLSpaceText& addText(const std::string& s, TGLTextAdjust adjust = {}) {
    auto& t = view.scene().objectRoot().addChild<TGLSpaceText>();
    t.setText(s);
    t.setAdjust(adjust);
    t.material().frontProperties().emission().assign({1, 1, 1, 1});
    return t;
  }

  OffscreenView view;
};

TEST_F(Text, EmptyTextAcquiresNothingAndCaseBlindNamesShareAnEntry) {
  const std::size_t before = TFontManager::instance().entryCount();
  auto& empty = addText("");
  view.render();
  EXPECT_EQ(empty.fontEntry(), nullptr);
  EXPECT_EQ(TFontManager::instance().entryCount(), before);

  auto& a = addText("A");
  auto& b = addText("B");
  b.setFont({"ARIAL", {}});
  view.render();
  ASSERT_NE(a.fontEntry(), nullptr);
  EXPECT_EQ(a.fontEntry(), b.fontEntry());
  EXPECT_EQ(a.fontEntry()->references(), 2);
  EXPECT_EQ(TFontManager::instance().entryCount(), before + 1);
}

TEST_F(Text, CentredTextIsCentredOnItsOriginByTheFacesMetrics) {
  auto& ias = addText("IAS", {TGLTextHorzAdjust::haCenter, TGLTextVertAdjust::vaCenter});
  ias.setScale(0.6f, 0.6f, 1);
  ias.setPosition(0, 1.3f, 0);
  view.render();
  // Where the ink must be, from the metrics: the advance is centred, so the ink is off by the side bearings.
  const engine::FontEntry& e = *ias.fontEntry();
  const auto& i = e.metrics('I');
  const auto& a = e.metrics('A');
  const auto& s = e.metrics('S');
  const double width = i.cellIncX + a.cellIncX + s.cellIncX;
  const double inkLeftEm = i.originX;
  const double inkRightEm = i.cellIncX + a.cellIncX + s.originX + s.blackBoxX;
  const double centreX = 0.6 * ((inkLeftEm + inkRightEm) / 2 - width / 2);
  const Ink ink = inkOf(view);
  const double pixel = view.unitsPerPixel();
  EXPECT_NEAR((ink.left + ink.right) / 2, centreX, 1.5 * pixel);
  EXPECT_NEAR((ink.bottom + ink.top) / 2, 1.3, 1.5 * pixel);
  EXPECT_NEAR(ink.right - ink.left, 0.6 * (inkRightEm - inkLeftEm), 2 * pixel);
}

TEST_F(Text, RightAlignedTextEndsAtItsOrigin) {
  auto& t = addText("KT", {TGLTextHorzAdjust::haRight, TGLTextVertAdjust::vaCenter});
  view.render();
  const auto& k = t.fontEntry()->metrics('K');
  const auto& last = t.fontEntry()->metrics('T');
  // The pen ends at x = 0: the ink of "T" ends its right side bearing before it.
  const double inkRight = -(last.cellIncX - last.originX - last.blackBoxX);
  const double inkLeft = -(k.cellIncX + last.cellIncX) + k.originX;
  const Ink ink = inkOf(view);
  EXPECT_NEAR(ink.right, inkRight, 1.5 * view.unitsPerPixel());
  EXPECT_NEAR(ink.left, inkLeft, 1.5 * view.unitsPerPixel());
}

TEST_F(Text, WindowsCodePageBytes) {
  EXPECT_EQ(engine::cp1252ToUnicode(0xB0), 0xB0u);  // degree sign
  EXPECT_EQ(engine::cp1252ToUnicode(0x80), 0x20ACu);
  EXPECT_EQ(engine::cp1252ToUnicode(0x96), 0x2013u);
  EXPECT_EQ(engine::cp1252ToUnicode(0x81), 0u);
  EXPECT_EQ(engine::cp1252ToUnicode('A'), static_cast<std::uint32_t>('A'));
  auto& degree = addText("\xB0");
  view.render();
  const engine::GlyphMetrics& m = degree.fontEntry()->metrics(0xB0);
  EXPECT_GT(m.cellIncX, 0);
  EXPECT_GT(m.blackBoxY, 0);
  EXPECT_GT(m.originY, 0.4);  // a raised sign, not a missing-glyph box on the baseline
}

TEST_F(Text, LastReleaseDeletesTheListsAndTheNextTextMakesNewOnes) {
  auto& first = addText("X");
  first.setFont({"Liberation Serif", {}});
  view.render();
  const std::size_t entries = TFontManager::instance().entryCount();
  GLuint oldBase = first.fontEntry()->listBase();
  auto gone = view.scene().objectRoot().detachChild(first, false);
  gone.reset();  // destroyed: the last reference goes
  EXPECT_EQ(TFontManager::instance().entryCount(), entries - 1);
  view.context().makeCurrent();
  EXPECT_FALSE(glIsList(oldBase));
  view.context().releaseCurrent();

  auto& again = addText("X");
  again.setFont({"liberation serif", {}});
  view.render();
  ASSERT_NE(again.fontEntry(), nullptr);
  EXPECT_NE(again.fontEntry()->listBase(), 0u);
  EXPECT_EQ(TFontManager::instance().entryCount(), entries);
}

TEST_F(Text, TextsReacquireTheirGlyphsAfterTheContextsWereRecreated) {
  auto& t = addText("W", {TGLTextHorzAdjust::haCenter, TGLTextVertAdjust::vaCenter});
  t.setScale(4, 4, 1);
  view.render();
  const Ink before = inkOf(view);
  view.buffer().createRenderingContext();  // the only context goes, with every list
  ASSERT_NE(t.fontEntry(), nullptr);
  EXPECT_EQ(t.fontEntry()->listBase(), 0u);
  view.render();
  ASSERT_NE(t.fontEntry(), nullptr);
  const Ink after = inkOf(view);
  EXPECT_NEAR(after.left, before.left, 1e-9);
  EXPECT_NEAR(after.top, before.top, 1e-9);
}

TEST_F(Text, ExtrudedTextShowsItsSideWalls) {
  auto& flat = addText("H", {TGLTextHorzAdjust::haCenter, TGLTextVertAdjust::vaCenter});
  flat.setScale(4, 4, 4);
  flat.setTurnAngle(60);  // seen at an angle: flat glyphs get thin
  view.render();
  const Ink thin = inkOf(view);
  flat.setExtrusion(0.5f);
  view.render();
  const Ink deep = inkOf(view);
  EXPECT_GT(deep.right - deep.left, thin.right - thin.left + 0.5);
  EXPECT_THROW(flat.setExtrusion(-1), engine::EngineError);
  try {
    flat.setExtrusion(-1);
  } catch (const engine::EngineError& e) {
    EXPECT_STREQ(e.what(), "Extrusion must be >=0");
  }
}

// Texts of one thread hold the font manager: a second thread acquiring or releasing meanwhile ends the process
// saying so; once the first thread's texts are gone, another may take it.
TEST_F(Text, ASecondThreadUsingTheFontManagerWhileTextsOfTheFirstHoldFontsEndsTheProcess) {
  view.context().makeCurrent();
  engine::FontEntry* entry = TFontManager::instance().acquire("Arial", {}, nullptr, 255, 0, 0.125f, 0);
  view.context().releaseCurrent();
  const char* said = "the font manager: used from a second thread while another holds it";
  const auto acquireThere = [] {
    try {
      TFontManager::instance().acquire("Arial", {}, nullptr, 255, 0, 0.125f, 0);
    } catch (const engine::EngineError&) {
      // no context there: no lists, and no reference
    }
  };
  EXPECT_DEATH(std::thread(acquireThere).join(), said);
  EXPECT_DEATH(std::thread([entry] { TFontManager::instance().release(entry, nullptr); }).join(), said);
  TFontManager::instance().release(entry, nullptr);
  std::thread(acquireThere).join();  // nothing held: another thread may come (and fails for want of a context)
}

// A scene drawn on a thread of its own (the browser panel's) owns its font manager: its texts draw there while
// the panel's texts hold the shared manager here, which it never touches, and its fonts go with it.
TEST_F(Text, ASceneWithItsOwnFontManagerDrawsOnAnotherThreadWhileThisOneHoldsTheShared) {
  auto& here = addText("A");
  view.render();
  ASSERT_NE(here.fontEntry(), nullptr);
  const Ink before = inkOf(view);
  const std::size_t shared = TFontManager::instance().entryCount();
  Ink there;
  std::size_t ownEntries = 0;
  std::thread([&] {
    OffscreenView other;
    other.buffer().setBackgroundColor({0, 0, 0, 1});
    other.scene().useOwnFontManager();
    auto& t = other.scene().objectRoot().addChild<TGLSpaceText>();
    t.setText("A");
    t.material().frontProperties().emission().assign({1, 1, 1, 1});
    other.render();
    ownEntries = other.scene().fontManager().entryCount();
    there = inkOf(other);
  }).join();
  EXPECT_EQ(ownEntries, 1u);
  EXPECT_NEAR(there.left, before.left, 1e-9) << "the same glyph, drawn there";
  EXPECT_NEAR(there.top, before.top, 1e-9);
  EXPECT_EQ(TFontManager::instance().entryCount(), shared) << "the shared manager was not used there";
  EXPECT_EQ(here.fontEntry()->references(), 1);
  view.render();
  EXPECT_NEAR(inkOf(view).right, before.right, 1e-9) << "this thread's text still draws";
}

TEST_F(Text, FailedAcquisitionsGiveTheFixedErrorsAndKeepNoReference) {
  // No context is current here: no display list can be made.
  engine::FontEntry* entry = nullptr;
  try {
    TFontManager::instance().acquire("Arial", {}, nullptr, 255, 0, 0.125f, 0);
    FAIL() << "no error";
  } catch (const engine::EngineError& e) {
    EXPECT_STREQ(e.what(), "FontManager: no more display lists available");
  }
  view.context().makeCurrent();
  entry = TFontManager::instance().acquire("Arial", {}, nullptr, 255, 0, 0.125f, 0);
  view.context().releaseCurrent();
  EXPECT_EQ(entry->references(), 1) << "the failed attempt took no reference";
  TFontManager::instance().release(entry, nullptr);

  // A face nobody has: an error, not a silent stand-in.
  // Frame after frame, and each leaves the matrix stack as it found it (it has room for 32 matrices, and is
  // shared by every window of a panel).
  auto& missing = addText("X");
  missing.setFont({"NoSuchFaceAnywhere", {}});
  for (int frame = 0; frame < 40; ++frame) {
    try {
      view.render();
      FAIL() << "no error";
    } catch (const engine::EngineError& e) {
      ASSERT_STREQ(e.what(), "FontManager: font creation failed") << "frame " << frame;
    }
  }
  EXPECT_EQ(missing.fontEntry(), nullptr);
  auto gone = view.scene().objectRoot().detachChild(missing, false);
  gone.reset();  // nothing of it stays behind in the manager
  EXPECT_NO_THROW(view.render());
  view.context().makeCurrent();
  GLint depth = 0;
  glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
  view.context().releaseCurrent();
  EXPECT_EQ(depth, 1);
  EXPECT_TRUE(engine::findFontFile("NoSuchFaceAnywhere", {}).empty());
  EXPECT_FALSE(engine::findFontFile("Arial", {}).empty());  // a stand-in the configuration binds to the name
}

// Glyphs are made without any context, and each outline lies within the black box FreeType reports for it.
TEST(GlyphMeshes, MadeWithoutAContextInsideTheirBlackBoxes) {
  ASSERT_EQ(TGLContext::current(), nullptr);
  EXPECT_FALSE(engine::buildGlyphMeshes("NoSuchFaceAnywhere", {}, 32, 96, 0, 0));
  const auto glyphs = engine::buildGlyphMeshes("Liberation Sans", {}, 0, 128, 0, 0);
  ASSERT_TRUE(glyphs);
  ASSERT_EQ(glyphs->size(), 128u);
  const auto vertexCount = [](const engine::RecordingSink& outline) {
    return std::count_if(outline.calls().begin(), outline.calls().end(),
                         [](const auto& call) { return call.op == engine::RecordingSink::Op::Vertex; });
  };
  EXPECT_EQ(vertexCount((*glyphs)[1].outline), 0) << "a control character has no glyph";
  EXPECT_EQ(vertexCount((*glyphs)[' '].outline), 0);
  EXPECT_GT((*glyphs)[' '].metrics.cellIncX, 0) << "a space still moves the pen";
  for (const char c : std::string("W0g.")) {
    const engine::GlyphMesh& g = (*glyphs)[static_cast<std::size_t>(c)];
    const engine::GlyphMetrics& m = g.metrics;
    for (const auto& call : g.outline.calls()) {
      if (call.op != engine::RecordingSink::Op::Vertex) {
        continue;
      }
      const double x = call.values[0];
      const double y = call.values[1];
      EXPECT_TRUE(x >= m.originX - 1e-4 && x <= m.originX + m.blackBoxX + 1e-4) << c << " x " << x;
      EXPECT_TRUE(y <= m.originY + 1e-4 && y >= m.originY - m.blackBoxY - 1e-4) << c << " y " << y;
    }
    EXPECT_GE(vertexCount(g.outline), 3) << c;
  }
}

TEST(PrivateFonts, ARegisteredFileIsKnownToThisProcessOnly) {
  const std::string source = engine::findFontFile("Liberation Sans", {});
  ASSERT_FALSE(source.empty());
  const std::string copy = privateTestDirectory() + "/private-test.ttf";
  std::filesystem::copy_file(source, copy, std::filesystem::copy_options::overwrite_existing);
  EXPECT_FALSE(engine::isPrivateFontRegistered(copy));
  EXPECT_TRUE(engine::registerPrivateFont(copy));
  EXPECT_TRUE(engine::isPrivateFontRegistered(copy));
  EXPECT_FALSE(engine::registerPrivateFont("/nonexistent/font.ttf"));
  engine::unregisterPrivateFonts();
  EXPECT_FALSE(engine::isPrivateFontRegistered(copy));
  std::filesystem::remove(copy);
}

}  // namespace
