#pragma once
// Who may become a remote operator: the token an operator must present and the pages a browser may
// drive the program from. Sans I/O: request header lines in, a verdict out; the server writes the
// refusal and closes.

#include <string>
#include <string_view>
#include <vector>

namespace brz {

// Compares without an early exit, so the time taken tells nothing about where a guess went wrong.
bool ConstantTimeEquals(std::string_view a, std::string_view b);
// The value of the first header Name (ignoring case) of request lines (request line first), trimmed;
// empty when absent.
std::string HeaderValue(const std::vector<std::string>& lines, std::string_view name);
// The value of the query parameter Name of a request target ("/path?a=1&token=x"), percent-decoded;
// found reports whether it was there at all.
std::string QueryParameter(std::string_view target, std::string_view name, bool* found = nullptr);
// Whether a browser's Origin ("http://host:port") names the host and port of the request's Host header.
// Missing ports are the scheme's (origin) or the connection's (Host) defaults.
bool SameHostOrigin(std::string_view origin, std::string_view host, bool tls);

class TbrzOperatorGate {
 public:
  enum class TVerdict { Admitted, Unauthorized, ForbiddenOrigin };

  // Empty: no token is asked.
  std::string Token;
  // Comma-separated origin masks; empty: only pages of the request's own host (or no Origin).
  std::string OriginsAllowed;

  bool TokenRequired() const { return !Token.empty(); }
  bool TokenMatches(std::string_view presented) const;
  // The verdict on a WebSocket upgrade request: the token as "Authorization: Bearer" or as the
  // query parameter token=, and the Origin.
  TVerdict CheckUpgrade(const std::vector<std::string>& lines, bool tls) const;
};

// The whole HTTP response (status line to body) refusing an upgrade with the verdict's status.
std::string UpgradeRefusal(TbrzOperatorGate::TVerdict verdict, bool head = false);

}  // namespace brz
