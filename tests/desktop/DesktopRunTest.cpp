// Runs the real program with --desktop on a test desktop (Xvfb, a private bus, xfce4-panel as
// the tray host) with two monitored apps and a badge sender that stays connected, as a user's
// desktop would have them, and reads what the run leaves behind.

#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <fstream>
#include <sstream>
#include <string>

#include "TrayDesktop.h"
#include "base/Json.h"
#include "model/MonitoredApp.h"
#include "platform/desktop/DBusTypes.h"
#include "platform/desktop/X11HotKeys.h"
#include "platform/host/HostClock.h"
#include "platform/host/HostScheduler.h"
#include "support/TempDir.h"

namespace lumarin {
namespace {

// Announces badges through the launcher library apps link (libunity, through GObject
// introspection): it says nothing until someone owns com.canonical.Unity, then sends the full
// state, and afterwards only what changed. Lines on its input change a count ("count APP N")
// or hide it ("hide APP"); it stays on the bus until it is ended.
constexpr const char* kSender = R"PY(
import sys
import gi
gi.require_version("Unity", "7.0")
from gi.repository import GLib, Unity
entries = {}
def entry(app):
    if app not in entries:
        entries[app] = Unity.LauncherEntry.get_for_desktop_id(app)
    return entries[app]
for app, count in (("org.example.Chat.desktop", 3), ("org.example.Mail.desktop", 12)):
    entry(app).set_property("count", count)
    entry(app).set_property("count_visible", True)
def command(channel, condition):
    line = channel.readline()
    if not line:
        return False
    words = line.split()
    if words[0] == "count":
        entry(words[1]).set_property("count", int(words[2]))
        entry(words[1]).set_property("count_visible", True)
    elif words[0] == "hide":
        entry(words[1]).set_property("count_visible", False)
    print("done " + line.strip(), flush=True)
    return True
GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.IO_IN | GLib.IO_HUP, command)
print("ready", flush=True)
GLib.MainLoop().run()
)PY";

class DesktopRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string missing = test::TrayDesktop::missingPrograms(); !missing.empty()) {
      GTEST_SKIP() << missing;
    }
    if (QProcess::execute("/usr/bin/python3",
                          {"-c", "import gi; gi.require_version('Unity', '7.0')"}) != 0) {
      GTEST_SKIP() << "the launcher library for Python (gir1.2-unity-7.0) is not installed";
    }
    dbus::registerTypes();
    std::string why;
    ASSERT_TRUE(desktop_.start(why)) << why;
    ASSERT_TRUE(desktop_.startPanel(why)) << why;
    const auto config = home_ / "config" / "com.kestova.Lumarin";
    std::filesystem::create_directories(config);
    std::vector<MonitoredApp> apps;
    for (const auto& [id, name] : {std::pair{"org.example.Chat.desktop", "Chat"},
                                   std::pair{"org.example.Mail.desktop", "Mail"}}) {
      MonitoredApp app;
      app.id = Uuid::random();
      app.bundleID = id;
      app.name = name;
      apps.push_back(app);
      writeEntry(id, name);
    }
    const std::string encoded = encodeMonitoredApps(apps);
    const QByteArray data = QByteArray::fromStdString(encoded).toBase64();
    std::ofstream(config / "defaults.json")
        << R"({"onboardingCompleted": true, "monitoredApps": {"$data": ")" << data.toStdString()
        << R"("}})";
  }

  void TearDown() override {
    if (sender_.state() != QProcess::NotRunning) {
      sender_.kill();
      sender_.waitForFinished(5000);
    }
  }

  void writeEntry(const std::string& id, const std::string& name) {
    const auto dir = home_ / "data" / "applications";
    std::filesystem::create_directories(dir);
    std::ofstream(dir / id) << "[Desktop Entry]\nType=Application\nName=" << name
                            << "\nExec=/bin/true\nIcon=mail-unread\n";
  }

  QProcessEnvironment environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", desktop_.display());
    env.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromStdString(desktop_.busAddress()));
    env.insert("XDG_CONFIG_HOME", QString::fromStdString((home_ / "config").string()));
    env.insert("XDG_DATA_HOME", QString::fromStdString((home_ / "data").string()));
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(home_.path().string()));
    env.insert("TMPDIR", QString::fromStdString(home_.path().string()));
    env.insert("NO_AT_BRIDGE", "1");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    return env;
  }

  // The sender, connected and waiting for someone to own com.canonical.Unity.
  void startSender() {
    sender_.setProcessEnvironment(environment());
    sender_.start("/usr/bin/python3", {"-c", kSender});
    ASSERT_TRUE(sender_.waitForStarted(10000));
    ASSERT_TRUE(test::waitUntil([this] { return senderSaid("ready"); }, 20000))
        << sender_.readAllStandardError().toStdString();
  }

  bool senderSaid(const char* word) {
    senderOutput_ += sender_.readAllStandardOutput().toStdString();
    return senderOutput_.find(word) != std::string::npos;
  }

  // A property of a registered tray item ("service/path" as the watcher lists it), as the tray
  // host reads it.
  QVariant itemProperty(const QString& entry, const char* name,
                        const char* interface = "org.kde.StatusNotifierItem",
                        const QString& objectPath = {}) {
    const auto slash = entry.indexOf('/');
    const QString service = slash < 0 ? entry : entry.left(slash);
    const QString path = !objectPath.isEmpty() ? objectPath
                         : slash < 0           ? QStringLiteral("/StatusNotifierItem")
                                               : entry.mid(slash);
    return desktop_.property(service, path, interface, name);
  }

  // The titles of the registered tray items.
  QString trayTitles() {
    QStringList titles;
    for (const QString& entry : desktop_.registeredItems()) {
      titles << itemProperty(entry, "Title").toString();
    }
    return titles.join('\n');
  }

  // The registered item whose title starts with `title`, or an empty string.
  QString itemTitled(const QString& title) {
    for (const QString& entry : desktop_.registeredItems()) {
      if (itemProperty(entry, "Title").toString().startsWith(title)) {
        return entry;
      }
    }
    return {};
  }

  void tellSender(const std::string& line) {
    sender_.write(QByteArray::fromStdString(line + "\n"));
    ASSERT_TRUE(test::waitUntil([&] { return senderSaid(("done " + line).c_str()); }));
  }

  json::Json report(const std::string& name) const {
    std::ifstream in(home_ / name);
    std::stringstream text;
    text << in.rdbuf();
    return json::parse(text.str()).valueOr(json::Json());
  }

  // The report's registration of the shortcut on this key (virtual key code); empty when none.
  static json::Json registration(const json::Json& report, int keyCode) {
    for (const auto& entry : report["hotKeys"]["registrations"]) {
      if (entry.value("keyCode", -1) == keyCode) {
        return entry;
      }
    }
    return json::Json::object();
  }

  // The badge the report holds for an app at the end, with its sender.
  static std::pair<std::string, std::string> lastBadge(const json::Json& report,
                                                       const std::string& app) {
    const auto& entries = report["badges"][app];
    if (!entries.is_array() || entries.empty()) {
      return {};
    }
    const auto& last = entries.back();
    return {last.value("label", json::Json()).is_string() ? last["label"].get<std::string>() : "",
            last.value("sender", std::string())};
  }

  static void expectDesktopReport(const json::Json& report) {
    ASSERT_TRUE(report.is_object());
    EXPECT_EQ(report.value("platform", std::string()), "desktop");
    for (const char* key : {"duration", "applications", "badges", "statusItems", "activations",
                            "menus", "windows", "diagnostics", "openedURLs", "hotKeys"}) {
      EXPECT_TRUE(report.contains(key)) << key;
    }
    for (const char* key : {"dock", "accessibility", "timeline", "scenario"}) {
      EXPECT_FALSE(report.contains(key)) << key;
    }
    const auto [chat, chatSender] = lastBadge(report, "org.example.Chat.desktop");
    EXPECT_EQ(chat, "3") << report.dump();
    EXPECT_FALSE(chatSender.empty());
    EXPECT_EQ(lastBadge(report, "org.example.Mail.desktop").first, "12");
    // The own item and one per app, each registered under its bus name and object.
    ASSERT_EQ(report["statusItems"].size(), 3u) << report["statusItems"].dump();
    for (const auto& item : report["statusItems"]) {
      EXPECT_FALSE(item.value("service", std::string()).empty()) << item.dump();
      EXPECT_FALSE(item.value("path", std::string()).empty()) << item.dump();
      EXPECT_EQ(item.value("status", std::string()), "Active") << item.dump();
    }
  }

  test::TrayDesktop desktop_;
  HostClock clock_;
  HostScheduler scheduler_{clock_};
  test::TempDir home_;
  QProcess sender_;
  std::string senderOutput_;
};

TEST_F(DesktopRunTest, ARunOfThreeSecondsReportsTheBadgesAndTheTrayItems) {
  startSender();
  QProcess lumarin;
  lumarin.setProcessEnvironment(environment());
  const std::string reportPath = (home_ / "run.json").string();
  const auto pictures = home_ / "pictures";
  lumarin.start(LUMARIN_EXECUTABLE,
                {"--desktop", "--run-for", "3", "--report", QString::fromStdString(reportPath),
                 "--snapshot", QString::fromStdString(pictures.string()), "--story"});
  ASSERT_TRUE(lumarin.waitForFinished(60000));
  const std::string errors = lumarin.readAllStandardError().toStdString();
  EXPECT_EQ(lumarin.exitStatus(), QProcess::NormalExit) << errors;
  EXPECT_EQ(lumarin.exitCode(), 0) << errors;
  const auto run = report("run.json");
  expectDesktopReport(run);
  const std::string story = lumarin.readAllStandardOutput().toStdString();
  EXPECT_NE(story.find("Chat's badge 3: its tray item shows 3"), std::string::npos) << story;
  // The pictures: each app's item by desktop file ID, and each tray item the report names.
  for (const char* app : {"org.example.Chat.desktop", "org.example.Mail.desktop"}) {
    EXPECT_FALSE(
        QImage(QString::fromStdString((pictures / "apps" / (std::string(app) + ".png")).string()))
            .isNull())
        << app;
  }
  for (const auto& item : run["statusItems"]) {
    const std::string picture = item.value("picture", std::string());
    ASSERT_FALSE(picture.empty()) << item.dump();
    EXPECT_FALSE(QImage(QString::fromStdString((pictures / picture).string())).isNull()) << picture;
  }
  // Ended: its items are gone from the tray and the launcher name is free again.
  EXPECT_TRUE(test::waitUntil([this] { return desktop_.registeredItems().isEmpty(); }))
      << desktop_.registeredItems().join(",").toStdString();
  EXPECT_FALSE(desktop_.client().interface()->isServiceRegistered("com.canonical.Unity").value());
}

TEST_F(DesktopRunTest, SigtermEndsTheRunLikeQuitWithTheSameReport) {
  startSender();
  QProcess lumarin;
  lumarin.setProcessEnvironment(environment());
  lumarin.start(LUMARIN_EXECUTABLE,
                {"--desktop", "--report", QString::fromStdString((home_ / "ended.json").string())});
  ASSERT_TRUE(lumarin.waitForStarted(10000));
  // Up and told of the badges: its three items are in the tray and the sender has spoken.
  ASSERT_TRUE(test::waitUntil([this] { return desktop_.registeredItems().size() >= 3; }))
      << lumarin.readAllStandardError().toStdString();
  // The sender having spoken is not yet the program having heard: the items show the badges.
  ASSERT_TRUE(test::waitUntil([this] {
    const QString titles = trayTitles();
    return titles.contains(QString::fromUtf8("Chat — 3")) &&
           titles.contains(QString::fromUtf8("Mail — 12"));
  })) << trayTitles().toStdString();
  // The settings' shortcut, pressed on the keyboard, opens the settings.
  QProcess xdotool;
  xdotool.setProcessEnvironment(environment());
  xdotool.start("xdotool", {"key", "ctrl+alt+super+comma"});
  ASSERT_TRUE(xdotool.waitForFinished(10000));
  // Quit once its window is up (the program shows no other window of its own).
  QProcess search;
  search.setProcessEnvironment(environment());
  search.start("xdotool", {"search", "--sync", "--onlyvisible", "--classname", "lumarin"});
  ASSERT_TRUE(search.waitForFinished(30000));
  lumarin.terminate();
  ASSERT_TRUE(lumarin.waitForFinished(30000));
  EXPECT_EQ(lumarin.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(lumarin.exitCode(), 0) << lumarin.readAllStandardError().toStdString();
  const auto ended = report("ended.json");
  expectDesktopReport(ended);
  // The HUD's shortcut (M) and the settings' (comma), both taken.
  const auto& registrations = ended["hotKeys"]["registrations"];
  ASSERT_EQ(registrations.size(), 2u) << ended["hotKeys"].dump();
  const auto settings = registration(ended, 43);
  EXPECT_EQ(settings.value("status", -1), 0);
  EXPECT_EQ(registration(ended, 46).value("status", -1), 0);
  const auto& presses = ended["hotKeys"]["presses"];
  ASSERT_EQ(presses.size(), 1u) << ended["hotKeys"].dump();
  EXPECT_EQ(presses[0]["reached"], std::to_string(settings.value("id", -1)));
  EXPECT_EQ(ended["windows"][0].value("window", std::string()), "settings")
      << ended["windows"].dump();
}

TEST_F(DesktopRunTest, AShortcutAnotherClientHoldsIsReportedTaken) {
  X11HotKeys other(scheduler_, desktop_.display().toStdString());
  HotKeys::Handle held = 0;
  ASSERT_EQ(other.registerHotKey(43, 0x1000 | 0x800 | 0x100, HotKeyID{1, 1}, held), 0);
  QProcess lumarin;
  lumarin.setProcessEnvironment(environment());
  lumarin.start(LUMARIN_EXECUTABLE, {"--desktop", "--run-for", "2", "--report",
                                     QString::fromStdString((home_ / "taken.json").string())});
  ASSERT_TRUE(lumarin.waitForFinished(60000));
  EXPECT_EQ(lumarin.exitCode(), 0) << lumarin.readAllStandardError().toStdString();
  const auto taken = report("taken.json");
  const auto settings = registration(taken, 43);
  EXPECT_EQ(settings.value("status", 0), HotKeys::kHotKeyExistsErr) << taken.dump();
  EXPECT_EQ(settings.value("active", true), false);
  EXPECT_EQ(registration(taken, 46).value("status", -1), 0) << taken.dump();
}

// The entry titled `label` anywhere in a dbusmenu layout, or -1.
int entryLabelled(const dbus::MenuLayoutItem& item, const QString& label) {
  if (item.properties.value("label").toString() == label) {
    return item.id;
  }
  for (const auto& child : item.children) {
    if (const int id = entryLabelled(child, label); id >= 0) {
      return id;
    }
  }
  return -1;
}

TEST_F(DesktopRunTest, HideWhenIdleChosenInTheTrayMenuHidesTheItemOnceItsBadgeGoes) {
  startSender();
  QProcess lumarin;
  lumarin.setProcessEnvironment(environment());
  lumarin.start(LUMARIN_EXECUTABLE,
                {"--desktop", "--report", QString::fromStdString((home_ / "hide.json").string())});
  ASSERT_TRUE(lumarin.waitForStarted(10000));
  QString chat;
  ASSERT_TRUE(test::waitUntil([&] {
    chat = itemTitled(QString::fromUtf8("Chat — 3"));
    return !chat.isEmpty();
  })) << trayTitles().toStdString()
      << lumarin.readAllStandardError().toStdString();

  // A partial update from the library (only the count) reaches the same item.
  tellSender("count org.example.Chat.desktop 5");
  ASSERT_TRUE(test::waitUntil([&] {
    return itemProperty(chat, "Title").toString().startsWith(QString::fromUtf8("Chat — 5"));
  })) << trayTitles().toStdString();

  // "Hide when idle", chosen through the item's exported menu as a tray host sends it.
  const QString service = chat.left(chat.indexOf('/'));
  const QString menuPath = itemProperty(chat, "Menu").value<QDBusObjectPath>().path();
  ASSERT_FALSE(menuPath.isEmpty());
  QDBusMessage getLayout =
      QDBusMessage::createMethodCall(service, menuPath, "com.canonical.dbusmenu", "GetLayout");
  getLayout << 0 << -1 << QStringList{};
  const QDBusMessage layoutReply = desktop_.client().call(getLayout, QDBus::Block, 5000);
  ASSERT_EQ(layoutReply.arguments().size(), 2) << layoutReply.errorMessage().toStdString();
  const auto layout = qdbus_cast<dbus::MenuLayoutItem>(layoutReply.arguments()[1]);
  const int hide = entryLabelled(layout, "Hide when idle");
  ASSERT_GE(hide, 0);
  QDBusMessage event =
      QDBusMessage::createMethodCall(service, menuPath, "com.canonical.dbusmenu", "Event");
  event << hide << QString("clicked") << QVariant::fromValue(QDBusVariant(0)) << 0u;
  EXPECT_EQ(desktop_.client().call(event, QDBus::Block, 5000).type(), QDBusMessage::ReplyMessage);
  // Still shown while the badge is there; gone to the host's hidden items when it goes, listed
  // there under the app's name.
  EXPECT_EQ(itemProperty(chat, "Status").toString(), "Active");
  tellSender("hide org.example.Chat.desktop");
  ASSERT_TRUE(
      test::waitUntil([&] { return itemProperty(chat, "Status").toString() == "Passive"; }));
  EXPECT_EQ(itemProperty(chat, "Title").toString(), "Chat");
  EXPECT_EQ(itemProperty(itemTitled(QString::fromUtf8("Mail — 12")), "Status").toString(),
            "Active");

  lumarin.terminate();
  ASSERT_TRUE(lumarin.waitForFinished(30000));
  EXPECT_EQ(lumarin.exitCode(), 0) << lumarin.readAllStandardError().toStdString();
  // The choice is the stored setting.
  std::ifstream in(home_ / "config" / "com.kestova.Lumarin" / "defaults.json");
  std::stringstream text;
  text << in.rdbuf();
  const auto defaults = json::parse(text.str()).valueOr(json::Json());
  ASSERT_TRUE(defaults.contains("monitoredApps")) << text.str();
  const auto decoded = decodeMonitoredApps(
      QByteArray::fromBase64(
          QByteArray::fromStdString(defaults["monitoredApps"].value("$data", std::string())))
          .toStdString());
  ASSERT_TRUE(decoded) << text.str();
  for (const auto& app : *decoded) {
    EXPECT_EQ(app.visibility, app.name == "Chat" ? IconVisibility::hide : IconVisibility::always)
        << app.name;
  }
  const auto report = this->report("hide.json");
  bool passive = false;
  for (const auto& item : report["statusItems"]) {
    passive = passive || (item.value("autosaveName", std::string()).find("org.example.Chat") !=
                              std::string::npos &&
                          item.value("status", std::string()) == "Passive");
  }
  EXPECT_TRUE(passive) << report["statusItems"].dump();
}

// xdotool with arguments on the test desktop; its output, empty when it failed.
std::string xdotool(const QProcessEnvironment& env, const QStringList& arguments,
                    int timeoutMs = 30000) {
  QProcess process;
  process.setProcessEnvironment(env);
  process.start("xdotool", arguments);
  if (!process.waitForFinished(timeoutMs) || process.exitCode() != 0) {
    process.kill();
    process.waitForFinished(5000);
    return {};
  }
  return process.readAllStandardOutput().toStdString();
}

// Presses the HUD's shortcut until the panel is up; pressed again only when it has not come up
// a while after a press (the program may not have taken the key yet): a second press while it
// is up would close it.
bool openHUDWithTheHotKey(const QProcessEnvironment& env) {
  QElapsedTimer sincePress;
  return test::waitUntil(
      [&env, &sincePress] {
        if (!xdotool(env, {"search", "--onlyvisible", "--name", "Menu Bar HUD"}).empty()) {
          return true;
        }
        if (!sincePress.isValid() || sincePress.hasExpired(5000)) {
          (void)xdotool(env, {"key", "ctrl+alt+super+m"});
          sincePress.start();
        }
        return false;
      },
      60000);
}

TEST_F(DesktopRunTest,
       TheHotKeyOpensTheHUDOfEveryTrayItemWhoseMenuEntriesRunInTheAppFromOurMenuOrTheFilter) {
  if (QProcess::execute("/usr/bin/python3",
                        {"-c",
                         "import gi; gi.require_version('AyatanaAppIndicator3', '0.1'); "
                         "gi.require_version('Gtk', '3.0')"}) != 0) {
    GTEST_SKIP() << "libayatana-appindicator for Python is not installed";
  }
  QImage red(22, 22, QImage::Format_ARGB32);
  red.fill(QColor(255, 0, 0));
  ASSERT_TRUE(red.save(QString::fromStdString((home_ / "lumarin-test-icon.png").string())));
  const auto clicked = home_ / "notes.clicked";
  QProcess indicator;
  indicator.setProcessEnvironment(environment());
  indicator.start("/usr/bin/python3",
                  {"-c", test::kIndicatorScript, "lumarin-test-notes",
                   QString::fromStdString(home_.path().string()), "Notes indicator",
                   QString::fromStdString(clicked.string())});
  ASSERT_TRUE(indicator.waitForStarted(10000));
  ASSERT_TRUE(test::waitUntil([&indicator] { return indicator.canReadLine(); }))
      << indicator.readAllStandardError().toStdString();

  QProcess lumarin;
  lumarin.setProcessEnvironment(environment());
  const auto pictures = home_ / "hud-pictures";
  lumarin.start(LUMARIN_EXECUTABLE,
                {"--desktop", "--report", QString::fromStdString((home_ / "hud.json").string()),
                 "--snapshot", QString::fromStdString(pictures.string())});
  ASSERT_TRUE(lumarin.waitForStarted(10000));
  // Up: its own item is in the tray beside the indicator.
  ASSERT_TRUE(test::waitUntil([this] { return desktop_.registeredItems().size() >= 2; }))
      << lumarin.readAllStandardError().toStdString();

  // The HUD's shortcut opens the panel, which takes the keyboard: typing filters the tiles to
  // the indicator's, and Return clicks it. Its app has nothing to activate, so its menu shows,
  // drawn by the program; the entry chosen there runs in the app.
  const QProcessEnvironment env = environment();
  ASSERT_TRUE(openHUDWithTheHotKey(env)) << lumarin.readAllStandardError().toStdString();
  (void)xdotool(env, {"type", "--delay", "50", "notes"});
  (void)xdotool(env, {"key", "Return"});
  // The panel closes and the menu comes up, the program's only window then.
  ASSERT_TRUE(test::waitUntil([&env] {
    return xdotool(env, {"search", "--onlyvisible", "--name", "Menu Bar HUD"}).empty() &&
           !xdotool(env, {"search", "--onlyvisible", "--classname", "lumarin"}).empty();
  })) << lumarin.readAllStandardError().toStdString();
  (void)xdotool(env, {"key", "Down", "Return"});
  ASSERT_TRUE(test::waitUntil([&clicked] { return std::filesystem::exists(clicked); }))
      << lumarin.readAllStandardError().toStdString();

  // The entry is found from the keyboard too, without its menu: the HUD lists the menu's
  // entries that match, and Return on one runs it in the app.
  std::filesystem::remove(clicked);
  ASSERT_TRUE(openHUDWithTheHotKey(env));
  (void)xdotool(env, {"type", "--delay", "50", "write"});
  (void)xdotool(env, {"key", "Return"});
  ASSERT_TRUE(test::waitUntil([&clicked] { return std::filesystem::exists(clicked); }))
      << lumarin.readAllStandardError().toStdString();

  lumarin.terminate();
  ASSERT_TRUE(lumarin.waitForFinished(30000));
  EXPECT_EQ(lumarin.exitCode(), 0) << lumarin.readAllStandardError().toStdString();
  indicator.kill();
  indicator.waitForFinished(5000);
  const auto run = report("hud.json");
  // Both shortcuts are the desktop's own: the HUD's and the settings'.
  ASSERT_EQ(run["hotKeys"]["registrations"].size(), 2u) << run["hotKeys"].dump();
  // Every tray item was a tile, the indicator with its title and picture.
  ASSERT_FALSE(run["mirror"].empty()) << run.dump();
  bool notes = false;
  for (const auto& tile : run["mirror"].back()["tiles"]) {
    notes = notes || (tile["title"] == "Notes indicator" && tile["kind"] == "tray" &&
                      tile["picture"] != "none");
  }
  EXPECT_TRUE(notes) << run["mirror"].back().dump();
  // Opened by the shortcut; the keys filtered to one tile and Return reached it.
  ASSERT_FALSE(run["hud"]["shows"].empty()) << run["hud"].dump();
  EXPECT_EQ(run["hud"]["shows"][0]["trigger"], "hotkey") << run["hud"].dump();
  const auto& keys = run["hud"]["keys"];
  ASSERT_FALSE(keys.empty()) << run["hud"].dump();
  bool reachedTile = false;
  for (const auto& key : keys) {
    reachedTile = reachedTile || key.value("reachedTitle", std::string()) == "Notes indicator";
  }
  EXPECT_TRUE(reachedTile) << keys.dump();
  // The click went to the item's menu, drawn by the program, and its entry was chosen there;
  // then the entry itself was reached from the keyboard.
  ASSERT_EQ(run["forwardedClicks"].size(), 2u) << run["forwardedClicks"].dump();
  EXPECT_EQ(run["forwardedClicks"][1]["path"], "menu-entry");
  EXPECT_EQ(keys.back()["reachedTitle"], "Notes indicator › Write the file") << keys.dump();
  const std::string path = run["forwardedClicks"][0]["path"];
  EXPECT_TRUE(path == "menu" || path == "activate-menu") << path;
  EXPECT_EQ(run["forwardedClicks"][0]["ok"], true);
  bool chose = false;
  for (const auto& menu : run["menus"]) {
    chose = chose || (menu["item"] == "Notes indicator" && menu["chose"] == "Write the file");
  }
  EXPECT_TRUE(chose) << run["menus"].dump();
  EXPECT_FALSE(QImage(QString::fromStdString((pictures / "hud.png").string())).isNull());
}

TEST_F(DesktopRunTest, WithoutADisplayOrABusItSaysWhichAndExits1) {
  QProcess noDisplay;
  QProcessEnvironment env = environment();
  env.remove("DISPLAY");
  noDisplay.setProcessEnvironment(env);
  noDisplay.start(LUMARIN_EXECUTABLE, {"--desktop"});
  ASSERT_TRUE(noDisplay.waitForFinished(30000));
  EXPECT_EQ(noDisplay.exitCode(), 1);
  EXPECT_NE(noDisplay.readAllStandardError().indexOf("display"), -1);

  QProcess noBus;
  env = environment();
  env.remove("DBUS_SESSION_BUS_ADDRESS");
  noBus.setProcessEnvironment(env);
  noBus.start(LUMARIN_EXECUTABLE, {"--desktop"});
  ASSERT_TRUE(noBus.waitForFinished(30000));
  EXPECT_EQ(noBus.exitCode(), 1);
  EXPECT_NE(noBus.readAllStandardError().indexOf("session bus"), -1);

  // What only the simulated Mac has: the usage, with why, and 2.
  for (const QStringList& given : {QStringList{"--virtual-time"}, QStringList{"--headless"},
                                   QStringList{"--scenario", "x.json"}}) {
    QProcess simulatedOnly;
    simulatedOnly.setProcessEnvironment(environment());
    simulatedOnly.start(LUMARIN_EXECUTABLE, QStringList{"--desktop"} + given);
    ASSERT_TRUE(simulatedOnly.waitForFinished(30000));
    EXPECT_EQ(simulatedOnly.exitCode(), 2) << given.join(' ').toStdString();
    const QByteArray said = simulatedOnly.readAllStandardError();
    EXPECT_NE(said.indexOf(given.front().toUtf8()), -1) << said.toStdString();
    EXPECT_NE(said.indexOf("usage: lumarin"), -1) << said.toStdString();
  }
}

}  // namespace
}  // namespace lumarin
