#include "transport/TbrzSSLIOHandlerBase.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>

#include "transport/TLSMessages.h"
#include "transport/TransportMessages.h"

namespace brz {

namespace {

using TLink = TbrzSSLIOHandlerBase::TLink;

// BIO over the descriptor: non-blocking recv and send (no SIGPIPE), whatever mode the descriptor has.
int LinkWrite(BIO* bio, const char* data, int size) {
  auto* link = static_cast<TLink*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  for (;;) {
    ssize_t n = ::send(link->Fd, data, static_cast<size_t>(size), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0) {
      link->Sent += static_cast<uint64_t>(n);
      return static_cast<int>(n);
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      BIO_set_retry_write(bio);
    } else {
      link->LastErrno = errno;
      link->LastErrnoSend = true;
    }
    return -1;
  }
}

int LinkRead(BIO* bio, char* data, int size) {
  auto* link = static_cast<TLink*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  for (;;) {
    ssize_t n = ::recv(link->Fd, data, static_cast<size_t>(size), MSG_DONTWAIT);
    if (n > 0) {
      link->Received += static_cast<uint64_t>(n);
      return static_cast<int>(n);
    }
    if (n == 0) {
      link->Eof = true;
      return 0;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      BIO_set_retry_read(bio);
    } else {
      link->LastErrno = errno;
      link->LastErrnoSend = false;
    }
    return -1;
  }
}

long LinkCtrl(BIO* /*bio*/, int cmd, long /*num*/, void* /*ptr*/) {
  // The library flushes after each flight; sends are unbuffered here.
  return cmd == BIO_CTRL_FLUSH ? 1 : 0;
}

int LinkCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

int LinkDestroy(BIO* /*bio*/) { return 1; }

BIO_METHOD* LinkMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "brz socket");
    BIO_meth_set_write(m, LinkWrite);
    BIO_meth_set_read(m, LinkRead);
    BIO_meth_set_ctrl(m, LinkCtrl);
    BIO_meth_set_create(m, LinkCreate);
    BIO_meth_set_destroy(m, LinkDestroy);
    return m;
  }();
  return method;
}

// Waits until fd is ready for events within ms (< 0: no limit). True when ready.
bool WaitReady(int fd, short events, int ms) {
  pollfd p{fd, events, 0};
  for (;;) {
    int rc = ::poll(&p, 1, ms);
    if (rc >= 0) return rc > 0;
    if (errno != EINTR) return false;
  }
}

// The descriptor's send time-out in ms (0: none).
int SendTimeoutMs(int fd) {
  timeval tv{};
  socklen_t len = sizeof tv;
  if (::getsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, &len) != 0) return 0;
  return static_cast<int>(tv.tv_sec * 1000 + tv.tv_usec / 1000);
}

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

TbrzSSLVersionRange TLSClientVersionRange(TwsTLSVersions version) {
  switch (version) {
    case TwsTLSVersions::tls1_0: return {TLS1_VERSION, TLS1_VERSION};
    case TwsTLSVersions::tls1_1: return {TLS1_1_VERSION, TLS1_1_VERSION};
    // This provider offers no TLS 1.3: tls1_3 is TLS 1.2.
    case TwsTLSVersions::tls1_2:
    case TwsTLSVersions::tls1_3: return {TLS1_2_VERSION, TLS1_2_VERSION};
    case TwsTLSVersions::tlsUndefined: break;
  }
  return {TLS1_VERSION, TLS1_2_VERSION};
}

TbrzSSLVersionRange TLSServerVersionRange(TwsTLSVersions version) {
  if (version == TwsTLSVersions::tlsUndefined) return {0, 0};
  return TLSClientVersionRange(version);
}

TbrzSSLVersionRange TLSLegacyVersionRange(TwsTLSVersions version) { return TLSClientVersionRange(version); }

bool TLSApplyVersionRange(SSL_CTX* ctx, const TbrzSSLVersionRange& range) {
  if (range.Min != 0 && SSL_CTX_set_min_proto_version(ctx, range.Min) != 1) return false;
  if (range.Max != 0 && SSL_CTX_set_max_proto_version(ctx, range.Max) != 1) return false;
  // OpenSSL 3 refuses TLS 1.0 and 1.1 above security level 0.
  if (range.Min != 0 && range.Min < TLS1_2_VERSION) SSL_CTX_set_security_level(ctx, 0);
  return true;
}

std::string TLSErrorText() {
  std::string text;
  char buffer[256];
  while (unsigned long code = ERR_get_error()) {
    ERR_error_string_n(code, buffer, sizeof buffer);
    if (!text.empty()) text += "; ";
    text += buffer;
  }
  return text;
}

std::string TLSCipherListText(SSL_CTX* ctx) {
  std::string text;
  STACK_OF(SSL_CIPHER)* ciphers = SSL_CTX_get_ciphers(ctx);
  for (int i = 0; ciphers && i < sk_SSL_CIPHER_num(ciphers); ++i) {
    if (!text.empty()) text += ':';
    text += SSL_CIPHER_get_name(sk_SSL_CIPHER_value(ciphers, i));
  }
  return text;
}

TbrzSSLCertificate TLSDescribeCertificate(X509* certificate) {
  TbrzSSLCertificate out;
  if (!certificate) return out;
  char name[512];
  X509_NAME_oneline(X509_get_subject_name(certificate), name, sizeof name);
  out.Subject = name;
  X509_NAME_oneline(X509_get_issuer_name(certificate), name, sizeof name);
  out.Issuer = name;
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (X509_digest(certificate, EVP_sha1(), md, &len) == 1) {
    static const char* kDigits = "0123456789ABCDEF";
    for (unsigned int i = 0; i < len; ++i) {
      out.SHA1Hash += kDigits[md[i] >> 4];
      out.SHA1Hash += kDigits[md[i] & 15];
    }
  }
  return out;
}

int TbrzSSLIOHandlerBase::VerifyCallback(int ok, X509_STORE_CTX* store) {
  auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  auto* self = ssl ? static_cast<TbrzSSLIOHandlerBase*>(SSL_get_app_data(ssl)) : nullptr;
  if (!self || !self->OnVerifyPeer) return ok;
  bool result = ok != 0;
  // The hook runs inside the library: an exception must not unwind through it, and counts as a refusal.
  try {
    self->OnVerifyPeer(TLSDescribeCertificate(X509_STORE_CTX_get_current_cert(store)), ok != 0,
                       X509_STORE_CTX_get_error_depth(store), X509_STORE_CTX_get_error(store), result);
  } catch (const std::exception&) {
    result = false;
  }
  return result ? 1 : 0;
}

void TLSInstallVerifyCallback(SSL_CTX* ctx, int mode) {
  SSL_CTX_set_verify(ctx, mode, mode == SSL_VERIFY_NONE ? nullptr : &TbrzSSLIOHandlerBase::VerifyCallback);
}

namespace {
int PasswordCallback(char* buffer, int size, int /*rwflag*/, void* userdata) {
  const auto* event = static_cast<const TbrzSSLPasswordEvent*>(userdata);
  if (!event || !*event || size <= 0) return 0;
  std::string password;
  // Runs inside the library; a failing hook gives no pass phrase and the key load fails.
  try {
    password = (*event)();
  } catch (const std::exception&) {
    return 0;
  }
  size_t n = password.size() < static_cast<size_t>(size) ? password.size() : static_cast<size_t>(size);
  std::memcpy(buffer, password.data(), n);
  return static_cast<int>(n);
}
}  // namespace

void TLSInstallPasswordCallback(SSL_CTX* ctx, const TbrzSSLPasswordEvent* event) {
  SSL_CTX_set_default_passwd_cb(ctx, PasswordCallback);
  SSL_CTX_set_default_passwd_cb_userdata(ctx, const_cast<TbrzSSLPasswordEvent*>(event));
}

void TLSLoadFiles(SSL_CTX* ctx, const std::string& rootCertFile, const std::string& certFile,
                  const std::string& keyFile) {
  ERR_clear_error();
  if (!rootCertFile.empty() && SSL_CTX_load_verify_locations(ctx, rootCertFile.c_str(), nullptr) != 1)
    throw ETLSError(FormatMsg(msg::kSSLRootCertFailed, TLSErrorText().c_str()));
  if (!certFile.empty() && SSL_CTX_use_certificate_chain_file(ctx, certFile.c_str()) != 1)
    throw ETLSError(FormatMsg(msg::kSSLCertFailed, TLSErrorText().c_str()));
  const std::string& key = keyFile.empty() ? certFile : keyFile;
  if (!key.empty()) {
    if (SSL_CTX_use_PrivateKey_file(ctx, key.c_str(), SSL_FILETYPE_PEM) != 1)
      throw ETLSError(FormatMsg(msg::kSSLKeyFailed, TLSErrorText().c_str()));
    if (!certFile.empty() && SSL_CTX_check_private_key(ctx) != 1)
      throw ETLSError(FormatMsg(msg::kSSLKeyMismatch, TLSErrorText().c_str()));
  }
}

TbrzSSLCtxPtr TLSNewContext(const SSL_METHOD* method) {
  ERR_clear_error();
  TbrzSSLCtxPtr ctx(SSL_CTX_new(method));
  if (!ctx) throw ETLSError(FormatMsg(msg::kSSLContextFailed, TLSErrorText().c_str()));
  SSL_CTX_set_options(ctx.get(), SSL_OP_NO_RENEGOTIATION | SSL_OP_IGNORE_UNEXPECTED_EOF);
  SSL_CTX_set_mode(ctx.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  return ctx;
}

TbrzSSLIOHandlerBase::TbrzSSLIOHandlerBase() = default;

TbrzSSLIOHandlerBase::~TbrzSSLIOHandlerBase() { EndSession(false); }

void TbrzSSLIOHandlerBase::AttachPlain(int fd) {
  FFd = fd;
  FPlain.Connect(fd, std::string(), 0);
}

SSL* TbrzSSLIOHandlerBase::StartSession(SSL_CTX* ctx, bool server) {
  SSL* ssl = TryStartSession(ctx, server);
  if (!ssl) throw ETLSError(FormatMsg(msg::kSSLSessionFailed, TLSErrorText().c_str()));
  return ssl;
}

SSL* TbrzSSLIOHandlerBase::TryStartSession(SSL_CTX* ctx, bool server) {
  TbrzLock lock(FCS);
  if (FSSL) {
    SSL_free(FSSL);
    FSSL = nullptr;
  }
  ERR_clear_error();
  SSL* ssl = SSL_new(ctx);
  BIO* bio = ssl ? BIO_new(LinkMethod()) : nullptr;
  if (!ssl || !bio) {
    if (ssl) SSL_free(ssl);
    return nullptr;
  }
  FLink.Fd = FFd.load();
  FLink.Eof = false;
  FLink.LastErrno = 0;
  FLink.LastErrnoSend = false;
  BIO_set_data(bio, &FLink);
  SSL_set_bio(ssl, bio, bio);
  SSL_set_app_data(ssl, this);
  if (server) {
    SSL_set_accept_state(ssl);
  } else {
    SSL_set_connect_state(ssl);
  }
  FSSL = ssl;
  FHasSession = true;
  return ssl;
}

TbrzSSLIOHandlerBase::THandshakeOutcome TbrzSSLIOHandlerBase::RunHandshake(int timeoutMs) {
  THandshakeOutcome out;
  int limit = timeoutMs > 0 ? timeoutMs : DefaultHandshakeTimeout;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit);
  for (;;) {
    int rc = 0;
    int error = SSL_ERROR_NONE;
    bool eof = false;
    int sysErrno = 0;
    {
      TbrzLock lock(FCS);
      if (!FSSL) {
        out.Result = THandshakeResult::hrFailed;
        out.LibraryError = msg::kSSLNoSession;
        return out;
      }
      ERR_clear_error();
      rc = SSL_do_handshake(FSSL);
      if (rc != 1) error = SSL_get_error(FSSL, rc);
      out.VerifyResult = SSL_get_verify_result(FSSL);
      if (rc != 1 && error == SSL_ERROR_SSL) {
        out.ErrorCode = ERR_peek_error();
        out.LibraryError = TLSErrorText();
      }
      eof = FLink.Eof;
      sysErrno = FLink.LastErrno;
    }
    if (rc == 1) return out;
    out.SentBeforeFailure = FLink.Sent.load();
    switch (error) {
      case SSL_ERROR_WANT_READ:
        if (eof) {
          out.Result = THandshakeResult::hrClosed;
          return out;
        }
        if (!WaitReady(FFd.load(), POLLIN, RemainingMs(deadline))) {
          out.Result = THandshakeResult::hrTimeout;
          return out;
        }
        break;
      case SSL_ERROR_WANT_WRITE:
        if (!WaitReady(FFd.load(), POLLOUT, RemainingMs(deadline))) {
          out.Result = THandshakeResult::hrTimeout;
          return out;
        }
        break;
      case SSL_ERROR_WANT_X509_LOOKUP:
        out.Result = THandshakeResult::hrCertLookup;
        return out;
      case SSL_ERROR_ZERO_RETURN:
        out.Result = THandshakeResult::hrClosed;
        return out;
      case SSL_ERROR_SYSCALL:
        if (eof || sysErrno == 0) {
          out.Result = THandshakeResult::hrClosed;
        } else {
          out.Result = THandshakeResult::hrSocketError;
          out.SysErrno = sysErrno;
        }
        return out;
      default:
        // An EOF the library reports as a protocol error is still the peer going away.
        if (eof && ERR_GET_REASON(out.ErrorCode) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
          out.Result = THandshakeResult::hrClosed;
        } else {
          out.Result = THandshakeResult::hrFailed;
          if (out.LibraryError.empty()) out.LibraryError = msg::kSSLUnknownError;
        }
        return out;
    }
  }
}

std::string TbrzSSLIOHandlerBase::OutcomeText(const THandshakeOutcome& outcome) {
  switch (outcome.Result) {
    case THandshakeResult::hrTimeout: return msg::kSSLHandshakeTimeout;
    case THandshakeResult::hrClosed: return msg::kSSLPeerClosed;
    case THandshakeResult::hrSocketError:
      return FormatMsg(msg::kSSLSocketError, outcome.SysErrno, std::strerror(outcome.SysErrno));
    default: break;
  }
  std::string text = outcome.LibraryError.empty() ? msg::kSSLUnknownError : outcome.LibraryError;
  if (outcome.VerifyResult != X509_V_OK) {
    text += "\n";
    text += FormatMsg(msg::kSSLVerifyFailed, X509_verify_cert_error_string(outcome.VerifyResult));
  }
  return text;
}

void TbrzSSLIOHandlerBase::EndSession(bool notifyPeer) {
  TbrzLock lock(FCS);
  if (FSSL) {
    if (notifyPeer) {
      ERR_clear_error();
      SSL_shutdown(FSSL);
    } else {
      SSL_set_quiet_shutdown(FSSL, 1);
    }
    ERR_clear_error();
    SSL_free(FSSL);
    FSSL = nullptr;
  }
  FHasSession = false;
}

void TbrzSSLIOHandlerBase::Close() { CloseHandler(true); }

void TbrzSSLIOHandlerBase::CloseHandler(bool notifyPeer) {
  EndSession(notifyPeer);
  FPlain.Close();
  FFd = -1;
}

bool TbrzSSLIOHandlerBase::Opened() const {
  if (FPassThrough.load()) return FPlain.Opened();
  return FHasSession.load();
}

size_t TbrzSSLIOHandlerBase::Pending() {
  if (!FHasSession.load()) return 0;
  TbrzLock lock(FCS);
  if (!FSSL) return 0;
  int n = SSL_pending(FSSL);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

bool TbrzSSLIOHandlerBase::Readable(int ms) {
  if (FPassThrough.load() || !FHasSession.load()) {
    // Library error checks are made only while a session exists.
    if (FPassThrough.load()) return FPlain.Readable(ms);
    return false;
  }
  if (Pending() > 0) return true;
  int fd = FFd.load();
  if (fd < 0) return false;
  return WaitReady(fd, POLLIN, ms < 0 ? -1 : ms);
}

ssize_t TbrzSSLIOHandlerBase::Read(void* buffer, size_t size) {
  if (FPassThrough.load()) return FPlain.Read(buffer, size);
  // No session: nothing to read, and the record lock is not touched.
  if (!FHasSession.load()) return -1;
  int want = size > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
  int rc = 0;
  int error = SSL_ERROR_NONE;
  std::string text;
  bool eof = false;
  int sysErrno = 0;
  {
    TbrzLock lock(FCS);
    if (!FSSL) return -1;
    ERR_clear_error();
    FLink.LastErrno = 0;
    rc = SSL_read(FSSL, buffer, want);
    if (rc > 0) return rc;
    error = SSL_get_error(FSSL, rc);
    if (error == SSL_ERROR_SSL) text = TLSErrorText();
    eof = FLink.Eof;
    sysErrno = FLink.LastErrno;
  }
  switch (error) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE: return -1;
    case SSL_ERROR_ZERO_RETURN: return OnPeerClosed(true);
    case SSL_ERROR_SYSCALL:
      if (eof || sysErrno == 0) return OnPeerClosed(false);
      throw SocketErrorFromErrno(sysErrno);
    default: return OnReadFailure(text.empty() ? msg::kSSLUnknownError : text);
  }
}

void TbrzSSLIOHandlerBase::Write(const void* buffer, size_t size) {
  if (FPassThrough.load()) {
    FPlain.Write(buffer, size);
    return;
  }
  const auto* p = static_cast<const uint8_t*>(buffer);
  int sendTimeout = -2;  // read from the socket on the first wait
  while (size > 0) {
    int chunk = static_cast<int>(size < kTLSMaxRecordPlaintext ? size : kTLSMaxRecordPlaintext);
    int rc = 0;
    int error = SSL_ERROR_NONE;
    std::string text;
    int sysErrno = 0;
    {
      TbrzLock lock(FCS);
      if (!FSSL) throw ESocketClosed(msg::kSocketClosed);
      ERR_clear_error();
      FLink.LastErrno = 0;
      rc = SSL_write(FSSL, p, chunk);
      if (rc <= 0) {
        error = SSL_get_error(FSSL, rc);
        if (error == SSL_ERROR_SSL) text = TLSErrorText();
        sysErrno = FLink.LastErrno;
      }
    }
    if (rc > 0) {
      p += rc;
      size -= static_cast<size_t>(rc);
      continue;
    }
    if (error == SSL_ERROR_WANT_WRITE) {
      if (sendTimeout == -2) sendTimeout = SendTimeoutMs(FFd.load());
      if (!WaitReady(FFd.load(), POLLOUT, sendTimeout > 0 ? sendTimeout : -1)) throw ETLSError(msg::kSSLWriteTimeout);
      continue;
    }
    if (error == SSL_ERROR_WANT_READ) {
      // The session needs the peer's bytes first (a key update); the reading thread or the next try gets them.
      WaitReady(FFd.load(), POLLIN, 10);
      continue;
    }
    if (error == SSL_ERROR_SYSCALL && sysErrno != 0) throw SocketErrorFromErrno(sysErrno);
    OnWriteFailure(text.empty() ? msg::kSSLUnknownError : text);
  }
}

ssize_t TbrzSSLIOHandlerBase::OnPeerClosed(bool /*closeNotify*/) { return 0; }

ssize_t TbrzSSLIOHandlerBase::OnReadFailure(const std::string& libraryError) {
  throw ETLSError(FormatMsg(msg::kSSLReadFailed, libraryError.c_str()));
}

void TbrzSSLIOHandlerBase::OnWriteFailure(const std::string& libraryError) {
  throw ETLSError(FormatMsg(msg::kSSLWriteFailed, libraryError.c_str()));
}

int TbrzSSLIOHandlerBase::ProtocolVersion() {
  TbrzLock lock(FCS);
  return FSSL ? SSL_version(FSSL) : 0;
}

std::string TbrzSSLIOHandlerBase::CipherName() {
  TbrzLock lock(FCS);
  if (!FSSL) return std::string();
  const char* name = SSL_get_cipher_name(FSSL);
  return name ? name : "";
}

std::string TbrzSSLIOHandlerBase::ALPNSelected() {
  TbrzLock lock(FCS);
  if (!FSSL) return std::string();
  const unsigned char* data = nullptr;
  unsigned int len = 0;
  SSL_get0_alpn_selected(FSSL, &data, &len);
  return data ? std::string(reinterpret_cast<const char*>(data), len) : std::string();
}

}  // namespace brz
