// The engine attached to the real client component, against a scripted broker on loopback
// (tcp://127.0.0.1:P): exact bytes on the wire, reassembly of split and packed reads, the QoS
// flows, the retry list, keep-alive and the broker's own DISCONNECT.

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "mqtt/EngineMessages.h"
#include "tests/mqtt/EngineTestSupport.h"
#include "tests/support/FakeBroker.h"

namespace brz::test {
namespace {

// One engine on one client, talking to one scripted broker.
struct Session {
  FakeBroker Broker;
  EventLog Log;
  TbrzWebSocketClient Client;
  TbrzWSProtocol_MQTT_Client Engine;

  Session() { RecordEvents(Engine, Client, Log); }
  ~Session() { Client.SetActive(false); }

  // Opens the transport and returns the CONNECT the engine sent.
  Bytes Open(TwsMQTTVersion aVersion = TwsMQTTVersion::mqtt311) {
    Engine.SetMQTTVersion(aVersion);
    Engine.SetClient(&Client);
    Client.SetURL(Broker.Url());
    Client.SetActive(true);
    if (!Broker.Accept()) return {};
    return Broker.NextPacket().value_or(Bytes{});
  }
  Bytes Reopen() {
    Client.SetActive(false);
    Eventually([this] { return !Client.Active(); });
    Client.SetActive(true);
    if (!Broker.Accept()) return {};
    return Broker.NextPacket().value_or(Bytes{});
  }
  // Answers CONNECT and waits for the engine's report.
  void Acknowledge(bool aSession = false) {
    const bool v5 = Engine.MQTTVersion() == TwsMQTTVersion::mqtt5;
    const std::string line = std::string("connect ") + (aSession ? "true" : "false") + " 0 " +
                             (v5 ? "Success" : "Connection Accepted");
    const size_t before = Log.Count(line);
    Broker.Send(Hex(v5 ? (aSession ? "20 03 01 00 00" : "20 03 00 00 00") : (aSession ? "20 02 01 00" : "20 02 00 00")));
    ASSERT_TRUE(Log.WaitFor(line, before + 1));
  }
  std::string NextHex(std::chrono::milliseconds aTimeout = std::chrono::seconds(5)) {
    auto packet = Broker.NextPacket(aTimeout);
    return packet ? ToHex(*packet) : "<nothing>";
  }
  int32_t QueuedCount() { return Engine.QoSList().Count(); }
};

bool IsClientIdentifier(const std::string& aId) {
  if (aId.size() != 23) return false;
  for (char c : aId)
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

TEST(EngineOnLoopback, ConnectCarriesVersionFlagsKeepAliveAndCredentials) {
  struct Case {
    const char* Name;
    TwsMQTTVersion Version;
    bool Authentication;
    const char* User;
    const char* Password;
    bool KeepAlive;
    int32_t Interval;
    const char* Expected;  // the packet without its client identifier field
  };
  const Case cases[] = {
      {"defaults", TwsMQTTVersion::mqtt311, false, "", "", true, 300, "10 23 00 04 4D 51 54 54 04 02 01 2C"},
      {"mqtt5 with user and password", TwsMQTTVersion::mqtt5, true, "user", "pass", true, 1,
       "10 30 00 04 4D 51 54 54 05 C2 00 01 00 00 04 75 73 65 72 00 04 70 61 73 73"},
      {"password only, keep-alive off", TwsMQTTVersion::mqtt311, true, "", "pw", false, 30,
       "10 27 00 04 4D 51 54 54 04 42 00 00 00 02 70 77"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Session session;
    session.Engine.Authentication().Enabled = c.Authentication;
    session.Engine.Authentication().UserName = c.User;
    session.Engine.Authentication().Password = c.Password;
    session.Engine.HeartBeat().Enabled = c.KeepAlive;
    session.Engine.HeartBeat().Interval = c.Interval;
    const ConnectPacket first = SplitConnect(session.Open(c.Version));
    EXPECT_EQ(ToHex(first.WithoutClientId), c.Expected);
    EXPECT_TRUE(IsClientIdentifier(first.ClientId)) << first.ClientId;
    // Each connection generates its own identifier.
    const ConnectPacket second = SplitConnect(session.Reopen());
    EXPECT_EQ(ToHex(second.WithoutClientId), c.Expected);
    EXPECT_TRUE(IsClientIdentifier(second.ClientId)) << second.ClientId;
    EXPECT_NE(first.ClientId, second.ClientId);
  }
}

TEST(EngineOnLoopback, BeforeConnectHandlerChoosesSessionAndIdentifier) {
  {
    SCOPED_TRACE("own identifier");
    Session s;
    s.Engine.OnMQTTBeforeConnect = [](const TbrzConnectionPtr&, bool&, std::string& aClientIdentifier) {
      aClientIdentifier = "myid";
    };
    const ConnectPacket connect = SplitConnect(s.Open());
    EXPECT_EQ(connect.ClientId, "myid");
    EXPECT_EQ(ToHex(connect.WithoutClientId), "10 10 00 04 4D 51 54 54 04 02 01 2C");
  }
  {
    SCOPED_TRACE("persistent session keeps the offered identifier");
    Session s;
    std::string offered;
    s.Engine.OnMQTTBeforeConnect = [&offered](const TbrzConnectionPtr&, bool& aCleanSession,
                                              std::string& aClientIdentifier) {
      offered = aClientIdentifier;
      aCleanSession = false;
    };
    const ConnectPacket connect = SplitConnect(s.Open());
    EXPECT_TRUE(IsClientIdentifier(offered)) << offered;
    EXPECT_EQ(connect.ClientId, offered);
    EXPECT_EQ(ToHex(connect.WithoutClientId), "10 23 00 04 4D 51 54 54 04 00 01 2C");
  }
}

TEST(EngineOnLoopback, ApiPacketsCarryTheirPropertiesOnce) {
  {
    SCOPED_TRACE("mqtt311");
    Session s;
    s.Open();
    s.Acknowledge();
    s.Engine.Auth(false);
    EXPECT_EQ(s.NextHex(), "F0 00");
    s.Engine.Disconnect();
    EXPECT_EQ(s.NextHex(), "E0 00");
  }
  SCOPED_TRACE("mqtt5");
  Session s;
  s.Open(TwsMQTTVersion::mqtt5);
  s.Acknowledge();
  TbrzWSMQTTSubscribe_Properties subscribe;
  subscribe.SetSubscriptionIdentifier(5);
  EXPECT_EQ(s.Engine.Subscribe("t", TmqttQoS::mtqsAtLeastOnce, &subscribe), 1);
  EXPECT_EQ(s.NextHex(), "82 09 00 01 02 0B 05 00 01 74 01");
  EXPECT_EQ(s.Engine.Subscribe("t"), 2);  // the properties went with the previous packet only
  EXPECT_EQ(s.NextHex(), "82 07 00 02 00 00 01 74 00");
  TbrzWSTopics topics;
  topics.Add("a");
  topics.Add("b");
  EXPECT_EQ(s.Engine.UnSubscribe(topics), 3);
  EXPECT_EQ(s.NextHex(), "A2 09 00 03 00 00 01 61 00 01 62");
  TbrzWSMQTTAuth_Properties auth;
  auth.SetAuthenticationMethod("m");
  s.Engine.Auth(true, &auth);
  EXPECT_EQ(s.NextHex(), "F0 06 19 04 15 00 01 6D");
  TbrzWSMQTTDisconnect_Properties disconnect;
  disconnect.SetReasonString("bye");
  s.Engine.Disconnect(4, &disconnect);
  EXPECT_EQ(s.NextHex(), "E0 0D 04 0B 11 00 00 00 00 1F 00 03 62 79 65");
}

TEST(EngineOnLoopback, IdentifiersAndTheQoSListFollowTheSessionFlag) {
  Session s;
  s.Open();
  s.Acknowledge();
  EXPECT_EQ(s.Engine.Publish("t", "x"), 1);
  EXPECT_EQ(s.NextHex(), "30 04 00 01 74 78");  // QoS 0: no identifier on the wire
  EXPECT_EQ(s.Engine.Subscribe("t"), 2);
  EXPECT_EQ(s.NextHex(), "82 06 00 02 00 01 74 00");
  EXPECT_EQ(s.Engine.Publish("t", "q", TmqttQoS::mtqsAtLeastOnce), 3);
  EXPECT_EQ(s.NextHex(), "32 06 00 01 74 00 03 71");
  EXPECT_EQ(s.QueuedCount(), 1);

  // A session the broker kept: list and counter stay, and the unacknowledged message goes again
  // with DUP set and its identifier.
  s.Reopen();
  s.Acknowledge(true);
  EXPECT_EQ(s.NextHex(), "3A 06 00 01 74 00 03 71");
  EXPECT_EQ(s.QueuedCount(), 1);
  EXPECT_EQ(s.Engine.Subscribe("t"), 4);
  EXPECT_EQ(s.NextHex(), "82 06 00 04 00 01 74 00");

  // A fresh session: the counter starts over, and the publish the old session left unacknowledged
  // goes out again first, under a new identifier.
  s.Reopen();
  s.Acknowledge(false);
  EXPECT_EQ(s.NextHex(), "32 06 00 01 74 00 01 71");
  s.Broker.Send(Hex("40 02 00 01"));
  ASSERT_TRUE(s.Log.WaitFor("puback 1 0 "));
  EXPECT_EQ(s.QueuedCount(), 0);
  EXPECT_EQ(s.Engine.Subscribe("t"), 2);
  EXPECT_EQ(s.NextHex(), "82 06 00 02 00 01 74 00");

  // After 65535 the next identifier is 1, never 0.
  std::thread sender([&s] {
    for (int i = 3; i <= 65535; ++i) s.Engine.UnSubscribe("t");
  });
  Bytes last;
  for (int i = 3; i <= 65535; ++i) {
    auto packet = s.Broker.NextPacket();
    if (!packet) break;
    last = *packet;
  }
  sender.join();
  EXPECT_EQ(ToHex(last), "A2 05 FF FF 00 01 74");
  EXPECT_EQ(s.Engine.Subscribe("t"), 1);
  EXPECT_EQ(s.NextHex(), "82 06 00 01 00 01 74 00");
}

TEST(EngineOnLoopback, QoSFlowsInBothDirectionsFromSplitAndPackedReads) {
  Session s;
  s.Open(TwsMQTTVersion::mqtt5);
  const Bytes connack = Hex("20 03 00 00 00");
  // QoS 1 PUBLISH a/b "hi", identifier 10, payload format property.
  const Bytes qos1 = Hex("32 0C 00 03 61 2F 62 00 0A 02 01 01 68 69");
  // QoS 2 PUBLISH a/b "ok", identifier 11, empty property block.
  const Bytes qos2 = Hex("34 0A 00 03 61 2F 62 00 0B 00 6F 6B");
  const Bytes pubrel = Hex("62 02 00 09");
  Bytes all;
  for (const Bytes* part : {&connack, &qos1, &qos2, &pubrel}) all.insert(all.end(), part->begin(), part->end());
  // CONNACK with the first byte of a PUBLISH, a cut inside that header, a cut inside the next body.
  s.Broker.SendSplit(all, {6, 8, 23});

  EXPECT_EQ(s.NextHex(), "40 02 00 0A");
  EXPECT_EQ(s.NextHex(), "50 02 00 0B");
  EXPECT_EQ(s.NextHex(), "70 02 00 09");
  EXPECT_EQ(s.Log.Lines(), (std::vector<std::string>{"connect false 0 Success", "publish a/b hi", "publish a/b ok",
                                                     "pubrel 9 0 "}));

  // Outbound QoS 1: queued until its PUBACK.
  EXPECT_EQ(s.Engine.Publish("t", "x", TmqttQoS::mtqsAtLeastOnce), 1);
  EXPECT_EQ(s.NextHex(), "32 07 00 01 74 00 01 00 78");
  EXPECT_EQ(s.QueuedCount(), 1);
  s.Broker.Send(Hex("40 04 00 01 10 00"));
  ASSERT_TRUE(s.Log.WaitFor("puback 1 16 No matching subscribers"));
  EXPECT_EQ(s.QueuedCount(), 0);

  // Outbound QoS 2: PUBREC is answered with PUBREL and keeps the item; PUBCOMP removes it.
  EXPECT_EQ(s.Engine.Publish("t", "x", TmqttQoS::mtqsExactlyOnce), 2);
  EXPECT_EQ(s.NextHex(), "34 07 00 01 74 00 02 00 78");
  s.Broker.Send(Hex("50 02 00 02"));
  EXPECT_EQ(s.NextHex(), "62 02 00 02");
  EXPECT_EQ(s.QueuedCount(), 1);
  s.Broker.Send(Hex("70 02 00 02"));
  ASSERT_TRUE(s.Log.WaitFor("pubcomp 2 0 "));
  EXPECT_EQ(s.QueuedCount(), 0);
}

TEST(EngineOnLoopback, UnacknowledgedPublishIsResentWithTheSameIdentifierUntilAcknowledged) {
  Session s;
  s.Engine.QoS() = TbrzWSMQTTQoS_Options{TmqttQoS::mtqsAtLeastOnce, 1, 0};
  s.Open();
  s.Acknowledge();
  s.Engine.Publish("t", "x", TmqttQoS::mtqsAtLeastOnce);
  const std::string first = s.NextHex();
  EXPECT_EQ(first, "32 06 00 01 74 00 01 78");
  for (int retry = 0; retry < 2; ++retry) {
    auto again = s.Broker.NextPacketOfType(3);
    ASSERT_TRUE(again);
    EXPECT_EQ(ToHex(*again), first);  // same identifier, DUP clear
  }
  s.Broker.Send(Hex("40 02 00 01"));
  ASSERT_TRUE(s.Log.WaitFor("puback 1 0 "));
  s.Broker.PacketsWithin(std::chrono::milliseconds(200));  // a retry already on its way
  for (const Bytes& packet : s.Broker.PacketsWithin(std::chrono::milliseconds(2500)))
    EXPECT_NE(packet[0] >> 4, 3) << "re-sent after PUBACK: " << ToHex(packet);
}

TEST(EngineOnLoopback, PublishAndWaitReturnsOnItsOwnAcknowledgement) {
  Session s;
  s.Open();
  s.Acknowledge();
  EXPECT_TRUE(s.Engine.PublishAndWait("t", "x", TmqttQoS::mtqsAtMostOnce, false, nullptr, 5000));
  EXPECT_EQ(s.NextHex(), "30 04 00 01 74 78");

  auto qos1 = std::async(std::launch::async, [&s] {
    return s.Engine.PublishAndWait("t", "x", TmqttQoS::mtqsAtLeastOnce, false, nullptr, 10000);
  });
  EXPECT_EQ(s.NextHex(), "32 06 00 01 74 00 02 78");
  s.Broker.Send(Hex("40 02 00 07"));  // another identifier does not end the wait
  ASSERT_TRUE(s.Log.WaitFor("puback 7 0 "));
  EXPECT_EQ(qos1.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  s.Broker.Send(Hex("40 02 00 02"));
  EXPECT_TRUE(qos1.get());
  EXPECT_EQ(s.QueuedCount(), 0);

  auto qos2 = std::async(std::launch::async, [&s] {
    return s.Engine.PublishAndWait("t", "x", TmqttQoS::mtqsExactlyOnce, false, nullptr, 10000);
  });
  EXPECT_EQ(s.NextHex(), "34 06 00 01 74 00 03 78");
  s.Broker.Send(Hex("50 02 00 03"));
  EXPECT_EQ(s.NextHex(), "62 02 00 03");
  s.Broker.Send(Hex("70 02 00 03"));
  EXPECT_TRUE(qos2.get());

  EXPECT_FALSE(s.Engine.PublishAndWait("t", "x", TmqttQoS::mtqsAtLeastOnce, false, nullptr, 300));
}

TEST(EngineOnLoopback, PingreqOnEveryHeartbeatTick) {
  Session s;
  s.Engine.HeartBeat().Interval = 1;
  s.Open();
  s.Acknowledge();
  auto ping = s.Broker.NextPacketOfType(12);
  ASSERT_TRUE(ping);
  EXPECT_EQ(ToHex(*ping), "C0 00");
  s.Broker.Send(Hex("D0 00"));
  ASSERT_TRUE(s.Log.WaitFor("ping"));
  ASSERT_TRUE(s.Broker.NextPacketOfType(12));
}

TEST(EngineOnLoopback, DisabledKeepAliveSendsNothingBetweenPackets) {
  Session s;
  // The client's own heartbeat was on; the engine's setting wins.
  s.Client.HeartBeat().Enabled = true;
  s.Client.HeartBeat().Interval = 1;
  s.Engine.HeartBeat().Enabled = false;
  const ConnectPacket connect = SplitConnect(s.Open());
  EXPECT_EQ(ToHex(connect.WithoutClientId), "10 23 00 04 4D 51 54 54 04 02 00 00");
  s.Acknowledge();
  EXPECT_FALSE(s.Client.HeartBeat().Enabled);
  EXPECT_TRUE(s.Broker.PacketsWithin(std::chrono::milliseconds(2500)).empty());
}

TEST(EngineOnLoopback, EngineKeepAliveReplacesTheClientPeriodAtOnce) {
  Session s;
  // The client's 1 s heartbeat period begins at the TCP connect; the engine's 300 s keep-alive takes
  // over with CONNECT, so that period must not end in a PINGREQ.
  s.Client.HeartBeat().Enabled = true;
  s.Client.HeartBeat().Interval = 1;
  s.Engine.HeartBeat().Interval = 300;
  s.Open();
  s.Acknowledge();
  EXPECT_EQ(s.Client.HeartBeat().Interval, 300);
  EXPECT_TRUE(s.Broker.PacketsWithin(std::chrono::milliseconds(2500)).empty());
}

TEST(EngineOnLoopback, MissingPingrespEndsTheConnection) {
  Session s;
  s.Engine.HeartBeat().Interval = 1;
  s.Engine.HeartBeat().Timeout = 1;
  s.Open();
  s.Acknowledge();
  ASSERT_TRUE(s.Broker.NextPacketOfType(12));
  EXPECT_TRUE(s.Log.WaitFor(std::string("error ") + SMQTTHeartBeatTimeout));
  EXPECT_TRUE(s.Broker.WaitClientClosed());
  EXPECT_TRUE(s.Log.WaitFor("disconnected 0 "));
}

TEST(EngineOnLoopback, BrokerDisconnectUnderMQTT5IsReportedTwice) {
  Session s;
  s.Open(TwsMQTTVersion::mqtt5);
  s.Acknowledge();
  s.Broker.Send(Hex("E0 01 8D"));
  // Once for the packet, once more when the transport goes.
  EXPECT_TRUE(s.Log.WaitFor("disconnected 141 Keep Alive timeout", 2));
  EXPECT_TRUE(s.Broker.WaitClientClosed());
}

TEST(EngineOnLoopback, MalformedLengthFromTheBrokerIsReportedAndDropsTheConnection) {
  Session s;
  s.Open();
  s.Broker.Send(Hex("20 FF FF FF FF 01"));
  EXPECT_TRUE(s.Log.WaitFor("error Malformed variable byte integer."));
  EXPECT_TRUE(s.Broker.WaitClientClosed());
  for (const auto& line : s.Log.Lines()) EXPECT_NE(line.rfind("connect", 0), 0u) << line;
}

// A QoS 1/2 PUBLISH of topic "t" as the engine sends it.
Bytes PublishPacket(bool aV5, TmqttQoS aQoS, uint16_t aIdentifier, const std::string& aPayload) {
  Bytes packet{static_cast<uint8_t>(aQoS == TmqttQoS::mtqsAtLeastOnce ? 0x32 : 0x34), 0, 0x00, 0x01, 't',
               static_cast<uint8_t>(aIdentifier >> 8), static_cast<uint8_t>(aIdentifier)};
  if (aV5) packet.push_back(0);  // no properties
  packet.insert(packet.end(), aPayload.begin(), aPayload.end());
  packet[1] = static_cast<uint8_t>(packet.size() - 2);
  return packet;
}

TEST(EngineOnLoopback, InflightWindowHoldsPublishesBackUntilFlowsComplete) {
  struct Case {
    const char* Name;
    TwsMQTTVersion Version;
    int32_t Chosen;          // SetInflightMaximum (0 = default)
    const char* Connack;
    int Window;
    TmqttQoS QoS;
  };
  const char* v5Plain = "20 03 00 00 00";
  const char* v5ReceiveMaximum4 = "20 06 00 00 03 21 00 04";
  const Case cases[] = {
      {"3.1.1 default", TwsMQTTVersion::mqtt311, 0, "20 02 00 00", 20, TmqttQoS::mtqsAtLeastOnce},
      {"3.1.1 raised", TwsMQTTVersion::mqtt311, 25, "20 02 00 00", 25, TmqttQoS::mtqsExactlyOnce},
      {"3.1.1 lowered", TwsMQTTVersion::mqtt311, 3, "20 02 00 00", 3, TmqttQoS::mtqsAtLeastOnce},
      {"5.0 receive maximum", TwsMQTTVersion::mqtt5, 0, v5ReceiveMaximum4, 4, TmqttQoS::mtqsExactlyOnce},
      {"5.0 lowered", TwsMQTTVersion::mqtt5, 2, v5ReceiveMaximum4, 2, TmqttQoS::mtqsAtLeastOnce},
      {"5.0 never raised past the broker", TwsMQTTVersion::mqtt5, 30, v5ReceiveMaximum4, 4,
       TmqttQoS::mtqsAtLeastOnce},
      {"5.0 without the property", TwsMQTTVersion::mqtt5, 5, v5Plain, 5, TmqttQoS::mtqsAtLeastOnce},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const bool v5 = c.Version == TwsMQTTVersion::mqtt5;
    Session s;
    s.Engine.SetInflightMaximum(c.Chosen);
    s.Open(c.Version);
    s.Broker.Send(Hex(c.Connack));
    ASSERT_TRUE(s.Log.WaitFor(v5 ? "connect false 0 Success" : "connect false 0 Connection Accepted"));
    constexpr int kExtra = 3;
    const int total = c.Window + kExtra;
    for (int i = 0; i < total; ++i) s.Engine.Publish("t", std::to_string(i % 10), c.QoS);
    for (int i = 0; i < c.Window; ++i)
      ASSERT_EQ(s.NextHex(), ToHex(PublishPacket(v5, c.QoS, static_cast<uint16_t>(i + 1), std::to_string(i % 10))));
    EXPECT_TRUE(s.Broker.PacketsWithin(std::chrono::milliseconds(300)).empty()) << "sent beyond the window";
    EXPECT_EQ(s.Engine.Outbox().Count(), kExtra);
    EXPECT_EQ(s.Engine.Unfinished(), total);
    // Each completed flow lets exactly the next waiting publish go.
    for (int k = 0; k < kExtra; ++k) {
      const auto id = static_cast<uint8_t>(k + 1);
      if (c.QoS == TmqttQoS::mtqsAtLeastOnce) {
        s.Broker.Send(Bytes{0x40, 0x02, 0x00, id});
      } else {
        s.Broker.Send(Bytes{0x50, 0x02, 0x00, id});
        ASSERT_EQ(s.NextHex(), ToHex(Bytes{0x62, 0x02, 0x00, id}));
        EXPECT_TRUE(s.Broker.PacketsWithin(std::chrono::milliseconds(100)).empty()) << "PUBREC freed a slot";
        s.Broker.Send(Bytes{0x70, 0x02, 0x00, id});
      }
      const int next = c.Window + k;
      ASSERT_EQ(s.NextHex(),
                ToHex(PublishPacket(v5, c.QoS, static_cast<uint16_t>(next + 1), std::to_string(next % 10))));
    }
    EXPECT_EQ(s.Engine.Outbox().Count(), 0);
  }
}

TEST(EngineOnLoopback, QoSPublishesWaitForASessionAndOutliveTheConnection) {
  Session s;
  s.Engine.OnMQTTNotice = [&s](const std::string& aText) { s.Log.Add("notice " + aText); };
  // Before any connection: QoS 1/2 wait, QoS 0 is dropped with a word.
  EXPECT_EQ(s.Engine.Publish("t", "a", TmqttQoS::mtqsAtLeastOnce), 0);
  EXPECT_EQ(s.Engine.Publish("t", "b", TmqttQoS::mtqsExactlyOnce), 0);
  s.Engine.Publish("t", "zero");
  EXPECT_EQ(s.Log.Count("notice publish to 't' (QoS 0) dropped: no connection"), 1u);
  EXPECT_EQ(s.Engine.Outbox().Count(), 2);
  EXPECT_EQ(s.Engine.GivenUp(), 1);

  // Nothing but CONNECT goes out before the CONNACK; then the waiting publishes, in order.
  ASSERT_FALSE(s.Open().empty());
  EXPECT_TRUE(s.Broker.PacketsWithin(std::chrono::milliseconds(300)).empty());
  s.Acknowledge();
  EXPECT_EQ(s.NextHex(), "32 06 00 01 74 00 01 61");
  EXPECT_EQ(s.NextHex(), "34 06 00 01 74 00 02 62");
  // a completes; the broker has b (PUBREC); c is sent; then the connection is lost.
  s.Broker.Send(Hex("40 02 00 01 50 02 00 02"));
  EXPECT_EQ(s.NextHex(), "62 02 00 02");
  ASSERT_TRUE(s.Log.WaitFor("puback 1 0 "));
  EXPECT_EQ(s.Engine.Publish("t", "c", TmqttQoS::mtqsAtLeastOnce), 3);
  EXPECT_EQ(s.NextHex(), "32 06 00 01 74 00 03 63");
  s.Broker.CloseClient();
  ASSERT_TRUE(Eventually([&s] { return !s.Engine.WSConnection(); }));

  // While it is down publishes wait, up to the bound; the one beyond it is refused with a word.
  s.Engine.Outbox().SetMaximum(2);
  EXPECT_EQ(s.Engine.Publish("t", "d", TmqttQoS::mtqsAtLeastOnce), 0);
  EXPECT_EQ(s.Engine.Publish("t", "e", TmqttQoS::mtqsAtLeastOnce), 0);
  EXPECT_EQ(s.Engine.Publish("t", "f", TmqttQoS::mtqsAtLeastOnce), 0);
  EXPECT_EQ(s.Log.Count("notice publish to 't' refused: 2 publishes already wait for a connection"), 1u);
  EXPECT_EQ(s.Engine.Unfinished(), 4);  // b and c unacknowledged, d and e waiting
  EXPECT_EQ(s.Engine.GivenUp(), 2);

  // A fresh session: c goes again under a new identifier, then d and e; b is not sent twice.
  ASSERT_FALSE(s.Reopen().empty());
  s.Acknowledge(false);
  EXPECT_EQ(s.NextHex(), "32 06 00 01 74 00 01 63");
  EXPECT_EQ(s.NextHex(), "32 06 00 01 74 00 02 64");
  EXPECT_EQ(s.NextHex(), "32 06 00 01 74 00 03 65");
  EXPECT_EQ(s.Log.Count("notice publish 2 to 't' (QoS 2) not sent again: the connection was lost after PUBREC "
                        "and the new session cannot complete it"),
            1u);
  EXPECT_EQ(s.Engine.GivenUp(), 3);
  s.Broker.Send(Hex("40 02 00 01 40 02 00 02 40 02 00 03"));
  ASSERT_TRUE(s.Log.WaitFor("puback 3 0 "));
  EXPECT_EQ(s.Engine.Unfinished(), 0);
}

}  // namespace
}  // namespace brz::test
