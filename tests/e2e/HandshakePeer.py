#!/usr/bin/python3
"""WebSocket peer that reports what a client's opening handshake carried, on 127.0.0.1.

  HandshakePeer.py    prints "PORT <n>", then for every connection one JSON line:
                      {"headers": {...}, "extensions": [...], "subprotocol": "...", "first": "<hex>"}
                      with the request's header lines, the extensions the peer agreed to, the
                      sub-protocol it chose and the first message it received (decompressed when
                      compressed). It answers that first message with an MQTT CONNACK (accepted)
                      and keeps the connection open until the client closes it.
"""
import asyncio
import json
import sys

import websockets

TIMEOUT = 20


async def handler(ws, _path=None):
    first = b""
    try:
        first = await asyncio.wait_for(ws.recv(), TIMEOUT)
        if isinstance(first, str):
            first = first.encode()
    except Exception:
        pass
    report = {
        "headers": {k: v for k, v in ws.request_headers.raw_items()},
        "extensions": [e.name for e in ws.extensions],
        "subprotocol": ws.subprotocol or "",
        "first": first.hex(),
    }
    print(json.dumps(report), flush=True)
    if first:
        await ws.send(bytes([0x20, 0x02, 0x00, 0x00]))
    try:
        await asyncio.wait_for(ws.wait_closed(), TIMEOUT)
    except Exception:
        pass


async def main():
    async with websockets.serve(handler, "127.0.0.1", 0, subprotocols=["mqtt", "mqttv3.1"],
                                compression="deflate") as server:
        port = server.sockets[0].getsockname()[1]
        print("PORT %d" % port, flush=True)
        await asyncio.sleep(120)


asyncio.run(main())
