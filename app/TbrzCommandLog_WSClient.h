#pragma once
// Commands that act on the client connection itself (open, close, write, broadcast, heartbeat,
// watchdog) and the connection event lines.

#include <memory>
#include <string>

#include "app/TbrzCommandLog.h"
#include "websocket/TbrzWSClient.h"

namespace brz {

class TbrzCommandLog_WSClient : public TbrzCommandLog {
 public:
  ~TbrzCommandLog_WSClient() override;
  void DoHelp() override;

  // The one client component, created and wired on first use.
  TbrzWebSocketClient& ClientComponent();

  // Connection event handlers; each writes one event line.
  virtual void HandleClientConnect();
  virtual void HandleClientDisconnect(int Code);
  virtual void HandleClientMessage(const std::string& Text);
  virtual void HandleClientError(const std::string& Error);
  virtual void HandleClientException(const std::string& Message);

 protected:
  void DoProcessJSON() override;

  virtual void CommandClose();
  virtual void CommandOpen();
  virtual void CommandWrite();
  virtual void CommandBroadcast();
  virtual void CommandHeartBeat();
  virtual void CommandWatchDog();

 private:
  std::unique_ptr<TbrzWebSocketClient> FWSClient;
};

// Adds nothing; the MQTT processor derives from it.
class TbrzCommandLog_WSProtocolClient : public TbrzCommandLog_WSClient {};

}  // namespace brz
