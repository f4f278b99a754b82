#!/usr/bin/env bash
# Installs the Debian packages that building and testing mervox need.
# Runs apt-get only when something is missing; needs root (or sudo) then.
set -euo pipefail

packages=(
  # build and library tests
  build-essential cmake pkg-config libgtest-dev libgmock-dev
  # command-line tool
  libsndfile1-dev libcli11-dev libpcap-dev nlohmann-json3-dev
  # second compiler, sanitizers and fuzzing, memory checks, benchmarks
  clang libclang-rt-14-dev valgrind libbenchmark-dev
  # 32-bit Windows DLL and its tests under Wine
  g++-mingw-w64-i686 wine wine32:i386
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# wine32 is an i386 package.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
  as_root apt-get update -qq
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi
