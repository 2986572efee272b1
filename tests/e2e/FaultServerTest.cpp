// Remote operators that misbehave against `brzmqtt -server`: the program keeps serving the console and
// the operators that behave, drops the ones that do not, and keeps its memory bounded.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "tests/e2e/FaultPeers.h"

namespace brz::fault {
namespace {

using test::Hex;

constexpr const char* kApi = R"({"message":"api", "protocol":"mqtt", "params":{"version":"5.0"}})";
constexpr const char* kOptionsLine = R"({"event": "options", "protocol": "mqtt", "params":{"version": "5.0"}})";
constexpr long kMiB = 1024;
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
// Sanitizer runtimes multiply the program's memory: the bounds keep their shape, not their size.
constexpr long kSlack = 8;
#else
constexpr long kSlack = 1;
#endif

// brzmqtt listening for operators on a free loopback port.
struct Server {
  Server() : Port(test::FreeTcpPort()), Console({"-server", "-server.ip", "127.0.0.1", "-server.port:" + std::to_string(Port)}) {
    EXPECT_TRUE(Console.WaitFor("Server Listening on 127.0.0.1:" + std::to_string(Port)));
    EXPECT_TRUE(test::WaitForListening("127.0.0.1", Port, 10s));
  }
  // A well-behaved operator still gets its command run and the event broadcast to it.
  void ExpectOperatorServed() {
    Operator good(Port);
    ASSERT_TRUE(good.Connected());
    ASSERT_TRUE(good.Send(std::string(kApi) + "\n"));
    EXPECT_TRUE(good.WaitFor(kOptionsLine));
  }
  int Port;
  fault::Console Console;
};

TEST(FaultOperators, SilentAndStalledConnectionsAreDroppedWithoutBlockingOthers) {
  Server s;
  std::vector<std::unique_ptr<Operator>> idle;
  for (int i = 0; i < 20; ++i) idle.push_back(std::make_unique<Operator>(s.Port));
  // Half a request header, then nothing.
  for (int i = 0; i < 10; ++i) {
    idle.push_back(std::make_unique<Operator>(s.Port));
    ASSERT_TRUE(idle.back()->Send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"));
  }
  s.ExpectOperatorServed();
  EXPECT_TRUE(s.Console.Responsive());
  // Each is let go once its handshake time is up.
  for (auto& o : idle) EXPECT_TRUE(o->WaitClosed(20s));
  s.ExpectOperatorServed();
  EXPECT_EQ(s.Console.Exit(), 0);
}

TEST(FaultOperators, OverlongCommandLineIsRefusedAndTheOperatorDropped) {
  Server s;
  const long before = RssKiB(s.Console.Child().Pid());
  {
    // A line at the limit still runs.
    Operator big(s.Port);
    std::string line = R"({"message":"api", "protocol":"mqtt", "params":{"version":"5.0", "pad":")";
    line += std::string(1024 * 1024 - line.size() - 3, 'p') + "\"}}";
    ASSERT_EQ(line.size(), 1024u * 1024u);
    ASSERT_TRUE(big.Send(line + "\n"));
    EXPECT_TRUE(big.WaitFor(kOptionsLine));
  }
  for (bool withLineEnd : {false, true}) {
    SCOPED_TRACE(withLineEnd);
    Operator flood(s.Port);
    std::string line(1024 * 1024 + 1, 'a');
    if (withLineEnd) line += "\n";
    // The program may drop the connection before all of it is taken.
    (void)flood.Send(line);
    EXPECT_TRUE(s.Console.WaitFor("Command line longer than 1048576 bytes."));
    EXPECT_TRUE(flood.WaitClosed());
  }
  s.ExpectOperatorServed();
  EXPECT_TRUE(s.Console.Responsive());
  EXPECT_LT(RssKiB(s.Console.Child().Pid()) - before, 64 * kMiB * kSlack);
  EXPECT_EQ(s.Console.Exit(), 0);
}

TEST(FaultOperators, OperatorsLeavingOrStallingMidBroadcastCostTheOthersNothing) {
  Server s;
  HostileBroker broker;
  std::vector<std::unique_ptr<Operator>> operators;
  for (int i = 0; i < 5; ++i) {
    operators.push_back(std::make_unique<Operator>(s.Port));
    ASSERT_TRUE(operators.back()->Connected());
    // The first line makes each a classified raw operator.
    ASSERT_TRUE(operators.back()->Send(std::string(kApi) + "\n"));
  }
  for (auto& o : operators) ASSERT_TRUE(o->WaitFor(kOptionsLine));
  s.Console.Open(broker.Url());
  ASSERT_TRUE(broker.AcceptAndAcknowledge());
  ASSERT_TRUE(s.Console.WaitFor(R"({"event": "connect", "protocol": "mqtt")"));
  // The console is read all along; every publish line is broadcast to every operator.
  std::atomic<bool> stopReading{false};
  std::atomic<bool> dropped{false};
  std::thread console([&] {
    while (!stopReading) {
      auto line = s.Console.Child().ReadLine(100ms);
      if (line && line->find(" dropped: ") != std::string::npos) dropped = true;
    }
  });
  constexpr size_t kMessages = 100000;
  broker.StartFlood(Hex("30 08 00 03 61 2F 62 78 79 7A"), kMessages);
  for (auto& o : operators) EXPECT_TRUE(o->WaitFor(R"("event": "publish")"));
  // Mid-broadcast: two reset, one closes, one stops reading but stays connected.
  operators[0]->Abort();
  operators[1]->Abort();
  operators[2]->Close();
  Operator& stalled = *operators[3];
  Operator& reader = *operators[4];
  // The one that keeps reading gets every message; the stalled one holds up nobody and is let go once
  // a write to it stalls for the send time-out.
  size_t received = 1;
  const auto deadline = std::chrono::steady_clock::now() + 40s;
  while (received < kMessages && std::chrono::steady_clock::now() < deadline) {
    auto line = reader.ReadLine(15s);
    if (!line) break;
    if (line->find(R"("event": "publish")") != std::string::npos) ++received;
  }
  EXPECT_EQ(received, kMessages);
  // Only after its drop does it read again (and then finds the end after what was sent to it).
  for (int i = 0; i < 400 && !dropped; ++i) std::this_thread::sleep_for(50ms);
  EXPECT_TRUE(dropped);
  EXPECT_TRUE(stalled.WaitClosed(20s));
  stopReading = true;
  console.join();
  broker.StopFlood();
  EXPECT_TRUE(s.Console.Responsive(10s));
  ASSERT_TRUE(reader.Send(std::string(kApi) + "\n"));
  EXPECT_TRUE(reader.WaitFor(kOptionsLine, 10s));
  EXPECT_EQ(s.Console.Exit(), 0);
}

TEST(FaultOperators, FiveHundredConnectionsAtOnce) {
  Server s;
  const long before = RssKiB(s.Console.Child().Pid());
  std::vector<std::unique_ptr<Operator>> crowd;
  for (int i = 0; i < 500; ++i) crowd.push_back(std::make_unique<Operator>(s.Port));
  size_t connected = 0;
  for (auto& o : crowd) connected += o->Connected() ? 1 : 0;
  EXPECT_EQ(connected, 500u);
  // Half of them send a command at once.
  for (size_t i = 0; i < crowd.size(); i += 2) (void)crowd[i]->Send(std::string(kApi) + "\n");
  EXPECT_TRUE(s.Console.Responsive(20s));
  size_t answered = 0;
  for (size_t i = 0; i < crowd.size(); i += 2) answered += crowd[i]->WaitFor(kOptionsLine, 10s) ? 1 : 0;
  EXPECT_EQ(answered, 250u);
  const long peak = RssKiB(s.Console.Child().Pid());
  crowd.clear();
  s.ExpectOperatorServed();
  EXPECT_LT(peak - before, 256 * kMiB * kSlack) << "VmRSS " << before << " -> " << peak << " KiB";
  EXPECT_EQ(s.Console.Exit(), 0);
}

}  // namespace
}  // namespace brz::fault
