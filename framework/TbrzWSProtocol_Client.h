#pragma once
// A protocol object attached to a client component (not owned either way): the client hands it the
// events of its connections and the object does the client's connection bookkeeping (heartbeat,
// watchdog) that the client would otherwise do when raising its own events.

#include <atomic>
#include <string>

#include "framework/TbrzWSProtocol.h"

namespace brz {

class TbrzWSComponent;
class TbrzWSComponent_WSClient;

class TbrzWSProtocol_Client : public TbrzWSProtocol {
 public:
  ~TbrzWSProtocol_Client() override;

  TbrzWSComponent_WSClient* Client() const { return FClient.load(); }
  // Attaches to the client (taking its notification mode) and detaches from the previous one;
  // nullptr detaches. While loading or designing the value is only stored.
  virtual void SetClient(TbrzWSComponent_WSClient* aClient);
  // Called by a client that is being destroyed: forget it without touching it further.
  void ClientDestroyed(TbrzWSComponent* aClient);

  // Connect: the own event, then the client's heartbeat starts and its watchdog is reset.
  void RaiseConnectEvent(const TbrzConnectionPtr& C) override;
  // Disconnect: the own event, then the client's heartbeat stops and, when its watchdog is on and
  // tries are left, the watchdog starts to reopen the connection.
  void RaiseDisconnectEvent(const TbrzConnectionPtr& C, int32_t Code) override;
  // Binary data by MsgType: msgText turns raw TCP bytes into a text message.
  void DeliverBinary(const TbrzConnectionPtr& C) override;
  // While the client is being destroyed, its connection is left for the client to release.
  void ReleaseConnection(const TbrzConnectionPtr& C) override;

 protected:
  // Hands keep-alive settings to the client's heartbeat and (re)starts it, or stops it when disabled.
  void StartClientHeartBeat(bool aEnabled, int aInterval, int aTimeout);

 private:
  std::atomic<TbrzWSComponent_WSClient*> FClient{nullptr};
};

// Writes through the client: a text message, or a binary message (raw bytes on TCP). Nothing is
// written without a client, or while it has no connection.
class TbrzWSProtocol_Client_Base : public TbrzWSProtocol_Client {
 public:
  virtual void WriteData(const std::string& aText);
  virtual void WriteData(TbrzMemoryStream& aStream, int aSize = 0, TwsStreaming aStreaming = TwsStreaming::stmNone);
};

}  // namespace brz
