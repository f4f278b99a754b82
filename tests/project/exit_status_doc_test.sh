#!/usr/bin/env bash
# The exit statuses are described once, in the rows "//| N | meaning |" of
# the command's exit_codes.h (the manual page's list is generated from them):
# the table in doc/command.md must hold the same rows, in the same order.
#   exit_status_doc_test.sh EXIT_CODES_H COMMAND_MD
set -euo pipefail
header=$1 page=$2

fail() { echo "FAIL: $*" >&2; exit 1; }
source_rows=$(sed -n 's/^\/\/\(| [0-9][0-9]* | .* |\)$/\1/p' "$header")
[ -n "$source_rows" ] || fail "no rows '//| N | meaning |' in $header"
# The rows of the table under the header "| exit status | meaning |".
page_rows=$(awk '/^\| exit status \| meaning \|$/ { on = 1; next }
                 on && /^\|---/ { next }
                 on && /^\|/ { print; next }
                 on { exit }' "$page")
[ -n "$page_rows" ] || fail "$page has no table '| exit status | meaning |'"
if [ "$source_rows" != "$page_rows" ]; then
  diff <(echo "$source_rows") <(echo "$page_rows") >&2 || true
  fail "the exit statuses in $page differ from $header (< source, > page)"
fi
echo "doc/command.md lists the $(echo "$source_rows" | wc -l) exit statuses of $(basename "$header")"
