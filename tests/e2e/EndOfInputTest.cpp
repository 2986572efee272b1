// The built program at the end of its input: QoS 1/2 flows piped in all complete before it ends,
// the in-flight window keeps a real broker within its limits, publishes made while the broker is
// down are sent once it is back, and the exit status says what happened. Also: a bad value skips
// its command only, and frames beyond the size limit get the 1009 close frame.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "app/ExitStatus.h"
#include "tests/e2e/FaultPeers.h"
#include "tests/support/FakeWSPeer.h"

namespace brz::fault {
namespace {

using Clock = std::chrono::steady_clock;

// Beyond the drain time a program may take a second to end; sanitizer builds end more slowly.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::chrono::milliseconds kEndSlack = 4s;
#else
constexpr std::chrono::milliseconds kEndSlack = 1s;
#endif

std::string OpenLine(int port, const std::string& scheme = "tcp", const std::string& path = "") {
  return R"({"message":"open", "params":{"url":")" + scheme + "://127.0.0.1:" + std::to_string(port) + path + "\"}}";
}

std::string ApiLine(const std::string& version) {
  return R"({"message":"api", "protocol":"mqtt", "params":{"version":")" + version + "\"}}";
}

std::string PublishLine(const std::string& topic, const std::string& text, int qos) {
  return R"({"message":"publish", "protocol":"mqtt", "params":{"topic":")" + topic + R"(", "text":")" + text +
         R"(", "qos":)" + std::to_string(qos) + "}}";
}

// A blocking TCP connection to 127.0.0.1:port; -1 on failure.
int ConnectLoopback(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
  if (fd >= 0) ::close(fd);
  return -1;
}

size_t CountOf(const std::string& haystack, const std::string& needle) {
  size_t count = 0;
  for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + needle.size()))
    ++count;
  return count;
}

// A mosquitto_sub on the broker whose subscription is known to be in place: it has printed a probe
// published after it started.
class Subscriber {
 public:
  Subscriber(int port, const std::string& topic, const std::vector<std::string>& extra = {})
      : FProcess([&] {
          std::vector<std::string> argv{"mosquitto_sub", "-h", "127.0.0.1", "-p", std::to_string(port), "-q", "2",
                                        "-t", topic};
          argv.insert(argv.end(), extra.begin(), extra.end());
          return argv;
        }()) {
    FPort = port;
  }
  // Publishes probes to probeTopic until one comes back (bounded).
  bool WaitReady(const std::string& probeTopic) {
    for (int attempt = 0; attempt < 50; ++attempt) {
      test::Process probe({"mosquitto_pub", "-h", "127.0.0.1", "-p", std::to_string(FPort), "-t", probeTopic, "-m",
                           "probe"});
      probe.Wait(10s);
      if (FProcess.ReadLineContaining("probe", 200ms)) return true;
    }
    return false;
  }
  // Reads payloads until every one of expected was seen (bounded); returns those still missing.
  std::set<std::string> Missing(std::set<std::string> expected, std::chrono::milliseconds timeout = 30s) {
    const auto deadline = Clock::now() + timeout;
    while (!expected.empty() && Clock::now() < deadline) {
      auto line = FProcess.ReadLine(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
      if (!line) break;
      expected.erase(*line);
    }
    return expected;
  }

 private:
  test::Process FProcess;
  int FPort = 0;
};

// Runs brzmqtt with the whole input at once and its standard input closed; returns its status.
struct PipeRun {
  std::string Out;
  std::string Err;
  int Status = -1;
};
PipeRun RunPiped(const std::vector<std::string>& args, const std::string& input, std::chrono::milliseconds timeout) {
  std::vector<std::string> argv{test::BrzmqttPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  test::Process program(argv);
  // Written from a thread: the program's output is read meanwhile, so neither side can stall.
  std::thread writer([&program, &input] {
    program.Write(input);
    program.CloseStdin();
  });
  PipeRun run;
  run.Out = program.ReadAll(timeout);
  writer.join();
  run.Status = program.Wait(timeout);
  run.Err = program.ReadStderr();
  return run;
}

// The subscriber's output is read after the run: the broker keeps everything for it meanwhile.
constexpr const char* kKeepAllQueued = "max_queued_messages 0\n";

TEST(EndOfInput, PipedQoSFlowsAllCompleteBeforeTheProgramEnds) {
  test::Broker broker(kKeepAllQueued, false);
  Subscriber subscriber(broker.Port(), "eoi/#");
  ASSERT_TRUE(subscriber.WaitReady("eoi/probe"));
  std::string input = OpenLine(broker.Port()) + "\n";
  std::set<std::string> expected;
  for (int i = 0; i < 2500; ++i) {
    const std::string text = "m" + std::to_string(i);
    input += PublishLine("eoi/t", text, i < 2000 ? 1 : 2) + "\n";
    expected.insert(text);
  }
  const PipeRun run = RunPiped({}, input, 60s);
  EXPECT_EQ(run.Status, exitstatus::kOK) << run.Err;
  EXPECT_EQ(CountOf(run.Out, R"({"event": "puback", "protocol": "mqtt")"), 2000u);
  EXPECT_EQ(CountOf(run.Out, R"({"event": "pubcomp", "protocol": "mqtt")"), 500u);
  EXPECT_EQ(subscriber.Missing(expected).size(), 0u);
}

class MixedBurst : public ::testing::TestWithParam<const char*> {};

TEST_P(MixedBurst, StaysWithinTheBrokersLimitsAndEveryAcknowledgedMessageArrives) {
  test::Broker broker(kKeepAllQueued, false);
  Subscriber subscriber(broker.Port(), "mix/#");
  ASSERT_TRUE(subscriber.WaitReady("mix/probe"));
  std::string input = ApiLine(GetParam()) + "\n" + OpenLine(broker.Port()) + "\n";
  std::set<std::string> acknowledged;
  for (int i = 0; i < 900; ++i) {
    const int qos = i % 3;
    const std::string text = "x" + std::to_string(i);
    input += PublishLine("mix/t", text, qos) + "\n";
    if (qos > 0) acknowledged.insert(text);
  }
  const PipeRun run = RunPiped({}, input, 60s);
  EXPECT_EQ(run.Status, exitstatus::kOK) << run.Err;
  EXPECT_EQ(CountOf(run.Out, "Quota exceeded"), 0u);
  EXPECT_EQ(CountOf(run.Out, R"({"event": "puback")"), 300u);
  EXPECT_EQ(CountOf(run.Out, R"({"event": "pubcomp")"), 300u);
  EXPECT_EQ(CountOf(run.Out, R"("reasoncode": 0)"), 1u + 900u) << "a flow was refused";  // CONNACK + acks
  EXPECT_EQ(subscriber.Missing(acknowledged).size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Versions, MixedBurst, ::testing::Values("3.1.1", "5.0"),
                         [](const auto& info) { return std::string(info.param) == "5.0" ? "MQTT5" : "MQTT311"; });

TEST(EndOfInput, PublishesAcrossTwoBrokerRestartsAllArriveWithTheWatchdogOn) {
  test::TempDir data;
  // The broker keeps the subscriber's session and its queued messages across its restarts.
  test::Broker broker(std::string(kKeepAllQueued) + "persistence true\npersistence_location " + data.Path() + "/\n",
                      false);
  const std::string port = std::to_string(broker.Port());
  test::Process registration({"mosquitto_sub", "-h", "127.0.0.1", "-p", port, "-c", "-i", "eoi-restart", "-q", "1",
                              "-t", "wd/#", "-E"});
  ASSERT_EQ(registration.Wait(10s), 0);

  Console console({"-drain", "30"});
  console.Send(R"({"message":"watchdog", "params":{"watchdog":{"enabled": true, "interval": 1}}})");
  console.Send(OpenLine(broker.Port()));
  std::vector<std::string> seen;
  ASSERT_TRUE(console.WaitFor(R"({"event": "connect", "protocol": "mqtt")", 10s, &seen));
  std::set<std::string> expected;
  int next = 0;
  auto publish = [&](int count) {
    for (int i = 0; i < count; ++i, ++next) {
      const std::string text = "r" + std::to_string(next);
      console.Send(PublishLine("wd/t", text, 1));
      expected.insert(text);
    }
  };
  for (int restart = 0; restart < 2; ++restart) {
    publish(100);
    broker.Stop();  // while flows are under way
    ASSERT_TRUE(console.WaitFor(R"({"event": "disconnected", "protocol": "mqtt")", 10s, &seen));
    publish(100);  // while it is down
    broker.Start();
    ASSERT_TRUE(console.WaitFor(R"({"event": "connect", "protocol": "mqtt")", 15s, &seen));
  }
  publish(100);
  console.Child().CloseStdin();
  std::string rest = console.Child().ReadAll(40s);
  EXPECT_EQ(console.Child().Wait(40s), exitstatus::kOK);
  for (const std::string& line : seen) rest += line + "\n";
  // Every message's flow completed exactly once.
  EXPECT_EQ(CountOf(rest, R"({"event": "puback", "protocol": "mqtt")"), expected.size());

  Subscriber collector(broker.Port(), "wd/#", {"-c", "-i", "eoi-restart"});
  EXPECT_EQ(collector.Missing(expected).size(), 0u);
}

TEST(EndOfInput, RefusedLoginGivesTheConnackReasonCode) {
  test::TempDir dir;
  const std::string passwords = dir.File("passwords");
  test::Process make({"mosquitto_passwd", "-b", "-c", passwords, "user", "mellow"});
  ASSERT_EQ(make.Wait(10s), 0);
  ::chmod(passwords.c_str(), 0644);
  test::Broker broker("allow_anonymous false\npassword_file " + passwords + "\n", false);
  for (const auto& [version, status] : {std::pair<std::string, int>{"3.1.1", 5}, {"5.0", 135}}) {
    SCOPED_TRACE(version);
    const std::string input =
        ApiLine(version) + "\n" +
        R"({"message":"authentication", "protocol":"mqtt", "params":{"enabled":true, "username":"user", "password":"wrong"}})" +
        "\n" + OpenLine(broker.Port()) + "\n" + PublishLine("t", "x", 1) + "\n";
    const PipeRun run = RunPiped({}, input, 20s);
    EXPECT_EQ(run.Status, status) << run.Out << run.Err;
  }
}

TEST(EndOfInput, NeverAcknowledgedPublishesGiveTheirStatusWithinTheDrainTime) {
  for (const bool exitCommand : {false, true}) {
    SCOPED_TRACE(exitCommand ? "EXIT" : "end of input");
    HostileBroker broker;
    // EXIT under the default drain time: ending at once is then plain to see.
    Console console(exitCommand ? std::vector<std::string>{} : std::vector<std::string>{"-drain", "1"});
    console.Send(OpenLine(broker.Port()));
    ASSERT_TRUE(broker.AcceptAndAcknowledge());
    ASSERT_TRUE(console.WaitFor(R"({"event": "connect", "protocol": "mqtt")"));
    for (int i = 0; i < 3; ++i) console.Send(PublishLine("t", "x", 1 + i % 2));
    EXPECT_TRUE(console.Responsive());
    const auto start = Clock::now();
    if (exitCommand) {
      // EXIT ends at once, whatever is unfinished.
      console.Send("EXIT");
    } else {
      console.Child().CloseStdin();
    }
    (void)console.Child().ReadAll(10s);
    const int status = console.Child().Wait(10s);
    EXPECT_EQ(status, exitCommand ? exitstatus::kOK : exitstatus::kUnacknowledged);
    EXPECT_LT(Clock::now() - start, 1s + kEndSlack);
  }
}

TEST(EndOfInput, BadValuesSkipTheirCommandAndTheSessionGoesOn) {
  test::Broker broker("", false);
  Console console;
  console.Send(OpenLine(broker.Port()));
  ASSERT_TRUE(console.WaitFor(R"({"event": "connect", "protocol": "mqtt")"));
  console.Send(R"({"message":"subscribe", "protocol":"mqtt", "params":{"topic":"bad/#"}})");
  ASSERT_TRUE(console.WaitFor(R"({"event": "subscribe")"));
  const std::pair<const char*, const char*> cases[] = {
      {R"("abc")", "EConvertError: 'abc' is not a valid integer value"},
      {"1.5", "EConvertError: '1.5' is not a valid integer value"},
      {"true", "EConvertError: 'true' is not a valid integer value"},
      {"99999999999", "EConvertError: '99999999999' is not a valid integer value"},
  };
  for (const auto& [qos, line] : cases) {
    console.Send(R"({"message":"publish", "protocol":"mqtt", "params":{"topic":"bad/t", "text":"skipped", "qos":)" +
                 std::string(qos) + "}}");
    EXPECT_EQ(console.Child().ReadLine(10s).value_or("<nothing>"), line);
  }
  // Still connected: a good publish completes and comes back through the subscription.
  console.Send(PublishLine("bad/t", "after", 1));
  std::vector<std::string> seen;
  EXPECT_TRUE(console.WaitFor(R"({"event": "puback")", 10s, &seen));
  if (std::none_of(seen.begin(), seen.end(), [](const std::string& l) { return l.find("after") != std::string::npos; })) {
    EXPECT_TRUE(console.WaitFor(R"("text": "after")", 10s, &seen));
  }
  for (const std::string& l : seen) EXPECT_EQ(l.find("skipped"), std::string::npos) << l;
  EXPECT_EQ(console.Exit(), exitstatus::kOK);
}

TEST(EndOfInput, ConsoleReaderGoingAwayEndsTheProgramAtTheNextLine) {
  test::Broker broker("", false);
  Console console;
  console.Send(OpenLine(broker.Port()));
  ASSERT_TRUE(console.WaitFor(R"({"event": "connect", "protocol": "mqtt")"));
  console.Send(R"({"message":"subscribe", "protocol":"mqtt", "params":{"topic":"gone/#"}})");
  ASSERT_TRUE(console.WaitFor(R"({"event": "subscribe")"));
  console.Child().CloseStdout();
  // Standard input stays open: the next line comes from the read thread, for a message from a peer.
  for (int attempt = 0; attempt < 50 && console.Child().Running(); ++attempt) {
    test::Process peer({"mosquitto_pub", "-h", "127.0.0.1", "-p", std::to_string(broker.Port()), "-t", "gone/t",
                        "-m", "x"});
    peer.Wait(10s);
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_EQ(console.Child().Wait(10s), exitstatus::kFailure);
}

// A WebSocket frame beyond the size limit gets the 1009 close frame before the connection ends.
TEST(EndOfInput, OversizedFrameFromTheBrokerGetsTheCloseFrame1009) {
  test::FakeWSPeer peer;
  Console console;
  console.Send(OpenLine(peer.Port(), "ws", "/mqtt"));
  ASSERT_TRUE(peer.Accept());
  ASSERT_FALSE(peer.ReadRequest().empty());
  peer.Answer("mqtt");
  auto connect = peer.ReadFrame();
  ASSERT_TRUE(connect);
  EXPECT_EQ(connect->OpCode, 0x2);
  // A binary frame announcing 2^31 bytes.
  peer.Send(test::Hex("82 7F 00 00 00 00 80 00 00 00"));
  auto close = peer.ReadFrame();
  ASSERT_TRUE(close);
  EXPECT_EQ(close->OpCode, 0x8);
  EXPECT_EQ(test::ToHex(close->Payload), "03 F1");
  EXPECT_TRUE(peer.WaitClientClosed());
  EXPECT_TRUE(console.Responsive());
}

TEST(EndOfInput, OversizedMessageFromAnOperatorGetsTheCloseFrame1009) {
  const int port = test::FreeTcpPort();
  Console console({"-server", "-server.ip", "127.0.0.1", "-server.port", std::to_string(port)});
  ASSERT_TRUE(test::WaitForListening("127.0.0.1", port, 10s));
  const int fd = ConnectLoopback(port);
  ASSERT_GE(fd, 0);
  const std::string request =
      "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
      "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
  ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
  std::string received;
  auto readSome = [&](Clock::time_point deadline) {
    pollfd p{fd, POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) return false;
    char buffer[4096];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    received.append(buffer, static_cast<size_t>(n));
    return true;
  };
  const auto deadline = Clock::now() + 10s;
  while (received.find("\r\n\r\n") == std::string::npos && readSome(deadline)) {
  }
  const size_t headerEnd = received.find("\r\n\r\n");
  ASSERT_NE(headerEnd, std::string::npos);
  ASSERT_EQ(received.rfind("HTTP/1.1 101", 0), 0u) << received;
  received.erase(0, headerEnd + 4);
  // A masked text frame announcing 32 MiB, over the 16 MiB an operator may send.
  const test::Bytes frame = test::Hex("81 FF 00 00 00 00 02 00 00 00 01 02 03 04");
  ASSERT_EQ(::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL), static_cast<ssize_t>(frame.size()));
  while (received.size() < 4 && readSome(Clock::now() + 10s)) {
  }
  ::close(fd);
  ASSERT_GE(received.size(), 4u);
  EXPECT_EQ(test::ToHex(test::Bytes(received.begin(), received.begin() + 4)), "88 02 03 F1");
  EXPECT_EQ(console.Exit(), exitstatus::kOK);
}

}  // namespace
}  // namespace brz::fault
