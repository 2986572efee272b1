#pragma once
// The MQTT client engine as a sub-protocol object: attached to a client component (SetClient), it is
// told when the transport connects and disconnects, receives every binary message (WebSocket,
// sub-protocol "mqtt") or raw chunk (tcp://), sends CONNECT, answers the QoS flows, keeps the
// connection alive on the client's heartbeat ticks and raises the OnMQTT… events. The protocol
// itself is TbrzWSProtocol_MQTT_ClientCore; this class wires it to the client.
//
// Events run on the thread that delivers the client's events (the read thread), retries on the QoS
// timer thread. Destroy the engine before its client, or let the client's destruction detach it.

#include <atomic>
#include <string>

#include "framework/TbrzWSProtocol_Client.h"
#include "mqtt/TbrzWSProtocol_MQTT_ClientCore.h"

namespace brz {

class TbrzWSProtocol_MQTT_Client : public TbrzWSProtocol_Client_Base, public TbrzWSProtocol_MQTT_ClientCore {
 public:
  TbrzWSProtocol_MQTT_Client();
  ~TbrzWSProtocol_MQTT_Client() override;

  // Text written through the engine is dropped: it sends only MQTT packets.
  void WriteData(const std::string& aText) override;
  using TbrzWSProtocol_Client_Base::WriteData;
  // Sends text through the client (nothing in the MQTT flow uses it).
  virtual void WriteProtocolText(const std::string& aText);

  // ---- framework side (each call from the client is counted, so destruction waits for it)
  void DeliverConnect(const TbrzConnectionPtr& C) override;
  void DeliverDisconnect(const TbrzConnectionPtr& C) override;
  void DeliverMessage(const TbrzConnectionPtr& C) override;
  void DeliverFragmented(const TbrzConnectionPtr& C, TbrzMemoryStream& Data, TOpcode OpCode, bool Cont) override;
  void DeliverError(const TbrzConnectionPtr& C) override;
  void DeliverException(const TbrzConnectionPtr& C) override;
  void DeliverException(const std::string& Text, const std::exception* E) override;
  void RaiseConnectEvent(const TbrzConnectionPtr& C) override;
  void RaiseDisconnectEvent(const TbrzConnectionPtr& C, int32_t Code) override;
  void DeliverBinary(const TbrzConnectionPtr& C) override;
  void RaiseBinaryEvent(const TbrzConnectionPtr& C, TbrzMemoryStream& Data) override;
  // The engine's own event, then the client's, so the application still sees MQTT failures.
  void RaiseErrorEvent(const TbrzConnectionPtr& C, const std::string& Error) override;
  void RaiseExceptionEvent(const TbrzConnectionPtr& C, const std::string& Text, const Exception* E) override;
  bool DoProtocolHeartBeat(const TbrzConnectionPtr& aConnection) override;

 protected:
  // ---- link to the client
  void WritePacketStream(TbrzMemoryStream& aPacket) override;
  void CloseConnection(const TbrzConnectionPtr& aConnection) override;
  bool IsTCPTransport(const TbrzConnectionPtr& aConnection) override;
  void ApplyKeepAlive(bool aEnabled, int32_t aInterval) override;
  void RaiseEngineException(const TbrzConnectionPtr& aConnection, const std::string& aText,
                            const Exception* E) override;
  void TransportDisconnected(const TbrzConnectionPtr& aConnection, int32_t aCode) override;

 private:
  class TDeliveryScope;

  // Calls from the client (read, heartbeat and timer threads) currently inside this object.
  std::atomic<int> FDeliveries{0};
};

}  // namespace brz
