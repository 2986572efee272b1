#pragma once
// The frame reader's per-frame and per-message state. One object holds data messages (their fragments
// accumulate in FStream), another control frames; the reader owns both. Not thread-safe: read thread only.

#include <array>
#include <cstdint>
#include <memory>

#include "common/Bytes.h"
#include "common/TbrzMemoryStream.h"
#include "websocket/TbrzWSFrameTypes.h"

namespace brz {

class TbrzWSMsg {
 public:
  bool FContinuation = false;  // the frame being read is a continuation frame
  bool FFragmented = false;    // FIN was clear on the last header read into this object
  int FMaskIndex = 0;          // key byte for the next payload byte (0..3)
  TOpcode FOpCode = TOpcode::opNone;
  TPayload FPayLoad = TPayload::pa7bits;
  int32_t FPayLoadLength = 0;  // payload bytes still expected
  int FPLState = 0;            // extended-length bytes read so far
  TBytes FReadBuffer;          // payload of a close frame, collected in pieces
  bool FReadMasked = false;
  // 0 first header byte, 1 second header byte, 2 extended length, 3 mask key, 4 payload.
  int FState = 0;
  std::array<uint8_t, 4> Mask{};

  // The message body so far, created on first use.
  TbrzMemoryStream& Stream();
  bool HasStream() const { return FStream != nullptr; }
  size_t StreamSize() const { return FStream ? FStream->Size() : 0; }
  void ClearStream() { FStream.reset(); }
  void ClearReadBuffer() { FReadBuffer.clear(); }
  // Every flag false, counters 0, opcode opNone, no stream, no read buffer.
  void Clear();

 private:
  std::unique_ptr<TbrzMemoryStream> FStream;
};

}  // namespace brz
