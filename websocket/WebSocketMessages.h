#pragma once
// Every literal text of the WebSocket client layer.

namespace brz::msg {

inline constexpr const char* kHandshakeNotAvailable = "WebSocket opening handshake is not available.";
inline constexpr const char* kTLSNotAvailable = "TLS is not available for this client.";
// Ping payload when none is given: local time, 17 digits.
inline constexpr const char* kPingTimeFormat = "yyyymmddhhnnsszzz";
// Diagnostic names of the keep-alive timer threads.
inline constexpr const char* kHeartBeatTimerName = "HeartBeat";
inline constexpr const char* kHeartBeatTimeoutTimerName = "HeartBeatTimeout";
inline constexpr const char* kWatchDogTimerName = "WatchDog";
// A connection whose pongs stayed away for HeartBeat.Timeout seconds.
inline constexpr const char* kHeartBeatTimeout = "HeartBeat Timeout exceeded.";
inline constexpr const char* kClientVersion = "2023.2.0";

}  // namespace brz::msg
