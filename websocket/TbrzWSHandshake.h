#pragma once
// Client side of the opening handshake, sans I/O: the key, the request lines, an incremental reader of
// the response header, the parsed response and its acceptance. The connection does the socket work.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brz {

// Fields both handshake sides parse.
class TbrzWSHandShake {
 public:
  virtual ~TbrzWSHandShake() = default;
  std::string FProtocols;   // Sec-WebSocket-Protocol value
  std::string FExtensions;  // Sec-WebSocket-Extensions value
};

// The server's answer as the client read it.
class TbrzWSHandShakeClient : public TbrzWSHandShake {
 public:
  bool FRedirect = false;  // the status begins with "30"
  std::string FAccept;     // Sec-WebSocket-Accept value
  std::string FLocation;   // Location value (redirects only)
};

// A fresh Sec-WebSocket-Key: 16 random bytes (each 0..254), Base64 (24 characters).
std::string NewWebSocketKey();
// Base64 of SHA-1 of key + the protocol GUID: the Sec-WebSocket-Accept value for key.
std::string WebSocketAcceptKey(std::string_view key);

// Everything the request is made of.
struct TbrzWSHandshakeRequest {
  std::string Parameters;  // request path and query; "/" is prepended when missing
  std::string Host;
  int Port = 80;
  std::string Origin;    // the bare host when empty
  std::string Protocol;  // comma-separated sub-protocol names, or empty
  std::string Key;
  bool BasicAuthentication = false;
  std::string User;
  std::string Password;
  bool TokenAuthentication = false;
  std::string AuthName;
  std::string AuthToken;
  std::vector<std::string> ExtensionLines;  // complete "Sec-WebSocket-Extensions: ..." lines
  std::vector<std::pair<std::string, std::string>> ExtraHeaders;  // "name: value" lines after the extensions
};

// The request lines in their order, without line ends.
std::vector<std::string> BuildHandshakeRequest(const TbrzWSHandshakeRequest& request);
// Every line followed by CR LF, then the empty line.
std::string SerializeHeaderLines(const std::vector<std::string>& lines);

// Collects header lines up to the empty line, for any chunking of the input. Lines end with LF; a CR
// before it is dropped. Not thread-safe (the read thread owns it).
class TbrzWSHeaderReader {
 public:
  explicit TbrzWSHeaderReader(size_t maxHeaderSize = 64 * 1024) : FMaxHeaderSize(maxHeaderSize) {}
  // Consumes bytes up to and including the empty line and returns how many it took; bytes after it are
  // left to the caller. Raises TbrzWSException when the header grows past maxHeaderSize.
  size_t Feed(const uint8_t* data, size_t count);
  bool Complete() const { return FComplete; }
  const std::vector<std::string>& Lines() const { return FLines; }
  void Reset();

 private:
  size_t FMaxHeaderSize;
  size_t FTotal = 0;
  std::string FLine;
  std::vector<std::string> FLines;
  bool FComplete = false;
};

// Scans the response lines. Raises brz::Exception "<status error> [<status line>]" for a status that is
// neither 30x nor 101, and TbrzWSException for an Upgrade or Connection line that does not fit.
TbrzWSHandShakeClient ParseHandshakeResponse(const std::vector<std::string>& lines);

// Result of accepting a parsed response.
struct TbrzWSHandshakeVerdict {
  bool Redirect = false;   // reconnect to Location instead of enabling
  std::string Location;
  std::string Protocol;    // the server's choice of sub-protocol
  std::string Extensions;  // for the extension settings to decode
};

// Acceptance: redirect (when the caller can follow one, else "Redirect to: "), accept key, sub-protocol.
// Raises TbrzWSException with the texts of the handshake error table.
TbrzWSHandshakeVerdict AcceptHandshakeResponse(const TbrzWSHandShakeClient& response, std::string_view key,
                                               std::string_view requestedProtocol, bool canRedirect);

}  // namespace brz
