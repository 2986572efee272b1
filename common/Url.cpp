#include "common/Url.h"

#include "common/Convert.h"
#include "common/TbrzDelimitedStringList.h"
#include "common/Text.h"

namespace brz {

namespace {

bool IsAlpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Length of the scheme (RFC 3986: ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ) followed by ':'), or 0.
size_t SchemeLength(std::string_view s) {
  if (s.empty() || !IsAlpha(s[0])) return 0;
  for (size_t i = 1; i < s.size(); ++i) {
    const char c = s[i];
    if (c == ':') return i;
    if (!IsAlpha(c) && !IsDigit(c) && c != '+' && c != '-' && c != '.') return 0;
  }
  return 0;
}

}  // namespace

void SplitURL(std::string_view url, std::string& protocol, std::string& host, std::string& port, std::string& path,
              std::string& query) {
  protocol.clear();
  host.clear();
  port.clear();
  path.clear();
  query.clear();
  std::string_view rest = url;
  if (const size_t hash = rest.find('#'); hash != std::string_view::npos) rest = rest.substr(0, hash);
  if (const size_t n = SchemeLength(rest); n > 0) {
    protocol = std::string(rest.substr(0, n));
    rest = rest.substr(n + 1);
  }
  if (rest.starts_with("//")) {
    rest = rest.substr(2);
    const size_t end = rest.find_first_of("/?");
    std::string_view authority = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    if (const size_t at = authority.rfind('@'); at != std::string_view::npos) authority = authority.substr(at + 1);
    if (authority.starts_with('[')) {
      const size_t close = authority.find(']');
      if (close == std::string_view::npos) {
        host = std::string(authority.substr(1));
      } else {
        host = std::string(authority.substr(1, close - 1));
        const std::string_view after = authority.substr(close + 1);
        if (after.starts_with(':')) port = std::string(after.substr(1));
      }
    } else if (const size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
      host = std::string(authority.substr(0, colon));
      port = std::string(authority.substr(colon + 1));
    } else {
      host = std::string(authority);
    }
  }
  if (const size_t q = rest.find('?'); q != std::string_view::npos) {
    query = std::string(rest.substr(q + 1));
    rest = rest.substr(0, q);
  }
  path = std::string(rest);
}

bool SplitHostSpec(std::string_view text, std::string& host, int& port, bool& tls) {
  TbrzDelimitedStringList parts(':');
  parts.SetDelimitedText(text);
  if (parts.Count() != 3) return false;
  tls = SameText(parts[0], "WSS");
  host = TextReplace(parts[1], "/", "");
  port = StrToInt(parts[2]);
  return true;
}

}  // namespace brz
