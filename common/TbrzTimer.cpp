#include "common/TbrzTimer.h"

#include <chrono>
#include <thread>

#include "common/MainThread.h"
#include "common/Memory.h"

namespace brz {

// Shared between a timer and the methods it posted to the main thread: Timer is emptied by the destructor,
// and held locked while a posted method runs, so the timer cannot go away under it.
struct TbrzTimerToken {
  std::recursive_mutex Lock;
  TbrzTimer* Timer = nullptr;
  // FreeTimer was called inside a handler running on the main thread after the timer thread had ended: the
  // posted method destroys the timer once the handler has returned.
  bool FreePending = false;
};

namespace {

constexpr int64_t kTimerStep = 100;  // ms; periods are whole multiples of it

// Runs a posted DoTimer on the main thread.
void RunPostedTimer(const std::shared_ptr<TbrzTimerToken>& token, void (*call)(TbrzTimer&)) {
  std::lock_guard<std::recursive_mutex> guard(token->Lock);
  TbrzTimer* timer = token->Timer;
  if (!timer) return;
  struct TFreePending {
    TbrzTimerToken& Token;
    ~TFreePending() {
      if (Token.FreePending && Token.Timer) delete Token.Timer;
    }
  } freePending{*token};
  call(*timer);
}

}  // namespace

TbrzTimer::TbrzTimer(int32_t aInterval, bool aStartThread)
    : TbrzIdThread("Timer"), FInterval(aInterval), FToken(std::make_shared<TbrzTimerToken>()) {
  FToken->Timer = this;
  if (aStartThread) Start();
}

TbrzTimer::~TbrzTimer() {
  {
    std::lock_guard<std::recursive_mutex> guard(FToken->Lock);
    FToken->Timer = nullptr;
  }
  ShutdownThread();
}

void TbrzTimer::SetEnabled(bool value) {
  FEnabled.store(value);
  if (value) {
    Start();
  } else {
    Terminate();
  }
}

TbrzTimerEvent TbrzTimer::OnTimer() const {
  std::lock_guard<std::mutex> guard(FHandlerLock);
  return FOnTimer;
}

void TbrzTimer::SetOnTimer(TbrzTimerEvent handler) {
  std::lock_guard<std::mutex> guard(FHandlerLock);
  FOnTimer = std::move(handler);
}

TbrzTimerExceptionEvent TbrzTimer::OnException() const {
  std::lock_guard<std::mutex> guard(FHandlerLock);
  return FOnException;
}

void TbrzTimer::SetOnException(TbrzTimerExceptionEvent handler) {
  std::lock_guard<std::mutex> guard(FHandlerLock);
  FOnException = std::move(handler);
}

void TbrzTimer::Run() {
  for (;;) {
    // Read before the interval: a restart that comes after this point is never missed.
    const uint64_t since = SleepGeneration();
    const int64_t interval = Interval();
    if (interval < 1) break;
    // A period is a whole number of steps; the thread sleeps once to its end (Terminate and
    // RestartPeriod wake it), so an idle timer costs one wake-up per period.
    const int64_t steps = (interval + kTimerStep - 1) / kTimerStep;
    SleepFor(std::chrono::milliseconds(steps * kTimerStep), since);
    if (Terminated() || SleepGeneration() == since) break;
  }
  if (Terminated()) return;
  try {
    Fire();
  } catch (const Exception& E) {
    DoTimerException(E);
  }
}

void TbrzTimer::RestartPeriod() { InterruptSleep(); }

void TbrzTimer::Fire() {
  static constexpr auto callDoTimer = [](TbrzTimer& timer) { timer.DoTimer(); };
  switch (NotifyEvents()) {
    case TwsNotifyEvent::neNoSync:
      DoTimer();
      break;
    case TwsNotifyEvent::neAsynchronous: {
      std::shared_ptr<TbrzTimerToken> token = FToken;
      QueueToMainThread([token] { RunPostedTimer(token, callDoTimer); });
      break;
    }
    case TwsNotifyEvent::neSynchronous: {
      std::shared_ptr<TbrzTimerToken> token = FToken;
      SynchronizeWithMainThread([token] { RunPostedTimer(token, callDoTimer); }, [this] { return Terminated(); });
      break;
    }
  }
}

void TbrzTimer::DoTimer() {
  const TbrzTimerEvent handler = OnTimer();
  if (!handler) return;
  try {
    TExecutingScope executing(*this);
    handler(*this);
  } catch (const Exception& E) {
    if (!OnException()) throw;
    DoTimerException(E);
  }
}

void TbrzTimer::DoTimerException(const Exception& E) {
  const TbrzTimerExceptionEvent handler = OnException();
  if (!handler) return;
  TExecutingScope executing(*this);
  handler(*this, E);
}

void FreeTimer(std::unique_ptr<TbrzTimer>& Timer) {
  if (!Timer) return;
  if (!Timer->IsCurrentThread() && !Timer->IsExecuting()) {
    if (!Timer->Terminated()) Timer->Terminate();
    for (int step = 0; step < 1000 && !Timer->Terminated(); ++step)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    FreeAndClear(Timer);  // the destructor waits for the thread to end
    return;
  }
  // Inside a handler: never wait here for the thread that runs it.
  TbrzTimer* timer = Timer.release();
  timer->Terminate();
  if (timer->MarkFreeOnTerminate()) return;  // the thread destroys the timer when it ends
  if (timer->IsCurrentThread()) return;      // unreachable: a running thread has not ended
  std::lock_guard<std::recursive_mutex> guard(timer->FToken->Lock);
  if (timer->IsExecuting()) {
    timer->FToken->FreePending = true;  // a posted handler runs on this thread: it frees the timer after it
  } else {
    delete timer;
  }
}

void FreeTimerAndWait(std::unique_ptr<TbrzTimer>& Timer) {
  if (!Timer) return;
  if (Timer->IsCurrentThread()) {
    FreeTimer(Timer);
    return;
  }
  Timer->Terminate();
  FreeAndClear(Timer);  // the destructor waits for the thread, and so for a running handler
}

}  // namespace brz
