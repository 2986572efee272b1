#!/usr/bin/python3
"""permessage-deflate peer for the compression tests, on 127.0.0.1.

  CompressionPeer.py server '<json>'       echo server; prints its port. The message "stats" is
                                           answered with "rsv1=<n> plain=<m>": data messages
                                           received compressed and plain on that connection.
  CompressionPeer.py client <port> '<json>' connects, prints "EXT <answer>", sends text and binary
                                           messages of 10 bytes, 100 KiB and 4 MiB, checks every
                                           echo, prints "OK rsv1=<n> plain=<m>" (the echoes
                                           received compressed and plain) or "FAIL <reason>".
The JSON holds the factory options (server_no_context_takeover, client_no_context_takeover,
server_max_window_bits, client_max_window_bits).
"""
import asyncio
import json
import sys

import websockets
from websockets.extensions import permessage_deflate as pmd

SIZES = (10, 100 * 1024, 4 * 1024 * 1024)
TIMEOUT = 20


def payload(size, seed):
    """Text with repeats farther back than a 1 KiB window reaches, so a wrong window size shows."""
    block = bytearray()
    x = seed * 2654435761 % 4294967296 or 1
    while len(block) < 3000:
        x = (x * 1103515245 + 12345) % 2147483648
        block.append(97 + (x >> 16) % 26)
    out = bytearray()
    i = 0
    while len(out) < size:
        out += block
        out[-1 - i % 3000] = 65 + i % 26
        i += 1
    return bytes(out[:size]).decode("ascii")


class Counting(pmd.PerMessageDeflate):
    """Counts the data messages a connection received compressed (RSV1 on their first frame)."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.rsv1 = 0
        self.plain = 0

    def decode(self, frame, *, max_size=None):
        if frame.opcode in (websockets.frames.Opcode.TEXT, websockets.frames.Opcode.BINARY):
            if frame.rsv1:
                self.rsv1 += 1
            else:
                self.plain += 1
        return super().decode(frame, max_size=max_size)


def counting(ext):
    return Counting(ext.remote_no_context_takeover, ext.local_no_context_takeover,
                    ext.remote_max_window_bits, ext.local_max_window_bits, ext.compress_settings)


class CountingFactory(pmd.ServerPerMessageDeflateFactory):
    def process_request_params(self, params, accepted_extensions):
        answer, ext = super().process_request_params(params, accepted_extensions)
        return answer, counting(ext)


class CountingClientFactory(pmd.ClientPerMessageDeflateFactory):
    def process_response_params(self, params, accepted_extensions):
        return counting(super().process_response_params(params, accepted_extensions))


async def serve(options):
    async def handle(ws, path=None):
        ext = next((e for e in ws.extensions if isinstance(e, Counting)), None)
        async for message in ws:
            if message == "stats":
                await ws.send("rsv1=%d plain=%d" % ((ext.rsv1, ext.plain) if ext else (0, 0)))
            else:
                await ws.send(message)

    async with websockets.serve(handle, "127.0.0.1", 0, max_size=None, compression=None,
                                extensions=[CountingFactory(**options)]) as server:
        print(server.sockets[0].getsockname()[1], flush=True)
        await asyncio.Future()


async def client(port, options):
    factory = CountingClientFactory(**options)
    async with websockets.connect("ws://127.0.0.1:%d/" % port, max_size=None, compression=None,
                                  extensions=[factory], open_timeout=TIMEOUT) as ws:
        print("EXT " + ws.response_headers.get("Sec-WebSocket-Extensions", ""), flush=True)
        for n, size in enumerate(SIZES):
            text = payload(size, n + 1)
            for message in (text, text.encode("ascii")):
                await ws.send(message)
                echo = await asyncio.wait_for(ws.recv(), TIMEOUT)
                if echo != message:
                    return "FAIL echo of %d %s differs" % (size, type(message).__name__)
        ext = next(e for e in ws.extensions if isinstance(e, Counting))
        return "OK rsv1=%d plain=%d" % (ext.rsv1, ext.plain)


def main():
    if sys.argv[1] == "server":
        asyncio.run(serve(json.loads(sys.argv[2])))
        return
    try:
        result = asyncio.run(client(int(sys.argv[2]), json.loads(sys.argv[3])))
    except Exception as exc:  # reported to the test as its observable outcome
        result = "FAIL " + repr(exc)
    print(result, flush=True)


main()
