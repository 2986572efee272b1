#include "app/ConsoleWriter.h"

#include <atomic>

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "common/Exception.h"
#include "common/TbrzBurst.h"

namespace brz {

namespace {

// Writes all of Bytes; returns 0, or the errno of the failure.
int WriteAll(int fd, const std::string& Bytes) {
  size_t done = 0;
  while (done < Bytes.size()) {
    const ssize_t n = ::write(fd, Bytes.data() + done, Bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;
    done += static_cast<size_t>(n);
  }
  return 0;
}

// Up to this many bytes go in one write that a pipe takes whole once it reports room.
constexpr size_t kDirectWriteMax = PIPE_BUF;

bool WritableNow(int fd) {
  pollfd p{fd, POLLOUT, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLOUT) && !(p.revents & (POLLERR | POLLHUP | POLLNVAL));
}

// The lines a thread collected in its current burst, and the writer they are for.
struct TBurstLines {
  TbrzConsoleWriter* Writer = nullptr;
  std::string Lines;
};
thread_local TBurstLines tBurst;

}  // namespace

TbrzConsoleWriter::TbrzConsoleWriter(int fd, size_t aMaxPending) : FFd(fd), FMaxPending(aMaxPending) {
  FThread = std::thread([this] { Run(); });
}

TbrzConsoleWriter::~TbrzConsoleWriter() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FStopping = true;
  }
  FWork.notify_one();
  FThread.join();
}

void TbrzConsoleWriter::ThrowFailure() const {
  throw EInOutError(std::string("I/O error ") + std::to_string(FError) + ": " + std::strerror(FError));
}

void TbrzConsoleWriter::SetOnFailure(std::function<void(int aError)> aHandler) {
  std::lock_guard<std::mutex> guard(FLock);
  FOnFailure = std::move(aHandler);
}

void TbrzConsoleWriter::Seal() {
  std::lock_guard<std::mutex> guard(FLock);
  FSealed = true;
}

void TbrzConsoleWriter::Fail(std::unique_lock<std::mutex>& lock, int aError) {
  const bool first = FError == 0;
  if (first) FError = aError;
  // After a failure nothing more reaches the descriptor.
  FPending.clear();
  std::function<void(int)> handler = first ? FOnFailure : nullptr;
  lock.unlock();
  FWritten.notify_all();
  FWork.notify_one();
  if (handler) handler(aError);
}

void TbrzConsoleWriter::WriteLine(std::string_view Text) {
  std::unique_lock<std::mutex> lock(FLock);
  if (FError != 0) ThrowFailure();
  if (FSealed) return;
  if (TbrzBurst::Active() && (tBurst.Writer == nullptr || tBurst.Writer == this)) {
    lock.unlock();
    if (!tBurst.Writer) {
      tBurst.Writer = this;
      TbrzBurst::AtEnd(&TbrzConsoleWriter::EndBurst);
    }
    tBurst.Lines.append(Text);
    tBurst.Lines.push_back('\n');
    if (tBurst.Lines.size() < kBurstHandOff) return;
    // A long burst must not hold many lines back, nor grow past the backlog bound.
    std::string lines = std::exchange(tBurst.Lines, std::string());
    lock.lock();
    if (FError == 0) Enqueue(lock, lines, false);
    return;
  }
  Enqueue(lock, Text, true);
}

void TbrzConsoleWriter::Enqueue(std::unique_lock<std::mutex>& lock, std::string_view Lines, bool aLineEnd) {
  if (FPending.size() >= FMaxPending) {
    FWritten.wait(lock, [this] { return FPending.size() < FMaxPending || FError != 0; });
    if (FError != 0) ThrowFailure();
  }
  // The writer thread sleeps only when nothing is pending and no thread is inside write.
  const bool wake = FPending.empty() && !FWriting;
  FPending.append(Lines);
  if (aLineEnd) FPending.push_back('\n');
  lock.unlock();
  if (wake) FWork.notify_one();
}

void TbrzConsoleWriter::HandOff(std::string& Lines) {
  std::unique_lock<std::mutex> lock(FLock);
  // After a failure nothing more reaches the descriptor; the next WriteLine raises it.
  if (FError != 0 || Lines.empty()) return;
  if (!FPending.empty() || FWriting || Lines.size() > kDirectWriteMax || !WritableNow(FFd)) {
    try {
      Enqueue(lock, Lines, false);
    } catch (const EInOutError&) {
      // Raised again by the next WriteLine or Flush.
    }
    return;
  }
  FWriting = true;
  lock.unlock();
  const int error = WriteAll(FFd, Lines);
  lock.lock();
  FWriting = false;
  if (error != 0 && FError == 0) return Fail(lock, error);
  if (FError != 0) FPending.clear();
  // Lines other threads queued meanwhile are the writer thread's; a stop asked meanwhile waited for
  // this write to end.
  const bool wake = !FPending.empty() || FStopping;
  lock.unlock();
  FWritten.notify_all();
  if (wake) FWork.notify_one();
}

void TbrzConsoleWriter::EndBurst() {
  TbrzConsoleWriter* writer = std::exchange(tBurst.Writer, nullptr);
  std::string lines = std::exchange(tBurst.Lines, std::string());
  if (writer) writer->HandOff(lines);
}

bool TbrzConsoleWriter::Flush(std::chrono::milliseconds aTimeout) {
  // Lines this thread holds in a burst count as queued.
  if (tBurst.Writer == this) {
    std::string lines = std::exchange(tBurst.Lines, std::string());
    HandOff(lines);
  }
  std::unique_lock<std::mutex> lock(FLock);
  const bool done =
      FWritten.wait_for(lock, aTimeout, [this] { return (FPending.empty() && !FWriting) || FError != 0; });
  if (FError != 0) ThrowFailure();
  return done;
}

void TbrzConsoleWriter::Run() {
  std::string batch;
  std::unique_lock<std::mutex> lock(FLock);
  for (;;) {
    // A thread writing a burst itself has the descriptor: wait for it to finish.
    FWork.wait(lock, [this] { return (!FPending.empty() || FStopping) && !FWriting; });
    if (FPending.empty()) return;
    batch.clear();
    batch.swap(FPending);
    FWriting = true;
    const bool failed = FError != 0;
    lock.unlock();
    // Producers blocked on a full backlog may go on while this batch is written.
    FWritten.notify_all();
    const int error = failed ? 0 : WriteAll(FFd, batch);
    lock.lock();
    FWriting = false;
    if (error != 0 && FError == 0) {
      Fail(lock, error);
      lock.lock();
      continue;
    }
    // After a failure nothing more reaches the descriptor.
    if (FError != 0) FPending.clear();
    FWritten.notify_all();
  }
}

TbrzConsoleWriter& TbrzConsoleWriter::Instance() {
  // Never destroyed: threads may still print while the process ends.
  static TbrzConsoleWriter* writer = new TbrzConsoleWriter(1);
  return *writer;
}

namespace {
std::atomic<bool> GJSONOnly{false};
}  // namespace

void SetConsoleJSONOnly(bool aOn) { GJSONOnly.store(aOn); }

void ConsoleWriteLine(std::string_view Text) {
  // Event lines are JSON objects; under -json everything else is for people.
  if (GJSONOnly.load(std::memory_order_relaxed) && (Text.empty() || Text.front() != '{')) return ErrorWriteLine(Text);
  TbrzConsoleWriter::Instance().WriteLine(Text);
}

bool ConsoleFlush(std::chrono::milliseconds aTimeout) { return TbrzConsoleWriter::Instance().Flush(aTimeout); }

void ErrorWriteLine(std::string_view Text) {
  static std::mutex errorLock;  // whole lines from every thread
  std::string line(Text);
  line.push_back('\n');
  std::lock_guard<std::mutex> guard(errorLock);
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(2, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace brz
