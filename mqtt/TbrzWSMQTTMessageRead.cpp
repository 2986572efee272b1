// Decoding half of the codec. Every reader works on the body of one packet and never reads past it.
#include <algorithm>

#include "mqtt/TbrzWSMQTTMessage.h"

#include "common/Text.h"

namespace brz {

namespace {

int32_t WordAt(const uint8_t* aBytes, size_t aOffset) { return (aBytes[aOffset] << 8) | aBytes[aOffset + 1]; }

// The property block at aPosition: its length, then at most that many bytes of the body, handed
// to the set. aPosition ends past the block (at the end of the body when the block is cut off).
void ReadPropertyBlock(const uint8_t* aBody, size_t aSize, size_t& aPosition, TbrzWSMQTTReadProperties& aProperties) {
  int32_t length = 0;
  if (!DecodeVarInteger(aBody, aSize, aPosition, length)) return;
  size_t take = std::min(static_cast<size_t>(length), aSize - aPosition);
  if (take > 0) aProperties.ReadBytes(aBody + aPosition, take);
  aPosition += take;
}

// Whether the bytes BytesToText reads as the topic are valid UTF-8.
bool TopicBytesValid(const uint8_t* aBody, size_t aSize) {
  if (aSize >= 2) {
    const auto length = static_cast<size_t>(WordAt(aBody, 0));
    if (1 + length < aSize) return IsValidUTF8(aBody + 2, length);
  }
  return IsValidUTF8(aBody, aSize);
}

}  // namespace

bool TbrzWSMQTTMessage::Read(TbrzMemoryStream& aStream) {
  TbrzLock lock(CS());
  struct TStreamReadScope {
    TbrzMemoryStream*& FTarget;
    ~TStreamReadScope() { FTarget = nullptr; }
  } scope{FStreamRead};
  FStreamRead = &aStream;
  size_t position = aStream.Position();
  bool decoded = ReadPacket(aStream.Memory(), aStream.Size(), position);
  aStream.SetPosition(position);
  return decoded;
}

bool TbrzWSMQTTMessage::ReadPacket(const uint8_t* aBytes, size_t aSize, size_t& aPosition) {
  TbrzLock lock(CS());
  TbrzWSMQTTFixedHeader& header = FixedHeader();
  // Until a whole packet is there its type is not reported, so that no caller acts on the values
  // of an earlier packet of that type.
  header.SetControlPacket(TmqttControlPacket::mtcpReserved0);
  if (aPosition >= aSize) {
    aPosition = aSize;
    return false;
  }
  uint8_t first = aBytes[aPosition++];
  auto packet = static_cast<TmqttControlPacket>(first >> 4);
  int32_t remaining = 0;
  // A packet cut off inside its header or its body is not decoded.
  if (!DecodeVarInteger(aBytes, aSize, aPosition, remaining) || aSize - aPosition < static_cast<size_t>(remaining)) {
    aPosition = aSize;
    return false;
  }
  header.SetControlPacket(packet);
  if (packet == TmqttControlPacket::mtcpPUBLISH) {
    header.SetDuplicate((first & 0x08) != 0);
    header.SetQoS(static_cast<TmqttQoS>((first >> 1) & 0x03));
    header.SetRetain((first & 0x01) != 0);
  }
  header.SetRemainingLength(remaining);
  if (remaining == 0) return true;
  const uint8_t* body = aBytes + aPosition;
  const auto size = static_cast<size_t>(remaining);
  aPosition += size;
  switch (packet) {
    case TmqttControlPacket::mtcpCONNACK: ReadCONNACK(body, size); break;
    case TmqttControlPacket::mtcpPUBLISH: ReadPUBLISH(body, size); break;
    case TmqttControlPacket::mtcpPUBACK:
    case TmqttControlPacket::mtcpPUBREC:
    case TmqttControlPacket::mtcpPUBREL:
    case TmqttControlPacket::mtcpPUBCOMP: ReadAcknowledgement(packet, body, size); break;
    case TmqttControlPacket::mtcpSUBACK: ReadSUBACK(body, size); break;
    case TmqttControlPacket::mtcpUNSUBACK: ReadUNSUBACK(body, size); break;
    case TmqttControlPacket::mtcpDISCONNECT:
      if (FMQTTVersion == TwsMQTTVersion::mqtt5) ReadDISCONNECT(body, size);
      break;
    case TmqttControlPacket::mtcpAUTH:
      if (FMQTTVersion == TwsMQTTVersion::mqtt5) ReadAUTH(body, size);
      break;
    default:
      // A packet the client does not decode is skipped whole.
      break;
  }
  return true;
}

bool TbrzWSMQTTMessage::ReadTCP(TbrzMemoryStream& aStream) {
  TbrzLock lock(CS());
  if (!StreamReadPacketBuffer().Read(aStream)) return false;
  // The surplus is in aStream.
  DecodeReassembledPacket();
  return true;
}

bool TbrzWSMQTTMessage::ReadTCP(const uint8_t* aBytes, size_t aSize, size_t& aPosition) {
  TbrzLock lock(CS());
  if (!StreamReadPacketBuffer().Read(aBytes, aSize, aPosition)) return false;
  DecodeReassembledPacket();
  return true;
}

void TbrzWSMQTTMessage::DecodeReassembledPacket() {
  // The reassembly state is dropped whether the decode succeeds or not.
  std::unique_ptr<TbrzWSMQTTReadPacketBuffer> packet = std::move(FStreamReadPacketBuffer);
  TbrzMemoryStream& buffer = packet->StreamBuffer();
  buffer.SetPosition(0);
  Read(buffer);
}

void TbrzWSMQTTMessage::ReadCONNACK(const uint8_t* aBody, size_t aSize) {
  TbrzWSMQTTCONNACK& connack = CONNACK();
  connack.Clear();
  if (FMQTTVersion == TwsMQTTVersion::mqtt311) {
    if (aSize != 2) return;
    connack.SetSession(aBody[0] == 1);
    connack.SetReasonCode(aBody[1]);
    connack.SetReasonName(ConnackReturnCodeName(aBody[1]));
    return;
  }
  if (aSize < 2) return;
  connack.SetSession(aBody[0] == 1);
  connack.SetReasonCode(aBody[1]);
  connack.SetReasonName(ReasonCodeName(TmqttControlPacket::mtcpCONNACK, aBody[1]));
  if (aSize > 2) {
    size_t position = 2;
    ReadPropertyBlock(aBody, aSize, position, connack.CONNACKProperties());
  }
}

void TbrzWSMQTTMessage::ReadPUBLISH(const uint8_t* aBody, size_t aSize) {
  TbrzWSMQTTPUBLISH& publish = PUBLISH();
  publish.Clear();
  publish.SetQoS(FixedHeader().QoS());
  publish.SetRetain(FixedHeader().Retain());
  publish.SetDuplicate(FixedHeader().Duplicate());
  publish.SetTopic(BytesToText(aBody, aSize, true, 0));
  publish.SetTopicValid(TopicBytesValid(aBody, aSize));
  if (aSize <= 1) return;
  const auto topicLength = static_cast<size_t>(WordAt(aBody, 0));
  size_t position = 0;
  if (FixedHeader().QoS() != TmqttQoS::mtqsAtMostOnce) {
    if (aSize < topicLength + 4) return;
    publish.SetPacketIdentifier(WordAt(aBody, topicLength + 2));
    position = topicLength + 4;
  } else {
    position = topicLength + 2;
  }
  if (FMQTTVersion == TwsMQTTVersion::mqtt5 && position < aSize) {
    ReadPropertyBlock(aBody, aSize, position, publish.PUBLISHProperties());
  }
  if (position < aSize) publish.SetPayload(std::string(reinterpret_cast<const char*>(aBody) + position, aSize - position));
}

void TbrzWSMQTTMessage::ReadAcknowledgement(TmqttControlPacket aPacket, const uint8_t* aBody, size_t aSize) {
  TbrzWSMQTTVariableHeaderPacketIdentifier* target = nullptr;
  TbrzWSMQTTReadProperties* properties = nullptr;
  int32_t code = 0;
  std::string name;
  switch (aPacket) {
    case TmqttControlPacket::mtcpPUBACK: PUBACK().Clear(); target = &PUBACK(); properties = &PUBACK().Properties(); break;
    case TmqttControlPacket::mtcpPUBREC: PUBREC().Clear(); target = &PUBREC(); properties = &PUBREC().Properties(); break;
    case TmqttControlPacket::mtcpPUBREL: PUBREL().Clear(); target = &PUBREL(); properties = &PUBREL().Properties(); break;
    default: PUBCOMP().Clear(); target = &PUBCOMP(); properties = &PUBCOMP().Properties(); break;
  }
  if (FMQTTVersion == TwsMQTTVersion::mqtt311) {
    if (aSize == 2) target->SetPacketIdentifier(WordAt(aBody, 0));
    return;
  }
  if (aSize > 1) target->SetPacketIdentifier(WordAt(aBody, 0));
  if (aSize > 2) {
    code = aBody[2];
    name = ReasonCodeName(aPacket, code);
  }
  switch (aPacket) {
    case TmqttControlPacket::mtcpPUBACK: PUBACK().SetReasonCode(code); PUBACK().SetReasonName(name); break;
    case TmqttControlPacket::mtcpPUBREC: PUBREC().SetReasonCode(code); PUBREC().SetReasonName(name); break;
    case TmqttControlPacket::mtcpPUBREL: PUBREL().SetReasonCode(code); PUBREL().SetReasonName(name); break;
    default: PUBCOMP().SetReasonCode(code); PUBCOMP().SetReasonName(name); break;
  }
  if (aSize > 3) {
    size_t position = 3;
    ReadPropertyBlock(aBody, aSize, position, *properties);
  }
}

void TbrzWSMQTTMessage::ReadSUBACK(const uint8_t* aBody, size_t aSize) {
  TbrzWSMQTTSUBACK& suback = SUBACK();
  suback.Clear();
  size_t position = 2;
  if (FMQTTVersion == TwsMQTTVersion::mqtt311) {
    if (aSize < 2) return;
  } else {
    if (aSize <= 2) return;
  }
  suback.SetPacketIdentifier(WordAt(aBody, 0));
  if (FMQTTVersion == TwsMQTTVersion::mqtt5) ReadPropertyBlock(aBody, aSize, position, suback.Properties());
  for (; position < aSize; ++position) {
    suback.Codes().Add(aBody[position], ReasonCodeName(TmqttControlPacket::mtcpSUBACK, aBody[position]));
  }
}

void TbrzWSMQTTMessage::ReadUNSUBACK(const uint8_t* aBody, size_t aSize) {
  TbrzWSMQTTUNSUBACK& unsuback = UNSUBACK();
  unsuback.Clear();
  if (FMQTTVersion == TwsMQTTVersion::mqtt311) {
    if (aSize == 2) unsuback.SetPacketIdentifier(WordAt(aBody, 0));
    return;
  }
  if (aSize <= 2) return;
  unsuback.SetPacketIdentifier(WordAt(aBody, 0));
  size_t position = 2;
  ReadPropertyBlock(aBody, aSize, position, unsuback.Properties());
  for (; position < aSize; ++position) {
    unsuback.Codes().Add(aBody[position], ReasonCodeName(TmqttControlPacket::mtcpUNSUBACK, aBody[position]));
  }
}

void TbrzWSMQTTMessage::ReadDISCONNECT(const uint8_t* aBody, size_t aSize) {
  TbrzWSMQTTDISCONNECT& disconnect = DISCONNECT();
  disconnect.Clear();
  disconnect.SetReasonCode(aBody[0]);
  disconnect.SetReasonName(ReasonCodeName(TmqttControlPacket::mtcpDISCONNECT, aBody[0]));
  if (aSize > 1) {
    size_t position = 1;
    ReadPropertyBlock(aBody, aSize, position, disconnect.Properties());
  }
}

void TbrzWSMQTTMessage::ReadAUTH(const uint8_t* aBody, size_t aSize) {
  TbrzWSMQTTAUTH& auth = AUTH();
  auth.Clear();
  auth.SetReasonCode(aBody[0]);
  auth.SetReasonName(ReasonCodeName(TmqttControlPacket::mtcpAUTH, aBody[0]));
  if (aSize > 1) {
    size_t position = 1;
    ReadPropertyBlock(aBody, aSize, position, auth.Properties());
  }
}

}  // namespace brz
