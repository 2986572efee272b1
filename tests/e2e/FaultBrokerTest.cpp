// The built program against brokers and WebSocket peers that misbehave after the CONNACK: it must keep
// serving the console, report errors where they are due and keep its memory bounded.

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/e2e/FaultPeers.h"
#include "websocket/TbrzWSFrameMessages.h"

namespace brz::fault {
namespace {

using test::Hex;

constexpr const char* kConnectLine = R"({"event": "connect", "protocol": "mqtt")";
constexpr const char* kDisconnected = R"({"event": "disconnected", "protocol": "mqtt")";
constexpr const char* kMalformed = "Malformed variable byte integer.";
constexpr long kMiB = 1024;
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
// Sanitizer runtimes multiply the program's memory: the bounds keep their shape, not their size.
constexpr long kSlack = 8;
#else
constexpr long kSlack = 1;
#endif

size_t CountContaining(const std::vector<std::string>& lines, const std::string& needle) {
  return static_cast<size_t>(std::count_if(lines.begin(), lines.end(),
                                           [&](const std::string& l) { return l.find(needle) != std::string::npos; }));
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  return text;
}

// A console connected to the hostile broker, CONNACK answered and the connect line read.
struct Session {
  explicit Session(bool websocket = false) : Broker(websocket) {
    Console.Open(Broker.Url());
    EXPECT_TRUE(Broker.AcceptAndAcknowledge());
    EXPECT_TRUE(Console.WaitFor(kConnectLine));
  }
  // After the fault and its disconnected line: the console answers, and a fresh open reaches the broker
  // and connects again.
  void ExpectRecovered(std::vector<std::string>& seen) {
    EXPECT_TRUE(Console.Responsive(10s, &seen)) << Joined(seen);
    Broker.CloseClient();
    Console.Open(Broker.Url());
    EXPECT_TRUE(Broker.AcceptAndAcknowledge()) << Joined(seen);
    EXPECT_TRUE(Console.WaitFor(kConnectLine, 10s, &seen)) << Joined(seen);
  }
  HostileBroker Broker;
  fault::Console Console;
};

TEST(FaultBroker, HugeAnnouncedLengthThenStallHoldsNoMemoryForIt) {
  Session s;
  const long before = RssKiB(s.Console.Child().Pid());
  // A PUBLISH announcing 256 MiB - 1, its first 64 KiB, then nothing more.
  Bytes head = Hex("30 FF FF FF 7F 00 03 61 2F 62");
  head.resize(head.size() + 64 * 1024, 'x');
  ASSERT_TRUE(s.Broker.Send(head));
  std::vector<std::string> seen;
  EXPECT_TRUE(s.Console.Responsive(10s, &seen));
  EXPECT_EQ(CountContaining(seen, R"("event": "publish")"), 0u);
  const long after = RssKiB(s.Console.Child().Pid());
  EXPECT_LT(after - before, 32 * kMiB * kSlack) << "VmRSS " << before << " -> " << after << " KiB";
  EXPECT_EQ(s.Console.Exit(), 0);
}

TEST(FaultBroker, MalformedRemainingLengthIsReportedAndTheConnectionDropped) {
  for (const char* hex : {"30 FF FF FF FF 01", "20 80 80 80 80 00", "D0 FF FF FF FF FF FF"}) {
    SCOPED_TRACE(hex);
    Session s;
    ASSERT_TRUE(s.Broker.Send(Hex(hex)));
    std::vector<std::string> seen;
    EXPECT_TRUE(s.Console.WaitFor(kMalformed, 10s, &seen));
    EXPECT_TRUE(s.Console.WaitFor(kDisconnected, 10s, &seen));
    EXPECT_TRUE(s.Broker.WaitClientClosed());
    s.ExpectRecovered(seen);
    EXPECT_EQ(CountContaining(seen, R"("event": "publish")"), 0u);
    EXPECT_EQ(s.Console.Exit(), 0);
  }
}

TEST(FaultBroker, TruncatedBodiesAreSkippedAndTheStreamStaysInStep) {
  Session s;
  // Whole packets whose bodies end too early for what they announce.
  for (const char* hex : {"30 01 00", "32 03 00 05 61", "34 02 00 01", "90 01 00", "B0 00", "40 01 00",
                          "50 00", "62 01 07", "70 00", "F0 00"}) {
    ASSERT_TRUE(s.Broker.Send(Hex(hex)));
  }
  ASSERT_TRUE(s.Broker.Send(Hex("30 07 00 03 61 2F 62 68 69")));
  std::vector<std::string> seen;
  auto line = s.Console.WaitFor(R"("topic": "a/b")", 10s, &seen);
  ASSERT_TRUE(line.has_value());
  EXPECT_NE(line->find(R"("text": "hi")"), std::string::npos) << *line;
  EXPECT_TRUE(s.Console.Responsive());
  EXPECT_EQ(s.Console.Exit(), 0);
}

TEST(FaultBroker, CloseInsideAPacketDeliversNothingOfIt) {
  for (const char* hex : {"30 07 00 03 61 2F", "30", "30 FF FF", "32 09 00 03 61 2F 62 00"}) {
    SCOPED_TRACE(hex);
    Session s;
    ASSERT_TRUE(s.Broker.Send(Hex(hex)));
    s.Broker.CloseClient();
    std::vector<std::string> seen;
    EXPECT_TRUE(s.Console.WaitFor(kDisconnected, 10s, &seen));
    s.ExpectRecovered(seen);
    EXPECT_EQ(CountContaining(seen, R"("event": "publish")"), 0u);
    EXPECT_EQ(s.Console.Exit(), 0);
  }
}

TEST(FaultBroker, PublishFloodKeepsTheConsoleAndMemoryBounded) {
  Session s;
  const pid_t pid = s.Console.Child().Pid();
  const long before = RssKiB(pid);
  constexpr size_t kMessages = 200000;
  s.Broker.StartFlood(Hex("30 08 00 03 61 2F 62 78 79 7A"), kMessages);
  // Nobody reads the console for a while: the program can only wait, not pile up lines.
  long peak = 0;
  for (int i = 0; i < 20; ++i) {
    std::this_thread::sleep_for(100ms);
    peak = std::max(peak, RssKiB(pid));
  }
  // A command among the flood is still answered.
  std::vector<std::string> seen;
  EXPECT_TRUE(s.Console.Responsive(20s, &seen));
  EXPECT_GT(CountContaining(seen, R"("event": "publish")"), 0u);
  peak = std::max(peak, RssKiB(pid));
  // The rest of the flood, read as it comes.
  for (int i = 0; i < 40 && s.Broker.Flooded() < kMessages; ++i) {
    (void)s.Console.Child().ReadLineContaining("no such line", 250ms, nullptr);
    peak = std::max(peak, RssKiB(pid));
  }
  EXPECT_LT(peak - before, 64 * kMiB * kSlack) << "VmRSS " << before << " -> peak " << peak << " KiB";
  // EXIT in the middle of it ends the program.
  EXPECT_EQ(s.Console.Exit(), 0);
  s.Broker.StopFlood();
}

// --- WebSocket peers ---

TEST(FaultWebSocketPeer, FramesItMustRefuseEndTheConnectionWithAnError) {
  struct Case {
    const char* Name;
    const char* Hex;
    const char* Error;
  };
  for (const Case& c : {Case{"2^32-byte frame", "82 7F 00 00 00 01 00 00 00 00", msg::kWSFrameTooLarge},
                        Case{"2^63-byte frame", "82 7F 7F FF FF FF FF FF FF FF", msg::kWSFrameTooLarge},
                        Case{"reserved opcode", "83 00", msg::kWSInvalidOpCode},
                        Case{"continuation without a start", "00 00", msg::kWSContinuationWithoutMessage}}) {
    SCOPED_TRACE(c.Name);
    Session s(true);
    ASSERT_TRUE(s.Broker.SendRaw(Hex(c.Hex)));
    std::vector<std::string> seen;
    EXPECT_TRUE(s.Console.WaitFor(c.Error, 10s, &seen));
    EXPECT_TRUE(s.Console.WaitFor(kDisconnected, 10s, &seen));
    EXPECT_TRUE(s.Broker.WaitClientClosed());
    s.ExpectRecovered(seen);
    EXPECT_EQ(s.Console.Exit(), 0);
  }
}

TEST(FaultWebSocketPeer, InvalidUTF8TextKeepsTheProgramServing) {
  Session s(true);
  ASSERT_TRUE(s.Broker.SendRaw(Hex("81 04 61 FF C0 AF")));
  ASSERT_TRUE(s.Broker.Send(Hex("30 07 00 03 61 2F 62 68 69")));
  std::vector<std::string> seen;
  EXPECT_TRUE(s.Console.Responsive(10s, &seen));
  EXPECT_EQ(s.Console.Exit(), 0);
}

TEST(FaultWebSocketPeer, NeverEndingFragmentedMessageIsCutOff) {
  Session s(true);
  const pid_t pid = s.Console.Child().Pid();
  const long before = RssKiB(pid);
  // A binary message that is never finished: a first fragment, then 64 KiB continuations.
  Bytes piece(65535, 'x');
  ASSERT_TRUE(s.Broker.SendRaw(ServerFrame(0x02, piece)));
  Bytes continuation = ServerFrame(0x00, piece);
  // Past the 256 MiB a message may hold.
  const size_t frames = 300 * 16;
  size_t sent = 0;
  for (; sent < frames && s.Broker.SendRaw(continuation); ++sent) {
  }
  std::vector<std::string> seen;
  EXPECT_TRUE(s.Console.WaitFor(msg::kWSMessageTooLarge, 20s, &seen)) << sent << " continuation frames sent";
  EXPECT_TRUE(s.Console.WaitFor(kDisconnected, 10s, &seen));
  EXPECT_TRUE(s.Broker.WaitClientClosed());
  const long after = RssKiB(pid);
  EXPECT_LT(after - before, 600 * kMiB * kSlack) << "VmRSS " << before << " -> " << after << " KiB";
  s.ExpectRecovered(seen);
  EXPECT_EQ(s.Console.Exit(), 0);
}

}  // namespace
}  // namespace brz::fault
