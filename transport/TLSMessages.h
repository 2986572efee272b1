#pragma once
// Every literal text of the TLS handlers. Texts ending in "\n%s" or ": " are followed by the TLS
// library's error text or by a status as eight upper-case hexadecimal digits.

namespace brz::msg {

// OpenSSL handlers (client and server). %s: the library's error text.
inline constexpr const char* kSSLContextFailed = "Could not create the TLS context.\n%s";
inline constexpr const char* kSSLSessionFailed = "Could not create the TLS session.\n%s";
inline constexpr const char* kSSLRootCertFailed = "Could not load root certificate.\n%s";
inline constexpr const char* kSSLCertFailed = "Could not load certificate.\n%s";
inline constexpr const char* kSSLKeyFailed = "Could not load key, check password.\n%s";
inline constexpr const char* kSSLKeyMismatch = "Private key does not match the certificate.\n%s";
inline constexpr const char* kSSLCipherFailed = "SetCipher failed.\n%s";
inline constexpr const char* kSSLVersionFailed = "Could not set the TLS protocol version.\n%s";
inline constexpr const char* kSSLConnectFailed = "Error connecting with SSL.\n%s";
inline constexpr const char* kSSLAcceptFailed = "Error accepting connection with SSL.\n%s";
inline constexpr const char* kSSLReadFailed = "Error reading with SSL.\n%s";
inline constexpr const char* kSSLWriteFailed = "Error writing with SSL.\n%s";
// Parts of the library error text built by the handlers.
inline constexpr const char* kSSLHandshakeTimeout = "TLS handshake timed out";
inline constexpr const char* kSSLPeerClosed = "the peer closed the connection during the TLS handshake";
// %d errno, %s system text
inline constexpr const char* kSSLSocketError = "socket error %d: %s";
// %s verification error text of the library
inline constexpr const char* kSSLVerifyFailed = "certificate verification failed: %s";
inline constexpr const char* kSSLUnknownError = "unknown TLS error";
inline constexpr const char* kSSLWriteTimeout = "TLS write timed out.";
inline constexpr const char* kSSLNoSession = "No TLS session.";

// Platform handler (session start failures are "SChannel initialization error: " + one of these).
inline constexpr const char* kSChannelInitError = "SChannel initialization error: ";
inline constexpr const char* kSChAcquireCredentials = "AcquireCredentialsHandle returns ";
inline constexpr const char* kSChFirstInitialize = "First call to InitializeSecurityContext returns ";
inline constexpr const char* kSChInitialize = "InitializeSecurityContext returns ";
inline constexpr const char* kSChSendReturns = "send returns ";
inline constexpr const char* kSChRecvReturns = "recv returns ";
inline constexpr const char* kSChCertOpenMY = "CertOpenSystemStore(0, 'MY') returns 0";
// %d the required length (40)
inline constexpr const char* kSChInvalidHashLength = "Invalid Certificate Hash Length, must be %d.";
inline constexpr const char* kSChCannotOpenStore = "Cannot Open Certificate Store.";
inline constexpr const char* kSChCryptStringToBinary = "Error calling method CryptStringToBinary.";
// %s store name, %s hash
inline constexpr const char* kSChCertNotFound = "Certificate not found in Store %s with Hash %s";
inline constexpr const char* kSChCannotImport = "Cannot import the certificate.";
inline constexpr const char* kSChIssuerList = "QueryContextAttributes(SECPKG_ATTR_ISSUER_LIST_EX) returns ";
inline constexpr const char* kSChNoChain = "CertFindChainInStore returns nil";
inline constexpr const char* kSChQueryCredentials = "QueryCredentialsAttributes returns ";
inline constexpr const char* kSChChainPolicy = "CertVerifyCertificateChainPolicy.vStatus = ";
inline constexpr const char* kSChStreamSizes = "QueryContextAttributes(SECPKG_ATTR_STREAM_SIZES) returns ";
inline constexpr const char* kSChDecryptExpired = "DecryptMessage returns SEC_I_CONTEXT_EXPIRED";
inline constexpr const char* kSChDecryptFailure = "DecryptMessage returns SEC_E_DECRYPT_FAILURE";
inline constexpr const char* kSChEncrypt = "EncryptMessage returns ";
inline constexpr const char* kSChALPN = "QueryContextAttributes(SECPKG_ATTR_APPLICATION_PROTOCOL) returns ";
// Files named by the settings, read at every session start. %s file name, %s what is wrong.
inline constexpr const char* kSChCAFileFailed = "Cannot read the CA file %s: %s";
inline constexpr const char* kSChCAPathFailed = "Cannot read the CA directory %s: %s";
inline constexpr const char* kSChCertFileFailed = "Cannot read the certificate file %s: %s";
inline constexpr const char* kSChKeyFileFailed = "Cannot read the private key file %s: %s";
// %s key file
inline constexpr const char* kSChKeyPassword = "Wrong password for the private key file %s";
// %s key file, %s certificate file
inline constexpr const char* kSChKeyMismatch = "The private key %s does not match the certificate %s";
// %s the cipher list
inline constexpr const char* kSChNoCipher = "No usable cipher in the list %s";
inline constexpr const char* kSChNoCertificateInFile = "no PEM certificate in it";
inline constexpr const char* kSChNoKeyInFile = "no PEM private key in it";
inline constexpr const char* kSChNotADirectory = "not a directory";

// Verification verdicts in words, appended to a failed verification's status.
inline constexpr const char* kSChReasonUntrusted = "certificate not trusted: unknown CA";
inline constexpr const char* kSChReasonExpired = "certificate expired or not yet valid";
inline constexpr const char* kSChReasonNameMismatch = "host name mismatch: the certificate is for another host";
inline constexpr const char* kSChReasonRevoked = "certificate revoked";
inline constexpr const char* kSChReasonWrongUsage = "certificate not meant for a server";
inline constexpr const char* kSChReasonSignature = "certificate signature invalid";
inline constexpr const char* kSChReasonChaining = "certificate chain broken or too long";
inline constexpr const char* kSChReasonNoCertificate = "the server sent no certificate";
inline constexpr const char* kSChReasonOther = "certificate refused: unsupported or unknown problem";

// The ECDHE preset of the server's cipher list.
inline constexpr const char* kSSLECDHECipherPreset = "EECDH+AESGCM:EDH+AESGCM:AES256+EECDH:AES256+EDH";

}  // namespace brz::msg
