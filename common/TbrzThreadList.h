#pragma once
// A list of pointer-like items (raw or shared pointers) guarded by its own recursive lock.
// Thread-safe: every operation takes the lock; LockList/UnlockList give direct access in between.

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/Exception.h"
#include "common/TbrzCriticalSection.h"

namespace brz {

enum class TDuplicates : uint8_t { dupIgnore, dupAccept, dupError };
enum class TbrzThreadListType : uint8_t { tdlThreadDictionary, tdlOnlyThread, tdlOnlyDictionary };
enum class TDirection : uint8_t { FromBeginning, FromEnd };

// Raised by Add on a dupError list.
class EListError : public Exception {
 public:
  using Exception::Exception;
  std::string ClassName() const override { return "EListError"; }
};

// "List does not allow duplicates ($0%x)" with the item's address.
std::string ListDuplicatesMessage(const void* address);

template <class T>
class TbrzThreadList {
 public:
  using TList = std::vector<T>;

  explicit TbrzThreadList(TbrzThreadListType aListType = TbrzThreadListType::tdlThreadDictionary)
      : FListType(aListType) {}
  virtual ~TbrzThreadList() {
    TbrzLock guard(FLock);
    FList.clear();
  }
  TbrzThreadList(const TbrzThreadList&) = delete;
  TbrzThreadList& operator=(const TbrzThreadList&) = delete;

  // Takes the lock and returns the plain list; UnlockList releases it (pair them on one thread).
  TList& LockList() {
    FLock.Acquire();
    return FList;
  }
  void UnlockList() { FLock.Release(); }
  // The list's lock, for RAII guards around several operations (it is recursive).
  TbrzCriticalSection& Lock() const { return FLock; }

  // Appended when Duplicates is dupAccept or the item is not yet in the list; otherwise nothing for
  // dupIgnore and EListError for dupError.
  void Add(const T& item) {
    TbrzLock guard(FLock);
    if (FDuplicates == TDuplicates::dupAccept || std::find(FList.begin(), FList.end(), item) == FList.end()) {
      FList.push_back(item);
    } else if (FDuplicates == TDuplicates::dupError) {
      throw EListError(ListDuplicatesMessage(AddressOf(item)));
    }
  }
  // Keys are not used by this build's list types.
  void AddKey(const T& item, std::string_view /*key*/) { Add(item); }
  void DeleteKey(size_t index, std::string_view /*key*/) { Delete(index); }
  T GetValue(std::string_view /*key*/) const { return T{}; }

  // Out-of-range indexes change nothing.
  void Delete(size_t index) {
    TbrzLock guard(FLock);
    if (index < FList.size()) FList.erase(FList.begin() + static_cast<std::ptrdiff_t>(index));
  }
  // Removes the first occurrence.
  void Remove(const T& item) { RemoveItem(item, TDirection::FromBeginning); }
  // Removes the first occurrence found searching from the start or from the end.
  void RemoveItem(const T& item, TDirection direction) {
    TbrzLock guard(FLock);
    if (direction == TDirection::FromBeginning) {
      auto it = std::find(FList.begin(), FList.end(), item);
      if (it != FList.end()) FList.erase(it);
    } else {
      auto it = std::find(FList.rbegin(), FList.rend(), item);
      if (it != FList.rend()) FList.erase(std::next(it).base());
    }
  }
  virtual void Clear() {
    TbrzLock guard(FLock);
    FList.clear();
  }
  bool Contains(const T& item) const {
    TbrzLock guard(FLock);
    return std::find(FList.begin(), FList.end(), item) != FList.end();
  }
  // Number of entries of the plain list.
  size_t ListCount() const {
    TbrzLock guard(FLock);
    return FList.size();
  }
  bool IsEmpty() const {
    TbrzLock guard(FLock);
    return FList.empty();
  }
  TDuplicates Duplicates() const {
    TbrzLock guard(FLock);
    return FDuplicates;
  }
  void SetDuplicates(TDuplicates value) {
    TbrzLock guard(FLock);
    FDuplicates = value;
  }
  TbrzThreadListType ListType() const {
    TbrzLock guard(FLock);
    return FListType;
  }
  void SetListType(TbrzThreadListType value) {
    TbrzLock guard(FLock);
    FListType = value;
  }

 protected:
  static const void* AddressOf(const T& item) {
    if constexpr (std::is_pointer_v<T>) {
      return static_cast<const void*>(item);
    } else if constexpr (requires { item.get(); }) {
      return static_cast<const void*>(item.get());
    } else {
      return static_cast<const void*>(&item);
    }
  }

  TList FList;
  mutable TbrzCriticalSection FLock;
  TDuplicates FDuplicates = TDuplicates::dupIgnore;
  TbrzThreadListType FListType;
};

}  // namespace brz
