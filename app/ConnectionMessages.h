#pragma once
// Fixed texts of the connection settings commands (tls, proxy, websocket).

namespace brz::msg {

// One line on standard error for every TLS connection made without certificate verification.
inline constexpr const char* kTLSNotVerifiedWarning =
    "brzmqtt: warning: TLS certificate verification is off, the server's identity is not checked "
    "(turn it on with {\"message\":\"tls\", \"params\":{\"verify\": true}})";

// Diagnostics (after "brzmqtt: "). %s: the command name.
inline constexpr const char* kSettingsIgnored = "; command ignored";
inline constexpr const char* kSettingsParamsNotObject = "%s: params must be an object";
inline constexpr const char* kSettingsUnknownMember = "%s: unknown parameter \"%s\"";
inline constexpr const char* kSettingsNotBoolean = "%s: %s must be true or false (got %s)";
inline constexpr const char* kSettingsNotString = "%s: %s must be a string (got %s)";
inline constexpr const char* kSettingsFileFromOperator =
    "%s: %s names a file on this host and is accepted from the console only";
inline constexpr const char* kTLSBadVersion = "tls: version must be \"1.2\", \"1.3\" or \"auto\" (got \"%s\")";
inline constexpr const char* kTLSControlCharacters = "tls: file names and ciphers may not hold control characters";
inline constexpr const char* kTLSKeyWithoutCert = "tls: a key needs the cert it belongs to";
inline constexpr const char* kTLSBadALPN = "tls: alpn must be a list of protocol names of 1 to 255 bytes";
inline constexpr const char* kTLSBadServerName = "tls: servername must be a host name without blanks or control characters";
inline constexpr const char* kProxyBadURL =
    "proxy: url must be http://, socks4://, socks4a:// or socks5:// [user[:password]@]host[:port] (got \"%s\")";
inline constexpr const char* kProxySocks4Password = "proxy: socks4 and socks4a carry a user name but no password";
inline constexpr const char* kProxyNoURL = "proxy: no url is set to enable";
inline constexpr const char* kWSHeadersNotObject = "websocket: headers must be an object of strings";
inline constexpr const char* kWSBadHeaderName = "websocket: \"%s\" is not a valid header name";
inline constexpr const char* kWSBadHeaderValue = "websocket: the value of header %s holds a line break or control character";
inline constexpr const char* kWSReservedHeader = "websocket: header %s is set by the handshake itself";
inline constexpr const char* kWSBadCompression =
    "websocket: compression must be \"permessage-deflate\", \"deflate-frame\" or \"none\" (got \"%s\")";
inline constexpr const char* kWSBadProtocol =
    "websocket: protocol must be one or more comma-separated sub-protocol names (got \"%s\")";

}  // namespace brz::msg
