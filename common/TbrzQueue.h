#pragma once
// Keyed item queues: guarded lists of items with an identifier (ID) and a sort key (Order).
// Thread-safe: each queue has its own recursive lock, held for the whole of every operation.
// Items are shared (std::shared_ptr): a queue's reference keeps an item alive, and an item handed out by
// GetItem stays valid for its holder even after another thread removed it. OwnObjects is kept as a flag:
// with shared ownership "removing destroys" means the queue drops its reference.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "common/TbrzThreadList.h"

namespace brz {

class TbrzQueueItemBase {
 public:
  TbrzQueueItemBase() = default;
  explicit TbrzQueueItemBase(std::string aID, int64_t aOrder = 0) : FOrder(aOrder), FID(std::move(aID)) {}
  virtual ~TbrzQueueItemBase() = default;
  int64_t Order() const { return FOrder; }
  void SetOrder(int64_t value) { FOrder = value; }
  const std::string& ID() const { return FID; }
  void SetID(std::string value) { FID = std::move(value); }

 protected:
  int64_t FOrder = 0;
  std::string FID;
};

// An item that names the queue (channel) it belongs to.
class TbrzQueueNameItemBase : public TbrzQueueItemBase {
 public:
  TbrzQueueNameItemBase() = default;
  TbrzQueueNameItemBase(std::string aQueue, std::string aID, int64_t aOrder = 0)
      : TbrzQueueItemBase(std::move(aID), aOrder), FQueue(std::move(aQueue)) {}
  const std::string& Queue() const { return FQueue; }
  void SetQueue(std::string value) { FQueue = std::move(value); }

 protected:
  std::string FQueue;
};

using TbrzQueueItemPtr = std::shared_ptr<TbrzQueueItemBase>;
using TbrzQueueNameItemPtr = std::shared_ptr<TbrzQueueNameItemBase>;

// A guarded list of shared items of type TItem.
template <class TItem>
class TbrzQueueCommon : public TbrzThreadList<std::shared_ptr<TItem>> {
 public:
  ~TbrzQueueCommon() override { Clear(); }
  // Removes every item from the last to the first.
  void Clear() override {
    TbrzLock guard(this->FLock);
    while (!this->FList.empty()) this->FList.pop_back();
  }
  // Number of items.
  virtual size_t Count() const { return this->ListCount(); }
  bool OwnObjects() const {
    TbrzLock guard(this->FLock);
    return FOwnObjects;
  }
  void SetOwnObjects(bool value) {
    TbrzLock guard(this->FLock);
    FOwnObjects = value;
  }

 protected:
  bool FOwnObjects = false;
};

// Look-up by identifier and by index.
class TbrzQueueBase : public TbrzQueueCommon<TbrzQueueItemBase> {
 public:
  // Appends (no duplicate test).
  virtual void AddItem(TbrzQueueItemPtr item);
  // Removes the first item whose ID equals aID exactly; true when one was found.
  virtual bool DeleteItem(std::string_view aID);
  // Removes the item at index when index is below Count; true then.
  virtual bool DeleteItemByIndex(size_t index);
  bool DeleteItem(size_t index) { return DeleteItemByIndex(index); }
  // The first item with that ID, or none.
  virtual TbrzQueueItemPtr GetItem(std::string_view aID) const;
  // The item at index, or none when index is not below Count.
  virtual TbrzQueueItemPtr GetItemByIndex(size_t index) const;
  TbrzQueueItemPtr GetItem(size_t index) const { return GetItemByIndex(index); }
  // GetItem cast to a derived item type (none when absent or of another type).
  template <class T>
  std::shared_ptr<T> GetItemAs(std::string_view aID) const {
    return std::dynamic_pointer_cast<T>(GetItem(aID));
  }
};

// A bounded queue that drops its oldest item: when MaxItems > 0 and Count has reached it, AddItem first
// deletes the first item (by its ID), then appends.
class TbrzFIFOQueue : public TbrzQueueBase {
 public:
  void AddItem(TbrzQueueItemPtr item) override;
  int32_t MaxItems() const;
  void SetMaxItems(int32_t value);

 private:
  int32_t FMaxItems = 0;
};

// Sorting by Order.
class TbrzQueue : public TbrzQueueBase {
 public:
  // Ascending puts smaller orders first, otherwise larger first; equal orders keep their sequence.
  void SortByOrder(bool aAscending);
};

// A queue with a small look-up cache (a FIFO of the most recently looked-up items) in front.
// The cache never owns; the queue owns when OwnObjects is set. The two inner locks are taken one after the
// other, never both at once.
class TbrzCacheQueue {
 public:
  TbrzCacheQueue();
  virtual ~TbrzCacheQueue();
  TbrzCacheQueue(const TbrzCacheQueue&) = delete;
  TbrzCacheQueue& operator=(const TbrzCacheQueue&) = delete;

  // Appends to the queue only.
  void AddItem(TbrzQueueItemPtr item);
  // CacheSize <= 0: looks in the queue. Otherwise in the cache first, then in the queue; an item found in
  // the queue enters the cache (evicting the oldest cached item when full).
  TbrzQueueItemPtr GetItem(std::string_view aID);
  // Removed from the cache (when caching) and from the queue; the result is the queue's.
  bool DeleteItem(std::string_view aID);
  TbrzQueueItemPtr GetItemByIndex(size_t index) const;
  size_t Count() const;
  bool OwnObjects() const;
  void SetOwnObjects(bool value);
  // Clears cache and queue.
  void Clear();
  // The cache's MaxItems.
  int32_t CacheSize() const;
  void SetCacheSize(int32_t value);
  std::string QueueName() const;
  void SetQueueName(std::string value);
  TbrzFIFOQueue& Cache() { return *FCache; }
  TbrzQueue& Queue() { return *FQueue; }

 private:
  std::unique_ptr<TbrzFIFOQueue> FCache;
  std::unique_ptr<TbrzQueue> FQueue;
  mutable std::mutex FNameLock;  // guards FQueueName
  std::string FQueueName;
};

// Items spread over TbrzCacheQueues by ID prefix: the group key is the first GroupLevel characters (bytes)
// of the ID, empty when GroupLevel <= 0.
class TbrzCacheQueueListBase : public TbrzQueueCommon<TbrzCacheQueue> {
 public:
  // Into the group's queue, created when missing (with CacheSize, OwnObjects true, appended to the list).
  void AddItem(TbrzQueueItemPtr item);
  // Go to the queue of the ID's key (an empty one is created when missing).
  TbrzQueueItemPtr GetItem(std::string_view aID);
  bool DeleteItem(std::string_view aID);
  // Sum of the items over all groups.
  size_t Count() const override;
  // Number of groups.
  size_t QueueCount() const { return ListCount(); }
  // The group's queue for a key, created when missing.
  std::shared_ptr<TbrzCacheQueue> GetQueue(std::string_view aKey);
  std::string GroupKey(std::string_view aID) const;
  int32_t CacheSize() const;
  void SetCacheSize(int32_t value);
  int32_t GroupLevel() const;
  void SetGroupLevel(int32_t value);

 private:
  int32_t FCacheSize = 0;
  int32_t FGroupLevel = 0;
};

// Component wrapper of TbrzCacheQueueListBase (which it owns).
class TbrzCacheQueueList {
 public:
  TbrzCacheQueueList();
  virtual ~TbrzCacheQueueList();
  TbrzCacheQueueList(const TbrzCacheQueueList&) = delete;
  TbrzCacheQueueList& operator=(const TbrzCacheQueueList&) = delete;
  void AddItem(TbrzQueueItemPtr item) { FQueueCache->AddItem(std::move(item)); }
  TbrzQueueItemPtr GetItem(std::string_view aID) { return FQueueCache->GetItem(aID); }
  bool DeleteItem(std::string_view aID) { return FQueueCache->DeleteItem(aID); }
  size_t Count() const { return FQueueCache->Count(); }
  void Clear() { FQueueCache->Clear(); }
  int32_t CacheSize() const { return FQueueCache->CacheSize(); }
  void SetCacheSize(int32_t value) { FQueueCache->SetCacheSize(value); }
  int32_t GroupLevel() const { return FQueueCache->GroupLevel(); }
  void SetGroupLevel(int32_t value) { FQueueCache->SetGroupLevel(value); }
  TbrzCacheQueueListBase& QueueCache() { return *FQueueCache; }

 private:
  std::unique_ptr<TbrzCacheQueueListBase> FQueueCache;
};

// One named queue (channel).
class TbrzQueueNameBase : public TbrzQueueBase {
 public:
  TbrzQueueNameBase() = default;
  explicit TbrzQueueNameBase(std::string aQueueName) : FQueueName(std::move(aQueueName)) {}
  std::string QueueName() const;
  void SetQueueName(std::string value);

 private:
  std::string FQueueName;  // guarded by FLock
};

// A set of named queues (channels); OwnObjects is true.
class TbrzQueueNameListBase : public TbrzQueueCommon<TbrzQueueNameBase> {
 public:
  TbrzQueueNameListBase();
  // Into the queue named item->Queue() (created when missing) unless an item with the same ID is already
  // there; true when added.
  bool AddItem(TbrzQueueNameItemPtr item);
  // From every queue; true when some queue had it.
  bool DeleteItem(std::string_view aID);
  // From the first queue with that name; true when that queue exists.
  bool DeleteItem(std::string_view aQueueName, std::string_view aID);
  // The queue with that name, created when missing.
  std::shared_ptr<TbrzQueueNameBase> GetQueueByName(std::string_view aQueueName);
  // The queue with that name, or none (never creates).
  std::shared_ptr<TbrzQueueNameBase> FindQueueByName(std::string_view aQueueName) const;
  // The queue names from the last queue to the first, comma-delimited (strict, no quoting).
  std::string GetQueuesDelimitedText() const;
  // Sum of the items over all queues.
  size_t Count() const override;
  size_t QueueCount() const { return ListCount(); }
};

}  // namespace brz
