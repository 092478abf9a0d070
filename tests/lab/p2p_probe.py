#!/usr/bin/python3
"""What the lab's NAT and routers show a client, without Lumidex: run in the client namespace
(scripts/lab --run SCENARIO -- tests/lab/p2p_probe.py). From one UDP socket, a STUN Binding to
each STUN server of the lab (and to the RFC 5780 server's other address), and a Binding that
asks the first server to answer from its other address and port; then an SSDP M-SEARCH for an
Internet gateway device and a NAT-PMP public-address request to the gateway. Prints one line
per answer, as JSON, for a person or a test to read.

    p2p_probe.py --trace ADDRESS   instead: echoes with TTL 1 to 8, three each (a raw socket:
                                   root), and which address answered each TTL
"""
import json
import os
import socket
import struct
import sys

MAGIC = 0x2112A442
MAPPED, XOR_MAPPED, OTHER = 0x0001, 0x0020, 0x802C


def binding(sock, address, port, change=0, wait=0.6):
    tid = os.urandom(12)
    attrs = b""
    if change:
        attrs = struct.pack("!HHI", 0x0003, 4, change)
    sock.sendto(struct.pack("!HHI", 0x0001, len(attrs), MAGIC) + tid + attrs, (address, port))
    sock.settimeout(wait)
    try:
        while True:
            data, peer = sock.recvfrom(2048)
            if data[8:20] == tid:
                return peer, parse(data)
    except socket.timeout:
        return None, {}


def parse(data):
    found, at = {}, 20
    while at + 4 <= len(data):
        kind, length = struct.unpack("!HH", data[at:at + 4])
        value = data[at + 4:at + 4 + length]
        if kind in (MAPPED, XOR_MAPPED, OTHER) and len(value) >= 8:
            port = struct.unpack("!H", value[2:4])[0]
            raw = value[4:8]
            if kind == XOR_MAPPED:
                port ^= MAGIC >> 16
                raw = bytes(b ^ m for b, m in zip(raw, struct.pack("!I", MAGIC)))
            found[{MAPPED: "mapped", XOR_MAPPED: "mapped", OTHER: "other"}[kind]] = \
                "%s:%d" % (socket.inet_ntoa(raw), port)
        at += 4 + (length + 3) // 4 * 4
    return found


def checksum(data):
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    total = (total >> 16) + (total & 0xFFFF)
    return ~(total + (total >> 16)) & 0xFFFF


def trace(target):
    sock = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)
    ident = os.getpid() & 0xFFFF
    for ttl in range(1, 9):
        sock.setsockopt(socket.IPPROTO_IP, socket.IP_TTL, ttl)
        answers = []
        for seq in range(3):
            body = struct.pack("!BBHHH", 8, 0, 0, ident, ttl * 16 + seq)
            sock.sendto(struct.pack("!BBHHH", 8, 0, checksum(body), ident, ttl * 16 + seq),
                        (target, 0))
            sock.settimeout(0.4)
            got = None
            try:
                while got is None:
                    data, peer = sock.recvfrom(1500)
                    icmp = data[(data[0] & 15) * 4:]
                    if icmp[0] == 0 and icmp[4:8] == struct.pack("!HH", ident, ttl * 16 + seq):
                        got = peer[0] + " (reply)"
                    elif icmp[0] in (3, 11) and len(icmp) >= 36 and \
                            icmp[8 + (icmp[8] & 15) * 4 + 4:][:4] == struct.pack("!HH", ident, ttl * 16 + seq):
                        got = peer[0]
            except socket.timeout:
                pass
            answers.append(got)
        print(json.dumps({"ttl": ttl, "answers": answers}))
        if any(a and a.endswith("(reply)") for a in answers):
            break


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--trace":
        return trace(sys.argv[2])
    notes = json.load(open(os.path.join(os.environ["LAB_DIR"], "lab.json")))
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("0.0.0.0", 0))
    print(json.dumps({"local_port": sock.getsockname()[1]}))
    for server in notes.get("stun", []):
        peer, found = binding(sock, server["address"], server["port"])
        print(json.dumps({"stun": server["address"], "from": peer and peer[0], **found}))
        if server.get("otherAddress"):
            peer, found = binding(sock, server["otherAddress"], server["port"])
            print(json.dumps({"stun": server["otherAddress"], "from": peer and peer[0], **found}))
            for change, name in ((6, "change_ip_port"), (2, "change_port")):
                peer, found = binding(sock, server["address"], server["port"], change)
                print(json.dumps({"stun": server["address"], "test": name,
                                  "from": peer and "%s:%d" % peer, **found}))
    ssdp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    ssdp.settimeout(1.0)
    ssdp.sendto(b"M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\n"
                b"MX: 1\r\nST: urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n\r\n",
                ("239.255.255.250", 1900))
    try:
        data, peer = ssdp.recvfrom(4096)
        location = [l for l in data.decode(errors="replace").split("\r\n")
                    if l.lower().startswith("location:")]
        print(json.dumps({"ssdp": peer[0], "location": location[0][9:].strip() if location else None}))
    except socket.timeout:
        print(json.dumps({"ssdp": None}))
    natpmp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    natpmp.settimeout(1.0)
    natpmp.sendto(b"\0\0", (notes["gateway"], 5351))
    try:
        data, _ = natpmp.recvfrom(64)
        result = struct.unpack("!H", data[2:4])[0]
        print(json.dumps({"natpmp_result": result,
                          "external": socket.inet_ntoa(data[8:12]) if len(data) >= 12 else None}))
    except socket.timeout:
        print(json.dumps({"natpmp_result": None}))


if __name__ == "__main__":
    sys.exit(main())
