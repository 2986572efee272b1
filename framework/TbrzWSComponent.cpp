#include "framework/TbrzWSComponent.h"

#include <algorithm>

namespace brz {

TbrzWSComponent::TbrzWSComponent() = default;

TbrzWSComponent::~TbrzWSComponent() = default;

void TbrzWSComponent::AttachProtocolObject(TbrzWSComponent_Base* object) {
  if (!object) return;
  object->SetNotifyEvents(NotifyEvents());
  if (std::find(FProtocolObjectList.begin(), FProtocolObjectList.end(), object) == FProtocolObjectList.end())
    FProtocolObjectList.push_back(object);
}

void TbrzWSComponent::DetachProtocolObject(TbrzWSComponent_Base* object) {
  FProtocolObjectList.erase(std::remove(FProtocolObjectList.begin(), FProtocolObjectList.end(), object),
                            FProtocolObjectList.end());
}

void TbrzWSComponent::SetNotifyEvents(TwsNotifyEvent value) {
  TbrzWSComponent_Base::SetNotifyEvents(value);
  for (auto* object : FProtocolObjectList) object->SetNotifyEvents(value);
  for (auto* timer : {FHeartBeatTimer.get(), FHeartBeatTimeoutTimer.get(), FWatchDogTimer.get()})
    if (timer) timer->SetNotifyEvents(value);
}

std::vector<TbrzWSComponent_Base*> TbrzWSComponent::MatchProtocolObjects(const TbrzConnectionPtr&, bool) { return {}; }

bool TbrzWSComponent::RoutesToProtocols(const TbrzConnectionPtr& C) const { return C && !C->Protocol().empty(); }

void TbrzWSComponent::DeliverConnect(const TbrzConnectionPtr& C) {
  if (!RoutesToProtocols(C)) return TbrzWSComponent_Base::DeliverConnect(C);
  for (auto* o : MatchProtocolObjects(C, false)) o->DeliverConnect(C);
}

void TbrzWSComponent::DeliverDisconnect(const TbrzConnectionPtr& C) {
  if (!RoutesToProtocols(C)) return TbrzWSComponent_Base::DeliverDisconnect(C);
  for (auto* o : MatchProtocolObjects(C, true)) o->DeliverDisconnect(C);
}

void TbrzWSComponent::DeliverMessage(const TbrzConnectionPtr& C) {
  if (!RoutesToProtocols(C)) return TbrzWSComponent_Base::DeliverMessage(C);
  for (auto* o : MatchProtocolObjects(C, false)) o->DeliverMessage(C);
}

void TbrzWSComponent::DeliverBinary(const TbrzConnectionPtr& C) {
  if (!RoutesToProtocols(C)) return TbrzWSComponent_Base::DeliverBinary(C);
  for (auto* o : MatchProtocolObjects(C, false)) o->DeliverBinary(C);
}

void TbrzWSComponent::DeliverFragmented(const TbrzConnectionPtr& C, TbrzMemoryStream& Data, TOpcode OpCode,
                                        bool Cont) {
  if (!RoutesToProtocols(C)) return TbrzWSComponent_Base::DeliverFragmented(C, Data, OpCode, Cont);
  for (auto* o : MatchProtocolObjects(C, false)) o->DeliverFragmented(C, Data, OpCode, Cont);
}

void TbrzWSComponent::DeliverError(const TbrzConnectionPtr& C) {
  if (!RoutesToProtocols(C)) return TbrzWSComponent_Base::DeliverError(C);
  for (auto* o : MatchProtocolObjects(C, false)) o->DeliverError(C);
}

void TbrzWSComponent::DeliverException(const TbrzConnectionPtr& C) {
  if (!RoutesToProtocols(C)) return TbrzWSComponent_Base::DeliverException(C);
  for (auto* o : MatchProtocolObjects(C, false)) o->DeliverException(C);
}

std::string TbrzWSComponent_WSClient::Host() const {
  std::lock_guard<std::mutex> guard(FHostLock);
  return FHost;
}

void TbrzWSComponent_WSClient::SetHost(const std::string& value) {
  std::lock_guard<std::mutex> guard(FHostLock);
  FHost = value;
}

}  // namespace brz
