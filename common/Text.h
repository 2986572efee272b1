#pragma once
// Text helpers. Text is UTF-8 std::string everywhere; "ignoring case" folds ASCII, Latin-1, Greek and Cyrillic
// letters. Masks and '?' work on code points, not bytes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/Bytes.h"

namespace brz {

class TbrzMemoryStream;

// True when sub occurs in text, ignoring case (an empty sub occurs everywhere).
bool TextContains(std::string_view text, std::string_view sub);
// True when text begins with sub, ignoring case.
bool TextStartsWith(std::string_view text, std::string_view sub);
bool TextEndsWith(std::string_view text, std::string_view sub);
// Equal ignoring case.
bool SameText(std::string_view a, std::string_view b);
// Wildcard match of the whole text, ignoring case: '*' any run of characters (also none), '?' exactly one
// character, "[...]" one character of the set: single characters and ranges "a-z"; '!' or '^' first negates
// the set. A '[' without a closing ']' is taken literally.
bool TextMatchesMask(std::string_view text, std::string_view mask);
// Replaces every occurrence of from by to, case-sensitive; an empty to deletes; an empty from changes nothing.
std::string TextReplace(std::string_view text, std::string_view from, std::string_view to);

// Case mapping of the letters named above.
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
// Remove leading/trailing blanks and control characters (bytes <= ' ').
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);

// --- UTF-8 / UTF-16 ---

// Received bytes as valid UTF-8 text: every invalid or truncated sequence (also overlong forms, surrogates
// and code points above U+10FFFF) becomes U+FFFD.
std::string BytesToUTF8Text(const uint8_t* data, size_t count);
std::string BytesToUTF8Text(const TBytes& bytes);
std::string BytesToUTF8Text(std::string_view bytes);
// True when bytes are well-formed UTF-8 (no overlong forms, surrogates or code points above U+10FFFF).
bool IsValidUTF8(std::string_view bytes);
bool IsValidUTF8(const uint8_t* data, size_t count);
// Number of UTF-16 code units of the text (where a rule counts characters); invalid sequences count as the
// one U+FFFD each they decode to.
size_t UTF16Length(std::string_view utf8);
// Number of code points (invalid sequences count as one each).
size_t CodePointCount(std::string_view utf8);
// Conversions (invalid input becomes U+FFFD).
std::u16string UTF8ToUTF16(std::string_view utf8);
std::string UTF16ToUTF8(std::u16string_view utf16);
std::u32string UTF8ToCodePoints(std::string_view utf8);
std::string CodePointsToUTF8(std::u32string_view codePoints);
void AppendUTF8(std::string& out, char32_t codePoint);
// ISO-8859-1 bytes <-> UTF-8 text (code points above U+00FF become '?').
std::string Latin1ToUTF8(std::string_view latin1);
std::string UTF8ToLatin1(std::string_view utf8);

// The whole content of a stream decoded as UTF-8 (invalid sequences become U+FFFD); the position is unchanged.
std::string UTF8StreamToText(const TbrzMemoryStream& stream);

}  // namespace brz
