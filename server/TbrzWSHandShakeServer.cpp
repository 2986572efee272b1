#include "server/TbrzWSHandShakeServer.h"

#include <cstdint>

#include "common/Encoding.h"
#include "common/Text.h"
#include "server/ServerMessages.h"
#include "transport/TbrzSocketErrors.h"
#include "transport/TbrzWSException.h"

namespace brz {

namespace {

constexpr size_t kHixie76Key3Size = 8;

std::vector<std::string> SplitCommas(std::string_view text) {
  std::vector<std::string> items;
  size_t start = 0;
  for (;;) {
    size_t comma = text.find(',', start);
    std::string item = Trim(text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    if (!item.empty()) items.push_back(std::move(item));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return items;
}

// Splits "Name: value" at the first colon; false for a line without one.
bool SplitHeader(std::string_view line, std::string_view& name, std::string_view& value) {
  size_t colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  name = line.substr(0, colon);
  value = line.substr(colon + 1);
  return true;
}

// The value of a Hixie-76 key: its spaces count, so only the one separator blank is dropped.
std::string KeyValue(std::string_view value) {
  if (!value.empty() && value.front() == ' ') value.remove_prefix(1);
  return std::string(value);
}

void AppendBigEndian(uint32_t value, TBytes& out) {
  out.push_back(static_cast<uint8_t>(value >> 24));
  out.push_back(static_cast<uint8_t>(value >> 16));
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

uint32_t Hixie76KeyPart(std::string_view key) {
  uint32_t number = 0;
  uint32_t spaces = 0;
  for (char c : key) {
    if (c >= '0' && c <= '9') number = number * 10u + static_cast<uint32_t>(c - '0');
    else if (c == ' ') ++spaces;
  }
  // A key without spaces cannot be divided: the request is not a draft handshake.
  if (spaces == 0) throw TbrzWSException(msg::kErrorDecodingHixieKey);
  return number / spaces;
}

}  // namespace

void TbrzWSHandShakeServer::Parse(const std::vector<std::string>& lines, std::string_view key3) {
  for (const std::string& raw : lines) {
    std::string_view line = raw;
    if (TextStartsWith(line, "GET /")) {
      FIsGET = true;
      size_t http = line.find("HTTP/");
      std::string version = http == std::string_view::npos ? std::string() : Trim(line.substr(http + 5));
      // Upgrades need HTTP/1.1.
      if (version == "1.0") throw TbrzWSException(msg::kErrorDecodingGET);
      size_t end = line.find(" HTTP");
      FGet = std::string(line.substr(4, end == std::string_view::npos ? std::string_view::npos : end - 4));
      continue;
    }
    std::string_view name, value;
    if (!SplitHeader(line, name, value)) continue;
    std::string trimmed = Trim(value);
    if (SameText(name, "Upgrade")) {
      FIsUpgrade = true;
      // The upgrade must name the WebSocket protocol.
      if (!TextMatchesMask(line, "*websocket")) throw TbrzWSException(msg::kErrorDecodingWebSocket);
    } else if (SameText(name, "Connection")) {
      FIsConnection = true;
      // The connection must be upgraded.
      if (!TextMatchesMask(line, "*Upgrade*")) throw TbrzWSException(msg::kErrorDecodingUpgrade);
    } else if (SameText(name, "Host")) {
      FIsHost = true;
      FHost = trimmed;
    } else if (SameText(name, "Sec-WebSocket-Key")) {
      FIsKey = true;
      FKey = trimmed;
    } else if (SameText(name, "Origin")) {
      FIsOrigin = true;
      FOrigin = trimmed;
    } else if (SameText(name, "Sec-WebSocket-Protocol")) {
      FIsProtocols = true;
      FProtocols = trimmed;
    } else if (SameText(name, "Sec-WebSocket-Version")) {
      FIsVersion = true;
      FVersion = trimmed;
    } else if (SameText(name, "Sec-WebSocket-Extensions")) {
      // Several lines form one comma-separated list (the client offers one line per extension).
      if (!FExtensions.empty() && !trimmed.empty()) FExtensions += ",";
      FIsExtensions = true;
      FExtensions += trimmed;
    } else if (SameText(name, "Sec-WebSocket-Key1")) {
      FIsKey1 = true;
      FKey1 = KeyValue(value);
    } else if (SameText(name, "Sec-WebSocket-Key2")) {
      FIsKey2 = true;
      FKey2 = KeyValue(value);
    }
  }
  if (FIsKey1 && FIsKey2) FKey3 = BytesToHex(key3.substr(0, kHixie76Key3Size));
  // Neither handshake flavour can be answered without its key.
  if (!FIsKey && !FIsKey1 && !FIsKey2) throw TbrzWSException(msg::kErrorDecodingKey);
}

std::string SelectSubProtocol(std::string_view requested, std::string_view offered) {
  std::vector<std::string> wanted = SplitCommas(requested);
  if (wanted.empty()) return {};
  std::vector<std::string> available = SplitCommas(offered);
  for (const std::string& name : wanted) {
    for (const std::string& offer : available) {
      if (name == offer) return name;
    }
  }
  std::string names;
  for (const std::string& name : wanted) names += name + "\n";
  throw TbrzWSException(FormatMsg(msg::kErrorProtocolNotSupported, names.c_str()));
}

void CheckOrigin(std::string_view allowed, std::string_view origin) {
  if (allowed.empty() || origin.empty()) return;
  for (const std::string& mask : SplitCommas(allowed)) {
    if (TextMatchesMask(origin, mask)) return;
  }
  throw TbrzWSException(FormatMsg(msg::kOriginNotAllowed, std::string(origin).c_str()));
}

std::vector<std::string> RFC6455ResponseLines(std::string_view key, std::string_view protocol,
                                              const std::vector<std::string>& extensionLines) {
  std::vector<std::string> lines{msg::kRFC6455StatusLine, msg::kRFC6455UpgradeLine, msg::kConnectionUpgradeLine};
  if (!protocol.empty()) lines.push_back(std::string(msg::kProtocolLinePrefix) + std::string(protocol));
  lines.push_back(std::string(msg::kAcceptLinePrefix) + WebSocketAcceptKey(key));
  lines.push_back(msg::kServerHeader);
  lines.insert(lines.end(), extensionLines.begin(), extensionLines.end());
  return lines;
}

std::vector<std::string> Hixie76ResponseLines(const TbrzWSHandShakeServer& request, std::string_view protocol) {
  std::vector<std::string> lines{msg::kHixie76StatusLine, msg::kHixie76UpgradeLine, msg::kConnectionUpgradeLine};
  lines.push_back(std::string(msg::kHixie76OriginPrefix) + request.FOrigin);
  // The draft always names the plain scheme.
  lines.push_back(std::string(msg::kHixie76LocationPrefix) + request.FHost + request.FGet);
  lines.push_back(protocol.empty() ? std::string(msg::kHixie76AnyProtocol)
                                   : std::string(msg::kProtocolLinePrefix) + std::string(protocol));
  lines.push_back(msg::kServerHeader);
  return lines;
}

TBytes Hixie76Answer(std::string_view key1, std::string_view key2, const TBytes& key3) {
  TBytes challenge;
  AppendBigEndian(Hixie76KeyPart(key1), challenge);
  AppendBigEndian(Hixie76KeyPart(key2), challenge);
  challenge.insert(challenge.end(), key3.begin(), key3.end());
  return MD5(challenge.data(), challenge.size());
}

}  // namespace brz
