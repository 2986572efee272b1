#include "common/TbrzMemoryStream.h"

#include <algorithm>
#include <cstring>

namespace brz {

TbrzMemoryStream::TbrzMemoryStream(const void* data, size_t count)
    : FData(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + count) {}

void TbrzMemoryStream::SetSize(size_t size) { FData.resize(size, 0); }

size_t TbrzMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = 0;
  switch (origin) {
    case TSeekOrigin::soBeginning: base = 0; break;
    case TSeekOrigin::soCurrent: base = static_cast<int64_t>(FPosition); break;
    case TSeekOrigin::soEnd: base = static_cast<int64_t>(FData.size()); break;
  }
  const int64_t target = base + offset;
  FPosition = target < 0 ? 0 : static_cast<size_t>(target);
  return FPosition;
}

size_t TbrzMemoryStream::Write(const void* buffer, size_t count) {
  if (count == 0) return 0;
  if (FData.size() < FPosition + count) FData.resize(FPosition + count, 0);
  std::memmove(FData.data() + FPosition, buffer, count);
  FPosition += count;
  return count;
}

size_t TbrzMemoryStream::Read(void* buffer, size_t count) {
  if (FPosition >= FData.size() || count == 0) return 0;
  const size_t n = std::min(count, FData.size() - FPosition);
  std::memcpy(buffer, FData.data() + FPosition, n);
  FPosition += n;
  return n;
}

TBytes TbrzMemoryStream::ReadBytes(size_t count) {
  if (FPosition >= FData.size()) return {};
  const size_t n = std::min(count, FData.size() - FPosition);
  TBytes out(FData.begin() + static_cast<std::ptrdiff_t>(FPosition),
             FData.begin() + static_cast<std::ptrdiff_t>(FPosition + n));
  FPosition += n;
  return out;
}

size_t TbrzMemoryStream::CopyFrom(TbrzMemoryStream& source, size_t count) {
  if (&source == this) {
    TbrzMemoryStream copy(*this);
    return CopyFrom(copy, count);
  }
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  const TBytes bytes = source.ReadBytes(count);
  Write(bytes);
  return bytes.size();
}

void TbrzMemoryStream::Clear() {
  FData.clear();
  FPosition = 0;
}

void TbrzMemoryStream::LoadFromBytes(const TBytes& bytes) {
  FData = bytes;
  FPosition = 0;
}

}  // namespace brz
