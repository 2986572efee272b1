#pragma once
// Reassembles whole MQTT packets from a TCP byte stream in which packets arrive split across reads
// or several to a read. An explicit state machine fed byte ranges; any chunking of the same bytes
// gives the same packets.
//
// States: mqrsFixedHeader - collecting the first byte and the remaining-length bytes (each length
// byte is weighed as it arrives, so a header split over reads is never summed twice);
// mqrsMessage - header complete, collecting the body. Completion returns to mqrsFixedHeader.
// Not thread-safe: the owning codec serialises calls under its lock.

#include <cstdint>
#include <memory>

#include "common/TbrzMemoryStream.h"
#include "mqtt/MQTTTypes.h"

namespace brz {

class TbrzWSMQTTReadPacketBuffer {
 public:
  TmqttControlPacket ControlPacket() const { return FControlPacket; }
  int32_t FixedHeaderLength() const { return FFixedHeaderLength; }
  int32_t RemainingLength() const { return FRemainingLength; }
  TwsMQTTReadState ReadPacketState() const { return FReadPacketState; }
  // mqrsFixedHeader also restarts the header counters.
  void SetReadPacketState(TwsMQTTReadState aValue);
  // Every byte received and not yet handed over; created on first use.
  TbrzMemoryStream& StreamBuffer();

  // Takes all bytes of aStream. Returns true when StreamBuffer holds one whole packet (positioned at 0);
  // aStream then holds, from position 0, the bytes that followed it. Returns false when more bytes
  // are needed; aStream is then empty. A remaining length that needs a fifth byte raises
  // SMQTTMalformedVarInteger; the unframeable bytes are dropped (buffer and aStream emptied).
  bool Read(TbrzMemoryStream& aStream);
  // The same over a byte range, without moving the rest: takes bytes from aPosition on and leaves
  // aPosition just after the packet when it returns true, at aSize when it returns false (also when
  // it raises).
  bool Read(const uint8_t* aInput, size_t aSize, size_t& aPosition);
  // Forgets everything received.
  void Reset();

 private:
  void Fail();

  TmqttControlPacket FControlPacket = TmqttControlPacket::mtcpReserved0;
  int32_t FFixedHeaderLength = 0;
  std::unique_ptr<TbrzMemoryStream> FStreamBuffer;
  TwsMQTTReadState FReadPacketState = TwsMQTTReadState::mqrsFixedHeader;
  int32_t FRemainingLength = 0;
  // Weight of the next remaining-length byte.
  int32_t FMultiplier = 1;
  // StreamBuffer holds a packet returned by the last Read.
  bool FHandedOver = false;
};

}  // namespace brz
