#include <gtest/gtest.h>

#include "model/MonitoredApp.h"

namespace lumarin {
namespace {

const char* kId = "E621E1F8-C36C-495A-93FC-0C247A3E6E5F";

std::string element(const std::string& members) {
  return std::string(R"([{"id": ")") + kId + R"(", "bundleID": "com.apple.mail", "name": "Mail")" +
         members + "}]";
}

TEST(MonitoredAppTest, NewEntryEncodesWithoutStyleAndColour) {
  MonitoredApp app;
  app.id = *Uuid::parse(kId);
  app.bundleID = "com.apple.mail";
  app.name = "Mail";
  EXPECT_EQ(encodeMonitoredApps({app}),
            std::string(R"([{"id":")") + kId +
                R"(","bundleID":"com.apple.mail","name":"Mail","visibility":"always"}])");
  app.style = BadgeStyle::dot;
  app.color = BadgeColor::gray;
  auto back = decodeMonitoredApps(encodeMonitoredApps({app, app}));
  ASSERT_TRUE(back);
  EXPECT_EQ(back.value(), (std::vector<MonitoredApp>{app, app}));
}

TEST(MonitoredAppTest, OneBadElementMakesTheWholeListUnreadable) {
  EXPECT_TRUE(decodeMonitoredApps(element(R"(, "visibility": "dim")")));
  EXPECT_TRUE(decodeMonitoredApps("[]"));
  for (const std::string& bad : {
           element(R"(, "visibility": "Always")"),  // raw values are case-sensitive
           element(""),                             // visibility is required
           element(R"(, "visibility": "dim", "style": "Dot")"),
           element(R"(, "visibility": "dim", "color": 3)"),
           element(R"(, "visibility": null)"),
           std::string(
               R"([{"id": "not-a-uuid", "bundleID": "a", "name": "A", "visibility": "dim"}])"),
           std::string(R"({"id": "x"})"),
           std::string("[1]"),
           std::string("[{"),
       }) {
    EXPECT_FALSE(decodeMonitoredApps(bad)) << bad;
  }
}

TEST(MonitoredAppTest, NullStyleAndColourReadAsAbsentAndUnknownMembersAreIgnored) {
  auto apps = decodeMonitoredApps(
      element(R"(, "visibility": "hide", "style": null, "color": null, "future": {"x": 1})"));
  ASSERT_TRUE(apps);
  ASSERT_EQ(apps->size(), 1u);
  EXPECT_FALSE(apps->at(0).style);
  EXPECT_FALSE(apps->at(0).color);
  EXPECT_EQ(apps->at(0).visibility, IconVisibility::hide);
}

TEST(MonitoredAppTest, ResolutionRulesAndColours) {
  MonitoredApp plain;
  MonitoredApp red = plain;
  red.color = BadgeColor::red;
  // Drawn the same, but not the same value and not the same JSON.
  EXPECT_EQ(plain.effectiveColor(), red.effectiveColor());
  EXPECT_NE(plain, red);
  EXPECT_NE(encodeMonitoredApps({plain}), encodeMonitoredApps({red}));
  EXPECT_EQ(plain.effectiveStyle(BadgeStyle::dot), BadgeStyle::dot);
  red.style = BadgeStyle::text;
  EXPECT_EQ(red.effectiveStyle(BadgeStyle::dot), BadgeStyle::text);
  const RgbColor blue = colorValue(BadgeColor::blue);
  EXPECT_DOUBLE_EQ(blue.red, 0x0A / 255.0);
  EXPECT_DOUBLE_EQ(blue.green, 0x84 / 255.0);
  EXPECT_DOUBLE_EQ(blue.blue, 1.0);
  EXPECT_EQ(labelKey(IconVisibility::always), "vis.always");
  EXPECT_EQ(badgeColorFromRaw("Red"), std::nullopt);
}

}  // namespace
}  // namespace lumarin
