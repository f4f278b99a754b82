"""Data of other formats given to decode() and frames(): refused with the
command's message and hint (StreamError), decoded with force=True as
`mervox decode --force` decodes it."""

import gzip
import io
import warnings
import wave
import zipfile

import numpy as np
import pytest

import mervox
from conftest import command_message


def short_stream(corpus):
    """The first 100 frames of a corpus stream."""
    return (corpus / "speech-a.63.bit").read_bytes()[: 24 * 100]


def wav_from_python(corpus):
    out = io.BytesIO()
    with wave.open(out, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(8000)
        w.writeframes(mervox.decode(short_stream(corpus)).tobytes())
    return out.getvalue()


def zip_of(corpus):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as z:
        z.writestr("call.bit", short_stream(corpus))
    return out.getvalue()


def pcap_header(magic):
    order = "big" if magic[0] == 0xA1 else "little"
    fields = [(2, 2), (4, 2), (0, 4), (0, 4), (65535, 4), (1, 4)]
    return bytes(magic) + b"".join(v.to_bytes(n, order) for v, n in fields)


# name -> (bytes made from the corpus, what the message calls it, part of the hint)
FORMATS = {
    "pcapng": (lambda c: (c / "call-a.pcapng").read_bytes(), "a pcapng capture", "mervox.read_capture()"),
    "pcap": (lambda c: pcap_header([0xD4, 0xC3, 0xB2, 0xA1]), "a pcap capture", "`mervox pcap`"),
    "pcap-ns": (lambda c: pcap_header([0xA1, 0xB2, 0x3C, 0x4D]), "a pcap capture", "`mervox pcap`"),
    "wav": (wav_from_python, "a WAV file", "a WAV file is already audio"),
    "gzip": (lambda c: gzip.compress(short_stream(c)), "gzip-compressed data", "decompress it first"),
    "zip": (zip_of, "a zip archive", "extract it first"),
    "ogg": (lambda c: b"OggS\x00\x02" + bytes(range(128, 250)), "an Ogg file", "already audio"),
    "flac": (lambda c: b"fLaC\x00\x00\x00\x22" + bytes(range(128, 250)), "a FLAC file", "already audio"),
    "au": (lambda c: b".snd\x00\x00\x00\x18" + bytes(range(128, 250)), "a Sun audio (.au) file", "already audio"),
    "mp3": (lambda c: b"ID3\x04\x00\x00\x00\x00\x00\x00" + bytes(range(128, 250)), "an MP3 file", "already audio"),
    "hex dump": (lambda c: short_stream(c).hex().encode(), "text", "xxd -r -p"),
    "text": (lambda c: "Anruf vom 3. März, 30 ms je Rahmen – siehe call.bit\n".encode() * 3, "text", "binary frames"),
}


@pytest.mark.parametrize("name", FORMATS)
def test_refused_with_the_commands_message(corpus, cli, tmp_path, name):
    make, kind, hint = FORMATS[name]
    data = make(corpus)
    path = tmp_path / "input"
    path.write_bytes(data)
    command = command_message(cli("decode", path, "-o", tmp_path / "o.raw", check=False))
    assert command.startswith(f"{path}: looks like {kind}, not a G.723.1 stream: ")
    assert hint in command and command.endswith("; --force decodes it anyway")
    for call in (mervox.decode, mervox.frames):
        with pytest.raises(mervox.StreamError) as error:
            call(path)
        assert str(error.value) == command.replace("--force", "force=True")
        with pytest.raises(mervox.StreamError) as error:
            call(data)
        assert str(error.value) == command.replace(str(path), "<bytes>").replace("--force", "force=True")
        with pytest.raises(ValueError):  # StreamError is a ValueError
            call(np.frombuffer(data, dtype=np.uint8))


@pytest.mark.parametrize("name", FORMATS)
def test_force_decodes_as_the_command_does(corpus, cli, tmp_path, name):
    data = FORMATS[name][0](corpus)
    path = tmp_path / "input"
    path.write_bytes(data)
    cli("decode", "-q", "--force", path, "-o", tmp_path / "o.raw")
    want = np.fromfile(tmp_path / "o.raw", dtype="<i2")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", mervox.StreamWarning)  # a truncated last frame
        for source in (path, data):
            assert np.array_equal(mervox.decode(source, force=True), want)
            assert len(mervox.frames(source, force=True)) == want.size // mervox.FRAME_SAMPLES


def test_force_is_a_keyword(corpus):
    data = (corpus / "call-a.pcapng").read_bytes()
    with pytest.raises(TypeError):
        mervox.decode(data, None, 0.0, 1, True)
    with pytest.raises(TypeError):
        mervox.frames(data, True)
    stream = short_stream(corpus)
    assert np.array_equal(mervox.decode(stream, force=True), mervox.decode(stream))


def test_no_corpus_stream_is_refused(corpus):
    for path in [*sorted(corpus.glob("*.bit")), corpus.parents[2] / "samples" / "speech-a-10s.63.bit"]:
        assert len(mervox.frames(path)) > 0, path
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", mervox.StreamWarning)  # cut inside a frame
            assert len(mervox.frames(path.read_bytes()[:2048])) > 0, path
