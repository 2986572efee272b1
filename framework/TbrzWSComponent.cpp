#include "framework/TbrzWSComponent.h"

#include <algorithm>

#include "framework/TbrzWSProtocol_Client.h"

namespace brz {

TbrzWSComponent::TbrzWSComponent() = default;

TbrzWSComponent::~TbrzWSComponent() {
  // Attached objects outlive their client: they forget it.
  for (auto* object : ProtocolObjects())
    if (auto* protocol = dynamic_cast<TbrzWSProtocol_Client*>(object)) protocol->ClientDestroyed(this);
}

std::vector<TbrzWSComponent_Base*> TbrzWSComponent::ProtocolObjects() const {
  std::shared_lock<std::shared_mutex> guard(FProtocolListLock);
  return FProtocolObjectList;
}

std::string TbrzWSComponent::SubProtocols() const { return OfferedProtocolText(ProtocolObjects()); }

void TbrzWSComponent::AttachProtocolObject(TbrzWSComponent_Base* object) {
  if (!object) return;
  std::unique_lock<std::shared_mutex> guard(FProtocolListLock);
  object->SetNotifyEvents(NotifyEvents());
  if (std::find(FProtocolObjectList.begin(), FProtocolObjectList.end(), object) == FProtocolObjectList.end())
    FProtocolObjectList.push_back(object);
}

void TbrzWSComponent::DetachProtocolObject(TbrzWSComponent_Base* object) {
  {
    std::unique_lock<std::shared_mutex> guard(FProtocolListLock);
    const auto end = std::remove(FProtocolObjectList.begin(), FProtocolObjectList.end(), object);
    if (end == FProtocolObjectList.end()) return;
    FProtocolObjectList.erase(end, FProtocolObjectList.end());
  }
  // A delivery on another thread may still hold the object in its snapshot: once this returns,
  // the object receives nothing more. Deliveries this thread is inside of are not waited for.
  WaitForDeliveriesInFlight();
}

TbrzWSComponent::TDeliveryPass::TDeliveryPass(TbrzWSComponent& aComponent) : FComponent(aComponent) {
  std::lock_guard<std::mutex> guard(FComponent.FDeliveryLock);
  FTicket = FComponent.FNextDeliveryTicket++;
  FComponent.FDeliveries.push_back({FTicket, std::this_thread::get_id()});
}

TbrzWSComponent::TDeliveryPass::~TDeliveryPass() {
  {
    std::lock_guard<std::mutex> guard(FComponent.FDeliveryLock);
    auto& list = FComponent.FDeliveries;
    list.erase(std::find_if(list.begin(), list.end(), [&](const TDeliveryRecord& r) { return r.Ticket == FTicket; }));
  }
  FComponent.FDeliveryEnded.notify_all();
}

void TbrzWSComponent::WaitForDeliveriesInFlight() {
  std::unique_lock<std::mutex> guard(FDeliveryLock);
  // Only the passes begun before now: new ones no longer see the detached object.
  const uint64_t before = FNextDeliveryTicket;
  const auto self = std::this_thread::get_id();
  FDeliveryEnded.wait(guard, [&] {
    return std::none_of(FDeliveries.begin(), FDeliveries.end(),
                        [&](const TDeliveryRecord& r) { return r.Ticket < before && r.Thread != self; });
  });
}

void TbrzWSComponent::SetNotifyEvents(TwsNotifyEvent value) {
  TbrzWSComponent_Base::SetNotifyEvents(value);
  for (auto* object : ProtocolObjects()) object->SetNotifyEvents(value);
  for (auto* timer : {FHeartBeatTimer.get(), FHeartBeatTimeoutTimer.get(), FWatchDogTimer.get()})
    if (timer) timer->SetNotifyEvents(value);
}

std::vector<TbrzWSComponent_Base*> TbrzWSComponent::MatchProtocolObjects(const TbrzConnectionPtr& C, bool aDisconnect) {
  if (!C) return {};
  return MatchingProtocolObjects(ProtocolObjects(), C->Protocol(), aDisconnect);
}

bool TbrzWSComponent::RoutesToProtocols(const TbrzConnectionPtr& C) const { return C && !C->Protocol().empty(); }

void TbrzWSComponent::DeliverConnect(const TbrzConnectionPtr& C) {
  if (!RoutesToProtocols(C)) return TbrzWSComponent_Base::DeliverConnect(C);
  TDeliveryPass pass(*this);
  for (auto* o : MatchProtocolObjects(C, false)) o->DeliverConnect(C);
}

void TbrzWSComponent::DeliverDisconnect(const TbrzConnectionPtr& C) {
  if (!RoutesToProtocols(C)) return TbrzWSComponent_Base::DeliverDisconnect(C);
  TDeliveryPass pass(*this);
  for (auto* o : MatchProtocolObjects(C, true)) o->DeliverDisconnect(C);
}

void TbrzWSComponent::DeliverMessage(const TbrzConnectionPtr& C) {
  if (!RoutesToProtocols(C)) return TbrzWSComponent_Base::DeliverMessage(C);
  TDeliveryPass pass(*this);
  for (auto* o : MatchProtocolObjects(C, false)) o->DeliverMessage(C);
}

void TbrzWSComponent::DeliverBinary(const TbrzConnectionPtr& C) {
  if (!RoutesToProtocols(C)) return TbrzWSComponent_Base::DeliverBinary(C);
  TDeliveryPass pass(*this);
  for (auto* o : MatchProtocolObjects(C, false)) o->DeliverBinary(C);
}

void TbrzWSComponent::DeliverFragmented(const TbrzConnectionPtr& C, TbrzMemoryStream& Data, TOpcode OpCode,
                                        bool Cont) {
  if (!RoutesToProtocols(C)) return TbrzWSComponent_Base::DeliverFragmented(C, Data, OpCode, Cont);
  TDeliveryPass pass(*this);
  for (auto* o : MatchProtocolObjects(C, false)) o->DeliverFragmented(C, Data, OpCode, Cont);
}

void TbrzWSComponent::DeliverError(const TbrzConnectionPtr& C) {
  if (!RoutesToProtocols(C)) return TbrzWSComponent_Base::DeliverError(C);
  TDeliveryPass pass(*this);
  for (auto* o : MatchProtocolObjects(C, false)) o->DeliverError(C);
}

void TbrzWSComponent::DeliverException(const TbrzConnectionPtr& C) {
  if (!RoutesToProtocols(C)) return TbrzWSComponent_Base::DeliverException(C);
  TDeliveryPass pass(*this);
  for (auto* o : MatchProtocolObjects(C, false)) o->DeliverException(C);
}

TbrzWSComponent_WSClient::~TbrzWSComponent_WSClient() {
  for (auto& protocol : FOwnedProtocols) DetachProtocolObject(protocol.get());
}

void TbrzWSComponent_WSClient::RegisterProtocol(TbrzWSProtocol_Client* aProtocol) {
  if (aProtocol) aProtocol->SetClient(this);
}

void TbrzWSComponent_WSClient::RegisterProtocol(const std::string& aName) {
  // Attaching happens before connecting, on one thread; the list is read through a snapshot.
  for (auto* object : ProtocolObjects()) {
    auto* protocol = dynamic_cast<TbrzWSProtocol*>(object);
    if (protocol && protocol->Protocol() == aName) return;
  }
  auto protocol = std::make_unique<TbrzWSProtocol>();
  protocol->SetProtocol(aName);
  // The client's own handlers still receive the events of connections speaking this protocol.
  protocol->OnConnect = OnConnect;
  protocol->OnDisconnect = OnDisconnect;
  protocol->OnMessage = OnMessage;
  protocol->OnBinary = OnBinary;
  protocol->OnFragmented = OnFragmented;
  protocol->OnError = OnError;
  protocol->OnException = OnException;
  AttachProtocolObject(protocol.get());
  FOwnedProtocols.push_back(std::move(protocol));
}

void TbrzWSComponent_WSClient::UnRegisterProtocol(const std::string& aName) {
  for (auto* object : ProtocolObjects()) {
    auto* protocol = dynamic_cast<TbrzWSProtocol*>(object);
    if (!protocol || protocol->Protocol() != aName) continue;
    // Objects the application made are only detached; the client destroys its own.
    if (auto* attached = dynamic_cast<TbrzWSProtocol_Client*>(object)) {
      attached->SetClient(nullptr);
    } else {
      DetachProtocolObject(object);
    }
    FOwnedProtocols.erase(std::remove_if(FOwnedProtocols.begin(), FOwnedProtocols.end(),
                                         [object](const auto& owned) { return owned.get() == object; }),
                          FOwnedProtocols.end());
  }
}

void TbrzWSComponent_WSClient::UnRegisterProtocol(TbrzWSProtocol_Client* aProtocol) {
  if (aProtocol) aProtocol->SetClient(nullptr);
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
