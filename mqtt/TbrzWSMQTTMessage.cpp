// Building half of the codec.
#include "mqtt/TbrzWSMQTTMessage.h"

#include "common/Exception.h"
#include "common/Guid.h"
#include "mqtt/MQTTMessages.h"

namespace brz {

namespace {

constexpr size_t ClientIdLength = 23;
constexpr uint8_t AuthContinue = 0x18;
constexpr uint8_t AuthReAuthenticate = 0x19;

// Writes the block of one outbound set; aEnabled is passed separately so that the once-only sets
// can be disabled before anything that may fail.
template <typename TSet>
void WriteBlock(TbrzWSMQTTVariableHeader& aTarget, TwsMQTTVersion aVersion, bool aEnabled, const TSet& aSet) {
  if (aVersion != TwsMQTTVersion::mqtt5) return;
  if (!aEnabled) {
    aTarget.AddByte(0);
    return;
  }
  TbrzWSMQTTVariableHeader scratch;
  aSet.Write(scratch);
  aTarget.AddVarInteger(scratch.Size());
  aTarget.AddBytes(scratch.Bytes());
}

template <typename T>
T& Lazy(std::unique_ptr<T>& aPart) {
  if (!aPart) aPart = std::make_unique<T>();
  return *aPart;
}

bool HasIdentifier(TmqttQoS aQoS) { return aQoS == TmqttQoS::mtqsAtLeastOnce || aQoS == TmqttQoS::mtqsExactlyOnce; }

}  // namespace

uint8_t ConnectFlags(bool aAuthentication, const std::string& aAuthUser, const std::string& aAuthPass,
                     bool aWillFlag, TmqttQoS aWillQoS, bool aWillRetain, bool aCleanSession) {
  bool qosHigh = false, qosLow = false;
  QoSBits(aWillQoS, qosHigh, qosLow);
  uint8_t flags = 0;
  if (aAuthentication && !aAuthUser.empty()) flags |= 0x80;
  if (aAuthentication && !aAuthPass.empty()) flags |= 0x40;
  if (aWillFlag) {
    if (aWillRetain) flags |= 0x20;
    if (qosHigh) flags |= 0x10;
    if (qosLow) flags |= 0x08;
    flags |= 0x04;
  }
  if (aCleanSession) flags |= 0x02;
  return flags;
}

// ---- owned parts

TbrzWSMQTTFixedHeader& TbrzWSMQTTMessage::FixedHeader() { return Lazy(FFixedHeader); }
TbrzWSMQTTVariableHeader& TbrzWSMQTTMessage::VariableHeader() { return Lazy(FVariableHeader); }
TbrzWSMQTTPayLoadHeader& TbrzWSMQTTMessage::PayLoadHeader() { return Lazy(FPayLoadHeader); }
TbrzWSMQTTReadPacketBuffer& TbrzWSMQTTMessage::StreamReadPacketBuffer() { return Lazy(FStreamReadPacketBuffer); }
TbrzWSMQTTCONNACK& TbrzWSMQTTMessage::CONNACK() { return Lazy(FCONNACK); }
TbrzWSMQTTPUBLISH& TbrzWSMQTTMessage::PUBLISH() { return Lazy(FPUBLISH); }
TbrzWSMQTTPUBACK& TbrzWSMQTTMessage::PUBACK() { return Lazy(FPUBACK); }
TbrzWSMQTTPUBREC& TbrzWSMQTTMessage::PUBREC() { return Lazy(FPUBREC); }
TbrzWSMQTTPUBREL& TbrzWSMQTTMessage::PUBREL() { return Lazy(FPUBREL); }
TbrzWSMQTTPUBCOMP& TbrzWSMQTTMessage::PUBCOMP() { return Lazy(FPUBCOMP); }
TbrzWSMQTTSUBACK& TbrzWSMQTTMessage::SUBACK() { return Lazy(FSUBACK); }
TbrzWSMQTTUNSUBACK& TbrzWSMQTTMessage::UNSUBACK() { return Lazy(FUNSUBACK); }
TbrzWSMQTTDISCONNECT& TbrzWSMQTTMessage::DISCONNECT() { return Lazy(FDISCONNECT); }
TbrzWSMQTTAUTH& TbrzWSMQTTMessage::AUTH() { return Lazy(FAUTH); }

void TbrzWSMQTTMessage::Clear() {
  TbrzLock lock(CS());
  FFixedHeader.reset();
}

void TbrzWSMQTTMessage::ClearStreamReadTCP() {
  TbrzLock lock(CS());
  FStreamReadPacketBuffer.reset();
}

const std::string& TbrzWSMQTTMessage::ClientId() {
  if (FClientId.empty() && !FEmptyClientId) {
    std::string digits;
    for (char c : NewGuidText()) {
      if (c != '{' && c != '}' && c != '-') digits.push_back(c);
    }
    FClientId = digits.substr(0, ClientIdLength);
  }
  return FClientId;
}

// ---- property blocks

void TbrzWSMQTTMessage::WriteConnectProperties(TbrzWSMQTTVariableHeader& aTarget) {
  WriteBlock(aTarget, FMQTTVersion, FConnectProperties.Enabled(), FConnectProperties);
}

void TbrzWSMQTTMessage::WriteWillProperties(TbrzWSMQTTVariableHeader& aTarget) {
  WriteBlock(aTarget, FMQTTVersion, FWillProperties.Enabled(), FWillProperties);
}

void TbrzWSMQTTMessage::WritePublishProperties(TbrzWSMQTTVariableHeader& aTarget) {
  bool enabled = FPUBLISHProperties.Enabled();
  FPUBLISHProperties.SetEnabled(false);
  WriteBlock(aTarget, FMQTTVersion, enabled, FPUBLISHProperties);
}

void TbrzWSMQTTMessage::WriteSubscribeProperties(TbrzWSMQTTVariableHeader& aTarget) {
  bool enabled = FSubscribeProperties.Enabled();
  FSubscribeProperties.SetEnabled(false);
  WriteBlock(aTarget, FMQTTVersion, enabled, FSubscribeProperties);
}

void TbrzWSMQTTMessage::WriteUnsubscribeProperties(TbrzWSMQTTVariableHeader& aTarget) {
  bool enabled = FUnsubscribeProperties.Enabled();
  FUnsubscribeProperties.SetEnabled(false);
  WriteBlock(aTarget, FMQTTVersion, enabled, FUnsubscribeProperties);
}

void TbrzWSMQTTMessage::WriteDisconnectProperties(TbrzWSMQTTVariableHeader& aTarget) {
  WriteBlock(aTarget, FMQTTVersion, FDISCONNECTProperties.Enabled(), FDISCONNECTProperties);
}

void TbrzWSMQTTMessage::WriteAuthProperties(TbrzWSMQTTVariableHeader& aTarget) {
  WriteBlock(aTarget, FMQTTVersion, FAUTHProperties.Enabled(), FAUTHProperties);
}

// ---- packet frame

void TbrzWSMQTTMessage::BeginPacket(TmqttControlPacket aPacket) {
  FixedHeader().SetControlPacket(aPacket);
  VariableHeader().Clear();
  PayLoadHeader().Clear();
}

TBytes TbrzWSMQTTMessage::AssemblePacket() {
  TbrzWSMQTTFixedHeader& header = FixedHeader();
  uint8_t first = header.FirstByte();
  size_t remaining = header.RemainingLength() == 2
                         ? 2
                         : static_cast<size_t>(VariableHeader().Size()) + static_cast<size_t>(PayLoadHeader().Size());
  // A longer packet has no valid remaining length.
  if (remaining > static_cast<size_t>(MQTTMaxVarInteger)) throw Exception(SMQTTPacketTooLarge);
  TBytes length = EncodeVarInteger(static_cast<int32_t>(remaining));
  TBytes packet;
  packet.reserve(1 + length.size() + VariableHeader().Bytes().size() + PayLoadHeader().Bytes().size());
  packet.push_back(first);
  packet.insert(packet.end(), length.begin(), length.end());
  packet.insert(packet.end(), VariableHeader().Bytes().begin(), VariableHeader().Bytes().end());
  packet.insert(packet.end(), PayLoadHeader().Bytes().begin(), PayLoadHeader().Bytes().end());
  return packet;
}

TBytes TbrzWSMQTTMessage::BuildIdentifierPacket(TmqttControlPacket aPacket, uint16_t aPacketIdentifier) {
  TbrzLock lock(CS());
  BeginPacket(aPacket);
  VariableHeader().AddWord(aPacketIdentifier);
  return AssemblePacket();
}

// ---- builders

TBytes TbrzWSMQTTMessage::DoConnect(bool aAuthentication, const std::string& aAuthUser, const std::string& aAuthPass,
                                    bool aWillFlag, const std::string& aWillTopic, const std::string& aWillText,
                                    TmqttQoS aWillQoS, bool aWillRetain, bool aKeepAliveEnabled,
                                    int32_t aKeepAliveInterval) {
  TbrzLock lock(CS());
  BeginPacket(TmqttControlPacket::mtcpCONNECT);
  TbrzWSMQTTVariableHeader& header = VariableHeader();
  header.AddString("MQTT", true);
  header.AddByte(ProtocolLevel(FMQTTVersion));
  uint8_t flags = ConnectFlags(aAuthentication, aAuthUser, aAuthPass, aWillFlag, aWillQoS, aWillRetain, FCleanSession);
  header.AddByte(flags);
  header.AddWord(aKeepAliveEnabled ? static_cast<uint16_t>(aKeepAliveInterval) : 0);
  WriteConnectProperties(header);

  TbrzWSMQTTPayLoadHeader& payload = PayLoadHeader();
  payload.AddString(ClientId(), true);
  FWillProperties.SetEnabled(aWillFlag);
  if (aWillFlag) {
    WriteWillProperties(payload);
    payload.AddString(aWillTopic, true);
    payload.AddString(aWillText, true);
  }
  if ((flags & 0x80) != 0) payload.AddString(aAuthUser, true);
  if ((flags & 0x40) != 0) payload.AddString(aAuthPass, true);
  return AssemblePacket();
}

TBytes TbrzWSMQTTMessage::DoPing() {
  TbrzLock lock(CS());
  BeginPacket(TmqttControlPacket::mtcpPINGREQ);
  return AssemblePacket();
}

void TbrzWSMQTTMessage::WritePublishHeader(uint16_t aPacketIdentifier, const std::string& aTopic, TmqttQoS aQoS,
                                           bool aRetain, bool aDuplicate) {
  BeginPacket(TmqttControlPacket::mtcpPUBLISH);
  FixedHeader().SetDuplicate(aDuplicate);
  FixedHeader().SetQoS(aQoS);
  FixedHeader().SetRetain(aRetain);
  TbrzWSMQTTVariableHeader& header = VariableHeader();
  header.AddString(aTopic, true);
  if (HasIdentifier(aQoS)) header.AddWord(aPacketIdentifier);
  WritePublishProperties(header);
}

TBytes TbrzWSMQTTMessage::DoPublish(uint16_t aPacketIdentifier, const std::string& aTopic, const std::string& aText,
                                    TmqttQoS aQoS, bool aRetain, bool aDuplicate) {
  TbrzLock lock(CS());
  WritePublishHeader(aPacketIdentifier, aTopic, aQoS, aRetain, aDuplicate);
  PayLoadHeader().AddString(aText, false);
  return AssemblePacket();
}

TBytes TbrzWSMQTTMessage::DoPublish(uint16_t aPacketIdentifier, const std::string& aTopic, TbrzMemoryStream& aStream,
                                    TmqttQoS aQoS, bool aRetain, bool aDuplicate) {
  TbrzLock lock(CS());
  WritePublishHeader(aPacketIdentifier, aTopic, aQoS, aRetain, aDuplicate);
  PayLoadHeader().AddStream(aStream);
  return AssemblePacket();
}

TBytes TbrzWSMQTTMessage::DoSubscribe(uint16_t aPacketIdentifier, const TbrzWSTopics& aTopics) {
  TbrzLock lock(CS());
  BeginPacket(TmqttControlPacket::mtcpSUBSCRIBE);
  VariableHeader().AddWord(aPacketIdentifier);
  WriteSubscribeProperties(VariableHeader());
  for (const auto& topic : aTopics) {
    PayLoadHeader().AddString(topic.Topic(), true);
    uint8_t options = static_cast<uint8_t>(topic.QoS());
    if (FMQTTVersion == TwsMQTTVersion::mqtt5) options |= static_cast<uint8_t>(topic.Options() & 0x3C);
    PayLoadHeader().AddByte(options);
  }
  return AssemblePacket();
}

TBytes TbrzWSMQTTMessage::DoUnSubscribe(uint16_t aPacketIdentifier, const TbrzWSTopics& aTopics) {
  TbrzLock lock(CS());
  BeginPacket(TmqttControlPacket::mtcpUNSUBSCRIBE);
  VariableHeader().AddWord(aPacketIdentifier);
  WriteUnsubscribeProperties(VariableHeader());
  for (const auto& topic : aTopics) PayLoadHeader().AddString(topic.Topic(), true);
  return AssemblePacket();
}

TBytes TbrzWSMQTTMessage::DoPubAck(uint16_t aPacketIdentifier) {
  return BuildIdentifierPacket(TmqttControlPacket::mtcpPUBACK, aPacketIdentifier);
}
TBytes TbrzWSMQTTMessage::DoPubRec(uint16_t aPacketIdentifier) {
  return BuildIdentifierPacket(TmqttControlPacket::mtcpPUBREC, aPacketIdentifier);
}
TBytes TbrzWSMQTTMessage::DoPubRel(uint16_t aPacketIdentifier) {
  return BuildIdentifierPacket(TmqttControlPacket::mtcpPUBREL, aPacketIdentifier);
}
TBytes TbrzWSMQTTMessage::DoPubComp(uint16_t aPacketIdentifier) {
  return BuildIdentifierPacket(TmqttControlPacket::mtcpPUBCOMP, aPacketIdentifier);
}

TBytes TbrzWSMQTTMessage::DoDisconnect(int32_t aReasonCode) {
  TbrzLock lock(CS());
  BeginPacket(TmqttControlPacket::mtcpDISCONNECT);
  if (FMQTTVersion == TwsMQTTVersion::mqtt5) {
    VariableHeader().AddByte(static_cast<uint8_t>(aReasonCode & 0xFF));
    WriteDisconnectProperties(VariableHeader());
  }
  return AssemblePacket();
}

TBytes TbrzWSMQTTMessage::DoAuth(bool aReAuthenticate) {
  TbrzLock lock(CS());
  BeginPacket(TmqttControlPacket::mtcpAUTH);
  if (FMQTTVersion == TwsMQTTVersion::mqtt5) {
    VariableHeader().AddByte(aReAuthenticate ? AuthReAuthenticate : AuthContinue);
    WriteAuthProperties(VariableHeader());
  }
  return AssemblePacket();
}

}  // namespace brz
