#include <gtest/gtest.h>

#include <set>

#include "common/Encoding.h"
#include "common/Exception.h"
#include "tests/support/TestSupport.h"

namespace brz {
namespace {

using test::Hex;

TEST(Encoding, EncodeBase64HexTable) {
  struct Case {
    const char* HexText;
    const char* Base64;
  } cases[] = {
      {"", ""},
      {"00", "AA=="},
      {"0000", "AAA="},
      {"000000", "AAAA"},
      {"616263", "YWJj"},
      {"6162", "YWI="},
      {"61", "YQ=="},
      {"FFFFFF", "////"},
      {"FBEF", "++8="},
      {"fbef", "++8="},
      {"616", "YQ=="},  // an odd last digit is ignored
      // RFC 6455 section 1.3: SHA-1 of key + GUID, as hex, then Base64.
      {"B37A4F2CC0624F1690F64606CF385945B2BEC4EA", "s3pPLMBiTxaQ9kYGzzhZRbK+xOo="},
  };
  for (const auto& c : cases) EXPECT_EQ(EncodeBase64Hex(c.HexText), c.Base64) << c.HexText;
}

TEST(Encoding, Base64RoundTripsEveryLength) {
  for (size_t n = 0; n < 40; ++n) {
    TBytes bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 11);
    const std::string text = EncodeBase64(bytes);
    EXPECT_EQ(text.size(), 4 * ((n + 2) / 3));
    EXPECT_EQ(DecodeBase64(text), bytes) << n;
  }
}

TEST(Encoding, EncodeBase64Text) {
  EXPECT_EQ(EncodeBase64Text("user:password", false), "dXNlcjpwYXNzd29yZA==");
  EXPECT_EQ(EncodeBase64Text("user:password", true), "dXNlcjpwYXNzd29yZA==");
  // "ä" is C3 A4 in UTF-8 and E4 in the single-byte code page.
  EXPECT_EQ(EncodeBase64Text("\xC3\xA4", true), "w6Q=");
  EXPECT_EQ(EncodeBase64Text("\xC3\xA4", false), "5A==");
}

TEST(Encoding, DecodeBase64Forms) {
  struct Case {
    const char* Text;
    const char* Bytes;
  } cases[] = {
      {"", ""},
      {"YWJj", "abc"},
      {"YWI=", "ab"},
      {"YWI", "ab"},  // missing padding
      {"YQ==", "a"},
      {"YW Jj\r\n", "abc"},  // blanks and line breaks are skipped
      {"dXNlcjpwYXNzd29yZA==", "user:password"},
      {"YQ==YWJj", "a"},  // decoding stops at '='
      {"Y", ""},          // a dangling character carries no byte
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeBase64Text(c.Text), c.Bytes) << c.Text;
}

TEST(Encoding, HexToBytes) {
  EXPECT_EQ(HexToBytes("00ff10Ab"), Hex("00 FF 10 AB"));
  EXPECT_EQ(HexToBytes("123"), Hex("12"));
  EXPECT_TRUE(HexToBytes("").empty());
  EXPECT_EQ(HexToText("616263"), "abc");
  try {
    HexToBytes("12zz");
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'$zz' is not a valid integer value");
  }
}

TEST(Encoding, BytesToHex) {
  EXPECT_EQ(BytesToHex(Hex("00 0F A0 FF")), "000FA0FF");
  EXPECT_EQ(BytesToHex(TBytes{}), "");
}

TEST(Encoding, Digests) {
  // RFC 1321 and FIPS 180 test vectors.
  EXPECT_EQ(MD5Hex(""), "D41D8CD98F00B204E9800998ECF8427E");
  EXPECT_EQ(MD5Hex("abc"), "900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(MD5HexOfHex("616263"), "900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(SHA1Hex("abc"), "A9993E364706816ABA3E25717850C26C9CD0D89D");
  EXPECT_EQ(SHA1(std::string_view("abc")).size(), 20u);
  // The WebSocket accept key of RFC 6455 section 1.3.
  const std::string digest = SHA1Hex("dGhlIHNhbXBsZSBub25jZQ==258EAFA5-E914-47DA-95CA-C5AB0DC85B11");
  EXPECT_EQ(EncodeBase64Hex(digest), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
}

TEST(Encoding, RandomBytes) {
  EXPECT_EQ(RandomBytes(0).size(), 0u);
  EXPECT_EQ(RandomBytes(16).size(), 16u);
  EXPECT_NE(RandomBytes(16), RandomBytes(16));
  std::set<uint32_t> seen;
  for (int i = 0; i < 2000; ++i) {
    const uint32_t v = RandomBelow(255);
    ASSERT_LT(v, 255u);
    seen.insert(v);
  }
  EXPECT_GT(seen.size(), 200u);
  EXPECT_EQ(RandomBelow(0), 0u);
  EXPECT_EQ(RandomBelow(1), 0u);
}

}  // namespace
}  // namespace brz
