#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, where they are missing.
set -euo pipefail
packages=(
  cmake make g++ clang libclang-rt-14-dev libgtest-dev googletest python3
  g++-mingw-w64-x86-64-posix wine wine64 fonts-wine xvfb xauth
  osslsigncode openssl
  # The Linux programs: GTK 3 and udev, and what their tests and their package need: umockdev
  # for udev events, a desktop session for the end-to-end tests (session bus, accessibility bus,
  # window manager, a stand-in logind, fonts), and the packaging tools.
  libgtk-3-dev libudev-dev pkg-config umockdev libumockdev-dev libumockdev0
  dbus dbus-x11 at-spi2-core python3-pyatspi python3-dbus python3-dbusmock openbox wmctrl fonts-dejavu-core
  # the demo's update once more on Wayland, under weston's headless backend
  weston
  imagemagick x11-utils dpkg-dev file lintian desktop-file-utils appstream
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
