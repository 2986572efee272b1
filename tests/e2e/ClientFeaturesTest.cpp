// The built program as a full MQTT client against mosquitto and python paho: QoS subscriptions,
// subscription lists, exact payloads, MQTT 5 properties both ways, persistent sessions, the will,
// resubscribe, output options, diagnostics, -json and scripted waits.

#include <gtest/gtest.h>

#include <regex>

#include "app/AppMessages.h"
#include "tests/e2e/FaultPeers.h"
#include "tests/support/TestSupport.h"

namespace brz {
namespace {

using namespace std::chrono_literals;
using test::Broker;
using test::BrzmqttPath;
using test::Process;

// A running brzmqtt whose banner has been read (unless under -json, where it goes to stderr).
class Client {
 public:
  explicit Client(std::vector<std::string> args = {}) : FProcess(Argv(args)) {
    const bool json = std::find(args.begin(), args.end(), "-json") != args.end();
    if (json) return;
    for (size_t i = 0; i < std::size(kBanner); ++i) EXPECT_EQ(FProcess.ReadLine(), kBanner[i]);
  }
  void Send(const std::string& line) { FProcess.WriteLine(line); }
  // The first line containing needle (lines before it go to seen).
  std::string WaitFor(const std::string& needle, std::chrono::milliseconds timeout = 10s) {
    auto line = FProcess.ReadLineContaining(needle, timeout, &FSeen);
    return line.value_or("<no line with " + needle + ">");
  }
  std::string NextLine() { return FProcess.ReadLine(10s).value_or("<nothing>"); }
  // Standard error until it holds needle (bounded).
  bool StderrHas(const std::string& needle, std::chrono::milliseconds timeout = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (FStderr.find(needle) == std::string::npos && std::chrono::steady_clock::now() < deadline)
      FStderr += FProcess.ReadStderr(100ms);
    return FStderr.find(needle) != std::string::npos;
  }
  const std::string& Stderr() const { return FStderr; }
  // Every line WaitFor read.
  const std::vector<std::string>& Seen() const { return FSeen; }
  Process& Child() { return FProcess; }
  void Open(int port) { Send(R"({"message":"open", "params":{"url":"tcp://127.0.0.1:)" + std::to_string(port) + R"("}})"); }

 private:
  static std::vector<std::string> Argv(const std::vector<std::string>& args) {
    std::vector<std::string> argv{BrzmqttPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }
  Process FProcess;
  std::vector<std::string> FSeen;
  std::string FStderr;
};

const char* kApi5 = R"({"message":"api", "protocol":"mqtt", "params":{"version":"5.0"}})";

// A second client: python paho (PahoPeer.py).
std::vector<std::string> Paho(const std::string& mode, int port, const std::string& topic, const std::string& hex = "") {
  std::vector<std::string> argv{"/usr/bin/python3", test::SourceDir() + "/tests/e2e/PahoPeer.py", mode,
                                std::to_string(port), topic};
  if (!hex.empty()) argv.push_back(hex);
  return argv;
}

int RunPeer(const std::vector<std::string>& argv) {
  Process process(argv);
  return process.Wait(15s);
}

class ClientVersions : public ::testing::TestWithParam<bool> {
 protected:
  bool V5() const { return GetParam(); }
  void Connect(Client& client, int port) {
    if (V5()) {
      client.Send(kApi5);
      client.WaitFor(R"("version": "5.0")");
    }
    client.Open(port);
    EXPECT_NE(client.WaitFor(R"("event": "connect")").find(R"("reasoncode": 0)"), std::string::npos);
  }
};

INSTANTIATE_TEST_SUITE_P(MQTT, ClientVersions, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "V5" : "V311"; });

TEST_P(ClientVersions, QoSSubscriptionListsExactPayloadsAndOutputOptions) {
  Broker broker("", false);
  Client client;
  Connect(client, broker.Port());
  // Three filters in one SUBSCRIBE, each granted the QoS asked for.
  client.Send(R"({"message":"subscribe", "protocol":"mqtt", "params":{"topics":[{"topic":"q/1", "qos":1}, {"topic":"q/2", "qos":2}, "q/0"]}})");
  const std::string first = client.WaitFor(R"("event": "subscribe")");
  EXPECT_NE(first.find(R"("reasoncode": 1)"), std::string::npos) << first;
  EXPECT_NE(client.NextLine().find(R"("reasoncode": 2)"), std::string::npos);
  EXPECT_NE(client.NextLine().find(R"("reasoncode": 0)"), std::string::npos);

  // Binary payload: the base line plus the exact bytes.
  client.Send(R"({"message":"publish", "protocol":"mqtt", "params":{"topic":"q/1", "hex":"00ff80", "qos":1}})");
  const std::string binary = client.WaitFor(R"("topic": "q/1")");
  EXPECT_EQ(binary.rfind(R"({"event": "publish", "protocol": "mqtt", "params":{"topic": "q/1", "text": "\u0000)", 0), 0u)
      << binary;
  EXPECT_NE(binary.find(R"(", "base64": "AP+A"}})"), std::string::npos) << binary;
  // A UTF-8 payload, given as base64, prints exactly the base line.
  client.Send(R"({"message":"publish", "protocol":"mqtt", "params":{"topic":"q/2", "base64":"aMOpbGxv", "qos":2}})");
  EXPECT_EQ(client.WaitFor(R"("topic": "q/2")"),
            R"({"event": "publish", "protocol": "mqtt", "params":{"topic": "q/2", "text": "héllo"}})");

  client.Send(R"({"message":"output", "params":{"details":true, "timestamps":true}})");
  EXPECT_EQ(client.WaitFor(R"("event": "options")").rfind(
                R"({"event": "options", "params":{"output": {"details": true, "timestamps": true, "errors": false}}, "time": ")",
                0),
            0u);
  client.Send(R"({"message":"publish", "protocol":"mqtt", "params":{"topic":"q/1", "hex":"ff", "qos":1, "retain":true}})");
  const std::string details = client.WaitFor(R"("topic": "q/1")");
  const std::regex shape(
      R"(\{"event": "publish", "protocol": "mqtt", "params":\{"topic": "q/1", "base64": "/w==", "qos": 1, "retain": false, "dup": false, "packetidentifier": \d+\}, "time": "\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z"\})");
  EXPECT_TRUE(std::regex_match(details, shape)) << details;
  if (V5()) {
    client.Send(R"({"message":"unsubscribe", "protocol":"mqtt", "params":{"topics":["q/1", "q/2", "q/0"]}})");
    EXPECT_NE(client.WaitFor(R"("event": "unsubscribe")").find(R"("time": ")"), std::string::npos);
    EXPECT_NE(client.NextLine().find(R"("event": "unsubscribe")"), std::string::npos);
  }
  EXPECT_EQ(client.Stderr(), "");
}

TEST(ClientMQTT5, PropertiesBothWaysWithPaho) {
  Broker broker("", false);
  Client client;
  client.Send(kApi5);
  client.Send(R"({"message":"output", "params":{"details":true}})");
  client.Open(broker.Port());
  const std::string connect = client.WaitFor(R"("event": "connect")");
  EXPECT_NE(connect.find(R"("properties": {)"), std::string::npos) << connect;
  EXPECT_NE(connect.find(R"("topicaliasmaximum": )"), std::string::npos) << connect;
  client.Send(R"({"message":"subscribe", "protocol":"mqtt", "params":{"topic":"p/in", "qos":1}})");
  client.WaitFor(R"("event": "subscribe")");

  // paho -> brzmqtt: bytes, repeated user property keys in order, binary correlation data.
  ASSERT_EQ(RunPeer(Paho("send", broker.Port(), "p/in", "01ff")), 0);
  const std::string in = client.WaitFor(R"("topic": "p/in")");
  EXPECT_NE(in.find(R"("base64": "Af8=", "qos": 1)"), std::string::npos) << in;
  EXPECT_NE(in.find(R"("properties": {"correlationdata": {"base64": "AP8Q"}, "userproperties": [["a", "1"], ["a", "2"], ["b", "3"]], "contenttype": "application/octet-stream"})"),
            std::string::npos)
      << in;

  // brzmqtt -> paho.
  Process paho(Paho("recv", broker.Port(), "p/out"));
  ASSERT_EQ(paho.ReadLine(10s).value_or(""), "ready");
  client.Send(R"({"message":"publish", "protocol":"mqtt", "params":{"topic":"p/out", "hex":"0001", "qos":1, "properties":{"userproperties":[["x","1"],["x","2"]], "correlationdata":{"hex":"abcd"}, "contenttype":"t/p"}}})");
  EXPECT_EQ(paho.ReadLine(10s).value_or(""),
            R"({"payload": "0001", "qos": 1, "userproperties": [["x", "1"], ["x", "2"]], "correlationdata": "abcd", "contenttype": "t/p"})");
  EXPECT_EQ(paho.Wait(10s), 0);
}

TEST_P(ClientVersions, PersistentSessionReceivesWhatWasQueuedAndTheBrokerSeesTheClientId) {
  test::TempDir logs;
  Broker broker("log_dest file " + logs.File("broker.log") + "\nlog_type all\n", false);
  Client client;
  client.Send(V5() ? R"({"message":"session", "protocol":"mqtt", "params":{"clientid":"probe-17", "cleansession":false, "sessionexpiry":300}})"
                   : R"({"message":"session", "protocol":"mqtt", "params":{"clientid":"probe-17", "cleansession":false}})");
  EXPECT_NE(client.WaitFor(R"("session": {)").find(R"({"clientid": "probe-17", "cleansession": false)"), std::string::npos);
  Connect(client, broker.Port());
  client.Send(R"({"message":"subscribe", "protocol":"mqtt", "params":{"topic":"s/q", "qos":1}})");
  client.WaitFor(R"("event": "subscribe")");
  client.Send(R"({"message":"close"})");
  client.WaitFor(R"("event": "disconnected")");
  ASSERT_EQ(RunPeer({"mosquitto_pub", "-p", std::to_string(broker.Port()), "-t", "s/q", "-m", "queued", "-q", "1"}), 0);
  client.Open(broker.Port());
  EXPECT_NE(client.WaitFor(R"("event": "connect")").find(R"("session": "true")"), std::string::npos);
  EXPECT_EQ(client.WaitFor(R"("topic": "s/q")"),
            R"({"event": "publish", "protocol": "mqtt", "params":{"topic": "s/q", "text": "queued"}})");
  Process grep({"grep", "-c", "as probe-17", logs.File("broker.log")});
  EXPECT_NE(grep.ReadAll(5s), "0\n");
}

TEST_P(ClientVersions, WillIsPublishedWhenTheProgramIsKilled) {
  Broker broker("", false);
  Process paho(Paho("recv", broker.Port(), "w/status"));
  ASSERT_EQ(paho.ReadLine(10s).value_or(""), "ready");
  Client client;
  client.Send(R"({"message":"will", "protocol":"mqtt", "params":{"topic":"w/status", "text":"offline", "qos":1}})");
  EXPECT_EQ(client.WaitFor(R"("will": )"),
            R"({"event": "options", "protocol": "mqtt", "params":{"will": {"enabled": true, "topic": "w/status", "text": "offline", "qos": 1, "retain": false}}})");
  Connect(client, broker.Port());
  client.Child().Kill(9);
  EXPECT_EQ(paho.ReadLine(10s).value_or(""), R"({"payload": "6f66666c696e65", "qos": 1})");
}

TEST(ClientMQTT5, WillOnDisconnectWithWillMessageAndItsProperties) {
  Broker broker("", false);
  Process paho(Paho("recv", broker.Port(), "w/5"));
  ASSERT_EQ(paho.ReadLine(10s).value_or(""), "ready");
  Client client;
  client.Send(kApi5);
  client.Send(R"({"message":"will", "protocol":"mqtt", "params":{"topic":"w/5", "hex":"0102", "qos":1, "properties":{"userproperties":{"k":"v"}, "contenttype":"c/t"}}})");
  client.WaitFor(R"("will": )");
  client.Open(broker.Port());
  client.WaitFor(R"("event": "connect")");
  client.Send(R"({"message":"disconnect", "protocol":"mqtt", "params":{"reasoncode":4}})");
  EXPECT_EQ(paho.ReadLine(10s).value_or(""),
            R"({"payload": "0102", "qos": 1, "userproperties": [["k", "v"]], "contenttype": "c/t"})");
  EXPECT_EQ(client.Stderr(), "");
}

TEST(ClientMQTT, ResubscribeAfterABrokerRestart) {
  Broker broker("", false);
  Client client;
  client.Send(R"({"message":"session", "protocol":"mqtt", "params":{"resubscribe":true}})");
  client.Send(R"({"message":"watchdog", "params":{"watchdog":{"enabled": true, "interval": 1}}})");
  client.Open(broker.Port());
  client.WaitFor(R"("event": "connect")");
  client.Send(R"({"message":"subscribe", "protocol":"mqtt", "params":{"topic":"r/1", "qos":1}})");
  client.WaitFor(R"("event": "subscribe")");
  broker.Stop();
  client.WaitFor(R"("event": "disconnected")");
  broker.Start();
  client.WaitFor(R"("event": "connect")", 20s);
  EXPECT_NE(client.WaitFor(R"("event": "subscribe")").find("Granted QoS 1"), std::string::npos);
  ASSERT_EQ(RunPeer({"mosquitto_pub", "-p", std::to_string(broker.Port()), "-t", "r/1", "-m", "again", "-q", "1"}), 0);
  EXPECT_EQ(client.WaitFor(R"("topic": "r/1")"),
            R"({"event": "publish", "protocol": "mqtt", "params":{"topic": "r/1", "text": "again"}})");
}

TEST(ClientMQTT, DiagnosticsLeaveTheProgramAndTheConnectionWorking) {
  Broker broker("", false);
  Client client;
  client.Open(broker.Port());
  client.WaitFor(R"("event": "connect")");
  client.Send(R"({"message":"subscribe", "protocol":"mqtt", "params":{"topic":"d/ok"}})");
  client.WaitFor(R"("event": "subscribe")");
  const std::string oversized = std::string(70000, 't');
  struct Case {
    std::string Command;
    std::string Diagnostic;
  } cases[] = {
      {R"({"message":"publsh", "protocol":"mqtt", "params":{"topic":"d/ok", "text":"x"}})",
       R"(brzmqtt: unknown MQTT command "publsh"; command ignored)"},
      {R"({"message":"subscribe", "protocol":"mqtt", "params":{"topic":"d/x", "qos":7}})",
       "brzmqtt: subscribe: qos must be 0, 1 or 2 (got 7); command ignored"},
      {R"({"message":"publish", "protocol":"mqtt", "params":{"topic":"d/#", "text":"x"}})",
       "brzmqtt: publish: topic \"d/#\" has a wildcard (+ or #); wildcards are for subscriptions; command ignored"},
      {R"({"message":"publish", "protocol":"mqtt", "params":{"topic":")" + oversized + R"(", "text":"x"}})",
       "brzmqtt: publish: topic is longer than 65535 bytes (70000); command ignored"},
      {R"({"message":"subscribe", "protocol":"mqtt", "params":{"topic":"a/b#"}})",
       "brzmqtt: subscribe: topic filter \"a/b#\": # must be a whole level and the last one; command ignored"},
      {R"({"message":"publish", "protocol":"mqtt", "params":{"topic":"d/ok", "hex":"0g"}})",
       "brzmqtt: publish: hex is not hexadecimal (character 'g'); command ignored"},
      {R"({"message":"publish", "protocol":"mqtt", "params":{"topic":"d/ok", "text":"x", "properties":{"contenttype":"a"}}})",
       "brzmqtt: publish: properties need MQTT 5.0 (send api version 5.0 first); command ignored"},
      {R"({"message":"session", "protocol":"mqtt", "params":{"clientid":7}})",
       "brzmqtt: session: clientid must be a string (got 7); command ignored"},
      {R"({"message":"wiat", "params":{}})", R"(brzmqtt: unknown command "wiat"; command ignored)"},
  };
  int round = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Diagnostic);
    client.Send(c.Command);
    EXPECT_TRUE(client.StderrHas(c.Diagnostic)) << client.Stderr();
    const std::string text = "ok-" + std::to_string(round++);
    client.Send(R"({"message":"publish", "protocol":"mqtt", "params":{"topic":"d/ok", "text":")" + text + R"("}})");
    EXPECT_EQ(client.NextLine(),
              R"({"event": "publish", "protocol": "mqtt", "params":{"topic": "d/ok", "text": ")" + text + R"("}})");
  }
  // The base's lenient reading stays: qos 3 publishes at QoS 0, and says so.
  client.Send(R"({"message":"publish", "protocol":"mqtt", "params":{"topic":"d/ok", "text":"q3", "qos":3}})");
  EXPECT_EQ(client.NextLine(), R"({"event": "publish", "protocol": "mqtt", "params":{"topic": "d/ok", "text": "q3"}})");
  EXPECT_TRUE(client.StderrHas("brzmqtt: publish: qos must be 0, 1 or 2 (got 3); published at QoS 0"));
  // With error events on, a diagnostic is also an event line.
  client.Send(R"({"message":"output", "params":{"errors":true}})");
  client.WaitFor(R"("output": )");
  client.Send(R"({"message":"nothing"})");
  EXPECT_EQ(client.NextLine(), R"({"event": "error", "description": "unknown command \"nothing\"; command ignored"})");
  client.Send("");
  client.Send("EXIT");
  EXPECT_EQ(client.Child().Wait(10s), 0);
}

TEST(ClientMQTT, JsonSwitchKeepsStandardOutputToJsonLines) {
  Broker broker("", false);
  const int serverPort = test::FreeTcpPort();
  Client client({"-json", "-server", "-server.ip", "127.0.0.1", "-server.port", std::to_string(serverPort)});
  client.Send("HELP");
  client.Open(broker.Port());
  client.Send(R"({"message":"subscribe", "protocol":"mqtt", "params":{"topic":"j/1"}})");
  client.Send(R"({"message":"publish", "protocol":"mqtt", "params":{"topic":"j/1", "hex":"c328"}})");
  client.WaitFor(R"("topic": "j/1")");
  client.Child().CloseStdin();
  std::string all;
  for (const std::string& line : client.Seen()) all += line + "\n";
  all += client.Child().ReadAll(10s);
  EXPECT_TRUE(client.StderrHas("written by Corvane."));
  EXPECT_TRUE(client.StderrHas("Server Listening on 127.0.0.1:"));
  EXPECT_TRUE(client.StderrHas("***brzMQTTClient usage***"));
  // Every line on standard output is one JSON object.
  Process check({"/usr/bin/python3", "-c",
                 "import json,sys\nn=0\nfor l in sys.stdin:\n  assert isinstance(json.loads(l), dict)\n  n+=1\nprint(n)"});
  check.Write(all);
  check.CloseStdin();
  EXPECT_EQ(check.ReadAll(10s), "3\n") << all;
  EXPECT_EQ(check.Wait(10s), 0);
}

TEST(ClientMQTT, PipedScriptWaitsForTheMessageOrTimesOut) {
  Broker broker("", false);
  const std::string open = R"({"message":"open", "params":{"url":"tcp://127.0.0.1:)" + std::to_string(broker.Port()) + R"("}})";
  {
    Client client({"-json"});
    client.Child().Write(open + "\n" + R"({"message":"wait", "params":{"event":"connect", "timeout":10}})" + "\n" +
                         R"({"message":"subscribe", "protocol":"mqtt", "params":{"topic":"w/1", "qos":1}})" + "\n" +
                         R"({"message":"wait", "params":{"event":"publish", "count":1, "timeout":10, "match":{"topic":"w/1"}}})" + "\n");
    client.Child().CloseStdin();
    client.WaitFor(R"("event": "subscribe")");
    ASSERT_EQ(RunPeer({"mosquitto_pub", "-p", std::to_string(broker.Port()), "-t", "w/1", "-m", "arrived", "-q", "1"}), 0);
    EXPECT_EQ(client.WaitFor(R"("topic": "w/1")"),
              R"({"event": "publish", "protocol": "mqtt", "params":{"topic": "w/1", "text": "arrived"}})");
    EXPECT_EQ(client.NextLine(), R"({"event": "wait", "params":{"result": "done", "count": 1}})");
    EXPECT_EQ(client.Child().Wait(10s), 0);
  }
  {
    Client client({"-json"});
    client.Child().Write(open + "\n" +
                         R"({"message":"wait", "params":{"event":"publish", "timeout":0.5, "match":{"topic":"none"}}})" + "\n");
    client.Child().CloseStdin();
    EXPECT_EQ(client.WaitFor(R"("event": "wait")"), R"({"event": "wait", "params":{"result": "timeout", "count": 0}})");
    EXPECT_NE(client.Child().Wait(10s), -1);
  }
}

TEST(ClientMQTT, AnOperatorsWaitHoldsOnlyThatOperatorsCommands) {
  const int port = test::FreeTcpPort();
  Client client({"-server", "-server.ip", "127.0.0.1", "-server.port", std::to_string(port)});
  client.WaitFor("Server Listening on 127.0.0.1:");
  fault::Operator op(port);
  ASSERT_TRUE(op.Connected());
  // The operator's second command waits behind its wait.
  ASSERT_TRUE(op.Send(R"({"message":"wait", "params":{"event":"options", "timeout":20, "match":{"version":"5.0"}}})"
                      "\n"
                      R"({"message":"api", "protocol":"mqtt", "params":{"version":"3.1.1"}})"
                      "\n"));
  // The console is answered at once meanwhile; its 5.0 line ends the operator's wait once that runs.
  bool done = false;
  std::vector<std::string> lines;  // event lines other than the console's own answers
  auto take = [&](const std::string& line) {
    // Event lines only (the operator's connection line is for people).
    if (line.rfind("{", 0) != 0 || line.find(R"("version": "5.0")") != std::string::npos) return;
    lines.push_back(line);
    done = done || line.find(R"("event": "wait")") != std::string::npos;
  };
  for (int attempt = 0; attempt < 40 && !done; ++attempt) {
    client.Send(kApi5);
    bool answered = false;
    while (!answered) {
      auto line = client.Child().ReadLine(10s);
      ASSERT_TRUE(line.has_value());
      answered = line->find(R"("version": "5.0")") != std::string::npos;
      take(*line);
    }
    while (auto line = client.Child().ReadLine(250ms)) take(*line);
  }
  while (lines.size() < 2) {
    auto line = client.Child().ReadLine(10s);
    if (!line) break;
    take(*line);
  }
  ASSERT_TRUE(done);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], R"({"event": "wait", "params":{"result": "done", "count": 1}})");
  EXPECT_EQ(lines[1], R"({"event": "options", "protocol": "mqtt", "params":{"version": "3.1.1"}})");
}

}  // namespace
}  // namespace brz
