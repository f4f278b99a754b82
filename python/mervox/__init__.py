"""G.723.1 speech decoding into NumPy arrays.

    import mervox
    pcm = mervox.decode("call.bit")             # int16, 8000 Hz, 240 samples a frame
    for s in mervox.read_capture("call.pcapng"):
        print(hex(s.ssrc), s.source, s.lost_frames, s.pcm.shape)

The same decoder, stream splitting, loss simulation and capture reader as
the `mervox` command: the same samples, the same messages.
"""

from ._mervox import (
    FRAME_SAMPLES,
    SAMPLE_RATE,
    CaptureCall,
    CaptureError,
    CaptureStream,
    CaptureWarning,
    Decoder,
    StreamError,
    StreamWarning,
    __version__,
    decode,
    frames,
    read_calls,
    read_capture,
)

__all__ = [
    "Decoder",
    "decode",
    "frames",
    "read_capture",
    "read_calls",
    "CaptureStream",
    "CaptureCall",
    "StreamError",
    "CaptureError",
    "StreamWarning",
    "CaptureWarning",
    "SAMPLE_RATE",
    "FRAME_SAMPLES",
]

for _name in __all__:
    _object = globals()[_name]
    if isinstance(_object, type):
        _object.__module__ = __name__
del _name, _object
