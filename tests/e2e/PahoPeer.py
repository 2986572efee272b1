#!/usr/bin/python3
"""A second MQTT 5 client for the end-to-end tests (python paho).

recv PORT TOPIC: subscribes at QoS 1, prints "ready" once subscribed, then one JSON line per message
                 (payload and properties as received) until the first message, within 10 seconds.
send PORT TOPIC HEX: publishes the bytes at QoS 1 with user properties, correlation data and a
                     content type, and waits for the acknowledgement.
"""
import json
import sys
import threading

import paho.mqtt.client as mqtt
from paho.mqtt.packettypes import PacketTypes
from paho.mqtt.properties import Properties


def main():
    mode, port, topic = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    done = threading.Event()
    client = mqtt.Client(client_id="paho-peer-" + mode, protocol=mqtt.MQTTv5)

    def on_subscribe(_client, _userdata, _mid, _codes, _properties=None):
        print("ready", flush=True)

    def on_message(_client, _userdata, message):
        props = message.properties
        line = {"payload": message.payload.hex(), "qos": message.qos}
        if hasattr(props, "UserProperty"):
            line["userproperties"] = [list(pair) for pair in props.UserProperty]
        if hasattr(props, "CorrelationData"):
            line["correlationdata"] = props.CorrelationData.hex()
        if hasattr(props, "ContentType"):
            line["contenttype"] = props.ContentType
        print(json.dumps(line), flush=True)
        done.set()

    def on_publish(_client, _userdata, _mid):
        done.set()

    client.on_subscribe = on_subscribe
    client.on_message = on_message
    client.on_publish = on_publish
    client.connect("127.0.0.1", port)
    client.loop_start()
    if mode == "recv":
        client.subscribe(topic, qos=1)
    else:
        props = Properties(PacketTypes.PUBLISH)
        props.UserProperty = [("a", "1"), ("a", "2"), ("b", "3")]
        props.CorrelationData = bytes.fromhex("00ff10")
        props.ContentType = "application/octet-stream"
        client.publish(topic, bytes.fromhex(sys.argv[4]), qos=1, properties=props)
    ok = done.wait(10)
    client.disconnect()
    client.loop_stop()
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
