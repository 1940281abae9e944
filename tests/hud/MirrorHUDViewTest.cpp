#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QMouseEvent>

#include "hud/MirrorFixture.h"
#include "hud/MirrorHUDLayout.h"
#include "hud/MirrorHUDView.h"

namespace lumarin {
namespace {

using L = MirrorHUDLayout;

TEST(MirrorHUDLayoutTest, RowsAreCutFromTheEndAndPicturesSizedToTheirBand) {
  // 9 tiles in 8 columns: the top row shows tiles 2 to 9, the bottom row tile 1.
  const auto rows = L::rows(9, L::columns(9));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (std::vector<std::size_t>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(rows[1], (std::vector<std::size_t>{0}));
  EXPECT_EQ(L::columns(0), 1u);
  EXPECT_EQ(L::columns(30), 8u);
  EXPECT_TRUE(L::rows(0, 1).empty());

  auto near = [](Size a, Size b) {
    return std::abs(a.width - b.width) < 1e-9 && std::abs(a.height - b.height) < 1e-9;
  };
  EXPECT_TRUE(near(L::displaySize({16, 16}, 2), {23.2, 23.2}));
  EXPECT_TRUE(near(L::displaySize({200, 22}, 1), {68, 7.48}));
  EXPECT_TRUE(near(L::displaySize({8, 6}, 1), {14, 10.5}));
  EXPECT_TRUE(near(L::displaySize({0, 0}, 2), {22, 22}));
  EXPECT_TRUE(near(L::displaySize({10, -1}, 2), {22, 22}));
  // Taller than the band, then still too wide: 68 wide at most.
  const Size tall = L::displaySize({100, 40}, 1);
  EXPECT_DOUBLE_EQ(tall.width, 65);
  EXPECT_DOUBLE_EQ(tall.height, 26);
}

TEST(MirrorHUDLayoutTest, PanelSizesForTilesAndThePermissionRow) {
  EXPECT_EQ(L::panelSize(1, false), (Size{112, 92}));
  EXPECT_EQ(L::panelSize(8, false), (Size{728, 92}));
  EXPECT_EQ(L::panelSize(9, false), (Size{728, 160}));
  EXPECT_EQ(L::panelSize(0, false), (Size{112, 92}));  // room for the empty text
  EXPECT_EQ(L::panelSize(0, true), (Size{420, 52}));   // the permission row alone
  EXPECT_EQ(L::panelSize(3, true), (Size{420, 120}));
}

TEST(MirrorHUDLayoutTest, PanelPlacementClearsControlCenterAndKeepsMargins) {
  const CocoaRect screen(0, 0, 1512, 982);
  const CocoaRect visible(0, 70, 1512, 982 - 70 - 38);
  // Centred, 58 % up the visible frame.
  const CocoaRect plain = L::panelFrame({728, 92}, visible, screen, std::nullopt, std::nullopt);
  EXPECT_EQ(plain.minX(), 392);
  EXPECT_EQ(plain.minY(), std::round(70 + 874 * 0.58 - 46));
  // Control Center's panel from x = 1000: 392 + 728 > 988, so the panel moves to 260.
  const CocoaRect beside =
      L::panelFrame({728, 92}, visible, screen, CocoaRect(1000, 500, 344, 480), std::nullopt);
  EXPECT_EQ(beside.minX(), 260);
  // The 12-point gap counts: a panel ending 5 points left of Control Center still moves…
  EXPECT_EQ(L::panelFrame({728, 92}, visible, screen, CocoaRect(1125, 500, 344, 480), std::nullopt)
                .minX(),
            1125 - 12 - 728);
  // …and one ending exactly 12 points left of it stays centred.
  EXPECT_EQ(L::panelFrame({728, 92}, visible, screen, CocoaRect(1132, 500, 344, 480), std::nullopt),
            plain);
  // Wider than the space left of Control Center: the left margin wins.
  const CocoaRect wide =
      L::panelFrame({1200, 92}, visible, screen, CocoaRect(1000, 500, 344, 480), std::nullopt);
  EXPECT_EQ(wide.minX(), 8);
  // Wider than the screen: still the left margin.
  EXPECT_EQ(L::panelFrame({1600, 92}, visible, screen, std::nullopt, std::nullopt).minX(), 8);
  // The sibling's HUD on this screen: both stacked around the middle, ours below.
  const CocoaRect peer(600, 600, 300, 200);
  const CocoaRect stacked = L::panelFrame({728, 92}, visible, screen, std::nullopt, peer);
  EXPECT_EQ(stacked.minY(), std::round(visible.midY() - (92 + 200 + 8) * 0.5));
  // On another screen it changes nothing.
  EXPECT_EQ(L::panelFrame({728, 92}, visible, screen, std::nullopt, CocoaRect(2000, 0, 300, 200)),
            plain);
  // Never below the bottom margin.
  EXPECT_EQ(L::panelFrame({300, 2000}, visible, screen, std::nullopt, std::nullopt).minY(), 78);
}

class MirrorHUDViewTest : public test::MirrorFixture {
 protected:
  void SetUp() override {
    load(R"({"apps": [
      {"bundleID": "com.example.a", "name": "Alpha", "running": true, "accessory": true,
       "menuExtras": [{"title": "A", "width": 30}]}]})");
  }

  std::unique_ptr<MirrorHUDView> makeView() {
    return std::make_unique<MirrorHUDView>(
        model(), l10n_,
        [this](const MirrorModel::Target& target, bool right, unsigned modifiers) {
          const auto* item = std::get_if<ExternalStatusItem>(&target);
          clicks_.push_back((item ? item->appName : std::string("own")) +
                            (right ? " right" : " left") + " " + std::to_string(modifiers));
        },
        [this] { clicks_.push_back("permission"); });
  }

  void press(QWidget& view, QPointF point, Qt::MouseButton button,
             Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QMouseEvent event(QEvent::MouseButtonPress, point, view.mapToGlobal(point), button, button,
                      modifiers);
    QApplication::sendEvent(&view, &event);
  }

  std::vector<std::string> clicks_;
};

TEST_F(MirrorHUDViewTest, ClicksOnTilesReportTheirTargetsWithButtonAndModifiers) {
  refresh();
  auto view = makeView();
  const auto cells = view->cellRects();
  ASSERT_EQ(cells.size(), model()->tiles()->size());
  // The top row ends at the right padding; the first tile in the list is in the last row.
  EXPECT_DOUBLE_EQ(cells.back().second.right(), view->width() - L::kPadding);
  const auto alpha = std::find_if(cells.begin(), cells.end(), [&](const auto& cell) {
    return model()->targetsByID().count(cell.first) != 0 &&
           std::holds_alternative<ExternalStatusItem>(model()->targetsByID().at(cell.first)) &&
           std::get<ExternalStatusItem>(model()->targetsByID().at(cell.first)).appName == "Alpha";
  });
  ASSERT_NE(alpha, cells.end());
  press(*view, alpha->second.center(), Qt::LeftButton);
  press(*view, alpha->second.center(), Qt::RightButton, Qt::AltModifier);
  press(*view, QPointF(2, 2), Qt::LeftButton);  // the padding: nothing
  EXPECT_EQ(clicks_, (std::vector<std::string>{"Alpha left 0",
                                               "Alpha right " + std::to_string(kModifierOption)}));
  // Hovering highlights the cell under the mouse.
  QMouseEvent move(QEvent::MouseMove, alpha->second.center(),
                   view->mapToGlobal(alpha->second.center()), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(view.get(), &move);
  EXPECT_TRUE(view->hovered().has_value());
}

TEST_F(MirrorHUDViewTest, PermissionRowAndEmptyNotice) {
  mac_.world.setAccessibilityTrusted(false);
  refresh();
  auto view = makeView();
  ASSERT_FALSE(view->permissionRowRect().isEmpty());
  press(*view, view->permissionRowRect().center(), Qt::RightButton);  // does nothing
  press(*view, view->permissionRowRect().center(), Qt::LeftButton);
  EXPECT_EQ(clicks_, (std::vector<std::string>{"permission"}));
  EXPECT_EQ(view->height(), static_cast<int>(L::panelSize(0, true).height));
  EXPECT_EQ(view->width(), 420);
  // The view paints without tiles (the empty notice stays out while permission is missing).
  const QImage picture = view->grab().toImage();
  EXPECT_FALSE(picture.isNull());
}

TEST_F(MirrorHUDViewTest, FoundMenuEntriesAreRowsUnderTheGridThatClickAndSpeak) {
  refresh();
  auto view = makeView();
  std::vector<std::string> chosen;
  view->setOnEntryClick([&chosen](const std::string& id) { chosen.push_back(id); });
  const auto first = model()->tiles()->front().id;
  view->setSearch("aw", {first}, std::string("e1"),
                  {{"e1", "Alpha › Away"}, {"e2", "Alpha › Sub › Awake"}});
  const auto cells = view->cellRects();
  const auto rows = view->entryRects();
  ASSERT_EQ(cells.size(), 1u);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_GE(rows[0].second.top(), cells.back().second.bottom());
  EXPECT_DOUBLE_EQ(rows[1].second.top(), rows[0].second.bottom());
  EXPECT_EQ(view->height(), static_cast<int>(L::panelSize(1, false, true, 2).height));
  EXPECT_GE(view->width(), static_cast<int>(L::kEntryMinWidth));
  press(*view, rows[1].second.center(), Qt::LeftButton);
  press(*view, rows[0].second.center(), Qt::RightButton);  // only the left button runs it
  EXPECT_EQ(chosen, (std::vector<std::string>{"e2"}));
  EXPECT_TRUE(clicks_.empty());
  // For assistive technology: after the search line and the tile, a menu item per entry,
  // named by its whole title; the focused one says so.
  QAccessibleInterface* root = QAccessible::queryAccessibleInterface(view.get());
  ASSERT_NE(root, nullptr);
  ASSERT_EQ(root->childCount(), 4);
  QAccessibleInterface* entry = root->child(2);
  EXPECT_EQ(entry->role(), QAccessible::MenuItem);
  EXPECT_EQ(entry->text(QAccessible::Name).toStdString(), "Alpha › Away");
  EXPECT_TRUE(entry->state().focused);
  EXPECT_EQ(root->child(1)->role(), QAccessible::Button);
  // Without tiles the entries take the grid's place, and the "no matches" notice stays away.
  view->setSearch("awake", {}, std::nullopt, {{"e2", "Alpha › Sub › Awake"}});
  EXPECT_TRUE(view->cellRects().empty());
  EXPECT_EQ(view->height(), static_cast<int>(L::panelSize(0, false, true, 1).height));
  EXPECT_FALSE(view->grab().toImage().isNull());
}

}  // namespace
}  // namespace lumarin
