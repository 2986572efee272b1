// The built program against a scripted broker: the re-send of unacknowledged messages on a resumed
// session, and protocol violations of the broker, which end the connection instead of printing
// events made from garbage.

#include <gtest/gtest.h>

#include "app/AppMessages.h"
#include "mqtt/EngineMessages.h"
#include "tests/support/FakeBroker.h"
#include "tests/support/TestSupport.h"

namespace brz {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::FakeBroker;
using test::Hex;
using test::Process;
using test::ToHex;

class Console {
 public:
  Console() : FProcess({test::BrzmqttPath()}) {
    for (size_t i = 0; i < std::size(kBanner); ++i) EXPECT_EQ(FProcess.ReadLine(), kBanner[i]);
  }
  void Send(const std::string& line) { FProcess.WriteLine(line); }
  bool WaitFor(const std::string& needle, std::vector<std::string>* seen = nullptr) {
    return FProcess.ReadLineContaining(needle, 10s, seen).has_value();
  }
  Process& Child() { return FProcess; }

 private:
  Process FProcess;
};

std::string Open(const FakeBroker& broker) {
  return R"({"message":"open", "params":{"url":")" + broker.Url() + R"("}})";
}

TEST(SessionFault, UnacknowledgedPublishIsResentWithDupAndTheSameIdentifierOnAPresentSession) {
  FakeBroker broker;
  Console console;
  console.Send(R"({"message":"session", "protocol":"mqtt", "params":{"cleansession":false}})");
  console.Send(Open(broker));
  ASSERT_TRUE(broker.Accept());
  auto connect = broker.NextPacketOfType(1);
  ASSERT_TRUE(connect);
  // Clean session off.
  const test::ConnectPacket first = test::SplitConnect(*connect);
  EXPECT_EQ((*connect)[9] & 0x02, 0);
  broker.Send(Hex("20 02 00 00"));
  ASSERT_TRUE(console.WaitFor(R"("event": "connect")"));
  console.Send(R"({"message":"publish", "protocol":"mqtt", "params":{"topic":"t", "text":"x", "qos":1}})");
  auto publish = broker.NextPacketOfType(3);
  ASSERT_TRUE(publish);
  EXPECT_EQ(ToHex(*publish).substr(0, 2), "32");
  // The connection drops before the PUBACK.
  broker.CloseClient();
  ASSERT_TRUE(console.WaitFor(R"("event": "disconnected")"));
  console.Send(Open(broker));
  ASSERT_TRUE(broker.Accept());
  connect = broker.NextPacketOfType(1);
  ASSERT_TRUE(connect);
  // The same identifier, so that the broker finds the session.
  EXPECT_EQ(test::SplitConnect(*connect).ClientId, first.ClientId);
  broker.Send(Hex("20 02 01 00"));
  auto again = broker.NextPacketOfType(3);
  ASSERT_TRUE(again);
  Bytes expected = *publish;
  expected[0] = 0x3A;  // DUP, QoS 1
  EXPECT_EQ(ToHex(*again), ToHex(expected));
  // Acknowledged now: nothing is sent again on the next resumed session.
  broker.Send(Bytes{0x40, 0x02, (*publish)[5], (*publish)[6]});
  ASSERT_TRUE(console.WaitFor(R"("event": "puback")"));
  broker.CloseClient();
  ASSERT_TRUE(console.WaitFor(R"("event": "disconnected")"));
  console.Send(Open(broker));
  ASSERT_TRUE(broker.Accept());
  ASSERT_TRUE(broker.NextPacketOfType(1));
  broker.Send(Hex("20 02 01 00"));
  EXPECT_TRUE(broker.PacketsWithin(500ms).empty());
}

TEST(SessionFault, ProtocolViolationsEndTheConnectionWithOneErrorLine) {
  const std::string http =
      "HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain\r\nContent-Length: 11\r\nConnection: close\r\n\r\n"
      "Bad Request";
  struct Case {
    const char* Name;
    Bytes AfterConnect;  // sent in place of (or after) the CONNACK
    const char* Error;
  } cases[] = {
      {"HTTP answer before CONNACK", Bytes(http.begin(), http.end()), SMQTTPacketBeforeConnack},
      {"PUBACK before CONNACK", Hex("40 02 00 01"), SMQTTPacketBeforeConnack},
      {"second CONNACK", Hex("20 02 00 00 20 02 00 00"), SMQTTSecondConnack},
      {"PUBLISH with QoS 3", Hex("20 02 00 00 36 06 00 01 74 00 01 78"), SMQTTPublishQoS3},
      {"topic not UTF-8", Hex("20 02 00 00 30 05 00 02 C3 28 78"), SMQTTTopicNotUTF8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    FakeBroker broker;
    Console console;
    console.Send(Open(broker));
    ASSERT_TRUE(broker.Accept());
    ASSERT_TRUE(broker.NextPacketOfType(1));
    broker.Send(c.AfterConnect);
    std::vector<std::string> seen;
    EXPECT_TRUE(console.WaitFor(std::string(R"({"event": "error", "description": ")") + c.Error + "\"}", &seen));
    EXPECT_TRUE(console.WaitFor(R"("event": "disconnected")", &seen));
    EXPECT_TRUE(broker.WaitClientClosed());
    for (const std::string& line : seen) {
      EXPECT_EQ(line.find(R"("event": "pub)"), std::string::npos) << line;
    }
    // The program carries on: a new connection works.
    console.Send(Open(broker));
    ASSERT_TRUE(broker.Accept());
    ASSERT_TRUE(broker.NextPacketOfType(1));
    broker.Send(Hex("20 02 00 00"));
    EXPECT_TRUE(console.WaitFor(R"("event": "connect")"));
    console.Send("EXIT");
    EXPECT_EQ(console.Child().Wait(10s), 0);
  }
}

}  // namespace
}  // namespace brz
