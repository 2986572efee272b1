#pragma once
// Every literal text of the MQTT client engine.

namespace brz {

// Sub-protocol name offered in the WebSocket handshake and used to route a connection's events.
inline constexpr char SMQTTProtocolName[] = "mqtt";
// Diagnostic name of the retry timer's thread.
inline constexpr char SMQTTQoSTimerName[] = "QoS Timer";
// Keep-alive failure: PINGRESP stayed away too long.
inline constexpr char SMQTTHeartBeatTimeout[] = "HeartBeat Timeout exceeded.";

}  // namespace brz
