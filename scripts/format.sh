#!/usr/bin/env bash
# Formats the C and C++ sources with .clang-format, or checks that they are.
#
#   scripts/format.sh            reformat every source file in place
#   scripts/format.sh --check    list the files that differ; exit 1 if any
#
# Every .c, .h, .cpp and .hpp file outside the build directories and the
# test data is covered. The formatting depends on clang-format's version:
# the project's is Debian 12's clang-format 14 (CLANG_FORMAT=... overrides).
# Exit status 77 means no clang-format 14 was found (under CI=true: 1).
set -euo pipefail
cd "$(dirname "$0")/.."

check=0
[ "${1:-}" = --check ] && check=1

missing() {
  echo "format: $1"
  [ "${CI:-}" = true ] && exit 1
  echo "format: SKIPPED"
  exit 77
}

tool=${CLANG_FORMAT:-}
if [ -z "$tool" ]; then
  for candidate in clang-format-14 clang-format; do
    if command -v "$candidate" >/dev/null 2>&1; then
      tool=$candidate
      break
    fi
  done
fi
[ -n "$tool" ] || missing "clang-format not found (Debian package clang-format)"
version=$("$tool" --version | sed -n 's/.*version \([0-9]*\)\..*/\1/p')
[ "$version" = 14 ] || missing "$tool is version ${version:-unknown}; the formatting is clang-format 14's"

mapfile -d '' files < <(find . \( -path './build*' -o -path './.git' -o -path './tests/data' -o -path './out' \) \
  -prune -o -type f \( -name '*.c' -o -name '*.h' -o -name '*.cpp' -o -name '*.hpp' \) -print0 | sort -z)
[ ${#files[@]} -gt 0 ] || { echo "format: no source files found"; exit 1; }

if [ $check = 0 ]; then
  "$tool" -i --style=file "${files[@]}"
  exit 0
fi

differ=0
for f in "${files[@]}"; do
  if ! "$tool" --style=file "$f" | cmp -s - "$f"; then
    echo "format: ${f#./} differs from clang-format's layout (scripts/format.sh fixes it):"
    "$tool" --style=file "$f" | diff -u "$f" - | sed -n '3,22p' || true
    differ=$((differ + 1))
  fi
done
echo "format: ${#files[@]} files checked, $differ to reformat"
[ $differ = 0 ]
