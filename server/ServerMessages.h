#pragma once
// Every literal text of the remote-control server.

namespace brz::msg {

// Handshake and classification errors.
inline constexpr const char* kErrorDecodingGET = "Error Decoding Header: GET";
inline constexpr const char* kErrorDecodingWebSocket = "Error Decoding Header: WebSocket";
inline constexpr const char* kErrorDecodingUpgrade = "Error Decoding Header: Upgrade";
inline constexpr const char* kErrorDecodingKey = "Error Decoding Header: WebSocket-Key";
inline constexpr const char* kErrorProtocolNotSupported = "Error Protocol: %s not supported.";
inline constexpr const char* kOriginNotAllowed = "Origin %s not allowed";
inline constexpr const char* kErrorDecodingHixieKey = "Error decoding sec-webSocket-key.";
inline constexpr const char* kErrorStartingSSL = "Error starting SSL connection.";
inline constexpr const char* kConnectionRejected = "Connection rejected by server.";
inline constexpr const char* kHeartBeatTimeout = "HeartBeat Timeout exceeded.";
// Limits on hostile peers.
inline constexpr const char* kRequestHeaderTooLarge = "Request header too large.";
inline constexpr const char* kHandshakeTimeout = "Handshake time-out: no complete request received.";
// Listening.
inline constexpr const char* kBindFailed = "Could not bind socket to %s:%d: %s";
inline constexpr const char* kListenFailed = "Could not listen on %s:%d: %s";
inline constexpr const char* kInvalidBindAddress = "Invalid bind address %s";
inline constexpr const char* kInvalidListenPort = "Invalid listening port %d";

// Handshake response lines.
inline constexpr const char* kServerHeader = "Server: brzWebSockets 2023.2.0";
inline constexpr const char* kRFC6455StatusLine = "HTTP/1.1 101 Switching Protocols";
inline constexpr const char* kRFC6455UpgradeLine = "Upgrade: websocket";
inline constexpr const char* kConnectionUpgradeLine = "Connection: Upgrade";
inline constexpr const char* kProtocolLinePrefix = "Sec-WebSocket-Protocol: ";
inline constexpr const char* kAcceptLinePrefix = "Sec-WebSocket-Accept: ";
inline constexpr const char* kHixie76StatusLine = "HTTP/1.1 101 WebSocket Protocol Handshake";
inline constexpr const char* kHixie76UpgradeLine = "Upgrade: WebSocket";
inline constexpr const char* kHixie76OriginPrefix = "Sec-WebSocket-Origin: ";
inline constexpr const char* kHixie76LocationPrefix = "Sec-WebSocket-Location: ws://";
inline constexpr const char* kHixie76AnyProtocol = "Sec-WebSocket-Protocol: *";

// The answer to a plain HTTP request: the server serves no documents.
inline constexpr const char* kHTTPNotFoundStatus = "HTTP/1.1 404 Not Found";
inline constexpr const char* kHTTPNotFoundBody = "Not Found";
// Upgrades refused by the operator gate.
inline constexpr const char* kHTTPUnauthorizedStatus = "HTTP/1.1 401 Unauthorized";
inline constexpr const char* kHTTPUnauthorizedBody = "A token is required: Authorization: Bearer TOKEN or ?token=TOKEN";
inline constexpr const char* kHTTPForbiddenStatus = "HTTP/1.1 403 Forbidden";
inline constexpr const char* kHTTPForbiddenOriginBody = "Origin not allowed";
inline constexpr const char* kUpgradeRefusedToken = "Client %s from %s refused: no valid token";
inline constexpr const char* kUpgradeRefusedOrigin = "Client %s from %s refused: origin %s not allowed";
// The page served on GET /.
inline constexpr const char* kHTTPOKStatus = "HTTP/1.1 200 OK";

// Remote-control intake lines.
inline constexpr const char* kServerListening = "Server Listening on %s:%s";
inline constexpr const char* kClientConnectedFrom = "Client %s connected from %s";
inline constexpr const char* kClientConnected = "Client connected";
inline constexpr const char* kClientDisconnectedFrom = "Client %s disconnected from %s";
inline constexpr const char* kClientDisconnected = "Client disconnected";
inline constexpr const char* kCommandLineTooLong = "Command line longer than %d bytes.";
inline constexpr const char* kRawNotAuthorized =
    "not authorized: the first command must be {\"message\":\"auth\", \"params\":{\"token\":\"...\"}}";
inline constexpr const char* kRawRefused = "Client %s from %s refused: no valid token";
inline constexpr const char* kOperatorDropped = "Client %s dropped: %s";
inline constexpr const char* kOutboxOverflow = "more than %d bytes of event lines waiting";
inline constexpr const char* kNoTokenWarning =
    "brzmqtt: warning: remote control listens on %s without a token: anyone who reaches the port drives the "
    "session (set -server.token or BRZ_SERVER_TOKEN)";
inline constexpr const char* kServerTLSHalf = "-server.cert and -server.key must be given together";
inline constexpr const char* kServerTokenEmpty = "-server.token needs a value (or set BRZ_SERVER_TOKEN)";

}  // namespace brz::msg
