#pragma once
// TLS option groups of client and server sockets, and the TLS enumerations every layer above the
// transport uses. Plain value types: a copy is a deep copy, and Assign copies every field.

#include <cstdint>
#include <string>
#include <vector>

namespace brz {

// Requested protocol version; ordinals as listed.
enum class TwsTLSVersions : uint8_t { tlsUndefined, tls1_0, tls1_1, tls1_2, tls1_3 };

// TLS provider of a client connection.
enum class TwsTLSIOHandler : uint8_t { iohOpenSSL, iohSChannel };

// TLS library generation. The library is linked at build time; only the server start-up call
// (automatic ECDH curve selection) looks at this value.
enum class TwsOpenSSLAPI : uint8_t { oslAPI_1_0, oslAPI_1_1, oslAPI_3_0 };

// Where the TLS library would be loaded from. Kept for the option surface; the library is linked.
enum class TwsOpenSSLLibPath : uint8_t { oslpNone, oslpDefaultFolder, oslpCustomPath };

// How versioned shared-library links would be tried. Kept for the option surface.
enum class TwsOpenSSLSymLinks : uint8_t { oslsSymLinksDefault, oslsSymLinksLoadFirst, oslsSymLinksLoad, oslsSymLinksDontLoad };

// Credential format of the platform handler: the legacy one applies the legacy version table and the
// algorithm-name restriction; the newer one leaves both to the provider (TLS 1.2 up to 1.3), a
// Version of tls1_3 asking for TLS 1.3 only.
enum class TbrzSChannelCredentialFormat : uint8_t { scfLegacy, scfNewer };

// Certificate store of the platform handler: "MY", "Root", "Trust", "CA".
enum class TbrzSChannelCertStoreName : uint8_t { scsnMY, scsnRoot, scsnTrust, scsnCA };

// Location of the certificate store: the current user's or the machine's.
enum class TbrzSChannelCertStorePath : uint8_t { scspStoreCurrentUser, scspStoreLocalMachine };

// TLS settings shared by client and server.
struct TbrzSocketTLS_Options_Base {
  std::string CertFile;      // certificate (PEM) presented by this side
  std::string KeyFile;       // its private key (PEM)
  std::string Password;      // pass phrase of the key; handed to the library only, never logged
  std::string RootCertFile;  // trusted CA certificates used to verify the peer
  bool VerifyCertificate = false;
  int VerifyDepth = 0;  // passed to the library whenever >= 0
  TwsTLSVersions Version = TwsTLSVersions::tlsUndefined;
  void Assign(const TbrzSocketTLS_Options_Base& other) { *this = other; }
};
using TbrzTCPTLS_Options_Base = TbrzSocketTLS_Options_Base;

// Library loading settings.
struct TbrzSocketOpenSSL_Options {
  TwsOpenSSLAPI APIVersion = TwsOpenSSLAPI::oslAPI_1_0;
  std::string LibPathCustom;
  TwsOpenSSLLibPath LibPath = TwsOpenSSLLibPath::oslpNone;
  TwsOpenSSLSymLinks UnixSymLinks = TwsOpenSSLSymLinks::oslsSymLinksDefault;
  void Assign(const TbrzSocketOpenSSL_Options& other) { *this = other; }
};
using TbrzOpenSSLClient_Options = TbrzSocketOpenSSL_Options;
using TbrzTCPOpenSSL_Options = TbrzSocketOpenSSL_Options;

struct TbrzOpenSSLServer_Options : TbrzTCPOpenSSL_Options {
  std::string CipherList;  // empty: the library's default list
  bool ECDHE = false;      // preset "EECDH+AESGCM:EDH+AESGCM:AES256+EECDH:AES256+EDH" before CipherList
  void Assign(const TbrzOpenSSLServer_Options& other) { *this = other; }
};

// Settings of the platform handler, passed to it as they are.
struct TbrzSocketSChannel_Options {
  std::string CertHash;  // SHA-1 thumbprint, 40 hexadecimal digits, of a certificate in the store
  TbrzSChannelCertStoreName CertStoreName = TbrzSChannelCertStoreName::scsnMY;
  TbrzSChannelCertStorePath CertStorePath = TbrzSChannelCertStorePath::scspStoreCurrentUser;
  std::string CipherList;  // ':'-separated algorithm names (CALG_AES_256 ...); empty: no restriction
  TbrzSChannelCredentialFormat CredentialFormat = TbrzSChannelCredentialFormat::scfLegacy;
  void Assign(const TbrzSocketSChannel_Options& other) { *this = other; }
};
using TbrzSChannelClient_Options = TbrzSocketSChannel_Options;

// Client side.
struct TbrzSocketTLS_Options : TbrzSocketTLS_Options_Base {
  std::vector<std::string> ALPNProtocols;  // offered by the platform handler only
  std::string RootCertPath;  // directory of trusted CA certificates (hashed names), beside RootCertFile
  std::string ServerName;    // sent as server name and checked in the certificate; empty: the host
  std::string CipherList;    // the library's cipher names ("TLS_..." for TLS 1.3); empty: its default
  TwsTLSIOHandler IOHandler = TwsTLSIOHandler::iohOpenSSL;
  TbrzOpenSSLClient_Options OpenSSL_Options;
  TbrzSChannelClient_Options SChannel_Options;
  void Assign(const TbrzSocketTLS_Options& other) { *this = other; }
};
using TbrzTCPTLS_Options = TbrzSocketTLS_Options;
using TbrzWSTLS_Options = TbrzSocketTLS_Options;

struct TbrzSSL_Verify_Certificate_Options {
  bool FailIfNoCertificate = false;
  bool VerifyClientOnce = false;
  void Assign(const TbrzSSL_Verify_Certificate_Options& other) { *this = other; }
};

// Server side (the server's SSLOptions).
struct TbrzWSSSL_Options : TbrzTCPTLS_Options_Base {
  TbrzOpenSSLServer_Options OpenSSL_Options;
  int Port = 0;  // 0: every listening port speaks TLS; otherwise only this one
  TbrzSSL_Verify_Certificate_Options VerifyCertificate_Options;
  void Assign(const TbrzWSSSL_Options& other) { *this = other; }
};

}  // namespace brz
