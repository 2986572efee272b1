// The watchdog with the MQTT engine attached, against a scripted broker: the reopened connection
// carries a new CONNECT, and the new CONNACK's session flag decides about identifiers and the QoS list.

#include <gtest/gtest.h>

#include "tests/mqtt/EngineTestSupport.h"
#include "tests/support/FakeBroker.h"

namespace brz {
namespace {

using namespace std::chrono_literals;
using test::Hex;

struct SessionCase {
  const char* name;
  bool session;           // the second CONNACK's session-present flag
  uint16_t nextId;        // identifier of the first subscribe on the reopened connection
  int32_t queued;         // unacknowledged QoS 1 publishes: kept, or sent again in a fresh session
};

class WatchDogWithEngine : public ::testing::TestWithParam<SessionCase> {};

TEST_P(WatchDogWithEngine, ReopenSendsConnectAndTheConnackDecidesAboutTheSession) {
  const SessionCase& c = GetParam();
  test::FakeBroker broker;
  test::EventLog log;
  TbrzWebSocketClient client;
  TbrzWSProtocol_MQTT_Client engine;
  test::RecordEvents(engine, client, log);
  engine.SetClient(&client);
  client.WatchDog().Enabled = true;
  client.WatchDog().Interval = 1;
  client.SetURL(broker.Url());
  client.SetActive(true);
  ASSERT_TRUE(broker.Accept());
  auto connect = broker.NextPacketOfType(1);
  ASSERT_TRUE(connect.has_value());
  broker.Send(Hex("20 02 00 00"));
  ASSERT_TRUE(log.WaitFor("connect false 0 Connection Accepted"));
  EXPECT_EQ(engine.Subscribe("a"), 1);
  EXPECT_EQ(engine.Publish("a", "unacknowledged", TmqttQoS::mtqsAtLeastOnce), 2);
  ASSERT_TRUE(broker.NextPacketOfType(3).has_value());

  // The broker drops the client; nobody reopens but the watchdog.
  broker.CloseClient();
  ASSERT_TRUE(broker.Accept(10s));
  auto again = broker.NextPacketOfType(1);
  ASSERT_TRUE(again.has_value());
  // A fresh identifier each time, otherwise the same CONNECT.
  EXPECT_EQ(test::SplitConnect(*again).WithoutClientId, test::SplitConnect(*connect).WithoutClientId);
  broker.Send(Hex(c.session ? "20 02 01 00" : "20 02 00 00"));
  const std::string reconnected = std::string("connect ") + (c.session ? "true" : "false") + " 0 Connection Accepted";
  ASSERT_TRUE(log.WaitFor(reconnected, c.session ? 1 : 2));
  // A fresh session: the unacknowledged publish goes again, first, as identifier 1.
  if (!c.session) {
    EXPECT_EQ(test::ToHex(broker.NextPacket().value_or(test::Bytes{})).substr(0, 20), "32 13 00 01 61 00 01");
  }
  EXPECT_EQ(engine.Subscribe("b"), c.nextId);
  EXPECT_EQ(engine.QoSList().Count(), c.queued);
  client.SetActive(false);
}

INSTANTIATE_TEST_SUITE_P(Connack, WatchDogWithEngine,
                         ::testing::Values(SessionCase{"CleanSession", false, 2, 1},
                                           SessionCase{"SessionPresent", true, 3, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace brz
