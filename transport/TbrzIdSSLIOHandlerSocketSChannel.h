#pragma once
// The platform TLS handler. Linux has no operating-system TLS provider, so this handler keeps the
// platform handler's interface, version table (the legacy table), server-name verification,
// client-certificate rules and error texts, and runs on OpenSSL. Its certificate stores are
// directories of files (TLSCertStore.h). Provider statuses in error texts are the platform's
// published values, chosen from the library's failure (see TLSSChannelStatus*).
// Thread-safety: as its base; the last error text and statuses are process-wide (guarded), and
// concurrent session starts may overwrite each other's text, as on the platform.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/Exception.h"
#include "transport/TLSCertStore.h"
#include "transport/TbrzSSLIOHandlerBase.h"
#include "transport/TbrzSSLOptions.h"

namespace brz {

// A session that could not be established: "SChannel initialization error: " + the last error text.
class SChannelError : public Exception {
 public:
  explicit SChannelError(std::string message, uint32_t certStatus = 0)
      : Exception(std::move(message)), FCertStatus(certStatus) {}
  std::string ClassName() const override { return "SChannelError"; }
  // The last certificate-chain status.
  uint32_t CertStatus() const { return FCertStatus; }

 private:
  uint32_t FCertStatus;
};

// Provider statuses used in the error texts.
inline constexpr uint32_t kSecEUnsupportedFunction = 0x80090302;  // no common protocol version
inline constexpr uint32_t kSecEInternalError = 0x80090304;
inline constexpr uint32_t kSecEUnknownCredentials = 0x8009030D;   // certificate without private key
inline constexpr uint32_t kSecENoCredentials = 0x8009030E;        // the server sent no certificate
inline constexpr uint32_t kSecEIllegalMessage = 0x80090326;       // malformed message or fatal alert
inline constexpr uint32_t kSecEEncryptFailure = 0x80090329;
inline constexpr uint32_t kSecEAlgorithmMismatch = 0x80090331;    // no common cipher
inline constexpr uint32_t kCertEExpired = 0x800B0101;
inline constexpr uint32_t kCertEUntrustedRoot = 0x800B0109;
inline constexpr uint32_t kCertEChaining = 0x800B010A;
inline constexpr uint32_t kTrustEFail = 0x800B010B;
inline constexpr uint32_t kCertECNNoMatch = 0x800B010F;
inline constexpr uint32_t kCertEWrongUsage = 0x800B0110;
inline constexpr uint32_t kTrustECertSignature = 0x80096004;
inline constexpr uint32_t kCryptERevoked = 0x80092010;
// Length of a certificate hash in hexadecimal digits.
inline constexpr int kSChannelCertHashLength = 40;

// The provider status for a handshake failure (library error code) and for a verification verdict.
uint32_t TLSSChannelStatusFromLibrary(unsigned long errorCode);
uint32_t TLSSChannelStatusFromVerify(long verifyResult);
// A certificate-chain status in words a user understands ("certificate expired or not yet valid").
std::string TLSChainStatusReason(uint32_t status);
// The version range of the newer credential format: tls1_3 is TLS 1.3 only, anything else TLS 1.2
// up to the highest the library offers.
TbrzSSLVersionRange TLSNewerVersionRange(TwsTLSVersions version);

// Client-certificate and verification settings.
struct TbrzSChannelCertificate {
  std::string CertFilePassword;
  std::string CertHash;
  std::string CertFile;  // PKCS #12
  TbrzSChannelCertStoreName CertStoreName = TbrzSChannelCertStoreName::scsnMY;
  TbrzSChannelCertStorePath CertStorePath = TbrzSChannelCertStorePath::scspStoreCurrentUser;
  bool VerifyCertificate = false;
  void Assign(const TbrzSChannelCertificate& other) { *this = other; }
};

struct TbrzSChannelConnectionInfo {
  uint32_t CiperStrength = 0;
  std::string Cipher;
  uint32_t CipherId = 0;
  std::string Exchange;
  uint32_t ExchangeId = 0;
  uint32_t ExchangeStrength = 0;
  std::string Hash;
  uint32_t HashId = 0;
  uint32_t HashStrength = 0;
  TwsTLSVersions Protocol = TwsTLSVersions::tlsUndefined;
};

// The algorithm-name table: 50 names with their published identifiers, in the platform's order.
struct TbrzSChannelAlgorithm {
  const char* Name;
  uint32_t Id;
};
const std::vector<TbrzSChannelAlgorithm>& TLSSChannelAlgorithms();
// Exact, first match; 0 when not listed.
uint32_t TLSSChannelAlgorithmId(const std::string& name);
// First name with that identifier; empty when not listed.
std::string TLSSChannelAlgorithmName(uint32_t id);
// The library cipher string for a ':'-separated list of algorithm names; empty: no restriction.
std::string TLSSChannelCipherString(const std::string& cipherList);

// Process-wide state of the last session start.
std::string TLSSChannelLastError();
uint32_t TLSSChannelLastStatus();
uint32_t TLSSChannelLastChainStatus();

class TbrzIdSSLIOHandlerSocketSChannel : public TbrzSSLIOHandlerBase {
 public:
  TbrzIdSSLIOHandlerSocketSChannel();
  ~TbrzIdSSLIOHandlerSocketSChannel() override;

  // The TCP connection (and tunnel) stands on fd: start the session unless in pass-through.
  // Throws SChannelError.
  void Connect(int fd, const std::string& host, int timeoutMs) override;
  // Starts a session on the attached socket when not in pass-through. Throws SChannelError.
  void StartSSL();
  // Switching pass-through from on to off while a socket is attached starts a session.
  void SetPassThrough(bool value);
  // In pass-through the socket's state, otherwise whether a session exists.
  bool Connected() const;
  // Without a session or in pass-through the socket's readiness; with one, true when decrypted
  // bytes wait, else whether encrypted bytes arrive within ms.
  bool Readable(int ms) override;
  // Ends the session without a close notification.
  void Close() override;
  std::string GetALPNProtocol() { return ALPNSelected(); }
  std::optional<TbrzSChannelConnectionInfo> GetInfo();
  // A new handler with default settings.
  std::unique_ptr<TbrzIdSSLIOHandlerSocketSChannel> Clone() const;
  // Largest plaintext of one record; writes are split into records of at most this size.
  size_t MaxMessageSize() const { return kTLSMaxRecordPlaintext; }

  std::vector<std::string> ALPNProtocols;
  TbrzSChannelCertificate Certificate;
  std::string CipherList;
  TwsTLSVersions TLSVersion = TwsTLSVersions::tls1_0;
  // Raised before credentials are acquired and before a certificate is chosen automatically.
  std::function<void()> OnCredentials;
  // When set with a host, the certificate must match that host instead of the connected one.
  std::string URIToCheck;
  TbrzSChannelCredentialFormat CredentialFormat = TbrzSChannelCredentialFormat::scfLegacy;
  // Files read at every session start, so a bad one fails that start with a clear text. Trusted CAs
  // (a PEM file and a hashed directory; either replaces the platform's roots for verification), and
  // a PEM client certificate: with KeyFile set, Certificate.CertFile is a PEM chain and KeyFile its
  // PEM key, unlocked with Certificate.CertFilePassword.
  std::string RootCertFile;
  std::string RootCertPath;
  std::string KeyFile;
  // The library's cipher names, in both formats ("TLS_..." names select TLS 1.3 suites).
  std::string LibraryCipherList;

  // The target name of the last Connect.
  const std::string& TargetName() const { return FTargetName; }
  // The last error text and chain status of this handler's sessions.
  std::string LastError() const;
  uint32_t LastChainStatus() const;

 protected:
  ssize_t OnPeerClosed(bool closeNotify) override;
  ssize_t OnReadFailure(const std::string& libraryError) override;
  [[noreturn]] void OnWriteFailure(const std::string& libraryError) override;

 private:
  static int ClientCertCallback(SSL* ssl, X509** certificate, EVP_PKEY** key);
  bool SessionStart();
  // Loads the trusted CA files and the PEM client certificate into ctx; false with the error set.
  bool LoadFiles(SSL_CTX* ctx);
  bool ApplyLibraryCiphers(SSL_CTX* ctx);
  bool VerifyServer();
  std::optional<TLSStoreEntry> SelectByHash();
  std::optional<TLSStoreEntry> SelectAutomatically(SSL* ssl);
  void SetError(const std::string& text, uint32_t status = 0);
  void SetChainStatus(uint32_t status);

  TbrzSSLCtxPtr FCtx;
  std::string FHost;
  std::string FTargetName;
  int FTimeout = 0;
  mutable std::mutex FErrorLock;  // guards FError, FStatus and FChainStatus (reader and writers set them)
  std::string FError;
  uint32_t FStatus = 0;
  uint32_t FChainStatus = 0;
  std::optional<TbrzSChannelConnectionInfo> FInfo;
};

}  // namespace brz
