// Runs the real program with --desktop on a test desktop (Xvfb, a private bus, xfce4-panel as
// the tray host) with two monitored apps and a badge sender that stays connected, as a user's
// desktop would have them, and reads what the run leaves behind.

#include <gtest/gtest.h>

#include <QDBusConnectionInterface>
#include <QDBusVariant>
#include <QProcess>
#include <QProcessEnvironment>
#include <fstream>
#include <sstream>
#include <string>

#include "TrayDesktop.h"
#include "base/Json.h"
#include "model/MonitoredApp.h"
#include "support/TempDir.h"

namespace lumarin {
namespace {

// Announces badges the way apps do through the launcher library: nothing until someone owns
// com.canonical.Unity, then the full state; stays on the bus until it is ended.
constexpr const char* kSender = R"PY(
import sys
from gi.repository import Gio, GLib
bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
def announce(*_):
    for app, count in (("org.example.Chat.desktop", 3), ("org.example.Mail.desktop", 12)):
        bus.emit_signal(None, "/com/canonical/unity/launcherentry/1",
                        "com.canonical.Unity.LauncherEntry", "Update",
                        GLib.Variant("(sa{sv})", ("application://" + app,
                                     {"count": GLib.Variant("x", count),
                                      "count-visible": GLib.Variant("b", True)})))
    bus.flush_sync(None)
    print("announced", flush=True)
Gio.bus_watch_name_on_connection(bus, "com.canonical.Unity", Gio.BusNameWatcherFlags.NONE,
                                 announce, None)
print("ready", flush=True)
GLib.MainLoop().run()
)PY";

class DesktopRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string missing = test::TrayDesktop::missingPrograms(); !missing.empty()) {
      GTEST_SKIP() << missing;
    }
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

  // The titles of the registered tray items, as the tray host reads them.
  QString trayTitles() {
    QStringList titles;
    for (const QString& entry : desktop_.registeredItems()) {
      const auto slash = entry.indexOf('/');
      const QString service = slash < 0 ? entry : entry.left(slash);
      const QString path = slash < 0 ? QStringLiteral("/StatusNotifierItem") : entry.mid(slash);
      QDBusMessage get =
          QDBusMessage::createMethodCall(service, path, "org.freedesktop.DBus.Properties", "Get");
      get << QString("org.kde.StatusNotifierItem") << QString("Title");
      const QDBusMessage reply = desktop_.client().call(get, QDBus::Block, 5000);
      if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
        titles << reply.arguments()[0].value<QDBusVariant>().variant().toString();
      }
    }
    return titles.join('\n');
  }

  json::Json report(const std::string& name) const {
    std::ifstream in(home_ / name);
    std::stringstream text;
    text << in.rdbuf();
    return json::parse(text.str()).valueOr(json::Json());
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
  test::TempDir home_;
  QProcess sender_;
  std::string senderOutput_;
};

TEST_F(DesktopRunTest, ARunOfThreeSecondsReportsTheBadgesAndTheTrayItems) {
  startSender();
  QProcess lumarin;
  lumarin.setProcessEnvironment(environment());
  const std::string reportPath = (home_ / "run.json").string();
  lumarin.start(LUMARIN_EXECUTABLE, {"--desktop", "--run-for", "3", "--report",
                                     QString::fromStdString(reportPath), "--story"});
  ASSERT_TRUE(lumarin.waitForFinished(60000));
  const std::string errors = lumarin.readAllStandardError().toStdString();
  EXPECT_EQ(lumarin.exitStatus(), QProcess::NormalExit) << errors;
  EXPECT_EQ(lumarin.exitCode(), 0) << errors;
  expectDesktopReport(report("run.json"));
  const std::string story = lumarin.readAllStandardOutput().toStdString();
  EXPECT_NE(story.find("Chat's badge 3: its tray item shows 3"), std::string::npos) << story;
  // Ended: its items are gone from the tray.
  EXPECT_TRUE(test::waitUntil([this] { return desktop_.registeredItems().isEmpty(); }))
      << desktop_.registeredItems().join(",").toStdString();
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
  ASSERT_TRUE(test::waitUntil([this] { return senderSaid("announced"); }));
  // The sender having spoken is not yet the program having heard: the items show the badges.
  ASSERT_TRUE(test::waitUntil([this] {
    const QString titles = trayTitles();
    return titles.contains(QString::fromUtf8("Chat — 3")) &&
           titles.contains(QString::fromUtf8("Mail — 12"));
  })) << trayTitles().toStdString();
  lumarin.terminate();
  ASSERT_TRUE(lumarin.waitForFinished(30000));
  EXPECT_EQ(lumarin.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(lumarin.exitCode(), 0) << lumarin.readAllStandardError().toStdString();
  expectDesktopReport(report("ended.json"));
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

  QProcess simulatedOnly;
  simulatedOnly.setProcessEnvironment(environment());
  simulatedOnly.start(LUMARIN_EXECUTABLE, {"--desktop", "--virtual-time"});
  ASSERT_TRUE(simulatedOnly.waitForFinished(30000));
  EXPECT_EQ(simulatedOnly.exitCode(), 2);
  EXPECT_NE(simulatedOnly.readAllStandardError().indexOf("--virtual-time"), -1);
}

}  // namespace
}  // namespace lumarin
