#pragma once
// MQTT 5 property sets. Outbound sets are value types filled by the application and written by the
// codec; inbound sets decode the property blocks of received packets and are refilled on every
// decode. None of this is used under MQTT 3.1.1.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mqtt/MQTTTypes.h"
#include "mqtt/TbrzWSMQTTHeaders.h"

namespace brz {

// User properties as lines name "=" value, in order; duplicates allowed.
using TbrzWSMQTTUserProperties = std::vector<std::string>;
// The text before the first "=" (the whole line when there is none).
std::string UserPropertyName(const std::string& aLine);
// The text after the first "=" (empty when there is none).
std::string UserPropertyValue(const std::string& aLine);
// One 0x26 property per line with a non-empty name.
void WriteUserProperties(TbrzWSMQTTVariableHeader& aBuffer, const TbrzWSMQTTUserProperties& aLines);

// ---- outbound sets (getters marked clamped correct out-of-range values; Assign copies through them)

class TbrzWSMQTTConnect_Properties {
 public:
  const std::string& AuthenticationMethod() const { return FAuthenticationMethod; }
  void SetAuthenticationMethod(std::string aValue) { FAuthenticationMethod = std::move(aValue); }
  // Sent only together with an authentication method.
  const std::string& AuthenticationData() const { return FAuthenticationData; }
  void SetAuthenticationData(std::string aValue) { FAuthenticationData = std::move(aValue); }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool aValue) { FEnabled = aValue; }
  int32_t MaximumPacketSize() const;  // clamped: <= 0 becomes 2147483647
  void SetMaximumPacketSize(int32_t aValue) { FMaximumPacketSize = aValue; }
  int32_t ReceiveMaximum() const;  // clamped to 1..65535
  void SetReceiveMaximum(int32_t aValue) { FReceiveMaximum = aValue; }
  bool RequestProblemInformation() const { return FRequestProblemInformation; }
  void SetRequestProblemInformation(bool aValue) { FRequestProblemInformation = aValue; }
  bool RequestResponseInformation() const { return FRequestResponseInformation; }
  void SetRequestResponseInformation(bool aValue) { FRequestResponseInformation = aValue; }
  int32_t SessionExpiryInterval() const;  // clamped: negative becomes 0
  void SetSessionExpiryInterval(int32_t aValue) { FSessionExpiryInterval = aValue; }
  int32_t TopicAliasMaximum() const;  // clamped to 0..65535
  void SetTopicAliasMaximum(int32_t aValue) { FTopicAliasMaximum = aValue; }
  const TbrzWSMQTTUserProperties& UserProperties() const { return FUserProperties; }
  void SetUserProperties(const TbrzWSMQTTUserProperties& aValue) { FUserProperties = aValue; }

  void Assign(const TbrzWSMQTTConnect_Properties& aSource);
  // The encoded properties, without the property length.
  void Write(TbrzWSMQTTVariableHeader& aBuffer) const;

 private:
  std::string FAuthenticationMethod;
  std::string FAuthenticationData;
  bool FEnabled = false;
  int32_t FMaximumPacketSize = 2147483647;
  int32_t FReceiveMaximum = 65535;
  bool FRequestProblemInformation = true;
  bool FRequestResponseInformation = false;
  int32_t FSessionExpiryInterval = 0;
  int32_t FTopicAliasMaximum = 0;
  TbrzWSMQTTUserProperties FUserProperties;
};

class TbrzWSMQTTWill_Properties {
 public:
  const std::string& ContentType() const { return FContentType; }
  void SetContentType(std::string aValue) { FContentType = std::move(aValue); }
  const std::string& CorrelationData() const { return FCorrelationData; }
  void SetCorrelationData(std::string aValue) { FCorrelationData = std::move(aValue); }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool aValue) { FEnabled = aValue; }
  int32_t MessageExpiryInterval() const;  // clamped: negative becomes 0
  void SetMessageExpiryInterval(int32_t aValue) { FMessageExpiryInterval = aValue; }
  TwsMQTTPayloadFormat PayloadFormat() const { return FPayloadFormat; }
  void SetPayloadFormat(TwsMQTTPayloadFormat aValue) { FPayloadFormat = aValue; }
  const std::string& ResponseTopic() const { return FResponseTopic; }
  void SetResponseTopic(std::string aValue) { FResponseTopic = std::move(aValue); }
  const TbrzWSMQTTUserProperties& UserProperties() const { return FUserProperties; }
  void SetUserProperties(const TbrzWSMQTTUserProperties& aValue) { FUserProperties = aValue; }
  int32_t WillDelayInterval() const;  // clamped: negative becomes 0
  void SetWillDelayInterval(int32_t aValue) { FWillDelayInterval = aValue; }

  void Assign(const TbrzWSMQTTWill_Properties& aSource);
  void Write(TbrzWSMQTTVariableHeader& aBuffer) const;

 private:
  std::string FContentType;
  std::string FCorrelationData;
  bool FEnabled = false;
  int32_t FMessageExpiryInterval = 0;
  TwsMQTTPayloadFormat FPayloadFormat = TwsMQTTPayloadFormat::mqpfUnspecified;
  std::string FResponseTopic;
  TbrzWSMQTTUserProperties FUserProperties;
  int32_t FWillDelayInterval = 0;
};

class TbrzWSMQTTPublish_Properties {
 public:
  const std::string& ContentType() const { return FContentType; }
  void SetContentType(std::string aValue) { FContentType = std::move(aValue); }
  const std::string& CorrelationData() const { return FCorrelationData; }
  void SetCorrelationData(std::string aValue) { FCorrelationData = std::move(aValue); }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool aValue) { FEnabled = aValue; }
  int32_t MessageExpiryInterval() const;  // clamped: negative becomes 0
  void SetMessageExpiryInterval(int32_t aValue) { FMessageExpiryInterval = aValue; }
  TwsMQTTPayloadFormat PayloadFormat() const { return FPayloadFormat; }
  void SetPayloadFormat(TwsMQTTPayloadFormat aValue) { FPayloadFormat = aValue; }
  const std::string& ResponseTopic() const { return FResponseTopic; }
  void SetResponseTopic(std::string aValue) { FResponseTopic = std::move(aValue); }
  int32_t SubscriptionIdentifier() const;  // clamped: negative becomes 0
  void SetSubscriptionIdentifier(int32_t aValue) { FSubscriptionIdentifier = aValue; }
  const TbrzWSMQTTUserProperties& UserProperties() const { return FUserProperties; }
  void SetUserProperties(const TbrzWSMQTTUserProperties& aValue) { FUserProperties = aValue; }
  int32_t TopicAlias() const;  // clamped to 0..65535
  void SetTopicAlias(int32_t aValue) { FTopicAlias = aValue; }

  void Assign(const TbrzWSMQTTPublish_Properties& aSource);
  void Write(TbrzWSMQTTVariableHeader& aBuffer) const;

 private:
  std::string FContentType;
  std::string FCorrelationData;
  bool FEnabled = false;
  int32_t FMessageExpiryInterval = 0;
  TwsMQTTPayloadFormat FPayloadFormat = TwsMQTTPayloadFormat::mqpfUnspecified;
  std::string FResponseTopic;
  int32_t FSubscriptionIdentifier = 0;
  TbrzWSMQTTUserProperties FUserProperties;
  int32_t FTopicAlias = 0;
};

class TbrzWSMQTTSubscribe_Properties {
 public:
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool aValue) { FEnabled = aValue; }
  int32_t SubscriptionIdentifier() const;  // clamped: <= 0 becomes 1
  void SetSubscriptionIdentifier(int32_t aValue) { FSubscriptionIdentifier = aValue; }
  // Whether the block carries the subscription identifier at all (a block of user properties
  // alone asks for none).
  bool SendSubscriptionIdentifier() const { return FSendSubscriptionIdentifier; }
  void SetSendSubscriptionIdentifier(bool aValue) { FSendSubscriptionIdentifier = aValue; }
  const TbrzWSMQTTUserProperties& UserProperties() const { return FUserProperties; }
  void SetUserProperties(const TbrzWSMQTTUserProperties& aValue) { FUserProperties = aValue; }

  void Assign(const TbrzWSMQTTSubscribe_Properties& aSource);
  void Write(TbrzWSMQTTVariableHeader& aBuffer) const;

 private:
  bool FEnabled = false;
  bool FSendSubscriptionIdentifier = true;
  int32_t FSubscriptionIdentifier = 1;
  TbrzWSMQTTUserProperties FUserProperties;
};

class TbrzWSMQTTUnsubscribe_Properties {
 public:
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool aValue) { FEnabled = aValue; }
  const TbrzWSMQTTUserProperties& UserProperties() const { return FUserProperties; }
  void SetUserProperties(const TbrzWSMQTTUserProperties& aValue) { FUserProperties = aValue; }

  void Assign(const TbrzWSMQTTUnsubscribe_Properties& aSource);
  void Write(TbrzWSMQTTVariableHeader& aBuffer) const;

 private:
  bool FEnabled = false;
  TbrzWSMQTTUserProperties FUserProperties;
};

class TbrzWSMQTTDisconnect_Properties {
 public:
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool aValue) { FEnabled = aValue; }
  const std::string& ReasonString() const { return FReasonString; }
  void SetReasonString(std::string aValue) { FReasonString = std::move(aValue); }
  const std::string& ServerReference() const { return FServerReference; }
  void SetServerReference(std::string aValue) { FServerReference = std::move(aValue); }
  int32_t SessionExpiryInterval() const;  // clamped: negative becomes 0
  void SetSessionExpiryInterval(int32_t aValue) { FSessionExpiryInterval = aValue; }
  // Whether the block carries the session expiry at all (absent leaves the CONNECT's in force).
  bool SendSessionExpiryInterval() const { return FSendSessionExpiryInterval; }
  void SetSendSessionExpiryInterval(bool aValue) { FSendSessionExpiryInterval = aValue; }
  const TbrzWSMQTTUserProperties& UserProperties() const { return FUserProperties; }
  void SetUserProperties(const TbrzWSMQTTUserProperties& aValue) { FUserProperties = aValue; }

  void Assign(const TbrzWSMQTTDisconnect_Properties& aSource);
  void Write(TbrzWSMQTTVariableHeader& aBuffer) const;

 private:
  bool FEnabled = false;
  std::string FReasonString;
  std::string FServerReference;
  bool FSendSessionExpiryInterval = true;
  int32_t FSessionExpiryInterval = 0;
  TbrzWSMQTTUserProperties FUserProperties;
};

class TbrzWSMQTTAuth_Properties {
 public:
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool aValue) { FEnabled = aValue; }
  const std::string& ReasonString() const { return FReasonString; }
  void SetReasonString(std::string aValue) { FReasonString = std::move(aValue); }
  const std::string& AuthenticationMethod() const { return FAuthenticationMethod; }
  void SetAuthenticationMethod(std::string aValue) { FAuthenticationMethod = std::move(aValue); }
  const std::string& AuthenticationData() const { return FAuthenticationData; }
  void SetAuthenticationData(std::string aValue) { FAuthenticationData = std::move(aValue); }
  const TbrzWSMQTTUserProperties& UserProperties() const { return FUserProperties; }
  void SetUserProperties(const TbrzWSMQTTUserProperties& aValue) { FUserProperties = aValue; }

  void Assign(const TbrzWSMQTTAuth_Properties& aSource);
  void Write(TbrzWSMQTTVariableHeader& aBuffer) const;

 private:
  bool FEnabled = false;
  std::string FReasonString;
  std::string FAuthenticationMethod;
  std::string FAuthenticationData;
  TbrzWSMQTTUserProperties FUserProperties;
};

// Scratch buffers of the outbound writers that have no inbound class of the same name.
using TbrzWSMQTTConnectProperties = TbrzWSMQTTVariableHeader;
using TbrzWSMQTTWillProperties = TbrzWSMQTTVariableHeader;
using TbrzWSMQTTSubscribeProperties = TbrzWSMQTTVariableHeader;
using TbrzWSMQTTUnSubscribeProperties = TbrzWSMQTTVariableHeader;

// ---- inbound sets

// Reads the values of a property block body. Every read stays inside the block; a value cut off by
// the end of the block returns false, which ends the parse.
class TbrzWSMQTTPropertyCursor {
 public:
  TbrzWSMQTTPropertyCursor(const uint8_t* aBytes, size_t aSize) : FBytes(aBytes), FSize(aSize) {}
  bool NextIdentifier(uint8_t& aIdentifier);
  bool ReadFlag(bool& aValue);
  bool ReadByte(uint8_t& aValue);
  bool ReadWord(int32_t& aValue);
  bool ReadInteger(int32_t& aValue);
  // A string whose length runs past the block is every byte from its length field to the end,
  // and ends the parse.
  bool ReadString(std::string& aValue);
  // Binary data: the same layout as a string, the bytes kept exactly.
  bool ReadBinary(std::string& aValue);
  bool ReadVarInteger(int32_t& aValue);
  bool ReadUserProperty(TbrzWSMQTTUserProperties& aLines);

 private:
  const uint8_t* FBytes;
  size_t FSize;
  size_t FPosition = 0;
};

// Base of the inbound sets.
class TbrzWSMQTTReadProperties : public TbrzWSMQTTVariableHeader {
 public:
  // Decodes a whole property block body (without the property length). Raises
  // SMQTTMalformedVarInteger for a variable byte integer that needs a fifth byte.
  void ReadBytes(const TBytes& aBytes) { ReadBytes(aBytes.data(), aBytes.size()); }
  void ReadBytes(const uint8_t* aBytes, size_t aSize) {
    TbrzWSMQTTPropertyCursor cursor(aBytes, aSize);
    ParseProperties(cursor);
  }

 protected:
  virtual void ParseProperties(TbrzWSMQTTPropertyCursor& aCursor) = 0;
};

class TbrzWSMQTTCONNACKProperties : public TbrzWSMQTTReadProperties {
 public:
  void Clear() override { *this = TbrzWSMQTTCONNACKProperties(); }
  const std::string& AssignedClientIdentifier() const { return FAssignedClientIdentifier; }
  const std::string& AuthenticationData() const { return FAuthenticationData; }
  const std::string& AuthenticationMethod() const { return FAuthenticationMethod; }
  int32_t MaximumPacketSize() const { return FMaximumPacketSize; }
  TmqttQoS MaximumQoS() const { return FMaximumQoS; }
  const std::string& ReasonString() const { return FReasonString; }
  int32_t ReceiveMaximum() const { return FReceiveMaximum; }
  const std::string& ResponseInformation() const { return FResponseInformation; }
  bool RetainAvailable() const { return FRetainAvailable; }
  int32_t ServerKeepAlive() const { return FServerKeepAlive; }
  const std::string& ServerReference() const { return FServerReference; }
  int32_t SessionExpiryInterval() const { return FSessionExpiryInterval; }
  bool SharedSubscriptionAvailable() const { return FSharedSubscriptionAvailable; }
  bool SubscriptionIdentifiersAvailable() const { return FSubscriptionIdentifiersAvailable; }
  int32_t TopicAliasMaximum() const { return FTopicAliasMaximum; }
  const TbrzWSMQTTUserProperties& UserProperties() const { return FUserProperties; }
  bool WildcardSubscriptionAvailable() const { return FWildcardSubscriptionAvailable; }

 protected:
  void ParseProperties(TbrzWSMQTTPropertyCursor& aCursor) override;

 private:
  std::string FAssignedClientIdentifier;
  std::string FAuthenticationData;
  std::string FAuthenticationMethod;
  int32_t FMaximumPacketSize = 2147483647;
  TmqttQoS FMaximumQoS = TmqttQoS::mtqsExactlyOnce;
  std::string FReasonString;
  int32_t FReceiveMaximum = 65535;
  std::string FResponseInformation;
  bool FRetainAvailable = true;
  int32_t FServerKeepAlive = 0;
  std::string FServerReference;
  int32_t FSessionExpiryInterval = 0;
  bool FSharedSubscriptionAvailable = true;
  bool FSubscriptionIdentifiersAvailable = true;
  int32_t FTopicAliasMaximum = 0;
  TbrzWSMQTTUserProperties FUserProperties;
  bool FWildcardSubscriptionAvailable = true;
};

class TbrzWSMQTTPublishProperties : public TbrzWSMQTTReadProperties {
 public:
  void Clear() override { *this = TbrzWSMQTTPublishProperties(); }
  const std::string& ContentType() const { return FContentType; }
  const std::string& CorrelationData() const { return FCorrelationData; }
  const std::string& ResponseTopic() const { return FResponseTopic; }
  // Never set by parsing.
  bool Enabled() const { return FEnabled; }
  int32_t MessageExpiryInterval() const { return FMessageExpiryInterval; }
  TwsMQTTPayloadFormat PayloadFormat() const { return FPayloadFormat; }
  int32_t SubscriptionIdentifier() const { return FSubscriptionIdentifier; }
  int32_t TopicAlias() const { return FTopicAlias; }
  const TbrzWSMQTTUserProperties& UserProperties() const { return FUserProperties; }

 protected:
  void ParseProperties(TbrzWSMQTTPropertyCursor& aCursor) override;

 private:
  std::string FContentType;
  std::string FCorrelationData;
  std::string FResponseTopic;
  bool FEnabled = false;
  int32_t FMessageExpiryInterval = 0;
  TwsMQTTPayloadFormat FPayloadFormat = TwsMQTTPayloadFormat::mqpfUnspecified;
  int32_t FSubscriptionIdentifier = 0;
  int32_t FTopicAlias = 0;
  TbrzWSMQTTUserProperties FUserProperties;
};

// Properties of SUBACK and of the acknowledgements: a reason string and user properties.
class TbrzWSMQTTPUBSUBACKProperties : public TbrzWSMQTTReadProperties {
 public:
  void Clear() override { *this = TbrzWSMQTTPUBSUBACKProperties(); }
  const std::string& ReasonString() const { return FReasonString; }
  const TbrzWSMQTTUserProperties& UserProperties() const { return FUserProperties; }

 protected:
  void ParseProperties(TbrzWSMQTTPropertyCursor& aCursor) override;

 private:
  std::string FReasonString;
  TbrzWSMQTTUserProperties FUserProperties;
};

using TbrzWSMQTTSUBACKProperties = TbrzWSMQTTPUBSUBACKProperties;
using TbrzWSMQTTPUBACKProperties = TbrzWSMQTTPUBSUBACKProperties;
using TbrzWSMQTTPUBRECProperties = TbrzWSMQTTPUBSUBACKProperties;
using TbrzWSMQTTPUBRELProperties = TbrzWSMQTTPUBSUBACKProperties;
using TbrzWSMQTTPUBCOMPProperties = TbrzWSMQTTPUBSUBACKProperties;
using TbrzWSMQTTUNSUBACKProperties = TbrzWSMQTTPUBSUBACKProperties;

class TbrzWSMQTTDISCONNECTProperties : public TbrzWSMQTTReadProperties {
 public:
  void Clear() override { *this = TbrzWSMQTTDISCONNECTProperties(); }
  const std::string& ReasonString() const { return FReasonString; }
  const std::string& ServerReference() const { return FServerReference; }
  int32_t SessionExpiryInterval() const { return FSessionExpiryInterval; }
  const TbrzWSMQTTUserProperties& UserProperties() const { return FUserProperties; }

 protected:
  void ParseProperties(TbrzWSMQTTPropertyCursor& aCursor) override;

 private:
  std::string FReasonString;
  std::string FServerReference;
  int32_t FSessionExpiryInterval = 0;
  TbrzWSMQTTUserProperties FUserProperties;
};

class TbrzWSMQTTAUTHProperties : public TbrzWSMQTTReadProperties {
 public:
  void Clear() override { *this = TbrzWSMQTTAUTHProperties(); }
  const std::string& ReasonString() const { return FReasonString; }
  const std::string& AuthenticationMethod() const { return FAuthenticationMethod; }
  const std::string& AuthenticationData() const { return FAuthenticationData; }
  const TbrzWSMQTTUserProperties& UserProperties() const { return FUserProperties; }

 protected:
  void ParseProperties(TbrzWSMQTTPropertyCursor& aCursor) override;

 private:
  std::string FReasonString;
  std::string FAuthenticationMethod;
  std::string FAuthenticationData;
  TbrzWSMQTTUserProperties FUserProperties;
};

}  // namespace brz
