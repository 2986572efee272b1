#include "transport/TLSCertStore.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

namespace brz {

namespace {

struct TStoreSettings {
  std::mutex Lock;  // guards every member
  std::string Root;
  std::vector<std::string> CAFiles;
  std::vector<std::pair<int, TLSTrustedRootHandler>> RootHandlers;
  int NextId = 1;
};

TStoreSettings& Settings() {
  static TStoreSettings settings;
  return settings;
}

struct TBioDeleter {
  void operator()(BIO* b) const { BIO_free(b); }
};
using TBioPtr = std::unique_ptr<BIO, TBioDeleter>;

bool EndsWith(const std::string& text, const char* suffix) {
  size_t n = std::strlen(suffix);
  if (text.size() < n) return false;
  std::string tail = text.substr(text.size() - n);
  std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
  return tail == suffix;
}

std::optional<TLSStoreEntry> LoadPEM(const std::filesystem::path& file) {
  TBioPtr bio(BIO_new_file(file.c_str(), "r"));
  if (!bio) return std::nullopt;
  TLSStoreEntry entry;
  entry.File = file.string();
  while (X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
    if (!entry.Certificate) {
      entry.Certificate.reset(cert);
    } else {
      entry.Chain.emplace_back(cert);
    }
  }
  ERR_clear_error();
  if (!entry.Certificate) return std::nullopt;
  BIO_reset(bio.get());
  entry.Key.reset(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
  if (!entry.Key) {
    std::filesystem::path keyFile = file;
    keyFile.replace_extension(".key");
    if (TBioPtr keyBio{BIO_new_file(keyFile.c_str(), "r")}) {
      entry.Key.reset(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
    }
  }
  ERR_clear_error();
  return entry;
}

std::optional<TLSStoreEntry> ParsePKCS12(PKCS12* p12, const char* password) {
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  STACK_OF(X509)* ca = nullptr;
  if (PKCS12_parse(p12, password, &key, &cert, &ca) != 1 || !cert) {
    EVP_PKEY_free(key);
    X509_free(cert);
    sk_X509_pop_free(ca, X509_free);
    ERR_clear_error();
    return std::nullopt;
  }
  TLSStoreEntry entry;
  entry.Certificate.reset(cert);
  entry.Key.reset(key);
  for (int i = 0; ca && i < sk_X509_num(ca); ++i) entry.Chain.emplace_back(sk_X509_value(ca, i));
  sk_X509_free(ca);
  return entry;
}

}  // namespace

void TLSSetCertStoreRoot(const std::string& root) {
  std::lock_guard<std::mutex> guard(Settings().Lock);
  Settings().Root = root;
}

std::string TLSCertStoreName(TbrzSChannelCertStoreName name) {
  switch (name) {
    case TbrzSChannelCertStoreName::scsnRoot: return "Root";
    case TbrzSChannelCertStoreName::scsnTrust: return "Trust";
    case TbrzSChannelCertStoreName::scsnCA: return "CA";
    case TbrzSChannelCertStoreName::scsnMY: break;
  }
  return "MY";
}

std::string TLSCertStoreDir(TbrzSChannelCertStorePath path, TbrzSChannelCertStoreName name) {
  std::string root;
  {
    std::lock_guard<std::mutex> guard(Settings().Lock);
    root = Settings().Root;
  }
  bool machine = path == TbrzSChannelCertStorePath::scspStoreLocalMachine;
  if (root.empty()) {
    if (const char* env = std::getenv("BRZ_CERT_STORE"); env && *env) {
      root = env;
    } else if (machine) {
      root = "/etc/brzmqtt/certstores";
    } else {
      const char* home = std::getenv("HOME");
      root = std::string(home ? home : "") + "/.brzmqtt/certstores";
    }
  }
  return root + (machine ? "/LocalMachine/" : "/CurrentUser/") + TLSCertStoreName(name);
}

std::optional<std::vector<TLSStoreEntry>> TLSOpenStore(const std::string& dir) {
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec)) return std::nullopt;
  std::vector<std::filesystem::path> files;
  for (const auto& item : std::filesystem::directory_iterator(dir, ec)) {
    if (item.is_regular_file(ec)) files.push_back(item.path());
  }
  std::sort(files.begin(), files.end());
  std::vector<TLSStoreEntry> store;
  for (const auto& file : files) {
    std::string name = file.string();
    std::optional<TLSStoreEntry> entry;
    if (EndsWith(name, ".pem") || EndsWith(name, ".crt") || EndsWith(name, ".cer")) {
      entry = LoadPEM(file);
    } else if (EndsWith(name, ".p12") || EndsWith(name, ".pfx")) {
      entry = TLSImportPKCS12File(name, std::string());
    }
    if (entry) store.push_back(std::move(*entry));
  }
  return store;
}

std::optional<TLSStoreEntry> TLSFindByThumbprint(std::vector<TLSStoreEntry>& store, const std::vector<uint8_t>& thumbprint) {
  for (auto& entry : store) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (X509_digest(entry.Certificate.get(), EVP_sha1(), md, &len) != 1) continue;
    if (len == thumbprint.size() && std::memcmp(md, thumbprint.data(), len) == 0) return std::move(entry);
  }
  return std::nullopt;
}

std::optional<TLSStoreEntry> TLSImportPKCS12File(const std::string& file, const std::string& password) {
  TBioPtr bio(BIO_new_file(file.c_str(), "rb"));
  if (!bio) {
    ERR_clear_error();
    return std::nullopt;
  }
  PKCS12* p12 = d2i_PKCS12_bio(bio.get(), nullptr);
  if (!p12) {
    ERR_clear_error();
    return std::nullopt;
  }
  std::optional<TLSStoreEntry> entry = ParsePKCS12(p12, password.c_str());
  if (!entry && password.empty()) entry = ParsePKCS12(p12, nullptr);
  PKCS12_free(p12);
  if (entry) entry->File = file;
  return entry;
}

void TLSAddTrustedCAFile(const std::string& file) {
  std::lock_guard<std::mutex> guard(Settings().Lock);
  Settings().CAFiles.push_back(file);
}

void TLSClearTrustedCAFiles() {
  std::lock_guard<std::mutex> guard(Settings().Lock);
  Settings().CAFiles.clear();
}

std::vector<std::string> TLSTrustedCAFiles() {
  std::lock_guard<std::mutex> guard(Settings().Lock);
  return Settings().CAFiles;
}

int TLSRegisterTrustedRootHandler(TLSTrustedRootHandler handler) {
  std::lock_guard<std::mutex> guard(Settings().Lock);
  int id = Settings().NextId++;
  Settings().RootHandlers.emplace_back(id, std::move(handler));
  return id;
}

void TLSUnregisterTrustedRootHandler(int id) {
  std::lock_guard<std::mutex> guard(Settings().Lock);
  auto& handlers = Settings().RootHandlers;
  handlers.erase(std::remove_if(handlers.begin(), handlers.end(), [id](const auto& h) { return h.first == id; }),
                 handlers.end());
}

bool TLSTrustedRootAccepts(const std::vector<TbrzSSLCertificate>& chain) {
  std::vector<TLSTrustedRootHandler> handlers;
  {
    std::lock_guard<std::mutex> guard(Settings().Lock);
    for (const auto& h : Settings().RootHandlers) handlers.push_back(h.second);
  }
  for (auto it = handlers.rbegin(); it != handlers.rend(); ++it) {
    if (*it && (*it)(chain)) return true;
  }
  return false;
}

}  // namespace brz
