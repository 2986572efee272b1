// The built program against a real mosquitto broker: the MQTT command language and its event lines.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>

#include "app/AppMessages.h"
#include "tests/support/TestSupport.h"

namespace brz {
namespace {

using namespace std::chrono_literals;
using test::Broker;
using test::BrzmqttPath;
using test::Process;

// A running brzmqtt whose banner has been read.
class Console {
 public:
  Console() : FProcess({BrzmqttPath()}) {
    for (size_t i = 0; i < std::size(kBanner); ++i) EXPECT_EQ(FProcess.ReadLine(), kBanner[i]);
  }
  void Send(const std::string& line) { FProcess.WriteLine(line); }
  // The next count lines, sorted: events of one step may arrive in either order.
  std::vector<std::string> Next(size_t count) {
    std::vector<std::string> lines;
    for (size_t i = 0; i < count; ++i) {
      auto line = FProcess.ReadLine(10s);
      if (!line) break;
      lines.push_back(*line);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
  }
  std::string NextLine() { return FProcess.ReadLine(10s).value_or("<nothing>"); }
  // Lines that arrive within the window (for "nothing more" checks).
  std::vector<std::string> Quiet(std::chrono::milliseconds window) {
    std::vector<std::string> lines;
    while (auto line = FProcess.ReadLine(window)) lines.push_back(*line);
    return lines;
  }
  Process& Child() { return FProcess; }

 private:
  Process FProcess;
};

std::string Open(int port) {
  return R"({"message":"open", "params":{"url":"tcp://127.0.0.1:)" + std::to_string(port) + R"("}})";
}

std::string Sorted(std::vector<std::string> lines) {
  std::sort(lines.begin(), lines.end());
  std::string joined;
  for (const auto& l : lines) joined += l + "\n";
  return joined;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string joined;
  for (const auto& l : lines) joined += l + "\n";
  return joined;
}

struct VersionCase {
  const char* api;         // "3.1.1" or "5.0"
  const char* accepted;    // CONNACK reason name
  const char* ackName;     // PUBACK/PUBREC/PUBCOMP reason name for code 0
  const char* discName;    // DISCONNECT line reason name
};

class MQTTSession : public ::testing::TestWithParam<VersionCase> {};

TEST_P(MQTTSession, SubscribePublishUnsubscribeDisconnect) {
  const VersionCase& v = GetParam();
  Broker broker("", false);
  Console console;
  console.Send(std::string(R"({"message":"api", "protocol":"mqtt", "params":{"version":")") + v.api + "\"}}");
  EXPECT_EQ(console.NextLine(),
            std::string(R"({"event": "options", "protocol": "mqtt", "params":{"version": ")") + v.api + "\"}}");
  console.Send(Open(broker.Port()));
  EXPECT_EQ(console.NextLine(), std::string(R"({"event": "connect", "protocol": "mqtt", "params":{"session": "false", "reasoncode": 0, "reasonname": ")") + v.accepted + "\"}}");

  console.Send(R"({"message":"subscribe", "protocol":"mqtt", "params":{"topic":"e2e/#"}})");
  EXPECT_EQ(console.NextLine(),
            R"({"event": "subscribe", "protocol": "mqtt", "params":{"packetidentifier": 1, "reasoncode": 0, "reasonname": "Granted QoS 0"}})");

  // QoS 0 consumes identifier 2; QoS 1 uses 3; QoS 2 with retain uses 4.
  console.Send(R"({"message":"publish", "protocol":"mqtt", "params":{"topic":"e2e/a", "text":"zero"}})");
  EXPECT_EQ(console.NextLine(), R"({"event": "publish", "protocol": "mqtt", "params":{"topic": "e2e/a", "text": "zero"}})");
  const std::string ack = std::string(", \"reasoncode\": 0, \"reasonname\": \"") + v.ackName + "\"}}";
  console.Send(R"({"message":"publish", "protocol":"mqtt", "params":{"topic":"e2e/b", "text":"one", "qos":1}})");
  EXPECT_EQ(Joined(console.Next(2)),
            Sorted({R"({"event": "publish", "protocol": "mqtt", "params":{"topic": "e2e/b", "text": "one"}})",
                    R"({"event": "puback", "protocol": "mqtt", "params":{"packetidentifier": 3)" + ack}));
  console.Send(R"({"message":"publish", "protocol":"mqtt", "params":{"topic":"e2e/c", "text":"two", "qos":2, "retain":true}})");
  EXPECT_EQ(Joined(console.Next(3)),
            Sorted({R"({"event": "publish", "protocol": "mqtt", "params":{"topic": "e2e/c", "text": "two"}})",
                    R"({"event": "pubrec", "protocol": "mqtt", "params":{"packetidentifier": 4)" + ack,
                    R"({"event": "pubcomp", "protocol": "mqtt", "params":{"packetidentifier": 4)" + ack}));

  // A second client publishes to our subscription.
  Process pub({"mosquitto_pub", "-h", "127.0.0.1", "-p", std::to_string(broker.Port()), "-t", "e2e/other", "-m", "from peer"});
  EXPECT_EQ(pub.Wait(10s), 0);
  EXPECT_EQ(console.NextLine(),
            R"({"event": "publish", "protocol": "mqtt", "params":{"topic": "e2e/other", "text": "from peer"}})");

  console.Send(R"({"message":"unsubscribe", "protocol":"mqtt", "params":{"topic":"e2e/#"}})");
  const std::string unsub = std::string(v.api) == "5.0"
                                ? R"({"event": "unsubscribe", "protocol": "mqtt", "params":{"packetidentifier": 5, "reasoncode": 0, "reasonname": "Success"}})"
                                : "";
  if (!unsub.empty()) {
    EXPECT_EQ(console.NextLine(), unsub);
  }
  // After unsubscribing nothing arrives any more.
  Process pub2({"mosquitto_pub", "-h", "127.0.0.1", "-p", std::to_string(broker.Port()), "-t", "e2e/other", "-m", "late"});
  EXPECT_EQ(pub2.Wait(10s), 0);
  console.Send(R"({"message":"disconnect", "protocol":"mqtt"})");
  auto rest = console.Quiet(1500ms);
  ASSERT_FALSE(rest.empty());
  EXPECT_EQ(rest[0], std::string(R"({"event": "disconnected", "protocol": "mqtt", "params":{"reasoncode": 0, "reasonname": ")") + v.discName + "\"}}");
  for (const auto& line : rest) EXPECT_EQ(line.find("late"), std::string::npos) << line;
  console.Send("exit");
  EXPECT_EQ(console.Child().Wait(10s), 0);
}

INSTANTIATE_TEST_SUITE_P(Versions, MQTTSession,
                         ::testing::Values(VersionCase{"3.1.1", "Connection Accepted", "", ""},
                                           VersionCase{"5.0", "Success", "", ""}),
                         [](const auto& info) { return std::string(info.param.api) == "5.0" ? "MQTT5" : "MQTT311"; });

TEST(MQTTConsole, OverWebSocket) {
  Broker broker;
  Console console;
  console.Send(R"({"message":"api", "protocol":"mqtt", "params":{"version":"5.0"}})");
  console.NextLine();
  console.Send(R"({"message":"open", "params":{"url":"ws://127.0.0.1:)" + std::to_string(broker.WsPort()) + R"(/mqtt"}})");
  EXPECT_EQ(console.NextLine(),
            R"({"event": "connect", "protocol": "mqtt", "params":{"session": "false", "reasoncode": 0, "reasonname": "Success"}})");
  console.Send(R"({"message":"subscribe", "protocol":"mqtt", "params":{"topic":"ws/#"}})");
  EXPECT_NE(console.NextLine().find(R"("event": "subscribe")"), std::string::npos);
  for (int qos = 0; qos <= 2; ++qos) {
    const std::string text = "over ws " + std::to_string(qos);
    console.Send(R"({"message":"publish", "protocol":"mqtt", "params":{"topic":"ws/q", "qos":)" + std::to_string(qos) +
                 R"(, "text":")" + text + "\"}}");
    auto lines = console.Next(static_cast<size_t>(qos + 1));
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        R"({"event": "publish", "protocol": "mqtt", "params":{"topic": "ws/q", "text": ")" + text + "\"}}"),
              lines.end())
        << Joined(lines);
  }
  // A large payload crosses the WebSocket framing whole.
  const std::string big(200000, 'x');
  console.Send(R"({"message":"publish", "protocol":"mqtt", "params":{"topic":"ws/big", "text":")" + big + "\"}}");
  EXPECT_EQ(console.NextLine(), R"({"event": "publish", "protocol": "mqtt", "params":{"topic": "ws/big", "text": ")" + big + "\"}}");
}

TEST(MQTTConsole, RetainedMessageReachesANewSubscription) {
  Broker broker("", false);
  Process retained({"mosquitto_pub", "-h", "127.0.0.1", "-p", std::to_string(broker.Port()), "-t", "keep", "-m", "kept", "-r"});
  ASSERT_EQ(retained.Wait(10s), 0);
  Console console;
  console.Send(Open(broker.Port()));
  EXPECT_NE(console.NextLine().find(R"("event": "connect")"), std::string::npos);
  console.Send(R"({"message":"subscribe", "protocol":"mqtt", "params":{"topic":"keep"}})");
  EXPECT_EQ(Joined(console.Next(2)),
            Sorted({R"({"event": "subscribe", "protocol": "mqtt", "params":{"packetidentifier": 1, "reasoncode": 0, "reasonname": "Granted QoS 0"}})",
                    R"({"event": "publish", "protocol": "mqtt", "params":{"topic": "keep", "text": "kept"}})"}));
}

TEST(MQTTConsole, QuotesBackslashesAndLineBreaksGiveValidLines) {
  Broker broker("", false);
  Console console;
  console.Send(Open(broker.Port()));
  EXPECT_NE(console.NextLine().find(R"("event": "connect")"), std::string::npos);
  console.Send(R"({"message":"subscribe", "protocol":"mqtt", "params":{"topic":"q\"t"}})");
  EXPECT_NE(console.NextLine().find(R"("event": "subscribe")"), std::string::npos);
  // The command's escapes are decoded into the payload, and the event line escapes it again.
  console.Send(R"({"message":"publish", "protocol":"mqtt", "params":{"topic":"q\"t", "text":"a\"b\\c\nd"}})");
  EXPECT_EQ(console.NextLine(), R"({"event": "publish", "protocol": "mqtt", "params":{"topic": "q\"t", "text": "a\"b\\c\nd"}})");
  // A payload with a raw line break from another client stays on one line.
  Process pub({"mosquitto_pub", "-h", "127.0.0.1", "-p", std::to_string(broker.Port()), "-t", "q\"t", "-m", "x\ny\"}"});
  ASSERT_EQ(pub.Wait(10s), 0);
  EXPECT_EQ(console.NextLine(), R"({"event": "publish", "protocol": "mqtt", "params":{"topic": "q\"t", "text": "x\ny\"}"}})");
}

TEST(MQTTConsole, AuthenticationAcceptedAndRefused) {
  test::TempDir dir;
  const std::string passwords = dir.File("passwords");
  Process make({"mosquitto_passwd", "-b", "-c", passwords, "user", "mellow"});
  ASSERT_EQ(make.Wait(10s), 0);
  ::chmod(passwords.c_str(), 0644);
  Broker broker("allow_anonymous false\npassword_file " + passwords + "\n", false);

  Console console;
  console.Send(R"({"message":"authentication", "protocol":"mqtt", "params":{"enabled":true, "username":"user", "password":"mellow"}})");
  EXPECT_EQ(console.NextLine(),
            R"({"event": "authentication", "protocol": "mqtt", "params": {"enabled": true, "username": "user", "password": "mellow"}})");
  console.Send(Open(broker.Port()));
  EXPECT_EQ(console.NextLine(),
            R"({"event": "connect", "protocol": "mqtt", "params":{"session": "false", "reasoncode": 0, "reasonname": "Connection Accepted"}})");
  console.Send(R"({"message":"close"})");
  console.Quiet(500ms);

  console.Send(R"({"message":"authentication", "protocol":"mqtt", "params":{"enabled":true, "username":"user", "password":"wrong"}})");
  console.NextLine();
  console.Send(Open(broker.Port()));
  const std::string refused = console.NextLine();
  EXPECT_EQ(refused,
            R"({"event": "connect", "protocol": "mqtt", "params":{"session": "false", "reasoncode": 5, "reasonname": "Connection Refused, not authorized"}})");
  console.Send(R"({"message":"authentication", "protocol":"mqtt", "params":{"enabled":false}})");
  // The broker's close of the refused connection may print its lines first.
  const auto rest = console.Quiet(1000ms);
  EXPECT_NE(std::find(rest.begin(), rest.end(),
                      R"({"event": "authentication", "protocol": "mqtt", "params": {"enabled": false}})"),
            rest.end());
}

TEST(MQTTConsole, OptionLinesAndConversionErrors) {
  Console console;
  console.Send(R"({"message":"api", "protocol":"mqtt", "params":{"version":"5"}})");
  EXPECT_EQ(console.NextLine(), R"({"event": "options", "protocol": "mqtt", "params":{"version": "3.1.1"}})");
  console.Send(R"({"message":"heartbeat", "protocol":"mqtt", "params":{"enabled": false}})");
  EXPECT_EQ(console.NextLine(), R"({"event": "heartbeat", "protocol": "mqtt", "params": {"enabled": false, "interval": 300}})");
  console.Send(R"({"message":"heartbeat", "protocol":"mqtt", "params":{"enabled": true, "interval": 30}})");
  EXPECT_EQ(console.NextLine(), R"({"event": "heartbeat", "protocol": "mqtt", "params":{"enabled": true, "interval": 30}})");
  // Without "protocol" a subscribe is a connection command, which does not exist: nothing happens.
  console.Send(R"({"message":"subscribe", "params":{"topic":"a"}})");
  // A non-integer QoS prints the conversion error line and skips that command only.
  console.Send(R"({"message":"publish", "protocol":"mqtt", "params":{"topic":"t", "text":"x", "qos":"high"}})");
  EXPECT_EQ(console.NextLine(), "EConvertError: 'high' is not a valid integer value");
  console.Send(R"({"message":"api", "protocol":"mqtt", "params":{"version":"5.0"}})");
  EXPECT_EQ(console.NextLine(), R"({"event": "options", "protocol": "mqtt", "params":{"version": "5.0"}})");
  console.Send("exit");
  EXPECT_EQ(console.Child().Wait(10s), 0);
}

}  // namespace
}  // namespace brz
