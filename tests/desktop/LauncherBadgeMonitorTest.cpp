// The launcher protocol's badge source: merging what senders say, in virtual time, and the
// real session bus side against a private bus with real senders (gdbus, and a sender written
// with GLib as apps are, that waits for someone to own com.canonical.Unity).

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include "desktop/LauncherBadgeMonitor.h"
#include "platform/Workspace.h"
#include "platform/sim/ManualScheduler.h"

namespace lumarin {
namespace {

class FakeWorkspace final : public Workspace {
 public:
  std::vector<RunningApplication> running;
  std::vector<RunningApplication> runningApplications() const override { return running; }
  std::optional<std::string> urlForApplication(const std::string& id) const override {
    return "file:///apps/" + id;
  }
  std::optional<BundleDescription> bundleAtURL(const std::string& url) const override {
    if (url == "file:///apps/org.example.Chat.desktop") {
      return BundleDescription{"org.example.Chat.desktop", "Chat", {}};
    }
    return std::nullopt;
  }
  Image iconForFile(const std::string&) const override { return {}; }
  bool openApplication(const std::string&) override { return false; }
  bool activate(int) override { return false; }
  bool openURL(const std::string&) override { return false; }
  bool accessibilityDisplayShouldReduceMotion() const override { return false; }
  Subscription observeLaunches(std::function<void(const RunningApplication&)>) override {
    return {};
  }
  Subscription observeTerminations(std::function<void(const RunningApplication&)>) override {
    return {};
  }
};

LauncherProperties counted(std::int64_t count, bool visible = true) {
  return {{"count", count}, {"count-visible", visible}};
}

class LauncherBadgeMonitorTest : public ::testing::Test {
 protected:
  std::shared_ptr<LauncherBadgeMonitor> make(bool bus = false, std::string address = {}) {
    auto monitor = std::make_shared<LauncherBadgeMonitor>(LauncherBadgeMonitor::Dependencies{
        scheduler_,
        workspace_,
        [] {
          return std::vector<DockItem>{{"org.example.Mail.desktop", "Mail", false, {}, {}},
                                       {"org.example.Chat.desktop", "Chat", false, {}, {}}};
        },
        {},
        bus,
        std::move(address)});
    publications_ =
        monitor->items().observe([this](const std::map<std::string, DockItem>&) { ++published_; });
    monitor->start();
    return monitor;
  }

  static std::optional<std::string> label(const LauncherBadgeMonitor& monitor,
                                          const std::string& id) {
    const auto& items = *monitor.items();
    auto it = items.find(id);
    if (it == items.end() || !it->second.badge) {
      return std::nullopt;
    }
    return it->second.badge->label;
  }

  ManualScheduler scheduler_;
  FakeWorkspace workspace_;
  Subscription publications_;
  int published_ = 0;
};

TEST_F(LauncherBadgeMonitorTest, MergesPartialUpdatesPerSenderAndPublishesOncePerFrame) {
  auto monitor = make();
  monitor->receive(":1.7", "application://org.example.Chat.desktop", counted(3));
  EXPECT_EQ(published_, 0) << "nothing before the frame ends";
  scheduler_.advanceBy(LauncherBadgeMonitor::kFrame);
  ASSERT_EQ(published_, 1);
  EXPECT_EQ(label(*monitor, "org.example.Chat.desktop"), "3");
  const DockItem& chat = monitor->items()->at("org.example.Chat.desktop");
  EXPECT_EQ(chat.sender, ":1.7");
  EXPECT_EQ(chat.name, "Chat");
  EXPECT_TRUE(chat.isRunning);

  // Only the count changes: the visibility told before still holds.
  monitor->receive(":1.7", "application://org.example.Chat.desktop", {{"count", std::int64_t{4}}});
  // A flood within one frame is one publication of its last state.
  for (std::int64_t i = 0; i < 10000; ++i) {
    monitor->receive(":1.7", "application://org.example.Chat.desktop", {{"count", i}});
  }
  scheduler_.advanceBy(LauncherBadgeMonitor::kFrame);
  EXPECT_EQ(published_, 2);
  EXPECT_EQ(label(*monitor, "org.example.Chat.desktop"), "9999");

  // Made and undone within a frame: nothing to publish.
  monitor->receive(":1.7", "application://org.example.Chat.desktop", {{"count-visible", false}});
  monitor->receive(":1.7", "application://org.example.Chat.desktop", {{"count-visible", true}});
  scheduler_.advanceBy(LauncherBadgeMonitor::kFrame);
  EXPECT_EQ(published_, 2);

  // Urgent without a visible count is a dot; a hidden count with nothing urgent is no badge.
  monitor->receive(":1.7", "application://org.example.Chat.desktop",
                   {{"count-visible", false}, {"urgent", true}});
  scheduler_.advanceBy(LauncherBadgeMonitor::kFrame);
  EXPECT_EQ(label(*monitor, "org.example.Chat.desktop"), "•");
  monitor->receive(":1.7", "application://org.example.Chat.desktop", {{"urgent", false}});
  scheduler_.advanceBy(LauncherBadgeMonitor::kFrame);
  EXPECT_EQ(label(*monitor, "org.example.Chat.desktop"), std::nullopt);
  EXPECT_TRUE(monitor->items()->contains("org.example.Chat.desktop")) << "still running";
}

TEST_F(LauncherBadgeMonitorTest, ASenderLeavingTakesItsBadgesAndLeavesOthers) {
  auto monitor = make();
  monitor->receive(":1.7", "application://org.example.Chat.desktop", counted(3));
  monitor->receive(":1.7", "application://org.example.Mail.desktop", counted(12));
  monitor->receive(":1.9", "application://org.example.Chat.desktop", counted(5));
  scheduler_.advanceBy(LauncherBadgeMonitor::kFrame);
  // Two senders for one app: the one that changed it last.
  EXPECT_EQ(label(*monitor, "org.example.Chat.desktop"), "5");
  EXPECT_EQ(monitor->items()->at("org.example.Chat.desktop").sender, ":1.9");

  monitor->senderLeft(":1.9");
  scheduler_.advanceBy(LauncherBadgeMonitor::kFrame);
  EXPECT_EQ(label(*monitor, "org.example.Chat.desktop"), "3");
  EXPECT_EQ(monitor->items()->at("org.example.Chat.desktop").sender, ":1.7");

  monitor->senderLeft(":1.7");
  monitor->senderLeft(":1.unknown");
  scheduler_.advanceBy(LauncherBadgeMonitor::kFrame);
  EXPECT_TRUE(monitor->items()->empty());
}

TEST_F(LauncherBadgeMonitorTest, BadInputIsDroppedAndBounded) {
  auto monitor = make();
  monitor->receive(":1.7", "file:///x.desktop", counted(1));
  monitor->receive(":1.7", std::string(500 * 1024, 'a'), counted(1));
  monitor->receive(":1.7", "application://\xff\xfe.desktop", counted(1));
  EXPECT_EQ(monitor->updatesDropped(), 3u);
  monitor->receive(
      ":1.7", "application://org.example.Chat.desktop",
      {{"count", std::int64_t{-4}}, {"count-visible", std::string("yes")}, {"unknown", 2.5}});
  monitor->receive(":1.7", "application://org.example.Mail.desktop",
                   {{"count", std::numeric_limits<std::uint64_t>::max()}, {"count-visible", true}});
  for (std::size_t i = 0; i < LauncherBadgeMonitor::kMaxAppsPerSender + 50; ++i) {
    monitor->receive(":1.8", "application://app" + std::to_string(i) + ".desktop", counted(1));
  }
  scheduler_.advanceBy(LauncherBadgeMonitor::kFrame);
  EXPECT_EQ(label(*monitor, "org.example.Chat.desktop"), std::nullopt);
  EXPECT_EQ(label(*monitor, "org.example.Mail.desktop"), std::to_string(kMaxLauncherCount));
  EXPECT_EQ(monitor->items()->size(), 2 + LauncherBadgeMonitor::kMaxAppsPerSender);
  EXPECT_EQ(monitor->updatesDropped(), 3u + 50u);
}

TEST_F(LauncherBadgeMonitorTest, AddAppListsRunningAppsFirstThenInstalledOnes) {
  auto monitor = make();
  workspace_.running = {{11, "org.example.Chat.desktop", "Chat", {}, false, false},
                        {12, std::nullopt, "no entry", {}, false, false}};
  const auto items = monitor->snapshotDockItems();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].bundleID, "org.example.Chat.desktop");
  EXPECT_TRUE(items[0].isRunning);
  EXPECT_EQ(items[1].bundleID, "org.example.Mail.desktop");
  EXPECT_FALSE(items[1].isRunning);
}

// --- On a bus ---------------------------------------------------------------------------

bool pumpUntil(const std::function<bool()>& done, ManualScheduler& scheduler,
               int timeoutMs = 20000) {
  QDeadlineTimer deadline(timeoutMs);
  while (!done()) {
    if (deadline.hasExpired()) {
      return false;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    scheduler.advanceBy(LauncherBadgeMonitor::kFrame);
  }
  return true;
}

class PrivateBus {
 public:
  PrivateBus() {
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) {
      return;
    }
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--session"), QStringLiteral("--nofork"),
                   QStringLiteral("--print-address=1")});
    if (!daemon_.waitForStarted(10000)) {
      return;
    }
    QDeadlineTimer deadline(20000);
    while (!daemon_.canReadLine() && !deadline.hasExpired()) {
      daemon_.waitForReadyRead(1000);
    }
    address_ = daemon_.readLine().trimmed().toStdString();
  }
  ~PrivateBus() {
    daemon_.kill();
    daemon_.waitForFinished(5000);
  }
  const std::string& address() const { return address_; }

 private:
  QProcess daemon_;
  std::string address_;
};

constexpr const char* kLibrarySender = R"PY(
import sys
from gi.repository import Gio, GLib
bus = Gio.DBusConnection.new_for_address_sync(sys.argv[1],
    Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
    None, None)
def announce(*_):
    bus.emit_signal(None, "/com/canonical/unity/launcherentry/1",
                    "com.canonical.Unity.LauncherEntry", "Update",
                    GLib.Variant("(sa{sv})", ("application://org.example.Chat.desktop",
                                 {"count": GLib.Variant("x", 7),
                                  "count-visible": GLib.Variant("b", True)})))
    bus.flush_sync(None)
    print("announced", flush=True)
Gio.bus_watch_name_on_connection(bus, "com.canonical.Unity", Gio.BusNameWatcherFlags.NONE,
                                 announce, None)
print("ready", flush=True)
GLib.MainLoop().run()
)PY";

TEST_F(LauncherBadgeMonitorTest,
       OnTheBusSendersWaitingForTheLauncherAreHeardAndForgottenWhenTheyLeave) {
  PrivateBus bus;
  if (bus.address().empty()) {
    GTEST_SKIP() << "no dbus-daemon";
  }
  if (!QFile::exists(QStringLiteral("/usr/bin/python3")) ||
      QStandardPaths::findExecutable(QStringLiteral("gdbus")).isEmpty()) {
    GTEST_SKIP() << "no python3 or gdbus";
  }
  QProcess sender;
  sender.start(QStringLiteral("/usr/bin/python3"),
               {QStringLiteral("-c"), QString::fromLatin1(kLibrarySender),
                QString::fromStdString(bus.address())});
  ASSERT_TRUE(sender.waitForStarted(10000));
  QByteArray said;
  ASSERT_TRUE(pumpUntil(
      [&] {
        said += sender.readAllStandardOutput();
        return said.contains("ready");
      },
      scheduler_))
      << sender.readAllStandardError().toStdString();

  // Owning com.canonical.Unity is what makes it speak.
  auto monitor = make(true, bus.address());
  EXPECT_TRUE(monitor->ownsLauncherName());
  ASSERT_TRUE(pumpUntil([&] { return label(*monitor, "org.example.Chat.desktop").has_value(); },
                        scheduler_))
      << sender.readAllStandardError().toStdString();
  EXPECT_EQ(label(*monitor, "org.example.Chat.desktop"), "7");
  EXPECT_EQ(monitor->items()->at("org.example.Chat.desktop").sender.rfind(":1.", 0), 0u);

  // A signal of the wrong signature is dropped; a one-shot sender's badge goes as it leaves.
  const QString address = QString::fromStdString(bus.address());
  // gdbus on the private bus as its session bus (with --address it would speak to it as a
  // peer, which a bus refuses).
  const auto emit = [&](const QStringList& body) {
    QStringList args{QStringLiteral("emit"),
                     QStringLiteral("--session"),
                     QStringLiteral("--object-path"),
                     QStringLiteral("/x"),
                     QStringLiteral("--signal"),
                     QStringLiteral("com.canonical.Unity.LauncherEntry.Update")};
    args += body;
    QProcess gdbus;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    gdbus.setProcessEnvironment(env);
    gdbus.start(QStringLiteral("gdbus"), args);
    return gdbus.waitForFinished(20000) ? gdbus.exitCode() : -1;
  };
  // (Sent in order from one process after the other, so the bus delivers them in order.)
  const std::size_t takenBefore = monitor->updatesTaken();
  ASSERT_EQ(emit({QStringLiteral("application://org.example.Mail.desktop")}), 0);
  ASSERT_EQ(emit({QStringLiteral("application://org.example.Mail.desktop"),
                  QStringLiteral("{'count': <int64 5>, 'count-visible': <true>}")}),
            0);
  ASSERT_TRUE(pumpUntil([&] { return monitor->updatesTaken() > takenBefore; }, scheduler_));
  EXPECT_EQ(monitor->updatesTaken(), takenBefore + 1) << "the malformed one is not taken";
  ASSERT_TRUE(pumpUntil([&] { return !monitor->items()->contains("org.example.Mail.desktop"); },
                        scheduler_));

  sender.kill();
  sender.waitForFinished(5000);
  ASSERT_TRUE(pumpUntil([&] { return monitor->items()->empty(); }, scheduler_));
}

}  // namespace
}  // namespace lumarin
