// The simulated Mac's menu bar as drawn pixels: every text stays inside its item's room, in
// every language the Mac can be set to.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "platform/sim/Scenario.h"
#include "platform/sim/SimIcons.h"
#include "platform/sim/SimMenuBarRenderer.h"
#include "platform/sim/World.h"

namespace lumarin {
namespace {

constexpr double kScale = 2;

// The drawn columns of an item's picture: first and last pixel column holding ink.
struct Ink {
  int first = -1;
  int last = -1;
  int width = 0;  // pixels
};

Ink inkOf(const Image& image) {
  Ink ink;
  ink.width = image.pixelWidth;
  for (int x = 0; x < image.pixelWidth; ++x) {
    for (int y = 0; y < image.pixelHeight; ++y) {
      const std::size_t alpha =
          (static_cast<std::size_t>(y) * image.pixelWidth + static_cast<std::size_t>(x)) * 4 + 3;
      if (image.rgba[alpha] != 0) {
        if (ink.first < 0) {
          ink.first = x;
        }
        ink.last = x;
        break;
      }
    }
  }
  return ink;
}

// Items the menu bar draws as text: no theme glyph, and a title or the clock's time.
bool drawnAsText(const sim::PlacedMenuExtra& extra) {
  return extra.drawn && extra.hostedItem == 0 && sim::themeIconPath(extra.spec.glyph).empty() &&
         (!extra.spec.title.empty() || extra.spec.identifier == "com.apple.menuextra.clock");
}

class SimMenuBarRendererTest : public ::testing::Test {
 protected:
  void build(const std::string& text, const std::vector<std::string>& languages) {
    auto parsed = sim::parseScenario(text, "test");
    ASSERT_TRUE(parsed) << parsed.error().message;
    sim::Scenario scenario = *parsed;
    scenario.appleLanguages = languages;
    world_ = std::make_unique<sim::World>();
    sim::buildWorld(scenario, *world_);
  }

  Ink drawnInk(const sim::PlacedMenuExtra& extra) {
    const GlobalRect bounds(extra.frame.minX(), 0, extra.frame.width(), world_->menuBarHeight());
    const Image image = sim::renderMenuExtra(*world_, extra, bounds,
                                             static_cast<int>(std::ceil(bounds.width() * kScale)),
                                             static_cast<int>(std::ceil(bounds.height() * kScale)));
    return inkOf(image);
  }

  // Every text item's ink keeps a point clear of both edges: a text wider than its room is cut
  // there and leaves ink in the outermost columns.
  void expectEveryTextInsideItsRoom(const std::string& language) {
    int texts = 0;
    for (const auto& extra : world_->menuExtras()) {
      if (!drawnAsText(extra)) {
        continue;
      }
      ++texts;
      const Ink ink = drawnInk(extra);
      const std::string what = language + " " + extra.spec.identifier + " '" + extra.spec.title +
                               "' in " + std::to_string(extra.frame.width()) + " points";
      ASSERT_GE(ink.first, 0) << what << ": nothing drawn";
      EXPECT_GE(ink.first, static_cast<int>(kScale)) << what;
      EXPECT_LT(ink.last, ink.width - static_cast<int>(kScale)) << what;
    }
    EXPECT_GT(texts, 0) << language;
  }

  std::unique_ptr<sim::World> world_;
};

TEST_F(SimMenuBarRendererTest, DefaultWorldsTextsFitTheirRoomInEveryLanguage) {
  // None set, the program's fourteen languages, and a few more a Mac may be set to.
  const std::vector<std::string> languages = {
      "",      "en-US", "en-GB", "en", "ja", "ko", "zh-Hans", "zh-Hant", "de", "fr", "es",
      "pt-BR", "ru",    "it",    "nl", "pl", "tr", "el",      "uk",      "vi", "hi", "ar"};
  for (const auto& language : languages) {
    build(std::string(sim::defaultScenarioText()),
          language.empty() ? std::vector<std::string>{} : std::vector<std::string>{language});
    expectEveryTextInsideItsRoom(language.empty() ? "(none)" : language);
  }
}

TEST_F(SimMenuBarRendererTest, EnglishClockShowsItsDateAndALongTitleIsCutInside) {
  build(R"({
    "screens": [{"size": [1512, 982], "scale": 2}],
    "apps": [{"bundleID": "com.example.long", "name": "Long", "running": true, "accessory": true,
              "menuExtras": [{"title": "A rather long title for its room", "width": 40},
                             {"title": "9", "width": 22}]}]})",
        {"en-GB"});
  expectEveryTextInsideItsRoom("en-GB");
  for (const auto& extra : world_->menuExtras()) {
    if (extra.spec.identifier == "com.apple.menuextra.clock") {
      // "9:41" alone is about 30 points: the weekday and the date are drawn too.
      const Ink ink = drawnInk(extra);
      EXPECT_GT(ink.last - ink.first, static_cast<int>(60 * kScale));
    }
  }
}

}  // namespace
}  // namespace lumarin
