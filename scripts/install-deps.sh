#!/usr/bin/env bash
# The one place that installs what Lumarin needs to build, run and test on Debian 12.
# Idempotent: packages that are already installed are skipped. Runs as root, or through
# sudo otherwise.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build ccache pkg-config clang-format clang-tidy
  # Qt 6: windows, painting, images, Unicode tables, collation
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-translations-l10n
  # JSON
  nlohmann-json3-dev
  # collation and word rules of the HUD's filter
  libicu-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # the reference web service: HTTP server, embedded and shared databases, hashing
  libcpp-httplib-dev libsqlite3-dev libssl-dev libpq-dev postgresql
  # the program's account and settings sync: HTTP client, the secret store
  libcurl4-openssl-dev qtkeychain-qt6-dev
  # the sign-in test drives a real browser through WebDriver
  chromium chromium-driver
  # what the simulated Mac draws with and headless windows
  adwaita-icon-theme fonts-dejavu-core xvfb xauth
  # the windows' texts in Japanese, Korean and Chinese
  fonts-noto-cjk
  # the session bus the HUD layout exchange rides on (its test starts a private one)
  dbus-daemon
  # the updater: reading (program) and writing (service) the update feed, unpacking updates
  libpugixml-dev libarchive-dev
  # the desktop platform: a test desktop with a real tray host (scripts/desktop-session.sh)
  xvfb xauth dbus-daemon xdotool imagemagick x11-utils adwaita-icon-theme hicolor-icon-theme
  xfce4-panel
  # system-wide shortcuts on X11 (a passive key grab through xcb)
  libxcb1-dev
  # real launcher-protocol senders in the desktop tests: gdbus, GLib from Python, and the
  # launcher library apps link (libunity, through GObject introspection)
  libglib2.0-bin python3-gi gir1.2-unity-7.0 libunity9
  # real tray apps in the tray host tests: one on libayatana-appindicator (through Python), and a
  # Qt 5 tray app
  gir1.2-gtk-3.0 gir1.2-ayatanaappindicator3-0.1 flameshot
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: everything is installed"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
