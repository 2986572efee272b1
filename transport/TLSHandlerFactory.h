#pragma once
// Builds configured TLS handlers from the option groups: the provider-specific steps of the
// components' GetHandlerSSL. The handlers copy every setting; the options may change afterwards.

#include <memory>

#include "transport/TbrzIdSSLIOHandlerServerOpenSSL.h"
#include "transport/TbrzIdSSLIOHandlerSocketOpenSSL.h"
#include "transport/TbrzIdSSLIOHandlerSocketSChannel.h"
#include "transport/TbrzSSLOptions.h"

namespace brz {

// Client: iohOpenSSL -> a TbrzIdSSLIOHandlerSocketOpenSSL (version table, roots, certificate, key,
// pass phrase = Password, verification with depth and onVerifyPeer); iohSChannel -> a
// TbrzIdSSLIOHandlerSocketSChannel (Version, VerifyCertificate, CertHash, CertStorePath,
// CertStoreName, SChannel_Options.CipherList and CredentialFormat, ALPNProtocols, CertFile with
// Password; KeyFile makes CertFile a PEM pair; RootCertFile, RootCertPath, CipherList, and
// ServerName as the name to check).
std::unique_ptr<TbrzIOHandler> CreateClientTLSHandler(const TbrzSocketTLS_Options& options,
                                                      const TbrzSSLVerifyPeerEvent& onVerifyPeer = {});
std::unique_ptr<TbrzIdSSLIOHandlerSocketOpenSSL> CreateOpenSSLClientHandler(const TbrzSocketTLS_Options& options,
                                                                            const TbrzSSLVerifyPeerEvent& onVerifyPeer = {});
std::unique_ptr<TbrzIdSSLIOHandlerSocketSChannel> CreateSChannelClientHandler(const TbrzSocketTLS_Options& options);

// Server: version table, ECDHE preset then CipherList, verification flags and depth, pass phrase
// = Password, and the certificate files (what server activation copies).
std::unique_ptr<TbrzIdSSLIOHandlerServerOpenSSL> CreateServerTLSHandler(const TbrzWSSSL_Options& options,
                                                                        const TbrzSSLVerifyPeerEvent& onVerifyPeer = {});
// Server activation: copies CertFile, KeyFile and RootCertFile into the handler (before Init).
void ApplyServerCertificateFiles(TbrzIdSSLIOHandlerServerOpenSSL& handler, const TbrzWSSSL_Options& options);

}  // namespace brz
