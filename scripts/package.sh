#!/usr/bin/env bash
# Builds the Debian packages of mervox from this tree, one per part:
# libmervox0, libmervox-dev, mervox, and the Wireshark plugin, GStreamer
# plugin and Python module where their development packages are installed.
#
#   scripts/package.sh [BUILD_DIR]     packages in BUILD_DIR (default build/package)
#
# Configured for the prefix /usr with Debian's hardening flags (from
# dpkg-buildflags; they keep -ffp-contract=off from cmake/MervoxFlags.cmake,
# so the packaged decoder gives the same samples as every other build).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/package}
jobs=$(nproc 2>/dev/null || echo 2)

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cflags="$(dpkg-buildflags --get CFLAGS) $cppflags"
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $cppflags"
ldflags=$(dpkg-buildflags --get LDFLAGS)

cmake -S . -B "$out" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DMERVOX_BUILD_TESTS=OFF -DMERVOX_BUILD_BENCHMARKS=OFF -DMERVOX_PACKAGING=ON \
  -DCMAKE_C_FLAGS="$cflags" -DCMAKE_CXX_FLAGS="$cxxflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" \
  -DCMAKE_MODULE_LINKER_FLAGS="$ldflags"
cmake --build "$out" -j"$jobs"
rm -f "$out"/*.deb
(cd "$out" && cpack -G DEB)
ls -1 "$out"/*.deb
