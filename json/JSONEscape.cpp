#include "json/JSONEscape.h"

#include <cstdint>

namespace brz {

namespace {

constexpr char32_t kReplacementChar = 0xFFFD;

// Decodes one code point at text[pos] and advances pos. A malformed sequence yields U+FFFD and
// consumes its maximal valid prefix (at least one byte), so decoding always progresses.
char32_t NextCodePoint(std::string_view text, size_t& pos) {
  const auto lead = static_cast<uint8_t>(text[pos++]);
  if (lead < 0x80) return lead;
  int more;
  char32_t cp;
  uint8_t low = 0x80, high = 0xBF;  // range of the second byte (excludes overlongs and surrogates)
  if (lead >= 0xC2 && lead <= 0xDF) {
    more = 1;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    more = 2;
    cp = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    more = 3;
    cp = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return kReplacementChar;
  }
  for (int i = 0; i < more; ++i) {
    if (pos >= text.size()) return kReplacementChar;
    const auto next = static_cast<uint8_t>(text[pos]);
    if (next < low || next > high) return kReplacementChar;
    low = 0x80;
    high = 0xBF;
    cp = (cp << 6) | (next & 0x3F);
    ++pos;
  }
  return cp;
}

void AppendUnit(std::string& out, uint32_t unit) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 0xF];
}

}  // namespace

std::string JSONEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  size_t pos = 0;
  while (pos < text.size()) {
    const char32_t cp = NextCodePoint(text, pos);
    switch (cp) {
      case 8: out += "\\b"; break;
      case 9: out += "\\t"; break;
      case 10: out += "\\n"; break;
      case 12: out += "\\f"; break;
      case 13: out += "\\r"; break;
      case '"':
      case '/':
      case '\\':
        out += '\\';
        out += static_cast<char>(cp);
        break;
      default:
        if (cp < 32) {
          AppendUnit(out, cp);
        } else if (cp < 128) {
          out += static_cast<char>(cp);
        } else if (cp < 0x10000) {
          AppendUnit(out, cp);
        } else {
          const uint32_t v = cp - 0x10000;
          AppendUnit(out, 0xD800 + (v >> 10));
          AppendUnit(out, 0xDC00 + (v & 0x3FF));
        }
    }
  }
  return out;
}

}  // namespace brz

namespace brz {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The code unit of "\uXXXX" starting at text[i] (the backslash), or -1.
int32_t UnicodeEscapeAt(std::string_view text, size_t i) {
  if (i + 6 > text.size()) return -1;
  if (text[i] != '\\' || text[i + 1] != 'u') return -1;
  int32_t value = 0;
  for (size_t k = 2; k < 6; ++k) {
    const int d = HexDigit(text[i + k]);
    if (d < 0) return -1;
    value = value * 16 + d;
  }
  return value;
}

void AppendUTF8(std::string& out, uint32_t cp) {
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

}  // namespace

std::string JSONUnescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\\' || i + 1 >= text.size()) {
      out += c;
      continue;
    }
    const char e = text[i + 1];
    switch (e) {
      case '"': out += '"'; ++i; continue;
      case '\\': out += '\\'; ++i; continue;
      case '/': out += '/'; ++i; continue;
      case 'b': out += '\b'; ++i; continue;
      case 'f': out += '\f'; ++i; continue;
      case 'n': out += '\n'; ++i; continue;
      case 'r': out += '\r'; ++i; continue;
      case 't': out += '\t'; ++i; continue;
      case 'u': {
        const int32_t unit = UnicodeEscapeAt(text, i);
        if (unit < 0) break;
        uint32_t cp = static_cast<uint32_t>(unit);
        size_t consumed = 6;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
          const int32_t low = i + 6 < text.size() ? UnicodeEscapeAt(text, i + 6) : -1;
          if (low >= 0xDC00 && low <= 0xDFFF) {
            cp = 0x10000 + ((static_cast<uint32_t>(unit) - 0xD800) << 10) + (static_cast<uint32_t>(low) - 0xDC00);
            consumed = 12;
          } else {
            cp = 0xFFFD;
          }
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
          cp = 0xFFFD;
        }
        AppendUTF8(out, cp);
        i += consumed - 1;
        continue;
      }
      default:
        break;
    }
    out += c;
  }
  return out;
}

}  // namespace brz
