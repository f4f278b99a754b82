"""Ctrl-C stops a long call: it raises KeyboardInterrupt before it has
done its work, not once it is done.

Each case runs in a child interpreter that sends itself SIGINT while the
call is running:
- fifo: the stream comes through a named pipe; a thread feeds it a few
  frames, sends SIGINT, waits until Python's signal handler has recorded it
  (signal.set_wakeup_fd), then feeds it 31,000 more frames. The call must
  stop reading before their end: the thread's writes fail (broken pipe).
- bytes: a large stream or capture in memory; the main thread keeps the
  interpreter lock (a long switch interval) until the call releases it to
  decode, and only then can a waiting thread send SIGINT. The call must use
  less than half the processor time the whole work takes (measured on an
  eighth of it, in the same child).
"""

import json
import os
import subprocess
import sys

import pytest

CHILD = r"""
import json, os, signal, socket, struct, sys, threading, time
import mervox

call_name, kind, stream_path, fifo = sys.argv[1:]
call = getattr(mervox, call_name)
signal.signal(signal.SIGINT, signal.default_int_handler)
stream = open(stream_path, "rb").read()
frames = [stream[k:k + 24] for k in range(0, len(stream) - 23, 24)]


def write_all(fd, data):
    view = memoryview(data)
    while view:
        view = view[os.write(fd, view):]


def feed():
    fd = os.open(fifo, os.O_WRONLY)  # once the call has opened the pipe
    try:
        write_all(fd, b"".join(frames[:100]))
        os.kill(os.getpid(), signal.SIGINT)
        woken.recv(1)  # the handler ran: the interrupt is pending
        write_all(fd, stream * 8)
    except BrokenPipeError:
        report["broken pipe"] = True  # the call stopped reading
    finally:
        os.close(fd)


def interrupt():
    go.wait()  # returns once the call lets go of the interpreter lock
    os.kill(os.getpid(), signal.SIGINT)


def capture(packets):
    def record(rtp):
        udp = struct.pack("!HHHH", 50000, 40000, 8 + len(rtp), 0) + rtp
        ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0, 0, 64, 17, 0, b"\x0a\0\0\1", b"\x0a\0\0\2")
        frame = b"\0" * 12 + b"\x08\x00" + ip + udp
        return struct.pack("<IIII", 1000 + k // 33, k % 33 * 30000, len(frame), len(frame)) + frame

    out = [struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1)]
    for k in range(packets):
        payload = b"".join(frames[(4 * k + j) % len(frames)] for j in range(4))
        out.append(record(struct.pack("!BBHII", 0x80, 4, k & 0xFFFF, 960 * k, 0x1234) + payload))
    return b"".join(out)


report = {"broken pipe": False}
if kind == "fifo":
    woken, wake = socket.socketpair()
    wake.setblocking(False)
    signal.set_wakeup_fd(wake.fileno())
    helper = threading.Thread(target=feed)
    source = fifo
else:
    whole, eighth = (capture(30000), capture(3750)) if call_name.startswith("read_") else (stream * 32, stream * 4)
    start = time.thread_time()
    call(eighth)
    report["whole work"] = 8 * (time.thread_time() - start)
    go = threading.Event()
    helper = threading.Thread(target=interrupt)
    source = whole
    sys.setswitchinterval(1000)
helper.start()
if kind != "fifo":
    go.set()
start = time.thread_time()
try:
    call(source)
    report["outcome"] = "finished"
except KeyboardInterrupt:
    report["outcome"] = "interrupted"
report["call"] = time.thread_time() - start
helper.join()
print(json.dumps(report))
"""


@pytest.mark.parametrize(
    "call, kind",
    [("decode", "fifo"), ("frames", "fifo"), ("decode", "bytes"), ("read_capture", "bytes"), ("read_calls", "bytes")],
)
def test_ctrl_c_stops_a_long_call(corpus, tmp_path, call, kind):
    fifo = tmp_path / "stream.bit"
    os.mkfifo(fifo)
    child = subprocess.run(
        [sys.executable, "-c", CHILD, call, kind, str(corpus / "speech-a.63.bit"), str(fifo)],
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert child.returncode == 0, child.stderr
    report = json.loads(child.stdout)
    assert report["outcome"] == "interrupted", report
    if kind == "fifo":
        assert report["broken pipe"], report
    else:
        assert report["call"] < report["whole work"] / 2, report
