#!/usr/bin/env bash
# The library builds with nothing but a compiler and CMake. Every optional
# package (GoogleTest, CLI11, nlohmann-json, Google Benchmark, Wireshark, and
# through pkg-config libsndfile, libpcap and GStreamer) is hidden from
# find_package, then:
#  1. a default configure skips the tests, tools and benchmarks that need them
#     with a message, builds the library and the checks that need nothing,
#     and the corpus check passes;
#  2. with CI=true the same configure fails, naming what is missing, while an
#     explicit library-only configure (-DMERVOX_BUILD_TESTS=OFF ...) works;
#  3. a parent project that adds mervox with add_subdirectory gets the
#     libraries only (no tests, tools or benchmarks of mervox), links
#     mervox::mervox_static and decodes a corpus stream to its digest.
#
#   library_only_test.sh CMAKE SOURCE_DIR WORK_DIR CC CXX
set -euo pipefail
cmake=$1 src=$2 work=$3 cc=$4 cxx=$5
ctest=$(dirname "$cmake")/ctest

fail() { echo "FAIL: $*" >&2; exit 1; }
rm -rf "$work" && mkdir -p "$work"

hidden=()
for p in GTest CLI11 nlohmann_json benchmark PkgConfig Wireshark; do
  hidden+=("-DCMAKE_DISABLE_FIND_PACKAGE_$p=ON")
done
common=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" "${hidden[@]}")

# 1. Top level, defaults, no optional package.
b=$work/top
env -u CI "$cmake" -S "$src" -B "$b" "${common[@]}" >"$work/top.log" 2>&1 \
  || { cat "$work/top.log"; fail "configure without optional packages"; }
for part in "the command-line tools" "the GoogleTest suites" "the benchmarks"; do
  grep -q "mervox: $part skipped" "$work/top.log" || { cat "$work/top.log"; fail "no message: $part skipped"; }
done
"$cmake" --build "$b" --parallel 2 >>"$work/top.log" 2>&1 || { tail -n 40 "$work/top.log"; fail "library-only build"; }
[ -f "$b/src/libmervox.a" ] && ls "$b"/src/libmervox.so.* >/dev/null 2>&1 || fail "libraries not built"
[ -e "$b/tools/mervox/mervox" ] && fail "the mervox command was built without its packages"
"$ctest" --test-dir "$b" -R '^corpus_check$' --output-on-failure >"$work/top-ctest.log" 2>&1 \
  || { cat "$work/top-ctest.log"; fail "corpus check of the library-only build"; }
grep -q "100% tests passed, 0 tests failed out of 1" "$work/top-ctest.log" || fail "corpus check did not run"

# 2. CI=true: a missing package is an error, unless its part is switched off.
if CI=true "$cmake" -S "$src" -B "$work/ci" "${common[@]}" >"$work/ci.log" 2>&1; then
  fail "CI=true configure passed without the optional packages"
fi
# CMake wraps the message: compare it with its line breaks as spaces.
tr -s '\n ' '  ' <"$work/ci.log" | grep -q "CI=true: a missing package is an error" \
  || { cat "$work/ci.log"; fail "CI=true message"; }
rm -rf "$work/ci"
CI=true "$cmake" -S "$src" -B "$work/ci" "${common[@]}" -DMERVOX_BUILD_TESTS=OFF -DMERVOX_BUILD_TOOLS=OFF \
  -DMERVOX_BUILD_BENCHMARKS=OFF -DMERVOX_WIRESHARK_PLUGIN=OFF -DMERVOX_GSTREAMER_PLUGIN=OFF >"$work/ci-off.log" 2>&1 || { cat "$work/ci-off.log"; fail "CI=true library-only"; }
grep -q "mervox: .* skipped" "$work/ci-off.log" && { cat "$work/ci-off.log"; fail "library-only configure reports a skipped part"; }

# 3. As a subproject.
parent=$work/parent
mkdir -p "$parent"
cat >"$parent/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.18)
project(mervox_parent C CXX)
add_subdirectory("$src" mervox)
add_executable(app "$src/tests/api/consumer/consumer.c")
target_link_libraries(app PRIVATE mervox::mervox_static)
EOF
env -u CI "$cmake" -S "$parent" -B "$parent/build" "${common[@]}" >"$work/parent.log" 2>&1 \
  || { cat "$work/parent.log"; fail "configure the parent project"; }
grep -q "mervox: .* skipped" "$work/parent.log" && { cat "$work/parent.log"; fail "subproject configure reports a skipped part"; }
"$cmake" --build "$parent/build" --parallel 2 >>"$work/parent.log" 2>&1 \
  || { tail -n 40 "$work/parent.log"; fail "build the parent project"; }
targets=$("$cmake" --build "$parent/build" --target help)
for t in mervox_cli mervox_unit_tests mervox_corpus_check mervox_bench mervox_gentables mervox_wireshark_codec \
  gstmervox; do
  grep -qw "$t" <<<"$targets" && fail "the parent project got mervox's $t"
done
"$ctest" --test-dir "$parent/build" -N | grep -q "Total Tests: 0" || fail "the parent project got mervox's tests"
want=$(awk '$1 == "speech-a.mixed" { print $2, $3 }' "$src/tests/data/corpus/expected-digests.txt")
got=$("$parent/build/app" "$src/tests/data/corpus/speech-a.mixed.bit")
[ -n "$want" ] && [ "$got" = "$want" ] || fail "subproject app decoded '$got', want '$want'"

echo "library-only builds OK: top level without optional packages, CI=true rules, subproject"
