#pragma once
// Every literal text of the transport layer.

namespace brz::msg {

inline constexpr const char* kConnClosedGracefully = "Connection Closed Gracefully.";
inline constexpr const char* kSocketClosed = "Socket is closed.";
inline constexpr const char* kNotConnected = "Not Connected";
inline constexpr const char* kAlreadyConnected = "Already connected.";
inline constexpr const char* kConnectTimeout = "Connect timed out.";
// %s host, %s resolver message
inline constexpr const char* kHostNotFound = "Host not found: %s (%s)";
inline constexpr const char* kNoHost = "No host to connect to.";
inline constexpr const char* kInvalidPort = "Invalid port %d.";
// %d errno, %s system text
inline constexpr const char* kSocketError = "Socket Error # %d\n%s";
inline constexpr const char* kBindPortRange = "Could not bind a local port in the range %d..%d.";
inline constexpr const char* kNoWebSocketReader = "No frame reader for this transport.";
inline constexpr const char* kNoWebSocketWriter = "No frame writer for this transport.";
inline constexpr const char* kNoHandshakeReader = "No handshake reader for this connection.";
inline constexpr const char* kTransportNotSupported = "Transport not supported by this connection.";

// Proxies.
inline constexpr const char* kProxyClosed = "Proxy closed the connection.";
inline constexpr const char* kProxyNoHost = "Proxy host is empty.";
// %s target host, %d target port
inline constexpr const char* kHTTPConnectRequest = "CONNECT %s:%d HTTP/1.0";
inline constexpr const char* kHTTPProxyAuthorization = "Proxy-Authorization: Basic ";
inline constexpr const char* kHTTPBadResponse = "Invalid response from proxy: %s";
inline constexpr const char* kHTTPHeaderTooLong = "Proxy response header too long.";
inline constexpr const char* kSocksNoIPv4 = "SOCKS4 needs an IPv4 address for %s.";
inline constexpr const char* kSocksFieldTooLong = "SOCKS field longer than 255 bytes.";
inline constexpr const char* kSocksBadVersion = "Invalid SOCKS proxy reply.";
// %d reply code
inline constexpr const char* kSocks4Rejected = "SOCKS4 request rejected or failed (code %d).";
inline constexpr const char* kSocks5NoMethod = "SOCKS5 proxy accepted no authentication method.";
inline constexpr const char* kSocks5AuthFailed = "SOCKS5 authentication failed.";
inline constexpr const char* kSocks5GeneralFailure = "SOCKS5 general server failure.";
inline constexpr const char* kSocks5NotAllowed = "SOCKS5 connection not allowed by ruleset.";
inline constexpr const char* kSocks5NetUnreachable = "SOCKS5 network unreachable.";
inline constexpr const char* kSocks5HostUnreachable = "SOCKS5 host unreachable.";
inline constexpr const char* kSocks5Refused = "SOCKS5 connection refused.";
inline constexpr const char* kSocks5TTLExpired = "SOCKS5 TTL expired.";
inline constexpr const char* kSocks5CommandNotSupported = "SOCKS5 command not supported.";
inline constexpr const char* kSocks5AddressNotSupported = "SOCKS5 address type not supported.";
// %d reply code
inline constexpr const char* kSocks5Unknown = "SOCKS5 unknown error (code %d).";

// Framework error raised by the disconnect step with a message.
inline constexpr const char* kDisconnectDefault = "Disconnected.";

}  // namespace brz::msg
