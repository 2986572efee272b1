#pragma once
// Shared OpenSSL machinery of the TLS I/O handlers: one TLS session over a connected descriptor,
// driven through non-blocking socket calls, so the record lock FCS is held only while the library
// runs and never while a thread waits for the network (a blocked writer never stalls the reader).
// Thread-safety: Read (reading thread), Write (writers, serialised by their caller), Pending and
// Close (any thread) enter the session under FCS; readiness waits happen outside it.

#include <openssl/ssl.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/TbrzCriticalSection.h"
#include "transport/TbrzIOHandler.h"
#include "transport/TbrzSSLOptions.h"
#include "transport/TbrzSocketErrors.h"

namespace brz {

// A TLS failure of the OpenSSL handlers (context, certificates, handshake, records).
class ETLSError : public ESocketError {
 public:
  using ESocketError::ESocketError;
  std::string ClassName() const override { return "ETLSError"; }
};

struct TbrzSSLCtxDeleter {
  void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
using TbrzSSLCtxPtr = std::unique_ptr<SSL_CTX, TbrzSSLCtxDeleter>;

// Largest plaintext of one TLS record.
inline constexpr size_t kTLSMaxRecordPlaintext = 16384;
// Handshake time-out when the caller gives none, so a silent peer never hangs a connect.
inline constexpr int kTLSDefaultHandshakeTimeoutMs = 30000;

// Range of protocol versions as the library's constants (TLS1_VERSION ...); 0 leaves the
// library's own bound (its configuration) in place.
struct TbrzSSLVersionRange {
  int Min = 0;
  int Max = 0;
  bool operator==(const TbrzSSLVersionRange&) const = default;
};

// Version tables. OpenSSL client: tls1_0 / tls1_1 only that version, tls1_2 and tls1_3 TLS 1.2
// only, tlsUndefined TLS 1.0-1.2. Server: the same, but tlsUndefined is the library's flexible
// negotiation. Platform handler (legacy table): as the client (SSL 3.0 is not offered by the library).
TbrzSSLVersionRange TLSClientVersionRange(TwsTLSVersions version);
TbrzSSLVersionRange TLSServerVersionRange(TwsTLSVersions version);
TbrzSSLVersionRange TLSLegacyVersionRange(TwsTLSVersions version);

// Sets the range on a context; TLS 1.0 and 1.1 need security level 0 with OpenSSL 3, so the level
// is lowered exactly when the range allows one of them. False when the library refuses.
bool TLSApplyVersionRange(SSL_CTX* ctx, const TbrzSSLVersionRange& range);

// Takes the library's error queue as text (oldest first, "; "-separated); empty when it is empty.
std::string TLSErrorText();

// The cipher names of a context, ':'-separated, in preference order.
std::string TLSCipherListText(SSL_CTX* ctx);

// Certificate summary handed to the verify hooks.
struct TbrzSSLCertificate {
  std::string Subject;   // one-line distinguished name
  std::string Issuer;
  std::string SHA1Hash;  // thumbprint, 40 upper-case hexadecimal digits
};
TbrzSSLCertificate TLSDescribeCertificate(X509* certificate);

// Verify hook: the library's verdict arrives in result; the value the hook leaves there decides.
using TbrzSSLVerifyPeerEvent =
    std::function<void(const TbrzSSLCertificate& certificate, bool ok, int depth, int error, bool& result)>;
// Pass-phrase hook: returns the pass phrase of the private key being loaded.
using TbrzSSLPasswordEvent = std::function<std::string()>;

class TbrzSSLIOHandlerBase : public TbrzIOHandler {
 public:
  TbrzSSLIOHandlerBase();
  ~TbrzSSLIOHandlerBase() override;
  TbrzSSLIOHandlerBase(const TbrzSSLIOHandlerBase&) = delete;
  TbrzSSLIOHandlerBase& operator=(const TbrzSSLIOHandlerBase&) = delete;

  ssize_t Read(void* buffer, size_t size) override;
  void Write(const void* buffer, size_t size) override;
  // Sends a close notify (without waiting) and ends the session.
  void Close() override;
  bool Readable(int ms) override;
  size_t Pending() override;
  bool Opened() const override;

  // While on, Connect opens no session and bytes pass to the socket untouched.
  bool PassThrough() const { return FPassThrough.load(); }
  void SetPassThrough(bool value) { FPassThrough = value; }
  bool HasSession() const { return FHasSession.load(); }
  // Negotiated protocol (TLS1_2_VERSION ...), cipher and ALPN protocol; 0 / empty without a session.
  int ProtocolVersion();
  std::string CipherName();
  std::string ALPNSelected();
  // Bytes handed to / taken from the socket by the session, handshake included.
  uint64_t WireBytesSent() const { return FLink.Sent.load(); }
  uint64_t WireBytesReceived() const { return FLink.Received.load(); }

  int DefaultHandshakeTimeout = kTLSDefaultHandshakeTimeoutMs;
  // Consulted for every certificate of the peer's chain when verification is on.
  TbrzSSLVerifyPeerEvent OnVerifyPeer;

  // The socket end as the session's BIO sees it (shared with the BIO callbacks).
  struct TLink {
    int Fd = -1;
    bool Eof = false;    // recv returned 0
    int LastErrno = 0;   // last failing socket call
    bool LastErrnoSend = false;  // that call was a send
    std::atomic<uint64_t> Sent{0};
    std::atomic<uint64_t> Received{0};
  };

 protected:
  enum class THandshakeResult : uint8_t { hrDone, hrFailed, hrTimeout, hrClosed, hrSocketError, hrCertLookup };
  struct THandshakeOutcome {
    THandshakeResult Result = THandshakeResult::hrDone;
    std::string LibraryError;      // the library's error text (hrFailed)
    unsigned long ErrorCode = 0;   // the library's first error code (hrFailed)
    int SysErrno = 0;              // hrSocketError
    long VerifyResult = X509_V_OK; // the peer verification verdict at the end of the handshake
    uint64_t SentBeforeFailure = 0;
  };

  // Plain I/O before a session exists and in pass-through.
  void AttachPlain(int fd);
  // Creates the session over ctx on the attached descriptor (client or accept state). Throws ETLSError.
  SSL* StartSession(SSL_CTX* ctx, bool server);
  // The same, returning null (library error queue kept) instead of throwing.
  SSL* TryStartSession(SSL_CTX* ctx, bool server);
  // Ends the session (with or without close notify) and detaches the descriptor.
  void CloseHandler(bool notifyPeer);
  // Runs the handshake within timeoutMs (<= 0: DefaultHandshakeTimeout).
  THandshakeOutcome RunHandshake(int timeoutMs);
  // Frees the session; notifyPeer sends a close notify first (one attempt, never waits).
  void EndSession(bool notifyPeer);
  int Fd() const { return FFd.load(); }
  // The session; the caller holds FCS.
  SSL* CurrentSession() const { return FSSL; }
  // Text for a failed outcome: the library's text, the socket error, time-out or peer close.
  static std::string OutcomeText(const THandshakeOutcome& outcome);

  // Hooks of the record paths; the defaults throw ETLSError with the library's text.
  virtual ssize_t OnPeerClosed(bool closeNotify);
  virtual ssize_t OnReadFailure(const std::string& libraryError);
  [[noreturn]] virtual void OnWriteFailure(const std::string& libraryError);

  // Record lock: guards FSSL and every entry into the session.
  TbrzCriticalSection FCS;

 private:
  static int VerifyCallback(int ok, X509_STORE_CTX* store);
  friend void TLSInstallVerifyCallback(SSL_CTX* ctx, int mode);

  SSL* FSSL = nullptr;
  TLink FLink;
  TbrzIOHandlerSocket FPlain;
  std::atomic<int> FFd{-1};
  std::atomic<bool> FPassThrough{false};
  std::atomic<bool> FHasSession{false};
};

// Sets verify mode on ctx with the callback that routes each verdict through the handler's OnVerifyPeer.
void TLSInstallVerifyCallback(SSL_CTX* ctx, int mode);
// Loads trusted roots, the certificate chain and its private key (each when its name is set; a
// certificate without a key file takes the key from its own file). Throws ETLSError.
void TLSLoadFiles(SSL_CTX* ctx, const std::string& rootCertFile, const std::string& certFile,
                  const std::string& keyFile);
// A new context for method with the handlers' common settings (no renegotiation, an EOF without
// close notify counts as a close, partial writes). Throws ETLSError.
TbrzSSLCtxPtr TLSNewContext(const SSL_METHOD* method);
// Binds the pass-phrase callback of ctx to event (not owned; must outlive every key load on ctx).
void TLSInstallPasswordCallback(SSL_CTX* ctx, const TbrzSSLPasswordEvent* event);

}  // namespace brz
