#pragma once
// One remote operator's outbound lines. Producers (the MQTT read thread, commands, the console) only
// append to a bounded queue; a writer thread of its own writes the lines to the connection, so an
// operator that stops reading holds up nobody else. An overflow or a failed write drops the operator
// once: OnDrop runs (on the thread that found the fault; not for a peer that reset or closed), the
// socket is closed (its context thread then ends the connection as usual) and later lines are discarded.
//
// Thread-safety: Push, Flush and Dropped from any thread; the destructor must not run on the writer.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "transport/TbrzSocketConnection.h"

namespace brz {

class TbrzOperatorOutbox {
 public:
  // Reason is a short text for people ("more than N bytes waiting", the write error).
  using TDropEvent = std::function<void(const TbrzConnectionPtr& Connection, const std::string& Reason)>;

  TbrzOperatorOutbox(TbrzConnectionPtr aConnection, size_t aMaxBytes, TDropEvent aOnDrop);
  // Stops the writer; lines still queued are discarded.
  ~TbrzOperatorOutbox();
  TbrzOperatorOutbox(const TbrzOperatorOutbox&) = delete;
  TbrzOperatorOutbox& operator=(const TbrzOperatorOutbox&) = delete;

  // Queues Text; never waits for the operator.
  void Push(std::string Text);
  // Waits until every line queued so far is written (true), the operator was dropped, or aTimeout passed.
  bool Flush(std::chrono::milliseconds aTimeout);
  bool Dropped() const;
  size_t MaxBytes() const { return FMaxBytes; }

 private:
  void Run();
  // Marks the outbox dropped and closes the socket; OnDrop runs once, unless Reason is empty (a peer
  // that went away by itself). FLock not held.
  void Drop(const std::string& Reason);

  const TbrzConnectionPtr FConnection;
  const size_t FMaxBytes;
  const TDropEvent FOnDrop;
  mutable std::mutex FLock;          // guards the fields below
  std::condition_variable FWork;     // lines queued, or stopping
  std::condition_variable FIdle;     // the queue ran empty, or dropped
  std::deque<std::string> FQueue;
  size_t FQueuedBytes = 0;
  bool FWriting = false;             // the writer holds lines no longer in FQueue
  bool FDropped = false;
  bool FStopping = false;
  std::thread FThread;               // started last in the constructor
};

}  // namespace brz
