#include "framework/TbrzWSProtocol_Client.h"

#include "framework/TbrzWSComponent.h"

namespace brz {

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

void TbrzWSProtocol_Client::ClientDestroyed(TbrzWSComponent* aClient) {
  TbrzWSComponent_WSClient* current = FClient.load();
  if (current && static_cast<TbrzWSComponent*>(current) == aClient) FClient.compare_exchange_strong(current, nullptr);
}

void TbrzWSProtocol_Client::RaiseConnectEvent(const TbrzConnectionPtr& C) {
  TbrzWSProtocol::RaiseConnectEvent(C);
  TbrzWSComponent_WSClient* client = Client();
  if (!client) return;
  client->StartHeartBeat();
  client->StopWatchDog();
  client->FWatchDogAttempts.store(0);
}

void TbrzWSProtocol_Client::RaiseDisconnectEvent(const TbrzConnectionPtr& C, int32_t Code) {
  TbrzWSProtocol::RaiseDisconnectEvent(C, Code);
  TbrzWSComponent_WSClient* client = Client();
  if (!client) return;
  client->StopHeartBeat();
  const int attempts = client->WatchDog().Attempts;
  if (client->FWatchDogEnabled.load() && (attempts == 0 || client->FWatchDogAttempts.load() < attempts))
    client->StartWatchDog();
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
  // Off means off: a heartbeat left running would send the client's own pings into the protocol.
  if (aEnabled) {
    client->StartHeartBeat();
  } else {
    client->StopHeartBeat();
  }
}

void TbrzWSProtocol_Client_Base::WriteData(const std::string& aText) {
  if (TbrzWSComponent_WSClient* client = Client()) client->WriteData(aText);
}

void TbrzWSProtocol_Client_Base::WriteData(TbrzMemoryStream& aStream, int aSize, TwsStreaming aStreaming) {
  if (TbrzWSComponent_WSClient* client = Client()) client->WriteData(aStream, aSize, aStreaming);
}

}  // namespace brz
