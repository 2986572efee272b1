"""WebSocket echo peer for the frame codec's interop tests: echoes every message, answers "ping-me"
with a ping of its own, "fragments" with a fragmented text, and "close-me" with a close frame 4000."""
import asyncio
import sys

import websockets


async def handle(ws, path=None):
    async for message in ws:
        if message == "ping-me":
            pong = await ws.ping(b"peer-ping")
            await pong
            await ws.send("pong-ok")
        elif message == "fragments":
            await ws.send(["frag", "ment", "ed"])
        elif message == "close-me":
            await ws.close(4000, "bye")
        else:
            await ws.send(message)


async def main():
    async with websockets.serve(handle, "127.0.0.1", 0, max_size=None, subprotocols=["mqtt"],
                                compression=None) as server:
        port = server.sockets[0].getsockname()[1]
        print(port, flush=True)
        await asyncio.Future()


asyncio.run(main())
