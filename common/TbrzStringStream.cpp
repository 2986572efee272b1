#include "common/TbrzStringStream.h"

#include "common/Text.h"

namespace brz {

static std::string Encode(std::string_view text, TbrzTextEncoding encoding) {
  return encoding == TbrzTextEncoding::teUTF8 ? BytesToUTF8Text(text) : UTF8ToLatin1(text);
}

static std::string Decode(std::string_view bytes, TbrzTextEncoding encoding) {
  return encoding == TbrzTextEncoding::teUTF8 ? BytesToUTF8Text(bytes) : Latin1ToUTF8(bytes);
}

TbrzStringStream::TbrzStringStream(std::string_view text, TbrzTextEncoding encoding) : FEncoding(encoding) {
  Write(Encode(text, encoding));
  FPosition = 0;
}

std::string TbrzStringStream::DataString() const {
  return Decode(std::string_view(reinterpret_cast<const char*>(FData.data()), FData.size()), FEncoding);
}

void TbrzStringStream::WriteString(std::string_view text) { Write(Encode(text, FEncoding)); }

std::string TbrzStringStream::ReadString(size_t count) {
  const TBytes bytes = ReadBytes(count);
  return Decode(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), FEncoding);
}

}  // namespace brz
