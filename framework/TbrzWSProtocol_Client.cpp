#include "framework/TbrzWSProtocol_Client.h"

#include "framework/TbrzWSComponent.h"

namespace brz {

namespace {

// The client's heartbeat and watchdog slots are protected: an attached protocol object runs them
// for the client when it takes over the client's connect and disconnect events.
struct TClientSlots : TbrzWSComponent {
  static void RunStartHeartBeat(TbrzWSComponent& aClient) { (aClient.*&TClientSlots::StartHeartBeat)(); }
  static void RunStopHeartBeat(TbrzWSComponent& aClient) { (aClient.*&TClientSlots::StopHeartBeat)(); }
  static void RunStartWatchDog(TbrzWSComponent& aClient) { (aClient.*&TClientSlots::StartWatchDog)(); }
  static void RunStopWatchDog(TbrzWSComponent& aClient) { (aClient.*&TClientSlots::StopWatchDog)(); }
  static std::atomic<int>& WatchDogAttempts(TbrzWSComponent& aClient) {
    return aClient.*&TClientSlots::FWatchDogAttempts;
  }
  static bool WatchDogEnabled(TbrzWSComponent& aClient) { return (aClient.*&TClientSlots::FWatchDogEnabled).load(); }
};

}  // namespace

TbrzWSProtocol_Client::~TbrzWSProtocol_Client() {
  // Never leave the client holding a pointer to an object that is gone.
  if (TbrzWSComponent_WSClient* client = FClient.exchange(nullptr)) client->DetachProtocolObject(this);
}

void TbrzWSProtocol_Client::SetClient(TbrzWSComponent_WSClient* aClient) {
  TbrzWSComponent_WSClient* old = FClient.load();
  if (old == aClient) return;
  if (IsLoading() || IsDesigning()) {
    FClient.store(aClient);
    return;
  }
  // Detach from the previous client in every case, so that it never delivers to this object again.
  if (old) old->DetachProtocolObject(this);
  FClient.store(aClient);
  if (aClient) aClient->AttachProtocolObject(this);
}

void TbrzWSProtocol_Client::ClientDestroyed(TbrzWSComponent_WSClient* aClient) {
  TbrzWSComponent_WSClient* expected = aClient;
  FClient.compare_exchange_strong(expected, nullptr);
}

void TbrzWSProtocol_Client::RaiseConnectEvent(const TbrzConnectionPtr& C) {
  TbrzWSProtocol::RaiseConnectEvent(C);
  TbrzWSComponent_WSClient* client = Client();
  if (!client) return;
  TClientSlots::RunStartHeartBeat(*client);
  TClientSlots::RunStopWatchDog(*client);
  TClientSlots::WatchDogAttempts(*client).store(0);
}

void TbrzWSProtocol_Client::RaiseDisconnectEvent(const TbrzConnectionPtr& C, int32_t Code) {
  TbrzWSProtocol::RaiseDisconnectEvent(C, Code);
  TbrzWSComponent_WSClient* client = Client();
  if (!client) return;
  TClientSlots::RunStopHeartBeat(*client);
  const int attempts = client->WatchDog().Attempts;
  if (TClientSlots::WatchDogEnabled(*client) &&
      (attempts == 0 || TClientSlots::WatchDogAttempts(*client).load() < attempts))
    TClientSlots::RunStartWatchDog(*client);
}

void TbrzWSProtocol_Client::DeliverBinary(const TbrzConnectionPtr& C) {
  if (MsgType() == TwsProtocolMessage::msgText && C && C->Transport() == TwsTransport::trpTCP) {
    // A text protocol on raw TCP: the received bytes are its text.
    TbrzMemoryStream data = C->GetMsgBinaryReceived();
    C->SetMsgReceived(data.ToString());
    DeliverMessage(C);
    return;
  }
  TbrzWSProtocol::DeliverBinary(C);
}

void TbrzWSProtocol_Client::ReleaseConnection(const TbrzConnectionPtr& C) {
  TbrzWSComponent_WSClient* client = Client();
  if (client && client->IsDestroying()) return;
  TbrzWSProtocol::ReleaseConnection(C);
}

void TbrzWSProtocol_Client::StartClientHeartBeat(bool aEnabled, int aInterval, int aTimeout) {
  TbrzWSComponent_WSClient* client = Client();
  if (!client) return;
  client->HeartBeat().Enabled = aEnabled;
  client->HeartBeat().Interval = aInterval;
  client->HeartBeat().Timeout = aTimeout;
  TClientSlots::RunStartHeartBeat(*client);
}

void TbrzWSProtocol_Client_Base::WriteData(const std::string& aText) {
  if (TbrzWSComponent_WSClient* client = Client()) client->WriteData(aText);
}

void TbrzWSProtocol_Client_Base::WriteData(TbrzMemoryStream& aStream, int aSize, TwsStreaming aStreaming) {
  if (TbrzWSComponent_WSClient* client = Client()) client->WriteData(aStream, aSize, aStreaming);
}

}  // namespace brz
