#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QStandardPaths>
#include <QVariantMap>

#include "platform/host/DBusDistributedNotifications.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/SimDistributedNotifications.h"
#include "platform/sim/World.h"

namespace lumarin {
namespace {

// Two programs on a private session bus of their own, each with its simulated session: what
// one posts reaches the other's observers through the bus, once, and its own only through its
// session.
class DBusNotificationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
    if (daemon.isEmpty()) {
      GTEST_SKIP() << "dbus-daemon is not installed";
    }
    bus_.start(daemon, {"--session", "--nofork", "--nopidfile", "--print-address=1"});
    ASSERT_TRUE(bus_.waitForReadyRead(10000));
    address_ = bus_.readLine().trimmed().toStdString();
    ASSERT_FALSE(address_.empty());
    worldA_.setClock(&scheduler_.clock());
    worldB_.setClock(&scheduler_.clock());
    a_ = std::make_unique<DBusDistributedNotifications>(sessionA_, scheduler_, address_, "a");
    b_ = std::make_unique<DBusDistributedNotifications>(sessionB_, scheduler_, address_, "b");
    ASSERT_TRUE(a_->connected() && b_->connected());
  }

  void TearDown() override {
    a_.reset();
    b_.reset();
    if (bus_.state() != QProcess::NotRunning) {
      bus_.kill();
      bus_.waitForFinished();
    }
  }

  // Until the bus has routed what `from` sent and `to` has taken it in.
  void deliver(const DBusDistributedNotifications& from, const DBusDistributedNotifications& to) {
    from.flush();
    to.flush();
    QCoreApplication::processEvents();
    scheduler_.runUntilIdle();
  }

  QProcess bus_;
  std::string address_;
  ManualScheduler scheduler_;
  sim::World worldA_;
  sim::World worldB_;
  sim::SimDistributedNotifications sessionA_{worldA_, scheduler_};
  sim::SimDistributedNotifications sessionB_{worldB_, scheduler_};
  std::unique_ptr<DBusDistributedNotifications> a_;
  std::unique_ptr<DBusDistributedNotifications> b_;
};

TEST_F(DBusNotificationsTest, ALayoutPostedByOneProgramReachesTheOtherOnceWithItsTypes) {
  std::vector<DistributedNotifications::UserInfo> atA;
  std::vector<DistributedNotifications::UserInfo> atB;
  auto observeA =
      a_->observe("jp.kestova.hud.layout", [&](const auto& info) { atA.push_back(info); });
  auto observeB =
      b_->observe("jp.kestova.hud.layout", [&](const auto& info) { atB.push_back(info); });
  auto other = b_->observe("other.name", [&](const auto& info) { atB.push_back(info); });
  a_->post("jp.kestova.hud.layout", {{"app", std::string("lumarin")},
                                     {"visible", true},
                                     {"x", 392.0},
                                     {"count", std::int64_t{3}}});
  deliver(*a_, *b_);
  ASSERT_EQ(atB.size(), 1u);
  EXPECT_EQ(std::get<std::string>(atB[0].at("app")), "lumarin");
  EXPECT_TRUE(std::get<bool>(atB[0].at("visible")));
  EXPECT_DOUBLE_EQ(std::get<double>(atB[0].at("x")), 392);
  EXPECT_EQ(std::get<std::int64_t>(atB[0].at("count")), 3);
  // The poster hears its own post once, from its session, not again from the bus.
  EXPECT_EQ(atA.size(), 1u);

  // An observer that left gets nothing more.
  observeB.reset();
  a_->post("jp.kestova.hud.layout", {{"visible", false}});
  deliver(*a_, *b_);
  EXPECT_EQ(atB.size(), 1u);
}

TEST_F(DBusNotificationsTest, MalformedSignalsFromOthersAreIgnored) {
  std::vector<DistributedNotifications::UserInfo> seen;
  auto observe =
      b_->observe("jp.kestova.hud.layout", [&](const auto& info) { seen.push_back(info); });
  auto stranger = QDBusConnection::connectToBus(QString::fromStdString(address_), "stranger");
  ASSERT_TRUE(stranger.isConnected());
  auto send = [&](const QList<QVariant>& arguments) {
    QDBusMessage signal = QDBusMessage::createSignal(DBusDistributedNotifications::kPath,
                                                     DBusDistributedNotifications::kInterface,
                                                     DBusDistributedNotifications::kMember);
    signal.setArguments(arguments);
    stranger.send(signal);
  };
  send({});                                                // nothing
  send({QString("jp.kestova.hud.layout"), QString("x")});  // not a map
  send({42, QVariantMap{}});                               // not a name
  QVariantMap odd{{"visible", true}, {"list", QStringList{"a", "b"}}};
  send({QString("jp.kestova.hud.layout"), odd});  // a value of another type is left out
  QDBusMessage ping = QDBusMessage::createMethodCall(
      "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId");
  (void)stranger.call(ping);
  deliver(*a_, *b_);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].size(), 1u);
  EXPECT_TRUE(std::get<bool>(seen[0].at("visible")));
  QDBusConnection::disconnectFromBus("stranger");
}

}  // namespace
}  // namespace lumarin
