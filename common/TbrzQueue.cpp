#include "common/TbrzQueue.h"

#include <algorithm>

#include "common/TbrzDelimitedStringList.h"

namespace brz {

// --- TbrzQueueBase ---

void TbrzQueueBase::AddItem(TbrzQueueItemPtr item) {
  TbrzLock guard(FLock);
  FList.push_back(std::move(item));
}

bool TbrzQueueBase::DeleteItem(std::string_view aID) {
  TbrzQueueItemPtr removed;  // released after the lock, so an item's destructor never runs under it
  {
    TbrzLock guard(FLock);
    auto it = std::find_if(FList.begin(), FList.end(), [&](const TbrzQueueItemPtr& p) { return p && p->ID() == aID; });
    if (it == FList.end()) return false;
    removed = std::move(*it);
    FList.erase(it);
  }
  return true;
}

bool TbrzQueueBase::DeleteItemByIndex(size_t index) {
  TbrzQueueItemPtr removed;
  {
    TbrzLock guard(FLock);
    if (index >= FList.size()) return false;
    removed = std::move(FList[index]);
    FList.erase(FList.begin() + static_cast<std::ptrdiff_t>(index));
  }
  return true;
}

TbrzQueueItemPtr TbrzQueueBase::GetItem(std::string_view aID) const {
  TbrzLock guard(FLock);
  for (const auto& p : FList)
    if (p && p->ID() == aID) return p;
  return nullptr;
}

TbrzQueueItemPtr TbrzQueueBase::GetItemByIndex(size_t index) const {
  TbrzLock guard(FLock);
  return index < FList.size() ? FList[index] : nullptr;
}

// --- TbrzFIFOQueue ---

void TbrzFIFOQueue::AddItem(TbrzQueueItemPtr item) {
  TbrzLock guard(FLock);
  if (FMaxItems > 0 && FList.size() >= static_cast<size_t>(FMaxItems) && !FList.empty()) {
    // The oldest item goes by its identifier (the first item with that ID).
    const std::string oldest = FList.front() ? FList.front()->ID() : std::string();
    if (!FList.front() || !DeleteItem(oldest)) FList.erase(FList.begin());
  }
  FList.push_back(std::move(item));
}

int32_t TbrzFIFOQueue::MaxItems() const {
  TbrzLock guard(FLock);
  return FMaxItems;
}

void TbrzFIFOQueue::SetMaxItems(int32_t value) {
  TbrzLock guard(FLock);
  FMaxItems = value;
}

// --- TbrzQueue ---

void TbrzQueue::SortByOrder(bool aAscending) {
  TbrzLock guard(FLock);
  auto order = [](const TbrzQueueItemPtr& p) { return p ? p->Order() : 0; };
  std::stable_sort(FList.begin(), FList.end(), [&](const TbrzQueueItemPtr& a, const TbrzQueueItemPtr& b) {
    return aAscending ? order(a) < order(b) : order(a) > order(b);
  });
}

// --- TbrzCacheQueue ---

TbrzCacheQueue::TbrzCacheQueue() : FCache(std::make_unique<TbrzFIFOQueue>()), FQueue(std::make_unique<TbrzQueue>()) {}

TbrzCacheQueue::~TbrzCacheQueue() = default;

void TbrzCacheQueue::AddItem(TbrzQueueItemPtr item) { FQueue->AddItem(std::move(item)); }

TbrzQueueItemPtr TbrzCacheQueue::GetItem(std::string_view aID) {
  if (FCache->MaxItems() <= 0) return FQueue->GetItem(aID);
  if (TbrzQueueItemPtr cached = FCache->GetItem(aID)) return cached;
  TbrzQueueItemPtr item = FQueue->GetItem(aID);
  if (item) FCache->AddItem(item);
  return item;
}

bool TbrzCacheQueue::DeleteItem(std::string_view aID) {
  if (FCache->MaxItems() > 0) FCache->DeleteItem(aID);
  return FQueue->DeleteItem(aID);
}

TbrzQueueItemPtr TbrzCacheQueue::GetItemByIndex(size_t index) const { return FQueue->GetItemByIndex(index); }

size_t TbrzCacheQueue::Count() const { return FQueue->Count(); }

bool TbrzCacheQueue::OwnObjects() const { return FQueue->OwnObjects(); }

void TbrzCacheQueue::SetOwnObjects(bool value) { FQueue->SetOwnObjects(value); }

void TbrzCacheQueue::Clear() {
  FCache->Clear();
  FQueue->Clear();
}

int32_t TbrzCacheQueue::CacheSize() const { return FCache->MaxItems(); }

void TbrzCacheQueue::SetCacheSize(int32_t value) { FCache->SetMaxItems(value); }

std::string TbrzCacheQueue::QueueName() const {
  std::lock_guard<std::mutex> guard(FNameLock);
  return FQueueName;
}

void TbrzCacheQueue::SetQueueName(std::string value) {
  std::lock_guard<std::mutex> guard(FNameLock);
  FQueueName = std::move(value);
}

// --- TbrzCacheQueueListBase ---

std::string TbrzCacheQueueListBase::GroupKey(std::string_view aID) const {
  const int32_t level = GroupLevel();
  if (level <= 0) return {};
  return std::string(aID.substr(0, static_cast<size_t>(level)));
}

std::shared_ptr<TbrzCacheQueue> TbrzCacheQueueListBase::GetQueue(std::string_view aKey) {
  TbrzLock guard(FLock);
  for (const auto& q : FList)
    if (q->QueueName() == aKey) return q;
  auto q = std::make_shared<TbrzCacheQueue>();
  q->SetQueueName(std::string(aKey));
  q->SetCacheSize(FCacheSize);
  q->SetOwnObjects(true);
  FList.push_back(q);
  return q;
}

void TbrzCacheQueueListBase::AddItem(TbrzQueueItemPtr item) {
  TbrzLock guard(FLock);
  const std::string key = GroupKey(item ? item->ID() : std::string());
  GetQueue(key)->AddItem(std::move(item));
}

TbrzQueueItemPtr TbrzCacheQueueListBase::GetItem(std::string_view aID) {
  TbrzLock guard(FLock);
  return GetQueue(GroupKey(aID))->GetItem(aID);
}

bool TbrzCacheQueueListBase::DeleteItem(std::string_view aID) {
  TbrzLock guard(FLock);
  return GetQueue(GroupKey(aID))->DeleteItem(aID);
}

size_t TbrzCacheQueueListBase::Count() const {
  TbrzLock guard(FLock);
  size_t n = 0;
  for (const auto& q : FList) n += q->Count();
  return n;
}

int32_t TbrzCacheQueueListBase::CacheSize() const {
  TbrzLock guard(FLock);
  return FCacheSize;
}

void TbrzCacheQueueListBase::SetCacheSize(int32_t value) {
  TbrzLock guard(FLock);
  FCacheSize = value;
}

int32_t TbrzCacheQueueListBase::GroupLevel() const {
  TbrzLock guard(FLock);
  return FGroupLevel;
}

void TbrzCacheQueueListBase::SetGroupLevel(int32_t value) {
  TbrzLock guard(FLock);
  FGroupLevel = value;
}

// --- TbrzCacheQueueList ---

TbrzCacheQueueList::TbrzCacheQueueList() : FQueueCache(std::make_unique<TbrzCacheQueueListBase>()) {}

TbrzCacheQueueList::~TbrzCacheQueueList() = default;

// --- TbrzQueueNameBase ---

std::string TbrzQueueNameBase::QueueName() const {
  TbrzLock guard(FLock);
  return FQueueName;
}

void TbrzQueueNameBase::SetQueueName(std::string value) {
  TbrzLock guard(FLock);
  FQueueName = std::move(value);
}

// --- TbrzQueueNameListBase ---

TbrzQueueNameListBase::TbrzQueueNameListBase() { FOwnObjects = true; }

std::shared_ptr<TbrzQueueNameBase> TbrzQueueNameListBase::FindQueueByName(std::string_view aQueueName) const {
  TbrzLock guard(FLock);
  for (const auto& q : FList)
    if (q->QueueName() == aQueueName) return q;
  return nullptr;
}

std::shared_ptr<TbrzQueueNameBase> TbrzQueueNameListBase::GetQueueByName(std::string_view aQueueName) {
  TbrzLock guard(FLock);
  if (auto q = FindQueueByName(aQueueName)) return q;
  auto q = std::make_shared<TbrzQueueNameBase>(std::string(aQueueName));
  q->SetOwnObjects(true);
  FList.push_back(q);
  return q;
}

bool TbrzQueueNameListBase::AddItem(TbrzQueueNameItemPtr item) {
  if (!item) return false;
  TbrzLock guard(FLock);
  auto queue = GetQueueByName(item->Queue());
  TbrzLock queueGuard(queue->Lock());
  if (queue->GetItem(item->ID())) return false;
  queue->AddItem(std::move(item));
  return true;
}

bool TbrzQueueNameListBase::DeleteItem(std::string_view aID) {
  TbrzLock guard(FLock);
  bool any = false;
  for (const auto& q : FList) any = q->DeleteItem(aID) || any;
  return any;
}

bool TbrzQueueNameListBase::DeleteItem(std::string_view aQueueName, std::string_view aID) {
  TbrzLock guard(FLock);
  auto queue = FindQueueByName(aQueueName);
  if (!queue) return false;
  queue->DeleteItem(aID);
  return true;
}

std::string TbrzQueueNameListBase::GetQueuesDelimitedText() const {
  TbrzLock guard(FLock);
  TbrzDelimitedStringList names(',');
  for (auto it = FList.rbegin(); it != FList.rend(); ++it) names.Add((*it)->QueueName());
  return names.DelimitedText();
}

size_t TbrzQueueNameListBase::Count() const {
  TbrzLock guard(FLock);
  size_t n = 0;
  for (const auto& q : FList) n += q->Count();
  return n;
}

}  // namespace brz
