#!/usr/bin/python3
"""The long-traffic generator's capture as Wireshark reads it: in time order
(capinfos), every SIP message of every listed call (sip,stat, the
INVITEs' Call-IDs, the SDP offer and answer), the RTP streams of signalled calls found through their
SDP alone, and with RTP found by heuristics every listed call's two G.723.1
streams, on its addresses, without a lost packet or a sequence error.

  long_traffic_tshark_test.py GENERATOR

Exits 77 (skipped) without tshark; under CI=true that is a failure instead.
"""
import collections
import csv
import os
import re
import shutil
import subprocess
import sys
import tempfile


def tshark(capture, *args):
    return subprocess.run(["tshark", "-r", capture, *args], capture_output=True, text=True, check=True).stdout


def rtp_streams(capture, *args):
    """(source, destination) of each RTP stream of the calls (10.x.y.z; other
    traffic is 192.168.x.y), and the lines of those that are not G.723.1 or
    show a fault."""
    streams, bad = [], []
    for line in tshark(capture, "-q", "-z", "rtp,streams", *args).splitlines():
        f = line.split()
        if len(f) < 12 or not re.fullmatch(r"0x[0-9A-F]+", f[6]) or not f[2].startswith("10."):
            continue
        streams.append((f[2] + ":" + f[3], f[4] + ":" + f[5]))
        # Lost "0 (0.0%)", jitter of the 2 ms the generator adds at most (RTP
        # timestamps in step with the packets' times), nothing under Problems?
        if f[7] != "g723" or f[9] != "0" or float(f[16]) > 3 or f[-1] == "X":
            bad.append(line)
    return streams, bad


def main():
    if not shutil.which("tshark"):
        print("SKIPPED: tshark not found (package tshark)")
        return 1 if os.environ.get("CI") == "true" else 77
    generator = sys.argv[1]
    failures, passed = [], []

    def check(ok, what):
        print(("ok   " if ok else "FAIL ") + what)
        (passed if ok else failures).append(what)

    with tempfile.TemporaryDirectory() as d:
        capture, listing = os.path.join(d, "t.pcap"), os.path.join(d, "calls.tsv")
        subprocess.run([generator, "--hours", "0.15", "--calls", "16", "--call-seconds", "20-60", "--max-open", "4",
                        "--unsignalled", "0.25", "--bye-lost", "0.25", "--speech-share", "0.5", "--seed", "7",
                        "--junk-rate", "20", "--calls-out", listing, capture], check=True)
        with open(listing) as f:
            calls = list(csv.DictReader((line for line in f if not line.startswith("#")), delimiter="\t"))
        signalled = [c for c in calls if c["signalled"] == "1"]
        byes = sum(c["bye"] == "1" for c in calls)
        check(len(calls) == 16 and 0 < len(signalled) < 16 and 0 < byes < len(signalled),
              "16 calls listed, some without SIP and some without BYE: %d, %d, %d" % (len(calls), len(signalled), byes))

        if shutil.which("capinfos"):
            info = subprocess.run(["capinfos", "-o", capture], capture_output=True, text=True).stdout
            check(re.search(r"Strict time order:\s+True", info) is not None, "records in time order (capinfos)")

        stat = tshark(capture, "-q", "-z", "sip,stat")
        counts = {name: int(n) for name, n in re.findall(r"^\s+(\w[\w ]*?)\s+:\s+(\d+) Packets", stat, re.M)}
        s = len(signalled)
        expected = {"INVITE": s, "ACK": s, "BYE": byes, "SIP 100 Trying": s, "SIP 180 Ringing": s,
                    "SIP 200 OK": s + byes}
        check(all(counts.get(k) == v for k, v in expected.items()),
              "SIP messages per call: %s, expected %s" % (counts, expected))
        ids = tshark(capture, "-Y", 'sip.Method == "INVITE"', "-T", "fields", "-e", "sip.Call-ID").split()
        check(sorted(ids) == sorted(c["call_id"] for c in signalled), "the INVITEs' Call-IDs are the listed ones")
        offers = tshark(capture, "-Y", "sdp", "-T", "fields", "-e", "sdp.media.format", "-e", "sdp.mime.type").split("\n")
        g723 = [o for o in offers if o.startswith("ITU-T G.723") and o.endswith("\tG723")]  # m= format 4, rtpmap
        check(len(g723) == 2 * s, "an offer and an answer of G723/8000 on payload type 4 per call")

        def pairs(which):
            return collections.Counter(p for c in which for p in ((c["caller_media"], c["callee_media"]),
                                                                  (c["callee_media"], c["caller_media"])))

        by_sdp, bad = rtp_streams(capture)
        check(collections.Counter(by_sdp) == pairs(signalled) and not bad,
              "streams of SIP calls found through their SDP: %d of %d" % (len(by_sdp), 2 * s))
        every, bad = rtp_streams(capture, "--enable-heuristic", "rtp_udp")
        check(collections.Counter(every) == pairs(calls), "every call's two streams: %d of %d" % (len(every),
                                                                                                  2 * len(calls)))
        check(not bad, "no stream with a lost packet, a sequence error, jitter or another payload type%s" %
              "".join("\n     " + line for line in bad))
    print("%d passed, %d failed" % (len(passed), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
