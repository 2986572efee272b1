#pragma once
// Framing enumerations and the compression hand-off used by the frame codec.

#include <cstdint>
#include <string>

#include "common/TbrzMemoryStream.h"
#include "transport/TbrzTransportTypes.h"
#include "transport/TbrzWSException.h"
#include "websocket/TbrzWSClientOptions.h"

namespace brz {

// Which length form the frame being read uses.
enum class TPayload : uint8_t { pa7bits, pa16bits, pa64bits };
// Parking level of an outbound message kind.
enum class TwsQueueMsgLevels : uint8_t { qmNone, qmLevel0, qmLevel1, qmLevel2 };

// Wire value of an opcode (opNone is never sent and maps to 0).
uint8_t OpcodeWireValue(TOpcode op);
bool IsControlOpcode(TOpcode op);
// Name used in logs: "continuation", "text", "binary", "close", "ping", "pong", "none".
const char* OpcodeName(TOpcode op);

// What the codec needs of the negotiated compression extension. Implemented by the connection over its
// extension settings; the codec never owns it. Sending calls run under the connection's main lock,
// receiving calls on the read thread only.
class IbrzWSCompression {
 public:
  virtual ~IbrzWSCompression() = default;
  // An extension was accepted in the handshake (RSV1 is then allowed).
  virtual bool ExtensionNegotiated() const = 0;
  // Messages sent are compressed.
  virtual bool CompressionActive() const = 0;
  // First header byte of a received data message: notes RSV1 as the message's compressed mark.
  virtual void DecodeHeader(uint8_t headerByte) = 0;
  // Compresses the whole stream in place.
  virtual void Compress(TbrzMemoryStream& stream) = 0;
  // Decompresses the stream in place when the current message is marked compressed.
  virtual void Decompress(TbrzMemoryStream& stream) = 0;
};

}  // namespace brz
