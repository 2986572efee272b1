// The protocol core of the MQTT engine driven directly, with a link that records what would go on
// the wire: logic that is slow or awkward to reach over a socket (identifier wrap, keep-alive verdicts).

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "common/Exception.h"
#include "mqtt/EngineMessages.h"
#include "mqtt/TbrzWSProtocol_MQTT_ClientCore.h"
#include "tests/support/TestSupport.h"

namespace brz::test {
namespace {

class RecordingEngine : public TbrzWSProtocol_MQTT_ClientCore {
 public:
  ~RecordingEngine() override { ShutdownEngine(); }

  std::vector<Bytes> Sent() {
    std::lock_guard<std::mutex> guard(FLock);
    return FSent;
  }
  void ClearSent() {
    std::lock_guard<std::mutex> guard(FLock);
    FSent.clear();
  }
  // Waits until at least aCount packets were written (bounded).
  std::vector<Bytes> WaitSent(size_t aCount, std::chrono::milliseconds aTimeout = std::chrono::seconds(5)) {
    auto deadline = std::chrono::steady_clock::now() + aTimeout;
    while (Sent().size() < aCount && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return Sent();
  }
  void Receive(const TbrzConnectionPtr& aConnection, const Bytes& aBytes) {
    TbrzMemoryStream data(aBytes);
    InspectReceivedData(aConnection, data);
    HandleReceivedData(aConnection, data);
  }

  bool Tcp = true;
  int Closed = 0;

 protected:
  void WritePacketStream(TbrzMemoryStream& aPacket) override {
    std::lock_guard<std::mutex> guard(FLock);
    FSent.push_back(aPacket.ToBytes());
  }
  void CloseConnection(const TbrzConnectionPtr&) override { ++Closed; }
  bool IsTCPTransport(const TbrzConnectionPtr&) override { return Tcp; }
  void ApplyKeepAlive(bool, int32_t) override {}
  void RaiseEngineException(const TbrzConnectionPtr&, const std::string&, const Exception*) override {}

 private:
  std::mutex FLock;  // guards FSent
  std::vector<Bytes> FSent;
};

// The core never looks inside the connection; any distinct address stands for one.
// (aliasing a null owner: nothing is ever freed through it).
TbrzConnectionPtr FakeConnection() {
  static int token = 0;
  return TbrzConnectionPtr(std::shared_ptr<void>(), reinterpret_cast<TbrzTCPConnection_Base*>(&token));
}

TEST(EngineCore, IdentifiersStartAtOneAreTakenByQoS0AndWrapToOne) {
  RecordingEngine engine;
  engine.HandleTransportConnect(FakeConnection());
  engine.Receive(FakeConnection(), Hex("20 02 00 00"));
  EXPECT_EQ(engine.Publish("t", "x"), 1);
  EXPECT_EQ(engine.Subscribe("t"), 2);
  for (int i = 3; i <= 65535; ++i) ASSERT_EQ(engine.UnSubscribe("t"), i);
  EXPECT_EQ(engine.Publish("t", "x", TmqttQoS::mtqsAtLeastOnce), 1);
  EXPECT_EQ(ToHex(engine.Sent().back()), "32 06 00 01 74 00 01 78");
}

TEST(EngineCore, PublishesTheBrokerRefusesEndTheirFlowAndAreCounted) {
  RecordingEngine engine;
  engine.SetMQTTVersion(TwsMQTTVersion::mqtt5);
  engine.HandleTransportConnect(FakeConnection());
  engine.Receive(FakeConnection(), Hex("20 03 00 00 00"));
  EXPECT_EQ(engine.Publish("t", "x", TmqttQoS::mtqsAtLeastOnce), 1);
  EXPECT_EQ(engine.Publish("t", "y", TmqttQoS::mtqsExactlyOnce), 2);
  EXPECT_EQ(engine.Unfinished(), 2);
  // PUBACK "Not authorized", PUBREC "Quota exceeded": both flows end there.
  engine.Receive(FakeConnection(), Hex("40 03 00 01 87 50 03 00 02 97"));
  EXPECT_EQ(engine.Unfinished(), 0);
  EXPECT_EQ(engine.GivenUp(), 2);
}

TEST(EngineCore, AConnectedPublisherWaitsForRoomAndAnOfflineOneIsRefused) {
  RecordingEngine engine;
  std::vector<std::string> notices;
  engine.OnMQTTNotice = [&notices](const std::string& aText) { notices.push_back(aText); };
  engine.SetInflightMaximum(1);
  engine.Outbox().SetMaximum(1);
  engine.HandleTransportConnect(FakeConnection());
  engine.Receive(FakeConnection(), Hex("20 02 00 00"));
  engine.ClearSent();
  EXPECT_EQ(engine.Publish("t", "1", TmqttQoS::mtqsAtLeastOnce), 1);  // in flight
  EXPECT_EQ(engine.Publish("t", "2", TmqttQoS::mtqsAtLeastOnce), 0);  // waiting: the queue is full now
  std::promise<uint16_t> third;
  std::thread publisher([&] { third.set_value(engine.Publish("t", "3", TmqttQoS::mtqsAtLeastOnce)); });
  auto result = third.get_future();
  EXPECT_EQ(result.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout) << "not held back";
  // The acknowledgement sends "2", which makes room for "3".
  engine.Receive(FakeConnection(), Hex("40 02 00 01"));
  ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(result.get(), 0);
  publisher.join();
  EXPECT_EQ(engine.Sent(), (std::vector<Bytes>{Hex("32 06 00 01 74 00 01 31"), Hex("32 06 00 01 74 00 02 32")}));
  EXPECT_EQ(engine.Unfinished(), 2);
  EXPECT_TRUE(notices.empty());

  // Without a session a full queue refuses at once, with a word.
  engine.HandleTransportDisconnect(FakeConnection(), 0);
  EXPECT_EQ(engine.Publish("t", "4", TmqttQoS::mtqsExactlyOnce), 0);
  EXPECT_EQ(notices, (std::vector<std::string>{"publish to 't' refused: 1 publishes already wait for a connection"}));
  EXPECT_EQ(engine.GivenUp(), 1);
  EXPECT_EQ(engine.Unfinished(), 2);
}

TEST(EngineCore, HeartBeatTimeoutOnlyWhenPingrespIsOverdue) {
  RecordingEngine engine;
  engine.HeartBeat().Interval = 1;
  engine.HeartBeat().Timeout = 1;
  engine.HandleTransportConnect(FakeConnection());
  engine.Receive(FakeConnection(), Hex("20 02 00 00"));
  engine.ClearSent();

  // Answered pings never fail.
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(engine.HeartBeatTick(FakeConnection()));
    engine.Receive(FakeConnection(), Hex("D0 00"));
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  }
  ASSERT_TRUE(engine.HeartBeatTick(FakeConnection()));
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  try {
    engine.HeartBeatTick(FakeConnection());
    FAIL() << "no timeout raised";
  } catch (const Exception& E) {
    EXPECT_EQ(E.Message(), SMQTTHeartBeatTimeout);
  }
  EXPECT_EQ(engine.Sent(), (std::vector<Bytes>(3, Hex("C0 00"))));

  // Disabled keep-alive leaves the tick to the client.
  engine.HeartBeat().Enabled = false;
  EXPECT_FALSE(engine.HeartBeatTick(FakeConnection()));
}

TEST(EngineCore, PingsWithoutTimeoutNeverFail) {
  RecordingEngine engine;
  engine.HeartBeat().Interval = 30;
  engine.HandleTransportConnect(FakeConnection());
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(engine.HeartBeatTick(FakeConnection()));
}

TEST(EngineCore, PublishAndWaitOnAWebSocketStyleTransport) {
  RecordingEngine engine;
  engine.Tcp = false;
  engine.HandleTransportConnect(FakeConnection());
  engine.Receive(FakeConnection(), Hex("20 02 00 00"));

  EXPECT_TRUE(engine.PublishAndWait("t", "x", TmqttQoS::mtqsAtMostOnce, false, nullptr, 10000));
  // Identifier 2 is acknowledged by a PUBACK for 99 first (ignored), then by its own.
  std::thread broker([&engine] {
    engine.WaitSent(3);
    engine.Receive(FakeConnection(), Hex("40 02 00 63"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    engine.Receive(FakeConnection(), Hex("40 02 00 02"));
  });
  EXPECT_TRUE(engine.PublishAndWait("t", "x", TmqttQoS::mtqsAtLeastOnce, false, nullptr, 10000));
  broker.join();
  EXPECT_FALSE(engine.PublishAndWait("t", "x", TmqttQoS::mtqsAtLeastOnce, false, nullptr, 200));
  // Not queued: nothing to re-send.
  EXPECT_EQ(engine.QoSList().Count(), 0);
}

TEST(EngineCore, PublishAndWaitEndsWhenTheConnectionGoes) {
  RecordingEngine engine;
  engine.HandleTransportConnect(FakeConnection());
  std::thread broker([&engine] {
    engine.WaitSent(2);
    engine.HandleTransportDisconnect(FakeConnection(), 0);
  });
  EXPECT_FALSE(engine.PublishAndWait("t", "x", TmqttQoS::mtqsExactlyOnce, false, nullptr, -1));
  broker.join();
  // Without a connection nothing can be acknowledged.
  EXPECT_FALSE(engine.PublishAndWait("t", "x", TmqttQoS::mtqsAtLeastOnce, false, nullptr, -1));
}

TEST(EngineCore, MalformedRemainingLengthRaisesAndDispatchesNothing) {
  RecordingEngine engine;
  int connects = 0;
  engine.OnMQTTConnect = [&](const TbrzConnectionPtr&, bool, int32_t, const std::string&,
                             const TbrzWSMQTTCONNACKProperties&) { ++connects; };
  engine.HandleTransportConnect(FakeConnection());
  try {
    engine.Receive(FakeConnection(), Hex("20 FF FF FF FF 01"));
    FAIL() << "no error raised";
  } catch (const Exception& E) {
    EXPECT_STREQ(E.what(), "Malformed variable byte integer.");
  }
  EXPECT_EQ(connects, 0);
}

}  // namespace
}  // namespace brz::test
