"""Bad inputs raise the documented exceptions, with the command's messages."""

import errno
import os
import pathlib
import re

import numpy as np
import pytest

import mervox
from conftest import command_message


def test_missing_file(cli, tmp_path):
    missing = tmp_path / "missing.bit"
    result = cli("decode", missing, "-o", tmp_path / "o.raw", check=False)
    for call in (mervox.decode, mervox.frames, mervox.read_capture):
        with pytest.raises(FileNotFoundError) as error:
            call(missing)
        assert error.value.errno == errno.ENOENT
    with pytest.raises(FileNotFoundError) as error:
        mervox.decode(missing)
    assert error.value.strerror == command_message(result)
    with pytest.raises(FileNotFoundError):
        mervox.decode(b"\x00" * 24, loss=missing)


def test_directory(tmp_path):
    for call in (mervox.decode, mervox.read_capture):
        with pytest.raises(IsADirectoryError):
            call(tmp_path)


@pytest.mark.skipif(os.geteuid() == 0, reason="root reads any file")
def test_unreadable(tmp_path):
    path = tmp_path / "secret.bit"
    path.write_bytes(b"\x00" * 24)
    path.chmod(0)
    with pytest.raises(PermissionError):
        mervox.decode(path)


@pytest.mark.parametrize("content", [b"", b"\x00" * 23, b"\x01" * 5])
def test_streams_without_a_whole_frame(cli, tmp_path, content):
    path = tmp_path / "bad.bit"
    path.write_bytes(content)
    result = cli("decode", path, "-o", tmp_path / "o.raw", check=False)
    assert result.returncode == 1
    with pytest.raises(mervox.StreamError) as error:
        mervox.decode(path)
    assert isinstance(error.value, ValueError)
    assert str(error.value) == command_message(result)
    with pytest.raises(mervox.StreamError):
        mervox.frames(path)
    with pytest.raises(mervox.StreamError, match="^<bytes>: byte 0: "):
        mervox.decode(content)


def test_a_file_named_dash_is_a_file(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "-").write_bytes(b"\x02\x00\x00\x00")  # one silence descriptor, never stdin
    assert mervox.decode("-").shape == (240,)
    (tmp_path / "-").unlink()
    with pytest.raises(FileNotFoundError, match=r"\] \./-: cannot open"):
        mervox.decode("-")
    with pytest.raises(FileNotFoundError):
        mervox.read_capture("-")


@pytest.mark.parametrize(
    "content, message",
    [
        (b"", "not a capture"),
        (b"this is not a capture, only some text\n" * 4, "not a pcap or pcapng capture ("),
    ],
)
def test_not_a_capture(cli, tmp_path, content, message):
    path = tmp_path / "notes.txt"
    path.write_bytes(content)
    result = cli("pcap", "--layout", "streams", path, "-o", tmp_path / "x", check=False)
    assert result.returncode == 1
    with pytest.raises(mervox.CaptureError) as error:
        mervox.read_capture(path)
    assert isinstance(error.value, ValueError)
    assert str(error.value) == command_message(result) and message in str(error.value)
    with pytest.raises(mervox.CaptureError, match="^<bytes>: not a pcap or pcapng capture"):
        mervox.read_capture(content)


@pytest.mark.parametrize("call", [mervox.decode, mervox.frames, mervox.read_capture])
@pytest.mark.parametrize("data", [None, 42, 1.5, ["a"], np.zeros(4, np.int16), np.zeros((2, 2), np.uint8)])
def test_wrong_types(call, data):
    with pytest.raises(TypeError):
        call(data)


def test_bad_options(corpus):
    stream = corpus / "speech-a.63.bit"
    for rate in (-0.1, 1.5, float("nan")):
        with pytest.raises(ValueError, match="drop_rate"):
            mervox.decode(stream, drop_rate=rate)
    for seed in (-1, 2**64):
        with pytest.raises(ValueError, match="seed must be a whole number"):
            mervox.decode(stream, seed=seed)
    with pytest.raises(TypeError):
        mervox.decode(stream, seed=1.5)
    np.testing.assert_array_equal(mervox.decode(stream, drop_rate=np.float32(0.25), seed=np.uint64(2**64 - 1)),
                                  mervox.decode(stream, drop_rate=0.25, seed=2**64 - 1))
    with pytest.raises(ValueError, match="one-dimensional"):
        mervox.decode(stream, loss=np.zeros((2, 3)))
    for loss in (["a", "b"], [1, None], [1j], 5, {}):
        with pytest.raises(TypeError, match="^loss"):
            mervox.decode(stream, loss=loss)
    capture = corpus / "call-a.pcapng"
    for payload_type in (128, -1, 2**40):
        with pytest.raises(ValueError, match="payload_type must be from 0 to 127"):
            mervox.read_capture(capture, payload_type=payload_type)
    for payload_type in ("4", 4.0):
        with pytest.raises(TypeError, match="payload_type must be an integer"):
            mervox.read_capture(capture, payload_type=payload_type)
    assert len(mervox.read_capture(capture, payload_type=np.uint8(4))) == 2


def test_paths_with_a_null_byte(tmp_path, monkeypatch):
    # The system would read "x.bit" (and "x.mask"), as the name stops there.
    monkeypatch.chdir(tmp_path)
    (tmp_path / "x.bit").write_bytes(b"\x00" * 24)
    (tmp_path / "x.mask").write_bytes(b"\x00")
    for call in (mervox.decode, mervox.frames, mervox.read_capture):
        for path in ("x.bit\0junk", pathlib.Path("x.bit\0junk")):
            with pytest.raises(ValueError, match="^data: embedded null byte"):
                call(path)
    with pytest.raises(ValueError, match="^loss: embedded null byte"):
        mervox.decode("x.bit", loss="x.mask\0junk")


def test_decoder_rejects_bad_frames():
    decoder = mervox.Decoder()
    for frame in (b"", b"\x00" * 23, b"\x00" * 25, b"\x01" * 24, b"\x02" * 5):
        with pytest.raises(ValueError):
            decoder.decode(frame)
    with pytest.raises(TypeError):
        decoder.decode("frame.bit")
    with pytest.raises(TypeError):
        decoder.decode(None)
    for rate in (0, 1, 6400):
        with pytest.raises(ValueError, match="6300 or 5300"):
            mervox.Decoder(rate=rate)
    for rate in (8000, 2**40, -(2**70), True):
        with pytest.raises(ValueError, match="rate must be 6300 or 5300"):
            decoder.reset(rate)
        with pytest.raises(ValueError, match="rate must be 6300 or 5300"):
            mervox.Decoder(rate)
    for rate in ("6300", 6300.0, [6300]):
        with pytest.raises(TypeError, match="rate must be an integer"):
            decoder.reset(rate)
        with pytest.raises(TypeError, match="rate must be an integer"):
            mervox.Decoder(rate)
    assert decoder.rate == 6300
    decoder.reset(np.int16(5300))
    assert decoder.rate == 5300 and type(decoder.rate) is int
    assert mervox.Decoder(np.uint64(5300)).rate == 5300


def test_names_that_are_not_utf8(corpus, tmp_path):
    name = os.fsdecode(b"call-\xff")  # a surrogate escape, as os.listdir gives it
    missing = tmp_path / (name + ".bit")
    with pytest.raises(FileNotFoundError) as error:
        mervox.decode(missing)
    assert str(missing) in str(error.value)
    cut = tmp_path / (name + ".pcapng")
    data = (corpus / "call-a.pcapng").read_bytes()
    cut.write_bytes(data[: len(data) // 2 + 3])
    with pytest.warns(mervox.CaptureWarning, match=re.escape(str(cut))):
        assert mervox.read_capture(cut)

    empty = tmp_path / (name + ".bit")
    empty.write_bytes(b"")
    with pytest.raises(mervox.StreamError, match="empty input"):
        mervox.decode(empty)
