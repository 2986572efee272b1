// The built program against a real broker that is stopped and started again on the same port: with the
// watchdog on, the session comes back by itself; a close by the operator is never reopened.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/AppMessages.h"
#include "tests/support/TestSupport.h"

namespace brz {
namespace {

using namespace std::chrono_literals;
using test::Broker;
using test::BrzmqttPath;
using test::Process;

class Console {
 public:
  Console() : FProcess({BrzmqttPath()}) {
    for (size_t i = 0; i < std::size(kBanner); ++i) EXPECT_EQ(FProcess.ReadLine(), kBanner[i]);
  }
  void Send(const std::string& line) { FProcess.WriteLine(line); }
  std::string NextLine() { return FProcess.ReadLine(10s).value_or("<nothing>"); }
  // The first line containing needle (lines before it are kept in Seen), or "<nothing>".
  std::string WaitFor(const std::string& needle, std::chrono::milliseconds timeout = 15s) {
    return FProcess.ReadLineContaining(needle, timeout, &FSeen).value_or("<nothing>");
  }
  // Lines until the window passes without one (at most 100).
  std::vector<std::string> Quiet(std::chrono::milliseconds window) {
    std::vector<std::string> lines;
    while (lines.size() < 100) {
      auto line = FProcess.ReadLine(window);
      if (!line) break;
      lines.push_back(*line);
    }
    return lines;
  }
  std::string Seen() const {
    std::string all;
    for (const auto& l : FSeen) all += l + "\n";
    return all;
  }
  Process& Child() { return FProcess; }

 private:
  Process FProcess;
  std::vector<std::string> FSeen;
};

constexpr const char* kConnected =
    R"({"event": "connect", "protocol": "mqtt", "params":{"session": "false", "reasoncode": 0, "reasonname": "Connection Accepted"}})";
constexpr const char* kSubscribe = R"({"message":"subscribe", "protocol":"mqtt", "params":{"topic":"wd/#"}})";
// A clean session on every CONNACK: identifiers start again at 1.
constexpr const char* kSubscribed =
    R"({"event": "subscribe", "protocol": "mqtt", "params":{"packetidentifier": 1, "reasoncode": 0, "reasonname": "Granted QoS 0"}})";

void PublishFromPeer(const Broker& broker, const std::string& text) {
  Process pub({"mosquitto_pub", "-h", "127.0.0.1", "-p", std::to_string(broker.Port()), "-t", "wd/t", "-m", text});
  EXPECT_EQ(pub.Wait(10s), 0);
}

TEST(WatchDogConsole, BrokerRestartReopensTheSessionAndCloseStaysClosed) {
  Broker broker("", false);
  Console console;
  console.Send(R"({"message":"watchdog", "params":{"watchdog":{"enabled": true, "interval": 1}}})");
  EXPECT_EQ(console.NextLine(), R"({"event": "options", "params":{"watchdog": {"enabled": true, "interval": 1}}})");
  console.Send(R"({"message":"open", "params":{"url":"tcp://127.0.0.1:)" + std::to_string(broker.Port()) + R"("}})");
  EXPECT_EQ(console.NextLine(), kConnected);
  console.Send(kSubscribe);
  EXPECT_EQ(console.NextLine(), kSubscribed);

  broker.Stop();
  EXPECT_NE(console.WaitFor(R"({"event": "disconnected", "protocol": "mqtt")"), "<nothing>") << console.Seen();
  // While the broker is down the tries fail with error lines; nothing is typed on the console.
  EXPECT_NE(console.WaitFor(R"({"event": "error")"), "<nothing>") << console.Seen();
  broker.Start();
  EXPECT_EQ(console.WaitFor(R"({"event": "connect")", 20s), kConnected) << console.Seen();

  console.Send(kSubscribe);
  EXPECT_EQ(console.WaitFor(R"({"event": "subscribe")"), kSubscribed) << console.Seen();
  PublishFromPeer(broker, "after restart");
  EXPECT_EQ(console.WaitFor(R"({"event": "publish")"),
            R"({"event": "publish", "protocol": "mqtt", "params":{"topic": "wd/t", "text": "after restart"}})")
      << console.Seen();

  // The operator's close: the disconnect lines, and no reconnect however long the watchdog would wait.
  console.Send(R"({"message":"close"})");
  EXPECT_NE(console.WaitFor(R"("event": "disconnected")"), "<nothing>") << console.Seen();
  for (const auto& line : console.Quiet(3s)) EXPECT_EQ(line.find(R"("event": "connect")"), std::string::npos) << line;
  console.Send("exit");
  EXPECT_EQ(console.Child().Wait(10s), 0);
}

}  // namespace
}  // namespace brz
