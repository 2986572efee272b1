#pragma once
// Certificate stores of the platform handler, kept as files. A store is a directory
//   <root>/<CurrentUser|LocalMachine>/<MY|Root|Trust|CA>/
// whose *.pem, *.crt, *.cer files (PEM: the certificate first, then its chain; the private key in
// the same file or in <name>.key beside it) and *.p12, *.pfx files (PKCS #12 without or with an
// empty password) each hold one certificate. A certificate is found by its SHA-1 thumbprint (the
// hash of its DER form). The root is set by TLSSetCertStoreRoot, else $BRZ_CERT_STORE, else
// $HOME/.brzmqtt/certstores for the current user and /etc/brzmqtt/certstores for the machine.
// The "Root" store of the current user, the files added by TLSAddTrustedCAFile and the system's
// default trust paths are the platform handler's trusted roots.
// Thread-safety: the process-wide settings are guarded; the entries are plain values.

#include <openssl/ssl.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "transport/TbrzSSLIOHandlerBase.h"
#include "transport/TbrzSSLOptions.h"

namespace brz {

struct TLSX509Deleter {
  void operator()(X509* x) const { X509_free(x); }
};
struct TLSPKeyDeleter {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using TLSX509Ptr = std::unique_ptr<X509, TLSX509Deleter>;
using TLSPKeyPtr = std::unique_ptr<EVP_PKEY, TLSPKeyDeleter>;

// One certificate with its private key (may be null) and the rest of its chain.
struct TLSStoreEntry {
  TLSX509Ptr Certificate;
  TLSPKeyPtr Key;
  std::vector<TLSX509Ptr> Chain;
  std::string File;
};

void TLSSetCertStoreRoot(const std::string& root);  // empty: back to the environment / defaults
std::string TLSCertStoreName(TbrzSChannelCertStoreName name);  // "MY", "Root", "Trust", "CA"
std::string TLSCertStoreDir(TbrzSChannelCertStorePath path, TbrzSChannelCertStoreName name);

// Loads every certificate of an existing store directory; nothing when it does not exist.
std::optional<std::vector<TLSStoreEntry>> TLSOpenStore(const std::string& dir);
// The entry whose SHA-1 thumbprint is thumbprint (20 bytes).
std::optional<TLSStoreEntry> TLSFindByThumbprint(std::vector<TLSStoreEntry>& store, const std::vector<uint8_t>& thumbprint);
// Imports a PKCS #12 file with password; when that fails and password is empty, again with none.
std::optional<TLSStoreEntry> TLSImportPKCS12File(const std::string& file, const std::string& password);

// Extra trusted CA files of the platform handler (tests add their throw-away CA here).
void TLSAddTrustedCAFile(const std::string& file);
void TLSClearTrustedCAFiles();
std::vector<std::string> TLSTrustedCAFiles();

// A handler that may accept a chain ending in an untrusted root (end certificate first).
using TLSTrustedRootHandler = std::function<bool(const std::vector<TbrzSSLCertificate>& chain)>;
int TLSRegisterTrustedRootHandler(TLSTrustedRootHandler handler);  // returns an id
void TLSUnregisterTrustedRootHandler(int id);
// Asks the handlers from the last registered to the first; true when one accepts.
bool TLSTrustedRootAccepts(const std::vector<TbrzSSLCertificate>& chain);

}  // namespace brz
