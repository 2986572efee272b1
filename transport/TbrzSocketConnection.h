#pragma once
// Transport-level connection objects: identity, cached addresses, counters and locks
// (TbrzSocketConnection_Base), then the TCP connection with the read loop, the raw TCP mode and the
// disconnect procedure (TbrzTCPConnection_Base). The WebSocket layer derives from the latter and
// fills the framing hooks.
//
// Connections are shared (std::shared_ptr): every thread that works on one holds a copy. Flags read
// by other threads without a lock are atomics; the main lock serialises writers, indexed lock
// kCSSubscriptions guards per-connection lists (subscriptions, the MQTT QoS list).

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "common/Bytes.h"
#include "common/Exception.h"
#include "common/TbrzCriticalSection.h"
#include "common/TbrzMemoryStream.h"
#include "transport/TbrzSocket.h"
#include "transport/TbrzTransportTypes.h"

namespace brz {

class TbrzSocketConnection_Base : public std::enable_shared_from_this<TbrzSocketConnection_Base> {
 public:
  static constexpr int kCSCount = 6;
  // Indexed lock guarding per-connection lists.
  static constexpr int kCSSubscriptions = 0;

  TbrzSocketConnection_Base();
  virtual ~TbrzSocketConnection_Base();
  TbrzSocketConnection_Base(const TbrzSocketConnection_Base&) = delete;
  TbrzSocketConnection_Base& operator=(const TbrzSocketConnection_Base&) = delete;

  virtual void EnterCS();
  virtual void EnterCS(int index);
  virtual void LeaveCS();
  virtual void LeaveCS(int index);
  // RAII access: TbrzLock guard(connection->CS());
  TbrzCriticalSection& CS() { return FCS; }
  TbrzCriticalSection& CS(int index) { return FCSArray.at(static_cast<size_t>(index)); }

  virtual bool GetActive() const = 0;
  // 32 upper-case hexadecimal digits, generated on first call and kept.
  virtual std::string GetGuid();
  virtual std::string GetIP() = 0;
  virtual std::string GetLocalIP() = 0;
  virtual int GetLocalPort() = 0;
  virtual int GetPort() = 0;
  virtual TwsIPVersion GetIPVersion() = 0;

  bool IsInternal() const { return FIsInternal.load(); }
  void SetIsInternal(bool value) { FIsInternal = value; }
  TwsTransport Transport() const { return FTransport.load(); }
  void SetTransport(TwsTransport value) { FTransport = value; }
  bool Disconnected() const { return FDisconnected.load(); }
  virtual void SetDisconnected(bool value);
  int64_t RecBytes() const { return FRecBytes.load(); }
  int64_t SendBytes() const { return FSendBytes.load(); }
  bool Freed() const { return FFreed.load(); }
  // Marks the object as going; its owner releases its reference next.
  void Free() { FFreed = true; }

  // The exception being reported for this connection (a copy owned here).
  std::shared_ptr<const Exception> RawException() const;
  void SetRawException(std::shared_ptr<const Exception> e);

  // Free slot for the owner's data; not owned.
  void* Data() const { return FData.load(); }
  void SetData(void* value) { FData = value; }

 protected:
  TbrzCriticalSection FCS;
  std::array<TbrzCriticalSection, kCSCount> FCSArray;
  std::atomic<bool> FIsInternal{false};
  std::atomic<int64_t> FRecBytes{0};
  std::atomic<int64_t> FSendBytes{0};
  std::atomic<TwsTransport> FTransport{TwsTransport::trpUndefined};
  std::atomic<bool> FDisconnected{false};
  std::atomic<bool> FFreed{false};
  std::atomic<void*> FData{nullptr};

  mutable std::mutex FCacheLock;  // guards the identity and address caches and FRawException
  std::string FGuid;
  std::string FIP;
  std::string FLocalIP;
  int FLocalPort = 0;
  int FPort = 0;
  TwsIPVersion FIPVersion = TwsIPVersion::ipV4;
  bool FIPVersionKnown = false;
  std::shared_ptr<const Exception> FRawException;
};
using TbrzSocketConnection = TbrzSocketConnection_Base;

class TbrzTCPConnection_Base;
using TbrzConnectionPtr = std::shared_ptr<TbrzTCPConnection_Base>;

// The GUID of a connection; empty for none.
std::string GetGuid(const TbrzConnectionPtr& connection);

class TbrzTCPConnection_Base : public TbrzSocketConnection_Base {
 public:
  using TextHandler = std::function<void(const TbrzConnectionPtr&, const std::string&)>;
  using BinaryHandler = std::function<void(const TbrzConnectionPtr&, TbrzMemoryStream&)>;
  using FragmentHandler = std::function<void(const TbrzConnectionPtr&, TbrzMemoryStream&, TOpcode, bool)>;

  TbrzTCPConnection_Base();
  ~TbrzTCPConnection_Base() override;

  TbrzConnectionPtr Self() { return std::static_pointer_cast<TbrzTCPConnection_Base>(shared_from_this()); }

  // Socket binding. The socket is shared with its client or server, which closes it.
  void AttachSocket(std::shared_ptr<TbrzSocket> socket);
  std::shared_ptr<TbrzSocket> Socket() const;

  bool GetActive() const override;
  std::string GetIP() override;
  std::string GetLocalIP() override;
  int GetLocalPort() override;
  int GetPort() override;
  TwsIPVersion GetIPVersion() override;

  // Last delivered messages and reported exception text, read by the components.
  std::string MsgReceived() const;
  void SetMsgReceived(const std::string& text);
  // Copy of the last binary message handed to the component.
  TbrzMemoryStream GetMsgBinaryReceived() const;
  void SetMsgBinaryReceived(const TbrzMemoryStream& data);
  std::string MsgException() const;
  void SetMsgException(const std::string& text);
  // Last error text reported for the connection.
  std::string MsgError() const;
  void SetMsgError(const std::string& text);

  bool MustDisconnect() const { return FMustDisconnect.load(); }
  void SetMustDisconnect(bool value) { FMustDisconnect = value; }
  bool DoDisconnect() const { return FDoDisconnect.load(); }

  // Raw TCP message cutting; set before reading starts (read on the reading thread only).
  TtcpEOFScanBuffer TCPEndOfFrameScanBuffer() const { return FTCPEndOfFrameScanBuffer; }
  void SetTCPEndOfFrameScanBuffer(TtcpEOFScanBuffer value) { FTCPEndOfFrameScanBuffer = value; }
  void AddTCPEndOfFrame(uint8_t aByte) { FTCPEndOfFrame.push_back(aByte); }
  void ClearTCPEndOfFrame() { FTCPEndOfFrame.clear(); }
  const TBytes& TCPEndOfFrame() const { return FTCPEndOfFrame; }

  // Handshake completed (raw TCP: enabled when connected or classified).
  bool Enabled() const { return FEnabled.load(); }
  void SetEnabled(bool value) { FEnabled = value; }
  int ReadTimeOut() const { return FReadTimeOut.load(); }
  void SetReadTimeOut(int ms) { FReadTimeOut = ms; }
  TwsSpecification Specification() const { return FSpecification.load(); }
  void SetSpecification(TwsSpecification value) { FSpecification = value; }
  std::string Protocol() const;
  void SetProtocol(const std::string& value);

  // Policies copied from the owner's options.
  bool CleanDisconnect() const { return FCleanDisconnect.load(); }
  void SetCleanDisconnect(bool value) { FCleanDisconnect = value; }
  bool RaiseDisconnectExceptions() const { return FRaiseDisconnectExceptions.load(); }
  void SetRaiseDisconnectExceptions(bool value) { FRaiseDisconnectExceptions = value; }
  // Close code last received from the peer (0: none).
  int CloseCode() const { return FCloseCode.load(); }
  void SetCloseCode(int value) { FCloseCode = value; }

  // Whether the component raises connect / disconnect events for this connection.
  bool NotifyConnection() const { return FNotifyConnection.load(); }
  void SetNotifyConnection(bool value) { FNotifyConnection = value; }
  bool NotifyDisconnection() const { return FNotifyDisconnection.load(); }
  void SetNotifyDisconnection(bool value) { FNotifyDisconnection = value; }
  // Number of text messages handed to the component so far (SetMsgReceived counts).
  uint64_t MsgReceivedCount() const { return FMsgReceivedCount.load(); }
  // Text of the last pong that matched a sent ping.
  std::string Pong() const;
  void SetPong(const std::string& text);

  // Delivery hooks set by the owning component; called on the reading thread.
  TextHandler OnMessage;
  BinaryHandler OnBinary;
  FragmentHandler OnFragmented;

  // The read loop: drains what is buffered (and what arrives within ReadTimeOut).
  void ReadData();

  // Send one message: raw bytes for trpTCP, frames for WebSocket transports. Dropped while the
  // connection is not enabled.
  virtual void WriteData(const std::string& text, int size = 0, TwsStreaming streaming = TwsStreaming::stmNone);
  virtual void WriteData(TbrzMemoryStream& stream, int size = 0, TwsStreaming streaming = TwsStreaming::stmNone);

  // Sends a ping: the raw text for trpTCP, a ping frame otherwise.
  virtual void Ping(const std::string& aText);
  // Sends text, then waits up to aTimeOut ms (1 ms polls) for the next text message; empty on
  // time-out. Not for the reading thread (it would wait for itself).
  std::string WriteAndWaitData(const std::string& aText, int aTimeOut);

  // End the connection (code 1000 when none is given).
  virtual void Close(int aCloseCode = 1000);
  virtual void Disconnect(int aCloseCode = 1000);
  // Disconnect with a reason: raised afterwards as TbrzWSException when RaiseDisconnectExceptions.
  virtual void Disconnect(const std::string& aMessage, int aCloseCode);
  // Closes the socket; announces the disconnect when the socket was already closed only if asked.
  virtual void DisconnectPeer(bool aCallOnDisconnectIfClosed);
  // Called by the components after reporting an error on the connection.
  virtual void DropConnection();

  void SetDisconnected(bool value) override;

 protected:
  // Hooks of the WebSocket layer. The defaults serve a raw connection and refuse framing.
  virtual void ReadHandshake();
  virtual void ResetReadState() {}
  virtual void ReadWebSocketStep();
  virtual void WriteFrameText(const std::string& text, int size, TwsStreaming streaming);
  virtual void WriteFrameStream(TbrzMemoryStream& stream, int size, TwsStreaming streaming);
  virtual void WriteFramePing(const std::string& text);
  virtual bool ParkPing(const std::string& /*text*/) { return false; }
  // Outbound parking: return true when the message was parked instead of sent.
  virtual bool ParkText(const std::string& /*text*/, int /*size*/, TwsStreaming /*streaming*/) { return false; }
  virtual bool ParkStream(TbrzMemoryStream& /*stream*/, int /*size*/, TwsStreaming /*streaming*/) { return false; }
  virtual void ClearOutboundQueues() {}
  // Sent on a clean disconnect of a WebSocket transport; failures are ignored by the caller.
  virtual void SendCloseFrame(int /*aCloseCode*/) {}
  // Runs once, before the socket is dropped by the disconnect procedure.
  virtual void BeforeDisconnect() {}

 public:
  // Runs BeforeDisconnect unless it already ran for this connection.
  void RunBeforeDisconnect() {
    if (!FBeforeDisconnectDone.exchange(true)) BeforeDisconnect();
  }

 protected:

  // The raw TCP read step: consumes everything buffered.
  void ReadTCP();
  void WriteRawText(const std::string& text);
  void WriteRawStream(TbrzMemoryStream& stream);
  // Hands a message to OnBinary (the stream is positioned at 0 and reused afterwards).
  void DeliverBinary(TbrzMemoryStream& stream);

  std::atomic<bool> FMustDisconnect{false};
  std::atomic<bool> FDoDisconnect{false};
  std::atomic<bool> FEnabled{false};
  std::atomic<bool> FBeforeDisconnectDone{false};
  std::atomic<int> FReadTimeOut{10};
  std::atomic<TwsSpecification> FSpecification{TwsSpecification::spRFC6455};
  std::atomic<bool> FCleanDisconnect{true};
  std::atomic<bool> FRaiseDisconnectExceptions{true};
  std::atomic<int> FCloseCode{0};
  std::atomic<bool> FNotifyConnection{true};
  std::atomic<bool> FNotifyDisconnection{true};
  std::atomic<uint64_t> FMsgReceivedCount{0};

  TtcpEOFScanBuffer FTCPEndOfFrameScanBuffer = TtcpEOFScanBuffer::eofScanNone;
  TBytes FTCPEndOfFrame;

 private:
  mutable std::mutex FSocketLock;  // guards FSocket
  std::shared_ptr<TbrzSocket> FSocket;

  mutable std::mutex FMsgLock;  // guards the message holders and FProtocol
  std::string FMsgReceived;
  std::unique_ptr<TbrzMemoryStream> FMsgBinaryReceived;
  std::string FMsgException;
  std::string FMsgError;
  std::string FProtocol;
  std::string FPong;

  // The current raw message (reading thread only).
  TBytes FTCPReadBuffer;
  std::unique_ptr<TbrzMemoryStream> FTCPStream;
};

// A plain TCP connection; the WebSocket connections derive from it.
class TbrzTCPConnection : public TbrzTCPConnection_Base {};

}  // namespace brz
