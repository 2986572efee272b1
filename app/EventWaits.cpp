#include "app/EventWaits.h"

#include <algorithm>

#include "json/JSONEscape.h"
#include "json/TbrzJSON.h"

namespace brz {

TbrzEventWait::TbrzEventWait(std::string aEvent, int aCount, std::chrono::milliseconds aTimeout,
                             std::vector<TMatch> aMatch)
    : FEvent(std::move(aEvent)), FCount(aCount), FTimeout(aTimeout), FMatch(std::move(aMatch)) {}

bool TbrzEventWait::Matches(const std::string& aLine) const {
  // Event lines are JSON objects; other console lines (server lines) never match.
  if (aLine.empty() || aLine.front() != '{') return false;
  IbrzJSON document = NewJSONDocument();
  document->Read(aLine);
  IbrzObjectJSON event = document->Node("event");
  if (!event || JSONUnescape(event->Value()) != FEvent) return false;
  if (FMatch.empty()) return true;
  IbrzObjectJSON params = document->Node("params");
  if (!params || params->JSONType() != TbrzJSONtype::brzJSONObject) return false;
  IbrzJSON members = params->JSONObject();
  for (const TMatch& match : FMatch) {
    IbrzObjectJSON member = members->Node(match.Name);
    if (!member) return false;
    const bool isString = member->JSONType() == TbrzJSONtype::brzJSONString;
    const std::string text = isString ? JSONUnescape(member->Value()) : member->Value();
    if (text != match.Text) return false;
  }
  return true;
}

void TbrzEventWait::Offer(const std::string& aLine) {
  if (!Matches(aLine)) return;
  {
    std::lock_guard<std::mutex> guard(FLock);
    ++FSeen;
  }
  FChanged.notify_all();
}

bool TbrzEventWait::Block() {
  std::unique_lock<std::mutex> guard(FLock);
  auto over = [this] { return FSeen >= FCount || FCancelled; };
  if (FTimeout.count() <= 0) FChanged.wait(guard, over);
  else FChanged.wait_for(guard, FTimeout, over);
  return FSeen >= FCount;
}

void TbrzEventWait::Cancel() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FCancelled = true;
  }
  FChanged.notify_all();
}

int TbrzEventWait::Seen() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FSeen;
}

void TbrzEventWaits::Add(const TbrzEventWaitPtr& aWait) {
  std::lock_guard<std::mutex> guard(FLock);
  FWaits.push_back(aWait);
  FActive.store(static_cast<int>(FWaits.size()));
}

void TbrzEventWaits::Remove(const TbrzEventWaitPtr& aWait) {
  std::lock_guard<std::mutex> guard(FLock);
  FWaits.erase(std::remove(FWaits.begin(), FWaits.end(), aWait), FWaits.end());
  FActive.store(static_cast<int>(FWaits.size()));
}

void TbrzEventWaits::CancelAll() {
  std::vector<TbrzEventWaitPtr> waits;
  {
    std::lock_guard<std::mutex> guard(FLock);
    waits = FWaits;
  }
  for (const TbrzEventWaitPtr& wait : waits) wait->Cancel();
}

void TbrzEventWaits::Notify(const std::string& aLine) {
  if (FActive.load() == 0) return;
  std::vector<TbrzEventWaitPtr> waits;
  {
    std::lock_guard<std::mutex> guard(FLock);
    waits = FWaits;
  }
  for (const TbrzEventWaitPtr& wait : waits) wait->Offer(aLine);
}

}  // namespace brz
