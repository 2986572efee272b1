#pragma once
// Interval timer on a thread of its own. Each period: Interval is read once and rounded up to whole
// 100 ms steps; the thread sleeps that long in one wait (woken at once by Terminate), then fires OnTimer
// according to NotifyEvents.
// So Interval 250 fires after 300 ms, Interval <= 0 fires without waiting, and a terminated timer never
// fires again. Handlers run on the timer thread (neNoSync) and must synchronise themselves.
// Dispose of a timer with FreeTimer (also allowed inside its own handler); destroying it otherwise while one
// of its handlers runs (e.g. its owner's destructor called from the handler) leaves the thread on freed memory.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "common/Exception.h"
#include "common/NotifyEvent.h"
#include "common/TbrzIdThread.h"

namespace brz {

class TbrzTimer;
struct TbrzTimerToken;

using TbrzTimerEvent = std::function<void(TbrzTimer& timer)>;
using TbrzTimerExceptionEvent = std::function<void(TbrzTimer& timer, const Exception& E)>;

class TbrzTimer : public TbrzIdThread {
 public:
  // The thread starts at the end of construction when aStartThread is true (as the timer's Create does);
  // since a period reads Interval at its start, pass the wanted interval here so the first period uses it.
  // A class that derives from TbrzTimer and overrides DoTimer passes false and calls Start() itself.
  explicit TbrzTimer(int32_t aInterval = 60000, bool aStartThread = true);
  ~TbrzTimer() override;

  // Milliseconds; a change takes effect from the next period.
  int32_t Interval() const { return FInterval.load(); }
  void SetInterval(int32_t value) { FInterval.store(value); }
  // Abandons the period under way without firing and begins a new one with the current Interval.
  void RestartPeriod();
  // true: Start (resumes a stopped thread; nothing on a running one). false: Terminate, for good; setting
  // true afterwards does not restart it (create a new timer instead).
  bool Enabled() const { return FEnabled.load(); }
  void SetEnabled(bool value);
  TwsNotifyEvent NotifyEvents() const { return FNotifyEvents.load(); }
  void SetNotifyEvents(TwsNotifyEvent value) { FNotifyEvents.store(value); }
  TbrzTimerEvent OnTimer() const;
  void SetOnTimer(TbrzTimerEvent handler);
  TbrzTimerExceptionEvent OnException() const;
  void SetOnException(TbrzTimerExceptionEvent handler);

 protected:
  void Run() override;
  // Calls OnTimer (IsExecuting set meanwhile). A brz::Exception of the handler goes to DoTimerException when
  // OnException is assigned, else it propagates (and ends the period).
  virtual void DoTimer();
  // Calls OnException (IsExecuting set meanwhile).
  virtual void DoTimerException(const Exception& E);

 private:
  friend void FreeTimer(std::unique_ptr<TbrzTimer>& Timer);
  friend void FreeTimerAndWait(std::unique_ptr<TbrzTimer>& Timer);
  void Fire();

  std::atomic<int32_t> FInterval;
  std::atomic<bool> FEnabled{false};
  std::atomic<TwsNotifyEvent> FNotifyEvents{TwsNotifyEvent::neNoSync};
  mutable std::mutex FHandlerLock;  // guards FOnTimer, FOnException
  TbrzTimerEvent FOnTimer;
  TbrzTimerExceptionEvent FOnException;
  // Lets methods posted to the main thread find out whether the timer still exists.
  std::shared_ptr<TbrzTimerToken> FToken;
};

// The one way to dispose of a timer. Nothing when Timer is empty. From another thread while no handler of
// the timer runs: terminate, wait for its thread, destroy, empty the reference. On the timer's own thread or
// while its handler runs: the timer is marked to destroy itself when its thread ends, terminated, and the
// reference emptied at once.
// So, called from another thread while a handler runs, FreeTimer returns before the handler has finished:
// state the handler uses must outlive it.
void FreeTimer(std::unique_ptr<TbrzTimer>& Timer);

// For owners that are about to destroy what the handlers use (destructors): as FreeTimer, but from another
// thread it always waits until a running handler has returned and the timer is destroyed. Never call it while
// holding something a handler waits for; on the timer's own thread it acts as FreeTimer.
void FreeTimerAndWait(std::unique_ptr<TbrzTimer>& Timer);

}  // namespace brz
