#pragma once
// Base64, hexadecimal, digests and random bytes (OpenSSL libcrypto underneath).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/Bytes.h"

namespace brz {

// Base64 with the standard alphabet, '=' padding, no line breaks.
std::string EncodeBase64(const void* data, size_t count);
std::string EncodeBase64(const TBytes& bytes);
std::string EncodeBase64(std::string_view bytes);
// Base64 of the text's bytes: UTF-8 when utf8 is true, else ISO-8859-1 (the default single-byte code page).
std::string EncodeBase64Text(std::string_view text, bool utf8);
// Decodes Base64; characters outside the alphabet (blanks, line breaks) are skipped, decoding stops at '='.
// A dangling single character is ignored.
TBytes DecodeBase64(std::string_view text);
// DecodeBase64 with the bytes returned in a std::string, one char per byte (not converted).
std::string DecodeBase64Text(std::string_view text);

// Each pair of hex digits becomes one byte (an odd last digit is ignored). A pair that is not hex raises
// EConvertError "'$zz' is not a valid integer value".
TBytes HexToBytes(std::string_view hex);
// As HexToBytes, one char per byte in a std::string.
std::string HexToText(std::string_view hex);
// Upper-case hex digits, no separators.
std::string BytesToHex(const void* data, size_t count);
std::string BytesToHex(const TBytes& bytes);
std::string BytesToHex(std::string_view bytes);
// Base64 of the bytes given as hex text: EncodeBase64Hex("00") = "AA==", EncodeBase64Hex("616263") = "YWJj".
std::string EncodeBase64Hex(std::string_view hex);

// Digests. ...Hex results are upper-case hex digits.
TBytes MD5(const void* data, size_t count);
TBytes MD5(std::string_view bytes);
std::string MD5Hex(std::string_view bytes);
// MD5 of the bytes given as hex text, as hex text.
std::string MD5HexOfHex(std::string_view hex);
TBytes SHA1(const void* data, size_t count);
TBytes SHA1(std::string_view bytes);
// SHA-1 digest of the bytes (e.g. key + GUID of the WebSocket handshake) as 40 hex digits.
std::string SHA1Hex(std::string_view bytes);

// Cryptographically strong random bytes (RAND_bytes). Raises brz::Exception when the generator fails.
TBytes RandomBytes(size_t count);
void RandomFill(void* buffer, size_t count);
uint32_t RandomUInt32();
// Uniform in 0 .. bound-1 (bound 0 gives 0).
uint32_t RandomBelow(uint32_t bound);

}  // namespace brz
