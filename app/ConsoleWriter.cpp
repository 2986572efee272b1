#include "app/ConsoleWriter.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/Exception.h"

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

void TbrzConsoleWriter::WriteLine(std::string_view Text) {
  std::unique_lock<std::mutex> lock(FLock);
  if (FError != 0) ThrowFailure();
  if (FPending.size() >= FMaxPending) {
    FWritten.wait(lock, [this] { return FPending.size() < FMaxPending || FError != 0; });
    if (FError != 0) ThrowFailure();
  }
  // The writer thread sleeps only when nothing is pending and it is not inside write.
  const bool wake = FPending.empty() && !FWriting;
  FPending.append(Text);
  FPending.push_back('\n');
  lock.unlock();
  if (wake) FWork.notify_one();
}

bool TbrzConsoleWriter::Flush(std::chrono::milliseconds aTimeout) {
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
    FWork.wait(lock, [this] { return !FPending.empty() || FStopping; });
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
    if (error != 0 && FError == 0) FError = error;
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

void ConsoleWriteLine(std::string_view Text) { TbrzConsoleWriter::Instance().WriteLine(Text); }

bool ConsoleFlush(std::chrono::milliseconds aTimeout) { return TbrzConsoleWriter::Instance().Flush(aTimeout); }

}  // namespace brz
