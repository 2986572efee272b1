#pragma once
// Events of every client, server and sub-protocol component, their delivery by notification mode
// (on the detecting thread, posted to the main thread, or run there while the detector waits),
// received-message queueing, and the uniform error and exception reporting that drops the
// connection concerned.
//
// Thread-safety: Deliver…/Report… may be called from any thread. Handlers (the On… members) are
// assigned before connecting; under neNoSync they run on the detecting thread and must protect
// what they share. Pending lists and message queues carry their own locks.

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "common/Exception.h"
#include "common/TbrzMemoryStream.h"
#include "common/TbrzThreadList.h"
#include "framework/TbrzSocketComponent.h"
#include "transport/TbrzSocketConnection.h"

namespace brz {

using TbrzConnectEvent = std::function<void(const TbrzConnectionPtr& Connection)>;
using TbrzDisconnectEvent = std::function<void(const TbrzConnectionPtr& Connection, int32_t Code)>;
using TbrzMessageEvent = std::function<void(const TbrzConnectionPtr& Connection, const std::string& Text)>;
using TbrzBinaryEvent = std::function<void(const TbrzConnectionPtr& Connection, TbrzMemoryStream& Data)>;
using TbrzFragmentedEvent = std::function<void(const TbrzConnectionPtr& Connection, TbrzMemoryStream& Data,
                                               TOpcode OpCode, bool Continuation)>;
using TbrzErrorEvent = std::function<void(const TbrzConnectionPtr& Connection, const std::string& Error)>;
using TbrzExceptionEvent = std::function<void(const TbrzConnectionPtr& Connection, const Exception& E)>;

// A copy of e with the same message: socket errors and TbrzWSException keep their class, anything
// else becomes the common base. An empty message is replaced by text.
std::shared_ptr<const Exception> CopyException(const std::exception* e, const std::string& text);

// One pending notification.
struct TbrzWSNotifyObject {
  TbrzConnectionPtr FConnection;
  int32_t FInt = 0;
  std::shared_ptr<const Exception> FRawException;
  std::unique_ptr<TbrzMemoryStream> FStream;
  std::string FText;
  std::string FText1;
  TOpcode FOpCode = TOpcode::opNone;
  bool FContinuation = false;
};

class TbrzWSObjectList : public TbrzThreadList<std::shared_ptr<TbrzWSNotifyObject>> {
 public:
  TbrzWSObjectList() { SetDuplicates(TDuplicates::dupAccept); }
  void AddNotifyObject(const TbrzConnectionPtr& c, const std::string& text);
  void AddNotifyObject(const TbrzConnectionPtr& c, int32_t value);
  void AddNotifyObject(const TbrzConnectionPtr& c, const TbrzMemoryStream& stream);
  void AddNotifyObject(const TbrzConnectionPtr& c);
  void AddNotifyObject(const TbrzConnectionPtr& c, const std::string& text, const std::string& text1);
  void AddNotifyObject(const TbrzConnectionPtr& c, const TbrzMemoryStream& stream, TOpcode opCode, bool continuation);
  void AddNotifyObject(const TbrzConnectionPtr& c, const std::string& text, std::shared_ptr<const Exception> e);
  // Drops every pending object; with aFreeConnection their connections are marked freed too.
  void DeleteAll(bool aFreeConnection);
  // Removes and returns the first object, or none.
  std::shared_ptr<TbrzWSNotifyObject> First();
  void DeleteFirst();
};

class TbrzWSComponent_Base : public TbrzTCPComponent_Base {
 public:
  TbrzWSComponent_Base();
  ~TbrzWSComponent_Base() override;

  TbrzConnectEvent OnConnect;
  TbrzDisconnectEvent OnDisconnect;
  TbrzMessageEvent OnMessage;
  TbrzBinaryEvent OnBinary;
  TbrzFragmentedEvent OnFragmented;
  TbrzErrorEvent OnError;
  TbrzExceptionEvent OnException;

  virtual void ReleaseConnection(const TbrzConnectionPtr& C);
  virtual void RaiseConnectEvent(const TbrzConnectionPtr& C);
  virtual void RaiseDisconnectEvent(const TbrzConnectionPtr& C, int32_t Code);
  virtual void RaiseMessageEvent(const TbrzConnectionPtr& C, const std::string& Text);
  virtual void RaiseBinaryEvent(const TbrzConnectionPtr& C, TbrzMemoryStream& Data);
  virtual void RaiseFragmentedEvent(const TbrzConnectionPtr& C, TbrzMemoryStream& Data, TOpcode OpCode, bool Cont);
  virtual void RaiseErrorEvent(const TbrzConnectionPtr& C, const std::string& Error);
  virtual void RaiseExceptionEvent(const TbrzConnectionPtr& C, const std::string& Text, const Exception* E);

  virtual void DeliverConnect(const TbrzConnectionPtr& C);
  virtual void DeliverDisconnect(const TbrzConnectionPtr& C);
  // The text is the connection's last received message.
  virtual void DeliverMessage(const TbrzConnectionPtr& C);
  // The data is the connection's last received binary message.
  virtual void DeliverBinary(const TbrzConnectionPtr& C);
  virtual void DeliverFragmented(const TbrzConnectionPtr& C, TbrzMemoryStream& Data, TOpcode OpCode, bool Cont);
  // The text is the connection's last error text.
  virtual void DeliverError(const TbrzConnectionPtr& C);
  // The connection's last exception text and object.
  virtual void DeliverException(const TbrzConnectionPtr& C);
  virtual void DeliverException(const std::string& Text, const std::exception* E);

  // Raises OnException (stored on the connection), then drops the connection. Never raises.
  virtual void ReportException(const TbrzConnectionPtr& C, const std::string& Text, const std::exception* E);
  // Raises OnError (stored on the connection), then drops the connection. Never raises.
  void ReportError(const TbrzConnectionPtr& C, const std::string& Text);

  bool QueueMessages() const { return FQueueMessages.load(); }
  // Setting false delivers what was held: texts first, then binaries, then fragments.
  virtual void SetQueueMessages(bool value);
  virtual void ProcessQueue();
  virtual void QueueClear();

  void SetNotifyEvents(TwsNotifyEvent value) override { TbrzTCPComponent_Base::SetNotifyEvents(value); }

 protected:
  enum TNotifyKind : int { nkConnect, nkDisconnect, nkMessage, nkBinary, nkFragmented, nkError, nkException, nkCount };

  // Runs the pending list of one kind on the main thread (neAsynchronous / neSynchronous).
  void Drain(TNotifyKind kind);
  // Hands the drain of one kind to the main thread by the notification mode.
  void PostDrain(TNotifyKind kind);
  TbrzWSObjectList& NotifyList(TNotifyKind kind);

  std::atomic<bool> FQueueMessages{false};
  std::atomic<bool> FQueueProcessing{false};
  TbrzWSObjectList FQueueMessage;
  TbrzWSObjectList FQueueBinary;
  TbrzWSObjectList FQueueFragmented;

 private:
  std::mutex FNotifyListsLock;  // guards creation of the pending lists
  std::array<std::unique_ptr<TbrzWSObjectList>, nkCount> FNotify;
  std::array<bool, nkCount> FAsync{};  // re-entrancy flags, guarded by their list's lock
  // Posted drains hold a weak reference: a component that is gone is never reached.
  std::shared_ptr<TbrzWSComponent_Base*> FAlive;
};

}  // namespace brz
