#pragma once
// Growable bytes with a read/write position. Not thread-safe: one owner at a time (guard it otherwise).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/Bytes.h"

namespace brz {

enum class TSeekOrigin : uint8_t { soBeginning, soCurrent, soEnd };

class TbrzMemoryStream {
 public:
  TbrzMemoryStream() = default;
  explicit TbrzMemoryStream(TBytes data) : FData(std::move(data)) {}
  TbrzMemoryStream(const void* data, size_t count);
  virtual ~TbrzMemoryStream() = default;
  TbrzMemoryStream(const TbrzMemoryStream&) = default;
  TbrzMemoryStream& operator=(const TbrzMemoryStream&) = default;
  TbrzMemoryStream(TbrzMemoryStream&&) noexcept = default;
  TbrzMemoryStream& operator=(TbrzMemoryStream&&) noexcept = default;

  size_t Size() const { return FData.size(); }
  // New bytes are zero; the position is kept, also when it now lies past the end.
  void SetSize(size_t size);
  size_t Position() const { return FPosition; }
  // A position past the end is allowed: the next Write fills the gap with zeros, Read returns nothing.
  void SetPosition(size_t position) { FPosition = position; }
  // Returns the new position; a result below 0 is clamped to 0.
  size_t Seek(int64_t offset, TSeekOrigin origin = TSeekOrigin::soBeginning);

  // Writes at the position (growing the stream as needed) and advances it; returns count.
  size_t Write(const void* buffer, size_t count);
  size_t Write(const TBytes& bytes) { return Write(bytes.data(), bytes.size()); }
  size_t Write(std::string_view bytes) { return Write(bytes.data(), bytes.size()); }
  void WriteByte(uint8_t value) { Write(&value, 1); }
  // Reads up to count bytes from the position and advances it; returns the number read.
  size_t Read(void* buffer, size_t count);
  // Up to count bytes from the position (advances it).
  TBytes ReadBytes(size_t count);
  // Copies count bytes from source's position (advancing it), or, when count is 0, the whole of source
  // from its start (source's position ends at its end). Returns the number of bytes copied.
  size_t CopyFrom(TbrzMemoryStream& source, size_t count);

  // Empties the stream and sets the position to 0.
  void Clear();
  // Direct access to the content (valid until the next size change).
  uint8_t* Memory() { return FData.data(); }
  const uint8_t* Memory() const { return FData.data(); }
  const TBytes& Bytes() const { return FData; }
  // The whole content (independent of the position).
  TBytes ToBytes() const { return FData; }
  std::string ToString() const { return std::string(FData.begin(), FData.end()); }
  // Replaces the content; position 0.
  void LoadFromBytes(const TBytes& bytes);

 protected:
  TBytes FData;
  size_t FPosition = 0;
};

}  // namespace brz
