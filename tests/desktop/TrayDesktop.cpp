#include "TrayDesktop.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QStandardPaths>
#include <QTimer>
#include <filesystem>

namespace lumarin::test {

namespace {

constexpr const char* kWatcher = "org.kde.StatusNotifierWatcher";

const char* const kPanelConfig = R"xml(<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="32"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
        <value type="int" value="2"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="separator">
      <property name="expand" type="bool" value="true"/>
    </property>
    <property name="plugin-2" type="string" value="systray"/>
  </property>
</channel>
)xml";

void endGroup(QProcess& process) {
  if (process.state() == QProcess::NotRunning) {
    return;
  }
  const auto pid = static_cast<pid_t>(process.processId());
  ::kill(-pid, SIGTERM);
  if (!process.waitForFinished(10000)) {
    ::kill(-pid, SIGKILL);
    process.waitForFinished(10000);
  }
  // Plugin wrappers of the group that outlive the panel itself.
  ::kill(-pid, SIGKILL);
}

}  // namespace

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
  if (done()) {
    return true;
  }
  QDeadlineTimer deadline(timeoutMs);
  QEventLoop loop;
  QTimer tick;
  tick.setInterval(20);
  QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
    if (done() || deadline.hasExpired()) {
      loop.quit();
    }
  });
  tick.start();
  loop.exec();
  return done();
}

TrayDesktop::TrayDesktop() {
  environment_ = QProcessEnvironment::systemEnvironment();
  const auto root = root_.path();
  for (const char* dir : {"config", "data", "cache", "runtime"}) {
    std::filesystem::create_directories(root / dir);
  }
  ::chmod((root / "runtime").c_str(), 0700);
  environment_.insert("XDG_CONFIG_HOME", QString::fromStdString((root / "config").string()));
  environment_.insert("XDG_DATA_HOME", QString::fromStdString((root / "data").string()));
  environment_.insert("XDG_CACHE_HOME", QString::fromStdString((root / "cache").string()));
  environment_.insert("XDG_RUNTIME_DIR", QString::fromStdString((root / "runtime").string()));
  environment_.insert("NO_AT_BRIDGE", "1");
  environment_.remove("DBUS_SESSION_BUS_ADDRESS");
}

TrayDesktop::~TrayDesktop() {
  if (panel_) {
    endGroup(*panel_);
  }
  if (client_) {
    client_.reset();
    QDBusConnection::disconnectFromBus("tray-test-client");
  }
  for (QProcess* p : {&bus_, &xvfb_}) {
    if (p->state() != QProcess::NotRunning) {
      p->terminate();
      if (!p->waitForFinished(10000)) {
        p->kill();
        p->waitForFinished();
      }
    }
  }
}

std::string TrayDesktop::missingPrograms() {
  std::string missing;
  for (const char* program : {"Xvfb", "dbus-daemon", "xfce4-panel"}) {
    if (QStandardPaths::findExecutable(program).isEmpty()) {
      missing += std::string(missing.empty() ? "" : ", ") + program;
    }
  }
  return missing;
}

bool TrayDesktop::start(std::string& why) {
  // Xvfb chooses a free display and writes its number once it accepts clients.
  xvfb_.setProcessEnvironment(environment_);
  xvfb_.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1280x240x24", "-nolisten", "tcp"});
  if (!xvfb_.waitForReadyRead(15000)) {
    why = "Xvfb did not start: " + xvfb_.readAllStandardError().toStdString();
    return false;
  }
  display_ = ":" + QString::fromLatin1(xvfb_.readLine().trimmed());
  environment_.insert("DISPLAY", display_);

  // The environment is in place before the bus starts: what it activates inherits it.
  bus_.setProcessEnvironment(environment_);
  bus_.start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address=1"});
  if (!bus_.waitForReadyRead(15000)) {
    why = "dbus-daemon did not start";
    return false;
  }
  address_ = bus_.readLine().trimmed().toStdString();
  environment_.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromStdString(address_));
  client_ = std::make_unique<QDBusConnection>(
      QDBusConnection::connectToBus(QString::fromStdString(address_), "tray-test-client"));
  if (!client_->isConnected()) {
    why = "cannot reach the private bus";
    return false;
  }
  return true;
}

bool TrayDesktop::startPanel(std::string& why) {
  const auto dir = root_.path() / "config/xfce4/xfconf/xfce-perchannel-xml";
  std::filesystem::create_directories(dir);
  writeFile(dir / "xfce4-panel.xml", kPanelConfig);
  panel_ = std::make_unique<QProcess>();
  panel_->setProcessEnvironment(environment_);
  panel_->setProcessChannelMode(QProcess::MergedChannels);
  // A process group of its own, so ending it ends the plugin wrappers too.
  panel_->setChildProcessModifier([] { ::setsid(); });
  panel_->start("xfce4-panel", {"--disable-wm-check"});
  if (!panel_->waitForStarted(10000)) {
    why = "xfce4-panel did not start";
    return false;
  }
  if (!waitUntil([this] { return watcherPresent(); })) {
    why = "the panel's tray did not own the watcher: " + panel_->readAll().toStdString();
    return false;
  }
  return true;
}

bool TrayDesktop::stopPanel() {
  if (panel_) {
    endGroup(*panel_);
    panel_.reset();
  }
  return waitUntil([this] { return !watcherPresent(); });
}

bool TrayDesktop::watcherPresent() {
  return client_ && client_->interface()->isServiceRegistered(kWatcher).value();
}

QString TrayDesktop::watcherOwner() {
  const auto owner = client_->interface()->serviceOwner("org.kde.StatusNotifierWatcher");
  return owner.isValid() ? owner.value() : QString();
}

QVariant TrayDesktop::property(const QString& service, const QString& path,
                               const QString& interface, const QString& name) {
  QDBusMessage get =
      QDBusMessage::createMethodCall(service, path, "org.freedesktop.DBus.Properties", "Get");
  get << interface << name;
  const QDBusMessage reply = client_->call(get, QDBus::Block, 5000);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
    return {};
  }
  return reply.arguments()[0].value<QDBusVariant>().variant();
}

QStringList TrayDesktop::registeredItems() {
  return property(kWatcher, "/StatusNotifierWatcher", kWatcher, "RegisteredStatusNotifierItems")
      .toStringList();
}

bool TrayDesktop::isRegistered(const std::string& service) {
  const QString name = QString::fromStdString(service);
  for (const auto& entry : registeredItems()) {
    // "service/path" (xfce) or the bare service name.
    if (entry == name || entry.startsWith(name + "/")) {
      return true;
    }
  }
  return false;
}

BusSignalRecorder::BusSignalRecorder(QDBusConnection connection, const QString& service,
                                     const QString& path, const QString& interface,
                                     const QString& name)
    : connection_(std::move(connection)),
      service_(service),
      path_(path),
      interface_(interface),
      name_(name) {
  connection_.connect(service_, path_, interface_, name_, this, SLOT(received(QDBusMessage)));
}

BusSignalRecorder::~BusSignalRecorder() {
  connection_.disconnect(service_, path_, interface_, name_, this, SLOT(received(QDBusMessage)));
}

std::size_t RecordingSystemLog::count(const std::string& text) const {
  std::size_t n = 0;
  for (const auto& line : lines) {
    n += line.find(text) != std::string::npos ? 1 : 0;
  }
  return n;
}

}  // namespace lumarin::test
