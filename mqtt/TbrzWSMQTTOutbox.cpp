#include "mqtt/TbrzWSMQTTOutbox.h"

#include <algorithm>
#include <utility>

#include "mqtt/EngineMessages.h"
#include "transport/TbrzSocketErrors.h"

namespace brz {

TbrzWSMQTTOutbox::TbrzWSMQTTOutbox(TLink aLink) : FLink(std::move(aLink)) {}

TbrzWSMQTTOutbox::~TbrzWSMQTTOutbox() { Close(); }

bool TbrzWSMQTTOutbox::HasRoom() const { return FReady && FLink.InFlight() < FWindow; }

uint16_t TbrzWSMQTTOutbox::Drain(std::unique_lock<std::mutex>& guard, const TbrzWSMQTTQoSItem* aMine) {
  // One thread sends at a time, so publishes leave in order; the others only queue. No lock is
  // held while sending: the send path takes the transport's locks.
  if (FDraining || FItems.empty() || !HasRoom()) return 0;
  FDraining = true;
  uint16_t mine = 0;
  while (!FItems.empty() && HasRoom()) {
    std::unique_ptr<TbrzWSMQTTQoSItem> item = std::move(FItems.front());
    FItems.pop_front();
    FRoom.notify_all();
    guard.unlock();
    const uint16_t identifier = FLink.Send(*item);
    guard.lock();
    if (item.get() == aMine) mine = identifier;
  }
  FDraining = false;
  return mine;
}

uint16_t TbrzWSMQTTOutbox::Submit(std::unique_ptr<TbrzWSMQTTQoSItem> aItem) {
  std::unique_lock<std::mutex> guard(FLock);
  // A connected publisher outrunning its acknowledgements is held back instead of growing memory.
  FRoom.wait(guard, [this] { return FClosed || !FReady || static_cast<int32_t>(FItems.size()) < FMaximum; });
  if (FClosed || static_cast<int32_t>(FItems.size()) >= FMaximum) {
    const std::string topic = aItem->Topic();
    guard.unlock();
    NoteGivenUp(FormatMsg(SMQTTOutboxFull, topic.c_str(), static_cast<int>(FMaximum)));
    return 0;
  }
  const TbrzWSMQTTQoSItem* mine = aItem.get();
  FItems.push_back(std::move(aItem));
  return Drain(guard, mine);
}

void TbrzWSMQTTOutbox::Pump() {
  std::unique_lock<std::mutex> guard(FLock);
  Drain(guard, nullptr);
}

void TbrzWSMQTTOutbox::SessionReady(int32_t aWindow) {
  std::lock_guard<std::mutex> guard(FLock);
  FWindow = std::max(aWindow, 1);
  FReady = true;
}

void TbrzWSMQTTOutbox::SessionLost() {
  std::lock_guard<std::mutex> guard(FLock);
  FReady = false;
  FRoom.notify_all();
}

bool TbrzWSMQTTOutbox::Ready() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FReady;
}

void TbrzWSMQTTOutbox::Requeue(std::vector<std::unique_ptr<TbrzWSMQTTQoSItem>> aItems) {
  std::lock_guard<std::mutex> guard(FLock);
  for (auto it = aItems.rbegin(); it != aItems.rend(); ++it) FItems.push_front(std::move(*it));
}

void TbrzWSMQTTOutbox::Close() {
  std::lock_guard<std::mutex> guard(FLock);
  FClosed = true;
  FRoom.notify_all();
}

int32_t TbrzWSMQTTOutbox::Count() const {
  std::lock_guard<std::mutex> guard(FLock);
  return static_cast<int32_t>(FItems.size());
}

int32_t TbrzWSMQTTOutbox::Window() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FWindow;
}

int32_t TbrzWSMQTTOutbox::Maximum() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FMaximum;
}

void TbrzWSMQTTOutbox::SetMaximum(int32_t aValue) {
  std::lock_guard<std::mutex> guard(FLock);
  FMaximum = std::max(aValue, 0);
  FRoom.notify_all();
}

int64_t TbrzWSMQTTOutbox::GivenUp() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FGivenUp;
}

void TbrzWSMQTTOutbox::NoteGivenUp(const std::string& aNotice) {
  {
    std::lock_guard<std::mutex> guard(FLock);
    ++FGivenUp;
  }
  // Outside the lock: the notice writes a line and may wait for the console.
  if (FLink.Notice) FLink.Notice(aNotice);
}

void TbrzWSMQTTOutbox::NoteRejected() {
  std::lock_guard<std::mutex> guard(FLock);
  ++FGivenUp;
}

void TbrzWSMQTTOutbox::NotePubRec(uint16_t aPacketIdentifier) {
  std::lock_guard<std::mutex> guard(FLock);
  FPubRecs.insert(aPacketIdentifier);
}

void TbrzWSMQTTOutbox::ForgetPubRec(uint16_t aPacketIdentifier) {
  std::lock_guard<std::mutex> guard(FLock);
  FPubRecs.erase(aPacketIdentifier);
}

std::unordered_set<uint16_t> TbrzWSMQTTOutbox::TakePubRecs() {
  std::lock_guard<std::mutex> guard(FLock);
  return std::exchange(FPubRecs, {});
}

}  // namespace brz
