#!/usr/bin/env bash
# Installs the build tree into a scratch prefix, then builds and runs tiny
# consumers against the installed files only: through find_package(mervox)
# (C on the shared library, C++ on the static one) and through pkg-config
# (C, shared and static). Each must decode a corpus stream to its recorded
# digest.
set -euo pipefail
cmake=$1 build=$2 work=$3 consumer=$4 cc=$5 cxx=$6 pkgconfig=$7 flags=$8 corpus=$9

fail() { echo "FAIL: $*" >&2; exit 1; }
expect() {  # name stream -> "<frames> <digest>" of expected-digests.txt
  awk -v n="$1" '$1 == n { print $2, $3 }' "$corpus/expected-digests.txt"
}

rm -rf "$work" && mkdir -p "$work"
prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log"

libdir=$(dirname "$(find "$prefix" -name 'libmervox.so.*.*' | head -n 1)")
[ -n "$libdir" ] || fail "no libmervox.so.X.Y.Z installed"
soname=$(readelf -d "$libdir"/libmervox.so | sed -n 's/.*SONAME.*\[\(.*\)\]/\1/p')
[ "$soname" = libmervox.so.0 ] || fail "SONAME is '$soname', want libmervox.so.0"
for f in include/mervox.h include/mervox.hpp; do [ -f "$prefix/$f" ] || fail "$f not installed"; done
[ -f "$libdir/libmervox.a" ] || fail "static library not installed"

want_vad=$(expect speech-a.63-vad)
want_mixed=$(expect speech-a.mixed)
[ -n "$want_vad" ] && [ -n "$want_mixed" ] || fail "digests missing"

# find_package accepts only the installed minor version while the major
# version is 0 (0.3 may break what 0.2 offered, and the other way round).
version=$(sed -n 's/^Version: //p' "$libdir/pkgconfig/mervox.pc")
major=${version%%.*} minor=${version#*.} && minor=${minor%%.*}
probe=$work/version-probe
mkdir -p "$probe"
printf 'cmake_minimum_required(VERSION 3.18)\nproject(probe NONE)\nfind_package(mervox ${WANT} REQUIRED)\n' \
  >"$probe/CMakeLists.txt"
accepts() {  # version -> configure status of find_package(mervox version)
  rm -rf "$probe/build"
  "$cmake" -S "$probe" -B "$probe/build" -DWANT="$1" -DCMAKE_PREFIX_PATH="$prefix" >"$probe/$1.log" 2>&1
}
accepts "$major.$minor" || { cat "$probe/$major.$minor.log"; fail "find_package(mervox $major.$minor) rejects $version"; }
accepts "$major.$((minor + 1))" && fail "find_package(mervox $major.$((minor + 1))) accepts $version"
if [ "$major" = 0 ] && [ "$minor" -gt 0 ]; then
  accepts "0.$((minor - 1))" && fail "find_package(mervox 0.$((minor - 1))) accepts $version"
fi
grep -rq mervox_flags "$libdir/cmake/mervox" && fail "the installed package names the internal mervox_flags target"

# find_package
"$cmake" -S "$consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_COMPILER="$cc" \
  -DCMAKE_CXX_COMPILER="$cxx" -DMERVOX_REQUESTED_VERSION="$major.$minor" -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$flags" >"$work/cmake.log" 2>&1 || { cat "$work/cmake.log"; fail "configure"; }
"$cmake" --build "$work/cmake" >>"$work/cmake.log" 2>&1 || { cat "$work/cmake.log"; fail "build"; }
got=$("$work/cmake/consumer_c" "$corpus/speech-a.63-vad.bit")
[ "$got" = "$want_vad" ] || fail "find_package C consumer: '$got', want '$want_vad'"
got=$("$work/cmake/consumer_cpp" "$corpus/speech-a.mixed.bit")
[ "$got" = "$want_mixed" ] || fail "find_package C++ consumer: '$got', want '$want_mixed'"
readelf -d "$work/cmake/consumer_cpp" | grep -q 'libmervox' && fail "static consumer depends on libmervox.so"

# pkg-config
[ -n "$pkgconfig" ] || fail "pkg-config not found"
export PKG_CONFIG_PATH=$libdir/pkgconfig
[ "$("$pkgconfig" --modversion mervox)" = "$(sed -n 's/^Version: //p' "$libdir/pkgconfig/mervox.pc")" ] \
  || fail "pkg-config --modversion"
# shellcheck disable=SC2046
"$cc" $flags $("$pkgconfig" --cflags mervox) "$consumer/consumer.c" -o "$work/pc_shared" \
  $("$pkgconfig" --libs mervox) || fail "pkg-config shared build"
got=$(LD_LIBRARY_PATH=$libdir "$work/pc_shared" "$corpus/speech-a.63-vad.bit")
[ "$got" = "$want_vad" ] || fail "pkg-config shared consumer: '$got', want '$want_vad'"
# shellcheck disable=SC2046
"$cc" $flags $("$pkgconfig" --cflags mervox) "$consumer/consumer.c" -o "$work/pc_static" \
  $("$pkgconfig" --static --libs mervox | sed 's/-lmervox\b/-l:libmervox.a/') || fail "pkg-config static build"
got=$("$work/pc_static" "$corpus/speech-a.mixed.bit")
[ "$got" = "$want_mixed" ] || fail "pkg-config static consumer: '$got', want '$want_mixed'"

echo "installed tree OK: find_package and pkg-config consumers decode to the recorded digests"
