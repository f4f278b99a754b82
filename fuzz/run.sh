#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer, UndefinedBehavior-
# Sanitizer, leak detection) into build/fuzz and runs each for a bounded time,
# starting from its committed seeds (fuzz/corpus/<target>) and regression
# inputs (fuzz/regressions/<target>). Fails on any crash, leak,
# timeout or sanitizer report; the offending input is left in
# build/fuzz/artifacts/.
#
#   fuzz/run.sh                    every target, 60 s each
#   FUZZ_SECONDS=600 fuzz/run.sh   longer
#   fuzz/run.sh legacy_exports     only the named targets
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
out=build/fuzz

if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz: clang++ not found (install clang and libclang-rt-14-dev)"
  [ "${CI:-}" = true ] && exit 1
  echo "fuzz: SKIPPED"; exit 0
fi

mkdir -p "$out"
if ! { cmake -S fuzz -B "$out" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
       && cmake --build "$out" -j"$(nproc 2>/dev/null || echo 2)"; } >"$out/build.log" 2>&1; then
  tail -n 40 "$out/build.log"
  echo "fuzz: build FAILED"; exit 1
fi

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for exe in "$out"/fuzz_*; do
    [ -x "$exe" ] && targets+=("$(basename "$exe" | sed 's/^fuzz_//')")
  done
fi

failed=()
for t in "${targets[@]}"; do
  exe=$out/fuzz_$t
  work=$out/work/$t
  mkdir -p "$work" "$out/artifacts"
  common=(-artifact_prefix="$out/artifacts/$t-" -timeout=10 -rss_limit_mb=2048 -max_len=4096)
  [ -f "fuzz/$t.dict" ] && common+=(-dict="fuzz/$t.dict")
  log=$out/$t.log
  echo "--- fuzz $t: ${seconds}s"
  ok=1
  # libFuzzer first runs every input of the corpus directories, so a
  # regression input that breaks again fails the run at once.
  dirs=("$work" "fuzz/corpus/$t")
  [ -d "fuzz/regressions/$t" ] && dirs+=("fuzz/regressions/$t")
  "$exe" "${common[@]}" -max_total_time="$seconds" -print_final_stats=1 "${dirs[@]}" >"$log" 2>&1 || ok=0
  if [ $ok = 1 ]; then
    grep -E "^stat::number_of_executed_units|^Done" "$log" | tail -n 1
  else
    tail -n 60 "$log"
    failed+=("$t")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: FAILED: ${failed[*]}"; exit 1
fi
echo "fuzz: all targets clean"
