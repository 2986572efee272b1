// URL and host splitting and the HTTP request recognisers on arbitrary text.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/Exception.h"
#include "common/HttpRequest.h"
#include "common/Url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string protocol, host, port, path, query;
  brz::SplitURL(text, protocol, host, port, path, query);
  try {
    std::string h;
    int p = 0;
    bool tls = false;
    brz::SplitHostSpec(text, h, p, tls);
  } catch (const brz::Exception&) {
  }
  // The same bytes as request header lines.
  brz::THttpRequestLines lines;
  size_t start = 0;
  while (start <= text.size() && lines.size() < 64) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  (void)brz::IsWebSocketUpgradeRequest(lines);
  (void)brz::RequestTarget(lines);
  (void)brz::RequestDocument(lines);
  (void)brz::RequestQuery(lines);
  (void)brz::BasicAuthorizationText(lines);
  (void)brz::IsEventStreamRequest(lines);
  (void)brz::RequestLineMatchesPath(lines, "brz");
  try {
    (void)brz::ContentLengthOf(lines);
  } catch (const brz::Exception&) {
  }
  return 0;
}
