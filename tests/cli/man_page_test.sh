#!/usr/bin/env bash
# The manual page and `mervox --help` describe the same command: the same
# subcommands, and for each subcommand the same options.
#   man_page_test.sh MERVOX MAN_PAGE
set -euo pipefail
mervox=$1 page=$2

fail() { echo "FAIL: $*" >&2; exit 1; }
# Long options in a text, one per line, sorted.
long_options() { grep -oE -- '--[a-z][a-z0-9-]*' | sort -u; }
# The man page's text with roff's escaped hyphens as plain ones.
plain_page=$(sed 's/\\-/-/g' "$page")

subcommands=$("$mervox" --help | awk '/^Subcommands:/ {on = 1; next} on && NF {print $1}')
[ -n "$subcommands" ] || fail "no subcommands in mervox --help"
for sub in $subcommands; do
  grep -qE "^\.B(I)? \"?$sub\b" <<<"$plain_page" || fail "the man page has no entry for '$sub'"
done

help_options=$({ "$mervox" --help; for sub in $subcommands; do "$mervox" "$sub" --help; done; } | long_options)
page_options=$(long_options <<<"$plain_page")
missing=$(comm -23 <(echo "$help_options") <(echo "$page_options"))
extra=$(comm -13 <(echo "$help_options") <(echo "$page_options"))
[ -z "$missing" ] || fail "options in --help but not in the man page: $missing"
[ -z "$extra" ] || fail "options in the man page but not in --help: $extra"

version=$("$mervox" --version | awk '{print $2}')
grep -q "^\.TH MERVOX 1 .*\"mervox $version\"" "$page" || fail "the man page is not for version $version"
echo "man page and --help agree: $(echo $subcommands) and $(echo "$help_options" | wc -l) options"
