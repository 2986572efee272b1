#pragma once
// Proxy tunnels negotiated on the raw TCP stream before any TLS: HTTP CONNECT and SOCKS 4/4A/5.
// A proxy object holds its settings only; the byte exchange goes through a TbrzProxyLink that the
// socket adapter supplies, so the negotiation can be tested against any byte stream.

#include <memory>
#include <string>

#include "common/Bytes.h"
#include "transport/TbrzSocketOptions.h"
#include "transport/TbrzTransportTypes.h"

namespace brz {

// Blocking byte exchange with the proxy; every call is bounded by the negotiation time-out and
// throws EProxyError / ESocketError on failure.
class TbrzProxyLink {
 public:
  virtual ~TbrzProxyLink() = default;
  virtual void Send(const TBytes& bytes) = 0;
  // Exactly count bytes.
  virtual TBytes Receive(size_t count) = 0;
  // Closes the connection to the proxy and opens a new one (HTTP proxies that answered "close").
  virtual void Reconnect() = 0;
};

class TbrzProxy {
 public:
  explicit TbrzProxy(const TbrzSocketProxy_Options& options) : FOptions(options) {}
  virtual ~TbrzProxy() = default;
  const TbrzSocketProxy_Options& Options() const { return FOptions; }
  // Opens the tunnel to host:port over link.
  virtual void Negotiate(TbrzProxyLink& link, const std::string& host, int port) = 0;

 protected:
  TbrzSocketProxy_Options FOptions;
};

class TbrzProxyHTTPConnect : public TbrzProxy {
 public:
  using TbrzProxy::TbrzProxy;
  void Negotiate(TbrzProxyLink& link, const std::string& host, int port) override;
};

class TbrzProxySocks : public TbrzProxy {
 public:
  using TbrzProxy::TbrzProxy;
  void Negotiate(TbrzProxyLink& link, const std::string& host, int port) override;

 private:
  void Negotiate4(TbrzProxyLink& link, const std::string& host, int port, bool variantA);
  void Negotiate5(TbrzProxyLink& link, const std::string& host, int port);
};

// The tunnel for options.ProxyType.
std::unique_ptr<TbrzProxy> CreateProxy(const TbrzSocketProxy_Options& options);

// Standard Base64 of bytes (used for Basic credentials).
std::string Base64Encode(const std::string& bytes);

}  // namespace brz
