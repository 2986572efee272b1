#!/usr/bin/python3
"""Peer round trip: publish one QoS 0 message, wait until the subscription delivers it, repeat.

Prints the wall seconds of the loop, then one round trip in seconds per message.
"""

import argparse
import sys
import threading
import time

import paho.mqtt.client as mqtt


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--topic", required=True)
    ap.add_argument("--count", type=int, required=True)
    args = ap.parse_args()
    ready = threading.Event()
    arrived = threading.Event()
    client = mqtt.Client()
    client.on_connect = lambda c, u, f, rc: c.subscribe(args.topic)
    client.on_subscribe = lambda c, u, mid, q: ready.set()
    client.on_message = lambda c, u, m: arrived.set()
    client.connect("127.0.0.1", args.port)
    client.loop_start()
    if not ready.wait(10):
        sys.exit("not subscribed")
    rtts = []
    start = time.monotonic()
    for i in range(args.count):
        arrived.clear()
        t0 = time.perf_counter()
        client.publish(args.topic, b"%08d" % i + b"abcdefghijklmnopqrstuvwx", qos=0)
        if not arrived.wait(10):
            sys.exit("message %d did not arrive" % i)
        rtts.append(time.perf_counter() - t0)
    wall = time.monotonic() - start
    client.disconnect()
    client.loop_stop()
    print(wall)
    print("\n".join("%.9f" % x for x in rtts))


if __name__ == "__main__":
    main()
