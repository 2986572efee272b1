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
