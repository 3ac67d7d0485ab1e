#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, where they are missing.
set -euo pipefail
packages=(
  cmake make g++ clang libclang-rt-14-dev libgtest-dev googletest python3
  g++-mingw-w64-x86-64-posix wine wine64 fonts-wine xvfb xauth
  osslsigncode openssl
  pkg-config umockdev libumockdev-dev libumockdev0
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
