#!/usr/bin/python3
"""A router's NAT-PMP service that reports its WAN address, whatever it is (many routers
behind a carrier-grade NAT report their 100.64.0.0/10 address), and maps nothing.

    natpmp_standin.py LISTEN_ADDRESS EXTERNAL_ADDRESS   (runs until killed)

Public-address requests get result 0 and EXTERNAL_ADDRESS; mapping requests result 2 (not
authorized); anything of another version (PCP is version 2) result 1 (unsupported version),
as a NAT-PMP-only router answers.
"""
import socket
import struct
import sys
import time

PORT = 5351
START = time.monotonic()


def epoch():
    return int(time.monotonic() - START) & 0xFFFFFFFF


def answer(request, external):
    if len(request) < 2:
        return None
    version, opcode = request[0], request[1]
    if version != 0:
        return struct.pack("!BBHI", 0, 128 + opcode % 128, 1, epoch())
    if opcode == 0 and len(request) == 2:
        return struct.pack("!BBHI4s", 0, 128, 0, epoch(), socket.inet_aton(external))
    if opcode in (1, 2) and len(request) == 12:
        private = request[4:6]
        return struct.pack("!BBHI2sHI", 0, 128 + opcode, 2, epoch(), private, 0, 0)
    return struct.pack("!BBHI", 0, 128 + opcode % 128, 5, epoch())


def main():
    listen, external = sys.argv[1], sys.argv[2]
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind((listen, PORT))
    print("answering on %s:%d with %s" % (listen, PORT, external), flush=True)
    while True:
        request, peer = sock.recvfrom(1100)
        reply = answer(request, external)
        if reply is not None:
            sock.sendto(reply, peer)


if __name__ == "__main__":
    main()
