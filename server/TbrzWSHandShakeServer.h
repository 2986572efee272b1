#pragma once
// Server side of the opening handshake, sans I/O: the parsed upgrade request (RFC 6455 or the Hixie-76
// draft), sub-protocol selection, the origin check, the response lines and the Hixie-76 answer. The
// server connection does the socket work. Failures raise TbrzWSException with the texts of
// server/ServerMessages.h.

#include <string>
#include <string_view>
#include <vector>

#include "common/Bytes.h"
#include "transport/TbrzTransportTypes.h"
#include "websocket/TbrzWSHandshake.h"

namespace brz {

class TbrzWSHandShakeServer_Base : public TbrzWSHandShake {
 public:
  std::string FGet;  // request path
  std::string FHost;
  std::string FOrigin;
  std::string FKey;  // RFC 6455 key
  std::string FVersion;
  bool FIsConnection = false;
  bool FIsGET = false;
  bool FIsHost = false;
  bool FIsKey = false;
  bool FIsOrigin = false;
  bool FIsProtocols = false;
  bool FIsUpgrade = false;
  bool FIsVersion = false;
  bool FIsExtensions = false;
  bool FIsKey1 = false;
  bool FIsKey2 = false;
  std::string FKey1;  // Hixie-76 keys
  std::string FKey2;
  std::string FKey3;  // the 8 bytes after the request, as 16 hexadecimal digits

  TwsSpecification GetSpecification() const {
    return FKey1.empty() ? TwsSpecification::spRFC6455 : TwsSpecification::spHixie76;
  }
};

class TbrzWSHandShakeServer : public TbrzWSHandShakeServer_Base {
 public:
  // Reads the request lines (request line first, no line ends). key3 holds the bytes after the empty
  // line; its first 8 become FKey3 when both Hixie-76 keys were given. Raises on a bad request.
  void Parse(const std::vector<std::string>& lines, std::string_view key3);
};

// The first requested sub-protocol, in the client's order, that the server offers (both lists are
// comma-separated). Empty when nothing was requested; raises when nothing requested is offered.
std::string SelectSubProtocol(std::string_view requested, std::string_view offered);
// Raises unless origin matches one entry of the comma-separated mask list. An empty list or origin
// passes.
void CheckOrigin(std::string_view allowed, std::string_view origin);

// Response lines without line ends, in their order.
std::vector<std::string> RFC6455ResponseLines(std::string_view key, std::string_view protocol,
                                              const std::vector<std::string>& extensionLines);
std::vector<std::string> Hixie76ResponseLines(const TbrzWSHandShakeServer& request, std::string_view protocol);
// MD5 of the two key numbers (each divided by its space count, 4 bytes big-endian) and key3.
TBytes Hixie76Answer(std::string_view key1, std::string_view key2, const TBytes& key3);

}  // namespace brz
