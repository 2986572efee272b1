#pragma once
// Ownership and byte helpers.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>

#include "common/Bytes.h"

namespace brz {

class TbrzMemoryStream;

// Runs fn and swallows whatever it raises: the one place where a failure is deliberately ignored
// (destroying objects whose destructor may raise, releasing in clean-up paths).
template <class F>
void RunQuietly(F&& fn) noexcept {
  try {
    std::forward<F>(fn)();
  } catch (...) {  // deliberately swallowed: the caller asked for a quiet run
  }
}

// Destroys the owned object (if any); the reference is emptied before the object is destroyed, so code run
// by the destructor already sees an empty reference.
template <class T, class D>
void FreeAndClear(std::unique_ptr<T, D>& ref) {
  T* doomed = ref.release();
  if (doomed) ref.get_deleter()(doomed);
}

// Drops this reference (empties it first); the object goes when its last reference goes.
template <class T>
void FreeAndClear(std::shared_ptr<T>& ref) {
  std::shared_ptr<T> doomed(std::move(ref));
  ref = nullptr;
  doomed.reset();
}

// FreeAndClear, swallowing anything raised while destroying (destructors declared noexcept(false)).
template <class P>
void FreeQuietly(P& ref) noexcept {
  RunQuietly([&ref] { FreeAndClear(ref); });
}

// Copies count bytes from source to dest when count is greater than 0; nothing otherwise.
// The ranges must not overlap beyond what memmove allows (overlap is allowed).
void CopyBytes(const void* source, void* dest, int64_t count);
// Range-checked form: copies count bytes from source[sourceIndex] to dest[destIndex]; dest grows when the
// copy ends past its size. Raises std::out_of_range when the source range is not inside source.
void CopyBytes(const TBytes& source, size_t sourceIndex, TBytes& dest, size_t destIndex, int64_t count);

// Appends all bytes of source to dest; an empty source changes nothing.
void AppendBytes(const TBytes& source, TBytes& dest);
void AppendBytes(const void* source, size_t count, TBytes& dest);
void AppendBytes(std::string_view source, TBytes& dest);

// Keeps only the last n bytes of the stream, moved to its start; size becomes n (or stays, when the stream
// is shorter than n), position 0.
void KeepLastBytes(TbrzMemoryStream& stream, size_t n);

// Bytes <-> std::string holding the same bytes (one char per byte, no text conversion).
TBytes StringToBytes(std::string_view text);
std::string BytesToString(const TBytes& bytes);

}  // namespace brz
