#pragma once
// Decoded packets: the values of the last received packet of each type. Value types, so the engine
// may copy one out of the codec before a later decode overwrites it.

#include <cstdint>
#include <string>
#include <vector>

#include "mqtt/MQTTTypes.h"
#include "mqtt/TbrzWSMQTTHeaders.h"
#include "mqtt/TbrzWSMQTTProperties.h"

namespace brz {

// Name of an MQTT 5 reason code for a packet type; empty for a pair the protocol does not define.
std::string ReasonCodeName(TmqttControlPacket aPacket, int32_t aCode);
// Name of an MQTT 3.1.1 CONNACK return code; empty for an unknown code.
std::string ConnackReturnCodeName(int32_t aCode);

// One reason code of SUBACK or UNSUBACK.
struct TbrzWSSUBACK {
  int32_t ReasonCode = 0;
  std::string ReasonName;
};
using TbrzWSUNSUBACK = TbrzWSSUBACK;

// Ordered list of reason codes; owns its items.
class TbrzWSSUBACKS {
 public:
  TbrzWSSUBACK& Add(int32_t aCode, std::string aName) {
    return FItems.emplace_back(TbrzWSSUBACK{aCode, std::move(aName)});
  }
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  TbrzWSSUBACK& Item(int32_t aIndex) { return FItems.at(static_cast<size_t>(aIndex)); }
  const TbrzWSSUBACK& Item(int32_t aIndex) const { return FItems.at(static_cast<size_t>(aIndex)); }
  void SetItem(int32_t aIndex, const TbrzWSSUBACK& aValue) { FItems.at(static_cast<size_t>(aIndex)) = aValue; }
  void Clear() { FItems.clear(); }
  auto begin() const { return FItems.begin(); }
  auto end() const { return FItems.end(); }

 private:
  std::vector<TbrzWSSUBACK> FItems;
};
using TbrzWSUNSUBACKS = TbrzWSSUBACKS;

class TbrzWSMQTTCONNACK : public TbrzWSMQTTVariableHeader {
 public:
  void Clear() override { *this = TbrzWSMQTTCONNACK(); }
  TbrzWSMQTTCONNACKProperties& CONNACKProperties() { return FCONNACKProperties; }
  const TbrzWSMQTTCONNACKProperties& CONNACKProperties() const { return FCONNACKProperties; }
  int32_t ReasonCode() const { return FReasonCode; }
  void SetReasonCode(int32_t aValue) { FReasonCode = aValue; }
  const std::string& ReasonName() const { return FReasonName; }
  void SetReasonName(std::string aValue) { FReasonName = std::move(aValue); }
  bool Session() const { return FSession; }
  void SetSession(bool aValue) { FSession = aValue; }

 private:
  TbrzWSMQTTCONNACKProperties FCONNACKProperties;
  int32_t FReasonCode = 0;
  std::string FReasonName;
  bool FSession = false;
};

class TbrzWSMQTTPUBLISH : public TbrzWSMQTTVariableHeader {
 public:
  void Clear() override { *this = TbrzWSMQTTPUBLISH(); }
  int32_t PacketIdentifier() const { return FPacketIdentifier; }
  void SetPacketIdentifier(int32_t aValue) { FPacketIdentifier = aValue; }
  TbrzWSMQTTPublishProperties& PUBLISHProperties() { return FPUBLISHProperties; }
  const TbrzWSMQTTPublishProperties& PUBLISHProperties() const { return FPUBLISHProperties; }
  const std::string& Text() const { return FText; }
  void SetText(std::string aValue) { FText = std::move(aValue); }
  const std::string& Topic() const { return FTopic; }
  void SetTopic(std::string aValue) { FTopic = std::move(aValue); }
  // The payload bytes exactly as received (Text is their UTF-8 reading, lossy where they are not UTF-8).
  const std::string& Payload() const { return FPayloadExact ? FText : FPayload; }
  void SetPayload(std::string aValue);
  // The flags of the fixed header.
  TmqttQoS QoS() const { return FQoS; }
  void SetQoS(TmqttQoS aValue) { FQoS = aValue; }
  bool Retain() const { return FRetain; }
  void SetRetain(bool aValue) { FRetain = aValue; }
  bool Duplicate() const { return FDuplicate; }
  void SetDuplicate(bool aValue) { FDuplicate = aValue; }
  // False when the topic's bytes are not valid UTF-8 (Topic then holds their lossy reading).
  bool TopicValid() const { return FTopicValid; }
  void SetTopicValid(bool aValue) { FTopicValid = aValue; }

 private:
  int32_t FPacketIdentifier = 0;
  TbrzWSMQTTPublishProperties FPUBLISHProperties;
  std::string FText;
  std::string FTopic;
  // Only a payload that is not valid UTF-8 is kept a second time.
  std::string FPayload;
  bool FPayloadExact = true;
  TmqttQoS FQoS = TmqttQoS::mtqsAtMostOnce;
  bool FRetain = false;
  bool FDuplicate = false;
  bool FTopicValid = true;
};

// PUBACK, PUBREC, PUBREL, PUBCOMP, DISCONNECT and AUTH: identifier, reason and properties.
template <typename TProperties>
class TbrzWSMQTTReasonPacket : public TbrzWSMQTTVariableHeaderPacketIdentifier {
 public:
  void Clear() override { *this = TbrzWSMQTTReasonPacket(); }
  TProperties& Properties() { return FProperties; }
  const TProperties& Properties() const { return FProperties; }
  int32_t ReasonCode() const { return FReasonCode; }
  void SetReasonCode(int32_t aValue) { FReasonCode = aValue; }
  const std::string& ReasonName() const { return FReasonName; }
  void SetReasonName(std::string aValue) { FReasonName = std::move(aValue); }

 private:
  TProperties FProperties;
  int32_t FReasonCode = 0;
  std::string FReasonName;
};

class TbrzWSMQTTPUBACK : public TbrzWSMQTTReasonPacket<TbrzWSMQTTPUBACKProperties> {
 public:
  TbrzWSMQTTPUBACKProperties& PUBACKProperties() { return Properties(); }
};
class TbrzWSMQTTPUBREC : public TbrzWSMQTTReasonPacket<TbrzWSMQTTPUBRECProperties> {
 public:
  TbrzWSMQTTPUBRECProperties& PUBRECProperties() { return Properties(); }
};
class TbrzWSMQTTPUBREL : public TbrzWSMQTTReasonPacket<TbrzWSMQTTPUBRELProperties> {
 public:
  TbrzWSMQTTPUBRELProperties& PUBRELProperties() { return Properties(); }
};
class TbrzWSMQTTPUBCOMP : public TbrzWSMQTTReasonPacket<TbrzWSMQTTPUBCOMPProperties> {
 public:
  TbrzWSMQTTPUBCOMPProperties& PUBCOMPProperties() { return Properties(); }
};
class TbrzWSMQTTDISCONNECT : public TbrzWSMQTTReasonPacket<TbrzWSMQTTDISCONNECTProperties> {
 public:
  TbrzWSMQTTDISCONNECTProperties& DISCONNECTProperties() { return Properties(); }
};
class TbrzWSMQTTAUTH : public TbrzWSMQTTReasonPacket<TbrzWSMQTTAUTHProperties> {
 public:
  TbrzWSMQTTAUTHProperties& AUTHProperties() { return Properties(); }
};

// SUBACK and UNSUBACK: identifier, one reason code per topic filter, properties.
class TbrzWSMQTTCodesPacket : public TbrzWSMQTTVariableHeaderPacketIdentifier {
 public:
  void Clear() override { *this = TbrzWSMQTTCodesPacket(); }
  TbrzWSSUBACKS& Codes() { return FCodes; }
  const TbrzWSSUBACKS& Codes() const { return FCodes; }
  TbrzWSMQTTPUBSUBACKProperties& Properties() { return FProperties; }
  const TbrzWSMQTTPUBSUBACKProperties& Properties() const { return FProperties; }

 private:
  TbrzWSSUBACKS FCodes;
  TbrzWSMQTTPUBSUBACKProperties FProperties;
};

class TbrzWSMQTTSUBACK : public TbrzWSMQTTCodesPacket {
 public:
  TbrzWSMQTTSUBACKProperties& SUBACKProperties() { return Properties(); }
};
class TbrzWSMQTTUNSUBACK : public TbrzWSMQTTCodesPacket {
 public:
  TbrzWSMQTTUNSUBACKProperties& UNSUBACKProperties() { return Properties(); }
};

}  // namespace brz
