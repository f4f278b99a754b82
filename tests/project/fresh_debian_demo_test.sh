#!/usr/bin/env bash
# The README's first command where a newcomer runs it: scripts/demo.sh in a
# freshly bootstrapped minimal Debian 12, from a clean copy of the tree in
# root's home (scripts/fresh-debian.sh). It must install what it needs, build
# the command and write the sample's WAV: 333 frames of 8 kHz mono 16-bit PCM
# whose first 300 frames are the corpus stream's recorded blocks.
#
# Needs root and a Debian mirror; skipped otherwise (exit 77), a failure
# under CI=true.
set -euo pipefail
cd "$(dirname "$0")/../.."

skip() {
  echo "fresh Debian demo: $*"
  if [ "${CI:-}" = true ]; then echo "FAIL: not skipped under CI=true" >&2; exit 1; fi
  echo "SKIPPED"; exit 77
}
[ "$(id -u)" -eq 0 ] || skip "needs root (debootstrap, chroot)"

log=build/fresh-debian-demo.log
mkdir -p build
if ! scripts/fresh-debian.sh demo >"$log" 2>&1; then
  tail -n 30 "$log"
  echo "FAIL: scripts/demo.sh in a fresh Debian 12 (log: $log)" >&2
  exit 1
fi
wav=build/fresh-debian/demo/root/mervox/out/speech-a-10s.wav
[ -f "$wav" ] || { tail -n 30 "$log"; echo "FAIL: no $wav" >&2; exit 1; }
grep -q "^Decoded samples/speech-a-10s.63.bit (333 frames" "$log" || { tail -n 5 "$log"; echo "FAIL: no summary" >&2; exit 1; }

/usr/bin/python3 - "$wav" tests/data/corpus/block-digests.txt <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
want = {int(f[1]): f[2] for f in (l.split() for l in open(sys.argv[2]) if l.startswith("speech-a.63 "))}

def fnv(b):
    h = 0xcbf29ce484222325
    for x in b:
        h = ((h ^ x) * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
    return format(h, "016x")

assert data[:4] == b"RIFF" and data[8:12] == b"WAVE", "not a RIFF WAVE file"
pos, fmt, pcm = 12, None, None
while pos + 8 <= len(data):
    cid, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
    body = data[pos + 8:pos + 8 + size]
    if cid == b"fmt ":
        fmt = struct.unpack("<HHIIHH", body[:16])
    elif cid == b"data":
        pcm = body
    pos += 8 + size + (size & 1)
assert fmt == (1, 1, 8000, 16000, 2, 16), "format %r" % (fmt,)
assert pcm is not None and len(pcm) == 333 * 480, "%s bytes of samples" % (None if pcm is None else len(pcm))
for k in range(3):
    got = fnv(pcm[k * 48000:(k + 1) * 48000])
    assert got == want[k], "frames %d-%d: %s, want %s" % (100 * k, 100 * k + 99, got, want[k])
print("ok: the sample's WAV from a fresh Debian 12 (333 frames, first 300 as recorded)")
PY
