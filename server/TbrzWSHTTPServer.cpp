#include "server/TbrzWSHTTPServer.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "common/HttpRequest.h"
#include "common/Memory.h"
#include "common/Text.h"
#include "server/ServerMessages.h"
#include "transport/TbrzSocketErrors.h"
#include "transport/TbrzWSException.h"

namespace brz {

namespace {

constexpr size_t kHixie76Key3Size = 8;

constexpr std::array<std::string_view, 9> kHTTPMethods = {"GET ",    "POST ",  "HEAD ",  "PUT ",    "DELETE ",
                                                          "OPTIONS ", "PATCH ", "TRACE ", "CONNECT "};

std::string_view AsText(const TBytes& bytes, size_t count) {
  return std::string_view(reinterpret_cast<const char*>(bytes.data()), std::min(count, bytes.size()));
}

// The first bytes begin (or may still begin) an HTTP request line.
bool LooksLikeHTTP(std::string_view start) {
  size_t eol = start.find('\n');
  std::string_view first = start.substr(0, eol);
  for (std::string_view method : kHTTPMethods) {
    if (first.size() >= method.size()) {
      if (first.substr(0, method.size()) == method) return true;
    } else if (eol == std::string_view::npos && method.substr(0, first.size()) == first) {
      return true;
    }
  }
  return false;
}

// Offset just past the empty line ending the header, or npos.
size_t HeaderEnd(std::string_view text) {
  size_t crlf = text.find("\r\n\r\n");
  size_t lf = text.find("\n\n");
  if (crlf == std::string_view::npos && lf == std::string_view::npos) return std::string_view::npos;
  if (lf == std::string_view::npos || (crlf != std::string_view::npos && crlf < lf)) return crlf + 4;
  return lf + 2;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    start = end + 1;
  }
  // The empty line that ended a header is no request line.
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

bool HasHeader(const std::vector<std::string>& lines, std::string_view name) {
  for (size_t i = 1; i < lines.size(); ++i) {
    size_t colon = lines[i].find(':');
    if (colon != std::string::npos && SameText(Trim(std::string_view(lines[i]).substr(0, colon)), name)) return true;
  }
  return false;
}

bool IsResourceRequest(const std::vector<std::string>& lines) {
  if (lines.empty()) return false;
  const std::string& first = lines.front();
  for (std::string_view mask : {"GET *.js *", "GET *.html *", "GET *.css *", "GET *WebSocketMain.swf *", "GET *favicon*"})
    if (TextMatchesMask(first, mask)) return true;
  return false;
}

}  // namespace

void TbrzWSHTTPServer::Classify(TbrzServerContext& ctx, const TbrzWSConnectionServerPtr& c) {
  TbrzSocket& s = *ctx.Socket;
  // A TLS peer that delivers single bytes is still negotiating; give up after a few tries.
  if (c->ServerSSL() && ctx.Request.empty() && s.BufferedCount() == 1) {
    if (++c->FReadStartSSLCount > FReadStartSSL) {
      s.ClearBuffered();
      throw TbrzWSStartSSLError(msg::kErrorStartingSSL);
    }
    // Each count waits for the rest: the next step would otherwise find the same byte and count
    // again at once. The byte and whatever follows go back to the socket in order.
    TBytes start = s.ReadBuffered(1);
    s.WaitForData(FOptions.ReadTimeOut());
    TBytes rest = s.ReadBuffered(s.BufferedCount());
    start.insert(start.end(), rest.begin(), rest.end());
    ctx.IOHandler->Unread(start);
    s.WaitForData(0);
    return;
  }
  // Collect what arrives now; the bytes go back to the socket for whoever reads next.
  const size_t cap = static_cast<size_t>(std::max<int64_t>(FMaxReadBufferSize, 1));
  auto take = [&] {
    TBytes chunk = s.ReadBuffered(s.BufferedCount());
    ctx.Request.insert(ctx.Request.end(), chunk.begin(), chunk.end());
  };
  take();
  while (ctx.Request.size() <= cap && s.WaitForData(FOptions.ReadTimeOut())) take();

  std::string_view all = AsText(ctx.Request, ctx.Request.size());
  std::vector<std::string> lines;
  size_t consumed = 0;
  if (LooksLikeHTTP(all)) {
    size_t end = HeaderEnd(all);
    // An oversized request is refused before anything is parsed.
    if ((end == std::string_view::npos ? all.size() : end) > kMaxRequestHeaderSize)
      throw TbrzWSException(msg::kRequestHeaderTooLarge);
    if (end == std::string_view::npos) return;  // wait for the rest of the header
    lines = SplitLines(all.substr(0, end));
    consumed = end;
    if (HasHeader(lines, "Sec-WebSocket-Key1") && HasHeader(lines, "Sec-WebSocket-Key2")) {
      if (all.size() < end + kHixie76Key3Size) return;  // the draft's 8 key bytes follow the header
      consumed = end + kHixie76Key3Size;
    }
  } else {
    lines = SplitLines(AsText(ctx.Request, kMaxRequestHeaderSize));
  }
  TBytes request = std::move(ctx.Request);
  ctx.Request.clear();
  auto handBack = [&](size_t from) {
    if (from >= request.size()) return;
    ctx.IOHandler->Unread(TBytes(request.begin() + static_cast<std::ptrdiff_t>(from), request.end()));
    s.WaitForData(0);
  };

  if (IsWebSocketUpgradeRequest(lines)) {
    if (FGate) {
      const auto verdict = FGate->CheckUpgrade(lines, c->ServerSSL());
      if (verdict != TbrzOperatorGate::TVerdict::Admitted) return RefuseUpgrade(ctx, c, lines, verdict);
    }
    TBytes key3;
    if (consumed > 0 && consumed - HeaderEnd(all) == kHixie76Key3Size)
      key3.assign(request.begin() + static_cast<std::ptrdiff_t>(consumed - kHixie76Key3Size),
                  request.begin() + static_cast<std::ptrdiff_t>(consumed));
    c->SetRequest(lines, key3);
    handBack(consumed);
    c->ReadData();
    return;
  }
  if (IsPostXhrRequest(lines) || IsPostProtocolRequest(lines)) {
    c->SetTransport(TwsTransport::trpHTTP);
    CloseAndRelease(ctx, c);
    return;
  }
  if (IsResourceRequest(lines) && c->Transport() == TwsTransport::trpUndefined) c->SetTransport(TwsTransport::trpHTTP);
  if (IsFlashPolicyRequest(lines)) {
    c->SetTransport(TwsTransport::trpFlash);
    CloseAndRelease(ctx, c);
    return;
  }
  if (IsEventStreamRequest(lines)) {
    c->SetTransport(TwsTransport::trpSSE);
    CloseAndRelease(ctx, c);
    return;
  }
  if (IsHTTPRequest(lines)) {
    c->SetTransport(TwsTransport::trpHTTP);
    RunQuietly([&] { AnswerHTTP(c, lines); });
    CloseAndRelease(ctx, c);
    return;
  }
  bool accept = false;
  if (OnUnknownProtocol) OnUnknownProtocol(c, accept);
  if (!accept) {
    CloseAndRelease(ctx, c);
    return;
  }
  handBack(0);
  c->Enable();
  if (c->Enabled() && !c->Disconnected()) c->ReadData();
}

void TbrzWSHTTPServer::RefuseUpgrade(TbrzServerContext& ctx, const TbrzWSConnectionServerPtr& c,
                                     const std::vector<std::string>& lines, TbrzOperatorGate::TVerdict verdict) {
  if (auto s = c->Socket()) {
    const std::string response = UpgradeRefusal(verdict);
    RunQuietly([&] {
      TbrzLock guard(c->CS());
      s->WriteBytes(reinterpret_cast<const uint8_t*>(response.data()), response.size());
    });
  }
  const std::string guid = c->GetGuid(), ip = c->GetIP();
  const std::string line = verdict == TbrzOperatorGate::TVerdict::Unauthorized
                               ? FormatMsg(msg::kUpgradeRefusedToken, guid.c_str(), ip.c_str())
                               : FormatMsg(msg::kUpgradeRefusedOrigin, guid.c_str(), ip.c_str(),
                                           HeaderValue(lines, "Origin").c_str());
  CloseAndRelease(ctx, c);
  RunQuietly([&] { RaiseErrorEvent(c, line); });
}

void TbrzWSHTTPServer::AnswerHTTP(const TbrzWSConnectionServerPtr& c, const std::vector<std::string>& lines) {
  auto s = c->Socket();
  if (!s) return;
  const bool head = !lines.empty() && TextStartsWith(lines.front(), "HEAD ");
  std::string target = RequestTarget(lines);
  if (target.empty() && head && lines.front().size() > 5) target = lines.front().substr(5, lines.front().find(" HTTP") - 5);
  target = target.substr(0, target.find('?'));
  const bool home = !FHomePage.empty() && (target == "/" || target == "/index.html");
  const std::string& body = home ? FHomePage : std::string(msg::kHTTPNotFoundBody);
  std::string response =
      home ? std::string(msg::kHTTPOKStatus) + "\r\n" + msg::kServerHeader +
                 "\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\n"
                 "X-Content-Type-Options: nosniff\r\nX-Frame-Options: DENY\r\n"
                 "Content-Security-Policy: default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                 "img-src data:; connect-src 'self' ws: wss:; frame-ancestors 'none'\r\n"
           : std::string(msg::kHTTPNotFoundStatus) + "\r\n" + msg::kServerHeader + "\r\nContent-Type: text/plain\r\n";
  response += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
  if (!head) response += body;
  TbrzLock guard(c->CS());
  s->WriteBytes(reinterpret_cast<const uint8_t*>(response.data()), response.size());
}

}  // namespace brz
