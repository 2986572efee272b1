// Protocol objects: the names a client offers, which objects a connection's protocol reaches,
// attaching to and detaching from clients, event passing by message type, and writing through the client.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/TbrzWSComponent.h"
#include "framework/TbrzWSProtocol_Client.h"

namespace brz::test {
namespace {

// A client that records what protocol objects write through it.
class RecordingClient : public TbrzWSComponent_WSClient {
 public:
  void WriteData(const std::string& aText, int, TwsStreaming) override { Written.push_back("text " + aText); }
  void WriteData(TbrzMemoryStream& aStream, int, TwsStreaming) override {
    Written.push_back("binary " + aStream.ToString());
  }
  std::vector<std::string> Written;
};

std::unique_ptr<TbrzWSProtocol_Client_Base> MakeProtocol(const std::string& aGuid, const std::string& aNames) {
  auto protocol = std::make_unique<TbrzWSProtocol_Client_Base>();
  protocol->SetGuid(aGuid);
  protocol->SetProtocol(aNames);
  return protocol;
}

TEST(Protocol, OfferedTextAndMatching) {
  auto mqtt = MakeProtocol("", "mqtt");
  auto listed = MakeProtocol("g", "a,b");
  const std::vector<TbrzWSComponent_Base*> objects{mqtt.get(), listed.get()};
  EXPECT_EQ(OfferedProtocolText({mqtt.get()}), "mqtt");
  EXPECT_EQ(OfferedProtocolText(objects), "mqtt,g.a,g.b");

  struct Case {
    const char* Text;
    std::vector<TbrzWSComponent_Base*> Expected;
  };
  const Case cases[] = {
      {"mqtt", {mqtt.get()}},     {"MQTT", {mqtt.get()}},     {"g.b", {listed.get()}}, {"G.A", {listed.get()}},
      {"a", {listed.get()}},      {"g.a,b", {listed.get()}},  {"g.mqtt", {}},          {"c", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(MatchingProtocolObjects(objects, c.Text, false), c.Expected) << c.Text;

  auto twin = MakeProtocol("", "mqtt");
  EXPECT_EQ(MatchingProtocolObjects({mqtt.get(), twin.get()}, "mqtt", false).size(), 2u);
  EXPECT_EQ(MatchingProtocolObjects({mqtt.get(), twin.get()}, "mqtt", true),
            (std::vector<TbrzWSComponent_Base*>{mqtt.get()}));
}

TEST(Protocol, AttachingFollowsTheClientProperty) {
  RecordingClient first, second;
  first.SetNotifyEvents(TwsNotifyEvent::neSynchronous);
  auto protocol = MakeProtocol("", "mqtt");

  protocol->SetClient(&first);
  protocol->SetClient(&first);  // the same client again changes nothing
  EXPECT_EQ(first.ProtocolObjects(), (std::vector<TbrzWSComponent_Base*>{protocol.get()}));
  EXPECT_EQ(protocol->NotifyEvents(), TwsNotifyEvent::neSynchronous);

  // Moving to another client leaves nothing behind in the first one.
  protocol->SetClient(&second);
  EXPECT_TRUE(first.ProtocolObjects().empty());
  EXPECT_EQ(second.ProtocolObjects(), (std::vector<TbrzWSComponent_Base*>{protocol.get()}));
  EXPECT_EQ(protocol->NotifyEvents(), TwsNotifyEvent::neNoSync);

  protocol->SetClient(nullptr);
  EXPECT_TRUE(second.ProtocolObjects().empty());
  EXPECT_EQ(protocol->Client(), nullptr);

  // A destroyed object detaches itself.
  protocol->SetClient(&first);
  protocol.reset();
  EXPECT_TRUE(first.ProtocolObjects().empty());
}

TEST(Protocol, RegisteringByNameAttachesOnePlainObjectWithTheClientsHandlers) {
  RecordingClient client;
  std::vector<std::string> seen;
  client.OnMessage = [&seen](const TbrzConnectionPtr&, const std::string& aText) { seen.push_back(aText); };
  client.RegisterProtocol("chat");
  client.RegisterProtocol("chat");
  ASSERT_EQ(client.ProtocolObjects().size(), 1u);
  EXPECT_EQ(OfferedProtocolText(client.ProtocolObjects()), "chat");
  client.ProtocolObjects()[0]->RaiseMessageEvent(nullptr, "hi");
  EXPECT_EQ(seen, (std::vector<std::string>{"hi"}));

  // Unregistering by name destroys the client's own object but only detaches the application's.
  auto mine = MakeProtocol("", "chat");
  client.RegisterProtocol(mine.get());
  client.UnRegisterProtocol("chat");
  EXPECT_TRUE(client.ProtocolObjects().empty());
  EXPECT_EQ(mine->Client(), nullptr);
  client.RegisterProtocol(mine.get());
  client.UnRegisterProtocol(mine.get());
  EXPECT_TRUE(client.ProtocolObjects().empty());
}

TEST(Protocol, WritesGoThroughTheClientWhenThereIsOne) {
  auto protocol = MakeProtocol("", "chat");
  TbrzMemoryStream data(TBytes{1, 2});
  protocol->WriteData("lost");
  protocol->WriteData(data);

  RecordingClient client;
  protocol->SetClient(&client);
  protocol->WriteData("hello");
  TbrzMemoryStream bytes(TBytes{'a', 'b', 'c'});
  protocol->WriteData(bytes);
  EXPECT_EQ(client.Written, (std::vector<std::string>{"text hello", "binary abc"}));
  protocol->SetClient(nullptr);
}

TEST(Protocol, BinaryDataIsDeliveredByMessageType) {
  auto connection = std::make_shared<TbrzTCPConnection>();
  connection->SetTransport(TwsTransport::trpTCP);
  connection->SetMsgBinaryReceived(TbrzMemoryStream(TBytes{'a', 'b', 'c'}));

  for (TwsProtocolMessage type : {TwsProtocolMessage::msgText, TwsProtocolMessage::msgBinary}) {
    auto protocol = MakeProtocol("", "raw");
    protocol->SetMsgType(type);
    std::vector<std::string> seen;
    protocol->OnMessage = [&seen](const TbrzConnectionPtr&, const std::string& aText) { seen.push_back("text " + aText); };
    protocol->OnBinary = [&seen](const TbrzConnectionPtr&, TbrzMemoryStream& aData) {
      seen.push_back("binary " + aData.ToString());
    };
    protocol->DeliverBinary(connection);
    // A text protocol on raw TCP reads the bytes as text; a binary protocol gets them as they are.
    EXPECT_EQ(seen, (std::vector<std::string>{type == TwsProtocolMessage::msgText ? "text abc" : "binary abc"}));
  }
  connection->SetTransport(TwsTransport::trpRFC6455);
  auto protocol = MakeProtocol("", "chat");
  std::vector<std::string> seen;
  protocol->OnBinary = [&seen](const TbrzConnectionPtr&, TbrzMemoryStream& aData) { seen.push_back(aData.ToString()); };
  protocol->DeliverBinary(connection);
  EXPECT_EQ(seen, (std::vector<std::string>{"abc"}));
}

}  // namespace
}  // namespace brz::test
