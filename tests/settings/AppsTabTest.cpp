#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QTest>
#include <map>
#include <memory>

#include "SettingsTestSupport.h"
#include "gfx/Drawing.h"
#include "settings/AppsTab.h"
#include "settings/SettingsContext.h"
#include "ui/CapsuleSegmentedControl.h"
#include "ui/PulldownPill.h"
#include "ui/SettingsDropdown.h"

namespace lumarin {
namespace {

using namespace std::chrono_literals;

constexpr const char* kScenario = R"({
  "apps": [
    {"bundleID": "com.apple.mail", "name": "Mail", "running": true},
    {"bundleID": "com.apple.MobileSMS", "name": "Messages", "running": true},
    {"bundleID": "com.example.chat", "name": "Chat", "running": true},
    {"bundleID": "com.example.notes", "name": "Notes", "info": {"CFBundleDisplayName": "Quick Notes"}},
    {"bundleID": "com.example.editor", "name": "Editor", "info": {"CFBundleName": "Editor Pro"}},
    {"bundleID": "jp.kestova.lumarin", "name": "Lumarin", "running": true}
  ],
  "dock": [
    {"app": "com.apple.mail", "badge": "1234"},
    {"app": "com.apple.MobileSMS", "badge": "!"},
    {"app": "com.example.chat"},
    {"app": "com.example.notes"},
    {"app": "jp.kestova.lumarin"}
  ]})";

constexpr const char* kMail = "com.apple.mail";
constexpr const char* kMessages = "com.apple.MobileSMS";
constexpr const char* kChat = "com.example.chat";
constexpr const char* kNotes = "com.example.notes";

class AppsTabTest : public test::SettingsFixture {
 protected:
  void SetUp() override { load(kScenario); }
  void TearDown() override {
    tab_.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  // The tab on screen in its own window, with the Dock read once and watched from then on.
  AppsTab& open(const std::vector<std::string>& apps) {
    const std::map<std::string, std::string> names{
        {kMail, "Mail"}, {kMessages, "Messages"}, {kChat, "Chat"}, {kNotes, "Notes"}};
    for (const auto& id : apps) {
      settings_.add(id, names.contains(id) ? names.at(id) : "Ghost");
    }
    monitor_->setWatched({kMail, kMessages, kChat, kNotes});
    monitor_->start();
    scheduler_.runUntilIdle();
    context_ = std::make_unique<SettingsContext>(
        makeSettingsContext(platform_, settings_, l10n_, icons_, monitor_->items()));
    context_->ownBundleID = "jp.kestova.lumarin";  // the program's own Dock tile
    context_->requestAccessibility = [this] { ++accessibilityRequests_; };
    context_->liveAppearance = [this](const Uuid& id) {
      const auto it = live_.find(id);
      return it != live_.end()
                 ? std::pair{std::optional<LazyImage>(it->second), std::optional<StyledText>()}
                 : std::pair<std::optional<LazyImage>, std::optional<StyledText>>{};
    };
    tab_ = std::make_unique<AppsTab>(*context_);
    tab_->resize(620, 1200);
    tab_->show();
    tab_->activateWindow();
    settle();
    return *tab_;
  }
  // The visible widget of the tab with this accessible name.
  template <typename T = QWidget>
  T* named(const QString& name) {
    for (T* widget : tab_->findChildren<T*>()) {
      if (widget->isVisible() && widget->accessibleName() == name) {
        return widget;
      }
    }
    return nullptr;
  }
  void click(QWidget* widget, std::optional<QPoint> at = std::nullopt) {
    ASSERT_NE(widget, nullptr);
    ASSERT_TRUE(widget->isVisible());
    QTest::mouseClick(widget, Qt::LeftButton, {}, at.value_or(widget->rect().center()));
    settle();
  }
  void choose(QMenu* menu, const QString& title) {
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(menu->isVisible());
    for (QAction* action : menu->actions()) {
      if (action->text() == title) {
        click(menu, menu->actionGeometry(action).center());
        return;
      }
    }
    FAIL() << "no entry " << title.toStdString();
  }
  QMenu* pressDropdown(const QString& name) {
    auto* pill = named<PulldownPill>(name);
    click(pill);
    auto* dropdown =
        pill != nullptr ? dynamic_cast<SettingsDropdown*>(pill->parentWidget()) : nullptr;
    return dropdown != nullptr ? dropdown->menu() : nullptr;
  }
  // The menu's entries; "Name (icon)" for entries with an icon.
  std::vector<std::string> addAppEntries() {
    click(tab_->addAppButton());
    std::vector<std::string> out;
    for (QAction* action : tab_->addAppMenu()->actions()) {
      out.push_back(action->isSeparator() ? "-"
                                          : action->text().toStdString() +
                                                (action->isEnabled() ? "" : " (disabled)") +
                                                (action->icon().isNull() ? "" : " (icon)"));
    }
    return out;
  }
  std::vector<std::string> order() const {
    std::vector<std::string> names;
    for (const auto& app : *settings_.monitoredApps()) {
      names.push_back(app.name);
    }
    return names;
  }
  const MonitoredApp& app(std::size_t index) const { return settings_.monitoredApps()->at(index); }
  // Pixels of the widget within a few steps of `color`.
  static int pixelsNear(QWidget* widget, RgbColor color) {
    const QImage image = widget->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const QColor want =
        QColor::fromRgbF(static_cast<float>(color.red), static_cast<float>(color.green),
                         static_cast<float>(color.blue));
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        const QColor c = image.pixelColor(x, y);
        count += std::abs(c.red() - want.red()) < 12 && std::abs(c.green() - want.green()) < 12 &&
                 std::abs(c.blue() - want.blue()) < 12;
      }
    }
    return count;
  }

  std::unique_ptr<SettingsContext> context_;
  std::unique_ptr<AppsTab> tab_;
  std::map<Uuid, LazyImage> live_;
};

TEST_F(AppsTabTest, AddAppOffersTheDockAppsNotYetShownThenOnlyOtherApp) {
  AppsTab& tab = open({kMail});
  EXPECT_EQ(tab.addAppButton()->size(), QSize(150, 28));
  // Sorted by name; neither the monitored app nor the program itself.
  EXPECT_EQ(addAppEntries(), (std::vector<std::string>{"Chat (icon)", "Messages (icon)",
                                                       "Notes (icon)", "-", "Other App…"}));
  choose(tab.addAppMenu(), "Messages");
  EXPECT_EQ(order(), (std::vector<std::string>{"Mail", "Messages"}));
  EXPECT_EQ(tab.rowCount(), 2);

  // From disk: the panel's choice joins under its display name.
  addAppEntries();
  choose(tab.addAppMenu(), "Other App…");
  ASSERT_TRUE(mac_.panels.openPanelShown());
  EXPECT_EQ(mac_.panels.toJson()[0]["message"], "Choose an app to show in the menu bar");
  ASSERT_TRUE(mac_.panels.answerOpenPanel("/Applications/Notes.app"));
  scheduler_.runUntilIdle();
  settle();
  ASSERT_EQ(order(), (std::vector<std::string>{"Mail", "Messages", "Quick Notes"}));
  EXPECT_EQ(app(2).bundleID, kNotes);

  addAppEntries();
  choose(tab.addAppMenu(), "Chat");
  EXPECT_EQ(addAppEntries(),
            (std::vector<std::string>{"No apps found in the Dock (disabled)", "-", "Other App…"}));
  tab.addAppMenu()->close();
  settle();
  EXPECT_EQ(tab.rowCount(), 4);
}

TEST_F(AppsTabTest, StatusLinesReadTheDockAndFollowIt) {
  AppsTab& tab = open({kMail, kMessages, kChat, kNotes, "com.example.ghost"});
  EXPECT_EQ(tab.statusText(0), "999+ notifications");
  EXPECT_EQ(tab.statusText(1), "!");
  EXPECT_EQ(tab.statusText(2), "Running");
  EXPECT_EQ(tab.statusText(3), "not running");
  EXPECT_EQ(tab.statusText(4), "Not in the Dock");

  mac_.world.setBadge(kChat, "5");
  mac_.world.setBadge(kMail, std::nullopt);
  scheduler_.advanceBy(1s);
  settle();
  EXPECT_EQ(tab.statusText(0), "Running");
  EXPECT_EQ(tab.statusText(2), "5 notifications");
}

TEST_F(AppsTabTest, OneEditorAtATimeAndItsControlsWriteTheApp) {
  AppsTab& tab = open({kMail, kChat});
  EXPECT_EQ(named("Mail: Badge style"), nullptr);  // collapsed
  click(named<QAbstractButton>("Mail"));
  EXPECT_EQ(tab.expandedApp(), app(0).id);
  auto* preview = named("Mail: How it looks in the menu bar");
  ASSERT_NE(preview, nullptr);
  // The renderer's picture: Mail's count on a red circle; blue once the colour is blue.
  EXPECT_GT(pixelsNear(preview, colorValue(BadgeColor::red)), 5);
  click(named<QAbstractButton>("Blue"));
  EXPECT_EQ(app(0).color, BadgeColor::blue);
  EXPECT_EQ(pixelsNear(preview, colorValue(BadgeColor::red)), 0);
  EXPECT_GT(pixelsNear(preview, colorValue(BadgeColor::blue)), 5);
  // What the menu bar item shows now wins over the renderer.
  DrawableImage green{{18, 18}, false, [](QPainter& p) { p.fillRect(0, 0, 18, 18, Qt::green); }};
  live_[app(0).id] = green.lazy();
  preview->update();
  EXPECT_GT(pixelsNear(preview, {0, 1, 0, 1}), 100);

  click(named<QAbstractButton>("Chat"));
  EXPECT_EQ(tab.expandedApp(), app(1).id);
  EXPECT_EQ(named("Mail: Badge style"), nullptr);
  choose(pressDropdown("Chat: Badge style"), "Dot");
  EXPECT_EQ(app(1).style, BadgeStyle::dot);
  choose(pressDropdown("Chat: Visibility"), "Hide when idle");
  EXPECT_EQ(app(1).visibility, IconVisibility::hide);
  EXPECT_EQ(tab.expandedApp(), app(1).id);  // edits keep the editor open
  // The keyboard: Return on a colour, arrows to the next one; Space on the disclosure.
  auto* orange = named<QAbstractButton>("Orange");
  orange->setFocus(Qt::TabFocusReason);
  QTest::keyClick(orange, Qt::Key_Return);
  EXPECT_EQ(app(1).color, BadgeColor::orange);
  QTest::keyClick(orange, Qt::Key_Right);
  EXPECT_EQ(app(1).color, BadgeColor::purple);
  EXPECT_EQ(QApplication::focusWidget(), named("Purple"));
  choose(pressDropdown("Chat: Badge style"), "Default");
  EXPECT_EQ(app(1).style, std::nullopt);

  // Every control on show is named and on the Tab chain (of the colours, the chosen one: the
  // arrows lead to the others).
  for (auto* control : tab.findChildren<QAbstractButton*>()) {
    if (control->isVisible() && (!control->autoExclusive() || control->isChecked())) {
      EXPECT_FALSE(control->accessibleName().isEmpty()) << control->text().toStdString();
      EXPECT_TRUE(control->focusPolicy() & Qt::TabFocus) << control->accessibleName().toStdString();
    }
  }

  click(named("Chat: Remove from Menu Bar"));
  EXPECT_EQ(order(), std::vector<std::string>{"Mail"});
  EXPECT_EQ(tab.expandedApp(), std::nullopt);
  auto* mail = named<QAbstractButton>("Mail");
  mail->setFocus(Qt::TabFocusReason);
  QTest::keyClick(mail, Qt::Key_Space);
  EXPECT_EQ(tab.expandedApp(), app(0).id);
  click(named("Mail: Remove from Menu Bar"));
  EXPECT_EQ(tab.rowCount(), 0);
  EXPECT_TRUE(tab.emptyState()->isVisible());
}

TEST_F(AppsTabTest, DraggingARowOrOptionArrowsReorderTheList) {
  AppsTab& tab = open({kMail, kMessages, kChat});
  // A click on a row opens it; it moves nothing.
  click(tab.rowHeader(1), QPoint(60, 10));
  EXPECT_EQ(tab.expandedApp(), app(1).id);
  click(tab.rowHeader(1), QPoint(60, 10));
  EXPECT_EQ(tab.expandedApp(), std::nullopt);

  // Mail dragged below Chat's middle lands last.
  QWidget* first = tab.rowHeader(0);
  QWidget* last = tab.rowHeader(2);
  const QPoint below = first->mapFromGlobal(last->mapToGlobal(QPoint(60, last->height())));
  QTest::mousePress(first, Qt::LeftButton, {}, QPoint(60, 10));
  QTest::mouseMove(first, QPoint(60, 13));  // under the threshold: still a click
  QTest::mouseMove(first, QPoint(60, 40));
  QTest::mouseMove(first, below);
  QTest::mouseRelease(first, Qt::LeftButton, {}, below);
  settle();
  EXPECT_EQ(order(), (std::vector<std::string>{"Messages", "Chat", "Mail"}));
  EXPECT_EQ(tab.statusText(2), "999+ notifications");  // the rows follow

  // Option-Up on the focused row moves it up and keeps the focus with it.
  auto* mail = named<QAbstractButton>("Mail");
  mail->setFocus(Qt::TabFocusReason);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up, Qt::AltModifier);
  settle();
  EXPECT_EQ(order(), (std::vector<std::string>{"Messages", "Mail", "Chat"}));
  ASSERT_NE(QApplication::focusWidget(), nullptr);
  EXPECT_EQ(QApplication::focusWidget()->accessibleName(), "Mail");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up, Qt::AltModifier);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up, Qt::AltModifier);  // already first
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down, Qt::AltModifier);
  settle();
  EXPECT_EQ(order(), (std::vector<std::string>{"Messages", "Mail", "Chat"}));
  EXPECT_EQ(named<QAbstractButton>("Mail")->parentWidget(), tab.rowHeader(1));
}

TEST_F(AppsTabTest, PermissionCardUntilTrustedAndTheDefaultStyle) {
  mac_.world.setAccessibilityTrusted(false);
  AppsTab& tab = open({});
  EXPECT_TRUE(tab.permissionCard()->isVisible());
  EXPECT_TRUE(tab.emptyState()->isVisible());
  auto* request = named("Open System Settings");
  ASSERT_NE(request, nullptr);
  EXPECT_EQ(request->height(), 30);
  click(request);
  EXPECT_EQ(accessibilityRequests_, 1);

  mac_.world.setAccessibilityTrusted(true);
  scheduler_.advanceBy(1500ms);
  settle();
  EXPECT_FALSE(tab.permissionCard()->isVisible());
  // Off screen the tab stops looking; back on screen it looks at once.
  const std::size_t pending = scheduler_.pendingTaskCount();
  tab.hide();
  EXPECT_EQ(scheduler_.pendingTaskCount(), pending - 1);
  mac_.world.setAccessibilityTrusted(false);
  tab.show();
  settle();
  EXPECT_TRUE(tab.permissionCard()->isVisible());

  // The default style: Text, Circle, Dot, by their words.
  auto* style = tab.defaultStyleControl();
  EXPECT_EQ(style->accessibleName(), "Default badge style");
  EXPECT_EQ(style->toolTipAt(QPointF(style->segmentWidth() * 2.5, 5)), "Dot");
  click(style, QPoint(static_cast<int>(style->segmentWidth() * 2.5), style->height() / 2));
  EXPECT_EQ(*settings_.defaultStyle(), BadgeStyle::dot);
  settings_.setDefaultStyle(BadgeStyle::text);
  EXPECT_EQ(style->selectedIndex(), 0);
}

// A platform without the accessibility permission (the freedesktop desktop): no card asks for
// it, however untrusted the simulated Mac behind the test is, and nothing watches for it.
TEST_F(AppsTabTest, NoPermissionCardWhereThePlatformHasNoSuchPermission) {
  mac_.world.setAccessibilityTrusted(false);
  platform_.accessibility = nullptr;
  AppsTab& tab = open({kMail});
  EXPECT_EQ(tab.permissionCard(), nullptr);
  EXPECT_EQ(named("Open System Settings"), nullptr);
  EXPECT_EQ(named("Default badge style"), tab.defaultStyleControl());
  EXPECT_EQ(tab.rowCount(), 1);
  // On screen there is no trust timer to cancel, and showing again starts none.
  const std::size_t shown = scheduler_.pendingTaskCount();
  tab.hide();
  EXPECT_EQ(scheduler_.pendingTaskCount(), shown);
  tab.show();
  settle();
  EXPECT_EQ(scheduler_.pendingTaskCount(), shown);
  scheduler_.advanceBy(3000ms);
  settle();
  EXPECT_EQ(tab.permissionCard(), nullptr);
  EXPECT_EQ(accessibilityRequests_, 0);
}

}  // namespace
}  // namespace lumarin
