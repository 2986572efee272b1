#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/MainThread.h"
#include "common/TbrzTimer.h"

// Timer tests assert counts and order with generous time-outs; the only durations asserted are lower bounds,
// which sleeping guarantees.

namespace brz {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

bool WaitUntil(const std::function<bool()>& done, milliseconds timeout = milliseconds(10000)) {
  const auto deadline = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(milliseconds(5));
  }
  return true;
}

bool PumpUntil(const std::function<bool()>& done, milliseconds timeout = milliseconds(10000)) {
  const auto deadline = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    WaitForMainThreadQueue(milliseconds(10));
    ProcessMainThreadQueue();
  }
  return true;
}

// Thread-safe log of events.
class TLog {
 public:
  void Add(std::string event) {
    std::lock_guard<std::mutex> guard(FLock);
    FEvents.push_back(std::move(event));
  }
  std::vector<std::string> Events() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FEvents;
  }
  size_t Count(const std::string& event) const {
    std::lock_guard<std::mutex> guard(FLock);
    size_t n = 0;
    for (const auto& e : FEvents) n += e == event;
    return n;
  }

 private:
  mutable std::mutex FLock;
  std::vector<std::string> FEvents;
};

// Signals when it is destroyed, i.e. when the timer holding the handler that captured it is gone.
struct TSentinel {
  explicit TSentinel(TLog& log) : Log(log) {}
  ~TSentinel() { Log.Add("destroyed"); }
  TSentinel(const TSentinel&) = delete;
  TSentinel& operator=(const TSentinel&) = delete;
  TLog& Log;
};

TEST(Timer, Defaults) {
  TbrzTimer timer;
  EXPECT_EQ(timer.Interval(), 60000);
  EXPECT_EQ(timer.NotifyEvents(), TwsNotifyEvent::neNoSync);
  EXPECT_FALSE(timer.Enabled());
  EXPECT_FALSE(timer.IsExecuting());
  EXPECT_FALSE(timer.Terminated());
  EXPECT_TRUE(WaitUntil([&] { return timer.ThreadId() != 0; }));  // the thread runs without Enabled
  EXPECT_FALSE(timer.IsCurrentThread());
  timer.SetDebugName("QoS Timer");
  EXPECT_EQ(timer.DebugName(), "QoS Timer");
}

TEST(Timer, DestroyingAnIdleTimerStopsAtOnce) {
  const auto start = Clock::now();
  { TbrzTimer timer(60000); }
  EXPECT_LT(Clock::now() - start, milliseconds(5000));  // not a whole interval
}

TEST(Timer, Interval250FiresAfter300ms) {
  std::atomic<int64_t> firstTick{-1};
  const auto start = Clock::now();
  auto timer = std::make_unique<TbrzTimer>(250);
  timer->SetOnTimer([&](TbrzTimer&) {
    if (firstTick.load() < 0)
      firstTick = std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
  });
  ASSERT_TRUE(WaitUntil([&] { return firstTick.load() >= 0; }));
  EXPECT_GE(firstTick.load(), 300);  // three 100 ms steps, not 250 ms
  FreeTimerAndWait(timer);
  EXPECT_EQ(timer, nullptr);
}

TEST(Timer, TicksRunOnTheTimerThreadWithIsExecuting) {
  TLog log;
  auto timer = std::make_unique<TbrzTimer>(100);
  std::atomic<uint32_t> id{0};
  timer->SetOnTimer([&](TbrzTimer& t) {
    log.Add(t.IsCurrentThread() && t.IsExecuting() ? "tick" : "wrong");
    id = t.ThreadId();
  });
  ASSERT_TRUE(WaitUntil([&] { return log.Count("tick") >= 3; }));
  EXPECT_EQ(log.Count("wrong"), 0u);
  EXPECT_EQ(id.load(), timer->ThreadId());
  FreeTimerAndWait(timer);
  EXPECT_FALSE(log.Events().empty());
}

TEST(Timer, ExceptionHandlerCalledEachPeriod) {
  TLog log;
  const auto start = Clock::now();
  auto timer = std::make_unique<TbrzTimer>(1000);
  timer->SetOnTimer([&](TbrzTimer&) {
    log.Add("timer");
    throw Exception("tick failed");
  });
  timer->SetOnException([&](TbrzTimer& t, const Exception& E) {
    log.Add(std::string("exception:") + E.what() + (t.IsExecuting() ? "" : ":not executing"));
  });
  ASSERT_TRUE(WaitUntil([&] { return log.Count("exception:tick failed") >= 3; }));
  EXPECT_GE(Clock::now() - start, milliseconds(3000));  // once a second
  FreeTimerAndWait(timer);
  const auto events = log.Events();
  ASSERT_GE(events.size(), 6u);
  for (size_t i = 0; i + 1 < events.size(); i += 2) {
    EXPECT_EQ(events[i], "timer");
    EXPECT_EQ(events[i + 1], "exception:tick failed");
  }
}

TEST(Timer, ExceptionWithoutHandlerKeepsTheTimerRunning) {
  std::atomic<int> ticks{0};
  auto timer = std::make_unique<TbrzTimer>(100);
  timer->SetOnTimer([&](TbrzTimer&) {
    ++ticks;
    throw Exception("ignored");
  });
  ASSERT_TRUE(WaitUntil([&] { return ticks.load() >= 3; }));
  EXPECT_FALSE(timer->Finished());
  FreeTimerAndWait(timer);
}

TEST(Timer, OtherExceptionsEndTheThread) {
  std::atomic<int> ticks{0};
  auto timer = std::make_unique<TbrzTimer>(100);
  timer->SetOnTimer([&](TbrzTimer&) {
    ++ticks;
    throw std::runtime_error("not a brz exception");
  });
  ASSERT_TRUE(WaitUntil([&] { return timer->Finished(); }));
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_EQ(ticks.load(), 1);
  EXPECT_TRUE(timer->Terminated());
  FreeTimer(timer);
}

TEST(Timer, FreeTimerInsideOnTimerReturnsAtOnce) {
  TLog log;
  std::unique_ptr<TbrzTimer> timer = std::make_unique<TbrzTimer>(100);
  auto sentinel = std::make_shared<TSentinel>(log);
  std::atomic<bool> armed{false};
  timer->SetOnTimer([&log, &timer, &armed, sentinel](TbrzTimer&) {
    if (!armed.load()) return;
    log.Add("handler start");
    FreeTimer(timer);
    log.Add(timer == nullptr ? "freed, reference empty" : "freed, reference kept");
    std::this_thread::sleep_for(milliseconds(200));  // the timer must outlive its running handler
    log.Add("handler end");
  });
  sentinel.reset();
  armed = true;
  ASSERT_TRUE(WaitUntil([&] { return log.Count("destroyed") == 1; }));
  EXPECT_EQ(log.Events(), (std::vector<std::string>{"handler start", "freed, reference empty", "handler end",
                                                     "destroyed"}));
}

TEST(Timer, FreeTimerFromAnotherThreadStopsTicks) {
  // Owned by the handler too: FreeTimer does not wait for a handler that is running at that moment.
  auto ticks = std::make_shared<std::atomic<int>>(0);
  auto timer = std::make_unique<TbrzTimer>(100);
  timer->SetOnTimer([ticks](TbrzTimer&) { ++*ticks; });
  ASSERT_TRUE(WaitUntil([&] { return ticks->load() >= 2; }));
  FreeTimer(timer);
  EXPECT_EQ(timer, nullptr);
  std::this_thread::sleep_for(milliseconds(150));
  const int after = ticks->load();
  std::this_thread::sleep_for(milliseconds(400));
  EXPECT_EQ(ticks->load(), after);
  FreeTimer(timer);  // an empty reference: nothing
}

TEST(Timer, FreeTimerWhileHandlerRunsOnItsThread) {
  TLog log;
  auto timer = std::make_unique<TbrzTimer>(100);
  auto sentinel = std::make_shared<TSentinel>(log);
  std::atomic<bool> inHandler{false}, release{false};
  timer->SetOnTimer([&, sentinel](TbrzTimer&) {
    if (log.Count("handler") > 0) return;
    log.Add("handler");
    inHandler = true;
    while (!release.load()) std::this_thread::sleep_for(milliseconds(1));
    log.Add("handler end");
  });
  sentinel.reset();
  ASSERT_TRUE(WaitUntil([&] { return inHandler.load(); }));
  FreeTimer(timer);  // IsExecuting: marks and returns without waiting
  EXPECT_EQ(timer, nullptr);
  EXPECT_EQ(log.Count("destroyed"), 0u);
  release = true;
  ASSERT_TRUE(WaitUntil([&] { return log.Count("destroyed") == 1; }));
  EXPECT_EQ(log.Events(), (std::vector<std::string>{"handler", "handler end", "destroyed"}));
}

TEST(Timer, EnabledFalseThenTrueGivesNoMoreTicks) {
  std::atomic<int> ticks{0};
  auto timer = std::make_unique<TbrzTimer>(100);
  timer->SetOnTimer([&](TbrzTimer&) { ++ticks; });
  timer->SetEnabled(true);
  EXPECT_TRUE(timer->Enabled());
  ASSERT_TRUE(WaitUntil([&] { return ticks.load() >= 2; }));
  timer->SetEnabled(false);
  EXPECT_FALSE(timer->Enabled());
  EXPECT_TRUE(timer->Terminated());
  ASSERT_TRUE(WaitUntil([&] { return timer->Finished(); }));
  const int after = ticks.load();
  timer->SetEnabled(true);  // does not restart
  std::this_thread::sleep_for(milliseconds(500));
  EXPECT_EQ(ticks.load(), after);
  EXPECT_TRUE(timer->Terminated());
  FreeTimer(timer);
}

TEST(Timer, IntervalZeroFiresWithoutWaiting) {
  std::atomic<int> ticks{0};
  auto timer = std::make_unique<TbrzTimer>(0, false);
  timer->SetOnTimer([&](TbrzTimer&) { ++ticks; });
  timer->Start();
  ASSERT_TRUE(WaitUntil([&] { return ticks.load() >= 50; }));
  FreeTimerAndWait(timer);  // the handler runs nearly all the time: FreeTimer would not wait for it
  EXPECT_EQ(timer, nullptr);
}

TEST(Timer, SuspendedTimerStartsOnEnabled) {
  std::atomic<int> ticks{0};
  auto timer = std::make_unique<TbrzTimer>(100, false);
  timer->SetOnTimer([&](TbrzTimer&) { ++ticks; });
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_EQ(ticks.load(), 0);
  EXPECT_EQ(timer->ThreadId(), 0u);
  timer->SetEnabled(true);
  ASSERT_TRUE(WaitUntil([&] { return ticks.load() >= 1; }));
  FreeTimerAndWait(timer);
}

TEST(Timer, IntervalChangeTakesEffectNextPeriod) {
  TLog log;
  const auto start = Clock::now();
  auto timer = std::make_unique<TbrzTimer>(300);
  std::atomic<int> ticks{0};
  std::atomic<int64_t> second{-1};
  timer->SetOnTimer([&](TbrzTimer& t) {
    if (++ticks == 1) {
      t.SetInterval(100);
    } else if (ticks == 2) {
      second = std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
    }
  });
  ASSERT_TRUE(WaitUntil([&] { return second.load() >= 0; }));
  EXPECT_GE(second.load(), 400);
  FreeTimerAndWait(timer);
}

TEST(Timer, RestartPeriodAbandonsThePeriodUnderWay) {
  std::atomic<int64_t> firstTick{-1};
  const auto start = Clock::now();
  auto timer = std::make_unique<TbrzTimer>(8000);
  timer->SetOnTimer([&](TbrzTimer&) {
    if (firstTick.load() < 0) firstTick = std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
  });
  std::this_thread::sleep_for(milliseconds(300));
  const int64_t restartedAt = std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
  timer->SetInterval(1000);
  timer->RestartPeriod();
  ASSERT_TRUE(WaitUntil([&] { return firstTick.load() >= 0; }, milliseconds(10000)));
  // A whole new period after the restart, with the new interval: long before the first period's end.
  EXPECT_GE(firstTick.load(), restartedAt + 1000);
  EXPECT_LT(firstTick.load(), 8000);
  FreeTimerAndWait(timer);
}

TEST(Timer, AsynchronousTicksRunOnTheMainThread) {
  SetMainThread();
  TLog log;
  const auto mainId = std::this_thread::get_id();
  auto timer = std::make_unique<TbrzTimer>(100, false);
  timer->SetNotifyEvents(TwsNotifyEvent::neAsynchronous);
  timer->SetOnTimer([&](TbrzTimer& t) {
    log.Add(std::this_thread::get_id() == mainId && t.IsExecuting() ? "main tick" : "wrong");
  });
  timer->SetEnabled(true);
  ASSERT_TRUE(PumpUntil([&] { return log.Count("main tick") >= 3; }));
  EXPECT_EQ(log.Count("wrong"), 0u);
  FreeTimer(timer);
  std::this_thread::sleep_for(milliseconds(50));
  ProcessMainThreadQueue();  // methods posted by the destroyed timer do nothing
  EXPECT_EQ(log.Count("wrong"), 0u);
}

TEST(Timer, SynchronousTicksWaitForTheMainThread) {
  SetMainThread();
  std::atomic<int> ticks{0};
  auto timer = std::make_unique<TbrzTimer>(100, false);
  timer->SetNotifyEvents(TwsNotifyEvent::neSynchronous);
  timer->SetOnTimer([&](TbrzTimer&) { ++ticks; });
  timer->Start();
  ASSERT_TRUE(PumpUntil([&] { return ticks.load() >= 2; }));
  // Now stop draining: the timer thread waits in its next tick, and FreeTimer must still finish.
  std::this_thread::sleep_for(milliseconds(250));
  const int before = ticks.load();
  FreeTimer(timer);
  EXPECT_EQ(MainThreadQueueCount(), 0u);  // the waiting request was withdrawn
  ProcessMainThreadQueue();
  EXPECT_EQ(ticks.load(), before);
}

TEST(Timer, SynchronousExceptionGoesToTheExceptionHandler) {
  SetMainThread();
  TLog log;
  auto timer = std::make_unique<TbrzTimer>(100, false);
  timer->SetNotifyEvents(TwsNotifyEvent::neSynchronous);
  timer->SetOnTimer([&](TbrzTimer&) {
    log.Add("timer");
    throw Exception("sync failure");
  });
  timer->SetOnException([&](TbrzTimer&, const Exception& E) { log.Add(E.what()); });
  timer->Start();
  ASSERT_TRUE(PumpUntil([&] { return log.Count("sync failure") >= 2; }));
  FreeTimerAndWait(timer);
}

TEST(Timer, FreeTimerInsideAsynchronousHandler) {
  SetMainThread();
  TLog log;
  std::unique_ptr<TbrzTimer> timer = std::make_unique<TbrzTimer>(100, false);
  auto sentinel = std::make_shared<TSentinel>(log);
  timer->SetNotifyEvents(TwsNotifyEvent::neAsynchronous);
  timer->SetOnTimer([&log, &timer, sentinel](TbrzTimer&) {
    if (!timer) return;  // a tick posted before the timer was freed
    log.Add("handler");
    FreeTimer(timer);
    std::this_thread::sleep_for(milliseconds(150));  // let the timer thread end meanwhile
    log.Add("handler end");
  });
  sentinel.reset();
  timer->Start();
  ASSERT_TRUE(PumpUntil([&] { return log.Count("destroyed") == 1; }));
  EXPECT_EQ(log.Events(), (std::vector<std::string>{"handler", "handler end", "destroyed"}));
  std::this_thread::sleep_for(milliseconds(50));
  ProcessMainThreadQueue();
}

}  // namespace
}  // namespace brz
