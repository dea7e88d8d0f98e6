#!/usr/bin/env python3
"""Reference encoder of the eight discovery datagrams, written from the
layout tables with struct, independent of the C++ builders. Prints one line
per datagram: name and hex bytes."""
import socket
import struct

KEY = b"SC_#0badc0de_#20261207_101112123"  # 32 characters: fills its field
assert len(KEY) == 32


def ip(text):
    return socket.inet_aton(text)


def mac(text):
    return bytes(int(x, 16) for x in text.split(":"))


def cmd(code, payload):
    return struct.pack(">BBHHH", 0x42, 0x11, code, len(payload), 1) + payload


def ack(code, payload):
    return struct.pack(">HHHH", 0, code, len(payload), 1) + payload


def device(kind, time_ms):
    return struct.pack("<I4xq", kind, time_ms)


T = 1_000_000_000_000
discover_ack = struct.pack("6s2x4s4s4s4s32s32s32s48s32s16x", mac("00:11:22:aa:bb:cc"), ip("192.168.1.10"),
                           ip("10.0.0.5"), ip("255.0.0.0"), ip("10.0.0.1"), b"GEV", b"XAN-QB117-82KT",
                           b"V2.8.6 180210 143913", b"XAN MONITOR", KEY)
forceip = struct.pack("12x4s4s4s32s", ip("192.168.1.11"), ip("255.255.255.0"), ip("192.168.1.11"), KEY)
forceip_ack = struct.pack("6s2x4s4s4s4s32s", mac("00:11:22:aa:bb:cc"), ip("192.168.1.10"), ip("192.168.1.11"),
                          ip("255.255.255.0"), ip("192.168.1.11"), KEY)

rows = [
    ("discover", cmd(0x0002, b"")),
    ("forceip", cmd(0x0004, forceip)),
    ("settime", cmd(0x0082, device(1, T))),
    ("restart", cmd(0x0082, device(2, 0))),
    ("discover_ack", ack(0x0003, discover_ack)),
    ("forceip_ack", ack(0x0005, forceip_ack)),
    ("settime_ack", ack(0x0083, device(1, T))),
    ("restart_ack", ack(0x0083, device(2, T))),
]
for name, data in rows:
    print(name, data.hex())
