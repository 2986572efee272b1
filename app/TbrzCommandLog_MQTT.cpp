#include "app/TbrzCommandLog_MQTT.h"

#include "app/AppMessages.h"
#include "app/EventLines.h"

namespace brz {

void TbrzCommandLog_MQTT::DoProcessJSON() {
  const std::string message = ParamValue("message").AsText();
  const std::string protocol = ParamValue("protocol").AsText();
  if (protocol != "mqtt") {
    TbrzCommandLog_WSProtocolClient::DoProcessJSON();
    return;
  }
  if (message == "subscribe") CommandSubscribe();
  else if (message == "unsubscribe") CommandUnSubscribe();
  else if (message == "publish") CommandPublish();
  else if (message == "disconnect") CommandDisconnect();
  else if (message == "api") CommandApi();
  else if (message == "authentication") CommandAuthentication();
  else if (message == "heartbeat") CommandMQTTHeartBeat();
}

void TbrzCommandLog_MQTT::DoHelp() {
  TbrzCommandLog_WSProtocolClient::DoHelp();
  for (const char* line : kHelpMQTT) ConsoleLine(line);
}

void TbrzCommandLog_MQTT::CommandSubscribe() {}
void TbrzCommandLog_MQTT::CommandUnSubscribe() {}
void TbrzCommandLog_MQTT::CommandPublish() {}
void TbrzCommandLog_MQTT::CommandDisconnect() {}
void TbrzCommandLog_MQTT::CommandApi() {}
void TbrzCommandLog_MQTT::CommandAuthentication() {}
void TbrzCommandLog_MQTT::CommandMQTTHeartBeat() {}

}  // namespace brz
