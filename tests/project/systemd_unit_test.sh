#!/usr/bin/env bash
# The recorder's systemd unit: systemd-analyze verify finds nothing to say
# of it, and its command line, run as systemd would run it (continuation
# lines joined, specifiers filled in for instance "lo") with stand-ins for
# dumpcap and mervox, passes them the right options; when the whole group
# is sent SIGTERM, mervox reads to the end of its input and the service
# outlives it (a stop waits for the calls in progress to be written); and
# the service fails when dumpcap fails.
#   systemd_unit_test.sh UNIT WORK
set -euo pipefail
unit=$1 work=$2

fail() { echo "FAIL: $*" >&2; exit 1; }
if ! command -v systemd-analyze >/dev/null; then
  [ "${CI:-}" != true ] || fail "systemd-analyze (Debian package systemd) is not installed"
  echo "SKIP: systemd-analyze (Debian package systemd) is not installed (scripts/install-deps.sh)"
  exit 77
fi
rm -rf "$work" && mkdir -p "$work/bin"

# A template is verified as an instance of it. No manual pages are
# installed here (--man=no); any warning is a failure.
instance="$work/$(basename "${unit/@.service/@lo.service}")"
cp "$unit" "$instance"
if ! said=$(systemd-analyze verify --man=no "$instance" 2>&1) || [ -n "$said" ]; then
  fail "systemd-analyze verify: $said"
fi

# ExecStart as systemd reads it: "\" at a line's end joins the next line.
exec_start=$(sed -e ':a' -e '/\\$/{N;s/\\\n/ /;ba' -e '}' "$unit" | sed -n 's/^ExecStart=//p')
[[ $exec_start == "/bin/bash -c '"*"'" ]] || fail "ExecStart is not /bin/bash -c '...': $exec_start"
script=${exec_start#"/bin/bash -c '"}
script=${script%"'"}
[[ $script != *'$'* ]] || fail "ExecStart has a \$, which systemd would replace: $script"
# Specifiers: %i the instance, %% a "%"; any other would be filled in by
# systemd (%Y: the unit's directory, %m: the machine ID, %d: credentials).
script=$(sed -e 's/%%/\x01/g; s/%i/lo/g' <<<"$script")
[[ $script != *%* ]] || fail "ExecStart has a specifier other than %i and %%: $script"
script=${script//$'\x01'/%}

# Stand-ins. dumpcap: a packet line every 10 ms, ending cleanly at SIGTERM
# (or with STUB_STATUS after STUB_PACKETS packets). mervox: counts the lines
# to the end of its input (killed by SIGTERM unless the unit keeps it from
# it), then takes a while to write the calls in progress.
cat >"$work/bin/dumpcap" <<'EOF'
#!/bin/bash
exec 2>/dev/null  # the shell would say "Terminated" of the sleep the stop ends
echo "$*" >"$STUB_DIR/dumpcap.args"
trap 'exit 0' TERM
for ((i = 0; i < ${STUB_PACKETS:-1000}; i++)); do echo packet; sleep 0.01; done
exit "${STUB_STATUS:-0}"
EOF
cat >"$work/bin/mervox" <<'EOF'
#!/bin/bash
echo "$*" >"$STUB_DIR/mervox.args"
n=0
while IFS= read -r _; do n=$((n + 1)); done
sleep 0.5
echo "wrote the calls of $n packets" >>"$STUB_DIR/mervox.log"
EOF
chmod +x "$work/bin/dumpcap" "$work/bin/mervox"
export STUB_DIR=$work PATH="$work/bin:$PATH"

# A stop: SIGTERM to the whole group, as KillMode=control-group sends it.
setsid /bin/bash -c "$script" &
pid=$!
sleep 0.5
kill -TERM -- "-$pid"
status=0
wait "$pid" || status=$?
[ "$(cat "$work/dumpcap.args")" = "-q -i lo -w -" ] || fail "dumpcap got: $(cat "$work/dumpcap.args")"
expected="pcap - -o /var/lib/mervox/calls/%Y/%m/%d/ --json-lines /var/lib/mervox/calls.jsonl"
[ "$(cat "$work/mervox.args")" = "$expected" ] || fail "mervox got: $(cat "$work/mervox.args")"
grep -qE '^wrote the calls of [1-9][0-9]* packets$' "$work/mervox.log" 2>/dev/null ||
  fail "the service ended before mervox had written the calls (or the stop killed it)"
[ "$status" -eq 0 ] || fail "a stop ended the service with status $status"

# dumpcap fails (its interface went away): the service fails, to be started again.
rm -f "$work/mervox.log"
status=0
STUB_PACKETS=5 STUB_STATUS=2 /bin/bash -c "$script" || status=$?
grep -q '^wrote the calls of 5 packets$' "$work/mervox.log" || fail "mervox: $(cat "$work/mervox.log")"
[ "$status" -eq 2 ] || fail "dumpcap failed, the service ended with status $status"
echo "the recorder unit verifies and stops after mervox has written its calls"
