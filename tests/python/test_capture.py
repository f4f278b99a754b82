"""mervox.read_capture against `mervox pcap` on the corpus capture."""

import json
import wave

import numpy as np
import pytest

import mervox
from conftest import command_message, expected_digests, fnv1a64


def wav_samples(path):
    with wave.open(str(path), "rb") as w:
        assert (w.getnchannels(), w.getsampwidth(), w.getframerate()) == (1, 2, 8000)
        return np.frombuffer(w.readframes(w.getnframes()), dtype="<i2")


@pytest.fixture(scope="module")
def command_report(corpus, cli, tmp_path_factory):
    out = tmp_path_factory.mktemp("pcap")
    result = cli("pcap", "--layout", "streams", corpus / "call-a.pcapng", "-o", out / "call", "--json")
    return json.loads(result.stdout)


def test_streams_match_the_command(corpus, command_report):
    streams = mervox.read_capture(corpus / "call-a.pcapng")
    assert len(streams) == len(command_report["streams"]) == 2
    digests = expected_digests()
    for s, expected in zip(streams, command_report["streams"]):
        assert isinstance(s, mervox.CaptureStream)
        assert "0x%08x" % s.ssrc == expected["ssrc"]
        assert s.source == (expected["source"]["address"], expected["source"]["port"])
        assert s.destination == (expected["destination"]["address"], expected["destination"]["port"])
        for field in ("payload_type", "packets", "duplicates", "reordered", "frames", "speech_frames",
                      "silence_frames", "lost_frames", "rate_switches", "overlapping_frames", "timestamp_jumps",
                      "cut_short_payloads", "duration_seconds", "first_packet_time"):
            assert getattr(s, field) == expected[field], field
        assert s.pcm.dtype == np.int16
        np.testing.assert_array_equal(s.pcm, wav_samples(expected["output"]))
        frames, digest = digests["call-a." + expected["ssrc"]]
        assert s.pcm.shape == (frames * 240,) and fnv1a64(s.pcm) == digest


def test_bytes_give_the_same_streams(corpus):
    data = (corpus / "call-a.pcapng").read_bytes()
    from_path = mervox.read_capture(str(corpus / "call-a.pcapng"))
    from_bytes = mervox.read_capture(data)
    assert [(s.ssrc, s.source, s.frames) for s in from_bytes] == [(s.ssrc, s.source, s.frames) for s in from_path]
    for a, b in zip(from_bytes, from_path):
        np.testing.assert_array_equal(a.pcm, b.pcm)


def test_cut_capture_warns_and_keeps_what_was_read(corpus, cli, tmp_path):
    cut = tmp_path / "cut.pcapng"
    data = (corpus / "call-a.pcapng").read_bytes()
    cut.write_bytes(data[: len(data) // 2 + 3])
    result = cli("pcap", "--layout", "streams", cut, "-o", tmp_path / "cut", "--json")
    report = json.loads(result.stdout)
    with pytest.warns(mervox.CaptureWarning) as record:
        streams = mervox.read_capture(cut)
    assert str(record[0].message) == command_message(result, "warning")
    assert [s.frames for s in streams] == [s["frames"] for s in report["streams"]]
    for s, expected in zip(streams, report["streams"]):
        np.testing.assert_array_equal(s.pcm, wav_samples(expected["output"]))


def test_other_payload_type_finds_nothing_like_the_command(corpus, cli, tmp_path):
    result = cli("pcap", "--layout", "streams", corpus / "call-a.pcapng", "--payload-type", 96, "-o", tmp_path / "x", check=False)
    assert result.returncode == 1
    with pytest.raises(mervox.CaptureError) as error:
        mervox.read_capture(corpus / "call-a.pcapng", payload_type=96)
    assert str(error.value) == command_message(result)
