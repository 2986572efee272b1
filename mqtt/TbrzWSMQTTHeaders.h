#pragma once
// Header buffers of the MQTT codec and the byte-level encoding and decoding primitives. All
// multi-byte integers are big-endian; byte order lives here and nowhere else.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/Bytes.h"
#include "mqtt/MQTTTypes.h"

namespace brz {

class TbrzMemoryStream;

// Largest value a variable byte integer of four bytes holds (the MQTT remaining-length limit).
inline constexpr int32_t MQTTMaxVarInteger = 268435455;
inline constexpr size_t MQTTMaxStringBytes = 65535;

// Variable-byte-integer bytes of a value (a negative value is taken as its unsigned bit pattern).
TBytes EncodeVarInteger(int32_t aValue);
// Two big-endian bytes.
TBytes WordBytes(uint16_t aValue);
// High and low bit of a QoS: 0 -> (0,0), 1 -> (0,1), 2 -> (1,0), 3 -> (1,1).
void QoSBits(TmqttQoS aQoS, bool& aHigh, bool& aLow);

// Reads a variable byte integer at aPosition and moves aPosition past it. Returns false when the
// bytes end inside the integer (aPosition is then at the end). Raises SMQTTMalformedVarInteger when
// a fifth byte would be needed.
bool DecodeVarInteger(const uint8_t* aBytes, size_t aSize, size_t& aPosition, int32_t& aValue);
int32_t DecodeVarInteger(const TBytes& aBytes, size_t& aPosition);

// Text of a byte range, decoded as UTF-8 (invalid sequences become U+FFFD). With aHasLength the two
// bytes at aOffset give the length of the text that follows them; when that length runs past the
// end, or without aHasLength, the text is every byte from aOffset to the end.
std::string BytesToText(const uint8_t* aBytes, size_t aSize, bool aHasLength, size_t aOffset);
std::string BytesToText(const TBytes& aBytes, bool aHasLength, size_t aOffset);

// First byte and remaining length of the packet being built or read.
class TbrzWSMQTTFixedHeader {
 public:
  TmqttControlPacket ControlPacket() const { return FControlPacket; }
  void SetControlPacket(TmqttControlPacket aValue) { FControlPacket = aValue; }
  bool Duplicate() const { return FDuplicate; }
  void SetDuplicate(bool aValue) { FDuplicate = aValue; }
  bool Retain() const { return FRetain; }
  void SetRetain(bool aValue) { FRetain = aValue; }
  TmqttQoS QoS() const { return FQoS; }
  void SetQoS(TmqttQoS aValue) { FQoS = aValue; }
  int32_t RemainingLength() const { return FRemainingLength; }
  void SetRemainingLength(int32_t aValue) { FRemainingLength = aValue; }

  // The first byte from type and flags. Resets the remaining length, and sets it to 2 for the
  // packets whose size is fixed (CONNACK, PUBACK, PUBREC, PUBREL, PUBCOMP, UNSUBACK).
  uint8_t FirstByte();
  TBytes Bytes() { return TBytes{FirstByte()}; }
  int32_t Size() const { return 1; }

 private:
  TmqttControlPacket FControlPacket = TmqttControlPacket::mtcpReserved0;
  bool FDuplicate = false;
  bool FRetain = false;
  TmqttQoS FQoS = TmqttQoS::mtqsAtMostOnce;
  int32_t FRemainingLength = 0;
};

// Growable byte buffer with the encoding primitives; every primitive appends at the end.
class TbrzWSMQTTVariableHeader {
 public:
  virtual ~TbrzWSMQTTVariableHeader() = default;
  TbrzWSMQTTVariableHeader() = default;
  TbrzWSMQTTVariableHeader(const TbrzWSMQTTVariableHeader&) = default;
  TbrzWSMQTTVariableHeader& operator=(const TbrzWSMQTTVariableHeader&) = default;

  virtual void Clear() { FBytes.clear(); }
  int32_t Size() const { return static_cast<int32_t>(FBytes.size()); }
  const TBytes& Bytes() const { return FBytes; }

  void AddByte(uint8_t aByte) { FBytes.push_back(aByte); }
  void AddBoolean(bool aValue) { FBytes.push_back(aValue ? 1 : 0); }
  void AddWord(uint16_t aValue);
  void AddInteger(int32_t aValue);
  void AddVarInteger(int32_t aValue);
  // UTF-8 bytes of aText, with aHeader preceded by their count as two bytes. A counted string
  // longer than 65535 bytes cannot be encoded and raises SMQTTStringTooLong.
  void AddString(std::string_view aText, bool aHeader);
  void AddBytes(const TBytes& aBytes) { FBytes.insert(FBytes.end(), aBytes.begin(), aBytes.end()); }
  void AddBytes(const uint8_t* aBytes, size_t aSize) { FBytes.insert(FBytes.end(), aBytes, aBytes + aSize); }

 protected:
  TBytes FBytes;
};

// The payload buffer.
class TbrzWSMQTTPayLoadHeader : public TbrzWSMQTTVariableHeader {
 public:
  // Appends the whole content of the stream; the stream is positioned at 0 and read to its end.
  void AddStream(TbrzMemoryStream& aStream);
};

// Base of the decoded packets that carry a packet identifier.
class TbrzWSMQTTVariableHeaderPacketIdentifier : public TbrzWSMQTTVariableHeader {
 public:
  void Clear() override {
    TbrzWSMQTTVariableHeader::Clear();
    FPacketIdentifier = 0;
  }
  int32_t PacketIdentifier() const { return FPacketIdentifier; }
  void SetPacketIdentifier(int32_t aValue) { FPacketIdentifier = aValue; }

 protected:
  int32_t FPacketIdentifier = 0;
};

// One topic filter of SUBSCRIBE or UNSUBSCRIBE.
class TbrzWSTopic {
 public:
  TbrzWSTopic() = default;
  TbrzWSTopic(std::string aTopic, TmqttQoS aQoS) : FQoS(aQoS), FTopic(std::move(aTopic)) {}
  TmqttQoS QoS() const { return FQoS; }
  void SetQoS(TmqttQoS aValue) { FQoS = aValue; }
  const std::string& Topic() const { return FTopic; }
  void SetTopic(std::string aValue) { FTopic = std::move(aValue); }
  // MQTT 5 subscription option bits beside the QoS (No Local 0x04, Retain As Published 0x08,
  // Retain Handling 0x30); not sent under MQTT 3.1.1.
  uint8_t Options() const { return FOptions; }
  void SetOptions(uint8_t aValue) { FOptions = aValue; }

 private:
  TmqttQoS FQoS = TmqttQoS::mtqsAtMostOnce;
  uint8_t FOptions = 0;
  std::string FTopic;
};

// Ordered list of topic filters; owns its items (a value type).
class TbrzWSTopics {
 public:
  TbrzWSTopic& Add(std::string aTopic, TmqttQoS aQoS = TmqttQoS::mtqsAtMostOnce) {
    return FItems.emplace_back(std::move(aTopic), aQoS);
  }
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  TbrzWSTopic& Item(int32_t aIndex) { return FItems.at(static_cast<size_t>(aIndex)); }
  const TbrzWSTopic& Item(int32_t aIndex) const { return FItems.at(static_cast<size_t>(aIndex)); }
  void Clear() { FItems.clear(); }
  auto begin() const { return FItems.begin(); }
  auto end() const { return FItems.end(); }

 private:
  std::vector<TbrzWSTopic> FItems;
};

}  // namespace brz
