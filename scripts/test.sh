#!/usr/bin/env bash
# Builds mervox in every configuration that must give identical output and
# runs all tests: gcc -O2 (the main build), clang -O3, and gcc -O0 with
# AddressSanitizer and UndefinedBehaviorSanitizer, all with warnings as
# errors; then the library and the corpus check cross-built for aarch64 and
# s390x (big-endian) and run under qemu-user; then every fuzz target for
# about a minute, the Debian packages, and scripts/demo.sh in a freshly
# bootstrapped Debian 12. Ends with the total of tests passed and failed.
#
#   scripts/test.sh            install what is missing, then build and test
#   scripts/test.sh --quick    only the main build (gcc -O2) and its tests:
#                              a few minutes, for day-to-day work
#   MERVOX_SKIP_INSTALL=1 ...  do not call apt-get
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
quick=0
case ${1:-} in
  --quick) quick=1 ;;
  "") ;;
  *) echo "usage: $0 [--quick]" >&2; exit 2 ;;
esac

[ "${MERVOX_SKIP_INSTALL:-0}" = 1 ] || scripts/install-deps.sh

failures=()
passed=0
failed=0
# Adds one configuration's ctest totals ("N% tests passed, F tests failed out of T").
count_ctest() {
  local line
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$1" | tail -n 1) || true
  if [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    failed=$((failed + BASH_REMATCH[1]))
    passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
  else
    failed=$((failed + 1))
  fi
}

# run_config NAME [--target T] CMAKE-ARGS...: configure, build (everything,
# or target T), run ctest.
run_config() {
  local name=$1; shift
  local target=()
  if [ "${1:-}" = --target ]; then
    target=(--target "$2"); shift 2
  fi
  echo "=== $name ==="
  local start=$SECONDS
  if cmake -S . -B "build/$name" "$@" >"build-$name.log" 2>&1 \
     && cmake --build "build/$name" -j"$jobs" "${target[@]}" >>"build-$name.log" 2>&1; then
    (cd "build/$name" && ctest --output-on-failure -j"$jobs" | tee ctest.log) || failures+=("$name")
    count_ctest "build/$name/ctest.log"
  else
    tail -n 40 "build-$name.log"
    failures+=("$name (build)")
    failed=$((failed + 1))
  fi
  echo "($name: $((SECONDS - start)) s)"
}

# Cross build for another architecture (cmake/toolchain-ARCH.cmake): only the
# library and the corpus check, which runs under qemu-user. Skipped with a
# message where the cross compiler or qemu is missing; a failure under CI=true.
run_cross() {
  local arch=$1 name=cross-$1
  if ! command -v "$arch-linux-gnu-g++" >/dev/null 2>&1 || ! command -v "qemu-$arch" >/dev/null 2>&1; then
    echo "=== $name ==="
    echo "$name: needs g++-$arch-linux-gnu and qemu-user"
    if [ "${CI:-}" = true ]; then
      failures+=("$name (missing tools)"); failed=$((failed + 1))
    else
      echo "$name: SKIPPED"
    fi
    return
  fi
  run_config "$name" --target mervox_corpus_check -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMERVOX_WERROR=ON -DMERVOX_CORPUS_CHECK_ONLY=ON \
    -DMERVOX_BUILD_TOOLS=OFF -DMERVOX_BUILD_BENCHMARKS=OFF
}

mkdir -p build
run_config gcc-O2 -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc \
  -DMERVOX_WERROR=ON -DMERVOX_WINDOWS_TESTS=ON
if [ $quick = 1 ]; then
  [ ${#failures[@]} -gt 0 ] && echo "FAILED: ${failures[*]}"
  echo "Tests (quick): $passed passed, $failed failed"
  [ ${#failures[@]} -eq 0 ]
  exit
fi
run_config clang-O3 -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DMERVOX_WERROR=ON
run_config gcc-O0-sanitize -DCMAKE_BUILD_TYPE=Debug -DMERVOX_SANITIZE=ON -DCMAKE_CXX_COMPILER=g++ \
  -DCMAKE_C_COMPILER=gcc -DMERVOX_WERROR=ON
run_cross aarch64
run_cross s390x

# run_stage NAME COMMAND...: one pass/fail stage outside ctest (exit 77: skipped).
run_stage() {
  local name=$1; shift
  echo "=== $name ==="
  local start=$SECONDS status=0
  "$@" || status=$?
  if [ $status -eq 0 ]; then
    passed=$((passed + 1))
  elif [ $status -ne 77 ]; then
    failures+=("$name")
    failed=$((failed + 1))
  fi
  echo "($name: $((SECONDS - start)) s)"
}

# libFuzzer targets under ASan/UBSan, about a minute each (FUZZ_SECONDS).
run_stage fuzz fuzz/run.sh
# Debian packages: build, install with apt-get, use from the system paths, purge.
run_stage packages tests/packages/package_test.sh build/package
# The first quick-start command in a freshly bootstrapped minimal Debian 12.
run_stage fresh-debian-demo tests/project/fresh_debian_demo_test.sh

if [ ${#failures[@]} -gt 0 ]; then
  echo "FAILED: ${failures[*]}"
fi
echo "Tests: $passed passed, $failed failed"
[ ${#failures[@]} -eq 0 ]
