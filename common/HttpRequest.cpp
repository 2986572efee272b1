#include "common/HttpRequest.h"

#include "common/Convert.h"
#include "common/Encoding.h"
#include "common/Text.h"

namespace brz {

namespace {

bool SomeLineContains(const THttpRequestLines& lines, std::string_view sub) {
  for (const auto& line : lines)
    if (TextContains(line, sub)) return true;
  return false;
}

// The characters from the fifth up to " HTTP", trimmed.
std::string TargetOf(std::string_view requestLine) {
  const size_t http = requestLine.find(" HTTP");
  if (http == std::string_view::npos || http < 4) return {};
  return Trim(requestLine.substr(4, http - 4));
}

}  // namespace

bool IsHTTPRequest(const THttpRequestLines& lines) {
  return !lines.empty() && TextMatchesMask(lines.front(), kHTTPRequestMask);
}

std::string GetRequestLine(const THttpRequestLines& lines) {
  return !lines.empty() && TextMatchesMask(lines.front(), kGetRequestMask) ? lines.front() : std::string();
}

std::string PostRequestLine(const THttpRequestLines& lines) {
  return !lines.empty() && TextMatchesMask(lines.front(), kPostRequestMask) ? lines.front() : std::string();
}

std::string RequestTarget(const THttpRequestLines& lines) {
  std::string line = GetRequestLine(lines);
  if (line.empty()) line = PostRequestLine(lines);
  return TargetOf(line);
}

std::string RequestDocument(std::string_view target) {
  const size_t slash = target.rfind('/');
  return std::string(slash == std::string_view::npos ? target : target.substr(slash + 1));
}

std::string RequestDocument(const THttpRequestLines& lines) { return RequestDocument(RequestTarget(lines)); }

std::string RequestQuery(const THttpRequestLines& lines) {
  const std::string target = TargetOf(GetRequestLine(lines));
  const size_t q = target.find('?');
  return q == std::string::npos ? std::string() : Trim(std::string_view(target).substr(q + 1));
}

bool IsWebSocketUpgradeRequest(const THttpRequestLines& lines) {
  return IsHTTPRequest(lines) && !GetRequestLine(lines).empty() && SomeLineContains(lines, kUpgradeWebSocketHeader);
}

bool HasAuthorizationHeader(const THttpRequestLines& lines) { return SomeLineContains(lines, kAuthorizationHeader); }

bool HasBasicAuthorization(const THttpRequestLines& lines) {
  return SomeLineContains(lines, kBasicAuthorizationHeader);
}

std::string BasicAuthorizationText(const THttpRequestLines& lines) {
  for (const auto& line : lines) {
    if (TextContains(line, kBasicAuthorizationHeader))
      return line.size() > 21 ? DecodeBase64Text(std::string_view(line).substr(21)) : std::string();
  }
  return {};
}

bool IsFlashPolicyRequest(const THttpRequestLines& lines) {
  return !lines.empty() && lines.front() == kFlashPolicyRequest;
}

bool IsEventStreamRequest(const THttpRequestLines& lines) {
  for (const auto& line : lines)
    if (TextMatchesMask(line, kEventStreamAcceptHeader)) return true;
  return false;
}

bool RequestLineMatchesPath(const THttpRequestLines& lines, std::string_view name) {
  return !lines.empty() && TextMatchesMask(lines.front(), "*/" + std::string(name) + "*");
}

int64_t ContentLengthOf(const THttpRequestLines& lines) {
  for (const auto& line : lines) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    if (!SameText(Trim(std::string_view(line).substr(0, colon)), "Content-Length")) continue;
    const std::string value = Trim(std::string_view(line).substr(colon + 1));
    return value.empty() ? -1 : StrToInt64(value);
  }
  return -1;
}

bool IsGetAuthSessionRequest(const THttpRequestLines& lines) {
  const std::string line = GetRequestLine(lines);
  return !line.empty() && TextContains(line, kGetAuthSessionRequest);
}

bool IsGetAuthUrlRequest(const THttpRequestLines& lines) {
  const std::string line = GetRequestLine(lines);
  return !line.empty() && TextContains(line, kGetAuthUrlRequest);
}

bool IsGetAuthSessionResponseRequest(const THttpRequestLines& lines) {
  const std::string line = GetRequestLine(lines);
  return !line.empty() && TextContains(line, kGetAuthSessionResponseRequest);
}

bool IsPostXhrRequest(const THttpRequestLines& lines) {
  const std::string line = PostRequestLine(lines);
  return !line.empty() && TextMatchesMask(line, kPostXhrRequestMask);
}

bool IsPostProtocolRequest(const THttpRequestLines& lines) {
  const std::string line = PostRequestLine(lines);
  return !line.empty() && TextMatchesMask(line, kPostProtocolRequestMask);
}

}  // namespace brz
