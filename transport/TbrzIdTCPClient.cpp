#include "transport/TbrzIdTCPClient.h"

#include <chrono>
#include <thread>

#include "common/TbrzBurst.h"
#include "transport/TbrzSocketErrors.h"

namespace brz {

TbrzTCPReadThread::TbrzTCPReadThread(TbrzIdTCPClient* client, TbrzTCPMode mode)
    : TbrzIdThread("TbrzTCPReadThread"), FClient(client), FTCPMode(mode) {}

TbrzTCPReadThread::~TbrzTCPReadThread() { ShutdownThread(); }

void TbrzTCPReadThread::Release(std::unique_ptr<TbrzTCPReadThread>& thread) {
  if (!thread) return;
  std::unique_ptr<TbrzTCPReadThread> doomed(std::move(thread));
  if (doomed->IsCurrentThread()) {
    doomed->Terminate();
    // The loop is still on the stack: let the thread delete its own object when it ends.
    if (doomed->MarkFreeOnTerminate()) doomed.release();
    return;
  }
  doomed->TerminateAndWaitFor();
}

void TbrzTCPReadThread::SetReadSocket(bool value) {
  FReadSocket = value;
  if (!value) FClient->Socket()->WakeWaiter();
}

void TbrzTCPReadThread::Terminate() {
  TbrzIdThread::Terminate();
  FClient->Socket()->WakeWaiter();
}

void TbrzTCPReadThread::DoReadMessage() {
  // What handling this read prints is handed on once, after it.
  TbrzBurst burst;
  SetIsExecuting(true);
  try {
    if (OnReadMessage) OnReadMessage();
  } catch (...) {
    SetIsExecuting(false);
    throw;
  }
  SetIsExecuting(false);
}

void TbrzTCPReadThread::DoReadException(const std::exception& e) {
  SetIsExecuting(true);
  try {
    if (OnReadException) OnReadException(e);
  } catch (...) {
    SetIsExecuting(false);
    throw;
  }
  SetIsExecuting(false);
}

void TbrzTCPReadThread::Run() {
  FExecuted = true;
  try {
    if (!Terminated() && OnReadThread) OnReadThread();
    if (FReadSocket.load()) {
      // After each step the owner may have been destroyed by an event handler; it terminated this
      // thread first, so every step checks Terminated before touching the client.
      if (!Terminated() && FClient->Socket()->IOHandler() && FClient->Socket()->BufferedCount() == 0) {
        if (FQuietSlices >= kQuietSlicesBeforeLong) {
          // A quiet connection sleeps in one poll, so idling costs no wake-ups: input, a close
          // (shutdown wakes the poll) and WakeWaiter (Terminate, ReadSocket off, queued frames)
          // end it. The client lock stays free, so a Connected test never waits for this sleep.
          FQuietSlices = FClient->Socket()->WaitForData(-1) ? 0 : FQuietSlices;
        } else {
          TbrzLock guard(FClient->CS());
          FQuietSlices = FClient->Socket()->WaitForData(kSliceMs) ? 0 : FQuietSlices + 1;
        }
      }
      if (!Terminated() && FClient->Socket()->IOHandler() && FClient->Socket()->BufferedCount() > 0) DoReadMessage();
      if (!Terminated() && FClient->Socket()->IOHandler()) FClient->Socket()->CheckForDisconnect();
    } else {
      SleepFor(std::chrono::milliseconds(1));
    }
  } catch (const std::exception& e) {
    // Thread entry point: every failure ends the iteration here.
    if (FTCPMode == TbrzTCPMode::tcpmCommands) {
      FReadSocket = false;
      DoReadException(e);
      return;
    }
    if (!Terminated()) Terminate();
    DoReadException(e);
  }
}

TbrzIdTCPClient::TbrzIdTCPClient() : FSocket(std::make_shared<TbrzSocket>()) {}

TbrzIdTCPClient::~TbrzIdTCPClient() { TbrzTCPReadThread::Release(FTCPRead); }

TbrzTCPReadThread* TbrzIdTCPClient::GetTCPRead() {
  if (!FTCPRead) {
    FTCPRead = std::make_unique<TbrzTCPReadThread>(this, FTCPMode);
    FTCPRead->OnReadMessage = [this] { DoRead(); };
    FTCPRead->OnReadException = [this](const std::exception& e) { DoReadException(e); };
    FTCPRead->OnReadThread = [this] { DoThread(); };
    FTCPRead->Start();
  }
  return FTCPRead.get();
}

void TbrzIdTCPClient::StopReadThread() { TbrzTCPReadThread::Release(FTCPRead); }

bool TbrzIdTCPClient::ReadThreadIsCurrent() const { return FTCPRead && FTCPRead->IsCurrentThread(); }

void TbrzIdTCPClient::Connect() {
  if (FTCPMode == TbrzTCPMode::tcpmDefault) TbrzTCPReadThread::Release(FTCPRead);
  FSocket->Connect();
  GetTCPRead()->SetReadSocket(true);
}

bool TbrzIdTCPClient::Connected() {
  TbrzLock guard(FCS);
  return FSocket->Connected();
}

void TbrzIdTCPClient::Disconnect(bool aNotifyPeer) {
  if (FTCPRead) {
    if (FTCPMode == TbrzTCPMode::tcpmCommands) {
      FTCPRead->SetReadSocket(false);
    } else if (!FTCPRead->Terminated()) {
      FTCPRead->Terminate();
      // Lets a wait slice in progress end before the socket goes.
      if (!FTCPRead->IsCurrentThread()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  FSocket->Disconnect(aNotifyPeer);
  if (FSocket->BufferedCount() > 0) FSocket->ClearBuffered();
  if (FTCPMode == TbrzTCPMode::tcpmDefault && FTCPRead && !FTCPRead->Terminated()) FTCPRead->TerminateAndWaitFor();
}

void TbrzIdTCPClient::DoThread() {
  if (OnThread) OnThread();
}

void TbrzIdTCPClient::DoRead() {
  if (OnRead) OnRead();
}

void TbrzIdTCPClient::DoReadException(const std::exception& e) {
  if (OnReadException) OnReadException(this, e);
}

}  // namespace brz
