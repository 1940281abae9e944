#!/usr/bin/env bash
# Takes the README's picture of Lumarin on a real panel: brings up the test desktop
# (scripts/desktop-session.sh: Xvfb, a private bus, xfce4-panel as the tray host), installs two
# apps' desktop entries and monitors them, runs `lumarin --desktop`, lets two senders that stay
# on the bus announce badges through the launcher protocol, waits until the tray items show
# them, and photographs the right end of the panel.
#
#   scripts/desktop-picture.sh [OUTPUT.png] [LUMARIN]
#       OUTPUT defaults to docs/pictures/desktop-panel.png, LUMARIN to build/default/src/lumarin
#       (build it first: scripts/build.sh default lumarin). The run's report and story are left
#       beside the picture's folder in build/desktop-picture/.
# Packages: those of desktop-session.sh, imagemagick, libglib2.0-bin, python3-gi.
set -uo pipefail
cd "$(dirname "$0")/.."
output=$(realpath -m "${1:-docs/pictures/desktop-panel.png}")
lumarin=$(realpath -m "${2:-build/default/src/lumarin}")
work=$(realpath -m build/desktop-picture)
[ -x "$lumarin" ] || { echo "desktop-picture: no program at $lumarin (build it first)" >&2; exit 1; }
mkdir -p "$work" "$(dirname "$output")"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY

# shellcheck source=desktop-session.sh
source scripts/desktop-session.sh || exit 1

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  desktop_session_stop
}
trap cleanup EXIT

# Two apps as a user's desktop has them, without icons of their own (the program draws their
# initials), both monitored and dimmed while they show no badge.
mkdir -p "$XDG_DATA_HOME/applications" "$XDG_CONFIG_HOME/com.kestova.Lumarin"
for app in Chat Mail; do
  printf '[Desktop Entry]\nType=Application\nName=%s\nExec=/bin/true\n' "$app" \
    >"$XDG_DATA_HOME/applications/org.example.$app.desktop"
done
apps='[{"id":"4B1D0C2E-6F3A-4C5B-8D7E-9F0A1B2C3D01","bundleID":"org.example.Chat.desktop","name":"Chat","visibility":"dim"},{"id":"4B1D0C2E-6F3A-4C5B-8D7E-9F0A1B2C3D02","bundleID":"org.example.Mail.desktop","name":"Mail","visibility":"dim"}]'
printf '{"onboardingCompleted": true, "monitoredApps": {"$data": "%s"}}' \
  "$(printf '%s' "$apps" | base64 -w0)" >"$XDG_CONFIG_HOME/com.kestova.Lumarin/defaults.json"

"$lumarin" --desktop --story --report "$work/report.json" >"$work/story.txt" 2>"$work/stderr.txt" &
pids+=($!)

# Senders as apps using the launcher library are: silent until someone owns
# com.canonical.Unity, then their full state; they stay on the bus, so the badges last.
sender='
import sys
from gi.repository import Gio, GLib
app, count = sys.argv[1], int(sys.argv[2])
bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
def announce(*_):
    bus.emit_signal(None, "/com/canonical/unity/launcherentry/1",
                    "com.canonical.Unity.LauncherEntry", "Update",
                    GLib.Variant("(sa{sv})", ("application://" + app,
                                 {"count": GLib.Variant("x", count),
                                  "count-visible": GLib.Variant("b", True)})))
    bus.flush_sync(None)
Gio.bus_watch_name_on_connection(bus, "com.canonical.Unity", Gio.BusNameWatcherFlags.NONE,
                                 announce, None)
GLib.MainLoop().run()
'
/usr/bin/python3 -c "$sender" org.example.Chat.desktop 7 &
pids+=($!)
/usr/bin/python3 -c "$sender" org.example.Mail.desktop 12 &
pids+=($!)

# The items' titles, as the tray host reads them.
titles() {
  local entries entry service path
  entries=$(gdbus call --session --dest org.kde.StatusNotifierWatcher \
    --object-path /StatusNotifierWatcher --method org.freedesktop.DBus.Properties.Get \
    org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems 2>/dev/null |
    grep -o "'[^']*'" | tr -d "'")
  for entry in $entries; do
    service=${entry%%/*}
    path=/${entry#*/}
    [ "$path" = "/$service" ] && path=/StatusNotifierItem
    gdbus call --session --dest "$service" --object-path "$path" \
      --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem Title 2>/dev/null
  done
}
deadline=$((SECONDS + 30))
until titles | grep -q "Chat — 7" && titles | grep -q "Mail — 12"; do
  if [ $SECONDS -ge $deadline ]; then
    echo "desktop-picture: the tray items did not show the badges within 30 s" >&2
    titles >&2
    cat "$work/stderr.txt" >&2
    exit 1
  fi
  sleep 0.2
done
# The panel fetches and draws the new pixmaps after the titles changed: the picture is taken
# once two captures in a row agree.
capture() { import -window root -crop 240x32+1360+0 +repage "$1"; }
capture "$work/previous.png"
deadline=$((SECONDS + 10))
while :; do
  sleep 0.2
  capture "$work/current.png"
  if cmp -s <(convert "$work/previous.png" rgb:-) <(convert "$work/current.png" rgb:-) ||
    [ $SECONDS -ge $deadline ]; then
    break
  fi
  mv "$work/current.png" "$work/previous.png"
done
convert "$work/current.png" -scale 200% "$output"
kill -TERM "${pids[0]}"
wait "${pids[0]}"
status=$?
echo "desktop-picture: $output (lumarin ended with status $status; story in $work/story.txt)"
exit "$status"
