#include "transport/TbrzIdSSLIOHandlerServerOpenSSL.h"

#include <openssl/err.h>

#include "transport/TLSMessages.h"

namespace brz {

namespace {
// SSL_CTX_ctrl command for automatic elliptic-curve selection of ECDH (library generation 1.0).
constexpr int kSSLCtrlSetECDHAuto = 94;
}  // namespace

TbrzSSLServerConnectionHandler::TbrzSSLServerConnectionHandler(SSL_CTX* ctx) : FCtx(ctx) { SSL_CTX_up_ref(FCtx); }

TbrzSSLServerConnectionHandler::~TbrzSSLServerConnectionHandler() {
  EndSession(false);
  SSL_CTX_free(FCtx);
}

void TbrzSSLServerConnectionHandler::Connect(int fd, const std::string& /*host*/, int timeoutMs) {
  EndSession(false);
  AttachPlain(fd);
  if (PassThrough()) return;
  StartSession(FCtx, true);
  THandshakeOutcome outcome = RunHandshake(timeoutMs);
  if (outcome.Result != THandshakeResult::hrDone) {
    EndSession(false);
    if (SSL_CTX_get_verify_mode(FCtx) == SSL_VERIFY_NONE) outcome.VerifyResult = X509_V_OK;
    throw ETLSError(FormatMsg(msg::kSSLAcceptFailed, OutcomeText(outcome).c_str()));
  }
}

void TbrzIdSSLIOHandlerServerOpenSSL::Init() {
  std::lock_guard<std::mutex> guard(FContextLock);
  if (FCtx) return;
  TbrzSSLCtxPtr ctx = TLSNewContext(TLS_server_method());
  if (!TLSApplyVersionRange(ctx.get(), Versions))
    throw ETLSError(FormatMsg(msg::kSSLVersionFailed, TLSErrorText().c_str()));
  if (ECDHE && SSL_CTX_set_cipher_list(ctx.get(), msg::kSSLECDHECipherPreset) != 1)
    throw ETLSError(FormatMsg(msg::kSSLCipherFailed, TLSErrorText().c_str()));
  // CipherList overrides the preset in every case; an empty list means the library's default.
  if (!CipherList.empty() || ECDHE) {
    const char* list = CipherList.empty() ? OSSL_default_cipher_list() : CipherList.c_str();
    if (SSL_CTX_set_cipher_list(ctx.get(), list) != 1)
      throw ETLSError(FormatMsg(msg::kSSLCipherFailed, TLSErrorText().c_str()));
  }
  TLSInstallPasswordCallback(ctx.get(), &OnGetPassword);
  TLSLoadFiles(ctx.get(), RootCertFile, CertFile, KeyFile);
  if (!RootCertFile.empty()) {
    if (STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(RootCertFile.c_str())) {
      SSL_CTX_set_client_CA_list(ctx.get(), names);
    }
    ERR_clear_error();
  }
  if (VerifyPeer) {
    int mode = SSL_VERIFY_PEER;
    if (FailIfNoPeerCertificate) mode |= SSL_VERIFY_FAIL_IF_NO_PEER_CERT;
    if (VerifyClientOnce) mode |= SSL_VERIFY_CLIENT_ONCE;
    TLSInstallVerifyCallback(ctx.get(), mode);
    if (VerifyDepth >= 0) SSL_CTX_set_verify_depth(ctx.get(), VerifyDepth);
  } else {
    TLSInstallVerifyCallback(ctx.get(), SSL_VERIFY_NONE);
  }
  // Sessions resume by ticket only; no session-id context is needed for client verification.
  SSL_CTX_set_session_cache_mode(ctx.get(), SSL_SESS_CACHE_OFF);
  FCtx = std::move(ctx);
}

void TbrzIdSSLIOHandlerServerOpenSSL::Reset() {
  std::lock_guard<std::mutex> guard(FContextLock);
  FCtx.reset();
}

SSL_CTX* TbrzIdSSLIOHandlerServerOpenSSL::Context() {
  std::lock_guard<std::mutex> guard(FContextLock);
  return FCtx.get();
}

void TbrzIdSSLIOHandlerServerOpenSSL::StartUp(TwsOpenSSLAPI api) {
  if (api != TwsOpenSSLAPI::oslAPI_1_0 || !ECDHE) return;
  std::lock_guard<std::mutex> guard(FContextLock);
  // Later library generations select curves automatically and accept the call as a no-op.
  if (FCtx) SSL_CTX_ctrl(FCtx.get(), kSSLCtrlSetECDHAuto, 1, nullptr);
  ERR_clear_error();
}

std::shared_ptr<TbrzSSLServerConnectionHandler> TbrzIdSSLIOHandlerServerOpenSSL::MakeConnectionHandler() {
  Init();
  auto handler = std::make_shared<TbrzSSLServerConnectionHandler>(Context());
  handler->DefaultHandshakeTimeout = DefaultHandshakeTimeout;
  handler->OnVerifyPeer = OnVerifyPeer;
  return handler;
}

std::unique_ptr<TbrzSSLServerConnectionHandler> TbrzIdSSLIOHandlerServerOpenSSL::Accept(int fd, int timeoutMs) {
  Init();
  auto handler = std::make_unique<TbrzSSLServerConnectionHandler>(Context());
  handler->DefaultHandshakeTimeout = DefaultHandshakeTimeout;
  handler->OnVerifyPeer = OnVerifyPeer;
  handler->Connect(fd, std::string(), timeoutMs);
  return handler;
}

}  // namespace brz
