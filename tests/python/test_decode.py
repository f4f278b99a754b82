"""mervox.decode and mervox.frames against the corpus and the command."""

import warnings

import numpy as np
import pytest

import mervox
from conftest import command_message, expected_digests, fnv1a64

DIGESTS = expected_digests()
STREAMS = sorted(name for name in DIGESTS if name.startswith("speech-"))


@pytest.mark.parametrize("name", STREAMS)
def test_corpus_digest(corpus, name):
    frames, digest = DIGESTS[name]
    if name.endswith(".loss"):
        stem = name[: -len(".loss")]
        pcm = mervox.decode(corpus / f"{stem}.bit", loss=corpus / f"{name}")
    else:
        pcm = mervox.decode(corpus / f"{name}.bit")
    assert pcm.dtype == np.int16 and pcm.shape == (frames * 240,)
    assert fnv1a64(pcm) == digest


def test_bytes_and_paths_agree(corpus):
    path = corpus / "speech-a.mixed.bit"
    data = path.read_bytes()
    reference = mervox.decode(path)
    for source in (str(path), data, bytearray(data), memoryview(data), np.frombuffer(data, np.uint8)):
        np.testing.assert_array_equal(mervox.decode(source), reference)


@pytest.mark.parametrize(
    "stream, mask, drop_rate, seed",
    [
        ("speech-a.63", "speech-a.63.loss", 0.0, 1),
        ("speech-a.mixed", None, 0.2, 1),
        ("speech-a.53", None, 0.35, 12345678901234567890),
        ("speech-a.mixed", "speech-a.mixed.loss", 0.1, 7),
        ("speech-a.53-vad", None, 1.0, 1),
    ],
)
def test_losses_match_the_command(corpus, cli, tmp_path, stream, mask, drop_rate, seed):
    args = ["decode", corpus / f"{stream}.bit", "-o", tmp_path / "out.raw", "--drop-rate", drop_rate, "--seed", seed]
    if mask:
        args += ["--loss", corpus / mask]
    cli(*args)
    expected = np.fromfile(tmp_path / "out.raw", dtype="<i2")
    pcm = mervox.decode(corpus / f"{stream}.bit", loss=mask and corpus / mask, drop_rate=drop_rate, seed=seed)
    np.testing.assert_array_equal(pcm, expected)
    if drop_rate > 0:  # the losses change the result, and the seed picks them
        assert not np.array_equal(pcm, mervox.decode(corpus / f"{stream}.bit", loss=mask and corpus / mask))
        other = mervox.decode(corpus / f"{stream}.bit", loss=mask and corpus / mask, drop_rate=drop_rate, seed=seed + 1)
        assert drop_rate == 1.0 or not np.array_equal(pcm, other)


def test_mask_forms_agree(corpus):
    stream = corpus / "speech-a.63.bit"
    mask_bytes = (corpus / "speech-a.63.loss").read_bytes()
    reference = mervox.decode(stream, loss=corpus / "speech-a.63.loss")
    flags = np.frombuffer(mask_bytes, np.uint8) != 0
    for loss in (mask_bytes, bytearray(mask_bytes), flags, flags.astype(np.int32) * 7, list(flags)):
        np.testing.assert_array_equal(mervox.decode(stream, loss=loss), reference)
    # Only frames marked lost change: a mask of zeros is no mask.
    np.testing.assert_array_equal(mervox.decode(stream, loss=bytes(len(mask_bytes))), mervox.decode(stream))


def test_truncated_last_frame_warns_like_the_command(corpus, cli, tmp_path):
    cut = tmp_path / "cut.bit"
    data = (corpus / "speech-a.63.bit").read_bytes()[: 100 * 24 + 7]
    cut.write_bytes(data)
    result = cli("decode", cut, "-o", tmp_path / "cut.raw")
    with pytest.warns(mervox.StreamWarning) as record:
        pcm = mervox.decode(str(cut))
    assert [str(w.message) for w in record] == [command_message(result, "warning")]
    assert record[0].filename == __file__  # attributed to the caller
    np.testing.assert_array_equal(pcm, np.fromfile(tmp_path / "cut.raw", dtype="<i2"))
    assert pcm.shape == (100 * 240,)


def test_short_mask_warns_like_the_command(corpus, cli, tmp_path):
    mask = tmp_path / "short.loss"
    mask.write_bytes(b"\x01" * 10)
    stream = corpus / "speech-a.53.bit"
    result = cli("decode", stream, "-o", tmp_path / "out.raw", "--loss", mask)
    with pytest.warns(mervox.StreamWarning) as record:
        pcm = mervox.decode(stream, loss=str(mask))
    assert str(record[0].message) == command_message(result, "warning")
    np.testing.assert_array_equal(pcm, np.fromfile(tmp_path / "out.raw", dtype="<i2"))


def test_warnings_can_be_errors(corpus):
    data = (corpus / "speech-a.63.bit").read_bytes()[:30]
    with warnings.catch_warnings():
        warnings.simplefilter("error", mervox.StreamWarning)
        with pytest.raises(mervox.StreamWarning):
            mervox.decode(data)


@pytest.mark.parametrize("name", ["speech-a.mixed", "speech-a.53-vad", "speech-a.63-vad"])
def test_frames_count_as_info(corpus, cli, name):
    import json

    path = corpus / f"{name}.bit"
    info = json.loads(cli("info", path, "--json").stdout)
    f = mervox.frames(path)
    assert f.dtype.names == ("offset", "type", "rate", "size", "faulty")
    assert len(f) == info["frames"]
    by_type = np.bincount(f["type"], minlength=4)
    assert list(by_type) == [
        info["frames_by_type"][k] for k in ("rate_6300", "rate_5300", "silence_descriptor", "untransmitted")
    ]
    assert list(np.flatnonzero(f["faulty"])) == info["faulty_frames"]
    speech_rates = f["rate"][f["rate"] > 0]
    assert int(np.count_nonzero(np.diff(speech_rates))) == info["rate_switches"]
    # Offsets and sizes tile the file exactly.
    assert f["offset"][0] == 0 and np.all(f["offset"][1:] == f["offset"][:-1] + f["size"][:-1])
    assert int(f["offset"][-1] + f["size"][-1]) == info["bytes"]
    assert set(zip(f["type"], f["size"], f["rate"])) <= {(0, 24, 6300), (1, 20, 5300), (2, 4, 0), (3, 1, 0)}
