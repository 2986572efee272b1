#pragma once
// Every literal text of the MQTT client engine.

namespace brz {

// Sub-protocol name offered in the WebSocket handshake and used to route a connection's events.
inline constexpr char SMQTTProtocolName[] = "mqtt";
// Diagnostic name of the retry timer's thread.
inline constexpr char SMQTTQoSTimerName[] = "QoS Timer";
// Keep-alive failure: PINGRESP stayed away too long.
inline constexpr char SMQTTHeartBeatTimeout[] = "HeartBeat Timeout exceeded.";

// Protocol violations of the broker: the connection is dropped with one of these.
inline constexpr char SMQTTPacketBeforeConnack[] = "MQTT protocol error: a packet other than CONNACK arrived before CONNACK.";
inline constexpr char SMQTTSecondConnack[] = "MQTT protocol error: a second CONNACK arrived.";
inline constexpr char SMQTTPublishQoS3[] = "MQTT protocol error: PUBLISH with QoS 3.";
inline constexpr char SMQTTTopicNotUTF8[] = "MQTT protocol error: PUBLISH topic is not valid UTF-8.";

}  // namespace brz
