#pragma once
// In-memory text stream: a memory stream whose content is the bytes of a text in an encoding.

#include <string>
#include <string_view>

#include "common/TbrzMemoryStream.h"

namespace brz {

// teANSI is this build's default single-byte code page: ISO-8859-1 (code points above U+00FF become '?').
enum class TbrzTextEncoding : uint8_t { teANSI, teUTF8 };

class TbrzStringStream : public TbrzMemoryStream {
 public:
  TbrzStringStream() = default;
  // text is UTF-8 (as every std::string text of the system); stored in the given encoding, position 0.
  explicit TbrzStringStream(std::string_view text, TbrzTextEncoding encoding = TbrzTextEncoding::teANSI);
  TbrzTextEncoding Encoding() const { return FEncoding; }
  // The whole content decoded from the stream's encoding to UTF-8 text (invalid UTF-8 becomes U+FFFD).
  std::string DataString() const;
  // Encodes text and writes it at the position.
  void WriteString(std::string_view text);
  // Up to count bytes from the position, decoded to UTF-8 text.
  std::string ReadString(size_t count);

 private:
  TbrzTextEncoding FEncoding = TbrzTextEncoding::teANSI;
};

}  // namespace brz
