#include "common/TbrzIdThread.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace brz {

TbrzIdThread::TbrzIdThread(std::string aDebugName) : FDebugName(std::move(aDebugName)) {}

TbrzIdThread::~TbrzIdThread() { ShutdownThread(); }

void TbrzIdThread::Start() {
  std::lock_guard<std::mutex> guard(FStateLock);
  if (FTerminated.load()) return;
  FStopped.store(false);
  if (!FLaunched) {
    FLaunched = true;
    FThread = std::thread(&TbrzIdThread::ThreadMain, this);
  }
  FWake.notify_all();
}

void TbrzIdThread::Stop() {
  std::lock_guard<std::mutex> guard(FStateLock);
  if (!FTerminated.load()) FStopped.store(true);
  FWake.notify_all();
}

void TbrzIdThread::Terminate() {
  std::lock_guard<std::mutex> guard(FStateLock);
  FTerminated.store(true);
  FWake.notify_all();
}

void TbrzIdThread::TerminateAndWaitFor() {
  Terminate();
  if (IsCurrentThread()) return;
  std::thread joining;
  {
    std::lock_guard<std::mutex> guard(FStateLock);
    joining = std::move(FThread);
  }
  if (joining.joinable()) joining.join();
}

void TbrzIdThread::ShutdownThread() {
  Terminate();
  std::thread ending;
  {
    std::lock_guard<std::mutex> guard(FStateLock);
    ending = std::move(FThread);
  }
  if (!ending.joinable()) return;
  if (ending.get_id() == std::this_thread::get_id()) {
    ending.detach();  // never join a thread from itself
  } else {
    ending.join();
  }
}

bool TbrzIdThread::Finished() const {
  std::lock_guard<std::mutex> guard(FStateLock);
  return FFinished;
}

bool TbrzIdThread::IsCurrentThread() const { return FStdThreadId.load() == std::this_thread::get_id(); }

std::string TbrzIdThread::DebugName() const {
  std::lock_guard<std::mutex> guard(FStateLock);
  return FDebugName;
}

void TbrzIdThread::SetDebugName(std::string value) {
  std::lock_guard<std::mutex> guard(FStateLock);
  FDebugName = std::move(value);
}

bool TbrzIdThread::HandleRunException(std::exception_ptr /*error*/) { return false; }

bool TbrzIdThread::SleepFor(std::chrono::milliseconds duration) { return SleepFor(duration, SleepGeneration()); }

bool TbrzIdThread::SleepFor(std::chrono::milliseconds duration, uint64_t aSince) {
  std::unique_lock<std::mutex> guard(FStateLock);
  FWake.wait_for(guard, duration, [this, aSince] { return FTerminated.load() || FSleepGeneration.load() != aSince; });
  return !FTerminated.load();
}

void TbrzIdThread::InterruptSleep() {
  std::lock_guard<std::mutex> guard(FStateLock);
  FSleepGeneration.fetch_add(1);
  FWake.notify_all();
}

bool TbrzIdThread::MarkFreeOnTerminate() {
  std::lock_guard<std::mutex> guard(FStateLock);
  if (!FLaunched || FFinished) return false;
  FFreeOnTerminate = true;
  return true;
}

void TbrzIdThread::ThreadMain() {
  FStdThreadId.store(std::this_thread::get_id());
  FThreadId.store(static_cast<uint32_t>(::syscall(SYS_gettid)));
  for (;;) {
    {
      std::unique_lock<std::mutex> guard(FStateLock);
      FWake.wait(guard, [this] { return FTerminated.load() || !FStopped.load(); });
    }
    if (FTerminated.load()) break;
    bool goOn = true;
    // Thread entry point: nothing may escape into std::thread (that would end the process).
    try {
      Run();
    } catch (...) {
      goOn = HandleRunException(std::current_exception());
    }
    if (!goOn) {
      Terminate();
      break;
    }
  }
  bool freeSelf;
  {
    std::lock_guard<std::mutex> guard(FStateLock);
    FFinished = true;
    freeSelf = FFreeOnTerminate;
  }
  if (freeSelf) delete this;  // the destructor detaches, since it runs on this thread
}

}  // namespace brz
