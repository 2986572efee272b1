#include "framework/TbrzWSComponent_Base.h"

#include "common/MainThread.h"
#include "common/Memory.h"
#include "framework/FrameworkMessages.h"
#include "transport/TbrzSocketErrors.h"
#include "transport/TbrzWSException.h"

namespace brz {

std::shared_ptr<const Exception> CopyException(const std::exception* e, const std::string& text) {
  std::string message = e ? e->what() : std::string();
  if (message.empty()) message = text.empty() ? msg::kUnknownException : text;
  if (e) {
    if (dynamic_cast<const EConnClosedGracefully*>(e)) return std::make_shared<EConnClosedGracefully>(message);
    if (dynamic_cast<const ESocketClosed*>(e)) return std::make_shared<ESocketClosed>(message);
    if (dynamic_cast<const ESocketSilentError*>(e)) return std::make_shared<ESocketSilentError>(message);
    if (dynamic_cast<const EConnectTimeout*>(e)) return std::make_shared<EConnectTimeout>(message);
    if (dynamic_cast<const EHostNotFound*>(e)) return std::make_shared<EHostNotFound>(message);
    if (dynamic_cast<const EProxyError*>(e)) return std::make_shared<EProxyError>(message);
    if (auto* s = dynamic_cast<const ESocketError*>(e)) return std::make_shared<ESocketError>(message, s->ErrorCode());
    if (dynamic_cast<const TbrzWSException*>(e)) return std::make_shared<TbrzWSException>(message);
    if (dynamic_cast<const EConvertError*>(e)) return std::make_shared<EConvertError>(message);
  }
  return std::make_shared<Exception>(message);
}

void TbrzWSObjectList::AddNotifyObject(const TbrzConnectionPtr& c, const std::string& text) {
  auto o = std::make_shared<TbrzWSNotifyObject>();
  o->FConnection = c;
  o->FText = text;
  Add(o);
}

void TbrzWSObjectList::AddNotifyObject(const TbrzConnectionPtr& c, int32_t value) {
  auto o = std::make_shared<TbrzWSNotifyObject>();
  o->FConnection = c;
  o->FInt = value;
  Add(o);
}

void TbrzWSObjectList::AddNotifyObject(const TbrzConnectionPtr& c, const TbrzMemoryStream& stream) {
  auto o = std::make_shared<TbrzWSNotifyObject>();
  o->FConnection = c;
  o->FStream = std::make_unique<TbrzMemoryStream>(stream.Bytes());
  Add(o);
}

void TbrzWSObjectList::AddNotifyObject(const TbrzConnectionPtr& c) {
  auto o = std::make_shared<TbrzWSNotifyObject>();
  o->FConnection = c;
  Add(o);
}

void TbrzWSObjectList::AddNotifyObject(const TbrzConnectionPtr& c, const std::string& text, const std::string& text1) {
  auto o = std::make_shared<TbrzWSNotifyObject>();
  o->FConnection = c;
  o->FText = text;
  o->FText1 = text1;
  Add(o);
}

void TbrzWSObjectList::AddNotifyObject(const TbrzConnectionPtr& c, const TbrzMemoryStream& stream, TOpcode opCode,
                                       bool continuation) {
  auto o = std::make_shared<TbrzWSNotifyObject>();
  o->FConnection = c;
  o->FStream = std::make_unique<TbrzMemoryStream>(stream.Bytes());
  o->FOpCode = opCode;
  o->FContinuation = continuation;
  Add(o);
}

void TbrzWSObjectList::AddNotifyObject(const TbrzConnectionPtr& c, const std::string& text,
                                       std::shared_ptr<const Exception> e) {
  auto o = std::make_shared<TbrzWSNotifyObject>();
  o->FConnection = c;
  o->FText = text;
  o->FRawException = std::move(e);
  Add(o);
}

void TbrzWSObjectList::DeleteAll(bool aFreeConnection) {
  TbrzLock guard(Lock());
  if (aFreeConnection) {
    for (auto& o : FList) {
      if (o->FConnection && !o->FConnection->Freed()) o->FConnection->Free();
    }
  }
  FList.clear();
}

std::shared_ptr<TbrzWSNotifyObject> TbrzWSObjectList::First() {
  TbrzLock guard(Lock());
  return FList.empty() ? nullptr : FList.front();
}

void TbrzWSObjectList::DeleteFirst() { Delete(0); }

TbrzWSComponent_Base::TbrzWSComponent_Base() : FAlive(std::make_shared<TbrzWSComponent_Base*>(this)) {}

TbrzWSComponent_Base::~TbrzWSComponent_Base() {
  MarkDestroying();
  FAlive.reset();
  std::lock_guard<std::mutex> guard(FNotifyListsLock);
  if (FNotify[nkDisconnect]) FNotify[nkDisconnect]->DeleteAll(true);
  for (auto& list : FNotify) list.reset();
  QueueClear();
}

TbrzWSObjectList& TbrzWSComponent_Base::NotifyList(TNotifyKind kind) {
  std::lock_guard<std::mutex> guard(FNotifyListsLock);
  if (!FNotify[kind]) FNotify[kind] = std::make_unique<TbrzWSObjectList>();
  return *FNotify[kind];
}

void TbrzWSComponent_Base::ReleaseConnection(const TbrzConnectionPtr& C) {
  if (C) C->Free();
}

void TbrzWSComponent_Base::RaiseConnectEvent(const TbrzConnectionPtr& C) {
  if (OnConnect) OnConnect(C);
}

void TbrzWSComponent_Base::RaiseDisconnectEvent(const TbrzConnectionPtr& C, int32_t Code) {
  if (OnDisconnect) OnDisconnect(C, Code);
}

void TbrzWSComponent_Base::RaiseMessageEvent(const TbrzConnectionPtr& C, const std::string& Text) {
  if (!OnMessage) return;
  if (QueueMessages()) {
    FQueueMessage.AddNotifyObject(C, Text);
  } else {
    OnMessage(C, Text);
  }
}

void TbrzWSComponent_Base::RaiseBinaryEvent(const TbrzConnectionPtr& C, TbrzMemoryStream& Data) {
  if (!OnBinary) return;
  if (QueueMessages()) {
    FQueueBinary.AddNotifyObject(C, Data);
  } else {
    OnBinary(C, Data);
  }
}

void TbrzWSComponent_Base::RaiseFragmentedEvent(const TbrzConnectionPtr& C, TbrzMemoryStream& Data, TOpcode OpCode,
                                                bool Cont) {
  if (!OnFragmented) return;
  if (QueueMessages()) {
    FQueueFragmented.AddNotifyObject(C, Data, OpCode, Cont);
  } else {
    OnFragmented(C, Data, OpCode, Cont);
  }
}

void TbrzWSComponent_Base::RaiseErrorEvent(const TbrzConnectionPtr& C, const std::string& Error) {
  if (OnError) OnError(C, Error);
}

void TbrzWSComponent_Base::RaiseExceptionEvent(const TbrzConnectionPtr& C, const std::string& Text,
                                               const Exception* E) {
  if (!OnException) return;
  if (E && !E->Message().empty()) {
    OnException(C, *E);
    return;
  }
  Exception made(Text.empty() ? msg::kUnknownException : Text);
  OnException(C, made);
}

void TbrzWSComponent_Base::PostDrain(TNotifyKind kind) {
  std::weak_ptr<TbrzWSComponent_Base*> alive = FAlive;
  auto drain = [alive, kind] {
    if (auto self = alive.lock()) (*self)->Drain(kind);
  };
  if (NotifyEvents() == TwsNotifyEvent::neAsynchronous) {
    QueueToMainThread(drain);
  } else {
    SynchronizeWithMainThread(drain, [this] { return IsDestroying(); });
  }
}

void TbrzWSComponent_Base::Drain(TNotifyKind kind) {
  if (IsDestroying()) return;
  TbrzWSObjectList* list;
  {
    std::lock_guard<std::mutex> guard(FNotifyListsLock);
    list = FNotify[kind].get();
  }
  if (!list) return;
  TbrzLock guard(list->Lock());
  if (FAsync[kind]) return;  // a drain of this list is already running further up this thread
  FAsync[kind] = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{FAsync[kind]};
  while (auto o = list->First()) {
    const TbrzConnectionPtr& c = o->FConnection;
    switch (kind) {
      case nkConnect: RaiseConnectEvent(c); break;
      case nkDisconnect:
        RaiseDisconnectEvent(c, o->FInt);
        if (c && !c->Freed()) RunQuietly([&] { ReleaseConnection(c); });
        break;
      case nkMessage: RaiseMessageEvent(c, o->FText); break;
      case nkBinary: RaiseBinaryEvent(c, *o->FStream); break;
      case nkFragmented: RaiseFragmentedEvent(c, *o->FStream, o->FOpCode, o->FContinuation); break;
      case nkError: RaiseErrorEvent(c, o->FText); break;
      case nkException: RaiseExceptionEvent(c, o->FText, o->FRawException.get()); break;
      default: break;
    }
    if (IsDestroying()) return;
    list->DeleteFirst();
  }
}

void TbrzWSComponent_Base::DeliverConnect(const TbrzConnectionPtr& C) {
  if (IsDestroying()) return;
  if (C && (C->IsInternal() || !C->NotifyConnection())) return;
  if (NotifyEvents() == TwsNotifyEvent::neNoSync) {
    RaiseConnectEvent(C);
    return;
  }
  NotifyList(nkConnect).AddNotifyObject(C);
  PostDrain(nkConnect);
}

void TbrzWSComponent_Base::DeliverDisconnect(const TbrzConnectionPtr& C) {
  if (IsDestroying()) return;
  if (C && (C->IsInternal() || !C->NotifyDisconnection())) {
    ReleaseConnection(C);
    return;
  }
  const int32_t code = C ? C->CloseCode() : 0;
  if (NotifyEvents() == TwsNotifyEvent::neNoSync) {
    RaiseDisconnectEvent(C, code);
    ReleaseConnection(C);
    return;
  }
  NotifyList(nkDisconnect).AddNotifyObject(C, code);
  PostDrain(nkDisconnect);
}

void TbrzWSComponent_Base::DeliverMessage(const TbrzConnectionPtr& C) {
  if (IsDestroying() || (C && C->IsInternal())) return;
  const std::string text = C ? C->MsgReceived() : std::string();
  if (NotifyEvents() == TwsNotifyEvent::neNoSync) {
    RaiseMessageEvent(C, text);
    return;
  }
  NotifyList(nkMessage).AddNotifyObject(C, text);
  PostDrain(nkMessage);
}

void TbrzWSComponent_Base::DeliverBinary(const TbrzConnectionPtr& C) {
  if (IsDestroying() || (C && C->IsInternal())) return;
  TbrzMemoryStream data = C ? C->GetMsgBinaryReceived() : TbrzMemoryStream();
  if (NotifyEvents() == TwsNotifyEvent::neNoSync) {
    RaiseBinaryEvent(C, data);
    return;
  }
  NotifyList(nkBinary).AddNotifyObject(C, data);
  PostDrain(nkBinary);
}

void TbrzWSComponent_Base::DeliverFragmented(const TbrzConnectionPtr& C, TbrzMemoryStream& Data, TOpcode OpCode,
                                             bool Cont) {
  if (IsDestroying() || (C && C->IsInternal())) return;
  if (NotifyEvents() == TwsNotifyEvent::neNoSync) {
    RaiseFragmentedEvent(C, Data, OpCode, Cont);
    return;
  }
  NotifyList(nkFragmented).AddNotifyObject(C, Data, OpCode, Cont);
  PostDrain(nkFragmented);
}

void TbrzWSComponent_Base::DeliverError(const TbrzConnectionPtr& C) {
  if (IsDestroying() || (C && C->IsInternal())) return;
  const std::string text = C ? C->MsgError() : std::string();
  if (NotifyEvents() == TwsNotifyEvent::neNoSync) {
    RaiseErrorEvent(C, text);
    return;
  }
  NotifyList(nkError).AddNotifyObject(C, text);
  PostDrain(nkError);
}

void TbrzWSComponent_Base::DeliverException(const TbrzConnectionPtr& C) {
  if (IsDestroying() || (C && C->IsInternal())) return;
  const std::string text = C ? C->MsgException() : std::string();
  std::shared_ptr<const Exception> e = C ? C->RawException() : nullptr;
  if (NotifyEvents() == TwsNotifyEvent::neNoSync) {
    RaiseExceptionEvent(C, text, e.get());
    return;
  }
  NotifyList(nkException).AddNotifyObject(C, text, e);
  PostDrain(nkException);
}

void TbrzWSComponent_Base::DeliverException(const std::string& Text, const std::exception* E) {
  if (IsDestroying()) return;
  if (NotifyEvents() == TwsNotifyEvent::neNoSync) {
    // Delivered at once: the handler sees the original object when it is one of ours.
    const auto* own = dynamic_cast<const Exception*>(E);
    std::shared_ptr<const Exception> copy = E && !own ? CopyException(E, Text) : nullptr;
    RaiseExceptionEvent(nullptr, Text, own ? own : copy.get());
    return;
  }
  std::shared_ptr<const Exception> copy = E ? CopyException(E, Text) : nullptr;
  NotifyList(nkException).AddNotifyObject(nullptr, Text, copy);
  PostDrain(nkException);
}

void TbrzWSComponent_Base::ReportException(const TbrzConnectionPtr& C, const std::string& Text,
                                           const std::exception* E) {
  if (IsDestroying()) return;
  // The error-reporting boundary: nothing raised by a handler or by dropping may escape.
  // A failing handler must not keep the connection alive: dropping is a step of its own.
  RunQuietly([&] {
    if (!OnException) return;
    if (C) {
      C->SetMsgException(Text);
      C->SetRawException(E ? CopyException(E, Text) : nullptr);
      DeliverException(C);
    } else {
      DeliverException(Text, E);
    }
  });
  if (C) RunQuietly([&] { C->DropConnection(); });
}

void TbrzWSComponent_Base::ReportError(const TbrzConnectionPtr& C, const std::string& Text) {
  if (IsDestroying()) return;
  RunQuietly([&] {
    if (!OnError) return;
    if (C) {
      C->SetMsgError(Text);
      DeliverError(C);
    } else {
      RaiseErrorEvent(nullptr, Text);
    }
  });
  if (C) RunQuietly([&] { C->DropConnection(); });
}

void TbrzWSComponent_Base::SetQueueMessages(bool value) {
  if (FQueueProcessing.load()) return;
  FQueueMessages = value;
  if (!value) ProcessQueue();
}

void TbrzWSComponent_Base::ProcessQueue() {
  if (FQueueProcessing.exchange(true)) return;
  struct Reset {
    std::atomic<bool>& flag;
    ~Reset() { flag = false; }
  } reset{FQueueProcessing};
  {
    TbrzLock guard(FQueueMessage.Lock());
    while (auto o = FQueueMessage.First()) {
      if (OnMessage) OnMessage(o->FConnection, o->FText);
      FQueueMessage.DeleteFirst();
    }
  }
  {
    TbrzLock guard(FQueueBinary.Lock());
    while (auto o = FQueueBinary.First()) {
      if (OnBinary) OnBinary(o->FConnection, *o->FStream);
      FQueueBinary.DeleteFirst();
    }
  }
  // Held fragments follow, so nothing that was held is lost.
  {
    TbrzLock guard(FQueueFragmented.Lock());
    while (auto o = FQueueFragmented.First()) {
      if (OnFragmented) OnFragmented(o->FConnection, *o->FStream, o->FOpCode, o->FContinuation);
      FQueueFragmented.DeleteFirst();
    }
  }
}

void TbrzWSComponent_Base::QueueClear() {
  FQueueMessage.DeleteAll(false);
  FQueueBinary.DeleteAll(false);
  FQueueFragmented.DeleteAll(false);
}

}  // namespace brz
