#include "common/Memory.h"

#include <cstring>
#include <stdexcept>

#include "common/CommonMessages.h"
#include "common/TbrzMemoryStream.h"

namespace brz {

void CopyBytes(const void* source, void* dest, int64_t count) {
  if (count > 0) std::memmove(dest, source, static_cast<size_t>(count));
}

void CopyBytes(const TBytes& source, size_t sourceIndex, TBytes& dest, size_t destIndex, int64_t count) {
  if (count <= 0) return;
  const size_t n = static_cast<size_t>(count);
  if (sourceIndex > source.size() || n > source.size() - sourceIndex)
    throw std::out_of_range(std::string(kCopyBytesSourceRange));
  if (dest.size() < destIndex + n) dest.resize(destIndex + n);
  std::memmove(dest.data() + destIndex, source.data() + sourceIndex, n);
}

void AppendBytes(const TBytes& source, TBytes& dest) {
  if (source.empty()) return;
  if (&source == &dest) {
    const TBytes copy(source);
    dest.insert(dest.end(), copy.begin(), copy.end());
    return;
  }
  dest.insert(dest.end(), source.begin(), source.end());
}

void AppendBytes(const void* source, size_t count, TBytes& dest) {
  if (count == 0) return;
  const auto* p = static_cast<const uint8_t*>(source);
  dest.insert(dest.end(), p, p + count);
}

void AppendBytes(std::string_view source, TBytes& dest) { AppendBytes(source.data(), source.size(), dest); }

void KeepLastBytes(TbrzMemoryStream& stream, size_t n) {
  const size_t size = stream.Size();
  if (n < size) {
    std::memmove(stream.Memory(), stream.Memory() + (size - n), n);
    stream.SetSize(n);
  }
  stream.SetPosition(0);
}

TBytes StringToBytes(std::string_view text) { return TBytes(text.begin(), text.end()); }

std::string BytesToString(const TBytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace brz
