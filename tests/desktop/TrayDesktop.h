#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/SystemLog.h"
#include "support/TempDir.h"

namespace lumarin::test {

// An indicator as apps make them with libayatana-appindicator: icon by name from its own
// theme folder, a title, a menu whose entry writes a file; "add <label>" on its input adds an
// entry. Arguments: id, theme folder, title, the file.
inline constexpr const char* kIndicatorScript = R"PY(
import sys, gi
gi.require_version("Gtk", "3.0")
gi.require_version("AyatanaAppIndicator3", "0.1")
from gi.repository import GLib, Gtk, AyatanaAppIndicator3 as AI
ind = AI.Indicator.new_with_path(sys.argv[1], "lumarin-test-icon",
                                 AI.IndicatorCategory.COMMUNICATIONS, sys.argv[2])
ind.set_status(AI.IndicatorStatus.ACTIVE)
ind.set_title(sys.argv[3])
menu = Gtk.Menu()
entry = Gtk.MenuItem(label="Write the file")
entry.connect("activate", lambda *_: open(sys.argv[4], "w").write("clicked"))
menu.append(entry)
entry.show()
ind.set_menu(menu)
def command(channel, condition):
    line = sys.stdin.readline()
    if not line:
        Gtk.main_quit()
        return False
    if line.startswith("add "):
        extra = Gtk.MenuItem(label=line[4:].strip())
        menu.append(extra)
        extra.show()
    return True
GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.IO_IN | GLib.IO_HUP, command)
print("ready", flush=True)
Gtk.main()
)PY";

// Runs the event loop until `done` holds or `timeoutMs` has passed; true when it got there.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 20000);

// A desktop of the tests' own: an Xvfb display, a private session bus and, on request,
// xfce4-panel as the tray host, with XDG directories in a temporary root so the panel's
// settings service never touches the real home.
class TrayDesktop {
 public:
  TrayDesktop();
  TrayDesktop(const TrayDesktop&) = delete;
  TrayDesktop& operator=(const TrayDesktop&) = delete;
  ~TrayDesktop();

  // Why the desktop cannot run here (a program missing), or empty.
  static std::string missingPrograms();

  // Starts the display and the bus; false with `why` set when they did not come up.
  bool start(std::string& why);
  // Starts the panel and waits until its tray owns the watcher's name.
  bool startPanel(std::string& why);
  // Ends the panel (all its processes) and waits until the watcher's name is gone.
  bool stopPanel();

  const std::string& busAddress() const { return address_; }
  // What a program on this desktop runs with: its display, bus and XDG folders.
  const QProcessEnvironment& environment() const { return environment_; }
  const QString& display() const { return display_; }
  QDBusConnection& client() { return *client_; }

  // A property of an object on the bus, read by the tests' client and waited for; an invalid
  // value when it cannot be read.
  QVariant property(const QString& service, const QString& path, const QString& interface,
                    const QString& name);
  // The watcher's `RegisteredStatusNotifierItems`; empty without a watcher.
  QStringList registeredItems();
  bool isRegistered(const std::string& service);
  bool watcherPresent();
  // The unique name holding the watcher's name; empty without a watcher.
  QString watcherOwner();

 private:
  TempDir root_;
  QProcessEnvironment environment_;
  QProcess xvfb_;
  QProcess bus_;
  std::unique_ptr<QProcess> panel_;
  std::string address_;
  QString display_;
  std::unique_ptr<QDBusConnection> client_;
};

// Collects the signals that match, as QtDBus only hands them to a slot.
class BusSignalRecorder final : public QObject {
  Q_OBJECT

 public:
  BusSignalRecorder(QDBusConnection connection, const QString& service, const QString& path,
                    const QString& interface, const QString& name);
  ~BusSignalRecorder() override;
  const std::vector<QDBusMessage>& messages() const { return messages_; }
  std::size_t count() const { return messages_.size(); }

 public Q_SLOTS:
  void received(const QDBusMessage& message) { messages_.push_back(message); }

 private:
  QDBusConnection connection_;
  QString service_, path_, interface_, name_;
  std::vector<QDBusMessage> messages_;
};

// The system log's lines, kept for the test to read.
class RecordingSystemLog final : public SystemLog {
 public:
  void log(std::string_view message) override { lines.emplace_back(message); }
  Result<std::vector<SystemLogEntry>> entriesSince(std::chrono::system_clock::time_point,
                                                   std::size_t) const override {
    return std::vector<SystemLogEntry>{};
  }
  std::size_t count(const std::string& text) const;
  std::vector<std::string> lines;
};

}  // namespace lumarin::test
