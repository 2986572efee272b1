#pragma once
// Commands that act on the client connection itself (open, close, write, broadcast, heartbeat,
// watchdog) and the connection event lines.

#include <string>

#include "app/TbrzCommandLog.h"

namespace brz {

class TbrzCommandLog_WSClient : public TbrzCommandLog {
 public:
  void DoHelp() override;

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
};

// Adds nothing; the MQTT processor derives from it.
class TbrzCommandLog_WSProtocolClient : public TbrzCommandLog_WSClient {};

}  // namespace brz
