#include "common/Encoding.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include "common/CommonMessages.h"
#include "common/Exception.h"
#include "common/Text.h"

namespace brz {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsBase64Char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

TBytes Digest(const EVP_MD* md, const void* data, size_t count) {
  TBytes out(EVP_MAX_MD_SIZE);
  unsigned int len = 0;
  if (EVP_Digest(data, count, out.data(), &len, md, nullptr) != 1) throw Exception(std::string(kDigestFailed));
  out.resize(len);
  return out;
}

}  // namespace

std::string EncodeBase64(const void* data, size_t count) {
  if (count == 0) return {};
  std::string out(4 * ((count + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), static_cast<const unsigned char*>(data),
                                static_cast<int>(count));
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string EncodeBase64(const TBytes& bytes) { return EncodeBase64(bytes.data(), bytes.size()); }

std::string EncodeBase64(std::string_view bytes) { return EncodeBase64(bytes.data(), bytes.size()); }

std::string EncodeBase64Text(std::string_view text, bool utf8) {
  return EncodeBase64(utf8 ? BytesToUTF8Text(text) : UTF8ToLatin1(text));
}

TBytes DecodeBase64(std::string_view text) {
  std::string clean;
  clean.reserve(text.size());
  for (char c : text) {
    if (c == '=') break;
    if (IsBase64Char(c)) clean += c;
  }
  // A dangling single character carries fewer than 8 bits: ignored.
  if (clean.size() % 4 == 1) clean.pop_back();
  const size_t tail = clean.size() % 4;  // 0, 2 or 3 characters: 0, 1 or 2 bytes after the full groups
  const size_t bytes = clean.size() / 4 * 3 + (tail == 0 ? 0 : tail - 1);
  if (tail) clean.append(4 - tail, 'A');
  if (clean.empty()) return {};
  TBytes out(clean.size() / 4 * 3);
  const int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(clean.data()),
                                static_cast<int>(clean.size()));
  if (n < 0) return {};
  out.resize(bytes);
  return out;
}

std::string DecodeBase64Text(std::string_view text) {
  const TBytes bytes = DecodeBase64(text);
  return std::string(bytes.begin(), bytes.end());
}

TBytes HexToBytes(std::string_view hex) {
  TBytes out;
  out.reserve(hex.size() / 2);
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    const int hi = HexDigit(hex[i]);
    const int lo = HexDigit(hex[i + 1]);
    if (hi < 0 || lo < 0)
      throw EConvertError("'$" + std::string(hex.substr(i, 2)) + std::string(kInvalidIntegerSuffix));
    out.push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  return out;
}

std::string HexToText(std::string_view hex) {
  const TBytes bytes = HexToBytes(hex);
  return std::string(bytes.begin(), bytes.end());
}

std::string BytesToHex(const void* data, size_t count) {
  static const char* digits = "0123456789ABCDEF";
  const auto* p = static_cast<const uint8_t*>(data);
  std::string out;
  out.reserve(count * 2);
  for (size_t i = 0; i < count; ++i) {
    out += digits[p[i] >> 4];
    out += digits[p[i] & 15];
  }
  return out;
}

std::string BytesToHex(const TBytes& bytes) { return BytesToHex(bytes.data(), bytes.size()); }

std::string BytesToHex(std::string_view bytes) { return BytesToHex(bytes.data(), bytes.size()); }

std::string EncodeBase64Hex(std::string_view hex) { return EncodeBase64(HexToText(hex)); }

TBytes MD5(const void* data, size_t count) { return Digest(EVP_md5(), data, count); }

TBytes MD5(std::string_view bytes) { return MD5(bytes.data(), bytes.size()); }

std::string MD5Hex(std::string_view bytes) { return BytesToHex(MD5(bytes)); }

std::string MD5HexOfHex(std::string_view hex) { return MD5Hex(HexToText(hex)); }

TBytes SHA1(const void* data, size_t count) { return Digest(EVP_sha1(), data, count); }

TBytes SHA1(std::string_view bytes) { return SHA1(bytes.data(), bytes.size()); }

std::string SHA1Hex(std::string_view bytes) { return BytesToHex(SHA1(bytes)); }

void RandomFill(void* buffer, size_t count) {
  auto* p = static_cast<unsigned char*>(buffer);
  while (count > 0) {
    const int chunk = count > (1u << 30) ? (1 << 30) : static_cast<int>(count);
    if (RAND_bytes(p, chunk) != 1) throw Exception(std::string(kRandomGeneratorFailed));
    p += chunk;
    count -= static_cast<size_t>(chunk);
  }
}

TBytes RandomBytes(size_t count) {
  TBytes out(count);
  if (count) RandomFill(out.data(), count);
  return out;
}

uint32_t RandomUInt32() {
  uint32_t v = 0;
  RandomFill(&v, sizeof v);
  return v;
}

uint32_t RandomBelow(uint32_t bound) {
  if (bound == 0) return 0;
  // Reject the values of the incomplete last block so every result is equally likely.
  const uint32_t limit = UINT32_MAX - UINT32_MAX % bound;
  for (;;) {
    const uint32_t v = RandomUInt32();
    if (v < limit) return v % bound;
  }
}

}  // namespace brz
