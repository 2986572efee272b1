#include "mqtt/TbrzWSMQTTOutbox.h"

#include <algorithm>
#include <utility>

#include "mqtt/EngineMessages.h"
#include "transport/TbrzSocketErrors.h"

namespace brz {

TbrzWSMQTTOutbox::TbrzWSMQTTOutbox(TLink aLink) : FLink(std::move(aLink)) {}

TbrzWSMQTTOutbox::~TbrzWSMQTTOutbox() { Close(); }

bool TbrzWSMQTTOutbox::HasRoom() const { return FReady && FLink.InFlight() < FWindow; }

void TbrzWSMQTTOutbox::SendFront() {
  std::unique_ptr<TbrzWSMQTTQoSItem> item = std::move(FItems.front());
  FItems.pop_front();
  FRoom.notify_all();
  FLink.Send(*item);
}

uint16_t TbrzWSMQTTOutbox::Submit(std::unique_ptr<TbrzWSMQTTQoSItem> aItem) {
  std::unique_lock<std::mutex> guard(FLock);
  if (FItems.empty() && HasRoom()) return FLink.Send(*aItem);
  // A connected publisher outrunning its acknowledgements is held back instead of growing memory.
  FRoom.wait(guard, [this] { return FClosed || !FReady || static_cast<int32_t>(FItems.size()) < FMaximum; });
  if (FClosed || static_cast<int32_t>(FItems.size()) >= FMaximum) {
    const std::string topic = aItem->Topic();
    guard.unlock();
    NoteGivenUp(FormatMsg(SMQTTOutboxFull, topic.c_str(), static_cast<int>(FMaximum)));
    return 0;
  }
  FItems.push_back(std::move(aItem));
  // The window may have room while an earlier publish still waits: keep the order and send now.
  while (!FItems.empty() && HasRoom()) SendFront();
  return 0;
}

void TbrzWSMQTTOutbox::Pump() {
  std::lock_guard<std::mutex> guard(FLock);
  while (!FItems.empty() && HasRoom()) SendFront();
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
