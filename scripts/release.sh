#!/usr/bin/env bash
# Makes a release in dist/: the Windows programs (the dialog and the console program, each with
# its demo), built by the windows preset, the Linux package and its -dbgsym package
# (scripts/package-linux.sh), and SHA256SUMS. Given a code-signing certificate and its key, it
# signs every Windows program with Authenticode first (SHA-256, osslsigncode) and verifies each
# signature; SHA256SUMS then lists the signed files. The Linux package is built a second time
# from a copy of the sources in another folder and must come out byte for byte the same
# (scripts/deb_reproducible.py), or there is no release.
#
#   bash scripts/release.sh
#   SIGN_CERT=cert.pem SIGN_KEY=key.pem bash scripts/release.sh
#
#   SIGN_CERT           PEM: the signing certificate, followed by any intermediate certificates
#   SIGN_KEY            PEM: its private key, unencrypted
#   SIGN_CA             PEM: the certificates the signatures are verified against; by default
#                       SIGN_CERT itself, which suits a self-signed certificate. For one issued by
#                       a certification authority, name the authority's root certificate.
#   SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server, so that the signature outlives the
#                       certificate; without it the files carry no time stamp (and signing needs
#                       no network)
#   VELTABOX_DEB_SECOND the folder of the package's second build, kept from an earlier check of
#                       the same sources (scripts/test.sh passes its own); by default a new one
#
# Users check a release with "sha256sum -c SHA256SUMS" in the download's directory, and the
# signature with "osslsigncode verify -in veltabox-updater.exe" or, on Windows, in the file's
# properties (tab "Digitale Signaturen").
set -euo pipefail
cd "$(dirname "$0")/.."

programs=(veltabox-updater.exe veltabox-updater-demo.exe veltabox-cli.exe veltabox-cli-demo.exe)
description=("SORVANTIK VELTABOX Firmware Updater" "SORVANTIK VELTABOX Firmware Updater (Demo)"
             "SORVANTIK VELTABOX Firmware Updater, Konsole" "SORVANTIK VELTABOX Firmware Updater, Konsole (Demo)")

sign=0
if [ -n "${SIGN_CERT:-}${SIGN_KEY:-}" ]; then
  for file in "${SIGN_CERT:?SIGN_KEY is set, SIGN_CERT is missing}" "${SIGN_KEY:?SIGN_CERT is set, SIGN_KEY is missing}"; do
    [ -r "$file" ] || { echo "cannot read $file" >&2; exit 2; }
  done
  command -v osslsigncode >/dev/null || { echo "signing needs osslsigncode (scripts/install-deps.sh)" >&2; exit 2; }
  sign=1
fi

echo "== building the windows preset"
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$(nproc)"

rm -rf dist
mkdir dist
if [ "$sign" = 0 ]; then
  echo "== not signed: SIGN_CERT and SIGN_KEY are not set"
  for exe in "${programs[@]}"; do cp "build/windows/$exe" "dist/$exe"; done
else
  # The signature must be this certificate's, not merely one that SIGN_CA would trust.
  leaf=$(openssl x509 -in "$SIGN_CERT" -outform DER | sha256sum | cut -d' ' -f1)
  stamp=()
  [ -n "${SIGN_TIMESTAMP_URL:-}" ] && stamp=(-ts "$SIGN_TIMESTAMP_URL")
  log=$(mktemp)
  trap 'rm -f "$log"' EXIT
  for i in "${!programs[@]}"; do
    exe=${programs[$i]}
    echo "== signing $exe"
    if ! osslsigncode sign -certs "$SIGN_CERT" -key "$SIGN_KEY" -h sha256 -n "${description[$i]}" "${stamp[@]}" \
        -in "build/windows/$exe" -out "dist/$exe" >"$log" 2>&1; then
      cat "$log" >&2
      echo "signing $exe failed" >&2
      exit 1
    fi
    if ! osslsigncode verify -CAfile "${SIGN_CA:-$SIGN_CERT}" -require-leaf-hash "sha256:$leaf" -in "dist/$exe" >"$log" 2>&1; then
      cat "$log" >&2
      echo "the signature of dist/$exe does not verify" >&2
      exit 1
    fi
    echo "   signature verified: $(grep -m1 'Subject:' "$log" | sed 's/^[[:space:]]*//')"
  done
fi

echo "== the Linux package, built twice"
bash scripts/package-linux.sh
python3 scripts/deb_reproducible.py ${VELTABOX_DEB_SECOND:+--second "$VELTABOX_DEB_SECOND"}
debs=()
for deb in build/package/*.deb; do
  cp "$deb" dist/
  debs+=("$(basename "$deb")")
done

(cd dist && sha256sum "${programs[@]}" "${debs[@]}" >SHA256SUMS && sha256sum --quiet -c SHA256SUMS)
echo "== dist/"
(cd dist && for file in "${programs[@]}" "${debs[@]}"; do echo "   $file: $(stat -c %s "$file") bytes"; done; sed 's/^/   /' SHA256SUMS)
