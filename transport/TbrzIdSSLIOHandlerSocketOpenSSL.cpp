#include "transport/TbrzIdSSLIOHandlerSocketOpenSSL.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>

#include "transport/TLSMessages.h"

namespace brz {

bool TLSIsIPAddress(const std::string& host) {
  unsigned char buffer[16];
  return inet_pton(AF_INET, host.c_str(), buffer) == 1 || inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

void TbrzIdSSLIOHandlerSocketOpenSSL::Connect(int fd, const std::string& host, int timeoutMs) {
  EndSession(false);
  AttachPlain(fd);
  if (PassThrough()) return;

  FCtx = TLSNewContext(TLS_client_method());
  SSL_CTX* ctx = FCtx.get();
  if (!TLSApplyVersionRange(ctx, Versions))
    throw ETLSError(FormatMsg(msg::kSSLVersionFailed, TLSErrorText().c_str()));
  if (!CipherList.empty() && SSL_CTX_set_cipher_list(ctx, CipherList.c_str()) != 1)
    throw ETLSError(FormatMsg(msg::kSSLCipherFailed, TLSErrorText().c_str()));
  TLSInstallPasswordCallback(ctx, &OnGetPassword);
  TLSLoadFiles(ctx, RootCertFile, CertFile, KeyFile);
  if (VerifyPeer) {
    TLSInstallVerifyCallback(ctx, SSL_VERIFY_PEER);
    if (VerifyDepth >= 0) SSL_CTX_set_verify_depth(ctx, VerifyDepth);
  } else {
    TLSInstallVerifyCallback(ctx, SSL_VERIFY_NONE);
  }

  SSL* ssl = StartSession(ctx, false);
  bool isIP = TLSIsIPAddress(host);
  if (!host.empty() && !isIP) SSL_set_tlsext_host_name(ssl, host.c_str());
  if (VerifyPeer && !host.empty()) {
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    if (isIP) {
      X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
    } else {
      X509_VERIFY_PARAM_set1_host(param, host.c_str(), 0);
    }
  }
  THandshakeOutcome outcome = RunHandshake(timeoutMs);
  if (outcome.Result != THandshakeResult::hrDone) {
    EndSession(false);
    if (!VerifyPeer) outcome.VerifyResult = X509_V_OK;
    throw ETLSError(FormatMsg(msg::kSSLConnectFailed, OutcomeText(outcome).c_str()));
  }
}

}  // namespace brz
