#pragma once
// The processor the program runs: MQTT commands (those with "protocol":"mqtt") and the MQTT event
// lines; every other command goes to the connection commands. The engine is created by the first
// command of any kind and attached to the client component, so every connection speaks MQTT.

#include <memory>

#include "app/TbrzCommandLog_WSClient.h"
#include "mqtt/TbrzWSProtocol_MQTT_Client.h"

namespace brz {

class TbrzCommandLog_MQTT : public TbrzCommandLog_WSProtocolClient {
 public:
  // The engine goes first, before the client and the server of the base classes.
  ~TbrzCommandLog_MQTT() override;
  void DoHelp() override;

  TbrzWSProtocol_MQTT_Client& MQTTComponent();
  // The engine when a command has created it, else null.
  TbrzWSProtocol_MQTT_Client* MQTTEngine() const { return FMQTT.get(); }

  // Engine event handlers; each writes its event line(s).
  virtual void HandleMQTTBeforeConnect(bool& aCleanSession, std::string& aClientIdentifier);
  virtual void HandleMQTTConnect(bool Session, int32_t ReasonCode, const std::string& ReasonName);
  virtual void HandleMQTTPing();
  virtual void HandleMQTTPublish(const std::string& Topic, const std::string& Text);
  virtual void HandleMQTTPubAck(uint16_t PacketIdentifier, int32_t ReasonCode, const std::string& ReasonName);
  virtual void HandleMQTTPubRec(uint16_t PacketIdentifier, int32_t ReasonCode, const std::string& ReasonName);
  virtual void HandleMQTTPubRel(uint16_t PacketIdentifier, int32_t ReasonCode, const std::string& ReasonName);
  virtual void HandleMQTTPubComp(uint16_t PacketIdentifier, int32_t ReasonCode, const std::string& ReasonName);
  virtual void HandleMQTTSubscribe(uint16_t PacketIdentifier, const TbrzWSSUBACKS& SubAcks);
  virtual void HandleMQTTUnSubscribe(uint16_t PacketIdentifier, const TbrzWSUNSUBACKS& UnSubAcks);
  virtual void HandleMQTTDisconnect(int32_t ReasonCode, const std::string& ReasonName);
  virtual void HandleMQTTAuth();

 protected:
  void DoProcessJSON() override;

  virtual void CommandSubscribe();
  virtual void CommandUnSubscribe();
  virtual void CommandPublish();
  virtual void CommandDisconnect();
  virtual void CommandApi();
  virtual void CommandAuthentication();
  virtual void CommandMQTTHeartBeat();

 private:
  std::unique_ptr<TbrzWSProtocol_MQTT_Client> FMQTT;
};

}  // namespace brz
