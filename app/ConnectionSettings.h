#pragma once
// The connection settings the tls, proxy and websocket commands keep. A plain value: the commands
// change a copy and store it whole; each activation of the client applies a copy of it.

#include <string>
#include <utility>
#include <vector>

#include "transport/TbrzSSLOptions.h"
#include "websocket/TbrzWSClientOptions.h"

namespace brz {

class TbrzWSClient;

struct TbrzConnectionSettings {
  // Until a settings command runs, activations leave the client exactly as the processor made it.
  bool Changed = false;
  // tls: the options handed to the platform handler, and the version as the command named it.
  TbrzWSTLS_Options TLS;
  std::string TLSVersion = "1.2";
  // proxy: kept when switched off, so {"enabled": true} brings it back.
  TbrzWSProxy_Options Proxy;
  // websocket: extra request lines (an Origin line becomes the request's own Origin).
  std::vector<std::pair<std::string, std::string>> Headers;
  std::string Compression = "none";
  std::string Protocol = "mqtt";

  // The options of the console's client before any settings command: TLS 1.2 through the
  // platform handler, no verification, no proxy, no extra headers, no compression.
  static TbrzConnectionSettings ConsoleDefaults();
  // Copies every setting into the client; attached sub-protocol objects take Protocol.
  void ApplyTo(TbrzWSClient& Client) const;
};

// The "options" line of each command, secrets masked (the proxy password never shows).
std::string TLSOptionsLine(const TbrzConnectionSettings& Settings);
std::string ProxyOptionsLine(const TbrzConnectionSettings& Settings);
std::string WebSocketOptionsLine(const TbrzConnectionSettings& Settings);

// A connection error text with a failed certificate verification's status also said in words.
std::string ExplainConnectionError(const std::string& Text);

}  // namespace brz
