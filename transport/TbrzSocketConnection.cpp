#include "transport/TbrzSocketConnection.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "common/Guid.h"
#include "transport/TbrzSocketErrors.h"
#include "transport/TbrzWSException.h"
#include "transport/TransportMessages.h"

namespace brz {

TbrzSocketConnection_Base::TbrzSocketConnection_Base() = default;
TbrzSocketConnection_Base::~TbrzSocketConnection_Base() = default;

void TbrzSocketConnection_Base::EnterCS() { FCS.Acquire(); }
void TbrzSocketConnection_Base::EnterCS(int index) { CS(index).Acquire(); }
void TbrzSocketConnection_Base::LeaveCS() { FCS.Release(); }
void TbrzSocketConnection_Base::LeaveCS(int index) { CS(index).Release(); }

std::string TbrzSocketConnection_Base::GetGuid() {
  std::lock_guard<std::mutex> guard(FCacheLock);
  if (FGuid.empty()) FGuid = NewGuidText();
  return FGuid;
}

void TbrzSocketConnection_Base::SetDisconnected(bool value) { FDisconnected = value; }

std::shared_ptr<const Exception> TbrzSocketConnection_Base::RawException() const {
  std::lock_guard<std::mutex> guard(FCacheLock);
  return FRawException;
}

void TbrzSocketConnection_Base::SetRawException(std::shared_ptr<const Exception> e) {
  std::lock_guard<std::mutex> guard(FCacheLock);
  FRawException = std::move(e);
}

std::string GetGuid(const TbrzConnectionPtr& connection) { return connection ? connection->GetGuid() : std::string(); }

TbrzTCPConnection_Base::TbrzTCPConnection_Base() = default;
TbrzTCPConnection_Base::~TbrzTCPConnection_Base() = default;

void TbrzTCPConnection_Base::AttachSocket(std::shared_ptr<TbrzSocket> socket) {
  {
    std::lock_guard<std::mutex> guard(FSocketLock);
    FSocket = socket;
  }
  if (!socket) return;
  // Cached at once, so the peer stays known after the socket closes.
  std::string ip = socket->PeerIP();
  int port = socket->PeerPort();
  std::lock_guard<std::mutex> guard(FCacheLock);
  FIP = ip;
  FPort = port;
}

std::shared_ptr<TbrzSocket> TbrzTCPConnection_Base::Socket() const {
  std::lock_guard<std::mutex> guard(FSocketLock);
  return FSocket;
}

bool TbrzTCPConnection_Base::GetActive() const {
  auto s = Socket();
  return s && s->Connected();
}

std::string TbrzTCPConnection_Base::GetIP() {
  {
    std::lock_guard<std::mutex> guard(FCacheLock);
    if (!FIP.empty()) return FIP;
  }
  auto s = Socket();
  if (!s) return {};
  std::string ip = s->PeerIP();
  std::lock_guard<std::mutex> guard(FCacheLock);
  FIP = ip;
  return FIP;
}

int TbrzTCPConnection_Base::GetPort() {
  {
    std::lock_guard<std::mutex> guard(FCacheLock);
    if (FPort != 0) return FPort;
  }
  auto s = Socket();
  if (!s) return 0;
  int port = s->PeerPort();
  std::lock_guard<std::mutex> guard(FCacheLock);
  FPort = port;
  return FPort;
}

std::string TbrzTCPConnection_Base::GetLocalIP() {
  {
    std::lock_guard<std::mutex> guard(FCacheLock);
    if (!FLocalIP.empty()) return FLocalIP;
  }
  auto s = Socket();
  if (!s) return {};
  std::string ip = s->LocalIP();
  std::lock_guard<std::mutex> guard(FCacheLock);
  FLocalIP = ip;
  return FLocalIP;
}

int TbrzTCPConnection_Base::GetLocalPort() {
  {
    std::lock_guard<std::mutex> guard(FCacheLock);
    if (FLocalPort != 0) return FLocalPort;
  }
  auto s = Socket();
  if (!s) return 0;
  int port = s->LocalPort();
  std::lock_guard<std::mutex> guard(FCacheLock);
  FLocalPort = port;
  return FLocalPort;
}

TwsIPVersion TbrzTCPConnection_Base::GetIPVersion() {
  {
    std::lock_guard<std::mutex> guard(FCacheLock);
    if (FIPVersionKnown) return FIPVersion;
  }
  auto s = Socket();
  if (!s || !s->Connected()) return TwsIPVersion::ipV4;
  TwsIPVersion v = s->Family();
  std::lock_guard<std::mutex> guard(FCacheLock);
  FIPVersion = v;
  FIPVersionKnown = true;
  return v;
}

std::string TbrzTCPConnection_Base::MsgReceived() const {
  std::lock_guard<std::mutex> guard(FMsgLock);
  return FMsgReceived;
}
void TbrzTCPConnection_Base::SetMsgReceived(const std::string& text) {
  std::lock_guard<std::mutex> guard(FMsgLock);
  FMsgReceived = text;
  ++FMsgReceivedCount;
}
std::string TbrzTCPConnection_Base::Pong() const {
  std::lock_guard<std::mutex> guard(FMsgLock);
  return FPong;
}
void TbrzTCPConnection_Base::SetPong(const std::string& text) {
  std::lock_guard<std::mutex> guard(FMsgLock);
  FPong = text;
}
TbrzMemoryStream TbrzTCPConnection_Base::GetMsgBinaryReceived() const {
  std::lock_guard<std::mutex> guard(FMsgLock);
  return FMsgBinaryReceived ? *FMsgBinaryReceived : TbrzMemoryStream();
}
void TbrzTCPConnection_Base::SetMsgBinaryReceived(const TbrzMemoryStream& data) {
  std::lock_guard<std::mutex> guard(FMsgLock);
  if (!FMsgBinaryReceived) FMsgBinaryReceived = std::make_unique<TbrzMemoryStream>();
  FMsgBinaryReceived->LoadFromBytes(data.Bytes());
}
std::string TbrzTCPConnection_Base::MsgException() const {
  std::lock_guard<std::mutex> guard(FMsgLock);
  return FMsgException;
}
void TbrzTCPConnection_Base::SetMsgException(const std::string& text) {
  std::lock_guard<std::mutex> guard(FMsgLock);
  FMsgException = text;
}
std::string TbrzTCPConnection_Base::MsgError() const {
  std::lock_guard<std::mutex> guard(FMsgLock);
  return FMsgError;
}
void TbrzTCPConnection_Base::SetMsgError(const std::string& text) {
  std::lock_guard<std::mutex> guard(FMsgLock);
  FMsgError = text;
}
std::string TbrzTCPConnection_Base::Protocol() const {
  std::lock_guard<std::mutex> guard(FMsgLock);
  return FProtocol;
}
void TbrzTCPConnection_Base::SetProtocol(const std::string& value) {
  std::lock_guard<std::mutex> guard(FMsgLock);
  FProtocol = value;
}

void TbrzTCPConnection_Base::SetDisconnected(bool value) {
  // Parked messages of a closing connection are never sent.
  if (value && !FDisconnected.load()) ClearOutboundQueues();
  TbrzSocketConnection_Base::SetDisconnected(value);
}

void TbrzTCPConnection_Base::ReadHandshake() { throw TbrzWSException(msg::kNoHandshakeReader); }

void TbrzTCPConnection_Base::ReadWebSocketStep() { throw TbrzWSException(msg::kNoWebSocketReader); }

void TbrzTCPConnection_Base::WriteFrameText(const std::string&, int, TwsStreaming) {
  throw TbrzWSException(msg::kNoWebSocketWriter);
}

void TbrzTCPConnection_Base::WriteFrameStream(TbrzMemoryStream&, int, TwsStreaming) {
  throw TbrzWSException(msg::kNoWebSocketWriter);
}

void TbrzTCPConnection_Base::WriteFramePing(const std::string&) { throw TbrzWSException(msg::kNoWebSocketWriter); }

void TbrzTCPConnection_Base::Ping(const std::string& aText) {
  if (ParkPing(aText)) return;
  if (!Enabled()) return;
  if (Transport() == TwsTransport::trpTCP) {
    WriteRawText(aText);
  } else {
    WriteFramePing(aText);
  }
}

std::string TbrzTCPConnection_Base::WriteAndWaitData(const std::string& aText, int aTimeOut) {
  const uint64_t before = MsgReceivedCount();
  WriteData(aText);
  if (aTimeOut <= 0) return {};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(aTimeOut);
  while (std::chrono::steady_clock::now() < deadline) {
    if (MsgReceivedCount() != before) return MsgReceived();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return {};
}

void TbrzTCPConnection_Base::ReadData() {
  if (!Enabled()) {
    ReadHandshake();
    ResetReadState();
    return;
  }
  for (;;) {
    auto s = Socket();
    if (!s || s->BufferedCount() == 0 || Disconnected() || MustDisconnect()) break;
    switch (Transport()) {
      case TwsTransport::trpTCP: ReadTCP(); break;
      // The HTTP/2 transport has no reader here: refuse it rather than spin on unread bytes.
      case TwsTransport::trpRFC8441: throw TbrzWSException(msg::kTransportNotSupported);
      default: ReadWebSocketStep(); break;
    }
    s = Socket();
    if (s && s->BufferedCount() == 0 && !Disconnected() && !MustDisconnect()) s->WaitForData(ReadTimeOut());
  }
}

void TbrzTCPConnection_Base::DeliverBinary(TbrzMemoryStream& stream) {
  stream.SetPosition(0);
  if (OnBinary) OnBinary(Self(), stream);
}

void TbrzTCPConnection_Base::ReadTCP() {
  // Each pass reads what is buffered now; eofScanAllBytes passes again while complete messages
  // remain, so every message of one read is delivered in order.
  for (;;) {
    auto s = Socket();
    if (!s) return;
    size_t n = s->BufferedCount();
    TBytes chunk = s->ReadBuffered(n);
    FRecBytes += static_cast<int64_t>(chunk.size());
    n = chunk.size();
    const TtcpEOFScanBuffer mode = FTCPEndOfFrameScanBuffer;
    if (mode == TtcpEOFScanBuffer::eofScanAllBytes) {
      FTCPReadBuffer.insert(FTCPReadBuffer.end(), chunk.begin(), chunk.end());
      n = FTCPReadBuffer.size();
    } else {
      if (!FTCPStream) FTCPStream = std::make_unique<TbrzMemoryStream>();
      FTCPStream->Write(chunk);
    }
    const size_t m = FTCPEndOfFrame.size();

    if (mode == TtcpEOFScanBuffer::eofScanNone) {
      std::unique_ptr<TbrzMemoryStream> message = std::move(FTCPStream);
      DeliverBinary(*message);
      return;
    }
    if (mode == TtcpEOFScanBuffer::eofScanLatestBytes) {
      if (m > 0 && n >= m && std::equal(FTCPEndOfFrame.begin(), FTCPEndOfFrame.end(), chunk.end() - static_cast<std::ptrdiff_t>(m))) {
        std::unique_ptr<TbrzMemoryStream> message = std::move(FTCPStream);
        DeliverBinary(*message);
      }
      return;
    }
    // eofScanAllBytes. An empty marker never matches (it would match everywhere, delivering empty
    // messages without end).
    if (m == 0 || n < m) return;
    auto found = std::search(FTCPReadBuffer.begin(), FTCPReadBuffer.end(), FTCPEndOfFrame.begin(), FTCPEndOfFrame.end());
    if (found == FTCPReadBuffer.end()) return;
    const size_t end = static_cast<size_t>(found - FTCPReadBuffer.begin()) + m;
    TbrzMemoryStream message;
    message.Write(FTCPReadBuffer.data(), end);
    TBytes remainder(FTCPReadBuffer.begin() + static_cast<std::ptrdiff_t>(end), FTCPReadBuffer.end());
    FTCPReadBuffer.clear();
    FTCPStream.reset();
    DeliverBinary(message);
    if (remainder.empty()) return;
    FTCPReadBuffer = std::move(remainder);
  }
}

void TbrzTCPConnection_Base::WriteRawText(const std::string& text) {
  auto s = Socket();
  if (!s) return;
  TbrzLock guard(FCS);
  s->BeginWriteBatch();
  try {
    // Text is UTF-8 already; no byte-order mark, length or delimiter is added.
    s->WriteBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    FSendBytes += static_cast<int64_t>(text.size());
    s->FlushWriteBatch();
  } catch (...) {
    s->EndWriteBatch();
    throw;
  }
  s->EndWriteBatch();
}

void TbrzTCPConnection_Base::WriteRawStream(TbrzMemoryStream& stream) {
  auto s = Socket();
  if (!s) return;
  TbrzLock guard(FCS);
  stream.SetPosition(0);
  s->BeginWriteBatch();
  try {
    TBytes bytes = stream.ReadBytes(stream.Size());
    s->WriteBytes(bytes);
    FSendBytes += static_cast<int64_t>(bytes.size());
    s->FlushWriteBatch();
  } catch (...) {
    s->EndWriteBatch();
    throw;
  }
  s->EndWriteBatch();
}

void TbrzTCPConnection_Base::WriteData(const std::string& text, int size, TwsStreaming streaming) {
  if (ParkText(text, size, streaming)) return;
  if (!Enabled()) return;
  if (Transport() == TwsTransport::trpTCP) {
    WriteRawText(text);
  } else {
    WriteFrameText(text, size, streaming);
  }
}

void TbrzTCPConnection_Base::WriteData(TbrzMemoryStream& stream, int size, TwsStreaming streaming) {
  if (ParkStream(stream, size, streaming)) return;
  if (!Enabled()) return;
  if (Transport() == TwsTransport::trpTCP) {
    WriteRawStream(stream);
  } else {
    WriteFrameStream(stream, size, streaming);
  }
}

void TbrzTCPConnection_Base::Close(int aCloseCode) {
  SetDisconnected(true);
  Disconnect(std::string(), aCloseCode);
}

void TbrzTCPConnection_Base::Disconnect(int aCloseCode) {
  SetDisconnected(true);
  Disconnect(std::string(), aCloseCode);
}

void TbrzTCPConnection_Base::Disconnect(const std::string& aMessage, int aCloseCode) {
  if (FDoDisconnect.load()) return;
  if (!Disconnected() && !Socket()) return;
  if (FDoDisconnect.exchange(true)) return;
  RunBeforeDisconnect();
  SetDisconnected(true);
  if (CleanDisconnect()) {
    if (Transport() == TwsTransport::trpTCP) {
      if (auto s = Socket()) s->ClearBuffered();
    } else {
      try {
        SendCloseFrame(aCloseCode);
      } catch (const std::exception&) {
        // A close frame is a courtesy; the socket is dropped next whatever happened.
      }
    }
  }
  try {
    DisconnectPeer(false);
  } catch (const ESocketSilentError&) {
    if (RaiseDisconnectExceptions()) throw;
  }
  if (!aMessage.empty() && RaiseDisconnectExceptions()) throw TbrzWSException(aMessage);
}

void TbrzTCPConnection_Base::DisconnectPeer(bool aCallOnDisconnectIfClosed) {
  auto s = Socket();
  if (!s) return;
  SetDisconnected(true);
  ClearOutboundQueues();
  const bool wasOpen = s->HandleAllocated();
  s->CloseSocket();
  s->ClearBuffered();
  if (wasOpen || aCallOnDisconnectIfClosed) s->NotifyDisconnected();
}

void TbrzTCPConnection_Base::DropConnection() {
  if (!FDoDisconnect.load() && !Disconnected()) {
    FDoDisconnect = true;
    SetDisconnected(true);
    DisconnectPeer(true);
  } else {
    SetDisconnected(true);
  }
}

}  // namespace brz
