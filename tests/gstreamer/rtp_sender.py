#!/usr/bin/python3
"""Sends a G.723.1 stream file of one rate (frames of FRAME_BYTES each) as RTP
(payload type 4) to a UDP port on localhost, in real time, leaving out chosen
packets as a lossy network would.

    rtp_sender.py STREAM FRAME_BYTES PORT FRAMES_PER_PACKET PACKETS DROPPED LOSS_MASK

DROPPED is a comma-separated list of packet indices that are not sent;
LOSS_MASK receives one byte per frame sent or dropped (1 = in a dropped
packet), the mask `mervox decode --loss` takes. Waits until a receiver has
bound the port before sending.
"""
import socket
import struct
import sys
import time


def wait_for_receiver(port, seconds=20):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        probe = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            probe.bind(("127.0.0.1", port))
        except OSError:
            return True  # taken: the receiver is listening
        finally:
            probe.close()
        time.sleep(0.05)
    return False


def main():
    stream_path, frame_bytes, port, per, packets, dropped, mask_path = sys.argv[1:8]
    frame_bytes, port, per, packets = int(frame_bytes), int(port), int(per), int(packets)
    dropped = {int(k) for k in dropped.split(",") if k}
    data = open(stream_path, "rb").read()
    if len(data) < packets * per * frame_bytes:
        sys.exit("rtp_sender: %s holds fewer than %d frames" % (stream_path, packets * per))
    if not wait_for_receiver(port):
        sys.exit("rtp_sender: nobody listens on port %d" % port)

    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    ssrc, sequence, timestamp = 0x4D525658, 1000, 160000
    mask = bytearray()
    at = 0
    start = time.monotonic()
    for k in range(packets):
        payload = data[at:at + per * frame_bytes]
        at += per * frame_bytes
        mask += bytes([1 if k in dropped else 0]) * per
        if k not in dropped:
            header = struct.pack("!BBHII", 0x80, 4 | (0x80 if k == 0 else 0), sequence & 0xFFFF,
                                 timestamp & 0xFFFFFFFF, ssrc)
            sock.sendto(header + payload, ("127.0.0.1", port))
        sequence += 1
        timestamp += 240 * per
        # On schedule: one packet every per * 30 ms from the start.
        delay = start + (k + 1) * per * 0.030 - time.monotonic()
        if delay > 0:
            time.sleep(delay)
    open(mask_path, "wb").write(mask)


if __name__ == "__main__":
    main()
