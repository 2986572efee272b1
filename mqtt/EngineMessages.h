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
// Publishes the engine gives up, each said once on the diagnostics stream.
inline constexpr char SMQTTPublishNoConnection[] = "publish to '%s' (QoS 0) dropped: no connection";
inline constexpr char SMQTTOutboxFull[] =
    "publish to '%s' refused: %d publishes already wait for a connection";
inline constexpr char SMQTTPublishAbandoned[] =
    "publish %d to '%s' (QoS 2) not sent again: the connection was lost after PUBREC and the new session "
    "cannot complete it";

}  // namespace brz
