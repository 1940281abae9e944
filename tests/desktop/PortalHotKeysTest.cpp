// The desktop portal's global shortcuts, against a portal of the test's own on a private bus
// that speaks the portal's interface as its documentation has it (none of the desktops here
// ships one): a session, shortcuts bound with their preferred triggers, a combination the
// desktop keeps for someone else, presses.

#include <gtest/gtest.h>

#include <QProcess>
#include <map>
#include <optional>
#include <string>

#include "TrayDesktop.h"
#include "platform/desktop/PortalHotKeys.h"
#include "platform/host/HostClock.h"
#include "platform/host/HostScheduler.h"

namespace lumarin {
namespace {

using test::waitUntil;

// The portal: binds every shortcut except those whose preferred trigger argv[1] lists, prints
// "bound <id> <trigger>" for each it binds, and on "press <id>" sends Activated.
constexpr const char* kPortal = R"PY(
import sys
from gi.repository import Gio, GLib
XML = """<node><interface name="org.freedesktop.portal.GlobalShortcuts">
<method name="CreateSession"><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
<method name="BindShortcuts"><arg type="o" direction="in"/><arg type="a(sa{sv})" direction="in"/>
<arg type="s" direction="in"/><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
<signal name="Activated"><arg type="o"/><arg type="s"/><arg type="t"/><arg type="a{sv}"/></signal>
<property name="version" type="u" access="read"/></interface></node>"""
taken = set(sys.argv[1].split(",")) if len(sys.argv) > 1 and sys.argv[1] else set()
bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
session = {"path": None}
def request_path(sender, options):
    return "/org/freedesktop/portal/desktop/request/%s/%s" % (
        sender[1:].replace(".", "_"), options["handle_token"])
def respond(path, results):
    bus.emit_signal(None, path, "org.freedesktop.portal.Request", "Response",
                    GLib.Variant("(ua{sv})", (0, results)))
    return False
def call(conn, sender, path, iface, method, params, invocation):
    if method == "CreateSession":
        options = params.unpack()[0]
        request = request_path(sender, options)
        session["path"] = "/org/freedesktop/portal/desktop/session/%s/%s" % (
            sender[1:].replace(".", "_"), options["session_handle_token"])
        invocation.return_value(GLib.Variant("(o)", (request,)))
        GLib.idle_add(respond, request, {"session_handle": GLib.Variant("s", session["path"])})
    elif method == "BindShortcuts":
        handle, shortcuts, parent, options = params.unpack()
        request = request_path(sender, options)
        given = []
        for sid, props in shortcuts:
            trigger = props.get("preferred_trigger", "")
            if trigger in taken:
                continue
            print("bound", sid, trigger, flush=True)
            given.append((sid, {"description": GLib.Variant("s", props.get("description", "")),
                                "trigger_description": GLib.Variant("s", trigger)}))
        invocation.return_value(GLib.Variant("(o)", (request,)))
        GLib.idle_add(respond, request, {"shortcuts": GLib.Variant("a(sa{sv})", given)})
def get(conn, sender, path, iface, name):
    return GLib.Variant("u", 1)
bus.register_object("/org/freedesktop/portal/desktop",
                    Gio.DBusNodeInfo.new_for_xml(XML).interfaces[0], call, get, None)
def command(channel, condition):
    line = sys.stdin.readline()
    if not line:
        GLib.MainLoop().quit()
        sys.exit(0)
    if line.startswith("press ") and session["path"]:
        bus.emit_signal(None, "/org/freedesktop/portal/desktop",
                        "org.freedesktop.portal.GlobalShortcuts", "Activated",
                        GLib.Variant("(osta{sv})", (session["path"], line[6:].strip(), 0, {})))
    return True
GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.IO_IN | GLib.IO_HUP, command)
def owned(*_):
    print("ready", flush=True)
Gio.bus_own_name_on_connection(bus, "org.freedesktop.portal.Desktop",
                               Gio.BusNameOwnerFlags.NONE, owned, None)
GLib.MainLoop().run()
)PY";

constexpr std::uint32_t kMods = 0x1000 | 0x800 | 0x100;  // Control-Option-Command

class PortalHotKeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string missing = test::TrayDesktop::missingPrograms(); !missing.empty()) {
      GTEST_SKIP() << missing;
    }
    std::string why;
    ASSERT_TRUE(desktop_.start(why)) << why;
  }

  void TearDown() override {
    if (portal_.state() != QProcess::NotRunning) {
      portal_.kill();
      portal_.waitForFinished(5000);
    }
  }

  void startPortal(const QString& taken) {
    portal_.setProcessEnvironment(desktop_.environment());
    portal_.start("/usr/bin/python3", {"-c", kPortal, taken});
    ASSERT_TRUE(portal_.waitForStarted(10000));
    ASSERT_TRUE(waitUntil([this] { return said("ready"); }))
        << portal_.readAllStandardError().toStdString();
  }

  bool said(const std::string& text) {
    output_ += portal_.readAllStandardOutput().toStdString();
    return output_.find(text) != std::string::npos;
  }

  PortalHotKeys::Options options() const {
    PortalHotKeys::Options out;
    out.busAddress = desktop_.busAddress();
    return out;
  }

  test::TrayDesktop desktop_;
  HostClock clock_;
  HostScheduler scheduler_{clock_};
  test::RecordingSystemLog log_;
  QProcess portal_;
  std::string output_;
};

TEST(PortalHotKeysTriggerTest, PortKeysBecomeThePortalsTriggers) {
  EXPECT_EQ(PortalHotKeys::triggerFor(46, kMods), "CTRL+ALT+LOGO+m");
  EXPECT_EQ(PortalHotKeys::triggerFor(43, kMods), "CTRL+ALT+LOGO+comma");
  EXPECT_EQ(PortalHotKeys::triggerFor(18, 0x200), "SHIFT+1");
  EXPECT_EQ(PortalHotKeys::triggerFor(122, 0), "F1");
  EXPECT_EQ(PortalHotKeys::triggerFor(200, kMods), "");  // no such key
}

TEST_F(PortalHotKeysTest, ShortcutsAreBoundInOneSessionAndOneKeptElsewhereIsReportedTaken) {
  startPortal("CTRL+ALT+LOGO+comma");
  PortalHotKeys keys(scheduler_, log_, options());
  ASSERT_TRUE(keys.available());
  std::map<HotKeys::Handle, int> statuses;
  keys.setStatusObserver(
      [&statuses](HotKeys::Handle handle, int status) { statuses[handle] = status; });
  std::optional<HotKeyID> pressed;
  keys.installHandler([&pressed](std::optional<HotKeyID> id) {
    pressed = id;
    return 0;
  });
  HotKeys::Handle hud = 0;
  HotKeys::Handle settings = 0;
  // Both answer at once; the desktop's answer follows.
  EXPECT_EQ(keys.registerHotKey(46, kMods, HotKeyID{7, 1}, hud), 0);
  EXPECT_EQ(keys.registerHotKey(43, kMods, HotKeyID{7, 2}, settings), 0);
  ASSERT_TRUE(waitUntil([&] { return statuses.size() == 2; }))
      << portal_.readAllStandardError().toStdString();
  EXPECT_EQ(statuses[hud], 0);
  EXPECT_EQ(statuses[settings], HotKeys::kHotKeyExistsErr);
  EXPECT_TRUE(said("bound shortcut-1 CTRL+ALT+LOGO+m"));
  EXPECT_EQ(log_.count("shortcut-2 was not bound"), 1u);

  portal_.write("press shortcut-1\n");
  ASSERT_TRUE(waitUntil([&] { return pressed.has_value(); }));
  EXPECT_EQ(pressed->id, 1u);
  EXPECT_EQ(pressed->signature, 7u);
}

TEST_F(PortalHotKeysTest, WithoutAPortalThereAreNoShortcuts) {
  PortalHotKeys keys(scheduler_, log_, options());
  EXPECT_FALSE(keys.available());
  HotKeys::Handle handle = 0;
  EXPECT_NE(keys.registerHotKey(46, kMods, HotKeyID{7, 1}, handle), 0);
}

}  // namespace
}  // namespace lumarin
