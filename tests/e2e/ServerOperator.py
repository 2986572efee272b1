#!/usr/bin/python3
"""A remote WebSocket operator for the server tests (no sub-protocol).

Usage: ServerOperator.py ws://127.0.0.1:PORT/
Prints "OPEN" once connected, "MSG <text>" for every message received and "CLOSED" at the end.
Reads stdin lines: "SEND <text>" sends a text message, "BINARY <text>" a binary one, "QUIT" closes.
"""
import asyncio
import sys

import websockets


def emit(text):
    sys.stdout.write(text + "\n")
    sys.stdout.flush()


async def receive(ws):
    try:
        async for message in ws:
            if isinstance(message, bytes):
                message = message.decode("utf-8", "replace")
            emit("MSG " + message)
    except websockets.ConnectionClosed:
        pass


async def main(url):
    async with websockets.connect(url, compression=None, ping_interval=None, max_size=None) as ws:
        emit("OPEN")
        reader = asyncio.ensure_future(receive(ws))
        loop = asyncio.get_running_loop()
        while True:
            line = await loop.run_in_executor(None, sys.stdin.readline)
            if not line or line.strip() == "QUIT":
                break
            line = line.rstrip("\n")
            if line.startswith("SEND "):
                await ws.send(line[5:])
            elif line.startswith("BINARY "):
                await ws.send(line[7:].encode("utf-8"))
        await ws.close()
        await reader
    emit("CLOSED")


if __name__ == "__main__":
    asyncio.run(main(sys.argv[1]))
