#include "mqtt/TbrzWSMQTTProperties.h"

#include <algorithm>

namespace brz {

namespace {

// Property identifiers.
constexpr uint8_t IdPayloadFormatIndicator = 0x01;
constexpr uint8_t IdMessageExpiryInterval = 0x02;
constexpr uint8_t IdContentType = 0x03;
constexpr uint8_t IdResponseTopic = 0x08;
constexpr uint8_t IdCorrelationData = 0x09;
constexpr uint8_t IdSubscriptionIdentifier = 0x0B;
constexpr uint8_t IdSessionExpiryInterval = 0x11;
constexpr uint8_t IdAssignedClientIdentifier = 0x12;
constexpr uint8_t IdServerKeepAlive = 0x13;
constexpr uint8_t IdAuthenticationMethod = 0x15;
constexpr uint8_t IdAuthenticationData = 0x16;
constexpr uint8_t IdRequestProblemInformation = 0x17;
constexpr uint8_t IdWillDelayInterval = 0x18;
constexpr uint8_t IdRequestResponseInformation = 0x19;
constexpr uint8_t IdResponseInformation = 0x1A;
constexpr uint8_t IdServerReference = 0x1C;
constexpr uint8_t IdReasonString = 0x1F;
constexpr uint8_t IdReceiveMaximum = 0x21;
constexpr uint8_t IdTopicAliasMaximum = 0x22;
constexpr uint8_t IdTopicAlias = 0x23;
constexpr uint8_t IdMaximumQoS = 0x24;
constexpr uint8_t IdRetainAvailable = 0x25;
constexpr uint8_t IdUserProperty = 0x26;
constexpr uint8_t IdMaximumPacketSize = 0x27;
constexpr uint8_t IdWildcardSubscriptionAvailable = 0x28;
constexpr uint8_t IdSubscriptionIdentifiersAvailable = 0x29;
constexpr uint8_t IdSharedSubscriptionAvailable = 0x2A;

int32_t NotNegative(int32_t aValue) { return aValue < 0 ? 0 : aValue; }

void WriteString(TbrzWSMQTTVariableHeader& aBuffer, uint8_t aIdentifier, const std::string& aValue) {
  aBuffer.AddByte(aIdentifier);
  aBuffer.AddString(aValue, true);
}

void WriteStringIfSet(TbrzWSMQTTVariableHeader& aBuffer, uint8_t aIdentifier, const std::string& aValue) {
  if (!aValue.empty()) WriteString(aBuffer, aIdentifier, aValue);
}

void WriteInteger(TbrzWSMQTTVariableHeader& aBuffer, uint8_t aIdentifier, int32_t aValue) {
  aBuffer.AddByte(aIdentifier);
  aBuffer.AddInteger(aValue);
}

void WriteWord(TbrzWSMQTTVariableHeader& aBuffer, uint8_t aIdentifier, int32_t aValue) {
  aBuffer.AddByte(aIdentifier);
  aBuffer.AddWord(static_cast<uint16_t>(aValue));
}

void WriteFlag(TbrzWSMQTTVariableHeader& aBuffer, uint8_t aIdentifier, bool aValue) {
  aBuffer.AddByte(aIdentifier);
  aBuffer.AddBoolean(aValue);
}

}  // namespace

std::string UserPropertyName(const std::string& aLine) {
  auto separator = aLine.find('=');
  return separator == std::string::npos ? aLine : aLine.substr(0, separator);
}

std::string UserPropertyValue(const std::string& aLine) {
  auto separator = aLine.find('=');
  return separator == std::string::npos ? std::string() : aLine.substr(separator + 1);
}

void WriteUserProperties(TbrzWSMQTTVariableHeader& aBuffer, const TbrzWSMQTTUserProperties& aLines) {
  for (const auto& line : aLines) {
    auto separator = line.find('=');
    // A line without "=" or with "=" first has no name and is not sent.
    if (separator == std::string::npos || separator == 0) continue;
    aBuffer.AddByte(IdUserProperty);
    aBuffer.AddString(std::string_view(line).substr(0, separator), true);
    aBuffer.AddString(std::string_view(line).substr(separator + 1), true);
  }
}

// ---- CONNECT

int32_t TbrzWSMQTTConnect_Properties::MaximumPacketSize() const {
  return FMaximumPacketSize <= 0 ? 2147483647 : FMaximumPacketSize;
}
int32_t TbrzWSMQTTConnect_Properties::ReceiveMaximum() const { return std::clamp(FReceiveMaximum, 1, 65535); }
int32_t TbrzWSMQTTConnect_Properties::SessionExpiryInterval() const { return NotNegative(FSessionExpiryInterval); }
int32_t TbrzWSMQTTConnect_Properties::TopicAliasMaximum() const { return std::clamp(FTopicAliasMaximum, 0, 65535); }

void TbrzWSMQTTConnect_Properties::Assign(const TbrzWSMQTTConnect_Properties& aSource) {
  FAuthenticationMethod = aSource.AuthenticationMethod();
  FAuthenticationData = aSource.AuthenticationData();
  FEnabled = aSource.Enabled();
  FMaximumPacketSize = aSource.MaximumPacketSize();
  FReceiveMaximum = aSource.ReceiveMaximum();
  FRequestProblemInformation = aSource.RequestProblemInformation();
  FRequestResponseInformation = aSource.RequestResponseInformation();
  FSessionExpiryInterval = aSource.SessionExpiryInterval();
  FTopicAliasMaximum = aSource.TopicAliasMaximum();
  FUserProperties = aSource.UserProperties();
}

void TbrzWSMQTTConnect_Properties::Write(TbrzWSMQTTVariableHeader& aBuffer) const {
  WriteInteger(aBuffer, IdSessionExpiryInterval, SessionExpiryInterval());
  WriteWord(aBuffer, IdReceiveMaximum, ReceiveMaximum());
  WriteInteger(aBuffer, IdMaximumPacketSize, MaximumPacketSize());
  WriteWord(aBuffer, IdTopicAliasMaximum, TopicAliasMaximum());
  WriteFlag(aBuffer, IdRequestResponseInformation, RequestResponseInformation());
  WriteFlag(aBuffer, IdRequestProblemInformation, RequestProblemInformation());
  WriteUserProperties(aBuffer, FUserProperties);
  WriteStringIfSet(aBuffer, IdAuthenticationMethod, FAuthenticationMethod);
  if (!FAuthenticationMethod.empty()) WriteStringIfSet(aBuffer, IdAuthenticationData, FAuthenticationData);
}

// ---- will

int32_t TbrzWSMQTTWill_Properties::MessageExpiryInterval() const { return NotNegative(FMessageExpiryInterval); }
int32_t TbrzWSMQTTWill_Properties::WillDelayInterval() const { return NotNegative(FWillDelayInterval); }

void TbrzWSMQTTWill_Properties::Assign(const TbrzWSMQTTWill_Properties& aSource) {
  FContentType = aSource.ContentType();
  FCorrelationData = aSource.CorrelationData();
  FEnabled = aSource.Enabled();
  FMessageExpiryInterval = aSource.MessageExpiryInterval();
  FPayloadFormat = aSource.PayloadFormat();
  FResponseTopic = aSource.ResponseTopic();
  FUserProperties = aSource.UserProperties();
  FWillDelayInterval = aSource.WillDelayInterval();
}

void TbrzWSMQTTWill_Properties::Write(TbrzWSMQTTVariableHeader& aBuffer) const {
  WriteInteger(aBuffer, IdWillDelayInterval, WillDelayInterval());
  WriteFlag(aBuffer, IdPayloadFormatIndicator, FPayloadFormat == TwsMQTTPayloadFormat::mqpfUTF8);
  WriteInteger(aBuffer, IdMessageExpiryInterval, MessageExpiryInterval());
  WriteStringIfSet(aBuffer, IdContentType, FContentType);
  WriteStringIfSet(aBuffer, IdResponseTopic, FResponseTopic);
  WriteStringIfSet(aBuffer, IdCorrelationData, FCorrelationData);
  WriteUserProperties(aBuffer, FUserProperties);
}

// ---- PUBLISH

int32_t TbrzWSMQTTPublish_Properties::MessageExpiryInterval() const { return NotNegative(FMessageExpiryInterval); }
int32_t TbrzWSMQTTPublish_Properties::SubscriptionIdentifier() const { return NotNegative(FSubscriptionIdentifier); }
int32_t TbrzWSMQTTPublish_Properties::TopicAlias() const { return std::clamp(FTopicAlias, 0, 65535); }

void TbrzWSMQTTPublish_Properties::Assign(const TbrzWSMQTTPublish_Properties& aSource) {
  FContentType = aSource.ContentType();
  FCorrelationData = aSource.CorrelationData();
  FEnabled = aSource.Enabled();
  FMessageExpiryInterval = aSource.MessageExpiryInterval();
  FPayloadFormat = aSource.PayloadFormat();
  FResponseTopic = aSource.ResponseTopic();
  FSubscriptionIdentifier = aSource.SubscriptionIdentifier();
  FUserProperties = aSource.UserProperties();
  FTopicAlias = aSource.TopicAlias();
}

void TbrzWSMQTTPublish_Properties::Write(TbrzWSMQTTVariableHeader& aBuffer) const {
  WriteFlag(aBuffer, IdPayloadFormatIndicator, FPayloadFormat == TwsMQTTPayloadFormat::mqpfUTF8);
  if (MessageExpiryInterval() > 0) WriteInteger(aBuffer, IdMessageExpiryInterval, MessageExpiryInterval());
  if (TopicAlias() > 0) WriteWord(aBuffer, IdTopicAlias, TopicAlias());
  WriteStringIfSet(aBuffer, IdResponseTopic, FResponseTopic);
  WriteStringIfSet(aBuffer, IdCorrelationData, FCorrelationData);
  WriteUserProperties(aBuffer, FUserProperties);
  if (SubscriptionIdentifier() > 0) {
    aBuffer.AddByte(IdSubscriptionIdentifier);
    aBuffer.AddVarInteger(SubscriptionIdentifier());
  }
  WriteStringIfSet(aBuffer, IdContentType, FContentType);
}

// ---- SUBSCRIBE, UNSUBSCRIBE

int32_t TbrzWSMQTTSubscribe_Properties::SubscriptionIdentifier() const {
  return FSubscriptionIdentifier <= 0 ? 1 : FSubscriptionIdentifier;
}

void TbrzWSMQTTSubscribe_Properties::Assign(const TbrzWSMQTTSubscribe_Properties& aSource) {
  FEnabled = aSource.Enabled();
  FSendSubscriptionIdentifier = aSource.SendSubscriptionIdentifier();
  FSubscriptionIdentifier = aSource.SubscriptionIdentifier();
  FUserProperties = aSource.UserProperties();
}

void TbrzWSMQTTSubscribe_Properties::Write(TbrzWSMQTTVariableHeader& aBuffer) const {
  if (FSendSubscriptionIdentifier) {
    aBuffer.AddByte(IdSubscriptionIdentifier);
    aBuffer.AddVarInteger(SubscriptionIdentifier());
  }
  WriteUserProperties(aBuffer, FUserProperties);
}

void TbrzWSMQTTUnsubscribe_Properties::Assign(const TbrzWSMQTTUnsubscribe_Properties& aSource) {
  FEnabled = aSource.Enabled();
  FUserProperties = aSource.UserProperties();
}

void TbrzWSMQTTUnsubscribe_Properties::Write(TbrzWSMQTTVariableHeader& aBuffer) const {
  WriteUserProperties(aBuffer, FUserProperties);
}

// ---- DISCONNECT, AUTH

int32_t TbrzWSMQTTDisconnect_Properties::SessionExpiryInterval() const { return NotNegative(FSessionExpiryInterval); }

void TbrzWSMQTTDisconnect_Properties::Assign(const TbrzWSMQTTDisconnect_Properties& aSource) {
  FEnabled = aSource.Enabled();
  FReasonString = aSource.ReasonString();
  FServerReference = aSource.ServerReference();
  FSendSessionExpiryInterval = aSource.SendSessionExpiryInterval();
  FSessionExpiryInterval = aSource.SessionExpiryInterval();
  FUserProperties = aSource.UserProperties();
}

void TbrzWSMQTTDisconnect_Properties::Write(TbrzWSMQTTVariableHeader& aBuffer) const {
  if (FSendSessionExpiryInterval) WriteInteger(aBuffer, IdSessionExpiryInterval, SessionExpiryInterval());
  WriteStringIfSet(aBuffer, IdReasonString, FReasonString);
  WriteUserProperties(aBuffer, FUserProperties);
  WriteStringIfSet(aBuffer, IdServerReference, FServerReference);
}

void TbrzWSMQTTAuth_Properties::Assign(const TbrzWSMQTTAuth_Properties& aSource) {
  FEnabled = aSource.Enabled();
  FReasonString = aSource.ReasonString();
  FAuthenticationMethod = aSource.AuthenticationMethod();
  FAuthenticationData = aSource.AuthenticationData();
  FUserProperties = aSource.UserProperties();
}

void TbrzWSMQTTAuth_Properties::Write(TbrzWSMQTTVariableHeader& aBuffer) const {
  WriteStringIfSet(aBuffer, IdAuthenticationMethod, FAuthenticationMethod);
  WriteStringIfSet(aBuffer, IdAuthenticationData, FAuthenticationData);
  WriteStringIfSet(aBuffer, IdReasonString, FReasonString);
  WriteUserProperties(aBuffer, FUserProperties);
}

// ---- cursor

bool TbrzWSMQTTPropertyCursor::NextIdentifier(uint8_t& aIdentifier) { return ReadByte(aIdentifier); }

bool TbrzWSMQTTPropertyCursor::ReadByte(uint8_t& aValue) {
  if (FPosition >= FSize) return false;
  aValue = FBytes[FPosition++];
  return true;
}

bool TbrzWSMQTTPropertyCursor::ReadFlag(bool& aValue) {
  uint8_t byte = 0;
  if (!ReadByte(byte)) return false;
  aValue = byte == 1;
  return true;
}

bool TbrzWSMQTTPropertyCursor::ReadWord(int32_t& aValue) {
  if (FSize - FPosition < 2) return false;
  aValue = (FBytes[FPosition] << 8) | FBytes[FPosition + 1];
  FPosition += 2;
  return true;
}

bool TbrzWSMQTTPropertyCursor::ReadInteger(int32_t& aValue) {
  if (FSize - FPosition < 4) return false;
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value = (value << 8) | FBytes[FPosition++];
  aValue = static_cast<int32_t>(value);
  return true;
}

bool TbrzWSMQTTPropertyCursor::ReadString(std::string& aValue) {
  if (FSize - FPosition < 2) return false;
  size_t length = (static_cast<size_t>(FBytes[FPosition]) << 8) | FBytes[FPosition + 1];
  aValue = BytesToText(FBytes, FSize, true, FPosition);
  if (FPosition + 2 + length > FSize) {
    FPosition = FSize;
    return false;
  }
  FPosition += 2 + length;
  return true;
}

bool TbrzWSMQTTPropertyCursor::ReadBinary(std::string& aValue) {
  if (FSize - FPosition < 2) return false;
  size_t length = (static_cast<size_t>(FBytes[FPosition]) << 8) | FBytes[FPosition + 1];
  if (FPosition + 2 + length > FSize) {
    aValue.assign(reinterpret_cast<const char*>(FBytes) + FPosition, FSize - FPosition);
    FPosition = FSize;
    return false;
  }
  aValue.assign(reinterpret_cast<const char*>(FBytes) + FPosition + 2, length);
  FPosition += 2 + length;
  return true;
}

bool TbrzWSMQTTPropertyCursor::ReadVarInteger(int32_t& aValue) {
  return DecodeVarInteger(FBytes, FSize, FPosition, aValue);
}

bool TbrzWSMQTTPropertyCursor::ReadUserProperty(TbrzWSMQTTUserProperties& aLines) {
  std::string name, value;
  if (!ReadString(name)) return false;
  bool complete = ReadString(value);
  aLines.push_back(name + "=" + value);
  return complete;
}

// ---- inbound parsers: an identifier the class does not know consumes only its own byte

void TbrzWSMQTTCONNACKProperties::ParseProperties(TbrzWSMQTTPropertyCursor& aCursor) {
  uint8_t identifier = 0;
  bool more = true;
  while (more && aCursor.NextIdentifier(identifier)) {
    switch (identifier) {
      case IdSessionExpiryInterval: more = aCursor.ReadInteger(FSessionExpiryInterval); break;
      case IdAssignedClientIdentifier: more = aCursor.ReadString(FAssignedClientIdentifier); break;
      case IdServerKeepAlive: more = aCursor.ReadWord(FServerKeepAlive); break;
      case IdAuthenticationMethod: more = aCursor.ReadString(FAuthenticationMethod); break;
      case IdAuthenticationData: more = aCursor.ReadBinary(FAuthenticationData); break;
      case IdResponseInformation: more = aCursor.ReadString(FResponseInformation); break;
      case IdServerReference: more = aCursor.ReadString(FServerReference); break;
      case IdReasonString: more = aCursor.ReadString(FReasonString); break;
      case IdReceiveMaximum: more = aCursor.ReadWord(FReceiveMaximum); break;
      case IdTopicAliasMaximum: more = aCursor.ReadWord(FTopicAliasMaximum); break;
      case IdMaximumQoS: {
        uint8_t qos = 0;
        more = aCursor.ReadByte(qos);
        if (more && qos == 0) FMaximumQoS = TmqttQoS::mtqsAtMostOnce;
        if (more && qos == 1) FMaximumQoS = TmqttQoS::mtqsAtLeastOnce;
        break;
      }
      case IdRetainAvailable: more = aCursor.ReadFlag(FRetainAvailable); break;
      case IdUserProperty: more = aCursor.ReadUserProperty(FUserProperties); break;
      case IdMaximumPacketSize: more = aCursor.ReadInteger(FMaximumPacketSize); break;
      case IdWildcardSubscriptionAvailable: more = aCursor.ReadFlag(FWildcardSubscriptionAvailable); break;
      case IdSubscriptionIdentifiersAvailable: more = aCursor.ReadFlag(FSubscriptionIdentifiersAvailable); break;
      case IdSharedSubscriptionAvailable: more = aCursor.ReadFlag(FSharedSubscriptionAvailable); break;
      default: break;
    }
  }
}

void TbrzWSMQTTPublishProperties::ParseProperties(TbrzWSMQTTPropertyCursor& aCursor) {
  uint8_t identifier = 0;
  bool more = true;
  while (more && aCursor.NextIdentifier(identifier)) {
    switch (identifier) {
      case IdPayloadFormatIndicator: {
        bool utf8 = false;
        more = aCursor.ReadFlag(utf8);
        if (more) FPayloadFormat = utf8 ? TwsMQTTPayloadFormat::mqpfUTF8 : TwsMQTTPayloadFormat::mqpfUnspecified;
        break;
      }
      case IdMessageExpiryInterval: more = aCursor.ReadInteger(FMessageExpiryInterval); break;
      case IdContentType: more = aCursor.ReadString(FContentType); break;
      case IdResponseTopic: more = aCursor.ReadString(FResponseTopic); break;
      case IdCorrelationData: more = aCursor.ReadBinary(FCorrelationData); break;
      case IdSubscriptionIdentifier: more = aCursor.ReadVarInteger(FSubscriptionIdentifier); break;
      case IdTopicAlias: more = aCursor.ReadWord(FTopicAlias); break;
      case IdUserProperty: more = aCursor.ReadUserProperty(FUserProperties); break;
      default: break;
    }
  }
}

void TbrzWSMQTTPUBSUBACKProperties::ParseProperties(TbrzWSMQTTPropertyCursor& aCursor) {
  uint8_t identifier = 0;
  bool more = true;
  while (more && aCursor.NextIdentifier(identifier)) {
    switch (identifier) {
      case IdReasonString: more = aCursor.ReadString(FReasonString); break;
      case IdUserProperty: more = aCursor.ReadUserProperty(FUserProperties); break;
      default: break;
    }
  }
}

void TbrzWSMQTTDISCONNECTProperties::ParseProperties(TbrzWSMQTTPropertyCursor& aCursor) {
  uint8_t identifier = 0;
  bool more = true;
  while (more && aCursor.NextIdentifier(identifier)) {
    switch (identifier) {
      case IdSessionExpiryInterval: more = aCursor.ReadInteger(FSessionExpiryInterval); break;
      case IdServerReference: more = aCursor.ReadString(FServerReference); break;
      case IdReasonString: more = aCursor.ReadString(FReasonString); break;
      case IdUserProperty: more = aCursor.ReadUserProperty(FUserProperties); break;
      default: break;
    }
  }
}

void TbrzWSMQTTAUTHProperties::ParseProperties(TbrzWSMQTTPropertyCursor& aCursor) {
  uint8_t identifier = 0;
  bool more = true;
  while (more && aCursor.NextIdentifier(identifier)) {
    switch (identifier) {
      case IdAuthenticationMethod: more = aCursor.ReadString(FAuthenticationMethod); break;
      case IdAuthenticationData: more = aCursor.ReadBinary(FAuthenticationData); break;
      case IdReasonString: more = aCursor.ReadString(FReasonString); break;
      case IdUserProperty: more = aCursor.ReadUserProperty(FUserProperties); break;
      default: break;
    }
  }
}

}  // namespace brz
