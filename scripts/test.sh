#!/usr/bin/env bash
# Every test of the project: the suites natively (the Linux window half's and HID half's among
# them), the same suites under AddressSanitizer and UndefinedBehaviorSanitizer, the Linux package
# with lintian, its programs' hardening and debug package, and its reproducibility, the Linux
# programs end to end through their accessibility tree, the station service with systemd's tools,
# a journal socket of its own, node_exporter and Prometheus, bounded fuzzing
# runs of the device link and of the hidraw backend's report-descriptor parser, the Windows
# programs' cross build with its resource and reproducibility checks, a signed release of them,
# and the signed programs end to end under Wine: the demo and the no-box cases, then the shipped
# program and the console program against boxes emulated behind Wine's own HID stack.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

echo "== native build and tests"
cmake --preset linux >/dev/null
cmake --build --preset linux -j"$jobs"
ctest --preset linux -j"$jobs"

echo "== sanitizers"
cmake --preset linux-sanitize >/dev/null
cmake --build --preset linux-sanitize -j"$jobs"
ctest --preset linux-sanitize -j"$jobs"

echo "== the Linux package"
bash scripts/package-linux.sh
# The package built once more, from a copy of the sources in another folder, the tests left out:
# the two must be byte-identical. The copy is kept for the release below, which checks the same
# and so rebuilds nothing.
debsecond=$(mktemp -d)
trap 'rm -rf "$debsecond"' EXIT
/usr/bin/python3 scripts/deb_reproducible.py --second "$debsecond"

echo "== the Linux programs end to end (Xvfb, accessibility tree)"
/usr/bin/python3 tests/linux/ui_e2e.py

echo "== the console program end to end (emulated boxes, a pseudo terminal)"
/usr/bin/python3 tests/linux/cli_e2e.py

echo "== the station service: its unit, systemd's notifications, the journal, node_exporter and Prometheus"
/usr/bin/python3 tests/linux/station_e2e.py

# fuzz TARGET SECONDS MAX_LEN INPUTS: a bounded run of one fuzzer on the inputs in $corpus/INPUTS;
# its whole log only when it found something, else its tally.
fuzz() {
  local log=$corpus/$4.log
  if ! "./build/fuzz/fuzz/$1" -max_total_time="$2" -max_len="$3" -print_final_stats=1 "$corpus/$4" >"$log" 2>&1; then
    cat "$log"
    exit 1
  fi
  grep -E '^(Done|stat::number_of_executed_units)' "$log" || tail -n 3 "$log"
}

echo "== fuzzing the device link (${FUZZ_SECONDS:=60} s)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$jobs"
corpus=$(mktemp -d)
mkdir -p "$corpus/inputs"
trap 'rm -rf "$debsecond" "$corpus"' EXIT
fuzz fuzz_device_link "$FUZZ_SECONDS" 512 inputs

echo "== fuzzing the hidraw backend's report-descriptor parser (${FUZZ_DESCRIPTOR_SECONDS:=30} s)"
mkdir -p "$corpus/descriptors"
# The box's own descriptor as the first input: the fuzzer starts from a well-formed one.
printf '\x06\x00\xff\x09\x01\xa1\x01\x15\x00\x26\xff\x00\x75\x08\x85\x02\x09\x02\x95\x3f\x81\x02\x85\x01\x09\x03\x95\x3f\x91\x02\xc0' \
  >"$corpus/descriptors/box"
# 4096 bytes: the longest descriptor the kernel keeps.
fuzz fuzz_report_descriptor "$FUZZ_DESCRIPTOR_SECONDS" 4096 descriptors

echo "== Windows programs: cross build, resources, reproducibility"
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$jobs"
python3 resources/check_resources.py
second=$(mktemp -d)
trap 'rm -rf "$debsecond" "$corpus" "$second"' EXIT
cmake --preset windows -B "$second/build" >/dev/null
cmake --build "$second/build" -j"$jobs" >/dev/null
for exe in veltabox-updater.exe veltabox-updater-demo.exe veltabox-cli.exe veltabox-cli-demo.exe history_probe.exe; do
  cmp "build/windows/$exe" "$second/build/$exe"
  echo "$exe: $(stat -c %s "build/windows/$exe") bytes, identical in two clean builds"
done

echo "SQLite compiled into the Windows programs: $(x86_64-w64-mingw32-size -t build/windows/history/libveltabox_sqlite.a | awk 'END {print $4}') bytes of code and data"

echo "== the record of updates with SQLite compiled in, under Wine"
python3 scripts/history_wine.py

echo "== release: the programs signed with a throwaway certificate"
keys=$(mktemp -d)
trap 'rm -rf "$debsecond" "$corpus" "$second" "$keys"' EXIT
openssl req -x509 -newkey rsa:3072 -nodes -days 1 -subj "/CN=VELTABOX release check (throwaway)" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
  -keyout "$keys/key.pem" -out "$keys/cert.pem" 2>/dev/null
SIGN_CERT=$keys/cert.pem SIGN_KEY=$keys/key.pem VELTABOX_DEB_SECOND=$debsecond bash scripts/release.sh
(cd dist && sha256sum -c SHA256SUMS)
# The verification the release rests on must refuse a signed program with one byte changed.
python3 -c 'import sys; d = bytearray(open(sys.argv[1], "rb").read()); d[4096] ^= 0xFF; open(sys.argv[2], "wb").write(d)' \
  dist/veltabox-updater.exe "$keys/changed.exe"
if osslsigncode verify -CAfile "$keys/cert.pem" -in "$keys/changed.exe" >/dev/null 2>&1; then
  echo "FAIL: a signed program with one byte changed passed osslsigncode verify" >&2
  exit 1
fi
echo "   a signed program with one byte changed fails verification"

echo "== the signed programs under Wine"
bash scripts/wine-e2e.sh --programs dist

echo "== the signed shipped program against emulated boxes, through Wine's HID stack"
bash scripts/emulated-box-e2e.sh --programs dist

echo "== the signed console program against two emulated boxes, through Wine's HID stack"
python3 tests/cli_wine_e2e.py --programs dist
