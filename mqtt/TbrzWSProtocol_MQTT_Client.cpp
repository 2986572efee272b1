#include "mqtt/TbrzWSProtocol_MQTT_Client.h"

#include "framework/TbrzWSComponent.h"
#include "mqtt/EngineMessages.h"

#include <chrono>
#include <thread>
#include <vector>

namespace brz {

namespace {

// The engines whose calls the current thread is inside (innermost last).
thread_local std::vector<const void*> tDelivering;

}  // namespace

// Counts one call from the client for its duration; Closed() once the engine is going.
class TbrzWSProtocol_MQTT_Client::TDeliveryScope {
 public:
  explicit TDeliveryScope(TbrzWSProtocol_MQTT_Client& aEngine) : FEngine(aEngine) {
    FEngine.FDeliveries.fetch_add(1);
    tDelivering.push_back(&aEngine);
  }
  ~TDeliveryScope() {
    tDelivering.pop_back();
    FEngine.FDeliveries.fetch_sub(1);
  }
  TDeliveryScope(const TDeliveryScope&) = delete;
  TDeliveryScope& operator=(const TDeliveryScope&) = delete;
  bool Closed() const { return FEngine.IsDestroying(); }

 private:
  TbrzWSProtocol_MQTT_Client& FEngine;
};

TbrzWSProtocol_MQTT_Client::TbrzWSProtocol_MQTT_Client() {
  SetProtocol(SMQTTProtocolName);
  SetMsgType(TwsProtocolMessage::msgBinary);
}

TbrzWSProtocol_MQTT_Client::~TbrzWSProtocol_MQTT_Client() {
  MarkDestroying();
  SetClient(nullptr);
  // The client's threads may still be inside a delivery (a disconnect being reported): let them
  // leave before the object goes. Calls this thread itself is inside of are not waited for.
  int own = 0;
  for (const void* engine : tDelivering) own += engine == this ? 1 : 0;
  while (FDeliveries.load() > own) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  // The retry timer calls into this object: stop it while the object is whole.
  ShutdownEngine();
}

void TbrzWSProtocol_MQTT_Client::DeliverConnect(const TbrzConnectionPtr& C) {
  TDeliveryScope scope(*this);
  if (!scope.Closed()) TbrzWSProtocol_Client_Base::DeliverConnect(C);
}

void TbrzWSProtocol_MQTT_Client::DeliverDisconnect(const TbrzConnectionPtr& C) {
  TDeliveryScope scope(*this);
  if (!scope.Closed()) TbrzWSProtocol_Client_Base::DeliverDisconnect(C);
}

void TbrzWSProtocol_MQTT_Client::DeliverMessage(const TbrzConnectionPtr& C) {
  TDeliveryScope scope(*this);
  if (!scope.Closed()) TbrzWSProtocol_Client_Base::DeliverMessage(C);
}

void TbrzWSProtocol_MQTT_Client::DeliverFragmented(const TbrzConnectionPtr& C, TbrzMemoryStream& Data, TOpcode OpCode,
                                                   bool Cont) {
  TDeliveryScope scope(*this);
  if (!scope.Closed()) TbrzWSProtocol_Client_Base::DeliverFragmented(C, Data, OpCode, Cont);
}

void TbrzWSProtocol_MQTT_Client::DeliverError(const TbrzConnectionPtr& C) {
  TDeliveryScope scope(*this);
  if (!scope.Closed()) TbrzWSProtocol_Client_Base::DeliverError(C);
}

void TbrzWSProtocol_MQTT_Client::DeliverException(const TbrzConnectionPtr& C) {
  TDeliveryScope scope(*this);
  if (!scope.Closed()) TbrzWSProtocol_Client_Base::DeliverException(C);
}

void TbrzWSProtocol_MQTT_Client::DeliverException(const std::string& Text, const std::exception* E) {
  TDeliveryScope scope(*this);
  if (!scope.Closed()) TbrzWSProtocol_Client_Base::DeliverException(Text, E);
}

void TbrzWSProtocol_MQTT_Client::WriteData(const std::string& /*aText*/) {}

void TbrzWSProtocol_MQTT_Client::WriteProtocolText(const std::string& aText) {
  TbrzWSProtocol_Client_Base::WriteData(aText);
}

void TbrzWSProtocol_MQTT_Client::RaiseConnectEvent(const TbrzConnectionPtr& C) {
  TbrzWSProtocol_Client_Base::RaiseConnectEvent(C);
  HandleTransportConnect(C);
}

void TbrzWSProtocol_MQTT_Client::RaiseDisconnectEvent(const TbrzConnectionPtr& C, int32_t Code) {
  HandleTransportDisconnect(C, Code);
}

void TbrzWSProtocol_MQTT_Client::TransportDisconnected(const TbrzConnectionPtr& aConnection, int32_t aCode) {
  TbrzWSProtocol_Client_Base::RaiseDisconnectEvent(aConnection, aCode);
}

void TbrzWSProtocol_MQTT_Client::DeliverBinary(const TbrzConnectionPtr& C) {
  TDeliveryScope scope(*this);
  if (scope.Closed()) return;
  if (C) InspectReceivedData(C, C->GetMsgBinaryReceived());
  TbrzWSProtocol_Client_Base::DeliverBinary(C);
}

void TbrzWSProtocol_MQTT_Client::RaiseBinaryEvent(const TbrzConnectionPtr& C, TbrzMemoryStream& Data) {
  TbrzWSProtocol_Client_Base::RaiseBinaryEvent(C, Data);
  HandleReceivedData(C, Data);
}

void TbrzWSProtocol_MQTT_Client::RaiseErrorEvent(const TbrzConnectionPtr& C, const std::string& Error) {
  TbrzWSProtocol_Client_Base::RaiseErrorEvent(C, Error);
  if (TbrzWSComponent_WSClient* client = Client()) client->RaiseErrorEvent(C, Error);
}

void TbrzWSProtocol_MQTT_Client::RaiseExceptionEvent(const TbrzConnectionPtr& C, const std::string& Text,
                                                     const Exception* E) {
  TbrzWSProtocol_Client_Base::RaiseExceptionEvent(C, Text, E);
  if (TbrzWSComponent_WSClient* client = Client()) client->RaiseExceptionEvent(C, Text, E);
}

bool TbrzWSProtocol_MQTT_Client::DoProtocolHeartBeat(const TbrzConnectionPtr& aConnection) {
  TDeliveryScope scope(*this);
  if (scope.Closed()) return true;
  return HeartBeatTick(aConnection);
}

void TbrzWSProtocol_MQTT_Client::WritePacketStream(TbrzMemoryStream& aPacket) {
  TbrzWSProtocol_Client_Base::WriteData(aPacket, 0, TwsStreaming::stmNone);
}

void TbrzWSProtocol_MQTT_Client::CloseConnection(const TbrzConnectionPtr& aConnection) {
  if (aConnection) aConnection->Close(1000);
}

bool TbrzWSProtocol_MQTT_Client::IsTCPTransport(const TbrzConnectionPtr& aConnection) {
  return aConnection && aConnection->Transport() == TwsTransport::trpTCP;
}

void TbrzWSProtocol_MQTT_Client::ApplyKeepAlive(bool aEnabled, int32_t aInterval) {
  // The MQTT keep-alive runs on the client's ticks; the client's own pong check stays off.
  StartClientHeartBeat(aEnabled, aInterval, 0);
}

void TbrzWSProtocol_MQTT_Client::RaiseEngineException(const TbrzConnectionPtr& aConnection, const std::string& aText,
                                                      const Exception* E) {
  RaiseExceptionEvent(aConnection, aText, E);
}

}  // namespace brz
