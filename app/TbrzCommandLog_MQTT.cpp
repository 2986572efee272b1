#include "app/TbrzCommandLog_MQTT.h"

#include "app/AppMessages.h"
#include "app/EventDetails.h"
#include "app/EventLines.h"
#include "transport/TbrzSocketErrors.h"

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
                                   const std::string& ReasonName, const TbrzWSMQTTCONNACKProperties& Properties) {
      HandleMQTTConnect(Session, ReasonCode, ReasonName, &Properties);
    };
    engine->OnMQTTPing = [this](const TbrzConnectionPtr&) { HandleMQTTPing(); };
    engine->OnMQTTPublishPacket = [this](const TbrzConnectionPtr&, const TbrzWSMQTTPUBLISH& aPublish) {
      HandleMQTTPublishPacket(aPublish);
    };
    engine->OnMQTTPubAck = [this](const TbrzConnectionPtr&, uint16_t Id, int32_t Code, const std::string& Name,
                                  const TbrzWSMQTTPUBSUBACKProperties& P) { HandleMQTTPubAck(Id, Code, Name, &P); };
    engine->OnMQTTPubRec = [this](const TbrzConnectionPtr&, uint16_t Id, int32_t Code, const std::string& Name,
                                  const TbrzWSMQTTPUBSUBACKProperties& P) { HandleMQTTPubRec(Id, Code, Name, &P); };
    engine->OnMQTTPubRel = [this](const TbrzConnectionPtr&, uint16_t Id, int32_t Code, const std::string& Name,
                                  const TbrzWSMQTTPUBSUBACKProperties& P) { HandleMQTTPubRel(Id, Code, Name, &P); };
    engine->OnMQTTPubComp = [this](const TbrzConnectionPtr&, uint16_t Id, int32_t Code, const std::string& Name,
                                   const TbrzWSMQTTPUBSUBACKProperties& P) { HandleMQTTPubComp(Id, Code, Name, &P); };
    engine->OnMQTTSubscribe = [this](const TbrzConnectionPtr&, uint16_t Id, const TbrzWSSUBACKS& Codes,
                                     const TbrzWSMQTTSUBACKProperties& P) { HandleMQTTSubscribe(Id, Codes, &P); };
    engine->OnMQTTUnSubscribe = [this](const TbrzConnectionPtr&, uint16_t Id, const TbrzWSUNSUBACKS& Codes,
                                       const TbrzWSMQTTUNSUBACKProperties& P) { HandleMQTTUnSubscribe(Id, Codes, &P); };
    engine->OnMQTTDisconnect = [this](const TbrzConnectionPtr&, int32_t Code, const std::string& Name,
                                      const TbrzWSMQTTDISCONNECTProperties& P) { HandleMQTTDisconnect(Code, Name, &P); };
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
    if (message == "output") CommandOutput();
    else if (message == "wait") CommandWait();
    else TbrzCommandLog_WSProtocolClient::DoProcessJSON();
    return;
  }
  if (message == "subscribe") CommandSubscribe();
  else if (message == "unsubscribe") CommandUnSubscribe();
  else if (message == "publish") CommandPublish();
  else if (message == "disconnect") CommandDisconnect();
  else if (message == "api") CommandApi();
  else if (message == "authentication") CommandAuthentication();
  else if (message == "heartbeat") CommandMQTTHeartBeat();
  else if (message == "session") CommandSession();
  else if (message == "will") CommandWill();
  else if (!BlankCommand()) Diagnostic(FormatMsg(kUnknownMQTTCommand, message.c_str()));
}

void TbrzCommandLog_MQTT::DoHelp() {
  TbrzCommandLog_WSProtocolClient::DoHelp();
  for (const char* line : kHelpMQTT) ConsoleLine(line);
}

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
    WriteLog(EventLine::MQTTAuthenticationOn(authentication.UserName, authentication.Password),
             EventLine::MQTTAuthenticationOn(authentication.UserName, kMaskedSecret));
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

void TbrzCommandLog_MQTT::HandleMQTTPing() {}

void TbrzCommandLog_MQTT::HandleMQTTPublish(const std::string& Topic, const std::string& Text) {
  WriteLog(EventLine::MQTTPublish(Topic, Text));
}

void TbrzCommandLog_MQTT::HandleMQTTPublishPacket(const TbrzWSMQTTPUBLISH& Publish) {
  if (FDetails.load()) return WriteLog(EventLine::MQTTPublishDetails(Publish, MQTT5()));
  WriteLog(EventLine::MQTTPublishExact(Publish.Topic(), Publish));
}

namespace {

std::string AckLine(bool aDetails, std::string_view aName, uint16_t aId, int32_t aCode, const std::string& aReason,
                    const TbrzWSMQTTPUBSUBACKProperties* aProperties) {
  std::string line = EventLine::MQTTAck(aName, aId, aCode, aReason);
  if (!aDetails || !aProperties) return line;
  return WithParams(std::move(line), EventLine::AckDetails(*aProperties));
}

}  // namespace

void TbrzCommandLog_MQTT::HandleMQTTPubAck(uint16_t Id, int32_t Code, const std::string& Name,
                                           const TbrzWSMQTTPUBSUBACKProperties* Properties) {
  WriteLog(AckLine(FDetails.load(), "puback", Id, Code, Name, Properties));
}

void TbrzCommandLog_MQTT::HandleMQTTPubRec(uint16_t Id, int32_t Code, const std::string& Name,
                                           const TbrzWSMQTTPUBSUBACKProperties* Properties) {
  WriteLog(AckLine(FDetails.load(), "pubrec", Id, Code, Name, Properties));
}

void TbrzCommandLog_MQTT::HandleMQTTPubRel(uint16_t Id, int32_t Code, const std::string& Name,
                                           const TbrzWSMQTTPUBSUBACKProperties* Properties) {
  WriteLog(AckLine(FDetails.load(), "pubrel", Id, Code, Name, Properties));
}

void TbrzCommandLog_MQTT::HandleMQTTPubComp(uint16_t Id, int32_t Code, const std::string& Name,
                                            const TbrzWSMQTTPUBSUBACKProperties* Properties) {
  WriteLog(AckLine(FDetails.load(), "pubcomp", Id, Code, Name, Properties));
}

void TbrzCommandLog_MQTT::HandleMQTTSubscribe(uint16_t Id, const TbrzWSSUBACKS& SubAcks,
                                              const TbrzWSMQTTPUBSUBACKProperties* Properties) {
  for (const auto& ack : SubAcks)
    WriteLog(AckLine(FDetails.load(), "subscribe", Id, ack.ReasonCode, ack.ReasonName, Properties));
}

void TbrzCommandLog_MQTT::HandleMQTTUnSubscribe(uint16_t Id, const TbrzWSUNSUBACKS& UnSubAcks,
                                                const TbrzWSMQTTPUBSUBACKProperties* Properties) {
  for (const auto& ack : UnSubAcks)
    WriteLog(AckLine(FDetails.load(), "unsubscribe", Id, ack.ReasonCode, ack.ReasonName, Properties));
}

void TbrzCommandLog_MQTT::HandleMQTTDisconnect(int32_t ReasonCode, const std::string& ReasonName,
                                               const TbrzWSMQTTDISCONNECTProperties* Properties) {
  std::string line = EventLine::MQTTDisconnected(ReasonCode, ReasonName);
  if (FDetails.load() && Properties) line = WithParams(std::move(line), EventLine::DisconnectDetails(*Properties));
  WriteLog(line);
}

void TbrzCommandLog_MQTT::HandleMQTTAuth() {}

}  // namespace brz
