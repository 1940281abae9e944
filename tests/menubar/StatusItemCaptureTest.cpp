#include "MenuBarFixture.h"
#include "menubar/GlyphImage.h"
#include "menubar/IconCache.h"
#include "menubar/StatusItemCapture.h"
#include "platform/sim/SimProcessInfo.h"
#include "platform/sim/SimScreenCapture.h"

namespace lumarin {
namespace {

using namespace std::chrono_literals;
using test::MenuBarFixture;

class CaptureTest : public test::MenuBarFixture {
 protected:
  void SetUp() override {
    load(R"({"apps": [
      {"bundleID": "com.example.app", "name": "App", "accessory": true, "running": true,
       "menuExtras": [{"glyph": "network-wireless-symbolic", "width": 30},
                      {"title": "CPU", "width": 44}]}]})");
  }

  std::map<std::string, Image> run(bool band) {
    std::optional<std::map<std::string, Image>> result;
    auto done = [&](std::map<std::string, Image> images) { result = std::move(images); };
    if (band) {
      auto items = scanner_.scan();
      for (auto& item : items) {
        item.drawnHint = true;
      }
      capture_->captureFromMenuBar(items, nullptr, done);
    } else {
      capture_->captureItems(scanner_.scan(), done);
    }
    scheduler_.runUntilIdle();
    EXPECT_TRUE(result);
    return result.value_or(std::map<std::string, Image>{});
  }

  sim::SimScreenCapture screenCapture_{world_};
  SimProcessInfo process_;
  IconCache cache_{dir_.path()};
  std::shared_ptr<StatusItemCapture> capture_ = std::make_shared<StatusItemCapture>(
      StatusItemCapture::Dependencies{screenCapture_, screens_, scheduler_, defaults_, workspace_,
                                      process_, cache_, dir_.path()});
};

TEST_F(CaptureTest, PerItemCaptureGivesTrimmedGlyphsAndFillsTheCache) {
  const auto images = run(false);
  ASSERT_GE(images.size(), 4u);  // two app items, Wi-Fi, Battery (the clock too: own window)
  const auto items = scanner_.scan();
  const auto app = find(items, "App");
  ASSERT_TRUE(app);
  const Image& glyph = images.at(app->id());
  EXPECT_LT(glyph.pointSize.width, 30);  // trimmed around the picture
  EXPECT_EQ(glyph.scale(), 2);
  EXPECT_TRUE(glyph.isTemplate);  // a black glyph is monochrome
  EXPECT_TRUE(cache_.cachedImage(IconCache::cacheKey(*app)));
  EXPECT_NE(capture_->lastStatus().find("SC permission=OK items="), std::string::npos);
}

TEST_F(CaptureTest, BandCaptureCutsTheDrawnItemsOutOfTheStrip) {
  const auto images = run(true);
  EXPECT_GE(images.size(), 4u);
  EXPECT_EQ(capture_->lastStatus().rfind("SC band items=", 0), 0u) << capture_->lastStatus();
  for (const auto& [id, image] : images) {
    EXPECT_FALSE(glyph::isEffectivelyEmpty(image)) << id;
    EXPECT_EQ(image.alpha(0, 0), 0) << id;  // the bar's colour is keyed out
  }
}

TEST_F(MenuBarFixture, EachWindowIsCapturedAtTheScaleOfItsOwnScreen) {
  load(R"({"screens": [{"size": [1512, 982], "scale": 2},
                       {"origin": [1512, 0], "size": [1920, 1080], "scale": 1},
                       {"origin": [-1280, 0], "size": [1280, 800], "scale": 3}]})");
  sim::SimScreenCapture screenCapture{world_};
  SimProcessInfo process;
  IconCache cache{dir_.path()};
  const auto capture = std::make_shared<StatusItemCapture>(StatusItemCapture::Dependencies{
      screenCapture, screens_, scheduler_, defaults_, workspace_, process, cache, dir_.path()});
  EXPECT_EQ(capture->displayScale(GlobalRect(100, 0, 30, 24)), 2);
  EXPECT_EQ(capture->displayScale(GlobalRect(2000, 0, 30, 24)), 1);
  EXPECT_EQ(capture->displayScale(GlobalRect(-600, 0, 30, 24)), 3);
  // On no screen: the first screen's scale.
  EXPECT_EQ(capture->displayScale(GlobalRect(9000, 0, 30, 24)), 2);
}

TEST_F(CaptureTest, WithoutScreenRecordingNothingIsCapturedAndTheStatusSaysDenied) {
  world_.setScreenRecordingGranted(false);
  EXPECT_TRUE(run(false).empty());
  EXPECT_EQ(capture_->lastStatus().rfind("SC permission=DENIED items=", 0), 0u);
  EXPECT_TRUE(run(true).empty());
  EXPECT_EQ(capture_->lastStatus().rfind("SC permission=DENIED (band) items=", 0), 0u);
  EXPECT_EQ(screenCapture_.captures(), 0);
}

TEST_F(CaptureTest, GateSpacesStartsAndContentIsReusedForThreeSeconds) {
  std::vector<Duration> starts;
  auto record = [&](std::map<std::string, Image>) { starts.push_back(scheduler_.now()); };
  const auto items = scanner_.scan();
  capture_->captureItems(items, record);
  capture_->captureItems(items, record);  // waits for the first and starts 0.25 s after it
  scheduler_.runUntilIdle();
  scheduler_.advanceBy(1s);
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_LT(starts[0], starts[1]);  // the first completes before the second starts
  // Both captures took the same time, so their ends are as far apart as their starts.
  EXPECT_GE(starts[1] - starts[0], Duration(250ms));

  // Content fetched at the start is reused 2 s later and fetched again 4 s later.
  const int fetches = screenCapture_.contentFetches();
  scheduler_.advanceTo(seconds(2));
  capture_->captureItems(items, record);
  scheduler_.runUntilIdle();
  EXPECT_EQ(screenCapture_.contentFetches(), fetches);
  scheduler_.advanceTo(seconds(4));
  world_.failCaptures(1);  // the fresh fetch fails
  capture_->captureItems(items, record);
  scheduler_.runUntilIdle();
  EXPECT_EQ(screenCapture_.contentFetches(), fetches + 1);
  EXPECT_EQ(capture_->lastStatus(), "SC shareableContent=nil");
}

TEST_F(CaptureTest, PermissionFlowMarkIsConsumedOnceAndOnlyWhenRecent) {
  world_.setScreenRecordingGranted(false);
  capture_->openSystemSettings();
  EXPECT_EQ(workspace_.openedURLs().back(),
            "x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture");
  scheduler_.advanceBy(seconds(1799));
  EXPECT_TRUE(capture_->consumePendingPermissionRelaunch());
  EXPECT_FALSE(capture_->consumePendingPermissionRelaunch());
  capture_->openSystemSettings();
  scheduler_.advanceBy(seconds(1800));
  EXPECT_FALSE(capture_->consumePendingPermissionRelaunch());
  EXPECT_FALSE(defaults_.contains("permissionFlowStartedAt"));
  world_.setScreenRecordingGranted(true);
  capture_->openSystemSettings();  // already allowed: no mark
  EXPECT_FALSE(defaults_.contains("permissionFlowStartedAt"));
}

// "Allow": the system's request the first time in a launch, System Settings every later time,
// nothing once allowed.
TEST_F(CaptureTest, AllowAsksTheSystemOnceThenOpensSystemSettings) {
  world_.setScreenRecordingGranted(false);
  const auto opened = workspace_.openedURLs().size();
  capture_->requestAccess();
  EXPECT_EQ(world_.screenRecordingRequests(), 1);
  EXPECT_TRUE(defaults_.contains("permissionFlowStartedAt"));
  EXPECT_EQ(workspace_.openedURLs().size(), opened);
  capture_->requestAccess();
  capture_->requestAccess();
  EXPECT_EQ(world_.screenRecordingRequests(), 1);
  EXPECT_EQ(workspace_.openedURLs().size(), opened + 2);
  world_.setScreenRecordingGranted(true);
  capture_->requestAccess();
  EXPECT_EQ(workspace_.openedURLs().size(), opened + 2);
}

TEST(StatusItemCaptureRulesTest, WindowAndFrameMatching) {
  const GlobalRect item(500, 0, 30, 37);
  auto centred = [](const GlobalRect& r, double w) {
    return GlobalRect(r.midX() - w / 2, r.minY(), w, r.height());
  };
  EXPECT_TRUE(StatusItemCapture::captureWindowFrameMatches(centred(item, 54), item));
  EXPECT_FALSE(StatusItemCapture::captureWindowFrameMatches(centred(item, 64), item));
  const GlobalRect left(-500, 0, 30, 37);
  EXPECT_TRUE(StatusItemCapture::captureWindowFrameMatches(left.offsetBy(9, 0), left));
  EXPECT_FALSE(StatusItemCapture::captureWindowFrameMatches(item.offsetBy(9, 0), item));
  EXPECT_FALSE(StatusItemCapture::captureWindowFrameMatches(GlobalRect(500, 0, 1, 37), item));

  ExternalStatusItem app;
  app.bundleID = "com.example.app";
  app.frame = item;
  auto titled = [&](const std::string& title) {
    return ShareableWindow{1, 25, item, title, true, 1};
  };
  EXPECT_FALSE(StatusItemCapture::windowMatches(titled("Clock"), app));
  EXPECT_TRUE(StatusItemCapture::windowMatches(titled("com.example.app.agent"), app));
  EXPECT_FALSE(StatusItemCapture::windowMatches(titled("org.other.tool"), app));
  EXPECT_TRUE(StatusItemCapture::windowMatches(titled("Item-0"), app));
  EXPECT_TRUE(StatusItemCapture::windowMatches(titled("  "), app));
}

TEST(StatusItemCaptureRulesTest, BandOverlapsAndBounds) {
  using Keyed = std::vector<std::pair<std::string, GlobalRect>>;
  EXPECT_EQ(StatusItemCapture::bandCropExclusions(
                Keyed{{"a", GlobalRect(100, 0, 30, 37)}, {"b", GlobalRect(127, 0, 30, 37)}}),
            (std::set<std::string>{"a", "b"}));
  EXPECT_TRUE(StatusItemCapture::bandCropExclusions(
                  Keyed{{"a", GlobalRect(100, 0, 30, 37)}, {"b", GlobalRect(128, 0, 30, 37)}})
                  .empty());
  // Same centre and width: excluded even without a large overlap.
  EXPECT_EQ(StatusItemCapture::bandCropExclusions(
                Keyed{{"a", GlobalRect(100, 0, 2, 37)}, {"b", GlobalRect(100.5, 0, 2, 37)}})
                .size(),
            2u);
  EXPECT_TRUE(StatusItemCapture::isValidCaptureBounds(GlobalRect::null(), 2));
  EXPECT_TRUE(StatusItemCapture::isValidCaptureBounds(GlobalRect(0, 0, 8192, 40), 2));
  EXPECT_FALSE(StatusItemCapture::isValidCaptureBounds(GlobalRect(0, 0, 8193, 40), 2));
  EXPECT_FALSE(StatusItemCapture::isValidCaptureBounds(GlobalRect(0, 0, 0, 40), 2));
  EXPECT_FALSE(StatusItemCapture::isValidCaptureBounds(GlobalRect(0, 0, 30, 40), 0));
  EXPECT_EQ(StatusItemCapture::describe(GlobalRect(1, 2, 3, 4.5)), "(1.0, 2.0, 3.0, 4.5)");
  const std::vector<ShareableWindow> windows = {
      {7, 25, GlobalRect(0, 0, 10, 10), "far", true, 1},
      {8, 25, GlobalRect(95, 0, 10, 10), "near", true, 1}};
  EXPECT_EQ(StatusItemCapture::nearbyWindowSummary(GlobalRect(100, 0, 10, 10), windows, 1),
            "{wid=8,title=near,d=5,frame=(95.0, 0.0, 10.0, 10.0)}");
}

}  // namespace
}  // namespace lumarin
