#include "mqtt/TbrzWSMQTTReadPacketBuffer.h"

#include <algorithm>

#include "common/Exception.h"
#include "mqtt/MQTTMessages.h"

namespace brz {

void TbrzWSMQTTReadPacketBuffer::SetReadPacketState(TwsMQTTReadState aValue) {
  FReadPacketState = aValue;
  if (aValue == TwsMQTTReadState::mqrsFixedHeader) {
    FFixedHeaderLength = 0;
    FRemainingLength = 0;
    FMultiplier = 1;
  }
}

TbrzMemoryStream& TbrzWSMQTTReadPacketBuffer::StreamBuffer() {
  if (!FStreamBuffer) FStreamBuffer = std::make_unique<TbrzMemoryStream>();
  return *FStreamBuffer;
}

void TbrzWSMQTTReadPacketBuffer::Reset() {
  FControlPacket = TmqttControlPacket::mtcpReserved0;
  SetReadPacketState(TwsMQTTReadState::mqrsFixedHeader);
  if (FStreamBuffer) FStreamBuffer->Clear();
  FHandedOver = false;
}

void TbrzWSMQTTReadPacketBuffer::Fail() {
  Reset();
  throw Exception(SMQTTMalformedVarInteger);
}

bool TbrzWSMQTTReadPacketBuffer::Read(TbrzMemoryStream& aStream) {
  size_t index = 0;
  bool complete;
  try {
    complete = Read(aStream.Memory(), aStream.Size(), index);
  } catch (const Exception&) {
    aStream.Clear();
    throw;
  }
  if (complete) {
    TBytes surplus(aStream.Memory() + index, aStream.Memory() + aStream.Size());
    aStream.LoadFromBytes(surplus);
  } else {
    aStream.Clear();
  }
  return complete;
}

bool TbrzWSMQTTReadPacketBuffer::Read(const uint8_t* aInput, size_t aSize, size_t& aPosition) {
  TbrzMemoryStream& buffer = StreamBuffer();
  // The packet handed over by the previous call is done with.
  if (FHandedOver) {
    buffer.Clear();
    FHandedOver = false;
  }
  const uint8_t* input = aInput;
  const size_t size = aSize;
  size_t index = aPosition;
  bool complete = false;
  // The buffer grows only by bytes that arrived, never by the announced length.
  buffer.SetPosition(buffer.Size());
  while (index < size && !complete) {
    if (FReadPacketState == TwsMQTTReadState::mqrsFixedHeader) {
      uint8_t byte = input[index++];
      buffer.WriteByte(byte);
      if (FFixedHeaderLength == 0) {
        FControlPacket = static_cast<TmqttControlPacket>(byte >> 4);
        FFixedHeaderLength = 1;
        FRemainingLength = 0;
        FMultiplier = 1;
        continue;
      }
      // A fifth remaining-length byte exceeds the four-byte limit.
      if (FMultiplier > 2097152) {
        aPosition = size;
        Fail();
      }
      ++FFixedHeaderLength;
      FRemainingLength += (byte & 0x7F) * FMultiplier;
      FMultiplier *= 128;
      if ((byte & 0x80) != 0) continue;
      FReadPacketState = TwsMQTTReadState::mqrsMessage;
    } else {
      size_t total = static_cast<size_t>(FFixedHeaderLength) + static_cast<size_t>(FRemainingLength);
      size_t take = std::min(total - buffer.Size(), size - index);
      buffer.Write(input + index, take);
      index += take;
    }
    if (FReadPacketState == TwsMQTTReadState::mqrsMessage) {
      complete = buffer.Size() >= static_cast<size_t>(FFixedHeaderLength) + static_cast<size_t>(FRemainingLength);
    }
  }
  if (complete) {
    SetReadPacketState(TwsMQTTReadState::mqrsFixedHeader);
    FHandedOver = true;
  }
  aPosition = index;
  buffer.SetPosition(0);
  return complete;
}

}  // namespace brz
