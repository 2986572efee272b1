// The engine on the client component against a real broker on loopback: a round trip through its
// own subscription at every QoS, under both protocol versions, and authentication accepted and refused.

#include <gtest/gtest.h>

#include <string>

#include "tests/mqtt/EngineTestSupport.h"
#include "tests/support/TestSupport.h"

namespace brz::test {
namespace {

struct BrokerSession {
  EventLog Log;
  TbrzWebSocketClient Client;
  TbrzWSProtocol_MQTT_Client Engine;

  explicit BrokerSession(TwsMQTTVersion aVersion) {
    RecordEvents(Engine, Client, Log);
    Engine.SetMQTTVersion(aVersion);
    Engine.SetClient(&Client);
  }
  ~BrokerSession() { Client.SetActive(false); }
  void Open(int aPort, const std::string& aScheme = "tcp") {
    Client.SetURL(aScheme + "://127.0.0.1:" + std::to_string(aPort));
    Client.SetActive(true);
  }
};

class EngineWithBroker : public ::testing::TestWithParam<TwsMQTTVersion> {};

// Subscribes to brz/test/#, publishes at QoS 0, 1 and 2, and checks every acknowledgement and delivery.
void RoundTrip(BrokerSession& s, bool v5);

// Raw TCP (chunks reassembled) and WebSocket with sub-protocol "mqtt" (one binary message per packet).
TEST_P(EngineWithBroker, PublishesAtEveryQoSReachOwnSubscription) {
  Broker broker;
  const bool v5 = GetParam() == TwsMQTTVersion::mqtt5;
  for (const char* scheme : {"tcp", "ws"}) {
    SCOPED_TRACE(scheme);
    BrokerSession s(GetParam());
    s.Open(std::string(scheme) == "ws" ? broker.WsPort() : broker.Port(), scheme);
    RoundTrip(s, v5);
  }
}

void RoundTrip(BrokerSession& s, bool v5) {
  ASSERT_TRUE(s.Log.WaitFor(std::string("connect false 0 ") + (v5 ? "Success" : "Connection Accepted")))
      << ::testing::PrintToString(s.Log.Lines());

  const uint16_t subscription = s.Engine.Subscribe("brz/test/#", TmqttQoS::mtqsExactlyOnce);
  ASSERT_TRUE(s.Log.WaitFor("subscribe " + std::to_string(subscription) + " 2 Granted QoS 2"));

  s.Engine.Publish("brz/test/q0", "zero", TmqttQoS::mtqsAtMostOnce);
  const uint16_t one = s.Engine.Publish("brz/test/q1", "one", TmqttQoS::mtqsAtLeastOnce);
  const uint16_t two = s.Engine.Publish("brz/test/q2", "two", TmqttQoS::mtqsExactlyOnce);
  // MQTT 5 acknowledgements of a successful publish carry no reason: code 0, no name.
  EXPECT_TRUE(s.Log.WaitFor("puback " + std::to_string(one) + " 0 "));
  EXPECT_TRUE(s.Log.WaitFor("pubrec " + std::to_string(two) + " 0 "));
  EXPECT_TRUE(s.Log.WaitFor("pubcomp " + std::to_string(two) + " 0 "));
  EXPECT_TRUE(s.Log.WaitFor("publish brz/test/q0 zero"));
  EXPECT_TRUE(s.Log.WaitFor("publish brz/test/q1 one"));
  EXPECT_TRUE(s.Log.WaitFor("publish brz/test/q2 two"));
  // The broker's QoS 2 delivery was completed by the engine (PUBREC, then PUBCOMP on its PUBREL).
  EXPECT_TRUE(Eventually([&s] {
    for (const auto& line : s.Log.Lines())
      if (line.rfind("pubrel ", 0) == 0) return true;
    return false;
  }));
  EXPECT_TRUE(Eventually([&s] { return s.Engine.QoSList().Count() == 0; }));

  const uint16_t unsubscription = s.Engine.UnSubscribe("brz/test/#");
  EXPECT_TRUE(s.Log.WaitFor("unsubscribe " + std::to_string(unsubscription) + " codes " + (v5 ? "1" : "0")));
  for (const auto& line : s.Log.Lines()) EXPECT_NE(line.rfind("error", 0), 0u) << line;
}

TEST_P(EngineWithBroker, AuthenticationIsAcceptedOrRefused) {
  TempDir dir;
  const std::string passwords = dir.File("passwords");
  Process make({"mosquitto_passwd", "-b", "-c", passwords, "user", "mellow"}, true);
  ASSERT_EQ(make.Wait(), 0) << make.ReadAll();
  Broker broker("allow_anonymous false\npassword_file " + passwords + "\n", false);
  const bool v5 = GetParam() == TwsMQTTVersion::mqtt5;

  struct Case {
    const char* Password;
    std::string Expected;
  };
  const Case cases[] = {
      {"mellow", std::string("connect false 0 ") + (v5 ? "Success" : "Connection Accepted")},
      {"wrong", v5 ? "connect false 135 Not authorized" : "connect false 5 Connection Refused, not authorized"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Password);
    BrokerSession s(GetParam());
    s.Engine.Authentication().Enabled = true;
    s.Engine.Authentication().UserName = "user";
    s.Engine.Authentication().Password = c.Password;
    s.Open(broker.Port());
    EXPECT_TRUE(s.Log.WaitFor(c.Expected)) << ::testing::PrintToString(s.Log.Lines());
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, EngineWithBroker, ::testing::Values(TwsMQTTVersion::mqtt311, TwsMQTTVersion::mqtt5),
                         [](const auto& info) { return info.param == TwsMQTTVersion::mqtt5 ? "mqtt5" : "mqtt311"; });

}  // namespace
}  // namespace brz::test
