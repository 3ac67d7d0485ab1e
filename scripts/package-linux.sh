#!/usr/bin/env bash
# Builds the Debian package of the Linux programs with CPack and checks it: the files it must
# hold, the icons' sizes, the dependencies dpkg-shlibdeps found, the desktop entry, the programs'
# hardening, stripping and debug package (tests/linux/package_check.py), and lintian, which must
# report no error and, pedantic, no hardening or unneeded-section tag. The package and its
# -dbgsym package are left in build/package/.
#
#   bash scripts/package-linux.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

echo "== building the Linux programs"
cmake --preset linux >/dev/null
cmake --build --preset linux -j"$(nproc)" --target veltabox-updater veltabox-updater-demo veltabox-cli veltabox-cli-demo \
  veltabox_package_files

echo "== packaging"
rm -rf build/package
(cd build/linux && cpack -G DEB -B "$root/build/package" >"$root/build/package.log" 2>&1) || { cat build/package.log; exit 1; }
deb=$(ls build/package/veltabox-updater_*_amd64.deb)
dbgsym=$(ls build/package/veltabox-updater-dbgsym_*_amd64.deb)
for file in "$deb" "$dbgsym"; do
  echo "   $file: $(stat -c %s "$file") bytes, SHA-256 $(sha256sum "$file" | cut -d' ' -f1)"
done

passes=0
failures=0
pass() { echo "PASS $*"; passes=$((passes + 1)); }
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
required=(
  ./usr/bin/veltabox-updater
  ./usr/bin/veltabox-updater-demo
  ./usr/lib/udev/rules.d/70-veltabox.rules
  ./usr/share/applications/veltabox-updater.desktop
  ./usr/share/icons/hicolor/16x16/apps/veltabox-updater.png
  ./usr/share/icons/hicolor/32x32/apps/veltabox-updater.png
  ./usr/share/icons/hicolor/48x48/apps/veltabox-updater.png
  ./usr/share/doc/veltabox-updater/copyright
  ./usr/share/doc/veltabox-updater/changelog.Debian.gz
  ./usr/share/man/man1/veltabox-updater.1.gz
  ./usr/bin/veltabox-cli
  ./usr/bin/veltabox-cli-demo
  ./usr/share/man/man1/veltabox-cli.1.gz
  ./usr/share/metainfo/veltabox-updater.metainfo.xml
  ./usr/lib/systemd/system/veltabox-station.service
  ./usr/lib/sysusers.d/veltabox-station.conf
)
for path in "${required[@]}"; do
  grep -qxF "$path" <<<"$contents" && pass "holds $path" || fail "does not hold $path"
done

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
for size in 16 32 48; do
  got=$(identify -format '%wx%h' "$unpacked/usr/share/icons/hicolor/${size}x${size}/apps/veltabox-updater.png" 2>/dev/null || true)
  [ "$got" = "${size}x${size}" ] && pass "icon ${size}x${size}" || fail "icon ${size}x${size} is '$got'"
done
depends=$(dpkg-deb -f "$deb" Depends)
echo "   Depends: $depends"
for library in libgtk-3-0 libudev1 libc6; do
  grep -q "$library" <<<"$depends" && pass "depends on $library" || fail "no dependency on $library"
done
if desktop-file-validate "$unpacked/usr/share/applications/veltabox-updater.desktop"; then
  pass "desktop entry is valid"
else
  fail "desktop entry does not validate"
fi

if appstreamcli validate --no-net --pedantic "$unpacked/usr/share/metainfo/veltabox-updater.metainfo.xml"; then
  pass "AppStream metadata is valid"
else
  fail "AppStream metadata does not validate"
fi

echo "== the programs: hardening, stripping, debug package"
if /usr/bin/python3 tests/linux/package_check.py "$deb" "$dbgsym" "$root" >"$unpacked/check.log" 2>&1; then
  pass "the programs are hardened and stripped, gdb reads their debug package ($(tail -n 1 "$unpacked/check.log"))"
else
  grep -v '^PASS' "$unpacked/check.log" | sed 's/^/   /'
  fail "the programs' checks"
fi

echo "== lintian"
set +e
lintian --pedantic --display-info --fail-on error "$deb" "$dbgsym" >"$unpacked/lintian.log" 2>&1
status=$?
set -e
sed 's/^/   /' "$unpacked/lintian.log"
[ "$status" -eq 0 ] && pass "lintian reports no error" || fail "lintian reports errors (exit code $status)"
if grep -E '^[EWIPX]: .*(hardening-|binary-has-unneeded-section)' "$unpacked/lintian.log" >/dev/null; then
  fail "lintian finds a program not hardened or not stripped as Debian's are"
else
  pass "lintian finds no hardening tag and no unneeded section"
fi

echo "== installing and removing it"
# A maintainer script that fails leaves the package half-configured on the user's machine: dpkg
# runs them here, as root, where udevd may or may not run. Never over an installation of the
# machine's own.
if [ "$(id -u)" -ne 0 ]; then
  echo "   skipped: installing needs root"
elif dpkg-query -W -f='${Status}\n' veltabox-updater veltabox-updater-dbgsym 2>/dev/null | grep -q " installed$"; then
  echo "   skipped: veltabox-updater or its debug package is already installed on this machine"
elif dpkg -i "$deb" "$dbgsym" >"$unpacked/dpkg.log" 2>&1; then
  pass "dpkg -i installs and configures it and its debug package"
  [ -x /usr/bin/veltabox-updater ] && [ -f /usr/lib/udev/rules.d/70-veltabox.rules ] &&
    pass "the program and the udev rule are in place" || fail "installed without the program or the udev rule"
  getent passwd veltabox-station >/dev/null && pass "the station service's user exists" || fail "no user veltabox-station"
  if [ -d /var/lib/prometheus/node-exporter ]; then
    getfacl -cp /var/lib/prometheus/node-exporter 2>/dev/null | grep -qx "user:veltabox-station:rwx" &&
      pass "the station service may write into node_exporter's textfile folder" || fail "no ACL for veltabox-station"
  fi
  # Installed, the debug information is where gdb looks by default.
  gdb -batch -nx -ex 'info line main' /usr/bin/veltabox-updater 2>/dev/null | grep -q '^Line [0-9]* of ".*platform/linux/gtk/main.cpp"' &&
    pass "gdb finds the installed program's lines without being told where" || fail "gdb finds no line of the installed program"
  dpkg --purge veltabox-updater-dbgsym veltabox-updater >>"$unpacked/dpkg.log" 2>&1 && pass "dpkg --purge removes both" || fail "dpkg --purge fails"
  if [ -d /var/lib/prometheus/node-exporter ] && getfacl -cp /var/lib/prometheus/node-exporter 2>/dev/null | grep -q veltabox-station; then
    fail "the ACL for veltabox-station stayed after the purge"
  fi
  [ ! -e /usr/bin/veltabox-updater ] || fail "the program stayed after the removal"
else
  sed 's/^/   /' "$unpacked/dpkg.log"
  fail "dpkg -i fails"
  dpkg --purge veltabox-updater-dbgsym veltabox-updater >/dev/null 2>&1 || true
fi

echo "package-linux: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
