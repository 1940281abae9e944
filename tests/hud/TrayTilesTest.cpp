// The HUD's tiles and clicks on a freedesktop desktop, against a tray whose apps answer as the
// test tells them to.

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "diagnostics/DebugLog.h"
#include "hud/TrayTiles.h"
#include "platform/sim/ManualScheduler.h"
#include "support/TempDir.h"

namespace lumarin {
namespace {

// A tray whose calls are recorded and answered at once, with the outcome set per method.
class FakeTray final : public TrayItems {
 public:
  const Observable<std::vector<TrayItem>>& items() const override { return items_; }
  void set(std::vector<TrayItem> items) { items_.set(std::move(items)); }

  void activate(const std::string& key, int x, int y, Done done) override {
    answer("Activate " + key + " " + std::to_string(x) + "," + std::to_string(y), done);
  }
  void secondaryActivate(const std::string& key, int, int, Done done) override {
    answer("SecondaryActivate " + key, done);
  }
  void contextMenu(const std::string& key, int, int, Done done) override {
    answer("ContextMenu " + key, done);
  }
  void scroll(const std::string& key, int delta, const std::string& orientation,
              Done done) override {
    answer("Scroll " + key + " " + std::to_string(delta) + " " + orientation, done);
  }
  void readMenu(const std::string& key, std::function<void(std::optional<Menu>)> done) override {
    calls.push_back("GetLayout " + key);
    if (holdMenus) {
      held.push_back([done, menu = menu] { done(menu); });
      return;
    }
    done(menu);
  }
  void menuEvent(const std::string& key, const MenuItem& entry, const std::string& event) override {
    const auto* id = std::get_if<std::string>(&entry.representedObject);
    calls.push_back("Event " + key + " " + (id ? *id : "?") + " " + event);
  }

  std::vector<std::string> calls;
  std::map<std::string, std::string> errors;  // by method: the app's error answer
  std::optional<Menu> menu;
  bool holdMenus = false;  // answers wait in `held`
  std::vector<std::function<void()>> held;

 private:
  void answer(const std::string& call, const Done& done) {
    calls.push_back(call);
    const auto error = errors.find(call.substr(0, call.find(' ')));
    done(error == errors.end() ? CallResult{true, ""} : CallResult{false, error->second});
  }

  Observable<std::vector<TrayItem>> items_;
};

TrayItem item(const std::string& key, const std::string& title, const std::string& status,
              const std::string& menuPath = {}, bool itemIsMenu = false) {
  TrayItem out;
  out.key = key;
  out.service = key.substr(0, key.find('/'));
  out.path = key.substr(key.find('/'));
  out.id = "app-" + key.substr(1, 3);
  out.title = title;
  out.status = status;
  out.menuPath = menuPath;
  out.itemIsMenu = itemIsMenu;
  out.answered = true;
  return out;
}

MenuItem entry(const std::string& title, const std::string& id) {
  MenuItem out = MenuItem::command(title, "dbusmenu");
  out.representedObject = id;
  return out;
}

class TrayTilesTest : public ::testing::Test {
 protected:
  TrayTilesTest() {
    forwarder_->setReporter([this](const HUDClickSink::Report& report) {
      reports_.push_back(report.path + (report.ok ? " ok" : " failed") + " " + report.tile);
    });
  }

  HUDTiles::Target target(const std::string& key) { return model_->targetsByID().at(key); }

  test::TempDir dir_;
  ManualScheduler scheduler_;
  DebugLog log_{dir_ / "log", scheduler_.clock()};
  FakeTray tray_;
  std::shared_ptr<TrayTileModel> model_ = std::make_shared<TrayTileModel>(tray_, scheduler_, log_);
  std::vector<std::pair<std::string, Menu>> shown_;
  MenuHandlers handlers_;
  std::shared_ptr<TrayClickForwarder> forwarder_ =
      std::make_shared<TrayClickForwarder>(TrayClickForwarder::Dependencies{
          tray_, log_,
          [] {
            return GlobalPoint{640, 12};
          },
          [this](const std::string& owner, const Menu& menu, MenuHandlers handlers, GlobalPoint) {
            shown_.emplace_back(owner, menu);
            handlers_ = std::move(handlers);
            return [this](const Menu& changed) { updates_.push_back(changed); };
          }});
  std::vector<Menu> updates_;
  std::vector<std::string> reports_;
};

TEST_F(TrayTilesTest, TilesFollowTheTrayInItsOrderWithHiddenItemsMarkedAndTitlesFallingBack) {
  int changes = 0;
  model_->setOnTilesChanged([&changes] { ++changes; });
  auto chat = item(":1.5/Chat", "Chat", "Active");
  auto backup = item(":1.7/Backup", "", "Passive");  // no title: its id
  tray_.set({chat, backup});
  ASSERT_EQ(model_->tiles()->size(), 2u);
  EXPECT_EQ((*model_->tiles())[0].title, "Chat");
  EXPECT_FALSE((*model_->tiles())[0].hiddenByHost);
  EXPECT_EQ((*model_->tiles())[1].title, "app-1.7");
  EXPECT_TRUE((*model_->tiles())[1].hiddenByHost);
  EXPECT_EQ((*model_->tiles())[1].kind, "tray");
  const auto* tray = std::get_if<HUDTiles::TrayTarget>(&model_->targetsByID().at(":1.7/Backup"));
  ASSERT_NE(tray, nullptr);
  EXPECT_EQ(tray->appID, "app-1.7");
  EXPECT_EQ(changes, 1);

  // The same items again change nothing; a status change does.
  tray_.set({chat, backup});
  EXPECT_EQ(changes, 1);
  backup.status = "NeedsAttention";
  tray_.set({chat, backup});
  EXPECT_EQ(changes, 2);
  EXPECT_FALSE((*model_->tiles())[1].hiddenByHost);

  // A refresh reads nothing; its continuation still waits for the queue.
  bool refreshed = false;
  model_->refresh([&refreshed] { refreshed = true; });
  EXPECT_FALSE(refreshed);
  scheduler_.runUntilIdle();
  EXPECT_TRUE(refreshed);
  EXPECT_EQ(model_->lastMode(), "tray");
}

TEST_F(TrayTilesTest, ALeftClickActivatesAtThePointerAndFallsBackToTheMenuWhenTheAppRefuses) {
  tray_.set({item(":1.5/Chat", "Chat", "Active"), item(":1.6/Notes", "Notes", "Active", "/Menu"),
             item(":1.8/Dock", "Dock", "Active", "/Menu", true),
             item(":1.9/Bare", "Bare", "Active")});
  tray_.menu = Menu{"", {entry("Open", "4"), MenuItem::separator(), entry("Quit", "7")}};

  forwarder_->forward(target(":1.5/Chat"), false, 0);
  EXPECT_EQ(tray_.calls.back(), "Activate :1.5/Chat 640,12");
  EXPECT_EQ(reports_.back(), "activate ok :1.5/Chat");

  // An item that is only a menu: its menu at once, without asking the app to activate.
  tray_.calls.clear();
  forwarder_->forward(target(":1.8/Dock"), false, 0);
  EXPECT_EQ(tray_.calls,
            (std::vector<std::string>{"GetLayout :1.8/Dock", "Event :1.8/Dock 0 opened"}));
  EXPECT_EQ(reports_.back(), "menu ok :1.8/Dock");

  // An app with nothing to activate: its menu instead, whose choice and closing it hears.
  tray_.errors["Activate"] = "org.freedesktop.DBus.Error.UnknownMethod";
  tray_.calls.clear();
  forwarder_->forward(target(":1.6/Notes"), false, 0);
  ASSERT_EQ(shown_.size(), 2u);
  EXPECT_EQ(shown_.back().first, "Notes");
  EXPECT_EQ(reports_.back(), "activate-menu ok :1.6/Notes");
  handlers_.chose(shown_.back().second.items[2]);
  handlers_.didClose();
  EXPECT_EQ(tray_.calls,
            (std::vector<std::string>{"Activate :1.6/Notes 640,12", "GetLayout :1.6/Notes",
                                      "Event :1.6/Notes 0 opened", "Event :1.6/Notes 7 clicked",
                                      "Event :1.6/Notes 0 closed"}));

  // Without a menu the refusal is the outcome.
  forwarder_->forward(target(":1.9/Bare"), false, 0);
  EXPECT_EQ(reports_.back(), "activate failed :1.9/Bare");
}

TEST_F(TrayTilesTest, OtherButtonsTakeTheirOwnPathsAndAVanishedItemGoesNowhere) {
  tray_.set({item(":1.5/Chat", "Chat", "Active"), item(":1.6/Notes", "Notes", "Passive", "/Menu")});
  // Right: the app's own menu without an exported one; an exported menu that reads as empty
  // falls back to it too.
  forwarder_->forward(target(":1.5/Chat"), true, 0);
  EXPECT_EQ(tray_.calls.back(), "ContextMenu :1.5/Chat");
  EXPECT_EQ(reports_.back(), "contextMenu ok :1.5/Chat");
  tray_.menu = Menu{"", {MenuItem::separator()}};
  forwarder_->forward(target(":1.6/Notes"), true, 0);
  EXPECT_EQ(tray_.calls.back(), "ContextMenu :1.6/Notes");
  EXPECT_EQ(reports_.back(), "menu-contextMenu ok :1.6/Notes");
  EXPECT_TRUE(shown_.empty());

  forwarder_->middleClick(target(":1.5/Chat"));
  EXPECT_EQ(tray_.calls.back(), "SecondaryActivate :1.5/Chat");
  forwarder_->scroll(target(":1.5/Chat"), -2, false);
  EXPECT_EQ(tray_.calls.back(), "Scroll :1.5/Chat -2 vertical");
  forwarder_->scroll(target(":1.5/Chat"), 1, true);
  EXPECT_EQ(tray_.calls.back(), "Scroll :1.5/Chat 1 horizontal");
  EXPECT_EQ(reports_.back(), "scroll ok :1.5/Chat");

  const auto gone = target(":1.5/Chat");
  tray_.set({});
  const std::size_t calls = tray_.calls.size();
  forwarder_->forward(gone, false, 0);
  EXPECT_EQ(tray_.calls.size(), calls);
  EXPECT_EQ(reports_.back(), "none failed ");
}

}  // namespace
}  // namespace lumarin

namespace lumarin {
namespace {

TEST_F(TrayTilesTest, MenusAreReadWhenAskedKeptUntilTheyChangeAndTheirEntriesPerformed) {
  auto notes = item(":1.6/Notes", "Notes", "Active", "/Menu");
  tray_.set({item(":1.5/Chat", "Chat", "Active"), notes});
  auto sub = std::make_shared<Menu>();
  sub->items = {entry("Daily", "9"), entry("Weekly", "10")};
  MenuItem schedule = MenuItem::command("Schedule", "dbusmenu");
  schedule.submenu = sub;
  MenuItem off = entry("Disabled", "11");
  off.enabled = false;
  tray_.menu = Menu{"", {entry("New note", "4"), MenuItem::separator(), schedule, off}};
  int told = 0;
  model_->setOnMenusChanged([&told] { ++told; });

  // Nothing is read until asked; an item without a menu is not asked.
  EXPECT_TRUE(model_->menuEntries().empty());
  model_->readMenus();
  EXPECT_EQ(tray_.calls, (std::vector<std::string>{"GetLayout :1.6/Notes"}));
  std::vector<std::string> titles;
  for (const auto& e : model_->menuEntries()) {
    titles.push_back(e.title);
    EXPECT_EQ(e.tileID, ":1.6/Notes");
  }
  EXPECT_EQ(titles, (std::vector<std::string>{"Notes › New note", "Notes › Schedule › Daily",
                                              "Notes › Schedule › Weekly"}));
  EXPECT_EQ(told, 1);

  // Asked again without a change: the cache answers. A changed menu is read again; while that
  // read is under way, asking again does not pile up reads.
  model_->readMenus();
  EXPECT_EQ(tray_.calls.size(), 1u);
  notes.menuRevision = 1;
  tray_.set({item(":1.5/Chat", "Chat", "Active"), notes});
  tray_.holdMenus = true;
  tray_.menu = Menu{"", {entry("New note", "4")}};
  model_->readMenus();
  model_->readMenus();
  EXPECT_EQ(tray_.calls.size(), 2u);
  EXPECT_EQ(model_->menuEntries().size(), 3u);  // the old entries until the new ones come
  ASSERT_EQ(tray_.held.size(), 1u);
  tray_.held.front()();
  ASSERT_EQ(model_->menuEntries().size(), 1u);

  // A renamed tile renames its entries; a performed entry is the app's "clicked".
  notes.title = "Jotter";
  tray_.set({item(":1.5/Chat", "Chat", "Active"), notes});
  EXPECT_EQ(model_->menuEntries().front().title, "Jotter › New note");
  forwarder_->perform(target(":1.6/Notes"), model_->menuEntries().front());
  EXPECT_EQ(tray_.calls.back(), "Event :1.6/Notes 4 clicked");
  EXPECT_EQ(reports_.back(), "menu-entry ok :1.6/Notes");

  // The item goes, and its entries with it.
  tray_.set({item(":1.5/Chat", "Chat", "Active")});
  EXPECT_TRUE(model_->menuEntries().empty());
}

TEST_F(TrayTilesTest, AnOpenDrawnMenuFollowsTheAppsChangesAndTellsItsSubmenus) {
  auto notes = item(":1.6/Notes", "Notes", "Active", "/Menu");
  tray_.set({notes});
  auto sub = std::make_shared<Menu>();
  sub->items = {entry("Daily", "9")};
  MenuItem schedule = entry("Schedule", "8");
  schedule.submenu = sub;
  tray_.menu = Menu{"", {entry("New note", "4"), schedule}};
  forwarder_->forward(target(":1.6/Notes"), true, 0);
  ASSERT_EQ(shown_.size(), 1u);
  handlers_.submenuOpened(shown_.back().second.items[1]);
  handlers_.submenuClosed(shown_.back().second.items[1]);
  EXPECT_EQ(tray_.calls,
            (std::vector<std::string>{"GetLayout :1.6/Notes", "Event :1.6/Notes 0 opened",
                                      "Event :1.6/Notes 8 opened", "Event :1.6/Notes 8 closed"}));

  // The app changes its menu while it is open: read again and shown. Changes while a read is
  // under way are read once it is in; an unchanged revision reads nothing.
  tray_.calls.clear();
  tray_.holdMenus = true;
  tray_.menu = Menu{"", {entry("New note", "4"), entry("Archive", "12")}};
  for (std::uint64_t revision = 1; revision <= 3; ++revision) {
    notes.menuRevision = revision;
    tray_.set({notes});
  }
  ASSERT_EQ(tray_.held.size(), 1u);
  auto answer = tray_.held.front();
  tray_.held.clear();
  answer();
  ASSERT_EQ(updates_.size(), 1u);
  EXPECT_EQ(updates_.back().items.back().title, "Archive");
  ASSERT_EQ(tray_.held.size(), 1u);  // the changes that came meanwhile: one more read
  answer = tray_.held.front();
  tray_.held.clear();
  answer();
  EXPECT_EQ(updates_.size(), 2u);
  EXPECT_TRUE(tray_.held.empty());
  tray_.set({notes});
  EXPECT_TRUE(tray_.held.empty());

  // Closed: changes are no longer read.
  handlers_.didClose();
  notes.menuRevision = 4;
  tray_.set({notes});
  EXPECT_TRUE(tray_.held.empty());
  EXPECT_EQ(tray_.calls.back(), "Event :1.6/Notes 0 closed");
}

}  // namespace
}  // namespace lumarin
