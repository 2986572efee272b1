#pragma once
// Every literal text of the WebSocket client layer.

namespace brz::msg {

inline constexpr const char* kHandshakeNotAvailable = "WebSocket opening handshake is not available.";
inline constexpr const char* kTLSNotAvailable = "TLS is not available for this client.";
// Ping payload when none is given: local time, 17 digits.
inline constexpr const char* kPingTimeFormat = "yyyymmddhhnnsszzz";
// Diagnostic name of the heartbeat timer thread.
inline constexpr const char* kHeartBeatTimerName = "HeartBeat";
inline constexpr const char* kClientVersion = "2023.2.0";

}  // namespace brz::msg
