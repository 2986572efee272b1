#include "transport/TbrzSocketProxy.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <openssl/evp.h>

#include <cctype>
#include <cstring>
#include <strings.h>

#include "transport/TbrzSocketErrors.h"
#include "transport/TransportMessages.h"

namespace brz {

namespace {

constexpr size_t kMaxHeaderBytes = 16384;

TBytes ToBytes(const std::string& text) { return TBytes(text.begin(), text.end()); }

// One header line without its CR LF.
std::string ReceiveLine(TbrzProxyLink& link, size_t& budget) {
  std::string line;
  for (;;) {
    if (budget == 0) throw EProxyError(msg::kHTTPHeaderTooLong);
    --budget;
    char c = static_cast<char>(link.Receive(1)[0]);
    if (c == '\n') break;
    line += c;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

struct HTTPResponse {
  std::string StatusLine;
  int Status = 0;
  bool Close = false;
};

HTTPResponse ReadResponse(TbrzProxyLink& link) {
  HTTPResponse r;
  size_t budget = kMaxHeaderBytes;
  r.StatusLine = ReceiveLine(link, budget);
  // "HTTP/1.x NNN reason"
  if (r.StatusLine.compare(0, 5, "HTTP/") != 0) throw EProxyError(FormatMsg(msg::kHTTPBadResponse, r.StatusLine.c_str()));
  size_t sp = r.StatusLine.find(' ');
  if (sp == std::string::npos || sp + 4 > r.StatusLine.size() ||
      !std::isdigit(static_cast<unsigned char>(r.StatusLine[sp + 1])))
    throw EProxyError(FormatMsg(msg::kHTTPBadResponse, r.StatusLine.c_str()));
  r.Status = std::atoi(r.StatusLine.c_str() + sp + 1);
  long contentLength = 0;
  for (;;) {
    std::string line = ReceiveLine(link, budget);
    if (line.empty()) break;
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = Trim(line.substr(0, colon));
    std::string value = Trim(line.substr(colon + 1));
    if (strcasecmp(name.c_str(), "Content-Length") == 0) {
      contentLength = std::atol(value.c_str());
    } else if (strcasecmp(name.c_str(), "Connection") == 0 || strcasecmp(name.c_str(), "Proxy-Connection") == 0) {
      if (strcasecmp(value.c_str(), "close") == 0) r.Close = true;
    }
  }
  // Skip the body in bounded pieces; an absurd length is refused rather than read.
  if (contentLength < 0 || contentLength > static_cast<long>(kMaxHeaderBytes) * 64)
    throw EProxyError(FormatMsg(msg::kHTTPBadResponse, r.StatusLine.c_str()));
  while (contentLength > 0) {
    size_t piece = contentLength > 4096 ? 4096 : static_cast<size_t>(contentLength);
    link.Receive(piece);
    contentLength -= static_cast<long>(piece);
  }
  return r;
}

bool ParseIPv4(const std::string& host, uint8_t out[4]) { return ::inet_pton(AF_INET, host.c_str(), out) == 1; }
bool ParseIPv6(const std::string& host, uint8_t out[16]) { return ::inet_pton(AF_INET6, host.c_str(), out) == 1; }

void AppendPort(TBytes& b, int port) {
  b.push_back(static_cast<uint8_t>((port >> 8) & 0xFF));
  b.push_back(static_cast<uint8_t>(port & 0xFF));
}

void AppendShortField(TBytes& b, const std::string& s) {
  if (s.size() > 255) throw EProxyError(msg::kSocksFieldTooLong);
  b.push_back(static_cast<uint8_t>(s.size()));
  b.insert(b.end(), s.begin(), s.end());
}

}  // namespace

std::string Base64Encode(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

void TbrzProxyHTTPConnect::Negotiate(TbrzProxyLink& link, const std::string& host, int port) {
  const std::string requestLine = FormatMsg(msg::kHTTPConnectRequest, host.c_str(), port);
  link.Send(ToBytes(requestLine + "\r\n\r\n"));
  HTTPResponse r = ReadResponse(link);
  if (r.Status == 407 && !FOptions.Username.empty()) {
    if (r.Close) link.Reconnect();
    const std::string credentials = Base64Encode(FOptions.Username + ":" + FOptions.Password);
    link.Send(ToBytes(requestLine + "\r\n" + msg::kHTTPProxyAuthorization + credentials + "\r\n\r\n"));
    r = ReadResponse(link);
  }
  if (r.Status < 200 || r.Status > 299) throw EProxyError(r.StatusLine);
}

void TbrzProxySocks::Negotiate(TbrzProxyLink& link, const std::string& host, int port) {
  switch (FOptions.ProxyType) {
    case TwsProxy::pxySocks4: Negotiate4(link, host, port, false); break;
    case TwsProxy::pxySocks4A: Negotiate4(link, host, port, true); break;
    default: Negotiate5(link, host, port); break;
  }
}

void TbrzProxySocks::Negotiate4(TbrzProxyLink& link, const std::string& host, int port, bool variantA) {
  uint8_t ip[4] = {0, 0, 0, 0};
  bool literal = ParseIPv4(host, ip);
  if (!literal && !variantA) {
    // Plain SOCKS4 carries an address only: resolve the target here.
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
    if (rc != 0 || list == nullptr) throw EHostNotFound(FormatMsg(msg::kHostNotFound, host.c_str(), ::gai_strerror(rc)));
    std::memcpy(ip, &reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr, 4);
    ::freeaddrinfo(list);
  }
  TBytes request{4, 1};
  AppendPort(request, port);
  // 4A: the address 0.0.0.1 tells the proxy that the host name follows the user id.
  bool sendName = variantA && !literal;
  const uint8_t marker[4] = {0, 0, 0, 1};
  const uint8_t* address = sendName ? marker : ip;
  for (int i = 0; i < 4; ++i) request.push_back(address[i]);
  request.insert(request.end(), FOptions.Username.begin(), FOptions.Username.end());
  request.push_back(0);
  if (sendName) {
    request.insert(request.end(), host.begin(), host.end());
    request.push_back(0);
  }
  link.Send(request);
  TBytes reply = link.Receive(8);
  if (reply[0] != 0) throw EProxyError(msg::kSocksBadVersion);
  if (reply[1] != 90) throw EProxyError(FormatMsg(msg::kSocks4Rejected, static_cast<int>(reply[1])));
}

void TbrzProxySocks::Negotiate5(TbrzProxyLink& link, const std::string& host, int port) {
  const bool auth = !FOptions.Username.empty();
  link.Send(auth ? TBytes{5, 1, 2} : TBytes{5, 1, 0});
  TBytes choice = link.Receive(2);
  if (choice[0] != 5) throw EProxyError(msg::kSocksBadVersion);
  if (choice[1] == 2 && auth) {
    TBytes login{1};
    AppendShortField(login, FOptions.Username);
    AppendShortField(login, FOptions.Password);
    link.Send(login);
    TBytes status = link.Receive(2);
    if (status[1] != 0) throw EProxyError(msg::kSocks5AuthFailed);
  } else if (choice[1] != 0) {
    throw EProxyError(msg::kSocks5NoMethod);
  }

  TBytes request{5, 1, 0};
  uint8_t addr[16];
  if (ParseIPv4(host, addr)) {
    request.push_back(1);
    for (int i = 0; i < 4; ++i) request.push_back(addr[i]);
  } else if (ParseIPv6(host, addr)) {
    request.push_back(4);
    for (int i = 0; i < 16; ++i) request.push_back(addr[i]);
  } else {
    request.push_back(3);
    AppendShortField(request, host);
  }
  AppendPort(request, port);
  link.Send(request);

  TBytes head = link.Receive(4);
  if (head[0] != 5) throw EProxyError(msg::kSocksBadVersion);
  switch (head[1]) {
    case 0: break;
    case 1: throw EProxyError(msg::kSocks5GeneralFailure);
    case 2: throw EProxyError(msg::kSocks5NotAllowed);
    case 3: throw EProxyError(msg::kSocks5NetUnreachable);
    case 4: throw EProxyError(msg::kSocks5HostUnreachable);
    case 5: throw EProxyError(msg::kSocks5Refused);
    case 6: throw EProxyError(msg::kSocks5TTLExpired);
    case 7: throw EProxyError(msg::kSocks5CommandNotSupported);
    case 8: throw EProxyError(msg::kSocks5AddressNotSupported);
    default: throw EProxyError(FormatMsg(msg::kSocks5Unknown, static_cast<int>(head[1])));
  }
  // The bound address follows; its length depends on its type.
  switch (head[3]) {
    case 1: link.Receive(4 + 2); break;
    case 4: link.Receive(16 + 2); break;
    case 3: link.Receive(static_cast<size_t>(link.Receive(1)[0]) + 2); break;
    default: throw EProxyError(msg::kSocksBadVersion);
  }
}

std::unique_ptr<TbrzProxy> CreateProxy(const TbrzSocketProxy_Options& options) {
  if (options.ProxyType == TwsProxy::pxyHTTP) return std::make_unique<TbrzProxyHTTPConnect>(options);
  return std::make_unique<TbrzProxySocks>(options);
}

}  // namespace brz
