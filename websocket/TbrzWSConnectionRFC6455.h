#pragma once
// The client connection that speaks the opening handshake and RFC 6455 frames through a
// TbrzWSConnectionCore. The client component creates it for ws/wss URLs (and raw TCP alike); every
// framing hook of the transport's connection is served by the core.

#include <functional>
#include <string>
#include <vector>

#include "websocket/TbrzWSConnection.h"
#include "websocket/TbrzWSConnectionCore.h"

namespace brz {

class TbrzWSConnectionClientRFC6455 : public TbrzWSConnectionClient, private IbrzWSConnectionHost {
 public:
  TbrzWSConnectionClientRFC6455();

  TbrzWSConnectionCore& Core() { return FCore; }
  TbrzWSExtensions& Extensions() { return FCore.Extensions(); }
  void SetQueueOptions(const TbrzWSQueueOptions& value) { FCore.SetQueueOptions(value); }
  void SetMaxMessageSize(size_t value) { FCore.SetMaxMessageSize(value); }
  std::string CloseReason() const { return FCore.CloseReason(); }
  void FlushQueues() { FCore.FlushQueues(); }

  // The outgoing request lines, before they are written; a handler may change them.
  std::function<void(const TbrzConnectionPtr&, std::vector<std::string>&)> OnHandshake;

  void SendHandshakeRequest() override;
  void Ping(const std::string& aText) override;
  void Close(int aCloseCode = 1000) override;

 protected:
  void ReadHandshake() override;
  void ResetReadState() override { FCore.ResetReadState(); }
  void ReadWebSocketStep() override;
  void WriteFrameText(const std::string& text, int size, TwsStreaming streaming) override;
  void WriteFrameStream(TbrzMemoryStream& stream, int size, TwsStreaming streaming) override;
  void WriteFramePing(const std::string& text) override { FCore.WriteFramePing(text); }
  bool ParkPing(const std::string& text) override { return FCore.ParkPing(text); }
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
  // The connection's policies as the component set them.
  void SyncSettings();

  TbrzWSConnectionCore FCore;
};

}  // namespace brz
