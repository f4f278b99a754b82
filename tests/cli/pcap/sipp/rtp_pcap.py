#!/usr/bin/python3
"""Writes a classic pcap (Ethernet, IPv4, UDP) of G.723.1 RTP on payload type 96:
one 6.3 kbit/s frame of a corpus stream every 30 ms, for SIPp's play_pcap_audio
(which sends each packet's RTP to the media address the other side's SDP gives).

    rtp_pcap.py FRAMES.bit OUT.pcap SSRC PACKETS
"""
import struct
import sys


def main():
    frames_path, out_path, ssrc, packets = sys.argv[1], sys.argv[2], int(sys.argv[3], 0), int(sys.argv[4])
    data = open(frames_path, "rb").read()
    frames = [data[i:i + 24] for i in range(0, len(data) - 23, 24)]
    out = bytearray(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1))
    for k in range(packets):
        rtp = struct.pack("!BBHII", 0x80, 96, k & 0xFFFF, 240 * k, ssrc) + frames[k % len(frames)]
        udp = struct.pack("!HHHH", 40000, 40002, 8 + len(rtp), 0) + rtp
        ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0, 0x4000, 64, 17, 0,
                         bytes([127, 0, 0, 1]), bytes([127, 0, 0, 1])) + udp
        frame = bytes(6) + bytes(6) + b"\x08\x00" + ip
        micros = 30000 * k
        out += struct.pack("<IIII", micros // 1000000, micros % 1000000, len(frame), len(frame)) + frame
    open(out_path, "wb").write(out)


if __name__ == "__main__":
    main()
