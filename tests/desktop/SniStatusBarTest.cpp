#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>

#include "TrayDesktop.h"
#include "platform/desktop/DBusTypes.h"
#include "platform/desktop/DesktopEvents.h"
#include "platform/desktop/SniStatusBar.h"
#include "platform/host/HostClock.h"
#include "platform/host/HostScheduler.h"

namespace lumarin {
namespace {

using test::BusSignalRecorder;
using test::waitUntil;

constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";
constexpr const char* kMenuInterface = "com.canonical.dbusmenu";

// A 2×2-point picture, drawn at any scale as blocks: opaque red, 50 % green (premultiplied),
// opaque blue, transparent.
LazyImage testPicture(bool isTemplate = false) {
  LazyImage lazy;
  lazy.size = Size{2, 2};
  lazy.isTemplate = isTemplate;
  lazy.render = [isTemplate](double scale) {
    const int s = static_cast<int>(scale);
    Image image;
    image.pixelWidth = 2 * s;
    image.pixelHeight = 2 * s;
    image.pointSize = Size{2, 2};
    image.isTemplate = isTemplate;
    const std::uint8_t quadrants[4][4] = {
        {255, 0, 0, 255}, {0, 128, 0, 128}, {0, 0, 255, 255}, {0, 0, 0, 0}};
    for (int y = 0; y < 2 * s; ++y) {
      for (int x = 0; x < 2 * s; ++x) {
        const auto& q = quadrants[(y / s) * 2 + (x / s)];
        image.rgba.insert(image.rgba.end(), q, q + 4);
      }
    }
    return image;
  };
  return lazy;
}

// What the host should read for `testPicture` at `scale`: A, R, G, B per pixel.
QByteArray expectedArgb(int scale) {
  const std::uint8_t quadrants[4][4] = {
      {255, 255, 0, 0}, {128, 0, 255, 0}, {255, 0, 0, 255}, {0, 0, 0, 0}};
  QByteArray bytes;
  for (int y = 0; y < 2 * scale; ++y) {
    for (int x = 0; x < 2 * scale; ++x) {
      const auto& q = quadrants[(y / scale) * 2 + (x / scale)];
      bytes.append(reinterpret_cast<const char*>(q), 4);
    }
  }
  return bytes;
}

Menu sampleMenu() {
  Menu menu;
  menu.items.push_back(MenuItem::command("Open my_app", "open", "o"));
  menu.items.push_back(MenuItem::separator());
  MenuItem checked = MenuItem::command("Show badges", "toggle");
  checked.checked = true;
  menu.items.push_back(checked);
  MenuItem disabled = MenuItem::command("Unavailable", "none");
  disabled.enabled = false;
  menu.items.push_back(disabled);
  MenuItem more = MenuItem::command("More", "");
  more.submenu = std::make_shared<Menu>();
  more.submenu->items.push_back(MenuItem::command("First", "first"));
  MenuItem second = MenuItem::command("Second", "second");
  second.representedObject = std::string("payload");
  more.submenu->items.push_back(second);
  menu.items.push_back(more);
  menu.items.push_back(MenuItem::command("Quit", "terminate:", "q"));
  return menu;
}

class SniStatusBarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string missing = test::TrayDesktop::missingPrograms();
    if (!missing.empty()) {
      GTEST_SKIP() << "a test desktop needs " << missing;
    }
    dbus::registerTypes();
    std::string why;
    ASSERT_TRUE(desktop_.start(why)) << why;
  }

  void TearDown() override {
    bar_.reset();
    scheduler_.reset();
  }

  void startPanel() {
    std::string why;
    ASSERT_TRUE(desktop_.startPanel(why)) << why;
  }

  SniStatusBar& bar() {
    if (!bar_) {
      scheduler_ = std::make_unique<HostScheduler>(clock_);
      SniStatusBar::Options options;
      options.busAddress = desktop_.busAddress();
      options.templateInk = RgbColor{1, 1, 1, 1};
      bar_ = std::make_unique<SniStatusBar>(*scheduler_, events_, log_, options);
    }
    return *bar_;
  }

  std::string serviceOf(const StatusItem& item) { return bar().stateOf(item)->service; }

  QDBusMessage call(const std::string& service, const QString& path, const QString& interface,
                    const QString& member, const QVariantList& args) {
    QDBusMessage message =
        QDBusMessage::createMethodCall(QString::fromStdString(service), path, interface, member);
    message.setArguments(args);
    // Asynchronously, so the item (in this same process) answers while we wait.
    QDBusPendingCall pending = desktop_.client().asyncCall(message, 10000);
    EXPECT_TRUE(waitUntil([&] { return pending.isFinished(); }));
    return pending.reply();
  }

  QVariant property(const std::string& service, const QString& name,
                    const QString& path = "/StatusNotifierItem",
                    const QString& interface = kItemInterface) {
    const QDBusMessage reply =
        call(service, path, "org.freedesktop.DBus.Properties", "Get", {interface, name});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
      ADD_FAILURE() << "Get " << name.toStdString() << ": " << reply.errorMessage().toStdString();
      return {};
    }
    return reply.arguments()[0].value<QDBusVariant>().variant();
  }

  dbus::IconPixmapList pixmaps(const std::string& service) {
    return qdbus_cast<dbus::IconPixmapList>(property(service, "IconPixmap").value<QDBusArgument>());
  }

  dbus::MenuLayoutItem layout(const std::string& service, int parent = 0, int depth = -1,
                              const QStringList& names = {}) {
    const QDBusMessage reply =
        call(service, "/MenuBar", kMenuInterface, "GetLayout", {parent, depth, names});
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    if (reply.arguments().size() != 2) {
      return {};
    }
    return qdbus_cast<dbus::MenuLayoutItem>(reply.arguments()[1].value<QDBusArgument>());
  }

  test::TrayDesktop desktop_;
  HostClock clock_;
  std::unique_ptr<HostScheduler> scheduler_;
  DesktopEvents events_{0.5};
  test::RecordingSystemLog log_;
  std::unique_ptr<SniStatusBar> bar_;
};

TEST_F(SniStatusBarTest, ItemsRegisterWithTheTrayHostAndLeaveWhenRemoved) {
  startPanel();
  auto first = bar().makeStatusItem(kVariableStatusItemLength);
  first->setAutosaveName("lumarin.com.example.mail");
  first->button().setImage(testPicture());
  auto second = bar().makeStatusItem(kSquareStatusItemLength);
  second->setAutosaveName("Lumarin.ControlItem.Main");
  const std::string a = serviceOf(*first);
  const std::string b = serviceOf(*second);
  EXPECT_NE(a, b);
  EXPECT_EQ(a.rfind("org.kde.StatusNotifierItem-", 0), 0u);
  ASSERT_TRUE(waitUntil([&] { return desktop_.isRegistered(a) && desktop_.isRegistered(b); }))
      << desktop_.registeredItems().join(' ').toStdString();
  EXPECT_TRUE(waitUntil([&] { return bar().stateOf(*first)->registered; }));
  EXPECT_EQ(property(a, "Id").toString(), "lumarin.com.example.mail");
  EXPECT_EQ(property(a, "Category").toString(), "ApplicationStatus");
  EXPECT_EQ(property(a, "Status").toString(), "Active");
  EXPECT_EQ(property(a, "Menu").value<QDBusObjectPath>().path(), "/MenuBar");
  EXPECT_EQ(log_.count("no tray host"), 0u);

  bar().removeStatusItem(first);
  EXPECT_TRUE(waitUntil([&] { return !desktop_.isRegistered(a); }));
  EXPECT_TRUE(desktop_.isRegistered(b));
  EXPECT_FALSE(desktop_.client().interface()->isServiceRegistered(QString::fromStdString(a)));
  EXPECT_EQ(bar().items().size(), 1u);
}

TEST_F(SniStatusBarTest, IconPixmapIsThePictureAtOneAndTwoTimes) {
  auto item = bar().makeStatusItem(kVariableStatusItemLength);
  item->button().setImage(testPicture());
  const std::string service = serviceOf(*item);
  auto icons = pixmaps(service);
  ASSERT_EQ(icons.size(), 2);
  EXPECT_EQ(icons[0].width, 2);
  EXPECT_EQ(icons[0].height, 2);
  EXPECT_EQ(icons[0].bytes, expectedArgb(1));
  EXPECT_EQ(icons[1].width, 4);
  EXPECT_EQ(icons[1].bytes, expectedArgb(2));

  // A template picture comes in the panel's ink (white here), keeping only its alpha.
  BusSignalRecorder newIcon(desktop_.client(), QString::fromStdString(service),
                            "/StatusNotifierItem", kItemInterface, "NewIcon");
  item->button().setImage(testPicture(true));
  ASSERT_TRUE(waitUntil([&] { return newIcon.count() == 1; }));
  icons = pixmaps(service);
  ASSERT_EQ(icons.size(), 2);
  const auto& px = icons[0].bytes;
  EXPECT_EQ(QByteArray(px.constData(), 4), QByteArray("\xff\xff\xff\xff", 4));
  EXPECT_EQ(static_cast<unsigned char>(px[4]), 128);  // the green's half alpha
  EXPECT_EQ(static_cast<unsigned char>(px[5]), 255);  // in white

  // No image: no pixmaps at all.
  item->button().setImage(std::nullopt);
  ASSERT_TRUE(waitUntil([&] { return newIcon.count() == 2; }));
  EXPECT_TRUE(pixmaps(service).isEmpty());
}

TEST_F(SniStatusBarTest, ToolTipAndStatusFollowEachChangeWithOneSignalPerFrame) {
  auto item = bar().makeStatusItem(kVariableStatusItemLength);
  item->button().setImage(testPicture());
  const std::string service = serviceOf(*item);
  const QString s = QString::fromStdString(service);
  BusSignalRecorder toolTips(desktop_.client(), s, "/StatusNotifierItem", kItemInterface,
                             "NewToolTip");
  BusSignalRecorder statuses(desktop_.client(), s, "/StatusNotifierItem", kItemInterface,
                             "NewStatus");
  BusSignalRecorder icons(desktop_.client(), s, "/StatusNotifierItem", kItemInterface, "NewIcon");
  // Flush the first announcement of the picture before counting.
  ASSERT_TRUE(waitUntil([&] { return icons.count() == 1; }));

  // Three tooltips in a row: the host hears once and reads the last.
  item->button().setToolTip("Mail — 1 unread");
  item->button().setToolTip("Mail — 2 unread");
  item->button().setToolTip("Mail — 3 unread");
  ASSERT_TRUE(waitUntil([&] { return toolTips.count() >= 1; }));
  const auto tip = qdbus_cast<dbus::ToolTip>(property(service, "ToolTip").value<QDBusArgument>());
  EXPECT_EQ(tip.title.toStdString(), "Mail — 3 unread");
  EXPECT_EQ(property(service, "Title").toString().toStdString(), "Mail — 3 unread");
  // A round trip to the item: any further signal it sent would have arrived before the answer.
  (void)property(service, "Status");
  EXPECT_EQ(toolTips.count(), 1u);
  EXPECT_EQ(statuses.count(), 0u);
  EXPECT_EQ(icons.count(), 1u);  // an unchanged picture says nothing

  // Hidden when idle: length 0 without an image is Passive, so the host hides it. Hosts list
  // hidden items by title: without a tooltip or a text it is the accessible name, not the id.
  item->setAutosaveName("lumarin.app.org.example.Mail.desktop");
  item->button().setAccessibilityLabel("Mail");
  item->setLength(0);
  item->button().setImage(std::nullopt);
  item->button().setToolTip(std::nullopt);
  ASSERT_TRUE(waitUntil([&] { return statuses.count() == 1; }));
  EXPECT_EQ(statuses.messages()[0].arguments()[0].toString(), "Passive");
  EXPECT_EQ(property(service, "Status").toString(), "Passive");
  EXPECT_EQ(bar().stateOf(*item)->status, "Passive");
  EXPECT_EQ(property(service, "Title").toString().toStdString(), "Mail");
  ASSERT_EQ(toolTips.count(), 2u);
  item->button().setToolTip("Mail — 3 unread");
  ASSERT_TRUE(waitUntil([&] { return toolTips.count() == 3; }));

  // Back with a badge; then setVisible(false) hides it whatever its length.
  item->setLength(kVariableStatusItemLength);
  item->button().setImage(testPicture());
  ASSERT_TRUE(waitUntil([&] { return statuses.count() == 2; }));
  EXPECT_EQ(statuses.messages()[1].arguments()[0].toString(), "Active");
  item->setVisible(false);
  ASSERT_TRUE(waitUntil([&] { return statuses.count() == 3; }));
  EXPECT_EQ(statuses.messages()[2].arguments()[0].toString(), "Passive");

  // Hidden and shown again within one frame: nothing to tell.
  BusSignalRecorder titles(desktop_.client(), s, "/StatusNotifierItem", kItemInterface, "NewTitle");
  item->setVisible(true);
  item->setVisible(false);
  item->button().setToolTip("Mail — 3 unread");
  item->button().setTitle("3");  // with a tooltip the title stays, but the label changes
  BusSignalRecorder labels(desktop_.client(), s, "/StatusNotifierItem", kItemInterface,
                           "XAyatanaNewLabel");
  ASSERT_TRUE(waitUntil([&] { return labels.count() == 1; }));
  (void)property(service, "Status");
  EXPECT_EQ(statuses.count(), 3u);
  EXPECT_EQ(titles.count(), 0u);
  EXPECT_EQ(property(service, "XAyatanaLabel").toString(), "3");
  EXPECT_EQ(toolTips.count(), 3u);
}

TEST_F(SniStatusBarTest, TheMenuIsExportedAsTheMenuValueWithStableIds) {
  auto item = bar().makeStatusItem(kSquareStatusItemLength);
  const std::string service = serviceOf(*item);
  EXPECT_FALSE(property(service, "ItemIsMenu").toBool());
  EXPECT_TRUE(layout(service).children.isEmpty());

  item->setMenu(sampleMenu(), {});
  EXPECT_TRUE(property(service, "ItemIsMenu").toBool());
  const auto root = layout(service);
  EXPECT_EQ(root.id, 0);
  EXPECT_EQ(root.properties.value("children-display").toString(), "submenu");
  ASSERT_EQ(root.children.size(), 6);
  const auto& open = root.children[0].properties;
  EXPECT_EQ(open.value("label").toString(), "Open my__app");
  EXPECT_TRUE(open.value("enabled").toBool());
  const auto shortcut =
      qdbus_cast<dbus::MenuShortcut>(open.value("shortcut").value<QDBusArgument>());
  EXPECT_EQ(shortcut, (dbus::MenuShortcut{{"Control", "O"}}));
  EXPECT_FALSE(open.contains("toggle-type"));
  EXPECT_EQ(root.children[1].properties.value("type").toString(), "separator");
  EXPECT_FALSE(root.children[1].properties.contains("label"));
  EXPECT_EQ(root.children[2].properties.value("toggle-type").toString(), "checkmark");
  EXPECT_EQ(root.children[2].properties.value("toggle-state").toInt(), 1);
  EXPECT_FALSE(root.children[3].properties.value("enabled").toBool());
  const auto& more = root.children[4];
  EXPECT_EQ(more.properties.value("children-display").toString(), "submenu");
  ASSERT_EQ(more.children.size(), 2);
  EXPECT_EQ(more.children[1].properties.value("label").toString(), "Second");

  // Depth and property filters.
  const auto shallow = layout(service, 0, 1, {"label"});
  ASSERT_EQ(shallow.children.size(), 6);
  EXPECT_TRUE(shallow.children[4].children.isEmpty());
  EXPECT_EQ(shallow.children[0].properties.keys(), QStringList{"label"});
  const auto sub = layout(service, more.id);
  EXPECT_EQ(sub.children.size(), 2);
  const QDBusMessage bad =
      call(service, "/MenuBar", kMenuInterface, "GetLayout", {987654, -1, QStringList{}});
  EXPECT_EQ(bad.type(), QDBusMessage::ErrorMessage);
  const QDBusMessage wrong =
      call(service, "/MenuBar", kMenuInterface, "GetLayout", {QString("zero")});
  EXPECT_EQ(wrong.type(), QDBusMessage::ErrorMessage);
  EXPECT_EQ(property(service, "Version", "/MenuBar", kMenuInterface).toUInt(), 3u);

  // Unchecking an entry keeps every id and tells the host the changed property only.
  BusSignalRecorder props(desktop_.client(), QString::fromStdString(service), "/MenuBar",
                          kMenuInterface, "ItemsPropertiesUpdated");
  BusSignalRecorder layouts(desktop_.client(), QString::fromStdString(service), "/MenuBar",
                            kMenuInterface, "LayoutUpdated");
  Menu changed = sampleMenu();
  changed.items[2].checked = false;
  item->setMenu(changed, {});
  ASSERT_TRUE(waitUntil([&] { return props.count() == 1; }));
  const auto again = layout(service);
  ASSERT_EQ(again.children.size(), 6);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(again.children[i].id, root.children[i].id);
  }
  EXPECT_FALSE(again.children[2].properties.contains("toggle-state"));
  EXPECT_EQ(layouts.count(), 0u);

  // A new entry changes the layout; the entries that stayed keep their ids.
  changed.items.insert(changed.items.begin(), MenuItem::command("New", "new"));
  item->setMenu(changed, {});
  ASSERT_TRUE(waitUntil([&] { return layouts.count() == 1; }));
  const auto grown = layout(service);
  ASSERT_EQ(grown.children.size(), 7);
  EXPECT_EQ(grown.children[1].id, root.children[0].id);
  EXPECT_EQ(grown.children[6].id, root.children[5].id);
}

TEST_F(SniStatusBarTest, AClickedEntryReachesChoseThenDidClose) {
  auto item = bar().makeStatusItem(kVariableStatusItemLength);
  const std::string service = serviceOf(*item);
  std::vector<std::string> happened;
  MenuHandlers handlers;
  handlers.chose = [&](const MenuItem& entry) {
    const auto* object = std::get_if<std::string>(&entry.representedObject);
    happened.push_back("chose " + entry.title + (object ? " " + *object : ""));
  };
  handlers.didClose = [&] { happened.push_back("closed"); };
  item->setContextMenu(sampleMenu(), handlers);
  EXPECT_FALSE(property(service, "ItemIsMenu").toBool());  // a context menu only
  const auto root = layout(service);
  ASSERT_EQ(root.children.size(), 6);
  const int second = root.children[4].children[1].id;
  const int disabled = root.children[3].id;
  const auto event = [&](int id, const QString& name) {
    return call(service, "/MenuBar", kMenuInterface, "Event",
                {id, name, QVariant::fromValue(QDBusVariant(0)), 0u});
  };
  EXPECT_EQ(event(0, "opened").type(), QDBusMessage::ReplyMessage);
  EXPECT_EQ(event(second, "clicked").type(), QDBusMessage::ReplyMessage);
  ASSERT_TRUE(waitUntil([&] { return happened.size() == 2; }));
  EXPECT_EQ(happened, (std::vector<std::string>{"chose Second payload", "closed"}));
  // The host closes the menu after the choice: not reported twice.
  event(0, "closed");
  // A disabled entry, a submenu's parent and a separator choose nothing.
  event(0, "opened");
  event(disabled, "clicked");
  event(root.children[4].id, "clicked");
  event(root.children[1].id, "clicked");
  event(0, "closed");
  ASSERT_TRUE(waitUntil([&] { return happened.size() == 3; }));
  EXPECT_EQ(happened.back(), "closed");
  // An unknown entry is an error, and nothing happens.
  EXPECT_EQ(event(424242, "clicked").type(), QDBusMessage::ErrorMessage);
  EXPECT_EQ(happened.size(), 3u);
}

TEST_F(SniStatusBarTest, ActivateIsALeftClickAndTwoMakeADoubleClick) {
  auto item = bar().makeStatusItem(kVariableStatusItemLength);
  const std::string service = serviceOf(*item);
  std::vector<Event> seen;
  item->button().setAction(
      [&](StatusBarButton&) {
        ASSERT_TRUE(events_.currentEvent().has_value());
        seen.push_back(*events_.currentEvent());
      },
      kSendOnLeftMouseUp | kSendOnRightMouseUp);
  const auto method = [&](const QString& name, const QVariantList& args) {
    return call(service, "/StatusNotifierItem", kItemInterface, name, args);
  };
  EXPECT_EQ(method("Activate", {10, 5}).type(), QDBusMessage::ReplyMessage);
  EXPECT_EQ(method("Activate", {10, 5}).type(), QDBusMessage::ReplyMessage);
  ASSERT_TRUE(waitUntil([&] { return seen.size() == 2; }));
  EXPECT_EQ(seen[0], (Event{EventType::leftMouseUp, 1, 0}));
  EXPECT_EQ(seen[1], (Event{EventType::leftMouseUp, 2, 0}));
  EXPECT_FALSE(events_.currentEvent().has_value());  // only during the dispatch

  method("ContextMenu", {10, 5});
  method("SecondaryActivate", {10, 5});
  ASSERT_TRUE(waitUntil([&] { return seen.size() == 4; }));
  EXPECT_EQ(seen[2].type, EventType::rightMouseUp);
  EXPECT_EQ(seen[3].type, EventType::leftMouseUp);
  EXPECT_EQ(seen[3].clickCount, 1);  // a third click starts over

  // Wrong arguments are refused and click nothing; Scroll is accepted and ignored.
  EXPECT_EQ(method("Activate", {QString("x")}).type(), QDBusMessage::ErrorMessage);
  EXPECT_EQ(method("Scroll", {3, QString("vertical")}).type(), QDBusMessage::ReplyMessage);
  // An action that only takes left clicks does not see right ones.
  item->button().setAction([&](StatusBarButton&) { seen.push_back(*events_.currentEvent()); },
                           kSendOnLeftMouseUp);
  method("ContextMenu", {1, 1});
  method("Activate", {1, 1});
  ASSERT_TRUE(waitUntil([&] { return seen.size() == 5; }));
  EXPECT_EQ(seen[4].type, EventType::leftMouseUp);
}

TEST_F(SniStatusBarTest, ARestartedHostGetsTheItemsBack) {
  startPanel();
  auto item = bar().makeStatusItem(kVariableStatusItemLength);
  item->button().setImage(testPicture());
  const std::string service = serviceOf(*item);
  ASSERT_TRUE(waitUntil([&] { return desktop_.isRegistered(service); }));
  ASSERT_TRUE(desktop_.stopPanel());
  EXPECT_TRUE(waitUntil([&] { return !bar().stateOf(*item)->registered; }));
  startPanel();
  EXPECT_TRUE(waitUntil([&] { return desktop_.isRegistered(service); }))
      << desktop_.registeredItems().join(' ').toStdString();
  EXPECT_TRUE(waitUntil([&] { return bar().stateOf(*item)->registered; }));
}

TEST_F(SniStatusBarTest, WithoutAHostItemsWaitAndRegisterWhenOneAppears) {
  auto first = bar().makeStatusItem(kVariableStatusItemLength);
  auto second = bar().makeStatusItem(kVariableStatusItemLength);
  EXPECT_EQ(log_.count("no tray host"), 1u);  // said once, not per item
  EXPECT_FALSE(bar().stateOf(*first)->registered);
  EXPECT_TRUE(bar().stateOf(*first)->connected);
  startPanel();
  EXPECT_TRUE(waitUntil([&] {
    return desktop_.isRegistered(serviceOf(*first)) && desktop_.isRegistered(serviceOf(*second));
  })) << desktop_.registeredItems().join(' ').toStdString();
}

TEST_F(SniStatusBarTest, WithoutABusItemsStillWorkAsValues) {
  SniStatusBar::Options options;
  options.busAddress = "unix:path=/nonexistent/lumarin-no-bus";
  HostScheduler scheduler(clock_);
  SniStatusBar bar(scheduler, events_, log_, options);
  auto item = bar.makeStatusItem(kVariableStatusItemLength);
  item->button().setToolTip("tip");
  item->setVisible(false);
  EXPECT_EQ(item->button().toolTip(), "tip");
  EXPECT_FALSE(bar.stateOf(*item)->connected);
  EXPECT_EQ(bar.stateOf(*item)->status, "Passive");
  EXPECT_EQ(log_.count("no session bus"), 1u);
  // Menus the program pops up itself close at once without a presenter.
  bool closed = false;
  item->button().popUpMenu(sampleMenu(), MenuHandlers{nullptr, [&] { closed = true; }});
  EXPECT_TRUE(waitUntil([&] { return closed; }));
  bar.removeStatusItem(item);
  EXPECT_TRUE(bar.items().empty());
}

}  // namespace
}  // namespace lumarin
