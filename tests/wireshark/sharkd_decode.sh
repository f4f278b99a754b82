#!/usr/bin/env bash
# sharkd with the installed Wireshark plugin decodes the G.723.1 streams of a
# capture to the samples of the installed `mervox decode` (package test).
#
#   tests/wireshark/sharkd_decode.sh CAPTURE WORKDIR system
set -euo pipefail
[ $# -eq 3 ] && [ "$3" = system ] || { echo "usage: $0 CAPTURE WORKDIR system" >&2; exit 2; }
exec /usr/bin/python3 "$(dirname "$0")/wireshark_tools_test.py" sharkd-installed "$1" "$2"
