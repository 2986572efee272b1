// The client component's TLS members: the handler made from TLSOptions (or supplied by the
// application), the verify hook, and the read-failure close of an OpenSSL session.
#include "websocket/TbrzWSClient.h"

#include "transport/TLSHandlerFactory.h"

namespace brz {

std::shared_ptr<TbrzIOHandler> TbrzWSClient::GetHandlerSSL() {
  std::shared_ptr<TbrzIOHandler> handler;
  if (OnSSLGetHandler) OnSSLGetHandler(this, handler);
  if (handler) return handler;
  // The handler lives in this component's socket client, so the hook never outlives the component.
  handler = CreateClientTLSHandler(
      FTLSOptions, [this](const TbrzSSLCertificate& certificate, bool ok, int depth, int error, bool& result) {
        if (OnSSLVerifyPeer) OnSSLVerifyPeer(this, certificate, ok, depth, error, result);
      });
  // Through a proxy the certificate is still checked against the host asked for, not the proxy.
  if (FProxy.Enabled && FTLSOptions.VerifyCertificate) {
    auto* platform = dynamic_cast<TbrzIdSSLIOHandlerSocketSChannel*>(handler.get());
    // A server name of the settings is already the name checked.
    if (platform && platform->URIToCheck.empty()) platform->URIToCheck = "http://" + Host();
  }
  if (OnSSLAfterCreateHandler) OnSSLAfterCreateHandler(this, handler);
  return handler;
}

std::shared_ptr<TbrzIOHandler> TbrzWSClient::CreateTLSHandler() { return GetHandlerSSL(); }

bool TbrzWSClient::TLSVersionIs13() const { return FTLSOptions.Version == TwsTLSVersions::tls1_3; }

void TbrzWSClient::CloseTLSAfterReadFailure() {
  if (!TLS()) return;
  auto client = SocketClient();
  if (!client) return;
  // The socket's own handler, not FTLSHandler: a new activation may be replacing that one.
  std::shared_ptr<TbrzIOHandler> handler = client->Socket()->IOHandler();
  auto* openssl = dynamic_cast<TbrzIdSSLIOHandlerSocketOpenSSL*>(handler.get());
  if (openssl && openssl->Opened()) openssl->Close();
}

}  // namespace brz
