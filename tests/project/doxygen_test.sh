#!/usr/bin/env bash
# The API reference builds without a Doxygen warning (an undocumented or
# half-documented function, a broken reference, malformed Markdown in a
# page) and documents the public functions.
#   doxygen_test.sh DOXYFILE HEADER WORK     (HEADER: include/mervox.h)
set -euo pipefail
doxyfile=$1 header=$2 work=$3

fail() { echo "FAIL: $*" >&2; exit 1; }
if ! command -v doxygen >/dev/null; then
  [ "${CI:-}" != true ] || fail "Doxygen (Debian package doxygen) is not installed"
  echo "SKIP: Doxygen (Debian package doxygen) is not installed (scripts/install-deps.sh)"
  exit 77
fi
rm -rf "$work" && mkdir -p "$work"
# The build's configuration, written elsewhere, every warning to a log.
status=0
{ cat "$doxyfile"
  echo "OUTPUT_DIRECTORY = $work"
  echo "WARN_LOGFILE = $work/warnings.log"
  echo "WARN_AS_ERROR = FAIL_ON_WARNINGS"
} | doxygen - >"$work/doxygen.out" 2>&1 || status=$?
if [ -s "$work/warnings.log" ]; then
  cat "$work/warnings.log" >&2
  fail "Doxygen warned ($(wc -l <"$work/warnings.log") lines above)"
fi
[ "$status" -eq 0 ] || { cat "$work/doxygen.out" >&2; fail "doxygen exited with status $status"; }

# Every function of mervox.h has its entry in the reference.
functions=$(grep -oE '^MERVOX_API [^(]*\b[A-Za-z_]+\(' "$header" | grep -oE '[A-Za-z_]+\($' | tr -d '(')
[ "$(echo "$functions" | wc -w)" -ge 10 ] || fail "too few functions found in $header: $functions"
page=$work/html/mervox_8h.html
[ -f "$page" ] || fail "no reference page for mervox.h"
for f in $functions; do
  grep -q "class=\"memtitle\">.*</span>$f()</h2>" "$page" || fail "$f has no entry in the reference"
done
echo "API reference without warnings: $(echo $functions | wc -w) functions of mervox.h documented"
