#!/usr/bin/env bash
# A real SIP call between two SIPp user agents on the loopback interface,
# captured with dumpcap: the caller offers G.723.1 on payload type 96, both
# send speech, the caller puts the callee on hold with a re-INVITE of the
# same dialog and hangs up. Mid-call a third host sends one INVITE of
# another call whose SDP names the callee's media with a=crypto. `mervox
# pcap` must find the call holding both streams, decoded through its SDP's
# mapping and ended by its BYE, and the forger's call without any.
#
#   sipp_call_test.sh MERVOX CORPUS_FRAMES
#
# Exits 77 (skipped) without sipp or dumpcap, or without the right to
# capture; under CI=true that is a failure instead.
set -uo pipefail
skip() {
  echo "SKIPPED: $1"
  [ "${CI:-}" = true ] && exit 1
  exit 77
}
mervox=$1
frames=$2
here=$(cd "$(dirname "$0")" && pwd)
for tool in sipp dumpcap; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool not found (packages sip-tester, wireshark-common)"
done
dir=$(mktemp -d)
capture_pid=
cleanup() {
  [ -n "$capture_pid" ] && kill "$capture_pid" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
cd "$dir" || exit 1
/usr/bin/python3 "$here/rtp_pcap.py" "$frames" caller-rtp.pcap 0xca11e4 130 || exit 1
/usr/bin/python3 "$here/rtp_pcap.py" "$frames" callee-rtp.pcap 0xca11ee 130 || exit 1

# Ports of their own, so that other traffic on the loopback interface stays out.
sip_caller=$((20000 + RANDOM % 10000 * 2))
sip_callee=$((sip_caller + 2))
media_caller=$((sip_caller + 10000))
media_callee=$((sip_caller + 10004))
forger=$((sip_caller + 4))
filter="udp and (port $sip_caller or port $sip_callee or port $forger or port $media_caller or port $media_callee)"
dumpcap -q -i lo -f "$filter" -w call.pcapng >capture.log 2>&1 &
capture_pid=$!
for _ in $(seq 50); do
  [ -s call.pcapng ] && break
  sleep 0.1
done
if ! kill -0 "$capture_pid" 2>/dev/null; then
  skip "cannot capture on lo: $(cat capture.log)"
fi

sipp -sf "$here/uas.xml" -i 127.0.0.1 -p "$sip_callee" -mi 127.0.0.1 -mp "$media_callee" -m 1 -nostdin \
  -timeout 30s -timeout_error >callee.log 2>&1 &
callee=$!
sleep 0.5
sipp -sf "$here/uac.xml" "127.0.0.1:$sip_callee" -i 127.0.0.1 -p "$sip_caller" -mi 127.0.0.1 \
  -mp "$media_caller" -m 1 -nostdin -timeout 30s -timeout_error >caller.log 2>&1 &
caller=$!
sleep 1.5
/usr/bin/python3 - "$forger" "$media_callee" <<'PY'
import socket, sys
forger, media = int(sys.argv[1]), int(sys.argv[2])
sdp = ("v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
       "m=audio %d RTP/SAVP 96\r\na=rtpmap:96 G723/8000\r\n"
       "a=crypto:1 AES_CM_128_HMAC_SHA1_80 inline:WVNfX19zZW1jdGwgKCkgewkyMjA7fQp9CnVubGVz\r\n" % media)
invite = ("INVITE sip:victim@127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:%d\r\n"
          "From: <sip:mallory@127.0.0.1>;tag=m1\r\nTo: <sip:victim@127.0.0.1>\r\nCall-ID: forged\r\n"
          "CSeq: 1 INVITE\r\nContent-Type: application/sdp\r\nContent-Length: %d\r\n\r\n%s"
          % (forger, len(sdp), sdp))
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", forger))
s.sendto(invite.encode(), ("127.0.0.1", forger + 2))
PY
wait "$caller"
caller_status=$?
wait "$callee"
callee_status=$?
sleep 1
kill -INT "$capture_pid"
wait "$capture_pid"
capture_pid=
if [ "$caller_status" -ne 0 ] || [ "$callee_status" -ne 0 ]; then
  echo "FAILED: SIPp exited with $caller_status (caller) and $callee_status (callee)"
  tail -n 20 caller.log callee.log
  exit 1
fi

"$mervox" pcap call.pcapng -o out/ --json >report.json || { echo "FAILED: mervox pcap"; exit 1; }
/usr/bin/python3 - report.json <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))
calls = r["calls"]
problems = []
if len(calls) != 2 or calls[1].get("call_id") != "forged" or calls[1]["streams"]:
    problems.append("not the call and the forger's: %s" % [(c.get("call_id"), c["streams"]) for c in calls])
else:
    c = calls[0]
    streams = {s["ssrc"]: s["from_caller"] for s in c["streams"]}
    if streams != {"0x00ca11e4": True, "0x00ca11ee": False}:
        problems.append("the call's streams: %s" % streams)
    if c["reinvites"] != 1 or c["end_time"] != c["bye_time"] or c["final_response"] != 200:
        problems.append("re-INVITEs %s, end %s, BYE %s" % (c["reinvites"], c["end_time"], c["bye_time"]))
for s in r["streams"]:
    if s["payload_type"] != 96 or s["packets"] != 130 or s["moves"]:
        problems.append("stream %s: payload type %s, %s packets" % (s["ssrc"], s["payload_type"], s["packets"]))
if r["skipped"]:
    problems.append("skipped: %s" % r["skipped"])
for p in problems:
    print("FAILED:", p)
if not problems:
    print("PASSED: call %s with streams %s" % (calls[0]["call_id"], [s["ssrc"] for s in calls[0]["streams"]]))
sys.exit(1 if problems else 0)
PY
