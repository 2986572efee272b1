// MQTT session settings (session), the last will (will), and what they do at connect time:
// client identifier, clean session, resubscribe.
#include "app/AppMessages.h"
#include "app/EventDetails.h"
#include "app/EventLines.h"
#include "app/TbrzCommandLog_MQTT.h"
#include "common/Encoding.h"
#include "transport/TbrzSocketErrors.h"

namespace brz {

namespace {

constexpr int64_t kMaxInt32 = 2147483647;

// MQTT 5 property members shared by will and publish.
void ReadMessageProperties(const TbrzCommandArgs& aProperties, TbrzWSMQTTWill_Properties& aTarget) {
  int64_t number = 0;
  std::string text;
  std::vector<std::string> lines;
  if (aProperties.Integer("willdelay", 0, kMaxInt32, number)) aTarget.SetWillDelayInterval(static_cast<int32_t>(number));
  if (aProperties.Integer("messageexpiry", 0, kMaxInt32, number))
    aTarget.SetMessageExpiryInterval(static_cast<int32_t>(number));
  if (aProperties.String("contenttype", text)) aTarget.SetContentType(text);
  if (aProperties.Integer("payloadformat", 0, 1, number))
    aTarget.SetPayloadFormat(number == 1 ? TwsMQTTPayloadFormat::mqpfUTF8 : TwsMQTTPayloadFormat::mqpfUnspecified);
  if (aProperties.String("responsetopic", text)) {
    const std::string problem = PublishTopicProblem(text, false);
    if (!problem.empty()) throw TbrzRefusal("properties.responsetopic: " + problem);
    aTarget.SetResponseTopic(text);
  }
  if (aProperties.Binary("correlationdata", text)) aTarget.SetCorrelationData(text);
  if (aProperties.UserProperties("userproperties", lines)) aTarget.SetUserProperties(lines);
}

std::string WillPropertiesEcho(const TbrzWSMQTTWill_Properties& P) {
  TbrzJSONMembers m;
  m.Number("willdelay", P.WillDelayInterval());
  m.Number("messageexpiry", P.MessageExpiryInterval());
  if (!P.ContentType().empty()) m.Text("contenttype", P.ContentType());
  m.Number("payloadformat", P.PayloadFormat() == TwsMQTTPayloadFormat::mqpfUTF8 ? 1 : 0);
  if (!P.ResponseTopic().empty()) m.Text("responsetopic", P.ResponseTopic());
  if (!P.CorrelationData().empty()) m.Bytes("correlationdata", P.CorrelationData());
  m.UserProperties("userproperties", P.UserProperties());
  return m.Object();
}

}  // namespace

void TbrzCommandLog_MQTT::Guarded(const char* aName, const std::function<void()>& aBody) {
  try {
    aBody();
  } catch (const TbrzRefusal& refusal) {
    Diagnostic(std::string(aName) + ": " + refusal.what() + kCommandIgnored);
  }
}

TbrzCommandArgs TbrzCommandLog_MQTT::Args() {
  IbrzObjectJSON params = Params();
  if (!params) return TbrzCommandArgs(CommandDocument());
  if (params->JSONType() != TbrzJSONtype::brzJSONObject) return TbrzCommandArgs(nullptr);
  return TbrzCommandArgs(params->JSONObject());
}

void TbrzCommandLog_MQTT::NoteUnknownMembers(const char* aName, const TbrzCommandArgs& aArgs,
                                             std::initializer_list<const char*> aKnown) {
  for (const std::string& name : aArgs.Unknown(aKnown)) {
    // Arguments at the top level stand beside the command's own members.
    if (!Params() && (name == "message" || name == "protocol")) continue;
    Diagnostic(FormatMsg(kUnknownMemberIgnored, aName, name.c_str()));
  }
}

// ---- session

std::string TbrzCommandLog_MQTT::SessionEcho() {
  TbrzWSProtocol_MQTT_Client& engine = MQTTComponent();
  TbrzJSONMembers m;
  {
    std::lock_guard<std::mutex> guard(FSessionLock);
    if (FSession.ClientIdNull) m.Null("clientid");
    else m.Text("clientid", FSession.ClientId);
    m.Flag("cleansession", FSession.CleanSession);
    const TbrzWSMQTTConnect_Properties& P = engine.ConnectProperties();
    m.Number("sessionexpiry", P.SessionExpiryInterval());
    m.Flag("resubscribe", FSession.Resubscribe);
    m.Number("inflight", engine.InflightMaximum());
    TbrzJSONMembers p;
    p.Number("receivemaximum", P.ReceiveMaximum());
    p.Number("maximumpacketsize", static_cast<uint32_t>(P.MaximumPacketSize()));
    p.Number("topicaliasmaximum", P.TopicAliasMaximum());
    p.Flag("requestresponseinformation", P.RequestResponseInformation());
    p.Flag("requestprobleminformation", P.RequestProblemInformation());
    p.UserProperties("userproperties", P.UserProperties());
    if (!P.AuthenticationMethod().empty()) p.Text("authenticationmethod", P.AuthenticationMethod());
    // Authentication data may be a secret.
    if (!P.AuthenticationData().empty()) p.Text("authenticationdata", "***");
    m.Raw("properties", p.Object());
  }
  return m.Object();
}

void TbrzCommandLog_MQTT::CommandSession() {
  Guarded("session", [this] {
    const TbrzCommandArgs args = Args();
    args.RefuseUnknown({"clientid", "cleansession", "sessionexpiry", "resubscribe", "inflight", "properties",
                        "message", "protocol"});
    const TbrzCommandArgs properties = args.Object("properties");
    properties.RefuseUnknown({"receivemaximum", "maximumpacketsize", "topicaliasmaximum", "requestresponseinformation",
                              "requestprobleminformation", "userproperties", "authenticationmethod",
                              "authenticationdata", "sessionexpiry"});
    // Everything is read and checked before anything changes.
    TbrzWSProtocol_MQTT_Client& engine = MQTTComponent();
    TbrzWSMQTTConnect_Properties connect;
    connect.Assign(engine.ConnectProperties());
    bool clientIdNull = false;
    std::string clientId;
    const bool hasClientId = args.Has("clientid");
    if (args.Kind("clientid") == TbrzJSONtype::brzJSONNull) clientIdNull = true;
    else if (args.String("clientid", clientId) && clientId.size() > 65535)
      throw TbrzRefusal("clientid is longer than 65535 bytes");
    if (!IsExactText(clientId)) throw TbrzRefusal("clientid must be UTF-8 text without U+0000");
    bool cleanSession = false, resubscribe = false;
    const bool hasClean = args.Bool("cleansession", cleanSession);
    const bool hasResubscribe = args.Bool("resubscribe", resubscribe);
    int64_t number = 0;
    bool anyProperty = false;
    if (args.Integer("sessionexpiry", 0, kMaxInt32, number) ||
        properties.Integer("sessionexpiry", 0, kMaxInt32, number)) {
      connect.SetSessionExpiryInterval(static_cast<int32_t>(number));
      anyProperty = true;
    }
    int64_t inflight = -1;
    args.Integer("inflight", 0, 65535, inflight);
    if (properties.Integer("receivemaximum", 1, 65535, number)) connect.SetReceiveMaximum(static_cast<int32_t>(number));
    if (properties.Integer("maximumpacketsize", 1, kMaxInt32, number))
      connect.SetMaximumPacketSize(static_cast<int32_t>(number));
    if (properties.Integer("topicaliasmaximum", 0, 65535, number))
      connect.SetTopicAliasMaximum(static_cast<int32_t>(number));
    bool flag = false;
    if (properties.Bool("requestresponseinformation", flag)) connect.SetRequestResponseInformation(flag);
    if (properties.Bool("requestprobleminformation", flag)) connect.SetRequestProblemInformation(flag);
    std::vector<std::string> lines;
    if (properties.UserProperties("userproperties", lines)) connect.SetUserProperties(lines);
    std::string text;
    if (properties.String("authenticationmethod", text)) connect.SetAuthenticationMethod(text);
    if (properties.Binary("authenticationdata", text)) {
      if (connect.AuthenticationMethod().empty())
        throw TbrzRefusal("properties.authenticationdata needs properties.authenticationmethod");
      connect.SetAuthenticationData(text);
    }
    anyProperty = anyProperty || properties.Document() != nullptr;
    if (anyProperty) connect.SetEnabled(true);

    {
      std::lock_guard<std::mutex> guard(FSessionLock);
      if (hasClientId) {
        FSession.ClientIdNull = clientIdNull;
        FSession.ClientId = clientId;
        FSession.KeptClientId.clear();
      }
      if (hasClean) FSession.CleanSession = cleanSession;
      if (hasResubscribe) FSession.Resubscribe = resubscribe;
    }
    if (hasClientId) engine.SetEmptyClientId(clientIdNull);
    engine.SetConnectProperties(connect);
    if (inflight >= 0) engine.SetInflightMaximum(static_cast<int32_t>(inflight));
    WriteLog(EventLine::MQTTOptions("session", SessionEcho()));
    if (anyProperty && !MQTT5()) Diagnostic(FormatMsg(kPropertiesAfterApi, "session"));
  });
}

void TbrzCommandLog_MQTT::HandleMQTTBeforeConnect(bool& aCleanSession, std::string& aClientIdentifier) {
  std::lock_guard<std::mutex> guard(FSessionLock);
  aCleanSession = FSession.CleanSession;
  if (FSession.ClientIdNull) {
    aClientIdentifier.clear();
  } else if (!FSession.ClientId.empty()) {
    aClientIdentifier = FSession.ClientId;
  } else if (!FSession.CleanSession) {
    // A session that survives reconnects needs the same identifier every time.
    if (FSession.KeptClientId.empty()) FSession.KeptClientId = aClientIdentifier;
    aClientIdentifier = FSession.KeptClientId;
  }
}

void TbrzCommandLog_MQTT::HandleMQTTConnect(bool Session, int32_t ReasonCode, const std::string& ReasonName,
                                            const TbrzWSMQTTCONNACKProperties* Properties) {
  FConnectAwaited = false;
  std::string line = EventLine::MQTTConnect(Session, ReasonCode, ReasonName);
  if (FDetails.load() && Properties && MQTT5()) line = WithParams(std::move(line), EventLine::ConnackDetails(*Properties));
  WriteLog(line);
  if (ReasonCode == 0 && !Session) Resubscribe();
}

void TbrzCommandLog_MQTT::CommandOpen() {
  FConnectAwaited = true;
  TbrzCommandLog_WSProtocolClient::CommandOpen();
}

void TbrzCommandLog_MQTT::Resubscribe() {
  std::vector<TSubscription> subscriptions;
  {
    std::lock_guard<std::mutex> guard(FSessionLock);
    if (!FSession.Resubscribe) return;
    subscriptions = FSubscriptions;
  }
  for (const TSubscription& subscription : subscriptions)
    MQTTComponent().Subscribe(subscription.Topics, subscription.HasProperties ? &subscription.Properties : nullptr);
}

// ---- will

std::string TbrzCommandLog_MQTT::WillEcho() {
  const TbrzWSMQTTLWT_Options& will = MQTTComponent().LastWillTestament();
  TbrzJSONMembers m;
  m.Flag("enabled", will.Enabled);
  m.Text("topic", will.Topic);
  if (IsExactText(will.Text)) m.Text("text", will.Text);
  else m.Text("base64", EncodeBase64(will.Text));
  m.Number("qos", static_cast<int>(will.QoS));
  m.Flag("retain", will.Retain);
  if (will.WillProperties.Enabled()) m.Raw("properties", WillPropertiesEcho(will.WillProperties));
  return m.Object();
}

void TbrzCommandLog_MQTT::CommandWill() {
  Guarded("will", [this] {
    const TbrzCommandArgs args = Args();
    args.RefuseUnknown({"enabled", "topic", "text", "hex", "base64", "qos", "retain", "properties", "message",
                        "protocol"});
    const TbrzCommandArgs properties = args.Object("properties");
    properties.RefuseUnknown({"willdelay", "messageexpiry", "contenttype", "payloadformat", "responsetopic",
                              "correlationdata", "userproperties"});
    TbrzWSMQTTLWT_Options will;
    will.Assign(MQTTComponent().LastWillTestament());
    bool enabled = true;
    if (!args.Bool("enabled", enabled)) enabled = true;
    will.Enabled = enabled;
    std::string text;
    if (args.String("topic", text)) will.Topic = text;
    if (args.Payload(text)) will.Text = text;
    int64_t number = 0;
    if (args.Integer("qos", 0, 2, number)) will.QoS = static_cast<TmqttQoS>(number);
    bool flag = false;
    if (args.Bool("retain", flag)) will.Retain = flag;
    if (properties.Document()) {
      TbrzWSMQTTWill_Properties set;
      set.Assign(will.WillProperties);
      ReadMessageProperties(properties, set);
      set.SetEnabled(true);
      will.SetWillProperties(set);
    }
    if (will.Enabled) {
      const std::string problem = PublishTopicProblem(will.Topic, false);
      if (!problem.empty()) throw TbrzRefusal(problem);
    }
    MQTTComponent().SetLastWillTestament(will);
    WriteLog(EventLine::MQTTOptions("will", WillEcho()));
    if (properties.Document() && !MQTT5()) Diagnostic(FormatMsg(kPropertiesAfterApi, "will"));
  });
}

}  // namespace brz
