#!/usr/bin/python3
"""The fastest publisher we can offer the broker: N QoS 0 PUBLISH packets of MQTT 3.1.1, encoded
ahead and written in large blocks on one connection, then DISCONNECT. Prints "ready" after the
CONNACK and waits for one line on stdin before it sends, so the caller can start its clock.
"""

import argparse
import socket
import sys


def remaining_length(n):
    out = bytearray()
    while True:
        byte, n = n % 128, n // 128
        out.append(byte | (0x80 if n else 0))
        if not n:
            return bytes(out)


def utf8(text):
    data = text.encode()
    return len(data).to_bytes(2, "big") + data


def packet(kind, body):
    return bytes([kind]) + remaining_length(len(body)) + body


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--topic", required=True)
    ap.add_argument("--count", type=int, required=True)
    args = ap.parse_args()
    topic = utf8(args.topic)
    load = b"".join(packet(0x30, topic + b"%08dabcdefghijklmnopqrstuvwx" % i) for i in range(args.count))
    sock = socket.create_connection(("127.0.0.1", args.port), timeout=30)
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    # CONNECT: protocol "MQTT" level 4, clean session, keep-alive 60 s, empty client id.
    sock.sendall(packet(0x10, utf8("MQTT") + bytes([4, 0x02, 0, 60]) + utf8("")))
    connack = sock.recv(4)
    if len(connack) < 4 or connack[0] != 0x20 or connack[3] != 0:
        sys.exit("no CONNACK: %r" % connack)
    sys.stdout.write("ready\n")
    sys.stdout.flush()
    sys.stdin.readline()
    sock.sendall(load + packet(0xE0, b""))
    sock.shutdown(socket.SHUT_WR)
    # The broker closes after the DISCONNECT, once it has read everything before it.
    while sock.recv(65536):
        pass
    sock.close()


if __name__ == "__main__":
    main()
