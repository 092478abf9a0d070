#!/usr/bin/python3
"""A STUN server that never answers well: to every Binding request it sends bytes that are
no STUN message, an answer carrying another transaction id, a flood of short junk, and one
answer of nearly 64 KiB whose attributes claim more than the message holds. Never a valid
answer, so a prober that survives it finds no mapping here.

    hostile_stun.py ADDRESS:PORT...   (runs until killed)
"""
import os
import selectors
import socket
import struct
import sys

MAGIC = 0x2112A442
FLOOD = 200          # junk datagrams per request
HUGE = 65000         # bytes of the oversized answer


def header(kind, length, tid):
    return struct.pack("!HHI", kind, length, MAGIC) + tid


def answers(request):
    tid = request[8:20]
    other = bytes(b ^ 0xFF for b in tid)
    mapped = struct.pack("!HHBBH4s", 0x0020, 8, 0, 1, 0x1234 ^ (MAGIC >> 16),
                         bytes([1, 2, 3, 4]))
    yield os.urandom(37)                                     # garbage
    yield header(0x0101, len(mapped), other) + mapped        # another transaction id
    for _ in range(FLOOD):
        yield os.urandom(8)
    # The right id, but an attribute that claims 0xFFFF bytes, padded out to HUGE.
    body = struct.pack("!HH", 0x0020, 0xFFFF) + b"\0" * (HUGE - 24)
    yield header(0x0101, len(body), tid) + body


def main():
    selector = selectors.DefaultSelector()
    for endpoint in sys.argv[1:]:
        address, port = endpoint.rsplit(":", 1)
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sock.bind((address, int(port)))
        selector.register(sock, selectors.EVENT_READ)
    print("answering", " ".join(sys.argv[1:]), flush=True)
    while True:
        for key, _ in selector.select():
            sock = key.fileobj
            try:
                request, peer = sock.recvfrom(2048)
            except OSError:
                continue
            if len(request) < 20 or struct.unpack("!I", request[4:8])[0] != MAGIC:
                continue
            print("request from %s:%d" % peer, flush=True)
            for datagram in answers(request):
                try:
                    sock.sendto(datagram, peer)
                except OSError:
                    pass


if __name__ == "__main__":
    main()
