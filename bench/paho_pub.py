#!/usr/bin/python3
"""Peer publisher: one QoS 0 message per stdin line, like mosquitto_pub -l, on paho-mqtt.

Prints "ready" once connected; publishes every line after that; ends at end of input.
"""

import argparse
import sys
import threading

import paho.mqtt.client as mqtt


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--topic", required=True)
    ap.add_argument("--transport", default="tcp", choices=["tcp", "websockets"])
    ap.add_argument("--qos", type=int, default=0)
    args = ap.parse_args()
    connected = threading.Event()
    client = mqtt.Client(transport=args.transport)
    client.on_connect = lambda c, u, f, rc: connected.set()
    client.connect("127.0.0.1", args.port)
    client.loop_start()
    if not connected.wait(10):
        sys.exit("not connected")
    sys.stdout.write("ready\n")
    sys.stdout.flush()
    for line in sys.stdin.buffer:
        client.publish(args.topic, line.rstrip(b"\n"), qos=args.qos)
    client.disconnect()
    client.loop_stop()


if __name__ == "__main__":
    main()
