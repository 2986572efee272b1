#include "server/TbrzOperatorOutbox.h"

#include <cerrno>
#include <exception>

#include "common/Memory.h"
#include "server/ServerMessages.h"
#include "transport/TbrzSocketErrors.h"

namespace brz {

namespace {

// The operator reset or closed: its connection's own thread reports the end, so no drop line.
bool PeerGone(const std::exception& e) {
  if (IsSilentSocketError(e)) return true;
  const auto* socketError = dynamic_cast<const ESocketError*>(&e);
  if (!socketError) return false;
  const int code = socketError->ErrorCode();
  return code == EPIPE || code == ECONNRESET || code == ENOTCONN || code == EBADF || code == ESHUTDOWN;
}

}  // namespace

TbrzOperatorOutbox::TbrzOperatorOutbox(TbrzConnectionPtr aConnection, size_t aMaxBytes, TDropEvent aOnDrop)
    : FConnection(std::move(aConnection)), FMaxBytes(aMaxBytes), FOnDrop(std::move(aOnDrop)) {
  FThread = std::thread([this] { Run(); });
}

TbrzOperatorOutbox::~TbrzOperatorOutbox() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FStopping = true;
    FQueue.clear();
    FQueuedBytes = 0;
  }
  FWork.notify_all();
  // A writer blocked in a send is bounded by the socket's send time-out.
  if (FThread.joinable()) FThread.join();
}

void TbrzOperatorOutbox::Push(std::string Text) {
  bool overflow = false;
  bool wake = false;
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (FDropped || FStopping) return;
    if (FQueuedBytes + Text.size() > FMaxBytes) {
      overflow = true;
    } else {
      // A writer busy with a batch looks at the queue again before it waits: no wake-up needed.
      wake = FQueue.empty() && !FWriting;
      FQueuedBytes += Text.size();
      FQueue.push_back(std::move(Text));
    }
  }
  if (overflow) return Drop(FormatMsg(msg::kOutboxOverflow, static_cast<int>(FMaxBytes)));
  if (wake) FWork.notify_one();
}

bool TbrzOperatorOutbox::Flush(std::chrono::milliseconds aTimeout) {
  std::unique_lock<std::mutex> guard(FLock);
  return FIdle.wait_for(guard, aTimeout, [this] { return FDropped || (FQueue.empty() && !FWriting); }) && !FDropped;
}

bool TbrzOperatorOutbox::Dropped() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FDropped;
}

void TbrzOperatorOutbox::Drop(const std::string& Reason) {
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (FDropped) return;
    FDropped = true;
    FQueue.clear();
    FQueuedBytes = 0;
  }
  FIdle.notify_all();
  FWork.notify_all();
  if (FOnDrop && !Reason.empty()) RunQuietly([&] { FOnDrop(FConnection, Reason); });
  // Wakes a writer blocked in a send; the connection's own thread sees the closed socket and ends it.
  if (auto socket = FConnection->Socket()) RunQuietly([&] { socket->CloseSocket(); });
}

void TbrzOperatorOutbox::Run() {
  std::deque<std::string> batch;
  for (;;) {
    {
      std::unique_lock<std::mutex> guard(FLock);
      FWriting = false;
      if (FQueue.empty()) FIdle.notify_all();
      FWork.wait(guard, [this] { return FStopping || FDropped || !FQueue.empty(); });
      if (FStopping || FDropped) return;
      batch.swap(FQueue);
      FQueuedBytes = 0;
      FWriting = true;
    }
    try {
      for (const std::string& line : batch) {
        if (FConnection->Disconnected()) break;
        FConnection->WriteData(line);
      }
    } catch (const std::exception& e) {
      batch.clear();
      Drop(PeerGone(e) ? std::string() : e.what());
      std::lock_guard<std::mutex> guard(FLock);
      FWriting = false;
      return;
    }
    batch.clear();
  }
}

}  // namespace brz
