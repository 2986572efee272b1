#pragma once
// The listening server's OpenSSL handler: one context built from its settings, shared by a
// session per accepted socket. Accept performs the server side of the handshake on an accepted
// descriptor; MakeConnectionHandler gives a handler whose Connect does the same, for a socket
// adapter that opens its handler with Connect (TbrzSocket::Attach).
// Thread-safety: Init and the setters run before accepting; Accept may run on many threads.

#include <memory>
#include <mutex>
#include <string>

#include "transport/TbrzSSLIOHandlerBase.h"

namespace brz {

// One accepted TLS connection; keeps the server's context alive while it lives.
class TbrzSSLServerConnectionHandler : public TbrzSSLIOHandlerBase {
 public:
  explicit TbrzSSLServerConnectionHandler(SSL_CTX* ctx);
  ~TbrzSSLServerConnectionHandler() override;
  // Runs the server handshake on fd (host is unused). Throws ETLSError.
  void Connect(int fd, const std::string& host, int timeoutMs) override;

 private:
  SSL_CTX* FCtx;  // one reference of its own
};

class TbrzIdSSLIOHandlerServerOpenSSL {
 public:
  TbrzIdSSLIOHandlerServerOpenSSL() = default;
  TbrzIdSSLIOHandlerServerOpenSSL(const TbrzIdSSLIOHandlerServerOpenSSL&) = delete;
  TbrzIdSSLIOHandlerServerOpenSSL& operator=(const TbrzIdSSLIOHandlerServerOpenSSL&) = delete;

  TbrzSSLVersionRange Versions = TLSServerVersionRange(TwsTLSVersions::tlsUndefined);
  std::string CertFile;
  std::string KeyFile;
  std::string RootCertFile;  // trusted client CAs, also announced to clients as acceptable issuers
  bool ECDHE = false;        // preset msg::kSSLECDHECipherPreset before CipherList
  std::string CipherList;    // empty: the library's default
  bool VerifyPeer = false;
  bool FailIfNoPeerCertificate = false;
  bool VerifyClientOnce = false;
  int VerifyDepth = -1;  // passed to the library when >= 0
  int DefaultHandshakeTimeout = kTLSDefaultHandshakeTimeoutMs;
  TbrzSSLPasswordEvent OnGetPassword;
  // Copied into every accepted connection's handler.
  TbrzSSLVerifyPeerEvent OnVerifyPeer;

  // Builds the context from the settings on the first call; later calls keep it. Throws ETLSError.
  void Init();
  // Drops the context, so the next Init applies changed settings (live connections keep theirs).
  void Reset();
  // The context (Init first); null before.
  SSL_CTX* Context();
  // The start-up call after listening: with api oslAPI_1_0 and ECDHE, automatic curve selection.
  void StartUp(TwsOpenSSLAPI api);

  // Handshake on an accepted descriptor within timeoutMs (<= 0: DefaultHandshakeTimeout).
  // Throws ETLSError (the descriptor stays open: the caller closes it).
  std::unique_ptr<TbrzSSLServerConnectionHandler> Accept(int fd, int timeoutMs);
  // A handler whose Connect runs the handshake (Init first).
  std::shared_ptr<TbrzSSLServerConnectionHandler> MakeConnectionHandler();

 private:
  std::mutex FContextLock;  // guards FCtx
  TbrzSSLCtxPtr FCtx;
};

}  // namespace brz
