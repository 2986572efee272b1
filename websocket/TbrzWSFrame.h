#pragma once
// The RFC 6455 frame codec, sans I/O: building frames and cutting messages into them, and a frame reader
// that turns bytes into messages and control frames for any chunking of its input. Also the Hixie-76
// framing of draft server connections.

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "common/Bytes.h"
#include "common/TbrzMemoryStream.h"
#include "websocket/TbrzWSFrameTypes.h"
#include "websocket/TbrzWSMsg.h"

namespace brz {

// Close codes the codec uses.
inline constexpr int kWSCloseNormal = 1000;
inline constexpr int kWSCloseProtocolError = 1002;
inline constexpr int kWSCloseInvalidData = 1007;
inline constexpr int kWSCloseTooBig = 1009;

// Mask keys for outgoing frames. One object per connection; thread-safe (the system's strong generator).
class TbrzWSMaskGenerator {
 public:
  TbrzWSMaskGenerator() = default;
  // A copy would hand out the same keys as the original.
  TbrzWSMaskGenerator(const TbrzWSMaskGenerator&) = delete;
  TbrzWSMaskGenerator& operator=(const TbrzWSMaskGenerator&) = delete;
  // Four bytes, each uniform in 0..254.
  std::array<uint8_t, 4> Next();

 private:
  // Strong random bytes drawn in blocks: one generator call serves many frames.
  std::array<uint8_t, 256> FPool{};
  size_t FNext = 256;
};

// One complete frame: header byte (FIN, RSV1, opcode), the shortest length form, the mask key when
// mask is given, and the (masked) payload.
TBytes BuildWSFrame(TOpcode opCode, bool fin, bool rsv1, const uint8_t* payload, size_t size,
                    const std::array<uint8_t, 4>* mask);
// XORs data with key, starting at key byte keyIndex; returns the key index for the next byte.
int ApplyWSMask(uint8_t* data, size_t size, const std::array<uint8_t, 4>& key, int keyIndex = 0);

// One frame of a message cut by PlanWSMessage: its opcode, FIN, and payload range.
struct TbrzWSFramePlan {
  TOpcode OpCode;
  bool Fin;
  size_t Offset;
  size_t Size;
};

// Frames for one write call. messageOpCode is opText or opBinary; byteSize the payload bytes; cutLength
// the length compared with fragmentSize (characters for text, bytes for binary): pieces of fragmentSize
// bytes are cut only when fragmentSize > 0 and cutLength > fragmentSize.
std::vector<TbrzWSFramePlan> PlanWSMessage(TOpcode messageOpCode, size_t byteSize, size_t cutLength,
                                           size_t fragmentSize, TwsStreaming streaming);

// Received close codes that are accepted: 1000-1003, 1007-1011, 3000-4999.
bool IsAcceptedCloseCode(int code);
// Text validation of received payloads: valid UTF-8, or valid UTF-8 followed by one lone 0xF4 byte.
bool IsAcceptedUTF8(const uint8_t* data, size_t size);

// What the frame reader hands on. Called synchronously from Feed on the read thread; streams are the
// reader's own, positioned at 0, and reused after the call (copy to keep).
class IbrzWSFrameHandler {
 public:
  virtual ~IbrzWSFrameHandler() = default;
  virtual void WSText(const std::string& text) = 0;
  virtual void WSBinary(TbrzMemoryStream& data) = 0;
  // Fragment modes: the body (so far), the message opcode, and whether more frames follow.
  virtual void WSFragment(TbrzMemoryStream& data, TOpcode opCode, bool continuation) = 0;
  // Answer with a pong carrying payload unchanged.
  virtual void WSPing(const TBytes& payload) = 0;
  virtual void WSPong(const std::string& text) = 0;
  // An acceptable close frame (code 0 when it had no payload). The reader has stopped.
  virtual void WSClose(int code, const std::string& reason) = 0;
  // A protocol violation with its close code. The reader has stopped.
  virtual void WSViolation(const std::string& message, int closeCode) = 0;
};

struct TbrzWSReaderOptions {
  bool RequireMasked = false;  // server side: every frame from the client must be masked
  bool ValidateUTF8 = false;
  TwsFragmentedMessages FragmentedMessages = TwsFragmentedMessages::frgOnlyBuffer;
  // Cap on the body held for one message; a never-ending fragmented message ends with 1009.
  size_t MaxMessageSize = 256u * 1024u * 1024u;
};

// The frame reader. States per TbrzWSMsg: 0 first header byte, 1 second, 2 extended length, 3 mask key,
// 4 payload; back to 0 when a frame is complete. After a close frame or a violation it is stopped and
// consumes nothing until Reset. Not thread-safe: the read thread owns it.
class TbrzWSFrameReader {
 public:
  // handler and compression are not owned; compression may be null (no extension negotiated).
  explicit TbrzWSFrameReader(IbrzWSFrameHandler& handler, IbrzWSCompression* compression = nullptr)
      : FHandler(handler), FCompression(compression) {}

  TbrzWSReaderOptions& Options() { return FOptions; }
  void SetCompression(IbrzWSCompression* compression) { FCompression = compression; }

  // Consumes bytes and returns how many it took (all of them unless it stopped on the way).
  size_t Feed(const uint8_t* data, size_t count);
  bool Stopped() const { return FStopped; }
  // Stops consuming (the connection is going away).
  void Stop() { FStopped = true; }
  // Back to the first header byte with no message in progress.
  void Reset();
  // Taken from the last close frame; reset at the start of every frame.
  int CloseCode() const { return FCloseCode; }
  const std::string& CloseReason() const { return FCloseReason; }
  const TbrzWSMsg& DataMessage() const { return FWSMessage; }

 private:
  size_t Step(const uint8_t* data, size_t count);
  void HeaderByte0(uint8_t b);
  void HeaderByte1(uint8_t b);
  void AfterLength();
  void FrameComplete();
  // inflate: decompress a compressed body first (false when the fragment path already did).
  void Deliver(TbrzWSMsg& message, bool inflate = true);
  // Decompresses a data message marked compressed; a failure stops the reader and raises.
  void Inflate(TbrzWSMsg& message);
  void CloseFrame(const TBytes& payload);
  bool DecodeText(const TbrzMemoryStream& stream, std::string& text);
  void Violation(const char* message, int closeCode = kWSCloseProtocolError);

  IbrzWSFrameHandler& FHandler;
  IbrzWSCompression* FCompression;
  TbrzWSReaderOptions FOptions;
  TbrzWSMsg FWSMessage;
  TbrzWSMsg FWSControlCode;
  TbrzWSMsg* FCurrent = &FWSMessage;
  uint8_t FFirstByte = 0;
  uint64_t FLength64 = 0;
  int FCloseCode = 0;
  std::string FCloseReason;
  bool FStopped = false;
  // RSV1 of the current data message's first frame.
  bool FMessageCompressed = false;
};

// Hixie-76 frames (draft server connections): text is 0x00, UTF-8, 0xFF; close is 0xFF 0x00.
TBytes BuildHixie76Text(const std::string& text);
TBytes BuildHixie76Close();

// Reads Hixie-76 frames for any chunking: other bytes between frames are skipped. Text goes to WSText,
// the close frame to WSClose (code 0); an overlong frame to WSViolation with 1009.
class TbrzWSHixie76Reader {
 public:
  explicit TbrzWSHixie76Reader(IbrzWSFrameHandler& handler, size_t maxMessageSize = 256u * 1024u * 1024u)
      : FHandler(handler), FMaxMessageSize(maxMessageSize) {}
  size_t Feed(const uint8_t* data, size_t count);
  bool Stopped() const { return FStopped; }
  void Reset();

 private:
  IbrzWSFrameHandler& FHandler;
  size_t FMaxMessageSize;
  // 0 between frames, 1 inside a text frame, 2 after a 0xFF between frames.
  int FState = 0;
  std::string FText;
  bool FStopped = false;
};

}  // namespace brz
