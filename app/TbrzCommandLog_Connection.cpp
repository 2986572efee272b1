// The connection settings commands: tls, proxy and websocket. Each checks its whole command first
// (a command that cannot be carried out as written changes nothing and says why on standard
// error), then stores the new settings and prints one options line. Settings apply from the next
// connection: the client takes them at the start of every activation.

#include <cctype>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <string_view>

#include "app/ConnectionMessages.h"
#include "app/ConnectionSettings.h"
#include "app/ConsoleWriter.h"
#include "app/EventLines.h"
#include "app/TbrzCommandLog_WSClient.h"
#include "common/Text.h"
#include "framework/TbrzWSProtocol.h"
#include "json/JSONEscape.h"
#include "transport/TLSMessages.h"
#include "transport/TbrzIdSSLIOHandlerSocketSChannel.h"
#include "transport/TbrzSocketErrors.h"

namespace brz {

namespace {

// A command that cannot be carried out as written; the text is the diagnostic.
struct ESettingsError {
  std::string Text;
};

[[noreturn]] void Refuse(std::string text) { throw ESettingsError{std::move(text)}; }

// The value as the operator wrote it, for diagnostics.
std::string Written(const IbrzObjectJSON& node) {
  if (node->JSONType() == TbrzJSONtype::brzJSONString) return "\"" + JSONUnescape(node->Value()) + "\"";
  return node->Value();
}

// The members of one command's params, checked against the names it knows.
class TParams {
 public:
  TParams(const char* aCommand, const IbrzObjectJSON& aParams, std::initializer_list<const char*> aKnown)
      : FCommand(aCommand) {
    if (!aParams) return;
    if (aParams->JSONType() != TbrzJSONtype::brzJSONObject) Refuse(FormatMsg(msg::kSettingsParamsNotObject, aCommand));
    FDocument = aParams->JSONObject();
    for (int i = 0; i < FDocument->Count(); ++i) {
      const std::string name = FDocument->Item(i)->Name();
      bool known = false;
      for (const char* k : aKnown) known = known || name == k;
      if (!known) Refuse(FormatMsg(msg::kSettingsUnknownMember, aCommand, name.c_str()));
    }
  }

  IbrzObjectJSON Node(const char* aName) const { return FDocument ? FDocument->Node(aName) : nullptr; }

  bool Bool(const char* aName, bool& aValue) const {
    IbrzObjectJSON node = Node(aName);
    if (!node) return false;
    if (node->JSONType() != TbrzJSONtype::brzJSONBoolean)
      Refuse(FormatMsg(msg::kSettingsNotBoolean, FCommand, aName, Written(node).c_str()));
    aValue = node->Value() == "true";
    return true;
  }

  bool String(const char* aName, std::string& aValue) const {
    IbrzObjectJSON node = Node(aName);
    if (!node) return false;
    if (node->JSONType() != TbrzJSONtype::brzJSONString)
      Refuse(FormatMsg(msg::kSettingsNotString, FCommand, aName, Written(node).c_str()));
    aValue = JSONUnescape(node->Value());
    return true;
  }

 private:
  const char* FCommand;
  IbrzJSON FDocument;
};

bool HasControl(std::string_view text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

// An HTTP token (header names, sub-protocol names).
bool IsToken(std::string_view text) {
  if (text.empty()) return false;
  for (unsigned char c : text) {
    if (std::isalnum(c)) continue;
    if (std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) == std::string_view::npos) return false;
  }
  return true;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// Header values that are credentials print masked.
bool SecretHeader(std::string_view name) {
  return SameName(name, "Authorization") || SameName(name, "Proxy-Authorization") || SameName(name, "Cookie");
}

// Lines the handshake writes itself; a second copy would break it.
bool ReservedHeader(std::string_view name) {
  for (const char* reserved : {"Host", "Upgrade", "Connection", "Sec-WebSocket-Key", "Sec-WebSocket-Version",
                               "Sec-WebSocket-Extensions", "Sec-WebSocket-Protocol", "Content-Length",
                               "Transfer-Encoding"}) {
    if (SameName(name, reserved)) return true;
  }
  return false;
}

std::string Quoted(std::string_view text) { return "\"" + JsonEscape(text) + "\""; }

std::string PercentDecode(std::string_view text, bool& ok) {
  std::string out;
  ok = true;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
        !std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      ok = false;
      return out;
    }
    out += static_cast<char>(std::strtol(std::string(text.substr(i + 1, 2)).c_str(), nullptr, 16));
    i += 2;
  }
  return out;
}

// scheme://[user[:password]@]host[:port][/]; false when it is not one of the proxy schemes.
bool ParseProxyURL(const std::string& url, TbrzWSProxy_Options& out) {
  const size_t sep = url.find("://");
  if (sep == std::string::npos) return false;
  std::string scheme = url.substr(0, sep);
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  TbrzWSProxy_Options options;
  if (scheme == "http") {
    options.ProxyType = TwsProxy::pxyHTTP;
    options.Port = 8080;
  } else if (scheme == "socks4" || scheme == "socks4a" || scheme == "socks5") {
    options.ProxyType = scheme == "socks4" ? TwsProxy::pxySocks4
                        : scheme == "socks4a" ? TwsProxy::pxySocks4A
                                              : TwsProxy::pxySocks5;
    options.Port = 1080;
  } else {
    return false;
  }
  std::string rest = url.substr(sep + 3);
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  if (rest.find_first_of("/?#") != std::string::npos || HasControl(rest) || rest.find(' ') != std::string::npos)
    return false;
  const size_t at = rest.rfind('@');
  if (at != std::string::npos) {
    const std::string userinfo = rest.substr(0, at);
    rest = rest.substr(at + 1);
    const size_t colon = userinfo.find(':');
    bool ok = true;
    bool okPassword = true;
    options.Username = PercentDecode(userinfo.substr(0, colon), ok);
    if (colon != std::string::npos) options.Password = PercentDecode(userinfo.substr(colon + 1), okPassword);
    if (!ok || !okPassword || options.Username.empty()) return false;
  }
  std::string host;
  std::string port;
  bool hasPort = false;
  if (!rest.empty() && rest[0] == '[') {
    const size_t close = rest.find(']');
    if (close == std::string::npos) return false;
    host = rest.substr(1, close - 1);
    // An IPv6 literal in brackets.
    if (host.find(':') == std::string::npos) return false;
    if (close + 1 < rest.size()) {
      if (rest[close + 1] != ':') return false;
      hasPort = true;
      port = rest.substr(close + 2);
    }
  } else {
    const size_t colon = rest.find(':');
    host = rest.substr(0, colon);
    if (colon != std::string::npos) {
      hasPort = true;
      port = rest.substr(colon + 1);
    }
  }
  if (host.empty()) return false;
  if (hasPort) {
    if (port.empty() || port.size() > 5) return false;
    for (char c : port) {
      if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    }
    options.Port = std::atoi(port.c_str());
    if (options.Port < 1 || options.Port > 65535) return false;
  }
  options.Host = host;
  options.Enabled = true;
  out = options;
  return true;
}

// User names print percent-encoded, so a ':' or '@' in them never reads as a password or host.
std::string PercentEncode(std::string_view text) {
  static const char* kDigits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kDigits[c >> 4];
      out += kDigits[c & 15];
    }
  }
  return out;
}

// The proxy URL as shown: never the password.
std::string ProxyURLText(const TbrzWSProxy_Options& proxy) {
  const char* scheme = "http";
  switch (proxy.ProxyType) {
    case TwsProxy::pxyHTTP: scheme = "http"; break;
    case TwsProxy::pxySocks4: scheme = "socks4"; break;
    case TwsProxy::pxySocks4A: scheme = "socks4a"; break;
    case TwsProxy::pxySocks5: scheme = "socks5"; break;
  }
  std::string text = std::string(scheme) + "://";
  if (!proxy.Username.empty()) text += PercentEncode(proxy.Username) + "@";
  text += proxy.Host.find(':') != std::string::npos ? "[" + proxy.Host + "]" : proxy.Host;
  return text + ":" + std::to_string(proxy.Port);
}

std::string StringList(const std::vector<std::string>& items) {
  std::string text = "[";
  for (size_t i = 0; i < items.size(); ++i) text += (i ? ", " : "") + Quoted(items[i]);
  return text + "]";
}

}  // namespace

// --- Settings ---

TbrzConnectionSettings TbrzConnectionSettings::ConsoleDefaults() {
  TbrzConnectionSettings settings;
  settings.TLS.IOHandler = TwsTLSIOHandler::iohSChannel;
  settings.TLS.Version = TwsTLSVersions::tls1_2;
  return settings;
}

void TbrzConnectionSettings::ApplyTo(TbrzWSClient& Client) const {
  Client.TLSOptions().Assign(TLS);
  // A PEM certificate without a key file holds its key itself; a PKCS #12 file always does.
  const std::string& cert = TLS.CertFile;
  const bool pkcs12 = cert.size() > 4 && (SameName(cert.substr(cert.size() - 4), ".p12") ||
                                          SameName(cert.substr(cert.size() - 4), ".pfx"));
  if (!cert.empty() && TLS.KeyFile.empty() && !pkcs12) Client.TLSOptions().KeyFile = cert;
  Client.Proxy().Assign(Proxy);
  TbrzWSOptionsClient& options = Client.Options();
  options.Headers.clear();
  options.Origin.clear();
  for (const auto& [name, value] : Headers) {
    if (SameName(name, "Origin")) {
      options.Origin = value;
    } else {
      options.Headers.emplace_back(name, value);
    }
  }
  Client.Extensions().PerMessage_Deflate().SetEnabled(Compression == "permessage-deflate");
  Client.Extensions().DeflateFrame().SetEnabled(Compression == "deflate-frame");
  for (TbrzWSComponent_Base* object : Client.ProtocolObjects()) {
    if (auto* protocol = dynamic_cast<TbrzWSProtocol*>(object)) protocol->SetProtocol(Protocol);
  }
}

std::string TLSOptionsLine(const TbrzConnectionSettings& Settings) {
  const TbrzWSTLS_Options& tls = Settings.TLS;
  return std::string("{\"event\": \"options\", \"params\":{\"tls\": {\"verify\": ") +
         (tls.VerifyCertificate ? "true" : "false") + ", \"ca\": " + Quoted(tls.RootCertFile) +
         ", \"capath\": " + Quoted(tls.RootCertPath) + ", \"cert\": " + Quoted(tls.CertFile) +
         ", \"key\": " + Quoted(tls.KeyFile) + ", \"keypassword\": " + (tls.Password.empty() ? "\"\"" : "\"***\"") +
         ", \"servername\": " + Quoted(tls.ServerName) + ", \"alpn\": " + StringList(tls.ALPNProtocols) +
         ", \"version\": " + Quoted(Settings.TLSVersion) + ", \"ciphers\": " + Quoted(tls.CipherList) + "}}}";
}

std::string ProxyOptionsLine(const TbrzConnectionSettings& Settings) {
  std::string line = "{\"event\": \"options\", \"params\":{\"proxy\": {\"enabled\": ";
  line += Settings.Proxy.Enabled ? "true" : "false";
  if (!Settings.Proxy.Host.empty()) line += ", \"url\": " + Quoted(ProxyURLText(Settings.Proxy));
  return line + "}}}";
}

std::string WebSocketOptionsLine(const TbrzConnectionSettings& Settings) {
  std::string headers = "{";
  for (size_t i = 0; i < Settings.Headers.size(); ++i) {
    const auto& [name, value] = Settings.Headers[i];
    headers += (i ? ", " : "") + Quoted(name) + ": " + (SecretHeader(name) ? std::string("\"***\"") : Quoted(value));
  }
  headers += "}";
  return "{\"event\": \"options\", \"params\":{\"websocket\": {\"headers\": " + headers +
         ", \"compression\": " + Quoted(Settings.Compression) + ", \"protocol\": " + Quoted(Settings.Protocol) + "}}}";
}

std::string ExplainConnectionError(const std::string& Text) {
  const std::string marker = msg::kSChChainPolicy;
  const size_t at = Text.find(marker);
  if (at == std::string::npos || Text.size() < at + marker.size() + 8) return Text;
  const std::string digits = Text.substr(at + marker.size(), 8);
  for (char c : digits) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return Text;
  }
  const auto status = static_cast<uint32_t>(std::strtoul(digits.c_str(), nullptr, 16));
  return Text + " (" + TLSChainStatusReason(status) + ")";
}

// --- Commands ---

void TbrzCommandLog_WSClient::RunSettingsCommand(const std::function<std::string(TbrzConnectionSettings&)>& Change) {
  TbrzConnectionSettings settings;
  {
    std::lock_guard<std::mutex> guard(FConnectionSettingsLock);
    settings = FConnectionSettings;
  }
  std::string line;
  try {
    line = Change(settings);
  } catch (const ESettingsError& e) {
    Diagnostic(e.Text + msg::kSettingsIgnored);
    return;
  }
  settings.Changed = true;
  {
    std::lock_guard<std::mutex> guard(FConnectionSettingsLock);
    FConnectionSettings = settings;
  }
  WriteLog(line);
}

void TbrzCommandLog_WSClient::CommandTLS() {
  RunSettingsCommand([this](TbrzConnectionSettings& settings) {
    TParams params("tls", Params(),
                   {"verify", "ca", "capath", "cert", "key", "keypassword", "servername", "alpn", "version", "ciphers"});
    // Remote operators may not make this program read files on its host.
    if (CommandFromOperator()) {
      for (const char* file : {"ca", "capath", "cert", "key"}) {
        if (params.Node(file)) Refuse(FormatMsg(msg::kSettingsFileFromOperator, "tls", file));
      }
    }
    TbrzWSTLS_Options& tls = settings.TLS;
    params.Bool("verify", tls.VerifyCertificate);
    params.String("ca", tls.RootCertFile);
    params.String("capath", tls.RootCertPath);
    params.String("cert", tls.CertFile);
    params.String("key", tls.KeyFile);
    params.String("keypassword", tls.Password);
    params.String("ciphers", tls.CipherList);
    if (HasControl(tls.CipherList) || HasControl(tls.RootCertFile) || HasControl(tls.RootCertPath) ||
        HasControl(tls.CertFile) || HasControl(tls.KeyFile))
      Refuse(msg::kTLSControlCharacters);
    if (!tls.KeyFile.empty() && tls.CertFile.empty()) Refuse(msg::kTLSKeyWithoutCert);
    std::string name;
    if (params.String("servername", name)) {
      if (HasControl(name) || name.find(' ') != std::string::npos || name.find('/') != std::string::npos)
        Refuse(msg::kTLSBadServerName);
      tls.ServerName = name;
    }
    if (IbrzObjectJSON alpn = params.Node("alpn")) {
      if (alpn->JSONType() != TbrzJSONtype::brzJSONList) Refuse(msg::kTLSBadALPN);
      std::vector<std::string> protocols;
      for (int i = 0; i < alpn->Count(); ++i) {
        IbrzObjectJSON item = alpn->Item(i);
        if (item->JSONType() != TbrzJSONtype::brzJSONString) Refuse(msg::kTLSBadALPN);
        std::string protocol = JSONUnescape(item->Value());
        if (protocol.empty() || protocol.size() > 255) Refuse(msg::kTLSBadALPN);
        protocols.push_back(std::move(protocol));
      }
      tls.ALPNProtocols = std::move(protocols);
    }
    std::string version;
    if (params.String("version", version)) {
      if (version == "1.2") {
        tls.Version = TwsTLSVersions::tls1_2;
        tls.SChannel_Options.CredentialFormat = TbrzSChannelCredentialFormat::scfLegacy;
      } else if (version == "1.3" || version == "auto") {
        tls.Version = version == "1.3" ? TwsTLSVersions::tls1_3 : TwsTLSVersions::tlsUndefined;
        tls.SChannel_Options.CredentialFormat = TbrzSChannelCredentialFormat::scfNewer;
      } else {
        Refuse(FormatMsg(msg::kTLSBadVersion, version.c_str()));
      }
      settings.TLSVersion = version;
    }
    return TLSOptionsLine(settings);
  });
}

void TbrzCommandLog_WSClient::CommandProxy() {
  RunSettingsCommand([this](TbrzConnectionSettings& settings) {
    TParams params("proxy", Params(), {"url", "enabled"});
    std::string url;
    if (params.String("url", url)) {
      TbrzWSProxy_Options proxy;
      if (!ParseProxyURL(url, proxy)) Refuse(FormatMsg(msg::kProxyBadURL, url.c_str()));
      if (!proxy.Password.empty() && proxy.ProxyType != TwsProxy::pxySocks5 && proxy.ProxyType != TwsProxy::pxyHTTP)
        Refuse(msg::kProxySocks4Password);
      settings.Proxy = proxy;
    }
    bool enabled = false;
    if (params.Bool("enabled", enabled)) {
      if (enabled && settings.Proxy.Host.empty()) Refuse(msg::kProxyNoURL);
      settings.Proxy.Enabled = enabled;
    }
    return ProxyOptionsLine(settings);
  });
}

void TbrzCommandLog_WSClient::CommandWebSocket() {
  RunSettingsCommand([this](TbrzConnectionSettings& settings) {
    TParams params("websocket", Params(), {"headers", "compression", "protocol"});
    if (IbrzObjectJSON headers = params.Node("headers")) {
      if (headers->JSONType() != TbrzJSONtype::brzJSONObject) Refuse(msg::kWSHeadersNotObject);
      std::vector<std::pair<std::string, std::string>> lines;
      IbrzJSON document = headers->JSONObject();
      for (int i = 0; i < document->Count(); ++i) {
        IbrzObjectJSON item = document->Item(i);
        const std::string name = JSONUnescape(item->Name());
        if (!IsToken(name)) Refuse(FormatMsg(msg::kWSBadHeaderName, name.c_str()));
        if (ReservedHeader(name)) Refuse(FormatMsg(msg::kWSReservedHeader, name.c_str()));
        if (item->JSONType() != TbrzJSONtype::brzJSONString) Refuse(msg::kWSHeadersNotObject);
        std::string value = JSONUnescape(item->Value());
        for (unsigned char c : value) {
          if ((c < 0x20 && c != '\t') || c == 0x7F) Refuse(FormatMsg(msg::kWSBadHeaderValue, name.c_str()));
        }
        lines.emplace_back(name, Trim(value));
      }
      settings.Headers = std::move(lines);
    }
    std::string compression;
    if (params.String("compression", compression)) {
      if (compression != "permessage-deflate" && compression != "deflate-frame" && compression != "none")
        Refuse(FormatMsg(msg::kWSBadCompression, compression.c_str()));
      settings.Compression = compression;
    }
    std::string protocol;
    if (params.String("protocol", protocol)) {
      size_t start = 0;
      for (;;) {
        const size_t comma = protocol.find(',', start);
        if (!IsToken(protocol.substr(start, comma == std::string::npos ? std::string::npos : comma - start)))
          Refuse(FormatMsg(msg::kWSBadProtocol, protocol.c_str()));
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
      settings.Protocol = protocol;
    }
    return WebSocketOptionsLine(settings);
  });
}

void TbrzCommandLog_WSClient::HandleBeforeConnect(TbrzWSClient& Client) {
  TbrzConnectionSettings settings;
  {
    std::lock_guard<std::mutex> guard(FConnectionSettingsLock);
    if (!FConnectionSettings.Changed) return;
    settings = FConnectionSettings;
  }
  settings.ApplyTo(Client);
}

void TbrzCommandLog_WSClient::HandleTLSHandlerCreated(TbrzWSClient& Client) {
  // The client's own options: what this activation's handler was made from.
  if (!Client.TLSOptions().VerifyCertificate) ErrorWriteLine(msg::kTLSNotVerifiedWarning);
}

}  // namespace brz
