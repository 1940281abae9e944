// Every app's tray items, read by the program on a test desktop with real tray clients nobody
// here wrote: an app on libayatana-appindicator (through python3-gi) and flameshot, a Qt 5
// tray app; with xfce4-panel as the tray host, and without a host, where the program is the
// watcher until the panel starts and takes it over.

#include <gtest/gtest.h>
#include <signal.h>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>

#include "TrayDesktop.h"
#include "platform/desktop/DBusTypes.h"
#include "platform/desktop/SniTrayHost.h"
#include "platform/host/HostClock.h"
#include "platform/host/HostScheduler.h"
#include "support/TempDir.h"

namespace lumarin {
namespace {

using test::waitUntil;

// A Qt 5 app takes its time to start on a loaded machine (and under the sanitizers).
constexpr int kAppStart = 90000;

// An item as Qt 5 apps make them: a well-known name `org.kde.StatusNotifierItem-<pid>-1`, the
// object at /StatusNotifierItem, registered once by that name, and never again when the watcher
// changes hands (written out here because a real Qt 5 app started under load may give up on the
// tray before the watcher answers it, and fall back to an old-style icon).
constexpr const char* kNameRegisteredItem = R"PY(
import os, sys
from gi.repository import Gio, GLib
XML = """<node><interface name="org.kde.StatusNotifierItem">
<property name="Id" type="s" access="read"/><property name="Title" type="s" access="read"/>
<property name="Status" type="s" access="read"/><property name="Category" type="s" access="read"/>
</interface></node>"""
bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
values = {"Id": sys.argv[1], "Title": sys.argv[2], "Status": "Active",
          "Category": "ApplicationStatus"}
def get(conn, sender, path, iface, name):
    return GLib.Variant("s", values[name])
bus.register_object("/StatusNotifierItem", Gio.DBusNodeInfo.new_for_xml(XML).interfaces[0],
                    None, get, None)
name = "org.kde.StatusNotifierItem-%d-1" % os.getpid()
Gio.bus_own_name_on_connection(bus, name, Gio.BusNameOwnerFlags.NONE, None, None)
def register():
    bus.call_sync("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                  "org.kde.StatusNotifierWatcher", "RegisterStatusNotifierItem",
                  GLib.Variant("(s)", (name,)), None, Gio.DBusCallFlags.NONE, 20000, None)
    print("ready", flush=True)
    return False
GLib.timeout_add(100, register)
GLib.MainLoop().run()
)PY";

// An item as no app should make one: a pixmap argv[2] pixels a side (4096: 64 MB), and a menu of
// 10,000 entries that says it changed every millisecond. Id argv[1]; registered by its unique
// name and path.
constexpr const char* kHostileItem = R"PY(
import sys
from gi.repository import Gio, GLib
ITEM = """<node><interface name="org.kde.StatusNotifierItem">
<property name="Id" type="s" access="read"/><property name="Title" type="s" access="read"/>
<property name="Status" type="s" access="read"/><property name="Category" type="s" access="read"/>
<property name="IconPixmap" type="a(iiay)" access="read"/><property name="Menu" type="o" access="read"/>
</interface></node>"""
MENU = """<node><interface name="com.canonical.dbusmenu">
<method name="GetLayout"><arg type="i" direction="in"/><arg type="i" direction="in"/>
<arg type="as" direction="in"/><arg type="u" direction="out"/><arg type="(ia{sv}av)" direction="out"/></method>
<method name="AboutToShow"><arg type="i" direction="in"/><arg type="b" direction="out"/></method>
<method name="Event"><arg type="i" direction="in"/><arg type="s" direction="in"/>
<arg type="v" direction="in"/><arg type="u" direction="in"/></method>
<signal name="LayoutUpdated"><arg type="u"/><arg type="i"/></signal></interface></node>"""
bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
SIDE = int(sys.argv[2])
# Built from the bytes at once (element by element it would take minutes).
pixels = GLib.Variant.new_from_bytes(GLib.VariantType("ay"), GLib.Bytes.new(bytes(SIDE * SIDE * 4)),
                                     True)
pixmap = GLib.Variant.new_array(GLib.VariantType("(iiay)"), [GLib.Variant.new_tuple(
    GLib.Variant("i", SIDE), GLib.Variant("i", SIDE), pixels)])
values = {"Id": sys.argv[1], "Title": sys.argv[1], "Status": "Active",
          "Category": "ApplicationStatus", "IconPixmap": pixmap,
          "Menu": GLib.Variant("o", "/Menu")}
def get_item(conn, sender, path, iface, name):
    value = values[name]
    return value if isinstance(value, GLib.Variant) else GLib.Variant("s", value)
children = [GLib.Variant("v", GLib.Variant("(ia{sv}av)", (i + 1, {"label": GLib.Variant("s", "Entry %d" % i)}, [])))
            for i in range(10000)]
layout = GLib.Variant("(u(ia{sv}av))", (1, (0, {}, [c.get_variant() for c in children])))
def call_menu(conn, sender, path, iface, method, params, invocation):
    if method == "GetLayout":
        invocation.return_value(layout)
    elif method == "AboutToShow":
        invocation.return_value(GLib.Variant("(b)", (False,)))
    else:
        invocation.return_value(None)
bus.register_object("/StatusNotifierItem", Gio.DBusNodeInfo.new_for_xml(ITEM).interfaces[0],
                    None, get_item, None)
bus.register_object("/Menu", Gio.DBusNodeInfo.new_for_xml(MENU).interfaces[0],
                    call_menu, None, None)
revision = [1]
def churn():
    revision[0] += 1
    bus.emit_signal(None, "/Menu", "com.canonical.dbusmenu", "LayoutUpdated",
                    GLib.Variant("(ui)", (revision[0], 0)))
    return True
bus.call_sync("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
              "org.kde.StatusNotifierWatcher", "RegisterStatusNotifierItem",
              GLib.Variant("(s)", ("/StatusNotifierItem",)), None, Gio.DBusCallFlags.NONE,
              20000, None)
GLib.timeout_add(1, churn)
print("ready", flush=True)
GLib.MainLoop().run()
)PY";

class SniTrayHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string missing = test::TrayDesktop::missingPrograms(); !missing.empty()) {
      GTEST_SKIP() << missing;
    }
    if (QProcess::execute("/usr/bin/python3",
                          {"-c",
                           "import gi; gi.require_version('AyatanaAppIndicator3', '0.1'); "
                           "gi.require_version('Gtk', '3.0')"}) != 0) {
      GTEST_SKIP() << "libayatana-appindicator for Python (gir1.2-ayatanaappindicator3-0.1) is "
                      "not installed";
    }
    dbus::registerTypes();
    std::string why;
    ASSERT_TRUE(desktop_.start(why)) << why;
    // The indicator's picture: a red square in its own theme folder.
    QImage red(22, 22, QImage::Format_ARGB32);
    red.fill(QColor(255, 0, 0));
    ASSERT_TRUE(
        red.save(QString::fromStdString((icons_.path() / "lumarin-test-icon.png").string())));
  }

  void TearDown() override {
    host_.reset();
    for (auto& process : processes_) {
      ::kill(static_cast<pid_t>(process->processId()), SIGCONT);
      process->kill();
      process->waitForFinished(5000);
    }
  }

  SniTrayHost& host() {
    if (!host_) {
      SniTrayHost::Options options;
      options.busAddress = desktop_.busAddress();
      host_ = std::make_unique<SniTrayHost>(scheduler_, log_, options);
      host_->start();
    }
    return *host_;
  }

  QProcess& startIndicator(const std::string& id, const std::string& title) {
    auto& process = *processes_.emplace_back(std::make_unique<QProcess>());
    process.setProcessEnvironment(desktop_.environment());
    process.start("/usr/bin/python3",
                  {"-c", test::kIndicatorScript, QString::fromStdString(id),
                   QString::fromStdString(icons_.path().string()), QString::fromStdString(title),
                   QString::fromStdString((icons_.path() / (id + ".clicked")).string())});
    EXPECT_TRUE(process.waitForStarted(10000));
    EXPECT_TRUE(waitUntil([&process] { return process.canReadLine(); }))
        << process.readAllStandardError().toStdString();
    return process;
  }

  QProcess& startNameRegisteredItem(const std::string& id, const std::string& title) {
    auto& process = *processes_.emplace_back(std::make_unique<QProcess>());
    process.setProcessEnvironment(desktop_.environment());
    process.start("/usr/bin/python3", {"-c", kNameRegisteredItem, QString::fromStdString(id),
                                       QString::fromStdString(title)});
    EXPECT_TRUE(process.waitForStarted(10000));
    return process;
  }

  QProcess* startFlameshot() {
    const QString program = QStandardPaths::findExecutable("flameshot");
    if (program.isEmpty()) {
      return nullptr;
    }
    auto& process = *processes_.emplace_back(std::make_unique<QProcess>());
    QProcessEnvironment env = desktop_.environment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    process.setProcessEnvironment(env);
    process.start(program, {});
    EXPECT_TRUE(process.waitForStarted(10000));
    return &process;
  }

  std::optional<TrayItem> itemWithId(const std::string& id) {
    for (const auto& item : *host().items()) {
      if (item.id == id) {
        return item;
      }
    }
    return std::nullopt;
  }

  std::optional<TrayItem> itemWhose(const std::function<bool(const TrayItem&)>& test) {
    for (const auto& item : *host().items()) {
      if (test(item)) {
        return item;
      }
    }
    return std::nullopt;
  }

  TrayItems::CallResult callAndWait(const std::function<void(TrayItems::Done)>& call) {
    std::optional<TrayItems::CallResult> result;
    call([&result](const TrayItems::CallResult& r) { result = r; });
    EXPECT_TRUE(waitUntil([&result] { return result.has_value(); }));
    return result.value_or(TrayItems::CallResult{});
  }

  test::TrayDesktop desktop_;
  test::TempDir icons_;
  HostClock clock_;
  HostScheduler scheduler_{clock_};
  test::RecordingSystemLog log_;
  std::unique_ptr<SniTrayHost> host_;
  std::vector<std::unique_ptr<QProcess>> processes_;
};

TEST_F(SniTrayHostTest, UnderATrayHostEveryItemIsListedWithItsPictureAndCallsReachTheApps) {
  std::string why;
  ASSERT_TRUE(desktop_.startPanel(why)) << why;
  QProcess& indicator = startIndicator("lumarin-test-chat", "Chat indicator");
  // Qt 5 apps look for a registered host once, at start, and otherwise fall back to an
  // old-style icon: the panel's host registers a moment after its watcher appears.
  ASSERT_TRUE(waitUntil([&] {
    return desktop_
        .property("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                  "org.kde.StatusNotifierWatcher", "IsStatusNotifierHostRegistered")
        .toBool();
  }));
  QProcess* flameshot = startFlameshot();
  EXPECT_FALSE(host().isWatcher());

  ASSERT_TRUE(waitUntil([&] { return itemWithId("lumarin-test-chat").has_value(); }))
      << log_.lines.size();
  const TrayItem chat = *itemWithId("lumarin-test-chat");
  EXPECT_EQ(chat.title, "Chat indicator");
  EXPECT_EQ(chat.category, "Communications");
  EXPECT_EQ(chat.status, "Active");
  EXPECT_FALSE(chat.menuPath.empty());
  // Its picture: the red square named by its icon name in its own theme folder.
  ASSERT_TRUE(chat.picture != nullptr);
  const Image::Pixel middle =
      chat.picture->pixel(chat.picture->pixelWidth / 2, chat.picture->pixelHeight / 2);
  EXPECT_EQ(middle, (Image::Pixel{255, 0, 0, 255}));
  // libayatana items are their menu: Activate is refused, SecondaryActivate works.
  const auto activated = callAndWait(
      [&](TrayItems::Done done) { host().activate(chat.key, 10, 10, std::move(done)); });
  EXPECT_FALSE(activated.ok);
  EXPECT_NE(activated.error.find("UnknownMethod"), std::string::npos) << activated.error;
  EXPECT_TRUE(callAndWait([&](TrayItems::Done done) {
                host().secondaryActivate(chat.key, 1, 1, std::move(done));
              }).ok);

  // Its menu, read without showing anything; choosing the entry runs it in the app.
  std::optional<Menu> menu;
  bool read = false;
  host().readMenu(chat.key, [&](std::optional<Menu> m) {
    menu = std::move(m);
    read = true;
  });
  ASSERT_TRUE(waitUntil([&] { return read; }));
  ASSERT_TRUE(menu.has_value());
  ASSERT_FALSE(menu->items.empty());
  EXPECT_EQ(menu->items[0].title, "Write the file");
  host().menuEvent(chat.key, menu->items[0], "clicked");
  const QString written =
      QString::fromStdString((icons_.path() / "lumarin-test-chat.clicked").string());
  EXPECT_TRUE(waitUntil([&] { return QFile::exists(written); }));
  // The app changes its menu: the item tells (its menu revision grows) and a new read has it.
  const auto before = chat.menuRevision;
  indicator.write("add Read me later\n");
  ASSERT_TRUE(waitUntil([&] {
    const auto now = itemWithId("lumarin-test-chat");
    return now && now->menuRevision > before;
  }));
  read = false;
  host().readMenu(chat.key, [&](std::optional<Menu> m) {
    menu = std::move(m);
    read = true;
  });
  ASSERT_TRUE(waitUntil([&] { return read; }));
  ASSERT_TRUE(menu.has_value());
  EXPECT_EQ(menu->items.back().title, "Read me later");

  if (flameshot != nullptr) {
    // A Qt tray icon: pixmaps of its own; ours is the one that fits a tile, pixel for pixel.
    std::optional<TrayItem> qt;
    const auto registered = [&] {
      qt = itemWhose([](const TrayItem& item) { return item.id == "flameshot"; });
      return qt.has_value();
    };
    // On a loaded machine a Qt 5 app may miss the tray at start and keep an old-style icon for
    // its whole life; started again, it finds it.
    if (!waitUntil(registered, kAppStart / 3)) {
      flameshot->kill();
      flameshot->waitForFinished(5000);
      flameshot = startFlameshot();
    }
    ASSERT_TRUE(waitUntil(registered, kAppStart))
        << flameshot->readAllStandardError().toStdString();
    ASSERT_TRUE(qt->picture != nullptr);
    const QVariant icon =
        desktop_.property(QString::fromStdString(qt->service), QString::fromStdString(qt->path),
                          "org.kde.StatusNotifierItem", "IconPixmap");
    ASSERT_TRUE(icon.isValid());
    const auto pixmaps = qdbus_cast<dbus::IconPixmapList>(icon.value<QDBusArgument>());
    bool same = false;
    for (const auto& pixmap : pixmaps) {
      if (pixmap.width != qt->picture->pixelWidth || pixmap.height != qt->picture->pixelHeight) {
        continue;
      }
      // Opaque pixels keep their colour exactly (ARGB → RGBA).
      same = true;
      for (int i = 0; i + 3 < pixmap.bytes.size() && same; i += 4) {
        if (static_cast<std::uint8_t>(pixmap.bytes[i]) != 255) {
          continue;
        }
        const auto at = static_cast<std::size_t>(i);
        same = qt->picture->rgba[at] == static_cast<std::uint8_t>(pixmap.bytes[i + 1]) &&
               qt->picture->rgba[at + 1] == static_cast<std::uint8_t>(pixmap.bytes[i + 2]) &&
               qt->picture->rgba[at + 2] == static_cast<std::uint8_t>(pixmap.bytes[i + 3]);
      }
    }
    EXPECT_TRUE(same);
    EXPECT_TRUE(callAndWait([&](TrayItems::Done done) {
                  host().activate(qt->key, 10, 10, std::move(done));
                }).ok);
  }

  // An app that quits takes its item along.
  processes_.front()->kill();
  EXPECT_TRUE(waitUntil([&] { return !itemWithId("lumarin-test-chat").has_value(); }));
}

TEST_F(SniTrayHostTest, WithoutAHostTheProgramIsTheWatcherAndHandsItOverToATrayThatStarts) {
  EXPECT_TRUE(host().isWatcher());
  EXPECT_TRUE(waitUntil([&] { return !desktop_.watcherOwner().isEmpty(); }));
  startIndicator("lumarin-test-mail", "Mail indicator");
  startNameRegisteredItem("lumarin-test-notes", "Notes item");
  ASSERT_TRUE(waitUntil([&] { return itemWithId("lumarin-test-mail").has_value(); }));
  ASSERT_TRUE(waitUntil([&] { return itemWithId("lumarin-test-notes").has_value(); }));
  // The apps registered with us, and we say so as a watcher does (asked without blocking: the
  // watcher answers from this very thread).
  QDBusMessage get =
      QDBusMessage::createMethodCall("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                                     "org.freedesktop.DBus.Properties", "Get");
  get << QString("org.kde.StatusNotifierWatcher") << QString("RegisteredStatusNotifierItems");
  QDBusPendingCall pending = desktop_.client().asyncCall(get, 5000);
  ASSERT_TRUE(waitUntil([&] { return pending.isFinished(); }));
  const QStringList listed =
      pending.reply().arguments().value(0).value<QDBusVariant>().variant().toStringList();
  EXPECT_EQ(listed.size(), 2) << pending.reply().errorMessage().toStdString();

  // The panel starts, queues for the name, reads it: it gets the name and both items, the one
  // that registers itself again and the one registered on its app's behalf.
  const QString ours = desktop_.watcherOwner();
  std::string why;
  ASSERT_TRUE(desktop_.startPanel(why)) << why;
  ASSERT_TRUE(waitUntil([&] {
    const QString owner = desktop_.watcherOwner();
    return !owner.isEmpty() && owner != ours;
  }));
  EXPECT_TRUE(waitUntil([&] { return !host().isWatcher(); }));
  EXPECT_TRUE(waitUntil([&] { return desktop_.registeredItems().size() == 2; }))
      << desktop_.registeredItems().join(' ').toStdString();
  // Still listed by the program, now as a host of the panel's watcher.
  EXPECT_TRUE(itemWithId("lumarin-test-mail").has_value());
  EXPECT_TRUE(itemWithId("lumarin-test-notes").has_value());
}

TEST_F(SniTrayHostTest, AnAppThatNeverAnswersHoldsNothingUpAndIsListedOnceItDoes) {
  std::string why;
  ASSERT_TRUE(desktop_.startPanel(why)) << why;
  QProcess& stuck = startIndicator("lumarin-test-stuck", "Stuck");
  ASSERT_TRUE(waitUntil([&] { return desktop_.registeredItems().size() == 1; }));
  ::kill(static_cast<pid_t>(stuck.processId()), SIGSTOP);
  startIndicator("lumarin-test-fine", "Fine");
  ASSERT_TRUE(waitUntil([&] { return desktop_.registeredItems().size() == 2; }));
  // The answering one is listed without waiting for the stopped one's timeout.
  ASSERT_TRUE(waitUntil([&] { return itemWithId("lumarin-test-fine").has_value(); }, 900));
  EXPECT_FALSE(itemWithId("lumarin-test-stuck").has_value());
  ::kill(static_cast<pid_t>(stuck.processId()), SIGCONT);
  EXPECT_TRUE(waitUntil([&] { return itemWithId("lumarin-test-stuck").has_value(); }));
}

TEST_F(SniTrayHostTest, AQtSixTrayIconIsListedWithItsOwnPixmapAndItsClicksAndMenuReachIt) {
  // No panel: the program is the watcher and says a host is there, as Qt asks at its start.
  (void)host();
  ASSERT_TRUE(waitUntil([this] { return desktop_.watcherPresent(); }));
  const QString menuFile = QString::fromStdString((icons_.path() / "qt.menu").string());
  const QString clickFile = QString::fromStdString((icons_.path() / "qt.click").string());
  auto& app = *processes_.emplace_back(std::make_unique<QProcess>());
  QProcessEnvironment env = desktop_.environment();
  env.insert("QT_QPA_PLATFORM", "xcb");
  app.setProcessEnvironment(env);
  app.start(QT_TRAY_ICON_APP, {menuFile, clickFile});
  ASSERT_TRUE(app.waitForStarted(10000));
  const auto blue = [](const TrayItem& item) {
    if (!item.picture || item.picture->pixelWidth == 0) {
      return false;
    }
    const auto middle =
        item.picture->pixel(item.picture->pixelWidth / 2, item.picture->pixelHeight / 2);
    return middle == Image::Pixel{0, 0, 255, 255};
  };
  std::optional<TrayItem> qt;
  ASSERT_TRUE(waitUntil([&] { return (qt = itemWhose(blue)).has_value(); }, kAppStart))
      << app.readAllStandardError().toStdString();
  // Its own pixmap, as Qt exported it, at the size that fits a tile.
  EXPECT_EQ(qt->picture->pixelWidth, qt->picture->pixelHeight);
  EXPECT_FALSE(qt->title.empty());
  ASSERT_FALSE(qt->menuPath.empty());
  // A left click reaches it as a Trigger.
  EXPECT_TRUE(callAndWait([&](TrayItems::Done done) {
                host().activate(qt->key, 5, 5, std::move(done));
              }).ok);
  EXPECT_TRUE(waitUntil([&] { return QFile::exists(clickFile); }));
  // Its menu, read through Qt's own export; its entry runs in the app.
  std::optional<Menu> menu;
  bool read = false;
  host().readMenu(qt->key, [&](std::optional<Menu> m) {
    menu = std::move(m);
    read = true;
  });
  ASSERT_TRUE(waitUntil([&] { return read; }));
  ASSERT_TRUE(menu.has_value());
  const auto entry = std::find_if(menu->items.begin(), menu->items.end(),
                                  [](const MenuItem& e) { return e.title == "Write the Qt file"; });
  ASSERT_NE(entry, menu->items.end());
  host().menuEvent(qt->key, *entry, "clicked");
  EXPECT_TRUE(waitUntil([&] { return QFile::exists(menuFile); }));
}

TEST_F(SniTrayHostTest, HostileItemsHoldNothingUpAndTheirMenusStayBounded) {
  (void)host();
  ASSERT_TRUE(waitUntil([this] { return desktop_.watcherPresent(); }));
  const auto start = [this](const char* id, const char* side) -> QProcess& {
    auto& process = *processes_.emplace_back(std::make_unique<QProcess>());
    process.setProcessEnvironment(desktop_.environment());
    process.start("/usr/bin/python3", {"-c", kHostileItem, id, side});
    EXPECT_TRUE(process.waitForStarted(10000));
    EXPECT_TRUE(waitUntil([&process] { return process.canReadLine(); }))
        << process.readAllStandardError().toStdString();
    return process;
  };
  // A 64 MB pixmap cannot pass in time: that item is not listed (or only without a picture),
  // and the host goes on with the others.
  start("lumarin-test-huge", "4096");
  // A menu that says it changed every millisecond, 10,000 entries long.
  start("lumarin-test-churn", "22");
  std::optional<TrayItem> churn;
  ASSERT_TRUE(waitUntil([&] { return (churn = itemWithId("lumarin-test-churn")).has_value(); }));
  const auto before = churn->menuRevision;
  ASSERT_TRUE(waitUntil([&] {
    const auto now = itemWithId("lumarin-test-churn");
    return now && now->menuRevision > before + 10;
  }));
  startIndicator("lumarin-test-calm", "Calm");
  EXPECT_TRUE(waitUntil([&] { return itemWithId("lumarin-test-calm").has_value(); }));
  if (const auto huge = itemWithId("lumarin-test-huge")) {
    EXPECT_EQ(huge->picture, nullptr);
  }
  // Its 10,000 entries are read down to the limit.
  std::optional<Menu> menu;
  bool read = false;
  host().readMenu(churn->key, [&](std::optional<Menu> m) {
    menu = std::move(m);
    read = true;
  });
  ASSERT_TRUE(waitUntil([&] { return read; }));
  ASSERT_TRUE(menu.has_value());
  EXPECT_EQ(menu->items.size(), 2000u);
  EXPECT_EQ(menu->items.front().title, "Entry 0");
}

}  // namespace
}  // namespace lumarin
