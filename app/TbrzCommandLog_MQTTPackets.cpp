// The MQTT commands that send a packet at once: subscribe, unsubscribe, publish, disconnect. Their
// base form runs as it always did; the members added (QoS, lists, payload forms, MQTT 5 options
// and properties) are checked strictly, and nothing is sent when a check fails.
#include <algorithm>

#include "app/AppMessages.h"
#include "app/TbrzCommandLog_MQTT.h"
#include "common/Text.h"
#include "json/JSONEscape.h"
#include "transport/TbrzSocketErrors.h"

namespace brz {

namespace {

constexpr int64_t kMaxInt32 = 2147483647;
constexpr int64_t kMaxSubscriptionIdentifier = 268435455;

TmqttQoS ReadQoS(const TbrzCommandArgs& aArgs, const std::string& aName) {
  int64_t qos = 0;
  try {
    aArgs.Integer(aName, 0, 2, qos);
  } catch (const TbrzRefusal&) {
    throw TbrzRefusal(aArgs.Context() + aName + " must be 0, 1 or 2 (got " + ShownValue(aArgs.Document()->Node(aName)) +
                      ")");
  }
  return static_cast<TmqttQoS>(qos);
}

void RequireMQTT5(bool aMQTT5, const std::string& aWhat) {
  if (!aMQTT5) throw TbrzRefusal(FormatMsg(kNeedsMQTT5, aWhat.c_str()));
}

// One subscription of "topics": a filter string, or an object with the filter and its options.
TbrzWSTopic ReadSubscription(const IbrzObjectJSON& aItem, bool aMQTT5) {
  if (aItem && aItem->JSONType() == TbrzJSONtype::brzJSONString) {
    return TbrzWSTopic(JSONUnescape(aItem->Value()), TmqttQoS::mtqsAtMostOnce);
  }
  if (!aItem || aItem->JSONType() != TbrzJSONtype::brzJSONObject)
    throw TbrzRefusal("each of topics must be a topic filter or an object {\"topic\": ...}");
  const TbrzCommandArgs item(aItem->JSONObject(), "topics[].");
  item.RefuseUnknown({"topic", "qos", "nolocal", "retainaspublished", "retainhandling"});
  std::string filter;
  if (!item.String("topic", filter)) throw TbrzRefusal("each of topics needs \"topic\"");
  TbrzWSTopic topic(filter, ReadQoS(item, "qos"));
  uint8_t options = 0;
  bool flag = false;
  int64_t handling = 0;
  if (item.Bool("nolocal", flag) && flag) options |= 0x04;
  if (item.Bool("retainaspublished", flag) && flag) options |= 0x08;
  if (item.Integer("retainhandling", 0, 2, handling)) options |= static_cast<uint8_t>(handling << 4);
  if (item.Has("nolocal") || item.Has("retainaspublished") || item.Has("retainhandling"))
    RequireMQTT5(aMQTT5, "nolocal, retainaspublished and retainhandling");
  topic.SetOptions(options);
  return topic;
}

}  // namespace

void TbrzCommandLog_MQTT::CommandSubscribe() {
  Guarded("subscribe", [this] {
    const TbrzCommandArgs args = Args();
    NoteUnknownMembers("subscribe", args, {"topic", "qos", "topics", "properties"});
    const bool v5 = MQTT5();
    TSubscription subscription;
    if (args.Has("topic") || !args.Has("topics")) {
      subscription.Topics.Add(ParamValue("topic", Params()).AsText(), ReadQoS(args, "qos"));
    } else if (args.Has("qos")) {
      throw TbrzRefusal("qos goes with topic; give each of topics its own qos");
    }
    std::vector<IbrzObjectJSON> items;
    if (args.List("topics", items)) {
      if (items.empty()) throw TbrzRefusal("topics must not be empty");
      for (const IbrzObjectJSON& item : items) {
        const TbrzWSTopic topic = ReadSubscription(item, v5);
        subscription.Topics.Add(topic.Topic(), topic.QoS()).SetOptions(topic.Options());
      }
    }
    for (const TbrzWSTopic& topic : subscription.Topics) {
      const std::string problem = TopicFilterProblem(topic.Topic());
      if (!problem.empty()) throw TbrzRefusal(problem);
    }
    const TbrzCommandArgs properties = args.Object("properties");
    if (properties.Document()) {
      RequireMQTT5(v5, "properties");
      properties.RefuseUnknown({"subscriptionidentifier", "userproperties"});
      int64_t identifier = 0;
      subscription.Properties.SetSendSubscriptionIdentifier(
          properties.Integer("subscriptionidentifier", 1, kMaxSubscriptionIdentifier, identifier));
      subscription.Properties.SetSubscriptionIdentifier(static_cast<int32_t>(identifier));
      std::vector<std::string> lines;
      if (properties.UserProperties("userproperties", lines)) subscription.Properties.SetUserProperties(lines);
      subscription.HasProperties = true;
    }
    MQTTComponent().Subscribe(subscription.Topics, subscription.HasProperties ? &subscription.Properties : nullptr);
    std::lock_guard<std::mutex> guard(FSessionLock);
    FSubscriptions.push_back(std::move(subscription));
  });
}

void TbrzCommandLog_MQTT::CommandUnSubscribe() {
  Guarded("unsubscribe", [this] {
    const TbrzCommandArgs args = Args();
    NoteUnknownMembers("unsubscribe", args, {"topic", "topics", "properties"});
    TbrzWSTopics topics;
    if (args.Has("topic") || !args.Has("topics")) topics.Add(ParamValue("topic", Params()).AsText());
    std::vector<IbrzObjectJSON> items;
    if (args.List("topics", items)) {
      if (items.empty()) throw TbrzRefusal("topics must not be empty");
      for (const IbrzObjectJSON& item : items) {
        if (!item || item->JSONType() != TbrzJSONtype::brzJSONString)
          throw TbrzRefusal("each of topics must be a topic filter (a string)");
        topics.Add(JSONUnescape(item->Value()));
      }
    }
    for (const TbrzWSTopic& topic : topics) {
      const std::string problem = TopicFilterProblem(topic.Topic());
      if (!problem.empty()) throw TbrzRefusal(problem);
    }
    const TbrzCommandArgs properties = args.Object("properties");
    TbrzWSMQTTUnsubscribe_Properties set;
    if (properties.Document()) {
      RequireMQTT5(MQTT5(), "properties");
      properties.RefuseUnknown({"userproperties"});
      std::vector<std::string> lines;
      if (properties.UserProperties("userproperties", lines)) set.SetUserProperties(lines);
    }
    MQTTComponent().UnSubscribe(topics, properties.Document() ? &set : nullptr);
    // Resubscribe no longer makes what was given up.
    std::lock_guard<std::mutex> guard(FSessionLock);
    for (TSubscription& subscription : FSubscriptions) {
      TbrzWSTopics kept;
      for (const TbrzWSTopic& old : subscription.Topics) {
        bool dropped = false;
        for (const TbrzWSTopic& gone : topics) dropped = dropped || gone.Topic() == old.Topic();
        if (!dropped) kept.Add(old.Topic(), old.QoS()).SetOptions(old.Options());
      }
      subscription.Topics = kept;
    }
    FSubscriptions.erase(std::remove_if(FSubscriptions.begin(), FSubscriptions.end(),
                                        [](const TSubscription& s) { return s.Topics.Count() == 0; }),
                         FSubscriptions.end());
  });
}

void TbrzCommandLog_MQTT::CommandPublish() {
  Guarded("publish", [this] {
    const TbrzCommandArgs args = Args();
    NoteUnknownMembers("publish", args, {"topic", "text", "hex", "base64", "qos", "retain", "properties"});
    // The base arguments are read as the base reads them, in this order: retain, qos, topic, text.
    const IbrzObjectJSON params = Params();
    const bool retain = ParamValue("retain", params).AsText() == "true";
    const TbrzParamValue qosValue = ParamValue("qos", params);
    const int32_t q = qosValue.AsInteger();
    const TmqttQoS qos =
        q == 1 ? TmqttQoS::mtqsAtLeastOnce : q == 2 ? TmqttQoS::mtqsExactlyOnce : TmqttQoS::mtqsAtMostOnce;
    const std::string topic = ParamValue("topic", params).AsText();
    std::string payload;
    if (args.Has("hex") || args.Has("base64")) args.Payload(payload);
    else payload = ParamValue("text", params).AsText();

    const TbrzCommandArgs properties = args.Object("properties");
    TbrzWSMQTTPublish_Properties set;
    bool aliasGiven = false;
    if (properties.Document()) {
      RequireMQTT5(MQTT5(), "properties");
      properties.RefuseUnknown({"messageexpiry", "contenttype", "payloadformat", "responsetopic", "correlationdata",
                                "topicalias", "userproperties"});
      int64_t number = 0;
      std::string text;
      std::vector<std::string> lines;
      if (properties.Integer("messageexpiry", 1, kMaxInt32, number))
        set.SetMessageExpiryInterval(static_cast<int32_t>(number));
      if (properties.String("contenttype", text)) set.SetContentType(text);
      if (properties.Integer("payloadformat", 0, 1, number)) {
        set.SetPayloadFormat(number == 1 ? TwsMQTTPayloadFormat::mqpfUTF8 : TwsMQTTPayloadFormat::mqpfUnspecified);
        if (number == 1 && !IsValidUTF8(payload)) throw TbrzRefusal("payloadformat 1 needs a UTF-8 payload");
      }
      if (properties.String("responsetopic", text)) {
        const std::string problem = PublishTopicProblem(text, false);
        if (!problem.empty()) throw TbrzRefusal("properties.responsetopic: " + problem);
        set.SetResponseTopic(text);
      }
      if (properties.Binary("correlationdata", text)) set.SetCorrelationData(text);
      if (properties.Integer("topicalias", 1, 65535, number)) {
        set.SetTopicAlias(static_cast<int32_t>(number));
        aliasGiven = true;
      }
      if (properties.UserProperties("userproperties", lines)) set.SetUserProperties(lines);
    }
    const std::string problem = PublishTopicProblem(topic, aliasGiven);
    if (!problem.empty()) throw TbrzRefusal(problem);
    // The base publishes any other qos at QoS 0; so do we, saying so.
    if (q < 0 || q > 2) Diagnostic(FormatMsg(kPublishQoSFallback, qosValue.AsText().c_str()));
    MQTTComponent().Publish(topic, payload, qos, retain, properties.Document() ? &set : nullptr);
  });
}

void TbrzCommandLog_MQTT::CommandDisconnect() {
  Guarded("disconnect", [this] {
    const TbrzCommandArgs args = Args();
    NoteUnknownMembers("disconnect", args, {"reasoncode", "properties"});
    const TbrzCommandArgs properties = args.Object("properties");
    if (!args.Has("reasoncode") && !properties.Document()) return MQTTComponent().Disconnect();
    RequireMQTT5(MQTT5(), "reasoncode and properties");
    int64_t code = 0;
    args.Integer("reasoncode", 0, 255, code);
    TbrzWSMQTTDisconnect_Properties set;
    if (properties.Document()) {
      properties.RefuseUnknown({"sessionexpiry", "reasonstring", "userproperties"});
      int64_t number = 0;
      std::string text;
      std::vector<std::string> lines;
      set.SetSendSessionExpiryInterval(properties.Integer("sessionexpiry", 0, kMaxInt32, number));
      set.SetSessionExpiryInterval(static_cast<int32_t>(number));
      if (properties.String("reasonstring", text)) set.SetReasonString(text);
      if (properties.UserProperties("userproperties", lines)) set.SetUserProperties(lines);
    } else {
      set.SetSendSessionExpiryInterval(false);
    }
    MQTTComponent().Disconnect(static_cast<int32_t>(code), &set);
  });
}

}  // namespace brz
