"""mervox.Decoder frame by frame, and decoding on several threads at once."""

import concurrent.futures

import numpy as np

import mervox


def test_decoder_follows_the_stream(corpus):
    path = corpus / "speech-a.53-vad.bit"
    data = path.read_bytes()
    f = mervox.frames(path)
    assert set(f["type"]) >= {1, 2}  # speech and silence descriptors
    mask = np.zeros(len(f), np.uint8)
    mask[100:110] = 1
    decoder = mervox.Decoder()
    parts = []
    for k, (offset, size) in enumerate(zip(f["offset"], f["size"])):
        frame = data[offset : offset + size]
        out = decoder.conceal() if mask[k] else decoder.decode(frame)
        assert out.shape == (240,) and out.dtype == np.int16
        parts.append(out)
    np.testing.assert_array_equal(np.concatenate(parts), mervox.decode(data, loss=mask))
    # reset() starts over: the first frames come out as from a new decoder.
    decoder.reset()
    first = data[: f["size"][0]]
    np.testing.assert_array_equal(decoder.decode(first), mervox.Decoder().decode(first))


def test_threads_give_the_same_arrays(corpus):
    jobs = [
        ("decode", corpus / "speech-a.63.bit", {"loss": corpus / "speech-a.63.loss"}),
        ("decode", corpus / "speech-a.53.bit", {"drop_rate": 0.3, "seed": 5}),
        ("decode", (corpus / "speech-a.mixed.bit").read_bytes(), {}),
        ("decode", corpus / "speech-a.63-vad.bit", {}),
        ("capture", corpus / "call-a.pcapng", {}),
    ] * 3

    def run(job):
        kind, data, options = job
        if kind == "capture":
            return np.concatenate([s.pcm for s in mervox.read_capture(data)])
        return mervox.decode(data, **options)

    one_at_a_time = [run(job) for job in jobs]
    with concurrent.futures.ThreadPoolExecutor(max_workers=6) as pool:
        at_once = list(pool.map(run, jobs))
    for a, b in zip(one_at_a_time, at_once):
        np.testing.assert_array_equal(a, b)


def test_one_decoder_per_thread_and_a_shared_one(corpus):
    data = (corpus / "speech-a.63.bit").read_bytes()
    frames = [data[k : k + 24] for k in range(0, 24 * 400, 24)]

    def own_decoder(_):
        d = mervox.Decoder()
        return np.concatenate([d.decode(f) for f in frames])

    reference = own_decoder(None)
    with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
        for result in pool.map(own_decoder, range(8)):
            np.testing.assert_array_equal(result, reference)
    # A decoder shared by threads serialises its calls: every call still
    # yields a whole frame, never a torn one.
    shared = mervox.Decoder()
    with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
        outputs = list(pool.map(shared.decode, frames))
    assert all(o.shape == (240,) for o in outputs)
