// Heartbeat, heartbeat-timeout check and watchdog of the client component against loopback peers,
// with intervals of one or two seconds. Waits are bounded; checks are on counts and order.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/FakeWSPeer.h"
#include "tests/support/ScriptedPeer.h"
#include "transport/TbrzSocketErrors.h"
#include "websocket/TbrzWSClient.h"
#include "websocket/WebSocketMessages.h"

namespace brz {
namespace {

using namespace std::chrono_literals;
using test::FakeWSPeer;
using test::ScriptedPeer;
using test::ToBytes;

// The client's events and watchdog tries, in order; handlers run on the client's threads. Declared
// before the client, so the client (and its threads) is gone before the list is.
class Recorder {
 public:
  void Attach(TbrzWebSocketClient& client) {
    client.OnConnect = [this](const TbrzConnectionPtr&) { Add("connect"); };
    client.OnDisconnect = [this](const TbrzConnectionPtr&, int32_t) { Add("disconnect"); };
    client.OnError = [this](const TbrzConnectionPtr&, const std::string& e) { Add("error " + e); };
    client.OnException = [this](const TbrzConnectionPtr&, const Exception& e) {
      // The read thread's report of the peer's close is not what these tests watch.
      if (dynamic_cast<const ESocketSilentError*>(&e)) return;
      Add(e.Message() == msg::kHeartBeatTimeout ? "timeout" : "exception");
    };
    client.OnBeforeWatchDog = [this](TbrzWSClient*, bool& handled) {
      handled = FHandleWatchDog.load();
      Add("try");
    };
  }
  void HandleWatchDog(bool value) { FHandleWatchDog = value; }
  void Add(const std::string& event) {
    std::lock_guard<std::mutex> guard(FLock);
    FEvents.push_back(event);
    FChanged.notify_all();
  }
  size_t Count(const std::string& event) {
    std::lock_guard<std::mutex> guard(FLock);
    return static_cast<size_t>(std::count(FEvents.begin(), FEvents.end(), event));
  }
  // Waits until event was seen count times (bounded).
  bool WaitFor(const std::string& event, size_t count, std::chrono::milliseconds timeout = 10s) {
    std::unique_lock<std::mutex> guard(FLock);
    return FChanged.wait_for(guard, timeout,
                             [&] { return static_cast<size_t>(std::count(FEvents.begin(), FEvents.end(), event)) >= count; });
  }
  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> guard(FLock);
    return FEvents;
  }

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  std::vector<std::string> FEvents;
  std::atomic<bool> FHandleWatchDog{false};
};

std::string Joined(const std::vector<std::string>& events) {
  std::string all;
  for (const auto& e : events) all += e + " ";
  return all;
}

// "yyyymmddhhnnsszzz" of a plausible local time.
bool IsPingTime(const std::string& text) {
  if (text.size() != 17 || !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
    return false;
  const int year = std::stoi(text.substr(0, 4)), month = std::stoi(text.substr(4, 2)), day = std::stoi(text.substr(6, 2));
  const int hour = std::stoi(text.substr(8, 2)), minute = std::stoi(text.substr(10, 2)),
            second = std::stoi(text.substr(12, 2));
  return year >= 2000 && month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour < 24 && minute < 60 && second < 60;
}

// A WebSocket client connected to a scripted peer that has answered the handshake.
struct WSSession {
  FakeWSPeer peer;
  Recorder events;
  TbrzWebSocketClient client;
  using BeforeHeartBeat = std::function<void(TbrzWSClient*, const TbrzConnectionPtr&, bool&)>;
  WSSession(int interval, int timeout, BeforeHeartBeat before = {}) {
    events.Attach(client);
    // Handlers are assigned before connecting: timer threads read them.
    client.OnBeforeHeartBeat = std::move(before);
    client.HeartBeat().Enabled = true;
    client.HeartBeat().Interval = interval;
    client.HeartBeat().Timeout = timeout;
    client.SetURL(peer.Url());
    client.Connect(0);
    EXPECT_TRUE(peer.Accept());
    EXPECT_FALSE(peer.ReadRequest().empty());
    peer.Answer("");
    EXPECT_TRUE(events.WaitFor("connect", 1));
  }
  ~WSSession() { client.Disconnect(5000); }
};

struct PingCase {
  const char* name;
  bool handled;  // OnBeforeHeartBeat takes every tick
};

class HeartBeatPing : public ::testing::TestWithParam<PingCase> {};

TEST_P(HeartBeatPing, PingsCarryTheLocalTimeUnlessTheHandlerTakesTheTick) {
  std::atomic<int> before{0};
  const bool handle = GetParam().handled;
  WSSession s(1, 0, [&before, handle](TbrzWSClient*, const TbrzConnectionPtr& c, bool& handled) {
    EXPECT_NE(c, nullptr);
    handled = handle;
    ++before;
  });
  if (GetParam().handled) {
    // Three ticks pass and no frame reaches the peer.
    for (int i = 0; i < 100 && before.load() < 3; ++i) std::this_thread::sleep_for(50ms);
    EXPECT_GE(before.load(), 3);
    EXPECT_FALSE(s.peer.ReadFrame(300ms).has_value());
    return;
  }
  for (int i = 0; i < 2; ++i) {
    auto frame = s.peer.ReadFrame(5s);
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->OpCode, 0x9);
    EXPECT_TRUE(frame->Masked);
    EXPECT_TRUE(IsPingTime(frame->Text())) << frame->Text();
    s.peer.Send(FakeWSPeer::Frame(0x8A, frame->Payload));
  }
  EXPECT_GE(before.load(), 2);
}

INSTANTIATE_TEST_SUITE_P(Handler, HeartBeatPing,
                         ::testing::Values(PingCase{"Pings", false}, PingCase{"HandledSkipsPing", true}),
                         [](const auto& info) { return std::string(info.param.name); });

struct TimeoutCase {
  const char* name;
  int interval;
  int timeout;
  bool answer;  // the peer answers every ping
  bool drops;
};

class HeartBeatTimeout : public ::testing::TestWithParam<TimeoutCase> {};

// The peer answers the first ping, then (unless it answers all) none: a Timeout drops the
// connection once the pongs stay away; Timeout 0 or answered pings never do.
TEST_P(HeartBeatTimeout, VerdictOnMissingPongs) {
  const TimeoutCase& t = GetParam();
  WSSession s(t.interval, t.timeout);
  auto first = s.peer.ReadFrame(5s);
  ASSERT_TRUE(first.has_value());
  s.peer.Send(FakeWSPeer::Frame(0x8A, first->Payload));
  // Watch for three timeouts' worth of time (at least four intervals).
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(std::max(3 * t.timeout, 4 * t.interval) + 1);
  int pings = 1;
  while (std::chrono::steady_clock::now() < end && s.events.Count("disconnect") == 0) {
    auto frame = s.peer.ReadFrame(200ms);
    if (!frame) continue;
    if (frame->OpCode != 0x9) continue;
    ++pings;
    if (t.answer) s.peer.Send(FakeWSPeer::Frame(0x8A, frame->Payload));
  }
  if (!t.drops) {
    EXPECT_EQ(Joined(s.events.Events()), "connect ");
    EXPECT_TRUE(s.client.Active());
    EXPECT_GE(pings, 4);
    return;
  }
  ASSERT_TRUE(s.events.WaitFor("disconnect", 1, 5s)) << Joined(s.events.Events());
  EXPECT_EQ(Joined(s.events.Events()), "connect timeout disconnect ");
  EXPECT_TRUE(s.peer.WaitClientClosed(5s));
  // One timeout after the first unanswered ping, give or take one ping: never on the first one.
  EXPECT_GE(pings, 2);
  EXPECT_LE(pings, 2 + t.timeout / t.interval + 2);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HeartBeatTimeout,
    ::testing::Values(TimeoutCase{"TimeoutAboveInterval", 1, 2, false, true},
                      TimeoutCase{"IntervalAboveTimeout", 2, 1, false, true},
                      TimeoutCase{"EqualIntervalAndTimeout", 1, 1, false, true},
                      TimeoutCase{"AnsweredPingsKeepTheConnection", 1, 2, true, false},
                      TimeoutCase{"TimeoutZeroNeverDrops", 1, 0, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HeartBeatRawTCP, TimeoutOfOneEndsTheConnectionAfterTheFirstPing) {
  ScriptedPeer peer;
  Recorder events;
  TbrzWebSocketClient client;
  events.Attach(client);
  client.HeartBeat().Enabled = true;
  client.HeartBeat().Interval = 1;
  client.HeartBeat().Timeout = 1;
  client.SetURL(peer.Url("tcp"));
  client.Connect(0);
  ASSERT_TRUE(peer.Accept());
  ASSERT_TRUE(events.WaitFor("connect", 1));
  // The ping is the 17 characters as they are: no frame on a raw connection.
  const test::Bytes got = peer.Receive(17, 5s);
  ASSERT_GE(got.size(), 17u);
  EXPECT_TRUE(IsPingTime(std::string(got.begin(), got.begin() + 17))) << test::ToText(got);
  ASSERT_TRUE(events.WaitFor("disconnect", 1, 10s)) << Joined(events.Events());
  EXPECT_EQ(Joined(events.Events()), "connect timeout disconnect ");
  EXPECT_TRUE(peer.WaitClientClosed(5s));
  EXPECT_LE(peer.Received().size(), 3 * 17u);
}

// A port where nothing listens.
std::string ClosedURL() { return "tcp://127.0.0.1:" + std::to_string(test::FreeTcpPort()); }

struct WatchDogCase {
  const char* name;
  bool handled;  // OnBeforeWatchDog takes every try
};

class WatchDogAttempts : public ::testing::TestWithParam<WatchDogCase> {};

TEST_P(WatchDogAttempts, ThreeTriesThenSilenceUntilTheNextActivation) {
  Recorder events;
  TbrzWebSocketClient client;
  events.Attach(client);
  events.HandleWatchDog(GetParam().handled);
  client.WatchDog().Enabled = true;
  client.WatchDog().Interval = 1;
  client.WatchDog().Attempts = 3;
  client.SetURL(ClosedURL());
  client.SetActive(true);
  ASSERT_TRUE(events.WaitFor("try", 3, 10s)) << Joined(events.Events());
  std::this_thread::sleep_for(2500ms);
  // Every try counts; a try the handler took makes no connect.
  const std::string tries = GetParam().handled ? "exception try try try "
                                               : "exception try exception try exception try exception ";
  EXPECT_EQ(Joined(events.Events()), tries);
  // The application activates again: a fresh round of tries.
  client.SetActive(true);
  ASSERT_TRUE(events.WaitFor("try", 6, 10s)) << Joined(events.Events());
  std::this_thread::sleep_for(2500ms);
  EXPECT_EQ(events.Count("try"), 6u) << Joined(events.Events());
  client.SetActive(false);
}

INSTANTIATE_TEST_SUITE_P(Handler, WatchDogAttempts,
                         ::testing::Values(WatchDogCase{"Reconnects", false}, WatchDogCase{"HandledStillCounts", true}),
                         [](const auto& info) { return std::string(info.param.name); });

struct StopCase {
  const char* name;
  bool byDeactivation;  // Active := false; otherwise WatchDog.Enabled := false
};

class WatchDogUnlimited : public ::testing::TestWithParam<StopCase> {};

TEST_P(WatchDogUnlimited, KeepsTryingUntilStopped) {
  Recorder events;
  TbrzWebSocketClient client;
  events.Attach(client);
  client.WatchDog().Enabled = true;
  client.WatchDog().Interval = 1;
  client.WatchDog().Attempts = 0;
  client.SetURL(ClosedURL());
  client.SetActive(true);
  ASSERT_TRUE(events.WaitFor("try", 4, 10s)) << Joined(events.Events());
  ASSERT_TRUE(events.WaitFor("exception", 5, 5s)) << Joined(events.Events());
  if (GetParam().byDeactivation) {
    client.SetActive(false);
  } else {
    client.WatchDog().Enabled = false;
  }
  // At most a tick already under way finishes; then nothing more.
  std::this_thread::sleep_for(1500ms);
  const size_t tries = events.Count("try");
  std::this_thread::sleep_for(2500ms);
  EXPECT_EQ(events.Count("try"), tries) << Joined(events.Events());
  EXPECT_EQ(events.Count("connect"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Stop, WatchDogUnlimited,
                         ::testing::Values(StopCase{"ByDeactivation", true}, StopCase{"ByDisablingTheWatchDog", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// A peer that closes is reconnected to; a close by the application never is.
TEST(WatchDogReconnect, PeerCloseReopensApplicationCloseDoesNot) {
  ScriptedPeer peer;
  Recorder events;
  TbrzWebSocketClient client;
  events.Attach(client);
  client.WatchDog().Enabled = true;
  client.WatchDog().Interval = 1;
  client.WatchDog().Attempts = 2;
  client.SetURL(peer.Url("tcp"));
  client.SetActive(true);
  ASSERT_TRUE(peer.Accept());
  ASSERT_TRUE(events.WaitFor("connect", 1));
  // Twice: the count of tries starts again after each successful connect.
  for (int round = 1; round <= 2; ++round) {
    peer.CloseClient();
    ASSERT_TRUE(events.WaitFor("disconnect", static_cast<size_t>(round)));
    ASSERT_TRUE(peer.Accept(10s)) << Joined(events.Events());
    ASSERT_TRUE(events.WaitFor("connect", static_cast<size_t>(round) + 1)) << Joined(events.Events());
  }
  EXPECT_EQ(Joined(events.Events()), "connect disconnect try connect disconnect try connect ");
  client.SetActive(false);
  ASSERT_TRUE(events.WaitFor("disconnect", 3));
  EXPECT_FALSE(peer.Accept(2500ms));
  EXPECT_EQ(events.Count("try"), 2u);
}

}  // namespace
}  // namespace brz
