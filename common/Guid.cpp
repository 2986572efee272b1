#include "common/Guid.h"

#include "common/Encoding.h"
#include "common/Text.h"

namespace brz {

std::string NewGuidString() {
  TBytes b = RandomBytes(16);
  b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  const std::string hex = BytesToHex(b);
  return "{" + hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) + "-" +
         hex.substr(20) + "}";
}

std::string NewGuidText() {
  std::string text = NewGuidString();
  text = TextReplace(text, "{", "");
  text = TextReplace(text, "}", "");
  return TextReplace(text, "-", "");
}

}  // namespace brz
