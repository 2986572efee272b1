#pragma once
// The WebSocket work of one connection: the client handshake, frame writing under the connection's main
// lock, the frame reader step, control-frame answers, the ping list and the outbound parking queues.
// Owned by the connection it serves (client or server side) and called from the connection's framing
// hooks. Thread-safety: writes, pings and parking from any thread; the read step and the handshake
// reader on the connection's read thread only.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/TbrzMemoryStream.h"
#include "common/TbrzThreadList.h"
#include "transport/TbrzSocketConnection.h"
#include "websocket/TbrzWSExtensions.h"
#include "websocket/TbrzWSFrame.h"
#include "websocket/TbrzWSHandshake.h"

namespace brz {

// A parked outbound message.
class TbrzQueueObject {
 public:
  int FSize = 0;
  TwsStreaming FStreaming = TwsStreaming::stmNone;
  std::string FText;
  TOpcode FOpCode = TOpcode::opText;  // opText, opBinary or opPing
  TbrzMemoryStream FStream;           // private copy of binary data
};
using TbrzQueueObjectPtr = std::shared_ptr<TbrzQueueObject>;

struct TbrzWSQueueMsgOptions {
  TwsQueueMsgLevels Level = TwsQueueMsgLevels::qmNone;
};
// Parking levels per message kind; qmNone sends at once.
struct TbrzWSQueueOptions {
  TbrzWSQueueMsgOptions Text;
  TbrzWSQueueMsgOptions Binary;
  TbrzWSQueueMsgOptions Ping;
  void Assign(const TbrzWSQueueOptions& other) { *this = other; }
  bool Any() const {
    return Text.Level != TwsQueueMsgLevels::qmNone || Binary.Level != TwsQueueMsgLevels::qmNone ||
           Ping.Level != TwsQueueMsgLevels::qmNone;
  }
};

// What the core needs of its connection beyond the connection's public interface.
class IbrzWSConnectionHost {
 public:
  virtual ~IbrzWSConnectionHost() = default;
  virtual void AddReceivedBytes(int64_t count) = 0;
  virtual void AddSentBytes(int64_t count) = 0;
};

// Result of a handshake read step.
struct TbrzWSHandshakeProgress {
  bool Complete = false;  // the response header was read and accepted (or redirected)
  bool Redirect = false;
  std::string Location;
};

class TbrzWSConnectionCore : private IbrzWSFrameHandler, private IbrzWSCompression {
 public:
  // Payload bytes taken from the socket per read step.
  static constexpr size_t kReadChunkSize = 16384;
  // Pings remembered while waiting for their pongs; the oldest goes first.
  static constexpr size_t kMaxPendingPings = 256;

  // owner and host outlive the core (the connection owns it).
  TbrzWSConnectionCore(TbrzTCPConnection_Base& owner, IbrzWSConnectionHost& host);
  TbrzWSConnectionCore(const TbrzWSConnectionCore&) = delete;
  TbrzWSConnectionCore& operator=(const TbrzWSConnectionCore&) = delete;

  // Settings, taken before the connection is used.
  void SetMasked(bool value) { FMasked = value; }
  bool Masked() const { return FMasked.load(); }
  void SetRequireMasked(bool value) { FRequireMasked = value; }
  void SetValidateUTF8(bool value) { FValidateUTF8 = value; }
  bool ValidateUTF8() const { return FValidateUTF8.load(); }
  void SetFragmentedMessages(TwsFragmentedMessages value) { FFragmentedMessages = value; }
  TwsFragmentedMessages FragmentedMessages() const { return FFragmentedMessages.load(); }
  void SetMaxMessageSize(size_t value) { FMaxMessageSize = value; }
  size_t MaxMessageSize() const { return FMaxMessageSize.load(); }
  void SetQueueOptions(const TbrzWSQueueOptions& value);
  TbrzWSQueueOptions QueueOptions() const;
  // The connection's own copy of the extension settings; negotiated by the handshake.
  TbrzWSExtensions& Extensions() { return FExtensions; }

  // Client handshake. The request gets a fresh key, the connection's sub-protocols and the extension
  // offers; onHeaders may change the lines before they are written.
  void SendHandshakeRequest(TbrzWSHandshakeRequest request,
                            const std::function<void(std::vector<std::string>&)>& onHeaders);
  // Reads what is buffered of the response; once complete, checks it. Raises the handshake errors.
  TbrzWSHandshakeProgress ReadHandshakeResponse(bool canRedirect);
  std::string Key() const;
  // The parsed response, or none before it was read.
  std::shared_ptr<const TbrzWSHandShakeClient> Handshake() const;

  // Framing hooks of the connection.
  void ReadStep();
  void ResetReadState();
  void WriteText(const std::string& text, int size, TwsStreaming streaming);
  void WriteStream(TbrzMemoryStream& stream, int size, TwsStreaming streaming);
  bool ParkText(const std::string& text, int size, TwsStreaming streaming);
  bool ParkStream(TbrzMemoryStream& stream, int size, TwsStreaming streaming);
  void ClearQueues();
  // A close frame with the code (empty payload when negative); nothing before the handshake.
  void SendCloseFrame(int code);
  // User close: marks the connection disconnected, drops unread input, sends the close frame.
  void Close(int code);

  // Pings: parked, or a ping frame (raw text on trpTCP) remembered until its pong arrives.
  void Ping(const std::string& text);
  bool ParkPing(const std::string& text);
  void WriteFramePing(const std::string& text);
  // Sends the parked messages, level 0 first, while the connection is enabled.
  void FlushQueues();

  // Milliseconds since the epoch; 0 = never.
  int64_t FirstPing() const { return FFirstPing.load(); }
  void SetFirstPing(int64_t value) { FFirstPing = value; }
  int64_t LastPing() const { return FLastPing.load(); }
  int64_t LastPong() const { return FLastPong.load(); }
  // Reason of the last close frame received.
  std::string CloseReason() const;

 private:
  // IbrzWSFrameHandler
  void WSText(const std::string& text) override;
  void WSBinary(TbrzMemoryStream& data) override;
  void WSFragment(TbrzMemoryStream& data, TOpcode opCode, bool continuation) override;
  void WSPing(const TBytes& payload) override;
  void WSPong(const std::string& text) override;
  void WSClose(int code, const std::string& reason) override;
  void WSViolation(const std::string& message, int closeCode) override;
  // IbrzWSCompression over the extension settings.
  bool ExtensionNegotiated() const override { return FExtensions.ExtensionNegotiated(); }
  bool CompressionActive() const override { return FExtensions.Active(); }
  void DecodeHeader(uint8_t headerByte) override { FExtensions.DecodeHeader(headerByte); }
  void Compress(TbrzMemoryStream& stream) override;
  void Decompress(TbrzMemoryStream& stream) override;

  void SendText(const std::string& text, int size, TwsStreaming streaming);
  void SendStream(TbrzMemoryStream& stream, int size, TwsStreaming streaming);
  void SendPing(const std::string& text);
  void RecordPing();
  void SendMessage(TOpcode opCode, const uint8_t* data, size_t count, size_t cutLength, int size,
                   TwsStreaming streaming);
  void WriteFrame(TOpcode opCode, bool fin, bool rsv1, const uint8_t* payload, size_t count);
  void WriteBytes(const uint8_t* data, size_t count);
  TbrzThreadList<TbrzQueueObjectPtr>* QueueFor(TwsQueueMsgLevels level);
  void Park(TwsQueueMsgLevels level, TbrzQueueObjectPtr item);
  // Stops the reader once the connection is going away.
  void AfterDelivery();
  bool IsRFC6455() const;

  TbrzTCPConnection_Base& FOwner;
  IbrzWSConnectionHost& FHost;

  std::atomic<bool> FMasked{false};
  std::atomic<bool> FRequireMasked{false};
  std::atomic<bool> FValidateUTF8{false};
  std::atomic<TwsFragmentedMessages> FFragmentedMessages{TwsFragmentedMessages::frgOnlyBuffer};
  std::atomic<size_t> FMaxMessageSize{256u * 1024u * 1024u};
  TbrzWSMaskGenerator FMaskGenerator;
  TbrzWSExtensions FExtensions;

  // Read thread only.
  TbrzWSFrameReader FReader;
  TbrzWSHixie76Reader FHixie76Reader;
  TbrzWSHeaderReader FHeaderReader;

  mutable std::mutex FStateLock;  // guards FKey, FHandshake, FCloseReason, FQueueOptions
  std::string FKey;
  std::shared_ptr<const TbrzWSHandShakeClient> FHandshake;
  std::string FCloseReason;
  TbrzWSQueueOptions FQueueOptions;

  struct PingItem {
    std::string Text;
    int64_t Sent;
  };
  mutable std::mutex FPingLock;  // guards FPings
  std::vector<PingItem> FPings;
  std::atomic<int64_t> FFirstPing{0};
  std::atomic<int64_t> FLastPing{0};
  std::atomic<int64_t> FLastPong{0};

  TbrzThreadList<TbrzQueueObjectPtr> FQueueLevel0{TbrzThreadListType::tdlOnlyThread};
  TbrzThreadList<TbrzQueueObjectPtr> FQueueLevel1{TbrzThreadListType::tdlOnlyThread};
  TbrzThreadList<TbrzQueueObjectPtr> FQueueLevel2{TbrzThreadListType::tdlOnlyThread};
};

}  // namespace brz
