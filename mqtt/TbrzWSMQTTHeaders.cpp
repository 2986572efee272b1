#include "mqtt/TbrzWSMQTTHeaders.h"

#include "common/Exception.h"
#include "common/TbrzMemoryStream.h"
#include "common/Text.h"
#include "mqtt/MQTTMessages.h"

namespace brz {

TBytes EncodeVarInteger(int32_t aValue) {
  TBytes result;
  auto value = static_cast<uint32_t>(aValue);
  do {
    auto byte = static_cast<uint8_t>(value % 128);
    value /= 128;
    if (value > 0) byte |= 0x80;
    result.push_back(byte);
  } while (value > 0);
  return result;
}

TBytes WordBytes(uint16_t aValue) {
  return TBytes{static_cast<uint8_t>(aValue >> 8), static_cast<uint8_t>(aValue & 0xFF)};
}

void QoSBits(TmqttQoS aQoS, bool& aHigh, bool& aLow) {
  auto bits = static_cast<uint8_t>(aQoS);
  aHigh = (bits & 2) != 0;
  aLow = (bits & 1) != 0;
}

bool DecodeVarInteger(const uint8_t* aBytes, size_t aSize, size_t& aPosition, int32_t& aValue) {
  int32_t value = 0;
  int32_t multiplier = 1;
  while (true) {
    if (aPosition >= aSize) {
      aPosition = aSize;
      return false;
    }
    uint8_t byte = aBytes[aPosition++];
    // A fifth byte is beyond the four-byte limit of a variable byte integer.
    if (multiplier > 2097152) throw Exception(SMQTTMalformedVarInteger);
    value += (byte & 0x7F) * multiplier;
    multiplier *= 128;
    if ((byte & 0x80) == 0) break;
  }
  aValue = value;
  return true;
}

int32_t DecodeVarInteger(const TBytes& aBytes, size_t& aPosition) {
  int32_t value = 0;
  DecodeVarInteger(aBytes.data(), aBytes.size(), aPosition, value);
  return value;
}

std::string BytesToText(const uint8_t* aBytes, size_t aSize, bool aHasLength, size_t aOffset) {
  if (aOffset >= aSize) return {};
  if (aHasLength && aSize - aOffset >= 2) {
    size_t length = (static_cast<size_t>(aBytes[aOffset]) << 8) | aBytes[aOffset + 1];
    if (aOffset + 1 + length < aSize) return BytesToUTF8Text(aBytes + aOffset + 2, length);
  }
  return BytesToUTF8Text(aBytes + aOffset, aSize - aOffset);
}

std::string BytesToText(const TBytes& aBytes, bool aHasLength, size_t aOffset) {
  return BytesToText(aBytes.data(), aBytes.size(), aHasLength, aOffset);
}

uint8_t TbrzWSMQTTFixedHeader::FirstByte() {
  FRemainingLength = 0;
  auto type = static_cast<uint8_t>(FControlPacket);
  uint8_t flags = 0;
  switch (FControlPacket) {
    case TmqttControlPacket::mtcpPUBLISH: {
      bool high = false, low = false;
      QoSBits(FQoS, high, low);
      flags = static_cast<uint8_t>((FDuplicate ? 8 : 0) | (high ? 4 : 0) | (low ? 2 : 0) | (FRetain ? 1 : 0));
      break;
    }
    case TmqttControlPacket::mtcpPUBREL:
      flags = 0b0010;
      FRemainingLength = 2;
      break;
    case TmqttControlPacket::mtcpSUBSCRIBE:
    case TmqttControlPacket::mtcpUNSUBSCRIBE:
      flags = 0b0010;
      break;
    case TmqttControlPacket::mtcpCONNACK:
    case TmqttControlPacket::mtcpPUBACK:
    case TmqttControlPacket::mtcpPUBREC:
    case TmqttControlPacket::mtcpPUBCOMP:
    case TmqttControlPacket::mtcpUNSUBACK:
      FRemainingLength = 2;
      break;
    default:
      break;
  }
  return static_cast<uint8_t>((type << 4) | flags);
}

void TbrzWSMQTTVariableHeader::AddWord(uint16_t aValue) {
  FBytes.push_back(static_cast<uint8_t>(aValue >> 8));
  FBytes.push_back(static_cast<uint8_t>(aValue & 0xFF));
}

void TbrzWSMQTTVariableHeader::AddInteger(int32_t aValue) {
  auto value = static_cast<uint32_t>(aValue);
  for (int shift = 24; shift >= 0; shift -= 8) FBytes.push_back(static_cast<uint8_t>((value >> shift) & 0xFF));
}

void TbrzWSMQTTPayLoadHeader::AddStream(TbrzMemoryStream& aStream) {
  aStream.SetPosition(0);
  AddBytes(aStream.Memory(), aStream.Size());
  aStream.SetPosition(aStream.Size());
}

void TbrzWSMQTTVariableHeader::AddVarInteger(int32_t aValue) { AddBytes(EncodeVarInteger(aValue)); }

void TbrzWSMQTTVariableHeader::AddString(std::string_view aText, bool aHeader) {
  if (aHeader) {
    // A longer string would get a wrapped length and its tail would be read as further fields.
    if (aText.size() > MQTTMaxStringBytes) throw Exception(SMQTTStringTooLong);
    AddWord(static_cast<uint16_t>(aText.size()));
  }
  FBytes.insert(FBytes.end(), aText.begin(), aText.end());
}

}  // namespace brz
