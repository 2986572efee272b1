#include "transport/TbrzIdSSLIOHandlerSocketSChannel.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>

#include "transport/TLSMessages.h"
#include "transport/TbrzIdSSLIOHandlerSocketOpenSSL.h"

namespace brz {

namespace {

struct TLastState {
  std::mutex Lock;  // guards every member
  std::string Error;
  uint32_t Status = 0;
  uint32_t ChainStatus = 0;
};

TLastState& LastState() {
  static TLastState state;
  return state;
}

std::string Hex8(uint32_t value) { return FormatMsg("%08X", value); }

// The host part of a URI ("wss://host:443/path" -> "host"); empty when it has none.
std::string UriHost(const std::string& uri) {
  size_t start = uri.find("://");
  if (start == std::string::npos) return std::string();
  start += 3;
  size_t at = uri.find('@', start);
  size_t slash = uri.find_first_of("/?#", start);
  if (at != std::string::npos && (slash == std::string::npos || at < slash)) start = at + 1;
  if (start < uri.size() && uri[start] == '[') {
    size_t close = uri.find(']', start);
    return close == std::string::npos ? std::string() : uri.substr(start + 1, close - start - 1);
  }
  size_t end = uri.find_first_of(":/?#", start);
  return uri.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

bool HexToBytes(const std::string& hex, std::vector<uint8_t>& out) {
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  out.clear();
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    int hi = digit(hex[i]);
    int lo = digit(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  return hex.size() % 2 == 0;
}

// Category of an algorithm for the cipher restriction, and its library alias.
enum class TAlgKind : uint8_t { akNone, akCipher, akHash, akExchange, akSignature };
struct TAlgAlias {
  uint32_t Id;
  TAlgKind Kind;
  const char* Alias;
};
constexpr TAlgAlias kAliases[] = {
    {0x6603, TAlgKind::akCipher, "3DES"},    {0x6611, TAlgKind::akCipher, "AES"},
    {0x660e, TAlgKind::akCipher, "AES128"},  {0x6610, TAlgKind::akCipher, "AES256"},
    {0x6601, TAlgKind::akCipher, "DES"},     {0x6801, TAlgKind::akCipher, "RC4"},
    {0x6602, TAlgKind::akCipher, "RC2"},     {0x8004, TAlgKind::akHash, "SHA1"},
    {0x800c, TAlgKind::akHash, "SHA256"},    {0x800d, TAlgKind::akHash, "SHA384"},
    {0x8003, TAlgKind::akHash, "MD5"},       {0xa400, TAlgKind::akExchange, "kRSA"},
    {0xaa02, TAlgKind::akExchange, "kDHE"},  {0xae06, TAlgKind::akExchange, "kECDHE"},
    {0xaa05, TAlgKind::akExchange, "kECDHE"}, {0x2203, TAlgKind::akSignature, "aECDSA"},
    {0x2400, TAlgKind::akSignature, "aRSA"}, {0x2200, TAlgKind::akSignature, "aDSS"},
};

uint32_t CipherIdFromNid(int nid) {
  switch (nid) {
    case NID_aes_128_gcm:
    case NID_aes_128_cbc:
    case NID_aes_128_ccm: return 0x660e;
    case NID_aes_256_gcm:
    case NID_aes_256_cbc:
    case NID_aes_256_ccm: return 0x6610;
    case NID_des_ede3_cbc: return 0x6603;
    case NID_rc4: return 0x6801;
    case NID_des_cbc: return 0x6601;
    default: return 0;
  }
}

uint32_t HashIdFromNid(int nid) {
  switch (nid) {
    case NID_sha1: return 0x8004;
    case NID_sha256: return 0x800c;
    case NID_sha384: return 0x800d;
    case NID_sha512: return 0x800e;
    case NID_md5: return 0x8003;
    default: return 0;
  }
}

uint32_t ExchangeIdFromNid(int nid) {
  switch (nid) {
    case NID_kx_ecdhe: return 0xae06;
    case NID_kx_dhe: return 0xaa02;
    case NID_kx_rsa: return 0xa400;
    default: return 0;
  }
}

// Why path cannot be read as a file: empty when it can.
std::string FileProblem(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
  if (::access(path.c_str(), R_OK) != 0) return std::strerror(errno);
  return std::string();
}

std::string DirectoryProblem(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
  if (!S_ISDIR(st.st_mode)) return msg::kSChNotADirectory;
  if (::access(path.c_str(), R_OK | X_OK) != 0) return std::strerror(errno);
  return std::string();
}

// An encrypted PEM key says so in its armour ("ENCRYPTED PRIVATE KEY" or "Proc-Type: 4,ENCRYPTED").
bool PEMKeyEncrypted(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return text.find("ENCRYPTED") != std::string::npos;
}

struct TPKeyDeleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};

}  // namespace

TbrzSSLVersionRange TLSNewerVersionRange(TwsTLSVersions version) {
  if (version == TwsTLSVersions::tls1_3) return {TLS1_3_VERSION, TLS1_3_VERSION};
  return {TLS1_2_VERSION, 0};
}

std::string TLSChainStatusReason(uint32_t status) {
  switch (status) {
    case kCertEUntrustedRoot: return msg::kSChReasonUntrusted;
    case kCertEExpired: return msg::kSChReasonExpired;
    case kCertECNNoMatch: return msg::kSChReasonNameMismatch;
    case kCryptERevoked: return msg::kSChReasonRevoked;
    case kCertEWrongUsage: return msg::kSChReasonWrongUsage;
    case kTrustECertSignature: return msg::kSChReasonSignature;
    case kCertEChaining: return msg::kSChReasonChaining;
    case kSecENoCredentials: return msg::kSChReasonNoCertificate;
    default: return msg::kSChReasonOther;
  }
}

uint32_t TLSSChannelStatusFromLibrary(unsigned long errorCode) {
  if (errorCode == 0 || ERR_GET_LIB(errorCode) != ERR_LIB_SSL) return kSecEInternalError;
  switch (ERR_GET_REASON(errorCode)) {
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
    case SSL_R_NO_PROTOCOLS_AVAILABLE:
    case SSL_R_WRONG_SSL_VERSION:
    case SSL_R_VERSION_TOO_LOW:
    case SSL_R_VERSION_TOO_HIGH: return kSecEUnsupportedFunction;
    case SSL_R_NO_SHARED_CIPHER:
    case SSL_R_NO_CIPHERS_AVAILABLE:
    case SSL_R_NO_CIPHER_MATCH: return kSecEAlgorithmMismatch;
    default: return kSecEIllegalMessage;
  }
}

uint32_t TLSSChannelStatusFromVerify(long verifyResult) {
  switch (verifyResult) {
    case X509_V_OK: return 0;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED: return kCertEUntrustedRoot;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH: return kCertECNNoMatch;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID: return kCertEExpired;
    case X509_V_ERR_CERT_REVOKED: return kCryptERevoked;
    case X509_V_ERR_INVALID_PURPOSE: return kCertEWrongUsage;
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE: return kTrustECertSignature;
    case X509_V_ERR_CERT_CHAIN_TOO_LONG:
    case X509_V_ERR_INVALID_CA:
    case X509_V_ERR_PATH_LENGTH_EXCEEDED: return kCertEChaining;
    default: return kTrustEFail;
  }
}

const std::vector<TbrzSChannelAlgorithm>& TLSSChannelAlgorithms() {
  static const std::vector<TbrzSChannelAlgorithm> table = {
      {"CALG_3DES", 0x6603}, {"CALG_3DES_112", 0x6609}, {"CALG_AES", 0x6611}, {"CALG_AES_128", 0x660e},
      {"CALG_AES_192", 0x660f}, {"CALG_AES_256", 0x6610}, {"CALG_AGREEDKEY_ANY", 0xaa03},
      {"CALG_CYLINK_MEK", 0x660c}, {"CALG_DES", 0x6601}, {"CALG_DESX", 0x6604}, {"CALG_DH_EPHEM", 0xaa02},
      {"CALG_DH_SF", 0xaa01}, {"CALG_DSS_SIGN", 0x2200}, {"CALG_ECDH", 0xaa05}, {"CALG_ECDH_EPHEM", 0xae06},
      {"CALG_ECDSA", 0x2203}, {"CALG_ECMQV", 0xa001}, {"CALG_HASH_REPLACE_OWF", 0x800b},
      {"CALG_HUGHES_MD5", 0xa003}, {"CALG_HMAC", 0x8009}, {"CALG_KEA_KEYX", 0xaa04}, {"CALG_MAC", 0x8005},
      {"CALG_MD2", 0x8001}, {"CALG_MD4", 0x8002}, {"CALG_MD5", 0x8003}, {"CALG_NO_SIGN", 0x2000},
      {"CALG_OID_INFO_CNG_ONLY", 0xffffffff}, {"CALG_OID_INFO_PARAMETERS", 0xfffffffe},
      {"CALG_PCT1_MASTER", 0x4c04}, {"CALG_RC2", 0x6602}, {"CALG_RC4", 0x6801}, {"CALG_RC5", 0x660d},
      {"CALG_RSA_KEYX", 0xa400}, {"CALG_RSA_SIGN", 0x2400}, {"CALG_SCHANNEL_ENC_KEY", 0x4c07},
      {"CALG_SCHANNEL_MAC_KEY", 0x4c03}, {"CALG_SCHANNEL_MASTER_HASH", 0x4c02}, {"CALG_SEAL", 0x6802},
      {"CALG_SHA", 0x8004}, {"CALG_SHA1", 0x8004}, {"CALG_SHA_256", 0x800c}, {"CALG_SHA_384", 0x800d},
      {"CALG_SHA_512", 0x800e}, {"CALG_SKIPJACK", 0x660a}, {"CALG_SSL2_MASTER", 0x4c05},
      {"CALG_SSL3_MASTER", 0x4c01}, {"CALG_SSL3_SHAMD5", 0x8008}, {"CALG_TEK", 0x660b},
      {"CALG_TLS1_MASTER", 0x4c06}, {"CALG_TLS1PRF", 0x800a},
  };
  return table;
}

uint32_t TLSSChannelAlgorithmId(const std::string& name) {
  for (const auto& a : TLSSChannelAlgorithms()) {
    if (name == a.Name) return a.Id;
  }
  return 0;
}

std::string TLSSChannelAlgorithmName(uint32_t id) {
  for (const auto& a : TLSSChannelAlgorithms()) {
    if (a.Id == id) return a.Name;
  }
  return std::string();
}

std::string TLSSChannelCipherString(const std::string& cipherList) {
  // Within a category the found algorithms are alternatives; categories restrict each other.
  std::vector<std::vector<std::string>> kinds(5);
  size_t start = 0;
  while (start <= cipherList.size()) {
    size_t end = cipherList.find(':', start);
    std::string name = cipherList.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (uint32_t id = TLSSChannelAlgorithmId(name)) {
      for (const auto& alias : kAliases) {
        if (alias.Id == id) kinds[static_cast<size_t>(alias.Kind)].push_back(alias.Alias);
      }
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  std::vector<std::string> combos{std::string()};
  for (const auto& kind : kinds) {
    if (kind.empty()) continue;
    std::vector<std::string> next;
    for (const auto& prefix : combos) {
      for (const auto& alias : kind) next.push_back(prefix.empty() ? alias : prefix + "+" + alias);
    }
    combos.swap(next);
  }
  std::string out;
  for (const auto& c : combos) {
    if (c.empty()) continue;
    if (!out.empty()) out += ':';
    out += c;
  }
  return out;
}

std::string TLSSChannelLastError() {
  std::lock_guard<std::mutex> guard(LastState().Lock);
  return LastState().Error;
}

uint32_t TLSSChannelLastStatus() {
  std::lock_guard<std::mutex> guard(LastState().Lock);
  return LastState().Status;
}

uint32_t TLSSChannelLastChainStatus() {
  std::lock_guard<std::mutex> guard(LastState().Lock);
  return LastState().ChainStatus;
}

TbrzIdSSLIOHandlerSocketSChannel::TbrzIdSSLIOHandlerSocketSChannel() = default;

TbrzIdSSLIOHandlerSocketSChannel::~TbrzIdSSLIOHandlerSocketSChannel() { EndSession(false); }

void TbrzIdSSLIOHandlerSocketSChannel::SetError(const std::string& text, uint32_t status) {
  uint32_t chain = 0;
  {
    std::lock_guard<std::mutex> guard(FErrorLock);
    FError = text;
    FStatus = status;
    chain = FChainStatus;
  }
  std::lock_guard<std::mutex> guard(LastState().Lock);
  LastState().Error = text;
  LastState().Status = status;
  LastState().ChainStatus = chain;
}

void TbrzIdSSLIOHandlerSocketSChannel::SetChainStatus(uint32_t status) {
  std::lock_guard<std::mutex> guard(FErrorLock);
  FChainStatus = status;
}

std::string TbrzIdSSLIOHandlerSocketSChannel::LastError() const {
  std::lock_guard<std::mutex> guard(FErrorLock);
  return FError;
}

uint32_t TbrzIdSSLIOHandlerSocketSChannel::LastChainStatus() const {
  std::lock_guard<std::mutex> guard(FErrorLock);
  return FChainStatus;
}

void TbrzIdSSLIOHandlerSocketSChannel::Connect(int fd, const std::string& host, int timeoutMs) {
  EndSession(false);
  AttachPlain(fd);
  FHost = host;
  FTimeout = timeoutMs;
  StartSSL();
}

void TbrzIdSSLIOHandlerSocketSChannel::StartSSL() {
  if (PassThrough()) return;
  if (!SessionStart()) throw SChannelError(std::string(msg::kSChannelInitError) + LastError(), LastChainStatus());
}

void TbrzIdSSLIOHandlerSocketSChannel::SetPassThrough(bool value) {
  bool was = PassThrough();
  TbrzSSLIOHandlerBase::SetPassThrough(value);
  if (was && !value && Fd() >= 0) StartSSL();
}

bool TbrzIdSSLIOHandlerSocketSChannel::Connected() const {
  if (PassThrough()) return Fd() >= 0;
  return HasSession();
}

bool TbrzIdSSLIOHandlerSocketSChannel::Readable(int ms) {
  if (PassThrough() || !HasSession()) {
    int fd = Fd();
    if (fd < 0) return false;
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms < 0 ? -1 : ms) > 0;
  }
  return TbrzSSLIOHandlerBase::Readable(ms);
}

void TbrzIdSSLIOHandlerSocketSChannel::Close() {
  CloseHandler(false);
  FInfo.reset();
}

std::unique_ptr<TbrzIdSSLIOHandlerSocketSChannel> TbrzIdSSLIOHandlerSocketSChannel::Clone() const {
  return std::make_unique<TbrzIdSSLIOHandlerSocketSChannel>();
}

bool TbrzIdSSLIOHandlerSocketSChannel::SessionStart() {
  {
    std::lock_guard<std::mutex> guard(FErrorLock);
    FChainStatus = 0;
  }
  FInfo.reset();
  SetError(std::string());
  if (OnCredentials) OnCredentials();

  // Credentials: the context with the legacy version table, the cipher restriction and the roots.
  ERR_clear_error();
  FCtx.reset(SSL_CTX_new(TLS_client_method()));
  if (!FCtx) {
    SetError(msg::kSChAcquireCredentials + Hex8(kSecEInternalError), kSecEInternalError);
    return false;
  }
  SSL_CTX* ctx = FCtx.get();
  SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION | SSL_OP_IGNORE_UNEXPECTED_EOF);
  SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  const bool legacy = CredentialFormat == TbrzSChannelCredentialFormat::scfLegacy;
  std::string ciphers = legacy ? TLSSChannelCipherString(CipherList) : std::string();
  if (!TLSApplyVersionRange(ctx, legacy ? TLSLegacyVersionRange(TLSVersion) : TLSNewerVersionRange(TLSVersion)) ||
      (!ciphers.empty() && SSL_CTX_set_cipher_list(ctx, ciphers.c_str()) != 1)) {
    ERR_clear_error();
    SetError(msg::kSChAcquireCredentials + Hex8(kSecEAlgorithmMismatch), kSecEAlgorithmMismatch);
    return false;
  }
  if (!ApplyLibraryCiphers(ctx) || !LoadFiles(ctx)) return false;
  // Server validation is manual (after the handshake), as the platform's flags ask.
  SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
  // CAs named by the settings (loaded by LoadFiles) are the only ones trusted; else the platform's roots.
  const bool ownRoots = !RootCertFile.empty() || !RootCertPath.empty();
  if (Certificate.VerifyCertificate && !ownRoots) {
    SSL_CTX_set_default_verify_paths(ctx);
    for (const auto& file : TLSTrustedCAFiles()) SSL_CTX_load_verify_locations(ctx, file.c_str(), nullptr);
    if (auto roots = TLSOpenStore(TLSCertStoreDir(TbrzSChannelCertStorePath::scspStoreCurrentUser,
                                                  TbrzSChannelCertStoreName::scsnRoot))) {
      for (auto& entry : *roots) X509_STORE_add_cert(SSL_CTX_get_cert_store(ctx), entry.Certificate.get());
    }
    ERR_clear_error();
  }
  SSL_CTX_set_client_cert_cb(ctx, &TbrzIdSSLIOHandlerSocketSChannel::ClientCertCallback);

  // Target name: the host of URIToCheck, else the connected host.
  std::string checked = URIToCheck.empty() ? std::string() : UriHost(URIToCheck);
  FTargetName = checked.empty() ? FHost : checked;

  SSL* ssl = TryStartSession(ctx, false);
  if (!ssl) {
    ERR_clear_error();
    SetError(msg::kSChFirstInitialize + Hex8(kSecEInternalError), kSecEInternalError);
    return false;
  }
  if (!FTargetName.empty() && !TLSIsIPAddress(FTargetName)) SSL_set_tlsext_host_name(ssl, FTargetName.c_str());
  if (Certificate.VerifyCertificate && !FTargetName.empty()) {
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    if (TLSIsIPAddress(FTargetName)) {
      X509_VERIFY_PARAM_set1_ip_asc(param, FTargetName.c_str());
    } else {
      X509_VERIFY_PARAM_set1_host(param, FTargetName.c_str(), 0);
    }
  }
  // ALPN offer: each non-empty protocol (at most 255 bytes) as length byte and bytes.
  std::vector<unsigned char> alpn;
  for (const auto& protocol : ALPNProtocols) {
    if (protocol.empty() || protocol.size() > 255) continue;
    alpn.push_back(static_cast<unsigned char>(protocol.size()));
    alpn.insert(alpn.end(), protocol.begin(), protocol.end());
  }
  if (!alpn.empty()) SSL_set_alpn_protos(ssl, alpn.data(), static_cast<unsigned int>(alpn.size()));

  THandshakeOutcome outcome = RunHandshake(FTimeout);
  bool ok = true;
  switch (outcome.Result) {
    case THandshakeResult::hrDone: break;
    case THandshakeResult::hrCertLookup: ok = false; break;  // the certificate selection set the text
    case THandshakeResult::hrTimeout:
      SetError(msg::kSChRecvReturns + Hex8(ETIMEDOUT), ETIMEDOUT);
      ok = false;
      break;
    case THandshakeResult::hrClosed:
      SetError(msg::kSChRecvReturns + Hex8(0));
      ok = false;
      break;
    case THandshakeResult::hrSocketError:
      if (WireBytesSent() == 0 || outcome.SysErrno == EPIPE) {
        SetError(msg::kSChSendReturns + std::to_string(outcome.SysErrno), static_cast<uint32_t>(outcome.SysErrno));
      } else {
        SetError(msg::kSChRecvReturns + Hex8(static_cast<uint32_t>(outcome.SysErrno)),
                 static_cast<uint32_t>(outcome.SysErrno));
      }
      ok = false;
      break;
    case THandshakeResult::hrFailed: {
      uint32_t status = TLSSChannelStatusFromLibrary(outcome.ErrorCode);
      SetError((outcome.SentBeforeFailure == 0 ? msg::kSChFirstInitialize : msg::kSChInitialize) + Hex8(status),
               status);
      ok = false;
      break;
    }
  }
  if (ok && Certificate.VerifyCertificate) ok = VerifyServer();
  if (!ok) {
    EndSession(false);
    return false;
  }
  return true;
}

bool TbrzIdSSLIOHandlerSocketSChannel::ApplyLibraryCiphers(SSL_CTX* ctx) {
  if (LibraryCipherList.empty()) return true;
  std::string classic;
  std::string suites;
  size_t start = 0;
  while (start <= LibraryCipherList.size()) {
    size_t end = LibraryCipherList.find(':', start);
    std::string name = LibraryCipherList.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!name.empty()) {
      std::string& list = name.rfind("TLS_", 0) == 0 ? suites : classic;
      if (!list.empty()) list += ':';
      list += name;
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  // Each part restricts its own protocol generation; the other keeps the library's default.
  ERR_clear_error();
  bool ok = classic.empty() || SSL_CTX_set_cipher_list(ctx, classic.c_str()) == 1;
  ok = ok && (suites.empty() || SSL_CTX_set_ciphersuites(ctx, suites.c_str()) == 1);
  ERR_clear_error();
  if (ok) return true;
  SetError(FormatMsg(msg::kSChNoCipher, LibraryCipherList.c_str()), kSecEAlgorithmMismatch);
  return false;
}

bool TbrzIdSSLIOHandlerSocketSChannel::LoadFiles(SSL_CTX* ctx) {
  ERR_clear_error();
  if (!RootCertFile.empty()) {
    std::string problem = FileProblem(RootCertFile);
    if (problem.empty() && SSL_CTX_load_verify_locations(ctx, RootCertFile.c_str(), nullptr) != 1)
      problem = msg::kSChNoCertificateInFile;
    if (!problem.empty()) {
      ERR_clear_error();
      SetError(FormatMsg(msg::kSChCAFileFailed, RootCertFile.c_str(), problem.c_str()), kSecEInternalError);
      return false;
    }
  }
  if (!RootCertPath.empty()) {
    std::string problem = DirectoryProblem(RootCertPath);
    if (problem.empty() && SSL_CTX_load_verify_locations(ctx, nullptr, RootCertPath.c_str()) != 1)
      problem = TLSErrorText();
    if (!problem.empty()) {
      ERR_clear_error();
      SetError(FormatMsg(msg::kSChCAPathFailed, RootCertPath.c_str(), problem.c_str()), kSecEInternalError);
      return false;
    }
  }
  if (KeyFile.empty() || Certificate.CertFile.empty()) return true;
  const std::string& certFile = Certificate.CertFile;
  std::string problem = FileProblem(certFile);
  if (problem.empty() && SSL_CTX_use_certificate_chain_file(ctx, certFile.c_str()) != 1)
    problem = msg::kSChNoCertificateInFile;
  if (!problem.empty()) {
    ERR_clear_error();
    SetError(FormatMsg(msg::kSChCertFileFailed, certFile.c_str(), problem.c_str()), kSecEUnknownCredentials);
    return false;
  }
  problem = FileProblem(KeyFile);
  std::unique_ptr<EVP_PKEY, TPKeyDeleter> key;
  if (problem.empty()) {
    BIO* bio = BIO_new_file(KeyFile.c_str(), "rb");
    if (bio) {
      // A pass phrase given as text: the library never asks on the terminal, even when it is empty.
      std::string password = Certificate.CertFilePassword;
      key.reset(PEM_read_bio_PrivateKey(bio, nullptr, nullptr, password.data()));
      BIO_free(bio);
    }
    ERR_clear_error();
    if (!key) {
      if (PEMKeyEncrypted(KeyFile)) {
        SetError(FormatMsg(msg::kSChKeyPassword, KeyFile.c_str()), kSecEUnknownCredentials);
        return false;
      }
      problem = msg::kSChNoKeyInFile;
    }
  }
  if (!problem.empty()) {
    SetError(FormatMsg(msg::kSChKeyFileFailed, KeyFile.c_str(), problem.c_str()), kSecEUnknownCredentials);
    return false;
  }
  if (SSL_CTX_use_PrivateKey(ctx, key.get()) != 1 || SSL_CTX_check_private_key(ctx) != 1) {
    ERR_clear_error();
    SetError(FormatMsg(msg::kSChKeyMismatch, KeyFile.c_str(), certFile.c_str()), kSecEUnknownCredentials);
    return false;
  }
  return true;
}

bool TbrzIdSSLIOHandlerSocketSChannel::VerifyServer() {
  long verdict = X509_V_OK;
  std::vector<TbrzSSLCertificate> chain;
  X509* peer = nullptr;
  // Read the server's certificate and the verdict of the library.
  {
    TbrzLock lock(FCS);
    SSL* ssl = CurrentSession();
    if (ssl) {
      peer = SSL_get1_peer_certificate(ssl);
      verdict = SSL_get_verify_result(ssl);
      if (STACK_OF(X509)* certs = SSL_get_peer_cert_chain(ssl)) {
        for (int i = 0; i < sk_X509_num(certs); ++i) chain.push_back(TLSDescribeCertificate(sk_X509_value(certs, i)));
      }
    }
  }
  if (!peer) {
    SetError(msg::kSChQueryCredentials + Hex8(kSecENoCredentials), kSecENoCredentials);
    return false;
  }
  TLSX509Ptr holder(peer);
  uint32_t status = TLSSChannelStatusFromVerify(verdict);
  SetChainStatus(status);
  if (status == kCertEUntrustedRoot && TLSTrustedRootAccepts(chain)) {
    // The chain stopped at its root, so the name was not checked yet.
    bool nameOk = TLSIsIPAddress(FTargetName) ? X509_check_ip_asc(peer, FTargetName.c_str(), 0) == 1
                                              : X509_check_host(peer, FTargetName.c_str(), 0, 0, nullptr) == 1;
    if (nameOk) {
      SetError(std::string());
      return true;
    }
    status = kCertECNNoMatch;
    SetChainStatus(status);
  }
  if (status == 0) {
    SetError(std::string());
    return true;
  }
  SetError(msg::kSChChainPolicy + Hex8(status), status);
  return false;
}

std::optional<TLSStoreEntry> TbrzIdSSLIOHandlerSocketSChannel::SelectByHash() {
  const std::string& hash = Certificate.CertHash;
  if (hash.size() != static_cast<size_t>(kSChannelCertHashLength)) {
    SetError(FormatMsg(msg::kSChInvalidHashLength, kSChannelCertHashLength));
    return std::nullopt;
  }
  auto store = TLSOpenStore(TLSCertStoreDir(Certificate.CertStorePath, Certificate.CertStoreName));
  if (!store) {
    SetError(msg::kSChCannotOpenStore);
    return std::nullopt;
  }
  std::vector<uint8_t> thumbprint;
  if (!HexToBytes(hash, thumbprint)) {
    SetError(msg::kSChCryptStringToBinary);
    return std::nullopt;
  }
  auto found = TLSFindByThumbprint(*store, thumbprint);
  if (!found) {
    SetError(FormatMsg(msg::kSChCertNotFound, TLSCertStoreName(Certificate.CertStoreName).c_str(), hash.c_str()));
  }
  return found;
}

std::optional<TLSStoreEntry> TbrzIdSSLIOHandlerSocketSChannel::SelectAutomatically(SSL* ssl) {
  if (OnCredentials) OnCredentials();
  STACK_OF(X509_NAME)* issuers = SSL_get_client_CA_list(ssl);
  auto store = TLSOpenStore(TLSCertStoreDir(TbrzSChannelCertStorePath::scspStoreCurrentUser,
                                            TbrzSChannelCertStoreName::scsnMY));
  if (store) {
    for (auto& entry : *store) {
      if (!entry.Key) continue;
      // Client-authentication usage.
      if (X509_check_purpose(entry.Certificate.get(), X509_PURPOSE_SSL_CLIENT, 0) != 1) continue;
      bool match = !issuers || sk_X509_NAME_num(issuers) == 0;
      for (int i = 0; !match && i < sk_X509_NAME_num(issuers); ++i) {
        X509_NAME* issuer = sk_X509_NAME_value(issuers, i);
        if (X509_NAME_cmp(X509_get_issuer_name(entry.Certificate.get()), issuer) == 0) match = true;
        for (const auto& link : entry.Chain) {
          if (!match && X509_NAME_cmp(X509_get_issuer_name(link.get()), issuer) == 0) match = true;
        }
      }
      if (match) return std::move(entry);
    }
  }
  ERR_clear_error();
  SetError(msg::kSChNoChain);
  return std::nullopt;
}

int TbrzIdSSLIOHandlerSocketSChannel::ClientCertCallback(SSL* ssl, X509** certificate, EVP_PKEY** key) {
  auto* base = static_cast<TbrzSSLIOHandlerBase*>(SSL_get_app_data(ssl));
  auto* self = static_cast<TbrzIdSSLIOHandlerSocketSChannel*>(base);
  if (!self) return 0;
  std::optional<TLSStoreEntry> entry;
  if (!self->Certificate.CertHash.empty()) {
    entry = self->SelectByHash();
    if (!entry) return -1;  // a failed selection ends the handshake
  } else if (!self->Certificate.CertFile.empty()) {
    entry = TLSImportPKCS12File(self->Certificate.CertFile, self->Certificate.CertFilePassword);
    if (!entry) {
      self->SetError(msg::kSChCannotImport);
      return -1;
    }
  } else {
    entry = self->SelectAutomatically(ssl);
    if (!entry) return 0;  // the handshake goes on without a certificate; the server decides
  }
  if (!entry->Key) {
    self->SetError(msg::kSChAcquireCredentials + Hex8(kSecEUnknownCredentials), kSecEUnknownCredentials);
    return -1;
  }
  for (const auto& link : entry->Chain) SSL_add1_chain_cert(ssl, link.get());
  *certificate = entry->Certificate.release();
  *key = entry->Key.release();
  return 1;
}

std::optional<TbrzSChannelConnectionInfo> TbrzIdSSLIOHandlerSocketSChannel::GetInfo() {
  if (FInfo) return FInfo;
  TbrzLock lock(FCS);
  SSL* ssl = CurrentSession();
  if (!ssl) return std::nullopt;
  TbrzSChannelConnectionInfo info;
  switch (SSL_version(ssl)) {
    case TLS1_VERSION: info.Protocol = TwsTLSVersions::tls1_0; break;
    case TLS1_1_VERSION: info.Protocol = TwsTLSVersions::tls1_1; break;
    case TLS1_2_VERSION: info.Protocol = TwsTLSVersions::tls1_2; break;
    case TLS1_3_VERSION: info.Protocol = TwsTLSVersions::tls1_3; break;
    default: break;
  }
  if (const SSL_CIPHER* cipher = SSL_get_current_cipher(ssl)) {
    int bits = 0;
    SSL_CIPHER_get_bits(cipher, &bits);
    info.CiperStrength = static_cast<uint32_t>(bits);
    info.CipherId = CipherIdFromNid(SSL_CIPHER_get_cipher_nid(cipher));
    int digest = SSL_CIPHER_get_digest_nid(cipher);
    if (digest == NID_undef) {
      if (const EVP_MD* md = SSL_CIPHER_get_handshake_digest(cipher)) digest = EVP_MD_get_type(md);
    }
    info.HashId = HashIdFromNid(digest);
    if (const EVP_MD* md = EVP_get_digestbynid(digest)) info.HashStrength = static_cast<uint32_t>(EVP_MD_get_size(md) * 8);
    info.ExchangeId = ExchangeIdFromNid(SSL_CIPHER_get_kx_nid(cipher));
  }
  EVP_PKEY* tmp = nullptr;
  if (SSL_get_peer_tmp_key(ssl, &tmp) == 1 && tmp) {
    info.ExchangeStrength = static_cast<uint32_t>(EVP_PKEY_get_bits(tmp));
    EVP_PKEY_free(tmp);
  }
  ERR_clear_error();
  info.Cipher = TLSSChannelAlgorithmName(info.CipherId);
  info.Hash = TLSSChannelAlgorithmName(info.HashId);
  info.Exchange = TLSSChannelAlgorithmName(info.ExchangeId);
  FInfo = info;
  return FInfo;
}

ssize_t TbrzIdSSLIOHandlerSocketSChannel::OnPeerClosed(bool closeNotify) {
  if (closeNotify) SetError(msg::kSChDecryptExpired);
  return 0;
}

ssize_t TbrzIdSSLIOHandlerSocketSChannel::OnReadFailure(const std::string& /*libraryError*/) {
  // A record that does not decrypt ends the connection like a close.
  SetError(msg::kSChDecryptFailure);
  return 0;
}

void TbrzIdSSLIOHandlerSocketSChannel::OnWriteFailure(const std::string& /*libraryError*/) {
  std::string text = msg::kSChEncrypt + Hex8(kSecEEncryptFailure);
  SetError(text, kSecEEncryptFailure);
  throw ESocketError(text);
}

}  // namespace brz
