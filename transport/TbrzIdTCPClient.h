#pragma once
// The socket client of the client component and its read thread. The client owns its socket
// (shared with the connection object that reads and writes it) and one read thread, which waits
// for input in 10 ms slices under the client lock (after a quiet second, in one poll without the
// lock until input, a close or a wake-up), hands arrivals to OnRead, detects a peer that has
// closed and reports failures through OnReadException. Writes happen on the callers' threads.

#include <atomic>
#include <exception>
#include <functional>
#include <memory>

#include "common/TbrzCriticalSection.h"
#include "common/TbrzIdThread.h"
#include "transport/TbrzSocket.h"
#include "transport/TbrzTransportTypes.h"

namespace brz {

class TbrzIdTCPClient;

using TbrzNotifyEvent = std::function<void()>;
// (sender, exception); the exception is the one that ended the iteration.
using TbrzReadThreadExceptionEvent = std::function<void(TbrzIdTCPClient*, const std::exception&)>;

class TbrzTCPReadThread : public TbrzIdThread {
 public:
  TbrzTCPReadThread(TbrzIdTCPClient* client, TbrzTCPMode mode);
  ~TbrzTCPReadThread() override;

  bool ReadSocket() const { return FReadSocket.load(); }
  void SetReadSocket(bool value);
  // Also ends a wait for input under way.
  void Terminate() override;
  bool Executed() const { return FExecuted.load(); }
  TbrzTCPMode TCPMode() const { return FTCPMode; }

  // Bound by the client before the thread starts.
  TbrzNotifyEvent OnReadMessage;
  TbrzNotifyEvent OnReadThread;
  std::function<void(const std::exception&)> OnReadException;

  // Stops the thread and destroys it: waits from another thread; from the thread itself the object
  // destroys itself when its loop ends.
  static void Release(std::unique_ptr<TbrzTCPReadThread>& thread);

 protected:
  void Run() override;
  virtual void DoReadMessage();
  virtual void DoReadException(const std::exception& e);

 private:
  static constexpr int kSliceMs = 10;
  // Empty slices in a row after which the thread waits for input in one poll, without the client lock.
  static constexpr int kQuietSlicesBeforeLong = 100;
  int FQuietSlices = 0;  // empty waits in a row; the read thread's own
  std::atomic<bool> FReadSocket{false};
  TbrzIdTCPClient* FClient;  // the owner; not owned
  std::atomic<bool> FExecuted{false};
  TbrzTCPMode FTCPMode;
};

class TbrzIdTCPClient {
 public:
  TbrzIdTCPClient();
  virtual ~TbrzIdTCPClient();
  TbrzIdTCPClient(const TbrzIdTCPClient&) = delete;
  TbrzIdTCPClient& operator=(const TbrzIdTCPClient&) = delete;

  // The socket layer: settings, hooks, buffered I/O.
  const std::shared_ptr<TbrzSocket>& Socket() const { return FSocket; }

  TbrzNotifyEvent OnThread;
  TbrzNotifyEvent OnRead;
  TbrzReadThreadExceptionEvent OnReadException;

  TbrzTCPMode TCPMode() const { return FTCPMode; }
  void SetTCPMode(TbrzTCPMode value) { FTCPMode = value; }

  // Connects the socket (throws on failure), then lets the read thread read it.
  void Connect();
  bool Connected();
  void Disconnect(bool aNotifyPeer = false);
  void EnterCS() { FCS.Acquire(); }
  void LeaveCS() { FCS.Release(); }
  TbrzCriticalSection& CS() { return FCS; }

  // The read thread, created (and started) on first call.
  TbrzTCPReadThread* GetTCPRead();
  TbrzTCPReadThread* TCPRead() const { return FTCPRead.get(); }
  // Terminates the read thread and waits for it (from another thread only).
  void StopReadThread();
  bool ReadThreadIsCurrent() const;

  virtual void DoThread();
  virtual void DoRead();
  virtual void DoReadException(const std::exception& e);

 private:
  std::shared_ptr<TbrzSocket> FSocket;
  std::unique_ptr<TbrzTCPReadThread> FTCPRead;
  TbrzTCPMode FTCPMode = TbrzTCPMode::tcpmDefault;
  TbrzCriticalSection FCS;  // the client lock: held while the read thread waits for input
};

}  // namespace brz
