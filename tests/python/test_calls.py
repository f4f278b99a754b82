"""mervox.read_calls against the recordings `mervox pcap` writes."""

import json
import struct
import wave

import numpy as np
import pytest

import mervox


def wav(path):
    with wave.open(str(path), "rb") as w:
        assert (w.getsampwidth(), w.getframerate()) == (2, 8000)
        samples = np.frombuffer(w.readframes(w.getnframes()), dtype="<i2")
        return samples.reshape(-1, w.getnchannels())


def ipv4_udp(source, sport, destination, dport, payload):
    udp = struct.pack("!HHHH", sport, dport, 8 + len(payload), 0) + payload
    ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0, 0, 64, 17, 0, bytes(source), bytes(destination))
    return b"\x00" * 12 + b"\x08\x00" + ip + udp  # Ethernet


def pair_capture(corpus):
    """Two mirrored streams without signalling, the second 50 ms after the first."""
    data = (corpus / "speech-a.63.bit").read_bytes()
    frames = [data[f["offset"]:f["offset"] + f["size"]] for f in mervox.frames(data)[:80]]
    a, b = (10, 0, 1, 1), (10, 0, 1, 2)
    packets = []
    for k, frame in enumerate(frames):
        for ssrc, src, dst, ports, start in ((0xC0FFEE, a, b, (7000, 7002), 0.0), (0xDECAF, b, a, (7002, 7000), 0.05)):
            rtp = struct.pack("!BBHII", 0x80, 4, k + 1, 240 * k, ssrc) + frame
            time = 1700000000 + start + 0.03 * k + (0.012 if k % 4 == 1 else 0.0)  # some jitter
            packets.append((time, ipv4_udp(src, ports[0], dst, ports[1], rtp)))
    out = struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1)
    for time, packet in sorted(packets, key=lambda p: p[0]):
        micros = round(time * 1e6)
        out += struct.pack("<IIII", micros // 1000000, micros % 1000000, len(packet), len(packet)) + packet
    return out


@pytest.mark.parametrize("capture", ["pair", "corpus"])
def test_calls_are_the_command_s_recordings(corpus, cli, tmp_path, capture):
    if capture == "pair":
        path = tmp_path / "pair.pcap"
        path.write_bytes(pair_capture(corpus))
    else:
        path = corpus / "call-a.pcapng"
    report = json.loads(cli("pcap", path, "-o", str(tmp_path / "out") + "/", "--json").stdout)
    calls = mervox.read_calls(path)
    assert len(calls) == len(report["calls"]) > 0
    ssrcs = {i: int(s["ssrc"], 16) for i, s in enumerate(report["streams"])}
    for call, expected in zip(calls, report["calls"]):
        assert isinstance(call, mervox.CaptureCall)
        assert call.signalled is expected["signalled"] is False  # no SIP in these captures
        assert call.call_id is None and call.caller is None
        assert call.start_time == expected["start_time"]
        assert call.recording_start_time == expected["recording_start_time"]
        assert call.caller_ssrcs == [ssrcs[s["stream"]] for s in expected["streams"] if s["from_caller"]]
        assert call.callee_ssrcs == [ssrcs[s["stream"]] for s in expected["streams"] if not s["from_caller"]]
        for direction in ("caller_to_callee", "callee_to_caller"):
            rating = expected["quality"][direction]
            assert call.quality[direction] == (rating and {"r": rating["r"], "mos": rating["mos"]})
        assert call.reanchors == sum(report["streams"][s["stream"]]["reanchors"] for s in expected["streams"])
        assert call.silence_cuts == expected["silence_cuts"]
        assert call.samples.dtype == np.int16
        assert call.samples.shape[1] == expected["channels"]
        np.testing.assert_array_equal(call.samples, wav(expected["output"]))
    if capture == "pair":
        (call,) = calls
        assert call.samples.shape == (80 * 240 + 400, 2)  # the callee's side 50 ms later
        assert not call.samples[:400, 1].any() and call.samples[:400, 0].any()
        np.testing.assert_array_equal(call.samples[400:, 1], mervox.read_capture(path)[1].pcm)
