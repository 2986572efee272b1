// The server's reading of an operator's upgrade request (RFC 6455 and Hixie-76): request parsing,
// sub-protocol choice, origin check, extension offers, the response and the draft's challenge answer,
// and DoHandshake itself on a server connection that has no socket (its response writes go nowhere).
// Input: an HTTP request header, its empty line, and what followed it (the draft's 8 key bytes).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/Exception.h"
#include "server/TbrzWSConnectionServer.h"
#include "server/TbrzWSHandShakeServer.h"

namespace {

// Header lines the way the classifier cuts them: LF ends a line, a CR before it is dropped.
std::vector<std::string> Lines(std::string_view header) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < header.size()) {
    size_t end = header.find('\n', start);
    if (end == std::string_view::npos) end = header.size();
    std::string_view line = header.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    start = end + 1;
  }
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  size_t end = text.find("\r\n\r\n");
  end = end == std::string_view::npos ? text.find("\n\n") : end;
  const size_t bodyStart =
      end == std::string_view::npos ? size : end + (text.compare(end, 4, "\r\n\r\n") == 0 ? 4 : 2);
  const std::vector<std::string> lines = Lines(text.substr(0, std::min(bodyStart, size)));
  const brz::TBytes rest(data + bodyStart, data + size);

  brz::TbrzWSHandShakeServer request;
  try {
    request.Parse(lines, std::string_view(reinterpret_cast<const char*>(rest.data()), rest.size()));
    const std::string protocol = request.FIsProtocols ? brz::SelectSubProtocol(request.FProtocols, "mqtt,chat") : "";
    if (request.FIsOrigin) brz::CheckOrigin("http://*.example,https://trusted.example", request.FOrigin);
    brz::TbrzWSExtensions extensions;
    extensions.SetMode(brz::TwsApplicationMode::appServer);
    extensions.PerMessage_Deflate().SetEnabled(true);
    extensions.DeflateFrame().SetEnabled(true);
    extensions.DecodeExtensions(request.FExtensions);
    std::vector<std::string> extensionLines;
    extensions.WriteHeader(extensionLines);
    if (request.GetSpecification() == brz::TwsSpecification::spHixie76) {
      (void)brz::Hixie76ResponseLines(request, protocol);
      (void)brz::Hixie76Answer(request.FKey1, request.FKey2, rest);
    } else {
      (void)brz::RFC6455ResponseLines(request.FKey, protocol, extensionLines);
    }
  } catch (const brz::Exception&) {
    // A request the server refuses.
  }

  auto connection = std::make_shared<brz::TbrzWSConnectionServer>();
  connection->SetProtocol("mqtt");
  connection->SetServerOriginsAllowed("http://*.example");
  connection->Extensions().PerMessage_Deflate().SetEnabled(true);
  connection->SetRequest(lines, rest);
  try {
    connection->DoHandshake();
  } catch (const brz::Exception&) {
  }
  (void)connection->GetURL();
  return 0;
}
