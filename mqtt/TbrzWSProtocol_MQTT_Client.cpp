#include "mqtt/TbrzWSProtocol_MQTT_Client.h"

#include "framework/TbrzWSComponent.h"
#include "mqtt/EngineMessages.h"

namespace brz {

TbrzWSProtocol_MQTT_Client::TbrzWSProtocol_MQTT_Client() {
  SetProtocol(SMQTTProtocolName);
  SetMsgType(TwsProtocolMessage::msgBinary);
}

TbrzWSProtocol_MQTT_Client::~TbrzWSProtocol_MQTT_Client() {
  MarkDestroying();
  // The retry timer calls into this object: stop it while the object is whole.
  ShutdownEngine();
  SetClient(nullptr);
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
