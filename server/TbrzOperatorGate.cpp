#include "server/TbrzOperatorGate.h"

#include <cstdint>

#include "common/HttpRequest.h"
#include "common/Text.h"
#include "server/ServerMessages.h"

namespace brz {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// host[:port] into its parts; an IPv6 literal keeps its brackets. Port -1 when absent or not a number.
void SplitAuthority(std::string_view authority, std::string& host, int& port) {
  port = -1;
  size_t colon = std::string_view::npos;
  if (!authority.empty() && authority.front() == '[') {
    size_t close = authority.find(']');
    if (close != std::string_view::npos && close + 1 < authority.size() && authority[close + 1] == ':') colon = close + 1;
  } else {
    colon = authority.rfind(':');
  }
  host = LowerCase(authority.substr(0, colon));
  if (colon == std::string_view::npos) return;
  std::string_view digits = authority.substr(colon + 1);
  if (digits.empty() || digits.size() > 5) return;
  int value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return;
    value = value * 10 + (c - '0');
  }
  port = value;
}

bool MatchesAnyMask(std::string_view text, std::string_view masks) {
  size_t start = 0;
  for (;;) {
    size_t comma = masks.find(',', start);
    std::string mask = Trim(masks.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    if (!mask.empty() && TextMatchesMask(text, mask)) return true;
    if (comma == std::string_view::npos) return false;
    start = comma + 1;
  }
}

}  // namespace

bool ConstantTimeEquals(std::string_view a, std::string_view b) {
  // Every byte of the presented text is looked at whatever the length of the secret.
  uint8_t diff = a.size() == b.size() ? 0 : 1;
  for (size_t i = 0; i < a.size(); ++i) {
    const uint8_t other = b.empty() ? 0 : static_cast<uint8_t>(b[i % b.size()]);
    diff |= static_cast<uint8_t>(static_cast<uint8_t>(a[i]) ^ other);
  }
  return diff == 0;
}

std::string HeaderValue(const std::vector<std::string>& lines, std::string_view name) {
  for (size_t i = 1; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    if (SameText(Trim(line.substr(0, colon)), name)) return Trim(line.substr(colon + 1));
  }
  return {};
}

std::string QueryParameter(std::string_view target, std::string_view name, bool* found) {
  if (found) *found = false;
  size_t query = target.find('?');
  if (query == std::string_view::npos) return {};
  std::string_view rest = target.substr(query + 1);
  rest = rest.substr(0, rest.find('#'));
  size_t start = 0;
  for (;;) {
    size_t amp = rest.find('&', start);
    std::string_view pair = rest.substr(start, amp == std::string_view::npos ? std::string_view::npos : amp - start);
    size_t eq = pair.find('=');
    if (PercentDecode(pair.substr(0, eq)) == name) {
      if (found) *found = true;
      return eq == std::string_view::npos ? std::string() : PercentDecode(pair.substr(eq + 1));
    }
    if (amp == std::string_view::npos) return {};
    start = amp + 1;
  }
}

bool SameHostOrigin(std::string_view origin, std::string_view host, bool tls) {
  size_t scheme = origin.find("://");
  if (scheme == std::string_view::npos || host.empty()) return false;  // "null" and the like name no host
  const std::string protocol = LowerCase(origin.substr(0, scheme));
  std::string_view authority = origin.substr(scheme + 3);
  authority = authority.substr(0, authority.find('/'));
  std::string originHost, requestHost;
  int originPort = -1, requestPort = -1;
  SplitAuthority(authority, originHost, originPort);
  SplitAuthority(Trim(host), requestHost, requestPort);
  if (originPort < 0) originPort = protocol == "https" || protocol == "wss" ? 443 : 80;
  if (requestPort < 0) requestPort = tls ? 443 : 80;
  return !originHost.empty() && originHost == requestHost && originPort == requestPort;
}

bool TbrzOperatorGate::TokenMatches(std::string_view presented) const {
  return !Token.empty() && ConstantTimeEquals(presented, Token);
}

TbrzOperatorGate::TVerdict TbrzOperatorGate::CheckUpgrade(const std::vector<std::string>& lines, bool tls) const {
  if (TokenRequired()) {
    bool admitted = false;
    const std::string authorization = HeaderValue(lines, "Authorization");
    if (authorization.size() > 7 && SameText(std::string_view(authorization).substr(0, 7), "Bearer "))
      admitted = TokenMatches(Trim(std::string_view(authorization).substr(7)));
    bool found = false;
    const std::string fromQuery = QueryParameter(RequestTarget(lines), "token", &found);
    if (!admitted && found) admitted = TokenMatches(fromQuery);
    if (!admitted) return TVerdict::Unauthorized;
  }
  std::string origin = HeaderValue(lines, "Origin");
  if (origin.empty()) origin = HeaderValue(lines, "Sec-WebSocket-Origin");
  // Clients other than browsers send no Origin: the token is their gate.
  if (origin.empty()) return TVerdict::Admitted;
  if (!OriginsAllowed.empty())
    return MatchesAnyMask(origin, OriginsAllowed) ? TVerdict::Admitted : TVerdict::ForbiddenOrigin;
  return SameHostOrigin(origin, HeaderValue(lines, "Host"), tls) ? TVerdict::Admitted : TVerdict::ForbiddenOrigin;
}

std::string UpgradeRefusal(TbrzOperatorGate::TVerdict verdict, bool head) {
  const bool unauthorized = verdict == TbrzOperatorGate::TVerdict::Unauthorized;
  const std::string body = unauthorized ? msg::kHTTPUnauthorizedBody : msg::kHTTPForbiddenOriginBody;
  std::string response = std::string(unauthorized ? msg::kHTTPUnauthorizedStatus : msg::kHTTPForbiddenStatus) +
                         "\r\n" + msg::kServerHeader + "\r\n";
  if (unauthorized) response += "WWW-Authenticate: Bearer\r\n";
  response += "Content-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
              "\r\nConnection: close\r\n\r\n";
  if (!head) response += body;
  return response;
}

}  // namespace brz
