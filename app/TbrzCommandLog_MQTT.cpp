#include "app/TbrzCommandLog_MQTT.h"

#include "app/AppMessages.h"
#include "app/EventLines.h"

namespace brz {

TbrzCommandLog_MQTT::~TbrzCommandLog_MQTT() {
  // No remote command may run into a half-destroyed processor.
  StopIntake();
  if (FMQTT) FMQTT->SetClient(nullptr);
  FMQTT.reset();
}

TbrzWSProtocol_MQTT_Client& TbrzCommandLog_MQTT::MQTTComponent() {
  if (!FMQTT) {
    auto engine = std::make_unique<TbrzWSProtocol_MQTT_Client>();
    engine->OnMQTTBeforeConnect = [this](const TbrzConnectionPtr&, bool& aCleanSession, std::string& aClientIdentifier) {
      HandleMQTTBeforeConnect(aCleanSession, aClientIdentifier);
    };
    engine->OnMQTTConnect = [this](const TbrzConnectionPtr&, bool Session, int32_t ReasonCode,
                                   const std::string& ReasonName, const TbrzWSMQTTCONNACKProperties&) {
      HandleMQTTConnect(Session, ReasonCode, ReasonName);
    };
    engine->OnMQTTPing = [this](const TbrzConnectionPtr&) { HandleMQTTPing(); };
    engine->OnMQTTPublish = [this](const TbrzConnectionPtr&, const std::string& aTopic, const std::string& aText,
                                   const TbrzWSMQTTPublishProperties&) { HandleMQTTPublish(aTopic, aText); };
    engine->OnMQTTPubAck = [this](const TbrzConnectionPtr&, uint16_t Id, int32_t Code, const std::string& Name,
                                  const TbrzWSMQTTPUBSUBACKProperties&) { HandleMQTTPubAck(Id, Code, Name); };
    engine->OnMQTTPubRec = [this](const TbrzConnectionPtr&, uint16_t Id, int32_t Code, const std::string& Name,
                                  const TbrzWSMQTTPUBSUBACKProperties&) { HandleMQTTPubRec(Id, Code, Name); };
    engine->OnMQTTPubRel = [this](const TbrzConnectionPtr&, uint16_t Id, int32_t Code, const std::string& Name,
                                  const TbrzWSMQTTPUBSUBACKProperties&) { HandleMQTTPubRel(Id, Code, Name); };
    engine->OnMQTTPubComp = [this](const TbrzConnectionPtr&, uint16_t Id, int32_t Code, const std::string& Name,
                                   const TbrzWSMQTTPUBSUBACKProperties&) { HandleMQTTPubComp(Id, Code, Name); };
    engine->OnMQTTSubscribe = [this](const TbrzConnectionPtr&, uint16_t Id, const TbrzWSSUBACKS& Codes,
                                     const TbrzWSMQTTSUBACKProperties&) { HandleMQTTSubscribe(Id, Codes); };
    engine->OnMQTTUnSubscribe = [this](const TbrzConnectionPtr&, uint16_t Id, const TbrzWSUNSUBACKS& Codes,
                                       const TbrzWSMQTTUNSUBACKProperties&) { HandleMQTTUnSubscribe(Id, Codes); };
    engine->OnMQTTDisconnect = [this](const TbrzConnectionPtr&, int32_t Code, const std::string& Name,
                                      const TbrzWSMQTTDISCONNECTProperties&) { HandleMQTTDisconnect(Code, Name); };
    engine->OnMQTTAuth = [this](const TbrzConnectionPtr&, int32_t, const std::string&,
                                const TbrzWSMQTTAUTHProperties&) { HandleMQTTAuth(); };
    engine->OnMQTTNotice = [this](const std::string& aText) { Diagnostic(aText); };
    FMQTT = std::move(engine);
    FMQTT->SetClient(&ClientComponent());
  }
  return *FMQTT;
}

void TbrzCommandLog_MQTT::DoProcessJSON() {
  const std::string message = ParamValue("message").AsText();
  const std::string protocol = ParamValue("protocol").AsText();
  if (protocol != "mqtt") {
    MQTTComponent();
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

void TbrzCommandLog_MQTT::CommandSubscribe() {
  MQTTComponent().Subscribe(ParamValue("topic", Params()).AsText(), TmqttQoS::mtqsAtMostOnce);
}

void TbrzCommandLog_MQTT::CommandUnSubscribe() { MQTTComponent().UnSubscribe(ParamValue("topic", Params()).AsText()); }

void TbrzCommandLog_MQTT::CommandPublish() {
  // Arguments are read in this order: retain, qos, topic, text.
  const IbrzObjectJSON params = Params();
  const bool retain = ParamValue("retain", params).AsText() == "true";
  const int32_t q = ParamValue("qos", params).AsInteger();
  const TmqttQoS qos = q == 1 ? TmqttQoS::mtqsAtLeastOnce : q == 2 ? TmqttQoS::mtqsExactlyOnce : TmqttQoS::mtqsAtMostOnce;
  const std::string topic = ParamValue("topic", params).AsText();
  const std::string text = ParamValue("text", params).AsText();
  MQTTComponent().Publish(topic, text, qos, retain);
}

void TbrzCommandLog_MQTT::CommandDisconnect() { MQTTComponent().Disconnect(); }

void TbrzCommandLog_MQTT::CommandApi() {
  const bool v5 = ParamValue("version", Params()).AsText() == "5.0";
  MQTTComponent().SetMQTTVersion(v5 ? TwsMQTTVersion::mqtt5 : TwsMQTTVersion::mqtt311);
  WriteLog(EventLine::MQTTVersion(v5 ? "5.0" : "3.1.1"));
}

void TbrzCommandLog_MQTT::CommandAuthentication() {
  const IbrzObjectJSON params = Params();
  const std::string enabled = ParamValue("enabled", params).AsText();
  auto& authentication = MQTTComponent().Authentication();
  if (enabled == "true") {
    authentication.Enabled = true;
    authentication.UserName = ParamValue("username", params).AsText();
    authentication.Password = ParamValue("password", params).AsText();
    WriteLog(EventLine::MQTTAuthenticationOn(authentication.UserName, authentication.Password));
  } else if (enabled == "false") {
    authentication.Enabled = false;
    WriteLog(EventLine::MQTTAuthenticationOff());
  }
}

void TbrzCommandLog_MQTT::CommandMQTTHeartBeat() {
  const IbrzObjectJSON params = Params();
  auto& heartBeat = MQTTComponent().HeartBeat();
  const int32_t interval = ParamValue("interval", params).AsInteger();
  if (interval > 0) heartBeat.Interval = interval;
  const std::string enabled = ParamValue("enabled", params).AsText();
  if (enabled == "true") {
    heartBeat.Enabled = true;
    WriteLog(EventLine::MQTTHeartBeat(true, heartBeat.Interval));
  } else if (enabled == "false") {
    heartBeat.Enabled = false;
    WriteLog(EventLine::MQTTHeartBeat(false, heartBeat.Interval));
  }
}

void TbrzCommandLog_MQTT::HandleMQTTBeforeConnect(bool&, std::string&) {}

void TbrzCommandLog_MQTT::HandleMQTTConnect(bool Session, int32_t ReasonCode, const std::string& ReasonName) {
  WriteLog(EventLine::MQTTConnect(Session, ReasonCode, ReasonName));
}

void TbrzCommandLog_MQTT::HandleMQTTPing() {}

void TbrzCommandLog_MQTT::HandleMQTTPublish(const std::string& Topic, const std::string& Text) {
  WriteLog(EventLine::MQTTPublish(Topic, Text));
}

void TbrzCommandLog_MQTT::HandleMQTTPubAck(uint16_t Id, int32_t Code, const std::string& Name) {
  WriteLog(EventLine::MQTTAck("puback", Id, Code, Name));
}

void TbrzCommandLog_MQTT::HandleMQTTPubRec(uint16_t Id, int32_t Code, const std::string& Name) {
  WriteLog(EventLine::MQTTAck("pubrec", Id, Code, Name));
}

void TbrzCommandLog_MQTT::HandleMQTTPubRel(uint16_t Id, int32_t Code, const std::string& Name) {
  WriteLog(EventLine::MQTTAck("pubrel", Id, Code, Name));
}

void TbrzCommandLog_MQTT::HandleMQTTPubComp(uint16_t Id, int32_t Code, const std::string& Name) {
  WriteLog(EventLine::MQTTAck("pubcomp", Id, Code, Name));
}

void TbrzCommandLog_MQTT::HandleMQTTSubscribe(uint16_t Id, const TbrzWSSUBACKS& SubAcks) {
  for (const auto& ack : SubAcks) WriteLog(EventLine::MQTTAck("subscribe", Id, ack.ReasonCode, ack.ReasonName));
}

void TbrzCommandLog_MQTT::HandleMQTTUnSubscribe(uint16_t Id, const TbrzWSUNSUBACKS& UnSubAcks) {
  for (const auto& ack : UnSubAcks) WriteLog(EventLine::MQTTAck("unsubscribe", Id, ack.ReasonCode, ack.ReasonName));
}

void TbrzCommandLog_MQTT::HandleMQTTDisconnect(int32_t ReasonCode, const std::string& ReasonName) {
  WriteLog(EventLine::MQTTDisconnected(ReasonCode, ReasonName));
}

void TbrzCommandLog_MQTT::HandleMQTTAuth() {}

}  // namespace brz
