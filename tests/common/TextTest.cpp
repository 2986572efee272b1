#include <gtest/gtest.h>

#include "common/TbrzStringStream.h"
#include "common/Text.h"

namespace brz {
namespace {

TEST(Text, ContainsAndStartsWithIgnoreCase) {
  EXPECT_TRUE(TextContains("Upgrade: WebSocket", "upgrade: websocket"));
  EXPECT_TRUE(TextContains("x-permessage-DEFLATE; y", "permessage-deflate"));
  EXPECT_TRUE(TextContains("abc", ""));
  EXPECT_FALSE(TextContains("abc", "abcd"));
  EXPECT_FALSE(TextContains("", "a"));
  EXPECT_TRUE(TextStartsWith("GET / HTTP/1.1", "get "));
  EXPECT_FALSE(TextStartsWith("xGET", "get"));
  EXPECT_TRUE(TextStartsWith("anything", ""));
  EXPECT_TRUE(TextEndsWith("file.TXT", ".txt"));
  EXPECT_TRUE(SameText("\xC3\x84rger", "\xC3\xA4RGER"));  // Ärger / äRGER
  EXPECT_TRUE(TextContains("\xD0\x9F\xD0\xA0\xD0\x98\xD0\x92\xD0\x95\xD0\xA2", "\xD0\xBF\xD1\x80\xD0\xB8"));  // ПРИВЕТ / при
}

TEST(Text, MatchesMaskTable) {
  struct Case {
    const char* Text;
    const char* Mask;
    bool Match;
  } cases[] = {
      {"get / http/1.1", "GET *", true},
      {"GET / HTTP/1.1", "*HTTP/1.*", true},
      {"GET / HTTP/2", "*HTTP/1.*", false},
      {"POST /x HTTP/1.1", "GET *", false},
      {"GET", "GET *", false},
      {"GET ", "GET *", true},
      {"", "*", true},
      {"", "", true},
      {"a", "", false},
      {"", "?", false},
      {"abc", "a?c", true},
      {"ac", "a?c", false},
      {"abc", "a*", true},
      {"abc", "*c", true},
      {"abc", "*b*", true},
      {"abc", "*d*", false},
      {"aXbXc", "a*b*c", true},
      {"abcbc", "a*bc", true},
      {"abcbd", "a*bc", false},
      {"mississippi", "m*iss*ppi", true},
      {"b", "[abc]", true},
      {"B", "[abc]", true},
      {"d", "[abc]", false},
      {"m", "[a-z]", true},
      {"M", "[a-z]", true},
      {"5", "[a-z]", false},
      {"5", "[0-9]", true},
      {"x", "[!a-c]", true},
      {"b", "[!a-c]", false},
      {"x", "[^a-c]", true},
      {"file7.txt", "file[0-9].TXT", true},
      {"fileA.txt", "file[0-9].txt", false},
      {"-", "[a-]", true},
      {"[x", "[x", true},  // an unclosed '[' is a literal
      {"\xC3\xA4", "?", true},  // '?' is one character, not one byte
      {"\xC3\x84X", "\xC3\xA4x", true},
      {"/brz/xhr/123", "/brz/xhr/*", true},
      {"Accept: text/event-stream", "accept: TEXT/EVENT-STREAM", true},
  };
  for (const auto& c : cases) EXPECT_EQ(TextMatchesMask(c.Text, c.Mask), c.Match) << c.Text << " ~ " << c.Mask;
}

TEST(Text, Replace) {
  EXPECT_EQ(TextReplace("{A-B-C}", "-", ""), "{ABC}");
  EXPECT_EQ(TextReplace("aaa", "a", "bb"), "bbbbbb");
  EXPECT_EQ(TextReplace("aAa", "a", "x"), "xAx");  // case-sensitive
  EXPECT_EQ(TextReplace("abc", "", "x"), "abc");
  EXPECT_EQ(TextReplace("", "a", "x"), "");
  EXPECT_EQ(TextReplace("abab", "ab", "ba"), "baba");
}

TEST(Text, CaseAndTrim) {
  EXPECT_EQ(UpperCase("abc\xC3\xA4z1"), "ABC\xC3\x84Z1");
  EXPECT_EQ(LowerCase("ABC\xC3\x84Z1"), "abc\xC3\xA4z1");
  EXPECT_EQ(LowerCase("A\xFF" "B"), "a\xFF" "b");  // an invalid byte is kept
  EXPECT_EQ(Trim("  \t x y \r\n"), "x y");
  EXPECT_EQ(TrimLeft("  x "), "x ");
  EXPECT_EQ(TrimRight("  x "), "  x");
  EXPECT_EQ(Trim(""), "");
  EXPECT_EQ(Trim("   "), "");
}

TEST(Text, BytesToUTF8TextReplacesInvalidSequences) {
  struct Case {
    std::string Bytes;
    std::string Text;
    bool Valid;
  } cases[] = {
      {"abc", "abc", true},
      {"", "", true},
      {"\xC3\xA4", "\xC3\xA4", true},
      {"\xE2\x82\xAC", "\xE2\x82\xAC", true},          // €
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", true},  // U+1F600
      {"a\xFF" "b", "a\xEF\xBF\xBD" "b", false},
      {"\xC3", "\xEF\xBF\xBD", false},                          // truncated
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD", false},          // overlong '/'
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", false},  // surrogate D800
      {"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", false},  // above U+10FFFF
      {"\xE2\x82" "a", "\xEF\xBF\xBD" "a", false},  // maximal subpart becomes one U+FFFD
      {"\x80", "\xEF\xBF\xBD", false},
      {std::string("a\0b", 3), std::string("a\0b", 3), true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BytesToUTF8Text(c.Bytes), c.Text);
    EXPECT_EQ(IsValidUTF8(c.Bytes), c.Valid);
    EXPECT_TRUE(IsValidUTF8(BytesToUTF8Text(c.Bytes)));
  }
}

TEST(Text, UTF16Length) {
  EXPECT_EQ(UTF16Length(""), 0u);
  EXPECT_EQ(UTF16Length("abc"), 3u);
  EXPECT_EQ(UTF16Length("\xC3\xA4\xE2\x82\xAC"), 2u);
  EXPECT_EQ(UTF16Length("\xF0\x9F\x98\x80"), 2u);  // a surrogate pair
  EXPECT_EQ(UTF16Length("\xFF"), 1u);
  EXPECT_EQ(CodePointCount("\xF0\x9F\x98\x80" "a"), 2u);
}

TEST(Text, UTF16RoundTrip) {
  const std::string text = "a\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80";
  const std::u16string u16 = UTF8ToUTF16(text);
  EXPECT_EQ(u16.size(), 5u);
  EXPECT_EQ(UTF16ToUTF8(u16), text);
  EXPECT_EQ(UTF16ToUTF8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(Text, Latin1) {
  EXPECT_EQ(Latin1ToUTF8("a\xE4"), "a\xC3\xA4");
  EXPECT_EQ(UTF8ToLatin1("a\xC3\xA4\xE2\x82\xAC"), "a\xE4?");
}

TEST(Text, StringStreamAndUTF8StreamToText) {
  TbrzStringStream utf8("\xC3\xA4" "b", TbrzTextEncoding::teUTF8);
  EXPECT_EQ(utf8.Size(), 3u);
  EXPECT_EQ(utf8.Position(), 0u);
  EXPECT_EQ(UTF8StreamToText(utf8), "\xC3\xA4" "b");
  EXPECT_EQ(utf8.DataString(), "\xC3\xA4" "b");

  TbrzStringStream ansi("\xC3\xA4" "b");
  EXPECT_EQ(ansi.Size(), 2u);
  EXPECT_EQ(ansi.Bytes()[0], 0xE4);
  EXPECT_EQ(ansi.DataString(), "\xC3\xA4" "b");
  EXPECT_EQ(ansi.ReadString(1), "\xC3\xA4");

  TbrzMemoryStream bytes;
  bytes.Write(std::string_view("ok\xFF"));
  EXPECT_EQ(UTF8StreamToText(bytes), "ok\xEF\xBF\xBD");
  EXPECT_EQ(bytes.Position(), 3u);
}

}  // namespace
}  // namespace brz
