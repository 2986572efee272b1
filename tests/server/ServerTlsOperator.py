#!/usr/bin/python3
"""A remote operator over TLS for the server tests.

Usage: ServerTlsOperator.py ws  wss://127.0.0.1:PORT/ CAFILE
       ServerTlsOperator.py raw PORT CAFILE
The server certificate is verified against CAFILE (host name 127.0.0.1).
Prints "OPEN" once connected, "MSG <text>" for every message (ws) or line (raw) received and
"CLOSED" at the end. Reads stdin lines: "SEND <text>" sends a text message (ws) or the text and a
line feed (raw); "PART <text>" sends the text alone as one TLS record (raw); "QUIT" closes.
"""
import asyncio
import select
import socket
import ssl
import sys
import threading

import websockets


def emit(text):
    sys.stdout.write(text + "\n")
    sys.stdout.flush()


def context(cafile):
    ctx = ssl.create_default_context(ssl.Purpose.SERVER_AUTH, cafile=cafile)
    ctx.check_hostname = True
    return ctx


async def receive(ws):
    try:
        async for message in ws:
            if isinstance(message, bytes):
                message = message.decode("utf-8", "replace")
            emit("MSG " + message)
    except websockets.ConnectionClosed:
        pass


async def run_ws(url, cafile):
    async with websockets.connect(url, ssl=context(cafile), server_hostname="127.0.0.1", compression=None,
                                  ping_interval=None, max_size=None, open_timeout=10) as ws:
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
        await ws.close()
        await reader
    emit("CLOSED")


def run_raw(port, cafile):
    plain = socket.create_connection(("127.0.0.1", int(port)), timeout=10)
    tls = context(cafile).wrap_socket(plain, server_hostname="127.0.0.1")
    # One SSL object must not be used by two threads at once (the reader handles session tickets
    # while the writer sends): every call on it holds the lock and none of them blocks.
    tls.setblocking(False)
    lock = threading.Lock()
    emit("OPEN")

    def receive_lines():
        pending = b""
        try:
            while True:
                with lock:
                    try:
                        data = tls.recv(65536)
                    except (ssl.SSLWantReadError, ssl.SSLWantWriteError):
                        data = None
                if data is None:
                    select.select([tls], [], [], 0.05)
                    continue
                if not data:
                    break
                pending += data
                while b"\n" in pending:
                    line, pending = pending.split(b"\n", 1)
                    emit("MSG " + line.rstrip(b"\r").decode("utf-8", "replace"))
        except (OSError, ssl.SSLError):
            pass
        emit("CLOSED")

    def send(data):
        while data:
            with lock:
                try:
                    data = data[tls.send(data):]
                except (ssl.SSLWantReadError, ssl.SSLWantWriteError):
                    pass
            if data:
                select.select([tls], [tls], [], 0.05)

    reader = threading.Thread(target=receive_lines, daemon=True)
    reader.start()
    for line in sys.stdin:
        line = line.rstrip("\n")
        if line == "QUIT":
            break
        if line.startswith("SEND "):
            send((line[5:] + "\n").encode("utf-8"))
        elif line.startswith("PART "):
            send(line[5:].encode("utf-8"))
    try:
        with lock:
            tls.shutdown(socket.SHUT_RDWR)
    except OSError:
        pass
    reader.join(10)
    tls.close()


if __name__ == "__main__":
    if sys.argv[1] == "ws":
        asyncio.run(run_ws(sys.argv[2], sys.argv[3]))
    else:
        run_raw(sys.argv[2], sys.argv[3])
