#pragma once
// The client's OpenSSL handler: TLS from the first byte after the TCP connect (and any proxy
// tunnel), with the record lock FCS of its base serialising the read thread and writers.
// Settings are read by Connect; change them only while no connect runs.

#include <string>

#include "transport/TbrzSSLIOHandlerBase.h"

namespace brz {

class TbrzIdSSLIOHandlerSocketOpenSSL : public TbrzSSLIOHandlerBase {
 public:
  // Opens the session on fd (plain in pass-through); verifies host when VerifyPeer is set and
  // sends it as server name when it is a name. Throws ETLSError with the library's text.
  void Connect(int fd, const std::string& host, int timeoutMs) override;

  TbrzSSLVersionRange Versions = TLSClientVersionRange(TwsTLSVersions::tlsUndefined);
  std::string RootCertFile;
  std::string CertFile;
  std::string KeyFile;
  std::string CipherList;  // empty: the library's default
  bool VerifyPeer = false;
  int VerifyDepth = -1;  // passed to the library when >= 0
  // Returns the pass phrase of KeyFile.
  TbrzSSLPasswordEvent OnGetPassword;

  // The context of the last Connect (for inspection); null before.
  SSL_CTX* Context() const { return FCtx.get(); }

 private:
  TbrzSSLCtxPtr FCtx;
};

// True when host is an IPv4 or IPv6 literal.
bool TLSIsIPAddress(const std::string& host);

}  // namespace brz
