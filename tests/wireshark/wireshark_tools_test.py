#!/usr/bin/python3
"""The codec plugin inside Wireshark's own tools, headless.

  wireshark_tools_test.py plugins PLUGIN TSHARK VERSION
      tshark -G plugins lists the staged plugin as a codec plugin, and the
      module exports Wireshark's four plugin symbols and nothing of mervox.
  wireshark_tools_test.py sharkd PLUGIN SHARKD MERVOX LIBMERVOX CAPTURE
      sharkd decodes every G.723.1 RTP stream of CAPTURE through the plugin
      to the samples `mervox decode` gives for the same payloads in the same
      order; so does a hand-made call on a dynamic payload type named G723,
      whose packets of more frames than the plugin's limit yield the first ones.
      Frames are split by mervox_frame_bytes of the shared library LIBMERVOX.
  wireshark_tools_test.py sharkd-installed CAPTURE WORKDIR
      The same with the installed plugin, /usr/bin/sharkd, /usr/bin/mervox and
      libmervox.so.0.

Wireshark ignores WIRESHARK_PLUGIN_DIR and per-user plugin folders when run
as root, so as root the tools run as user and group 65534 (setpriv) on a
world-readable copy of the plugin and the capture. Exit status 77 means the
test was skipped (1 instead when CI=true).
"""
import base64
import ctypes
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile

SKIP = 77
WAV_HEADER_BYTES = 44


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def skip(message):
    if os.environ.get("CI") == "true":
        fail(message + " (not skipped: CI=true)")
    print("SKIPPED: " + message)
    sys.exit(SKIP)


class Stage:
    """DIR/4.0/codecs/PLUGIN and other files, readable by everyone. Without a
    plugin, the installed one is tested: nothing staged, the tools run as
    they are, and DIR is the given work folder."""

    def __init__(self, plugin, workdir=None):
        self.root = os.geteuid() == 0
        self.plugin = plugin
        self.runner = []
        if not plugin:
            os.makedirs(workdir, exist_ok=True)
            self.dir, self.keep = workdir, True
            return
        self.dir, self.keep = tempfile.mkdtemp(prefix="mervox-wireshark-", dir="/tmp" if self.root else None), False
        codecs = os.path.join(self.dir, "4.0", "codecs")
        os.makedirs(codecs)
        self.plugin = self.add(plugin, codecs)
        for folder in (self.dir, os.path.join(self.dir, "4.0"), codecs):
            os.chmod(folder, 0o755)
        if self.root:
            setpriv = shutil.which("setpriv")
            if not setpriv:
                skip("running as root, and setpriv (Debian package util-linux) is missing to run "
                     "Wireshark's tools as another user; as root they ignore WIRESHARK_PLUGIN_DIR")
            self.runner = [setpriv, "--reuid=65534", "--regid=65534", "--clear-groups", "--"]

    def add(self, path, folder=None):
        target = os.path.join(folder or self.dir, os.path.basename(path))
        shutil.copyfile(path, target)
        os.chmod(target, 0o644)
        return target

    def run(self, command, stdin=None):
        env = {
            "PATH": "/usr/bin:/bin",
            "HOME": "/nonexistent",  # no personal plugins or preferences
            "LANG": "C.UTF-8",
        }
        if self.plugin:
            env["WIRESHARK_PLUGIN_DIR"] = self.dir
        return subprocess.run(self.runner + command, input=stdin, capture_output=True, env=env,
                              cwd=self.dir, timeout=600)

    def remove(self):
        if not self.keep:
            shutil.rmtree(self.dir, ignore_errors=True)


def check_tool(path, name):
    if not path or not os.access(path, os.X_OK):
        skip("%s not found (Debian package tshark)" % name)


def exported_symbols(module):
    nm = shutil.which("nm")
    if not nm:
        fail("nm (binutils) not found")
    out = subprocess.run([nm, "-D", "--defined-only", module], capture_output=True, text=True, check=True)
    return sorted(line.split()[-1] for line in out.stdout.splitlines() if line.strip())


def test_plugins(plugin, tshark, version):
    check_tool(tshark, "tshark")
    symbols = exported_symbols(plugin)
    want = ["plugin_register", "plugin_version", "plugin_want_major", "plugin_want_minor"]
    if symbols != want:
        fail("the module should export exactly %s, exports %s" % (want, symbols))
    needed = subprocess.run(["readelf", "-d", plugin], capture_output=True, text=True, check=True).stdout
    if "libmervox" in needed:
        fail("the module needs libmervox at run time; it should link mervox statically:\n" + needed)

    stage = Stage(plugin)
    try:
        result = stage.run([tshark, "-G", "plugins"])
        output = result.stdout.decode(errors="replace")
        errors = result.stderr.decode(errors="replace")
        if result.returncode != 0:
            fail("tshark -G plugins exited with %d:\n%s" % (result.returncode, errors))
        rows = [[field.strip() for field in line.split("\t")] for line in output.splitlines()]
        ours = [row for row in rows if len(row) == 4 and row[3] == stage.plugin]
        if len(ours) != 1:
            fail("tshark -G plugins does not list %s:\n%s%s" % (stage.plugin, output, errors))
        name, plugin_version, kind, _ = ours[0]
        if (name, plugin_version, kind) != (os.path.basename(plugin), version, "codec"):
            fail("listed as %s" % ours[0])
        print("tshark -G plugins: " + "  ".join(ours[0]))
    finally:
        stage.remove()


# --- The capture, read independently of Wireshark: RTP payloads per stream,
# --- in the order of the records in the file.

def udp_over_ethernet(linktype, frame):
    """(source address, source port, destination address, destination port,
    payload) of a UDP datagram over IPv4 on Ethernet (as in the corpus
    capture), or None."""
    if linktype != 1:
        fail("the capture's link type %d is not read by this test" % linktype)
    if struct.unpack_from("!H", frame, 12)[0] != 0x0800:
        return None
    packet = frame[14:]
    header = (packet[0] & 15) * 4
    if packet[9] != 17 or struct.unpack_from("!H", packet, 6)[0] & 0x3FFF:
        return None
    src, dst = ".".join(map(str, packet[12:16])), ".".join(map(str, packet[16:20]))
    sport, dport, length = struct.unpack_from("!HHH", packet, header)
    return src, sport, dst, dport, packet[header + 8:header + length]


def rtp_g723(datagram):
    """(ssrc, sequence, payload) of an RTP packet of payload type 4, or None."""
    if len(datagram) < 12 or datagram[0] >> 6 != 2 or datagram[1] & 0x7F != 4:
        return None
    sequence, _, ssrc = struct.unpack_from("!HII", datagram, 2)
    offset = 12 + 4 * (datagram[0] & 15)
    if datagram[0] & 0x10:
        offset += 4 + 4 * struct.unpack_from("!H", datagram, offset + 2)[0]
    end = len(datagram) - (datagram[-1] if datagram[0] & 0x20 else 0)
    return ssrc, sequence, datagram[offset:end]


def read_pcapng(path):
    """(link type, frame bytes) of every packet, in file order."""
    data = open(path, "rb").read()
    if data[:4] != b"\x0a\x0d\x0d\x0a":
        fail(path + " is not a pcapng capture")
    order = "<" if data[8:12] == b"\x4d\x3c\x2b\x1a" else ">"
    interfaces, offset = [], 0
    while offset + 12 <= len(data):
        kind, length = struct.unpack_from(order + "II", data, offset)
        body = data[offset + 8:offset + length - 4]
        if kind == 1:
            interfaces.append(struct.unpack_from(order + "H", body, 0)[0])
        elif kind == 6:
            interface, _, _, captured = struct.unpack_from(order + "IIII", body, 0)
            yield interfaces[interface], body[20:20 + captured]
        offset += length


def capture_streams(path):
    """{(saddr, sport, daddr, dport, ssrc): [(sequence, payload), ...]} in capture order."""
    streams = {}
    for linktype, frame in read_pcapng(path):
        datagram = udp_over_ethernet(linktype, frame)
        rtp = datagram and rtp_g723(datagram[4])
        if rtp:
            streams.setdefault(datagram[:4] + (rtp[0],), []).append((rtp[1], rtp[2]))
    return streams


class Library:
    """mervox_frame_bytes of the library (shared build, or the installed one)."""
    frame_bytes = None

    @classmethod
    def load(cls, path):
        function = ctypes.CDLL(path).mervox_frame_bytes
        function.argtypes, function.restype = [ctypes.c_uint8], ctypes.c_size_t
        cls.frame_bytes = function


def frame_lengths_ok(payload):
    offset = 0
    while offset < len(payload):
        offset += Library.frame_bytes(payload[offset])
    return offset == len(payload)


def mervox_decode(mervox, frames, work):
    stream, raw = os.path.join(work, "payloads.bit"), os.path.join(work, "payloads.raw")
    with open(stream, "wb") as f:
        f.write(frames)
    result = subprocess.run([mervox, "decode", stream, "-f", "raw", "-o", raw, "-q"], capture_output=True, text=True)
    if result.returncode != 0:
        fail("mervox decode failed: " + result.stderr)
    return open(raw, "rb").read()


def token_of(key):
    saddr, sport, daddr, dport, ssrc = key
    return "rtp:%s_%d_%s_%d_0x%08X" % (saddr, sport, daddr, dport, ssrc)


def sharkd_downloads(stage, sharkd, capture, keys, heuristic):
    """sharkd's RTP streams of the capture, and the samples of each stream in keys."""
    requests = [{"method": "load", "params": {"file": capture}},
                {"method": "tap", "params": {"tap0": "rtp-streams"}}]
    if heuristic:
        requests.insert(0, {"method": "setconf", "params": {"name": "rtp.heuristic_rtp", "value": "TRUE"}})
    first_download = len(requests)
    requests += [{"method": "download", "params": {"token": token_of(key)}} for key in keys]
    # Request k has the id k + 1 (sharkd does not answer id 0).
    lines = "".join(json.dumps(dict(jsonrpc="2.0", id=k + 1, **r)) + "\n" for k, r in enumerate(requests))
    result = stage.run([sharkd, "-"], stdin=lines.encode())
    replies = {}
    for line in result.stdout.decode(errors="replace").splitlines():
        if line.startswith("{"):
            reply = json.loads(line)
            replies[reply.get("id", 0) - 1] = reply.get("result")
    for k, request in enumerate(requests):
        if not replies.get(k):
            fail("sharkd gave no result for %s\nstderr: %s" % (request, result.stderr.decode(errors="replace")[-2000:]))

    tapped = replies[first_download - 1]["taps"][0]["streams"]
    print("sharkd rtp-streams: " + ", ".join("0x%08X %s %d packets" % (s["ssrc"], s["payload"], s["pkts"])
                                             for s in tapped))
    samples = {}
    for k, key in enumerate(keys):
        wav = base64.b64decode(replies[first_download + k].get("data", ""))
        if wav[:4] != b"RIFF" or wav[8:16] != b"WAVEfmt ":
            fail("%s: not a WAV file: %r" % (token_of(key), wav[:16]))
        channels, rate = struct.unpack_from("<HI", wav, 22)
        if (channels, rate) != (1, 8000):
            fail("%s: %d channels at %d Hz, not 1 at 8000" % (token_of(key), channels, rate))
        samples[key] = wav[WAV_HEADER_BYTES:]
    return tapped, samples


def compare(token, got, want):
    print("%s: %d samples from sharkd, %d from mervox decode" % (token, len(got) // 2, len(want) // 2))
    if got != want:
        first = next((i for i in range(0, min(len(got), len(want)), 2) if got[i:i + 2] != want[i:i + 2]),
                     min(len(got), len(want)))
        fail("%s: sharkd's samples differ from mervox decode of the same payloads in capture order, "
             "first at sample %d" % (token, first // 2))


def test_corpus_capture(stage, sharkd, mervox, capture):
    """Both streams of the corpus capture (found by RTP's heuristic)."""
    streams = capture_streams(capture)
    if len(streams) != 2:
        fail("expected the corpus capture's two G.723.1 streams, found %d" % len(streams))
    tapped, samples = sharkd_downloads(stage, sharkd, stage.add(capture), list(streams), heuristic=True)
    if sorted((s["ssrc"], s["payload"]) for s in tapped) != sorted((key[4], "g723") for key in streams):
        fail("sharkd's RTP streams are not the capture's G.723.1 streams")

    for key, packets in streams.items():
        # Wireshark hands the payloads over in capture order: the order of
        # the records in the file, late and repeated packets where they
        # arrived, and nothing for missing ones.
        if not all(frame_lengths_ok(payload) for _, payload in packets):
            fail("a payload of %s does not split into whole frames" % token_of(key))
        want = mervox_decode(mervox, b"".join(payload for _, payload in packets), stage.dir)
        sequences = [sequence for sequence, _ in packets]
        late = sum(1 for a, b in zip(sequences, sequences[1:]) if (b - a) & 0xFFFF > 0x8000)
        repeated = len(sequences) - len(set(sequences))
        print("%s: %d packets, %d arrived late, %d repeated" % (token_of(key), len(packets), late, repeated))
        # Late and repeated packets make this comparison tell capture order
        # from sequence order.
        in_sequence = [payload for _, payload in sorted(packets, key=lambda p: (p[0] - sequences[0]) & 0xFFFF)]
        if mervox_decode(mervox, b"".join(in_sequence), stage.dir) == want:
            fail("%s: decoding in sequence order gives the same samples; the test cannot see the order"
                 % token_of(key))
        compare(token_of(key), samples[key], want)


def ethernet_udp(src, dst, sport, dport, payload):
    udp = struct.pack("!HHHH", sport, dport, 8 + len(payload), 0) + payload
    ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0, 0, 64, 17, 0,
                     bytes(map(int, src.split("."))), bytes(map(int, dst.split("."))))
    return b"\x00" * 12 + b"\x08\x00" + ip + udp


def max_frames_per_payload():
    """The plugin's limit on the frames one payload yields, from its header."""
    header = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "plugins", "wireshark",
                          "g723_codec.h")
    for line in open(header):
        fields = line.split()
        if fields[:2] == ["#define", "MERVOX_WIRESHARK_MAX_FRAMES_PER_PAYLOAD"]:
            return int(fields[2])
    fail("no MERVOX_WIRESHARK_MAX_FRAMES_PER_PAYLOAD in " + header)


def split_frames(payload):
    frames, offset = [], 0
    while offset < len(payload):
        length = Library.frame_bytes(payload[offset])
        frames.append(payload[offset:offset + length])
        offset += length
    return frames


def write_pcap(path, records):
    with open(path, "wb") as f:
        f.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1))
        for k, frame in enumerate(records):
            f.write(struct.pack("<IIII", 1000 + k // 30, (k % 30) * 30000, len(frame), len(frame)) + frame)
    os.chmod(path, 0o644)


def test_dynamic_payload_type(stage, sharkd, mervox, stream_file):
    """A call whose SDP maps payload type 96 to G723: the player looks the
    codec up by that name. Packets of 1 to 3 frames of a stream with
    silence frames, and every 50th packet far fuller than any sender makes
    it: more speech frames than the plugin's limit, or 2 speech frames and
    1,398 untransmitted 1-byte frames. Each packet yields its first frames
    up to the limit, the rest left out: the samples are `mervox decode` of
    the frames kept."""
    limit = max_frames_per_payload()
    stream = split_frames(open(stream_file, "rb").read())
    sdp = ("v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
           "m=audio 40000 RTP/AVP 96\r\na=rtpmap:96 G723/8000\r\n")
    invite = ("INVITE sip:b@127.0.0.2 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:5060;branch=z9hG4bK1\r\n"
              "From: <sip:a@127.0.0.1>;tag=1\r\nTo: <sip:b@127.0.0.2>\r\nCall-ID: 1@127.0.0.1\r\n"
              "CSeq: 1 INVITE\r\nContact: <sip:a@127.0.0.1>\r\nContent-Type: application/sdp\r\n"
              "Content-Length: %d\r\n\r\n%s" % (len(sdp), sdp))
    records = [ethernet_udp("127.0.0.1", "127.0.0.2", 5060, 5060, invite.encode())]
    key = ("127.0.0.2", 50000, "127.0.0.1", 40000, 0xABCD0001)
    used, sequence, timestamp, kept, full = 0, 0, 0, b"", 0
    while used < len(stream) and sequence < 400:
        if sequence % 100 == 49:
            frames = stream[used:used + limit + 10]
            used += len(frames)
        elif sequence % 100 == 99:
            frames = stream[used:used + 2] + [b"\x03"] * 1398
            used += 2
        else:
            frames = stream[used:used + sequence % 3 + 1]
            used += len(frames)
        full += len(frames) > limit
        rtp = struct.pack("!BBHII", 0x80, 96, sequence, timestamp, key[4]) + b"".join(frames)
        records.append(ethernet_udp(key[0], key[2], key[1], key[3], rtp))
        kept += b"".join(frames[:limit])
        sequence, timestamp = sequence + 1, timestamp + 240 * min(len(frames), limit)
    if {len(frame) for frame in stream[:used]} != {24, 4, 1} or full != 8:
        fail("the hand-made call should hold speech, SID and untransmitted frames, and 8 packets beyond the limit")
    capture = os.path.join(stage.dir, "dynamic.pcap")
    write_pcap(capture, records)

    tapped, samples = sharkd_downloads(stage, sharkd, capture, [key], heuristic=False)
    if [(s["ssrc"], s["payload"]) for s in tapped] != [(key[4], "G723")]:
        fail("sharkd should see one stream of payload G723 from the SDP")
    print("%d packets, %d beyond the limit of %d frames: sharkd gave %.1f s of audio"
          % (sequence, full, limit, len(samples[key]) / 16000))
    compare(token_of(key), samples[key], mervox_decode(mervox, kept, stage.dir))


def test_sharkd(plugin, sharkd, mervox, capture, workdir=None):
    check_tool(sharkd, "sharkd")
    if not mervox or not os.access(mervox, os.X_OK):
        fail("the mervox command was not found")
    stage = Stage(plugin, workdir)
    try:
        test_corpus_capture(stage, sharkd, mervox, capture)
        test_dynamic_payload_type(stage, sharkd, mervox,
                                  os.path.join(os.path.dirname(capture), "speech-a.63-vad.bit"))
    finally:
        stage.remove()


def main(argv):
    if len(argv) >= 4 and argv[1] == "plugins":
        test_plugins(argv[2], argv[3], argv[4] if len(argv) > 4 else "")
    elif len(argv) == 7 and argv[1] == "sharkd":
        plugin, sharkd, mervox, library, capture = argv[2:]
        Library.load(library)
        test_sharkd(plugin, sharkd, mervox, capture)
    elif len(argv) == 4 and argv[1] == "sharkd-installed":
        # The installed plugin, sharkd, mervox command and library (package test).
        Library.load("libmervox.so.0")
        test_sharkd(None, shutil.which("sharkd", path="/usr/bin:/bin"), shutil.which("mervox", path="/usr/bin:/bin"),
                    argv[2], argv[3])
    else:
        fail("usage: %s plugins PLUGIN TSHARK VERSION | sharkd PLUGIN SHARKD MERVOX LIBMERVOX CAPTURE"
             " | sharkd-installed CAPTURE WORKDIR" % argv[0])
    print("OK")


if __name__ == "__main__":
    main(sys.argv)
