#include "websocket/TbrzWSHandshake.h"

#include <cstring>

#include "common/Encoding.h"
#include "common/Text.h"
#include "transport/TbrzSocketErrors.h"
#include "websocket/TbrzWSFrameTypes.h"
#include "websocket/TbrzWSFrameMessages.h"

namespace brz {

namespace {

// Text after a fixed prefix; values are exact only with one space after the colon.
std::string ValueAfter(const std::string& line, const char* prefix) {
  size_t n = std::strlen(prefix);
  return line.size() > n ? line.substr(n) : std::string();
}

std::vector<std::string> SplitAtCommas(std::string_view text) {
  std::vector<std::string> items;
  size_t start = 0;
  while (true) {
    size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) {
      items.emplace_back(text.substr(start));
      return items;
    }
    items.emplace_back(text.substr(start, comma - start));
    start = comma + 1;
  }
}

}  // namespace

std::string NewWebSocketKey() {
  TBytes raw(16);
  for (auto& b : raw) b = static_cast<uint8_t>(RandomBelow(255));
  return EncodeBase64(raw);
}

std::string WebSocketAcceptKey(std::string_view key) {
  std::string text(key);
  text += msg::kWSGuid;
  return EncodeBase64(SHA1(text));
}

std::vector<std::string> BuildHandshakeRequest(const TbrzWSHandshakeRequest& request) {
  std::vector<std::string> lines;
  std::string path = request.Parameters;
  if (path.empty() || path[0] != '/') path.insert(0, "/");
  lines.push_back("GET " + path + " HTTP/1.1");
  if (request.Port == 80 || request.Port == 443) {
    lines.push_back("Host: " + request.Host);
  } else {
    lines.push_back("Host: " + request.Host + ":" + std::to_string(request.Port));
  }
  lines.emplace_back("Upgrade: websocket");
  lines.emplace_back("Connection: Upgrade");
  lines.push_back("Sec-WebSocket-Key: " + request.Key);
  lines.push_back("Origin: " + (request.Origin.empty() ? request.Host : request.Origin));
  if (!request.Protocol.empty()) lines.push_back("Sec-WebSocket-Protocol: " + request.Protocol);
  if (request.BasicAuthentication) {
    lines.push_back("Authorization: Basic " + EncodeBase64Text(request.User + ":" + request.Password, false));
  }
  if (request.TokenAuthentication) lines.push_back("Authorization: " + request.AuthName + " " + request.AuthToken);
  for (const auto& line : request.ExtensionLines) lines.push_back(line);
  for (const auto& [name, value] : request.ExtraHeaders) lines.push_back(name + ": " + value);
  lines.push_back(std::string("Sec-WebSocket-Version: ") + msg::kWSVersion);
  return lines;
}

std::string SerializeHeaderLines(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& line : lines) {
    out += line;
    out += "\r\n";
  }
  out += "\r\n";
  return out;
}

size_t TbrzWSHeaderReader::Feed(const uint8_t* data, size_t count) {
  size_t i = 0;
  while (i < count && !FComplete) {
    char c = static_cast<char>(data[i++]);
    // A hostile peer that never sends the empty line must not grow memory without bound.
    if (++FTotal > FMaxHeaderSize) throw TbrzWSException(msg::kHandshakeResponseTooLong);
    if (c != '\n') {
      FLine.push_back(c);
      continue;
    }
    if (!FLine.empty() && FLine.back() == '\r') FLine.pop_back();
    if (FLine.empty()) {
      FComplete = true;
    } else {
      FLines.push_back(std::move(FLine));
      FLine.clear();
    }
  }
  return i;
}

void TbrzWSHeaderReader::Reset() {
  FTotal = 0;
  FLine.clear();
  FLines.clear();
  FComplete = false;
}

TbrzWSHandShakeClient ParseHandshakeResponse(const std::vector<std::string>& lines) {
  TbrzWSHandShakeClient result;
  for (const auto& line : lines) {
    if (result.FRedirect) {
      if (TextMatchesMask(line, "Location: *")) {
        result.FLocation = ValueAfter(line, "Location: ");
        break;
      }
      continue;
    }
    if (TextMatchesMask(line, "HTTP/*")) {
      std::string status = line.size() > 9 ? line.substr(9) : std::string();
      if (status.rfind("30", 0) == 0) {
        result.FRedirect = true;
      } else if (!TextMatchesMask(status, "*101*")) {
        // Status neither switching protocols nor a redirect.
        throw Exception(std::string(msg::kHandshakeSwitchingProtocols) + " [" + line + "]");
      }
    } else if (TextMatchesMask(line, "Upgrade: *")) {
      // Upgrade header must name websocket.
      if (!TextMatchesMask(line, "* websocket")) throw TbrzWSException(msg::kHandshakeUpgrade);
    } else if (TextMatchesMask(line, "Connection: *")) {
      // Connection header must carry Upgrade.
      if (!TextMatchesMask(line, "*Upgrade*")) throw TbrzWSException(msg::kHandshakeUpgrade);
    } else if (TextMatchesMask(line, "Sec-WebSocket-Accept: *")) {
      result.FAccept = ValueAfter(line, "Sec-WebSocket-Accept: ");
    } else if (TextMatchesMask(line, "Sec-WebSocket-Protocol: *")) {
      result.FProtocols = ValueAfter(line, "Sec-WebSocket-Protocol: ");
    } else if (TextMatchesMask(line, "Sec-WebSocket-Extensions: *")) {
      // Several lines form one comma-separated list.
      if (!result.FExtensions.empty()) result.FExtensions += ",";
      result.FExtensions += ValueAfter(line, "Sec-WebSocket-Extensions: ");
    }
  }
  return result;
}

TbrzWSHandshakeVerdict AcceptHandshakeResponse(const TbrzWSHandShakeClient& response, std::string_view key,
                                               std::string_view requestedProtocol, bool canRedirect) {
  TbrzWSHandshakeVerdict verdict;
  if (response.FRedirect && !response.FLocation.empty()) {
    if (!canRedirect) throw TbrzWSException(msg::kHandshakeRedirect + response.FLocation);
    verdict.Redirect = true;
    verdict.Location = response.FLocation;
    return verdict;
  }
  // Accept key must prove the server read our key.
  if (response.FAccept != WebSocketAcceptKey(key)) throw TbrzWSException(msg::kHandshakeInvalidAcceptKey);
  if (!requestedProtocol.empty() || !response.FProtocols.empty()) {
    bool found = false;
    for (const auto& name : SplitAtCommas(requestedProtocol)) {
      if (SameText(name, response.FProtocols)) {
        found = true;
        break;
      }
    }
    // Sub-protocol must be one we asked for (none answered, or one we never asked for, fails too).
    if (!found) throw TbrzWSException(FormatMsg(msg::kHandshakeProtocolNotSupported, response.FProtocols.c_str()));
  }
  verdict.Protocol = response.FProtocols;
  verdict.Extensions = response.FExtensions;
  return verdict;
}

}  // namespace brz
