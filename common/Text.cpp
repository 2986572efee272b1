#include "common/Text.h"

#include <vector>

#include "common/TbrzMemoryStream.h"

namespace brz {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsCont(uint8_t b) { return (b & 0xC0) == 0x80; }

// Decodes one code point at data[i]; advances i past it. On an ill-formed sequence returns false and advances
// past its maximal subpart (at least one byte), so each subpart becomes one U+FFFD.
bool DecodeNext(const uint8_t* data, size_t count, size_t& i, char32_t& cp) {
  const uint8_t b0 = data[i];
  if (b0 < 0x80) {
    cp = b0;
    ++i;
    return true;
  }
  size_t need;
  uint8_t lo = 0x80, hi = 0xBF;  // bounds of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;  // overlong
    if (b0 == 0xED) hi = 0x9F;  // surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;  // overlong
    if (b0 == 0xF4) hi = 0x8F;  // above U+10FFFF
  } else {
    ++i;
    return false;
  }
  size_t j = i + 1;
  for (size_t k = 0; k < need; ++k, ++j) {
    if (j >= count) {
      i = j;
      return false;
    }
    const uint8_t b = data[j];
    const bool ok = k == 0 ? (b >= lo && b <= hi) : IsCont(b);
    if (!ok) {
      i = j;
      return false;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  i = j;
  return true;
}

char32_t ToLower(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if (c == 0x178) return 0xFF;
  if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return (c % 2 == 0) ? c + 1 : c;
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c % 2 == 1) ? c + 1 : c;
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

char32_t ToUpper(char32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 32 : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
  if (c == 0xFF) return 0x178;
  if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return (c % 2 == 1) ? c - 1 : c;
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c % 2 == 0) ? c - 1 : c;
  if (c == 0x3C2) return 0x3A3;
  if (c >= 0x3B1 && c <= 0x3C9) return c - 32;
  if (c >= 0x430 && c <= 0x44F) return c - 32;
  if (c >= 0x450 && c <= 0x45F) return c - 80;
  return c;
}

// Maps every well-formed code point; ill-formed bytes are copied unchanged.
template <class F>
std::string MapCase(std::string_view text, F map) {
  std::string out;
  out.reserve(text.size());
  const auto* data = reinterpret_cast<const uint8_t*>(text.data());
  size_t i = 0;
  while (i < text.size()) {
    const size_t start = i;
    char32_t cp;
    if (DecodeNext(data, text.size(), i, cp)) {
      AppendUTF8(out, map(cp));
    } else {
      out.append(text.substr(start, i - start));
    }
  }
  return out;
}

std::u32string Folded(std::string_view text) {
  std::u32string cps = UTF8ToCodePoints(text);
  for (auto& c : cps) c = ToLower(c);
  return cps;
}

// One element of a parsed mask.
struct TMaskToken {
  enum TKind { mtLiteral, mtAny, mtStar, mtSet };
  explicit TMaskToken(TKind kind, char32_t c = 0) : Kind(kind), Char(c) {}
  TKind Kind;
  char32_t Char;                                      // mtLiteral: the folded character
  std::vector<std::pair<char32_t, char32_t>> Ranges;  // mtSet
  bool Negated = false;                               // mtSet
};

std::vector<TMaskToken> ParseMask(const std::u32string& mask) {
  std::vector<TMaskToken> tokens;
  for (size_t i = 0; i < mask.size(); ++i) {
    const char32_t c = mask[i];
    if (c == '*') {
      if (tokens.empty() || tokens.back().Kind != TMaskToken::mtStar) tokens.emplace_back(TMaskToken::mtStar);
    } else if (c == '?') {
      tokens.emplace_back(TMaskToken::mtAny);
    } else if (c == '[' && mask.find(U']', i + 1) != std::u32string::npos) {
      TMaskToken set(TMaskToken::mtSet);
      size_t j = i + 1;
      if (mask[j] == '!' || mask[j] == '^') {
        set.Negated = true;
        ++j;
      }
      while (j < mask.size() && mask[j] != ']') {
        const char32_t lo = mask[j];
        if (j + 2 < mask.size() && mask[j + 1] == '-' && mask[j + 2] != ']') {
          set.Ranges.push_back({lo, mask[j + 2]});
          j += 3;
        } else {
          set.Ranges.push_back({lo, lo});
          ++j;
        }
      }
      if (j >= mask.size()) {  // the ']' was the negation's own character: take '[' literally
        tokens.emplace_back(TMaskToken::mtLiteral, ToLower(c));
        continue;
      }
      tokens.push_back(std::move(set));
      i = j;
    } else {
      tokens.emplace_back(TMaskToken::mtLiteral, ToLower(c));
    }
  }
  return tokens;
}

bool InRange(char32_t c, char32_t lo, char32_t hi) { return c >= lo && c <= hi; }

// c is the folded text character, raw its original.
bool TokenMatches(const TMaskToken& t, char32_t raw, char32_t c) {
  switch (t.Kind) {
    case TMaskToken::mtLiteral: return t.Char == c;
    case TMaskToken::mtAny: return true;
    case TMaskToken::mtSet: {
      bool hit = false;
      const char32_t up = ToUpper(raw);
      for (const auto& [lo, hi] : t.Ranges) {
        if (InRange(raw, lo, hi) || InRange(c, lo, hi) || InRange(up, lo, hi)) {
          hit = true;
          break;
        }
      }
      return hit != t.Negated;
    }
    case TMaskToken::mtStar: return false;
  }
  return false;
}

}  // namespace

void AppendUTF8(std::string& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::u32string UTF8ToCodePoints(std::string_view utf8) {
  std::u32string out;
  out.reserve(utf8.size());
  const auto* data = reinterpret_cast<const uint8_t*>(utf8.data());
  size_t i = 0;
  while (i < utf8.size()) {
    char32_t cp;
    out += DecodeNext(data, utf8.size(), i, cp) ? cp : kReplacement;
  }
  return out;
}

std::string CodePointsToUTF8(std::u32string_view codePoints) {
  std::string out;
  out.reserve(codePoints.size());
  for (char32_t cp : codePoints) AppendUTF8(out, cp);
  return out;
}

bool TextContains(std::string_view text, std::string_view sub) {
  if (sub.empty()) return true;
  return Folded(text).find(Folded(sub)) != std::u32string::npos;
}

bool TextStartsWith(std::string_view text, std::string_view sub) { return Folded(text).starts_with(Folded(sub)); }

bool TextEndsWith(std::string_view text, std::string_view sub) { return Folded(text).ends_with(Folded(sub)); }

bool SameText(std::string_view a, std::string_view b) { return Folded(a) == Folded(b); }

bool TextMatchesMask(std::string_view text, std::string_view mask) {
  const std::u32string raw = UTF8ToCodePoints(text);
  std::u32string folded = raw;
  for (auto& c : folded) c = ToLower(c);
  const std::vector<TMaskToken> tokens = ParseMask(UTF8ToCodePoints(mask));
  // Greedy match with back-tracking to the last '*'.
  size_t t = 0, m = 0;
  size_t starToken = std::string::npos, starText = 0;
  while (t < folded.size()) {
    if (m < tokens.size() && tokens[m].Kind == TMaskToken::mtStar) {
      starToken = m++;
      starText = t;
    } else if (m < tokens.size() && TokenMatches(tokens[m], raw[t], folded[t])) {
      ++m;
      ++t;
    } else if (starToken != std::string::npos) {
      m = starToken + 1;
      t = ++starText;
    } else {
      return false;
    }
  }
  while (m < tokens.size() && tokens[m].Kind == TMaskToken::mtStar) ++m;
  return m == tokens.size();
}

std::string TextReplace(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  for (;;) {
    const size_t hit = text.find(from, pos);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(pos, hit - pos));
    out.append(to);
    pos = hit + from.size();
  }
  out.append(text.substr(pos));
  return out;
}

std::string UpperCase(std::string_view text) { return MapCase(text, ToUpper); }
std::string LowerCase(std::string_view text) { return MapCase(text, ToLower); }

std::string TrimLeft(std::string_view text) {
  size_t b = 0;
  while (b < text.size() && static_cast<uint8_t>(text[b]) <= ' ') ++b;
  return std::string(text.substr(b));
}

std::string TrimRight(std::string_view text) {
  size_t e = text.size();
  while (e > 0 && static_cast<uint8_t>(text[e - 1]) <= ' ') --e;
  return std::string(text.substr(0, e));
}

std::string Trim(std::string_view text) { return TrimLeft(TrimRight(text)); }

std::string BytesToUTF8Text(const uint8_t* data, size_t count) {
  std::string out;
  out.reserve(count);
  size_t i = 0;
  while (i < count) {
    const size_t start = i;
    char32_t cp;
    if (DecodeNext(data, count, i, cp)) {
      out.append(reinterpret_cast<const char*>(data + start), i - start);
    } else {
      AppendUTF8(out, kReplacement);
    }
  }
  return out;
}

std::string BytesToUTF8Text(const TBytes& bytes) { return BytesToUTF8Text(bytes.data(), bytes.size()); }

std::string BytesToUTF8Text(std::string_view bytes) {
  return BytesToUTF8Text(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

bool IsValidUTF8(const uint8_t* data, size_t count) {
  size_t i = 0;
  while (i < count) {
    char32_t cp;
    if (!DecodeNext(data, count, i, cp)) return false;
  }
  return true;
}

bool IsValidUTF8(std::string_view bytes) {
  return IsValidUTF8(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

size_t UTF16Length(std::string_view utf8) {
  size_t n = 0;
  const auto* data = reinterpret_cast<const uint8_t*>(utf8.data());
  size_t i = 0;
  while (i < utf8.size()) {
    char32_t cp;
    n += (DecodeNext(data, utf8.size(), i, cp) && cp >= 0x10000) ? 2 : 1;
  }
  return n;
}

size_t CodePointCount(std::string_view utf8) {
  size_t n = 0;
  const auto* data = reinterpret_cast<const uint8_t*>(utf8.data());
  size_t i = 0;
  while (i < utf8.size()) {
    char32_t cp;
    DecodeNext(data, utf8.size(), i, cp);
    ++n;
  }
  return n;
}

std::u16string UTF8ToUTF16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (char32_t cp : UTF8ToCodePoints(utf8)) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string UTF16ToUTF8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (size_t i = 0; i < utf16.size(); ++i) {
    const char16_t u = utf16[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
      AppendUTF8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (utf16[i + 1] - 0xDC00));
      ++i;
    } else {
      AppendUTF8(out, (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : u);
    }
  }
  return out;
}

std::string Latin1ToUTF8(std::string_view latin1) {
  std::string out;
  out.reserve(latin1.size());
  for (char c : latin1) AppendUTF8(out, static_cast<uint8_t>(c));
  return out;
}

std::string UTF8ToLatin1(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (char32_t cp : UTF8ToCodePoints(utf8)) out += cp <= 0xFF ? static_cast<char>(cp) : '?';
  return out;
}

std::string UTF8StreamToText(const TbrzMemoryStream& stream) {
  return BytesToUTF8Text(stream.Memory(), stream.Size());
}

}  // namespace brz
