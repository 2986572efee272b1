#pragma once
// Recognisers of HTTP requests given as header lines (the first being the request line, no line ends).
// All return false / empty text / -1 on an empty list.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brz {

using THttpRequestLines = std::vector<std::string>;

// Masks and fixed request lines.
inline constexpr std::string_view kHTTPRequestMask = "*HTTP/1.*";
inline constexpr std::string_view kGetRequestMask = "GET *";
inline constexpr std::string_view kPostRequestMask = "POST *";
inline constexpr std::string_view kUpgradeWebSocketHeader = "Upgrade: websocket";
inline constexpr std::string_view kAuthorizationHeader = "Authorization: ";
inline constexpr std::string_view kBasicAuthorizationHeader = "Authorization: Basic";
inline constexpr std::string_view kFlashPolicyRequest = "<policy-file-request/>";
inline constexpr std::string_view kEventStreamAcceptHeader = "Accept: text/event-stream";
// Tested with TextContains on the GET request line.
inline constexpr std::string_view kGetAuthSessionRequest = "GET /brz/req/auth/session/";
inline constexpr std::string_view kGetAuthUrlRequest = "GET /brz/auth/url/";
inline constexpr std::string_view kGetAuthSessionResponseRequest = "GET /brz/auth/session/";
// Tested with TextMatchesMask on the POST request line.
inline constexpr std::string_view kPostXhrRequestMask = "POST /brz/xhr/*";
inline constexpr std::string_view kPostProtocolRequestMask = "POST /brz/protocol/*";

// The first line matches "*HTTP/1.*".
bool IsHTTPRequest(const THttpRequestLines& lines);
// The first line when it matches "GET *" (resp. "POST *"), else empty.
std::string GetRequestLine(const THttpRequestLines& lines);
std::string PostRequestLine(const THttpRequestLines& lines);
// Of the GET (or else POST) request line: the characters from the fifth up to " HTTP" (case-sensitive),
// trimmed; empty when there is no such line or no " HTTP".
std::string RequestTarget(const THttpRequestLines& lines);
// The part of a request target after its last '/' (the whole target without '/').
std::string RequestDocument(std::string_view target);
// RequestDocument of RequestTarget(lines).
std::string RequestDocument(const THttpRequestLines& lines);
// The text after the first '?' of the GET target, trimmed; empty when there is none.
std::string RequestQuery(const THttpRequestLines& lines);
// IsHTTPRequest, a GET request line, and some line containing "Upgrade: websocket" ignoring case.
bool IsWebSocketUpgradeRequest(const THttpRequestLines& lines);
// Some line contains "Authorization: " (resp. "Authorization: Basic") ignoring case.
bool HasAuthorizationHeader(const THttpRequestLines& lines);
bool HasBasicAuthorization(const THttpRequestLines& lines);
// Of the first line containing "Authorization: Basic": the text from its 22nd character on, Base64-decoded
// ("user:password", bytes unconverted); empty without such a line.
std::string BasicAuthorizationText(const THttpRequestLines& lines);
// The first line equals "<policy-file-request/>" exactly.
bool IsFlashPolicyRequest(const THttpRequestLines& lines);
// Some line matches "Accept: text/event-stream" ignoring case (the whole line).
bool IsEventStreamRequest(const THttpRequestLines& lines);
// The first line matches "*/" + name + "*".
bool RequestLineMatchesPath(const THttpRequestLines& lines, std::string_view name);
// The value of the "Content-Length" header (name ignoring case) as a 64-bit integer; -1 when absent or
// empty; EConvertError when not numeric.
int64_t ContentLengthOf(const THttpRequestLines& lines);

// The fixed request lines of the server's own HTTP services.
bool IsGetAuthSessionRequest(const THttpRequestLines& lines);
bool IsGetAuthUrlRequest(const THttpRequestLines& lines);
bool IsGetAuthSessionResponseRequest(const THttpRequestLines& lines);
bool IsPostXhrRequest(const THttpRequestLines& lines);
bool IsPostProtocolRequest(const THttpRequestLines& lines);

}  // namespace brz
