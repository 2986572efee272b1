#include "app/EventDetails.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "app/EventLines.h"
#include "common/Encoding.h"
#include "common/Text.h"

namespace brz {

void TbrzJSONMembers::Name(std::string_view aName) {
  FText += ", \"";
  FText += aName;
  FText += "\": ";
}

TbrzJSONMembers& TbrzJSONMembers::Text(std::string_view aName, std::string_view aValue) {
  Name(aName);
  FText += '"';
  FText += JsonEscape(aValue);
  FText += '"';
  return *this;
}

TbrzJSONMembers& TbrzJSONMembers::Bytes(std::string_view aName, std::string_view aValue) {
  if (IsExactText(aValue)) return Text(aName, aValue);
  Name(aName);
  FText += "{\"base64\": \"" + EncodeBase64(aValue) + "\"}";
  return *this;
}

TbrzJSONMembers& TbrzJSONMembers::Number(std::string_view aName, int64_t aValue) {
  Name(aName);
  FText += std::to_string(aValue);
  return *this;
}

TbrzJSONMembers& TbrzJSONMembers::Flag(std::string_view aName, bool aValue) {
  Name(aName);
  FText += aValue ? "true" : "false";
  return *this;
}

TbrzJSONMembers& TbrzJSONMembers::Null(std::string_view aName) {
  Name(aName);
  FText += "null";
  return *this;
}

TbrzJSONMembers& TbrzJSONMembers::Raw(std::string_view aName, std::string_view aJSON) {
  Name(aName);
  FText += aJSON;
  return *this;
}

TbrzJSONMembers& TbrzJSONMembers::UserProperties(std::string_view aName, const TbrzWSMQTTUserProperties& aLines) {
  std::string list = "[";
  for (size_t i = 0; i < aLines.size(); ++i) {
    if (i > 0) list += ", ";
    list += "[\"" + JsonEscape(UserPropertyName(aLines[i])) + "\", \"" + JsonEscape(UserPropertyValue(aLines[i])) +
            "\"]";
  }
  list += "]";
  return Raw(aName, list);
}

std::string TbrzJSONMembers::Object() const { return FText.empty() ? "{}" : "{" + FText.substr(2) + "}"; }

bool IsExactText(std::string_view aBytes) {
  return aBytes.find('\0') == std::string_view::npos && IsValidUTF8(aBytes);
}

std::string WithParams(std::string aLine, const std::string& aMembers) {
  if (aMembers.empty() || aLine.size() < 2) return aLine;
  aLine.insert(aLine.size() - 2, aMembers);
  return aLine;
}

std::string WithTime(std::string aLine) {
  if (aLine.size() < 2 || aLine.front() != '{' || aLine.back() != '}') return aLine;
  const auto now = std::chrono::system_clock::now();
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(millis / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char stamp[96];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis % 1000));
  aLine.insert(aLine.size() - 1, std::string(", \"time\": \"") + stamp + "\"");
  return aLine;
}

namespace EventLine {

namespace {

std::string PublishProperties(const TbrzWSMQTTPublishProperties& P) {
  TbrzJSONMembers m;
  if (P.PayloadFormat() == TwsMQTTPayloadFormat::mqpfUTF8) m.Number("payloadformat", 1);
  if (P.MessageExpiryInterval() != 0) m.Number("messageexpiry", static_cast<uint32_t>(P.MessageExpiryInterval()));
  if (P.TopicAlias() != 0) m.Number("topicalias", P.TopicAlias());
  if (!P.ResponseTopic().empty()) m.Text("responsetopic", P.ResponseTopic());
  if (!P.CorrelationData().empty()) m.Bytes("correlationdata", P.CorrelationData());
  if (!P.UserProperties().empty()) m.UserProperties("userproperties", P.UserProperties());
  if (P.SubscriptionIdentifier() != 0) m.Number("subscriptionidentifier", P.SubscriptionIdentifier());
  if (!P.ContentType().empty()) m.Text("contenttype", P.ContentType());
  return m.Empty() ? std::string() : m.Object();
}

}  // namespace

std::string MQTTPublishExact(std::string_view Topic, const TbrzWSMQTTPUBLISH& Publish) {
  std::string line = MQTTPublish(Topic, Publish.Text());
  if (IsExactText(Publish.Payload())) return line;
  return WithParams(std::move(line), TbrzJSONMembers().Text("base64", EncodeBase64(Publish.Payload())).Members());
}

std::string MQTTPublishDetails(const TbrzWSMQTTPUBLISH& Publish, bool aMQTT5) {
  TbrzJSONMembers m;
  m.Text("topic", Publish.Topic());
  if (IsExactText(Publish.Payload())) m.Text("text", Publish.Payload());
  else m.Text("base64", EncodeBase64(Publish.Payload()));
  m.Number("qos", static_cast<int>(Publish.QoS()));
  m.Flag("retain", Publish.Retain());
  m.Flag("dup", Publish.Duplicate());
  if (Publish.QoS() != TmqttQoS::mtqsAtMostOnce) m.Number("packetidentifier", Publish.PacketIdentifier());
  if (aMQTT5) {
    const std::string properties = PublishProperties(Publish.PUBLISHProperties());
    if (!properties.empty()) m.Raw("properties", properties);
  }
  return "{\"event\": \"publish\", \"protocol\": \"mqtt\", \"params\":" + m.Object() + "}";
}

std::string ConnackDetails(const TbrzWSMQTTCONNACKProperties& P) {
  TbrzJSONMembers m;
  if (!P.AssignedClientIdentifier().empty()) m.Text("assignedclientidentifier", P.AssignedClientIdentifier());
  m.Number("sessionexpiry", static_cast<uint32_t>(P.SessionExpiryInterval()));
  m.Number("receivemaximum", P.ReceiveMaximum());
  m.Number("maximumqos", static_cast<int>(P.MaximumQoS()));
  m.Flag("retainavailable", P.RetainAvailable());
  m.Number("maximumpacketsize", static_cast<uint32_t>(P.MaximumPacketSize()));
  m.Number("topicaliasmaximum", P.TopicAliasMaximum());
  m.Flag("wildcardsubscriptionavailable", P.WildcardSubscriptionAvailable());
  m.Flag("subscriptionidentifiersavailable", P.SubscriptionIdentifiersAvailable());
  m.Flag("sharedsubscriptionavailable", P.SharedSubscriptionAvailable());
  if (P.ServerKeepAlive() != 0) m.Number("serverkeepalive", P.ServerKeepAlive());
  if (!P.ResponseInformation().empty()) m.Text("responseinformation", P.ResponseInformation());
  if (!P.ServerReference().empty()) m.Text("serverreference", P.ServerReference());
  if (!P.ReasonString().empty()) m.Text("reasonstring", P.ReasonString());
  if (!P.AuthenticationMethod().empty()) m.Text("authenticationmethod", P.AuthenticationMethod());
  if (!P.AuthenticationData().empty()) m.Bytes("authenticationdata", P.AuthenticationData());
  if (!P.UserProperties().empty()) m.UserProperties("userproperties", P.UserProperties());
  return TbrzJSONMembers().Raw("properties", m.Object()).Members();
}

std::string AckDetails(const TbrzWSMQTTPUBSUBACKProperties& P) {
  TbrzJSONMembers m;
  if (!P.ReasonString().empty()) m.Text("reasonstring", P.ReasonString());
  if (!P.UserProperties().empty()) m.UserProperties("userproperties", P.UserProperties());
  return m.Members();
}

std::string DisconnectDetails(const TbrzWSMQTTDISCONNECTProperties& P) {
  TbrzJSONMembers m;
  if (!P.ReasonString().empty()) m.Text("reasonstring", P.ReasonString());
  if (!P.ServerReference().empty()) m.Text("serverreference", P.ServerReference());
  if (P.SessionExpiryInterval() != 0) m.Number("sessionexpiry", static_cast<uint32_t>(P.SessionExpiryInterval()));
  if (!P.UserProperties().empty()) m.UserProperties("userproperties", P.UserProperties());
  return m.Members();
}

std::string MQTTOptions(std::string_view aName, std::string_view aObject) {
  return "{\"event\": \"options\", \"protocol\": \"mqtt\", \"params\":{\"" + std::string(aName) + "\": " +
         std::string(aObject) + "}}";
}

std::string OutputOptions(std::string_view aObject) {
  return "{\"event\": \"options\", \"params\":{\"output\": " + std::string(aObject) + "}}";
}

std::string WaitResult(bool aDone, int aCount) {
  return std::string("{\"event\": \"wait\", \"params\":{\"result\": \"") + (aDone ? "done" : "timeout") +
         "\", \"count\": " + std::to_string(aCount) + "}}";
}

}  // namespace EventLine
}  // namespace brz
