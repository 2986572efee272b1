#!/usr/bin/env python3
"""Writes the seed corpora (fuzz/corpus/<target>/) from the byte literals of the unit tests."""
import hashlib
import os
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def h(text):
    return bytes.fromhex(text.replace(" ", ""))


def write(target, seeds):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    for seed in seeds:
        name = hashlib.sha1(seed).hexdigest()[:16]
        with open(os.path.join(folder, name), "wb") as f:
            f.write(seed)


def deflate(data, wbits=15):
    c = zlib.compressobj(6, zlib.DEFLATED, -wbits)
    out = c.compress(data) + c.flush(zlib.Z_SYNC_FLUSH)
    return out[:-4] if out.endswith(b"\x00\x00\xff\xff") else out


MQTT = [
    "20 02 00 00", "20 03 00 00 00", "20 08 01 00 05 24 01 21 00 0A",
    "30 05 00 01 74 00 78", "30 07 00 03 61 2F 62 68 69", "30 FF FF FF 7F", "30 FF FF FF FF 01",
    "32 10 00 01 74 00 07 07 01 01 23 00 03 0B 05 70 61 79", "40 02 00 07", "40 08 00 01 00 FF FF FF FF 01",
    "40 D0 01 00 0A 00 CB 01 1F 00 C8", "50 08 00 0B 97 04 1F 00 01 71", "62 02 00 01", "70 02 00 01",
    "90 02 00 02", "90 05 00 01 00 80 03", "90 0A 00 03 04 1F 00 01 78 02 A2 8F", "B0 02 00 05",
    "B0 05 00 06 00 00 11", "D0 00", "E0 01 8D", "E0 08 9C 06 1C 00 03 68 2F 32", "F0 06 18 04 15 00 01 6D",
    "20 08 01 00 05 24 01 21 00 0A 40 04 00 0A 10 00", "40 02 00 0A D0 00 30 03 00 01 74",
    "D0 00 10 03 01 02 03 00 00 30 03 00 01 74",
]
PROPS = [
    "01 02", "0B FF FF FF 7F", "0B FF FF FF FF 01", "0B FF FF", "24 01 21 00 0A", "7F 1F 00 02 6F 6B",
    "11 00 00 00 3C 1C 00 01 73 1F 00 01 72 26 00 01 6B 00 01 76 15 00",
    "15 00 01 6D 16 00 02 C3 A9 1F 00 01 72 26 00 01 6B 00 01 76",
    "1F 00 01 61 26 00 01 6B 00 01 31 1F 00 01 62 26 00 01 6B 00 01 32", "1F 00 02 61 FF",
    "12 00 02 69 64 13 00 3C 22 00 0A 25 01 27 00 00 10 00 28 01 29 01 2A 00",
    "01 01 02 00 00 00 0A 03 00 0A 74 65 78 74 2F 70 6C 61 69 6E 08 00 01 72 09 00 02 01 02 0B 07 23 00 02",
]
write("fuzz_mqtt_read", [bytes([v]) + h(m) for m in MQTT for v in (0, 1)])
write("fuzz_mqtt_read_tcp", [bytes([v, 0, 2, 6, 255]) + h(m) for m in MQTT[::2] for v in (0, 1)] +
      [bytes([1, 1, 1, 1, 1]) + h(" ".join(MQTT[:6]))])
write("fuzz_mqtt_properties", [h(p) for p in PROPS])


def message(payload):
    return len(payload).to_bytes(2, "big") + payload


PLAIN = [b"Hello", b"{\"topic\":\"sensors/kitchen\",\"value\":21.5}" * 3, b"", bytes(4000)]
inflate = []
for flags, value in ((1, b"permessage-deflate"), (1, b"permessage-deflate; server_no_context_takeover"),
                     (1, b"permessage-deflate; client_max_window_bits=10; server_max_window_bits=9"),
                     (0, b"x-webkit-deflate-frame"), (0, b"deflate-frame; no_context_takeover")):
    inflate.append(bytes([flags]) + value + b"\n" + b"".join(message(deflate(p)) for p in PLAIN))
inflate.append(b"\x01permessage-deflate\n" + message(h("f2 48 cd c9 c9 07 00")) +
               message(h("00 05 00 fa ff 48 65 6c 6c 6f 00")) + message(h("f3 48 cd c9 c9 07 00 00")))
write("fuzz_ws_inflate", inflate)

FRAMES = [
    "81 01 61", "82 03 01 02 03", "88 02 03 E8", "89 00", "8A 02 68 69", "01 02 48 65 80 01 6C",
    "01 02 48 65 89 00 80 01 6C", "02 04 01 02 03 04 00 04 05 06 07 08 80 04 09 0A 0B 0C",
    "81 81 00 00 00 00 61", "81 85 37 FA 21 3D 7F 9F 4D 51 58", "8B 00", "C1 01 61", "09 00", "89 7E 00 7E",
    "82 7F 00 00 00 00 80 00 00 00", "82 7E 01 00" + " 00" * 256, "81 02 61 FF", "81 03 ED A0 80",
    "88 03 03 E8 FF", "88 01 03", "88 02 03 ED", "01 02 48 65 81", "0A 00 68 69 FF 00 C3 A9 FF 42 FF 00 00 61 FF",
]
frames = []
for f in FRAMES:
    frames.append(bytes([0x00, 0]) + h(f))
    frames.append(bytes([0x06, 2]) + h(f))
frames.append(bytes([0x01, 3]) + h("81 81 00 00 00 00 61 82 82 01 02 03 04 00 00"))
frames.append(bytes([0x40, 1]) + h("0A 00 68 69 FF 00 C3 A9 FF 42 FF 00 00 61 FF"))
for flags, word in ((0x30, b"Hello"), (0x10, b"Hello")):
    body = deflate(word)
    frames.append(bytes([flags, 4]) + bytes([0xC1, len(body)]) + body + bytes([0xC2, len(body)]) + body)
frames.append(bytes([0x31, 4]) + bytes([0xC1, 0x80 | len(deflate(b"Hi"))]) + bytes(4) + deflate(b"Hi"))
write("fuzz_ws_frame", frames)

ACCEPT = b"Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n"
RESPONSES = [
    b"HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n" + ACCEPT +
    b"Sec-WebSocket-Protocol: mqtt\r\n\r\n\x81\x01a",
    b"HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n" + ACCEPT +
    b"Sec-WebSocket-Extensions: permessage-deflate; client_max_window_bits=10; server_no_context_takeover\r\n\r\n",
    b"HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\n" + ACCEPT + b"Sec-WebSocket-Extensions: x-webkit-deflate-frame\n\n",
    b"HTTP/1.1 400 Bad Request\r\n" + ACCEPT + b"\r\n",
    b"HTTP/1.1 302 Found\r\nUpgrade: nonsense\r\nLocation: ws://127.0.0.1:9/x\r\n\r\n",
    b"HTTP/1.1 101 Switching Protocols\r\nUpgrade: h2c\r\n" + ACCEPT + b"\r\n",
    b"HTTP/1.1 101 Switching Protocols\r\nConnection: keep-alive\r\n\r\n",
]
write("fuzz_ws_handshake_response", [bytes([c]) + r for r in RESPONSES for c in (255, 0, 6)])

write("fuzz_json_read", [s.encode() for s in [
    '{"message":"open", "params":{"url": "tcp://127.0.0.1:1883"}}',
    '{"message":"subscribe", "protocol":"mqtt", "params":{"topic": "myTopic", "qos": 2}}',
    '{"message":"publish", "protocol":"mqtt", "params":{"topic":"e2e/c", "text":"two \\"q\\" \\u00e9\\n", "qos":2, "retain":true}}',
    '{"message":"heartbeat", "params":{"heartbeat":{"enabled": true, "interval": 30}}}',
    '{"message":"authentication", "protocol":"mqtt", "params":{"enabled":true, "username":"user", "password":"mellow"}}',
    '{"a":[1,2.5e3,-7,true,false,null,{"b":"c"}],"d":{}}', '{message:open, params:{url:ws://h}}', '{"x":"\\ud83d\\ude00"}',
]])
write("fuzz_split_url", [s.encode() for s in [
    "tcp://broker.example:1883", "ws://127.0.0.1:8080/mqtt?x=1", "wss://[::1]:443/path", "tcps://h", "h:1",
    "GET /chat?room=1 HTTP/1.1\nHost: server.example.com\nUpgrade: websocket\nConnection: Upgrade\n"
    "Authorization: Basic dXNlcjpwYXNz\nContent-Length: 12\n",
    "POST /brz/xhr/1 HTTP/1.1\nAccept: text/event-stream\n",
]])

UPGRADE = (b"GET /chat HTTP/1.1\r\nHost: server.example.com\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           b"Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n")
HIXIE = (b"GET /demo HTTP/1.1\r\nHost: example.com\r\nConnection: Upgrade\r\nSec-WebSocket-Key2: 12998 5 Y3 1  .P00\r\n"
         b"Upgrade: WebSocket\r\nSec-WebSocket-Key1: 4 @1  46546xW%0l 1 5\r\nOrigin: http://example.com\r\n\r\n^n:ds[4U")
REQUESTS = [
    UPGRADE + b"\r\n",
    UPGRADE + b"Sec-WebSocket-Protocol: mqtt, chat\r\nSec-WebSocket-Extensions: permessage-deflate; "
    b"client_max_window_bits, x-webkit-deflate-frame\r\nOrigin: http://app.trusted.example\r\n\r\n",
    UPGRADE + b"Sec-WebSocket-Protocol: chat\r\n\r\n" + bytes.fromhex("81 85 37 FA 21 3D 7F 9F 4D 51 58 89 80 00 00 00 00"),
    UPGRADE + b"\r\n" + bytes.fromhex("C1 87 00 00 00 00 f2 48 cd c9 c9 07 00 88 82 00 00 00 00 03 E8"),
    HIXIE, HIXIE + b"\x00hi\xff\xff\x00",
    b"GET / HTTP/1.0\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: x\r\n\r\n",
    b"GET / HTTP/1.1\r\nHost: a\r\nUpgrade: websocket\r\nConnection: close\r\nSec-WebSocket-Key: x\r\n\r\n",
]
write("fuzz_server_handshake", REQUESTS)
write("fuzz_server_classify", REQUESTS + [
    b"GET /index.html HTTP/1.1\r\nHost: a\r\n\r\n", b"HEAD / HTTP/1.1\r\n\r\n", b"<policy-file-request/>\x00",
    b"POST /brz/xhr/1 HTTP/1.1\r\nHost: a\r\n\r\n", b"GET /events HTTP/1.1\r\nAccept: text/event-stream\r\n\r\n",
    b'{"message":"api", "protocol":"mqtt", "params":{"version":"5.0"}}\n{"message":"x"}\n',
    b"GET / HTTP/1.1\r\n" + b"a" * 2000,
])
