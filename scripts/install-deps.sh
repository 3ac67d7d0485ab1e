#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, where they are missing.
set -euo pipefail
packages=(
  cmake make g++ clang libclang-rt-14-dev libgtest-dev googletest python3
  g++-mingw-w64-x86-64-posix wine wine64 fonts-wine xvfb xauth
  osslsigncode openssl
  # The record of updates: SQLite for the Linux programs, and tclsh, which turns Debian's SQLite
  # sources into the one file the Windows programs compile in.
  libsqlite3-dev tcl
  # The Linux programs: GTK 3 and udev, and what their tests and their package need: umockdev
  # for udev events, a desktop session for the end-to-end tests (session bus, accessibility bus,
  # window manager, a stand-in logind, fonts), and the packaging tools (binutils to strip the
  # programs and keep their debug information aside, gdb to read it back, git for the package's
  # dates).
  libgtk-3-dev libudev-dev pkg-config umockdev libumockdev-dev libumockdev0
  dbus dbus-x11 at-spi2-core python3-pyatspi python3-dbus python3-dbusmock openbox wmctrl fonts-dejavu-core
  # the demo's update once more on Wayland, under weston's headless backend
  weston
  imagemagick x11-utils dpkg-dev file lintian desktop-file-utils appstream binutils gdb git
  # The station service: libsystemd for its notifications and journal, systemd-analyze for its
  # unit, the exporter and Prometheus (with promtool) its metrics are shown against, and setfacl,
  # with which the package gives the service the exporter's folder.
  libsystemd-dev systemd prometheus prometheus-node-exporter curl acl
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

# The Windows programs carry SQLite inside them, compiled from Debian's own source package of
# the version the Linux programs link, so that both read and write one file format and no copy of
# SQLite lives in this repository. Its sources come from the archive the system already uses
# (a deb-src entry of its own beside debian.sources), into a cache outside the repository; the
# amalgamation (sqlite3.c) is made there with the features the record does not use left out of
# its grammar (history/sqlite-options.txt), again whenever that list changes.
SQLITE_SOURCE_CACHE=${SQLITE_SOURCE_CACHE:-/var/cache/veltabox/sqlite3-source}
options=$(dirname "$0")/../history/sqlite-options.txt
if [ ! -f "$SQLITE_SOURCE_CACHE/sqlite3.c" ] || ! cmp -s "$options" "$SQLITE_SOURCE_CACHE/sqlite-options.txt"; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  sources=/etc/apt/sources.list.d/veltabox-deb-src.sources
  if [ ! -f "$sources" ]; then
    # The same URIs, suites and key as debian.sources, as source entries.
    sed -e 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources | $sudo tee "$sources" >/dev/null
    $sudo apt-get update
  fi
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  (cd "$work" && apt-get source --download-only sqlite3 >/dev/null && dpkg-source --no-check -x sqlite3_*.dsc tree >/dev/null)
  opts=$(grep -v '^#' "$options" | sed -e 's/^/-D/' | tr '\n' ' ')
  mkdir "$work/make"
  (cd "$work/make" && ../tree/configure --disable-tcl >/dev/null && make sqlite3.c OPTS="$opts" >/dev/null)
  version=$(cd "$work" && ls sqlite3_*.dsc | sed -e 's/^sqlite3_//' -e 's/\.dsc$//')
  $sudo mkdir -p "$SQLITE_SOURCE_CACHE"
  $sudo rm -f "$SQLITE_SOURCE_CACHE/sqlite3.c"
  $sudo cp "$work/make/sqlite3.h" "$options" "$SQLITE_SOURCE_CACHE/"
  echo "$version" | $sudo tee "$SQLITE_SOURCE_CACHE/debian-version" >/dev/null
  # Last, so that an interrupted run leaves no cache that looks complete.
  $sudo cp "$work/make/sqlite3.c" "$SQLITE_SOURCE_CACHE/"
fi
