#pragma once
// The processor the program runs: MQTT commands (those with "protocol":"mqtt") and the MQTT event
// lines; every other command goes to the connection commands.

#include "app/TbrzCommandLog_WSClient.h"

namespace brz {

class TbrzCommandLog_MQTT : public TbrzCommandLog_WSProtocolClient {
 public:
  void DoHelp() override;

 protected:
  void DoProcessJSON() override;

  virtual void CommandSubscribe();
  virtual void CommandUnSubscribe();
  virtual void CommandPublish();
  virtual void CommandDisconnect();
  virtual void CommandApi();
  virtual void CommandAuthentication();
  virtual void CommandMQTTHeartBeat();
};

}  // namespace brz
