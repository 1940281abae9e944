#!/usr/bin/env bash
# A throw-away freedesktop desktop for trying the program's desktop platform: an Xvfb display,
# a private session bus and, unless --no-panel is given, xfce4-panel as a real tray host
# (the owner of org.kde.StatusNotifierWatcher). Everything lives under a temporary root:
# XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_CACHE_HOME and XDG_RUNTIME_DIR point there, so nothing
# the desktop's services write reaches the real home.
#
#   scripts/desktop-session.sh [--no-panel] [--size WxH] [--] COMMAND [ARGS...]
#       starts the desktop, runs COMMAND in it, tears the desktop down and exits with
#       COMMAND's status.
#   source scripts/desktop-session.sh [--no-panel] [--size WxH]
#       starts the desktop and exports its environment into the calling shell; call
#       `desktop_session_stop` when done (also run when the shell exits).
#
# Further helpers once started: desktop_session_start_panel, desktop_session_stop_panel.
# Packages: xvfb xauth dbus-daemon x11-utils xfce4-panel (scripts/install-deps.sh).

_ds_sourced=0
if [ "${BASH_SOURCE[0]}" != "$0" ]; then
  _ds_sourced=1
fi

_ds_die() {
  echo "desktop-session: $*" >&2
  if [ "$_ds_sourced" -eq 1 ]; then
    desktop_session_stop
    return 1
  fi
  desktop_session_stop
  exit 1
}

# The panel with a stretching separator and the notification area, at the top of the screen.
_ds_write_panel_config() {
  local dir="$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml"
  mkdir -p "$dir"
  cat >"$dir/xfce4-panel.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
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
      <property name="style" type="uint" value="0"/>
    </property>
    <property name="plugin-2" type="string" value="systray">
      <property name="square-icons" type="bool" value="false"/>
      <property name="icon-size" type="int" value="22"/>
    </property>
  </property>
</channel>
XML
}

desktop_session_start_panel() {
  command -v xfce4-panel >/dev/null || { echo "desktop-session: xfce4-panel is not installed" >&2; return 1; }
  _ds_write_panel_config
  # Its own process group, so stopping it also ends the plugin wrappers it runs.
  setsid xfce4-panel --disable-wm-check >"$DESKTOP_SESSION_ROOT/panel.log" 2>&1 &
  DESKTOP_SESSION_PANEL_PID=$!
  export DESKTOP_SESSION_PANEL_PID
  # Without a window manager check the systray plugin owns the watcher within a second.
  if ! gdbus wait --session --timeout 15 org.kde.StatusNotifierWatcher; then
    echo "desktop-session: the panel's tray did not appear (see $DESKTOP_SESSION_ROOT/panel.log)" >&2
    return 1
  fi
}

desktop_session_stop_panel() {
  if [ -n "${DESKTOP_SESSION_PANEL_PID:-}" ]; then
    kill -TERM -- "-$DESKTOP_SESSION_PANEL_PID" 2>/dev/null
    wait "$DESKTOP_SESSION_PANEL_PID" 2>/dev/null
    unset DESKTOP_SESSION_PANEL_PID
  fi
}

desktop_session_stop() {
  desktop_session_stop_panel
  if [ -n "${DESKTOP_SESSION_BUS_PID:-}" ]; then
    kill -TERM "$DESKTOP_SESSION_BUS_PID" 2>/dev/null
    unset DESKTOP_SESSION_BUS_PID
  fi
  if [ -n "${DESKTOP_SESSION_XVFB_PID:-}" ]; then
    kill -TERM "$DESKTOP_SESSION_XVFB_PID" 2>/dev/null
    wait "$DESKTOP_SESSION_XVFB_PID" 2>/dev/null
    unset DESKTOP_SESSION_XVFB_PID
  fi
  if [ -n "${DESKTOP_SESSION_ROOT:-}" ] && [ -d "$DESKTOP_SESSION_ROOT" ]; then
    rm -rf -- "$DESKTOP_SESSION_ROOT"
    unset DESKTOP_SESSION_ROOT
  fi
}

desktop_session_start() {
  local panel=1 size=1600x900
  while [ $# -gt 0 ]; do
    case "$1" in
      --no-panel) panel=0 ;;
      --size) size="$2"; shift ;;
      --) shift; break ;;
      *) break ;;
    esac
    shift
  done
  _ds_args=("$@")
  command -v Xvfb >/dev/null || { _ds_die "Xvfb is not installed"; return 1; }
  command -v dbus-daemon >/dev/null || { _ds_die "dbus-daemon is not installed"; return 1; }

  DESKTOP_SESSION_ROOT=$(mktemp -d "${TMPDIR:-/tmp}/lumarin-desktop.XXXXXX")
  export DESKTOP_SESSION_ROOT
  # Before the bus starts: services it launches on demand (xfconfd, dconf) inherit the
  # daemon's environment, not the caller's.
  export XDG_CONFIG_HOME="$DESKTOP_SESSION_ROOT/config"
  export XDG_DATA_HOME="$DESKTOP_SESSION_ROOT/data"
  export XDG_CACHE_HOME="$DESKTOP_SESSION_ROOT/cache"
  export XDG_RUNTIME_DIR="$DESKTOP_SESSION_ROOT/runtime"
  export NO_AT_BRIDGE=1
  mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
  chmod 0700 "$XDG_RUNTIME_DIR"

  # Xvfb picks a free display and writes its number once it accepts clients.
  mkfifo "$DESKTOP_SESSION_ROOT/displayfd"
  Xvfb -displayfd 5 -screen 0 "${size}x24" -nolisten tcp \
    5>"$DESKTOP_SESSION_ROOT/displayfd" >"$DESKTOP_SESSION_ROOT/xvfb.log" 2>&1 &
  DESKTOP_SESSION_XVFB_PID=$!
  export DESKTOP_SESSION_XVFB_PID
  local display=""
  if ! read -r -t 15 display <"$DESKTOP_SESSION_ROOT/displayfd" || [ -z "$display" ]; then
    _ds_die "Xvfb did not start (see $DESKTOP_SESSION_ROOT/xvfb.log)"
    return 1
  fi
  export DISPLAY=":$display"

  # --fork returns once the daemon listens; it prints its address and pid first.
  if ! dbus-daemon --session --fork --print-address=3 --print-pid=4 \
      3>"$DESKTOP_SESSION_ROOT/bus.address" 4>"$DESKTOP_SESSION_ROOT/bus.pid"; then
    _ds_die "dbus-daemon did not start"
    return 1
  fi
  DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$DESKTOP_SESSION_ROOT/bus.address")
  DESKTOP_SESSION_BUS_PID=$(head -n1 "$DESKTOP_SESSION_ROOT/bus.pid")
  export DBUS_SESSION_BUS_ADDRESS DESKTOP_SESSION_BUS_PID

  if [ "$panel" -eq 1 ]; then
    desktop_session_start_panel || { _ds_die "no tray host"; return 1; }
  fi
}

if [ "$_ds_sourced" -eq 1 ]; then
  desktop_session_start "$@" || return 1
  trap desktop_session_stop EXIT
  echo "desktop-session: DISPLAY=$DISPLAY, bus $DBUS_SESSION_BUS_ADDRESS, root $DESKTOP_SESSION_ROOT" >&2
else
  set -uo pipefail
  trap desktop_session_stop EXIT
  trap 'exit 130' INT TERM
  desktop_session_start "$@" || exit 1
  if [ ${#_ds_args[@]} -eq 0 ]; then
    echo "usage: $0 [--no-panel] [--size WxH] [--] COMMAND [ARGS...]" >&2
    exit 2
  fi
  "${_ds_args[@]}"
  exit $?
fi
