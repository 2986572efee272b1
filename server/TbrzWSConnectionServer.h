#pragma once
// A connection accepted by the server: classification state, the parsed upgrade request, the server
// side of the opening handshake, channel subscriptions, and RFC 6455 / Hixie-76 framing through a
// TbrzWSConnectionCore (server frames unmasked, operator frames must be masked).
//
// Thread-safety: classification, the handshake and reading run on the connection's context thread;
// writes, pings and subscriptions may come from any thread (frames are written under the main lock).

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "server/TbrzWSHandShakeServer.h"
#include "transport/TbrzIOHandler.h"
#include "transport/TbrzWSException.h"
#include "websocket/TbrzWSConnection.h"
#include "websocket/TbrzWSConnectionCore.h"

namespace brz {

// A TLS peer that stalls before sending a request: ends its context.
class TbrzWSStartSSLError : public TbrzWSException {
 public:
  using TbrzWSException::TbrzWSException;
};

// Wraps the socket's handler so bytes taken out for classification can be handed back: they are
// read again, in order, before anything new from the wire.
class TbrzReplayIOHandler : public TbrzIOHandler {
 public:
  explicit TbrzReplayIOHandler(std::shared_ptr<TbrzIOHandler> inner) : FInner(std::move(inner)) {}
  void Unread(const TBytes& bytes);
  void Connect(int fd, const std::string& host, int timeoutMs) override { FInner->Connect(fd, host, timeoutMs); }
  ssize_t Read(void* buffer, size_t size) override;
  void Write(const void* buffer, size_t size) override { FInner->Write(buffer, size); }
  void Close() override { FInner->Close(); }
  bool Readable(int ms) override;
  size_t Pending() override;
  bool Opened() const override { return FInner->Opened(); }

 private:
  std::shared_ptr<TbrzIOHandler> FInner;
  std::mutex FReplayLock;  // guards FReplay
  TBytes FReplay;
};

class TbrzWSConnectionServer : public TbrzWSConnection_Socket, private IbrzWSConnectionHost {
 public:
  // Bound on one received message of an operator.
  static constexpr size_t kMaxMessageSize = 16u * 1024u * 1024u;

  TbrzWSConnectionServer();

  TbrzWSConnectionCore& Core() { return FCore; }
  TbrzWSExtensions& Extensions() { return FCore.Extensions(); }
  void SetQueueOptions(const TbrzWSQueueOptions& value) { FCore.SetQueueOptions(value); }
  void FlushQueues() { FCore.FlushQueues(); }
  int64_t LastPong() const { return FCore.LastPong(); }

  // Settings copied from the server at accept time.
  bool ServerSSL() const { return FServerSSL.load(); }
  void SetServerSSL(bool value) { FServerSSL = value; }
  std::string ServerOriginsAllowed() const;
  void SetServerOriginsAllowed(const std::string& value);
  void SetIPVersion(TwsIPVersion value);
  bool CustomHeartBeat() const { return FCustomHeartBeat.load(); }
  void SetCustomHeartBeat(bool value) { FCustomHeartBeat = value; }
  int AuthenticationCloseCode() const { return FAuthenticationCloseCode.load(); }
  void SetAuthenticationCloseCode(int value) { FAuthenticationCloseCode = value; }

  // Classification state (context thread only).
  int FReadCount = 0;
  int FReadStartSSLCount = 0;
  int64_t FAcceptedAt = 0;  // monotonic ms
  // Wall-clock ms (the clock of LastPong) at which the connection became enabled; 0 before.
  int64_t EnabledAt() const { return FEnabledAt.load(); }

  // The upgrade request found by classification: its lines and the bytes after its empty line.
  void SetRequest(std::vector<std::string> lines, TBytes rest);
  // The parsed request (after the handshake).
  const TbrzWSHandShakeServer& Handshake() const { return FHandshake; }
  // The request path of the GET (else POST) request line, trimmed; cached.
  std::string GetURL();

  // Channels this connection subscribed to.
  void Subscribe(const std::string& channel);
  void UnSubscribe(const std::string& channel);
  bool Subscribed(const std::string& channel) const;
  std::vector<std::string> Channels() const;

  // Runs the server handshake on the stored request and writes the response; then enables.
  void DoHandshake();
  // Marks the connection enabled and calls the update handler.
  void Enable();

  // Set by the server before the connection is used.
  std::function<void(const TbrzConnectionPtr&)> OnUpdate;
  std::function<void(const TbrzConnectionPtr&, std::vector<std::string>&)> OnHandshake;
  std::function<void(const TbrzConnectionPtr&, const std::string& channel, bool subscribed)> OnSubscription;

  // Appended to every text written to a raw TCP peer (empty: the text goes as given), so a peer
  // that reads a byte stream can tell one message from the next.
  std::string TextTerminator() const;
  void SetTextTerminator(const std::string& value);
  using TbrzWSConnection_Socket::WriteData;
  void WriteData(const std::string& text, int size = 0, TwsStreaming streaming = TwsStreaming::stmNone) override;

  void Ping(const std::string& aText) override { FCore.Ping(aText); }
  void Close(int aCloseCode = 1000) override;

 protected:
  void ReadHandshake() override { DoHandshake(); }
  void ResetReadState() override { FCore.ResetReadState(); }
  void ReadWebSocketStep() override;
  void WriteFrameText(const std::string& text, int size, TwsStreaming streaming) override;
  void WriteFrameStream(TbrzMemoryStream& stream, int size, TwsStreaming streaming) override;
  bool ParkText(const std::string& text, int size, TwsStreaming streaming) override {
    return FCore.ParkText(text, size, streaming);
  }
  bool ParkStream(TbrzMemoryStream& stream, int size, TwsStreaming streaming) override {
    return FCore.ParkStream(stream, size, streaming);
  }
  void ClearOutboundQueues() override { FCore.ClearQueues(); }
  void SendCloseFrame(int aCloseCode) override { FCore.SendCloseFrame(aCloseCode); }

 private:
  void AddReceivedBytes(int64_t count) override { FRecBytes += count; }
  void AddSentBytes(int64_t count) override { FSendBytes += count; }
  void SyncSettings();
  void WriteResponse(const std::vector<std::string>& lines, const TBytes& answer);

  TbrzWSConnectionCore FCore;
  std::atomic<bool> FServerSSL{false};
  std::atomic<bool> FCustomHeartBeat{false};
  std::atomic<int> FAuthenticationCloseCode{1000};
  std::atomic<int64_t> FEnabledAt{0};

  mutable std::mutex FServerLock;  // guards FServerOriginsAllowed, FURL, FChannels, FTextTerminator
  std::string FTextTerminator;
  std::string FServerOriginsAllowed;
  std::string FURL;
  bool FURLKnown = false;
  std::set<std::string> FChannels;

  // Context thread only.
  std::vector<std::string> FRequest;
  TBytes FRequestRest;
  TbrzWSHandShakeServer FHandshake;
};

using TbrzWSConnectionServerPtr = std::shared_ptr<TbrzWSConnectionServer>;

}  // namespace brz
