#!/usr/bin/python3
"""Compression peer for the extension tests: a real permessage-deflate implementation (or plain zlib
for deflate-frame) driven line by line over stdin/stdout.

Usage: ExtensionPeer.py server|client|deflate-frame [JSON factory options]
  server:  reads "OFFER <value>", answers "ANSWER <value>" or "DECLINE <reason>"
  client:  writes "OFFER <value>", reads "ANSWER <value>", answers "OK" or "DECLINE <reason>"
Then, per line: "D <hex>" decodes a compressed message -> "P <hex>";
                "E <hex>" encodes a plain message     -> "C <hex>";
                any failure                           -> "ERR <reason>".
"""
import json
import sys
import zlib

from websockets import frames
from websockets.extensions import permessage_deflate as pmd
from websockets.headers import build_extension, parse_extension

TAIL = b"\x00\x00\xff\xff"


def reply(text):
    sys.stdout.write(text + "\n")
    sys.stdout.flush()


def read_line():
    line = sys.stdin.readline()
    if not line:
        sys.exit(0)
    return line.rstrip("\r\n")


class DeflateFrame:
    """Continuous raw deflate streams in both directions, as deflate-frame peers keep them."""

    def __init__(self, wbits):
        self.encoder = zlib.compressobj(zlib.Z_DEFAULT_COMPRESSION, zlib.DEFLATED, -wbits)
        self.decoder = zlib.decompressobj(-wbits)

    def decode(self, frame):
        if not frame.rsv1:
            return frame
        return frames.Frame(frame.opcode, self.decoder.decompress(frame.data + TAIL))

    def encode(self, frame):
        data = self.encoder.compress(frame.data) + self.encoder.flush(zlib.Z_SYNC_FLUSH)
        if data.endswith(TAIL):
            data = data[:-4]
        return frames.Frame(frame.opcode, data, rsv1=True)


def negotiate(role, options):
    if role == "deflate-frame":
        return DeflateFrame(options.get("window_bits", 15))
    if role == "server":
        factory = pmd.ServerPerMessageDeflateFactory(**options)
        line = read_line()
        assert line.startswith("OFFER "), line
        for name, params in parse_extension(line[len("OFFER "):]):
            if name != "permessage-deflate":
                continue
            try:
                answer, extension = factory.process_request_params(params, [])
            except Exception as exc:  # a declined offer is a result to report, not a crash
                reply("DECLINE " + repr(exc))
                return None
            reply("ANSWER " + build_extension([(name, answer)]))
            return extension
        reply("DECLINE no permessage-deflate offer")
        return None
    factory = pmd.ClientPerMessageDeflateFactory(**options)
    reply("OFFER " + build_extension([("permessage-deflate", factory.get_request_params())]))
    line = read_line()
    assert line.startswith("ANSWER "), line
    for name, params in parse_extension(line[len("ANSWER "):]):
        try:
            extension = factory.process_response_params(params, [])
        except Exception as exc:
            reply("DECLINE " + repr(exc))
            return None
        reply("OK")
        return extension
    reply("DECLINE empty answer")
    return None


def main():
    role = sys.argv[1]
    options = json.loads(sys.argv[2]) if len(sys.argv) > 2 else {}
    extension = negotiate(role, options)
    if extension is None:
        return
    while True:
        line = read_line()
        command, _, data = line.partition(" ")
        payload = bytes.fromhex(data)
        try:
            if command == "D":
                frame = extension.decode(frames.Frame(frames.OP_BINARY, payload, rsv1=True), max_size=None) \
                    if role != "deflate-frame" else extension.decode(frames.Frame(frames.OP_BINARY, payload, rsv1=True))
                reply("P " + frame.data.hex())
            elif command == "E":
                frame = extension.encode(frames.Frame(frames.OP_BINARY, payload))
                reply("C " + frame.data.hex() if frame.rsv1 else "ERR not marked compressed")
            else:
                reply("ERR unknown command " + command)
        except Exception as exc:
            reply("ERR " + repr(exc))


if __name__ == "__main__":
    main()
