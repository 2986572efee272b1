#include "transport/TLSHandlerFactory.h"

namespace brz {

std::unique_ptr<TbrzIdSSLIOHandlerSocketOpenSSL> CreateOpenSSLClientHandler(const TbrzSocketTLS_Options& options,
                                                                            const TbrzSSLVerifyPeerEvent& onVerifyPeer) {
  auto handler = std::make_unique<TbrzIdSSLIOHandlerSocketOpenSSL>();
  handler->SetPassThrough(false);
  handler->Versions = TLSClientVersionRange(options.Version);
  handler->RootCertFile = options.RootCertFile;
  handler->CertFile = options.CertFile;
  handler->KeyFile = options.KeyFile;
  handler->CipherList = options.CipherList;
  handler->VerifyPeer = options.VerifyCertificate;
  handler->VerifyDepth = options.VerifyCertificate && options.VerifyDepth >= 0 ? options.VerifyDepth : -1;
  handler->OnVerifyPeer = onVerifyPeer;
  std::string password = options.Password;
  handler->OnGetPassword = [password] { return password; };
  return handler;
}

std::unique_ptr<TbrzIdSSLIOHandlerSocketSChannel> CreateSChannelClientHandler(const TbrzSocketTLS_Options& options) {
  auto handler = std::make_unique<TbrzIdSSLIOHandlerSocketSChannel>();
  handler->TLSVersion = options.Version;
  handler->Certificate.VerifyCertificate = options.VerifyCertificate;
  handler->Certificate.CertHash = options.SChannel_Options.CertHash;
  handler->Certificate.CertStorePath = options.SChannel_Options.CertStorePath;
  handler->Certificate.CertStoreName = options.SChannel_Options.CertStoreName;
  handler->CipherList = options.SChannel_Options.CipherList;
  handler->ALPNProtocols = options.ALPNProtocols;
  handler->Certificate.CertFile = options.CertFile;
  handler->Certificate.CertFilePassword = options.Password;
  handler->CredentialFormat = options.SChannel_Options.CredentialFormat;
  handler->RootCertFile = options.RootCertFile;
  handler->RootCertPath = options.RootCertPath;
  handler->KeyFile = options.KeyFile;
  handler->LibraryCipherList = options.CipherList;
  if (!options.ServerName.empty()) {
    const bool ipv6 = options.ServerName.find(':') != std::string::npos;
    handler->URIToCheck = "tls://" + (ipv6 ? "[" + options.ServerName + "]" : options.ServerName);
  }
  return handler;
}

std::unique_ptr<TbrzIOHandler> CreateClientTLSHandler(const TbrzSocketTLS_Options& options,
                                                      const TbrzSSLVerifyPeerEvent& onVerifyPeer) {
  if (options.IOHandler == TwsTLSIOHandler::iohSChannel) return CreateSChannelClientHandler(options);
  return CreateOpenSSLClientHandler(options, onVerifyPeer);
}

std::unique_ptr<TbrzIdSSLIOHandlerServerOpenSSL> CreateServerTLSHandler(const TbrzWSSSL_Options& options,
                                                                        const TbrzSSLVerifyPeerEvent& onVerifyPeer) {
  auto handler = std::make_unique<TbrzIdSSLIOHandlerServerOpenSSL>();
  std::string password = options.Password;
  handler->OnGetPassword = [password] { return password; };
  handler->Versions = TLSServerVersionRange(options.Version);
  handler->ECDHE = options.OpenSSL_Options.ECDHE;
  handler->CipherList = options.OpenSSL_Options.CipherList;
  handler->VerifyPeer = options.VerifyCertificate;
  handler->FailIfNoPeerCertificate = options.VerifyCertificate && options.VerifyCertificate_Options.FailIfNoCertificate;
  handler->VerifyClientOnce = options.VerifyCertificate && options.VerifyCertificate_Options.VerifyClientOnce;
  handler->VerifyDepth = options.VerifyCertificate && options.VerifyDepth >= 0 ? options.VerifyDepth : -1;
  handler->OnVerifyPeer = onVerifyPeer;
  ApplyServerCertificateFiles(*handler, options);
  return handler;
}

void ApplyServerCertificateFiles(TbrzIdSSLIOHandlerServerOpenSSL& handler, const TbrzWSSSL_Options& options) {
  handler.CertFile = options.CertFile;
  handler.KeyFile = options.KeyFile;
  handler.RootCertFile = options.RootCertFile;
}

}  // namespace brz
