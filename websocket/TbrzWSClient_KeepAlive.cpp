// Heartbeat, heartbeat-timeout check and watchdog of the client component.
//
// Each mechanism has one timer slot; a stopped timer cannot run again, so a stop terminates the
// timer and parks it in FRetiredTimers until its thread has ended, and the next start makes a new
// one. Nothing here waits for a tick: stops are called from ticks and from delivery threads. Only
// teardown (DisposeHeartBeatTimers) waits, for every timer, after the connection is gone.

#include <algorithm>
#include <chrono>
#include <limits>

#include "common/MainThread.h"
#include "common/Time.h"
#include "framework/TbrzWSProtocol.h"
#include "transport/TbrzWSException.h"
#include "websocket/TbrzWSClient.h"
#include "websocket/TbrzWSConnectionRFC6455.h"
#include "websocket/WebSocketMessages.h"

namespace brz {

namespace {

// The watchdog's reconnect is running on this thread.
thread_local bool tWatchDogActivation = false;

class TWatchDogActivationScope {
 public:
  TWatchDogActivationScope() { tWatchDogActivation = true; }
  ~TWatchDogActivationScope() { tWatchDogActivation = false; }
  TWatchDogActivationScope(const TWatchDogActivationScope&) = delete;
  TWatchDogActivationScope& operator=(const TWatchDogActivationScope&) = delete;
};

// The connection's ping and pong times are wall-clock milliseconds.
int64_t WallNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Whole seconds between two times, truncated, whichever is later.
int64_t SecondsBetween(int64_t a, int64_t b) { return (a > b ? a - b : b - a) / 1000; }

// Seconds of an option as a timer period; options come from the console unchecked.
int32_t PeriodMs(int seconds) {
  const int64_t ms = static_cast<int64_t>(seconds) * 1000;
  return static_cast<int32_t>(std::clamp<int64_t>(ms, 0, std::numeric_limits<int32_t>::max()));
}

}  // namespace

bool TbrzWSClient::IsWatchDogActivation() { return tWatchDogActivation; }

std::unique_ptr<TbrzTimer> TbrzWSClient::MakeKeepAliveTimer(const char* aName, int32_t aInterval,
                                                            void (TbrzWSClient::*aTick)()) {
  auto timer = std::make_unique<TbrzTimer>(aInterval, false);
  timer->SetDebugName(aName);
  timer->SetNotifyEvents(NotifyEvents());
  // A failing tick is reported for the current connection (which drops it); the timer goes on.
  timer->SetOnTimer([this, aTick](TbrzTimer&) {
    try {
      (this->*aTick)();
    } catch (const std::exception& e) {
      if (auto c = Connection()) {
        ReportException(c, e.what(), &e);
      } else {
        DeliverException(e.what(), &e);
      }
    }
  });
  timer->SetOnException([this](TbrzTimer&, const Exception& E) {
    if (auto c = Connection()) {
      ReportException(c, E.Message(), &E);
    } else {
      DeliverException(E.Message(), &E);
    }
  });
  return timer;
}

void TbrzWSClient::RetireTimer(std::unique_ptr<TbrzTimer>& aSlot) {
  if (!aSlot) return;
  aSlot->Terminate();
  FRetiredTimers.push_back(std::move(aSlot));
}

void TbrzWSClient::ReapRetiredTimers() {
  std::vector<std::unique_ptr<TbrzTimer>> ended;
  {
    std::lock_guard<std::mutex> guard(FTimersLock);
    for (auto it = FRetiredTimers.begin(); it != FRetiredTimers.end();) {
      // Never enabled: no thread was launched.
      if (!(*it)->Enabled() || (*it)->Finished()) {
        ended.push_back(std::move(*it));
        it = FRetiredTimers.erase(it);
      } else {
        ++it;
      }
    }
  }
  // Their threads have ended: destroying them waits for nothing.
  ended.clear();
}

void TbrzWSClient::DisposeHeartBeatTimers() {
  std::vector<std::unique_ptr<TbrzTimer>> all;
  {
    std::lock_guard<std::mutex> guard(FTimersLock);
    all.push_back(std::move(FHeartBeatTimer));
    all.push_back(std::move(FHeartBeatTimeoutTimer));
    all.push_back(std::move(FWatchDogTimer));
    for (auto& timer : FRetiredTimers) all.push_back(std::move(timer));
    FRetiredTimers.clear();
  }
  for (auto& timer : all) FreeTimerAndWait(timer);
}

// --- Heartbeat ---

void TbrzWSClient::StartHeartBeat() {
  const TbrzWSHeartBeat_Options options = HeartBeat();
  if (!options.Enabled) return;
  const int32_t period = PeriodMs(options.Interval);
  {
    std::lock_guard<std::mutex> guard(FTimersLock);
    if (IsDestroying()) return;
    if (!FHeartBeatTimer) FHeartBeatTimer = MakeKeepAliveTimer(msg::kHeartBeatTimerName, period, &TbrzWSClient::HeartBeatTick);
    FHeartBeatTimer->SetInterval(period);
    // A protocol taking the keep-alive over (or a restart) counts its interval from now: the period
    // begun with the earlier interval must not fire.
    if (FHeartBeatTimer->Enabled()) FHeartBeatTimer->RestartPeriod();
    else if (period > 0) FHeartBeatTimer->SetEnabled(true);
  }
  ReapRetiredTimers();
}

void TbrzWSClient::StopHeartBeat() {
  {
    std::lock_guard<std::mutex> guard(FTimersLock);
    RetireTimer(FHeartBeatTimeoutTimer);
    RetireTimer(FHeartBeatTimer);
  }
  ReapRetiredTimers();
}

void TbrzWSClient::HeartBeatTick() {
  if (IsDestroying()) return;
  TbrzConnectionPtr c = Connection();
  if (!c || c->Disconnected()) return;
  try {
    bool handled = false;
    if (OnBeforeHeartBeat) OnBeforeHeartBeat(this, c, handled);
    if (handled) return;
    // The last matching protocol asked decides whether it kept the connection alive itself.
    bool pinged = false;
    if (!c->Protocol().empty()) {
      TDeliveryPass pass(*this);
      for (auto* object : MatchProtocolObjects(c, false))
        if (auto* protocol = dynamic_cast<TbrzWSProtocol*>(object)) pinged = protocol->DoProtocolHeartBeat(c);
    }
    if (!pinged) c->Ping(FormatLocalNow(msg::kPingTimeFormat));
    StartHeartBeatTimeout();
  } catch (const std::exception& e) {
    ReportException(c, e.what(), &e);
  }
}

void TbrzWSClient::StartHeartBeatTimeout() {
  const int timeout = HeartBeat().Timeout;
  if (timeout < 1) return;
  const int32_t period = PeriodMs(timeout);
  std::lock_guard<std::mutex> guard(FTimersLock);
  // A tick that overlapped a stop belongs to a connection that is gone.
  if (IsDestroying() || !FHeartBeatTimer) return;
  if (!FHeartBeatTimeoutTimer)
    FHeartBeatTimeoutTimer =
        MakeKeepAliveTimer(msg::kHeartBeatTimeoutTimerName, period, &TbrzWSClient::HeartBeatTimeoutTick);
  FHeartBeatTimeoutTimer->SetInterval(period);
  if (!FHeartBeatTimeoutTimer->Enabled()) FHeartBeatTimeoutTimer->SetEnabled(true);
}

void TbrzWSClient::HeartBeatTimeoutTick() {
  if (IsDestroying()) return;
  TbrzConnectionPtr c = Connection();
  if (!c) return;
  // Only the framed connection keeps ping and pong times.
  auto* framed = dynamic_cast<TbrzWSConnectionClientRFC6455*>(c.get());
  if (!framed) return;
  const int timeout = HeartBeat().Timeout;
  const int interval = HeartBeat().Interval;
  // Switched off meanwhile: no verdict (every age would be "at least 0 seconds").
  if (timeout < 1) return;
  TbrzWSConnectionCore& core = framed->Core();
  const int64_t now = WallNowMs();
  const int64_t lastPing = core.LastPing();
  const int64_t lastPong = core.LastPong();
  const int64_t firstPing = core.FirstPing();
  if (SecondsBetween(lastPing, lastPong) < timeout) {
    // The last ping was answered in time.
    core.SetFirstPing(0);
    return;
  }
  // A time of 0 means "never": it gives no age.
  const bool lastTooOld = interval >= timeout && lastPing != 0 && SecondsBetween(now, lastPing) >= timeout;
  const bool firstTooOld = timeout >= interval && firstPing != 0 && SecondsBetween(now, firstPing) >= timeout;
  if (!lastTooOld && !firstTooOld) return;
  {
    std::lock_guard<std::mutex> guard(FTimersLock);
    RetireTimer(FHeartBeatTimeoutTimer);
  }
  TbrzWSException e(msg::kHeartBeatTimeout);
  ReportException(c, e.what(), &e);
}

// --- Watchdog ---

void TbrzWSClient::StartWatchDog() {
  const TbrzWSWatchDogClient_Options options = WatchDog();
  if (!options.Enabled) return;
  const int32_t period = PeriodMs(options.Interval);
  {
    std::lock_guard<std::mutex> guard(FTimersLock);
    if (IsDestroying()) return;
    if (!FWatchDogTimer) FWatchDogTimer = MakeKeepAliveTimer(msg::kWatchDogTimerName, period, &TbrzWSClient::WatchDogTick);
    FWatchDogTimer->SetInterval(period);
    if (period > 0 && !FWatchDogTimer->Enabled()) FWatchDogTimer->SetEnabled(true);
  }
  ReapRetiredTimers();
}

void TbrzWSClient::StopWatchDog() {
  {
    std::lock_guard<std::mutex> guard(FTimersLock);
    RetireTimer(FWatchDogTimer);
  }
  ReapRetiredTimers();
}

void TbrzWSClient::WatchDogTick() {
  if (IsDestroying() || FConnecting.load()) return;
  // Switched off by the application while tries were running: they end here.
  if (!WatchDog().Enabled) {
    StopWatchDog();
    return;
  }
  const int attempts = WatchDog().Attempts;
  if (attempts > 0 && FWatchDogAttempts.load() >= attempts) return;
  bool handled = false;
  if (OnBeforeWatchDog) OnBeforeWatchDog(this, handled);
  // Counted whether or not the handler took the try, and before the reconnect starts, so that the
  // reset by a quick successful connect is never overwritten by this count.
  if (attempts > 0 && FWatchDogAttempts.fetch_add(1) + 1 >= attempts) StopWatchDog();
  if (!handled) {
    if (NotifyEvents() != TwsNotifyEvent::neNoSync && !FThreadStart.load()) {
      if (!Active()) {
        std::shared_ptr<std::atomic<bool>> token = FWatchDogToken;
        const uint64_t deactivations = FDeactivations.load();
        QueueToMainThread([this, token, deactivations] {
          if (!token->load() || FDeactivations.load() != deactivations) return;
          TWatchDogActivationScope scope;
          try {
            SetActive(true);
          } catch (const std::exception& e) {
            DeliverException(e.what(), &e);
          }
        });
      }
    } else if (!Connection()) {
      WatchDogStart();
    }
  }
}

void TbrzWSClient::WatchDogStart() {
  FThreadStart = true;
  const uint64_t deactivations = FDeactivations.load();
  SpawnClientThread([this, deactivations] {
    TbrzLock lock(CS());
    // The application deactivated since the tick: a close it asked for is never followed by a reconnect.
    if (IsDestroying() || FDeactivations.load() != deactivations) return;
    {
      TWatchDogActivationScope scope;
      SetActive(true);
    }
    // ... not even when it asked while this connect was under way.
    if (FDeactivations.load() != deactivations) SetActive(false);
  });
}

// --- Connect and disconnect bookkeeping of the component's own events ---

void TbrzWSClient::RaiseConnectEvent(const TbrzConnectionPtr& C) {
  StopWatchDog();
  TbrzWSComponent_WSClient::RaiseConnectEvent(C);
  FWatchDogAttempts = 0;
}

void TbrzWSClient::RaiseDisconnectEvent(const TbrzConnectionPtr& C, int32_t Code) {
  StopHeartBeat();
  TbrzWSComponent_WSClient::RaiseDisconnectEvent(C, Code);
  if (FWatchDogEnabled.load()) StartWatchDog();
}

}  // namespace brz
