#!/usr/bin/env bash
# Builds mervox in every configuration that must give identical output and
# runs all tests: gcc -O2 (the main build), clang -O3, and gcc -O0 with
# AddressSanitizer and UndefinedBehaviorSanitizer.
#
#   scripts/test.sh            install what is missing, then build and test
#   MERVOX_SKIP_INSTALL=1 ...  do not call apt-get
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

[ "${MERVOX_SKIP_INSTALL:-0}" = 1 ] || scripts/install-deps.sh

failures=()
run_config() {
  local name=$1; shift
  echo "=== $name ==="
  if cmake -S . -B "build/$name" "$@" >"build-$name.log" 2>&1 \
     && cmake --build "build/$name" -j"$jobs" >>"build-$name.log" 2>&1; then
    (cd "build/$name" && ctest --output-on-failure -j"$jobs") || failures+=("$name")
  else
    tail -n 40 "build-$name.log"
    failures+=("$name (build)")
  fi
}

mkdir -p build
run_config gcc-O2 -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc -DMERVOX_WINDOWS_TESTS=ON
run_config clang-O3 -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang
run_config gcc-O0-sanitize -DCMAKE_BUILD_TYPE=Debug -DMERVOX_SANITIZE=ON -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc

# libFuzzer targets under ASan/UBSan, about a minute each (FUZZ_SECONDS).
echo "=== fuzz ==="
fuzz/run.sh || failures+=("fuzz")

if [ ${#failures[@]} -gt 0 ]; then
  echo "FAILED: ${failures[*]}"
  exit 1
fi
echo "All configurations passed."
