// Option groups and the QoS list.
#include <gtest/gtest.h>

#include "mqtt/TbrzWSMQTTOptions.h"
#include "tests/mqtt/MQTTTestHelpers.h"

namespace brz::test {
namespace {

using Q = TmqttQoS;

TEST(MQTTOptions, Defaults) {
  TbrzWSMQTTQoS_Options qos;
  EXPECT_EQ(qos.Level, Q::mtqsAtMostOnce);
  EXPECT_EQ(qos.Interval, 60);
  EXPECT_EQ(qos.Timeout, 300);
  TbrzWSMQTTHeartBeat_Options heartBeat;
  EXPECT_TRUE(heartBeat.Enabled);
  EXPECT_EQ(heartBeat.Interval, 300);
  EXPECT_EQ(heartBeat.Timeout, 0);
  TbrzWSMQTTLWT_Options will;
  EXPECT_FALSE(will.Enabled);
  EXPECT_EQ(will.QoS, Q::mtqsAtMostOnce);
  EXPECT_FALSE(will.Retain);
  EXPECT_TRUE(will.Topic.empty());
  EXPECT_FALSE(will.WillProperties.Enabled());
  TbrzWSMQTTAuthentication_Options authentication;
  EXPECT_FALSE(authentication.Enabled);
  EXPECT_TRUE(authentication.UserName.empty());
  EXPECT_TRUE(authentication.Password.empty());
}

TEST(MQTTOptions, AssignMakesIndependentCopies) {
  TbrzWSMQTTLWT_Options source;
  source.Enabled = true;
  source.Topic = "will/t";
  source.Text = "gone";
  source.QoS = Q::mtqsExactlyOnce;
  source.Retain = true;
  source.WillProperties.SetContentType("text/plain");
  source.WillProperties.SetUserProperties({"a=1"});
  source.WillProperties.SetWillDelayInterval(-5);
  TbrzWSMQTTLWT_Options copy;
  copy.Assign(source);
  source.Topic = "changed";
  source.WillProperties.SetContentType("changed");
  source.WillProperties.SetUserProperties({});
  EXPECT_TRUE(copy.Enabled);
  EXPECT_EQ(copy.Topic, "will/t");
  EXPECT_EQ(copy.Text, "gone");
  EXPECT_EQ(copy.QoS, Q::mtqsExactlyOnce);
  EXPECT_TRUE(copy.Retain);
  EXPECT_EQ(copy.WillProperties.ContentType(), "text/plain");
  EXPECT_EQ(copy.WillProperties.UserProperties(), TbrzWSMQTTUserProperties{"a=1"});
  EXPECT_EQ(copy.WillProperties.WillDelayInterval(), 0);

  // A copied will carries its properties into an MQTT 5 CONNECT.
  TbrzWSMQTTMessage message;
  Prepare(message, TwsMQTTVersion::mqtt5);
  message.SetWillProperties(copy.WillProperties);
  TBytes packet = message.DoConnect(false, "", "", copy.Enabled, copy.Topic, copy.Text, copy.QoS, copy.Retain, true, 10);
  EXPECT_NE(ToHex(packet).find("03 00 0A 74 65 78 74 2F 70 6C 61 69 6E"), std::string::npos) << ToHex(packet);

  TbrzWSMQTTQoS_Options qos{Q::mtqsAtLeastOnce, -1, 2};
  TbrzWSMQTTQoS_Options qosCopy;
  qosCopy.Assign(qos);
  EXPECT_EQ(qosCopy.Level, Q::mtqsAtLeastOnce);
  EXPECT_EQ(qosCopy.Interval, -1) << "option values are not validated";
  EXPECT_EQ(qosCopy.Timeout, 2);
  TbrzWSMQTTAuthentication_Options authentication{true, "secret", "user"};
  TbrzWSMQTTAuthentication_Options authenticationCopy;
  authenticationCopy.Assign(authentication);
  authentication.Password.clear();
  EXPECT_EQ(authenticationCopy.Password, "secret");
  EXPECT_EQ(authenticationCopy.UserName, "user");
  TbrzWSMQTTHeartBeat_Options heartBeat{false, 30, 10};
  TbrzWSMQTTHeartBeat_Options heartBeatCopy;
  heartBeatCopy.Assign(heartBeat);
  EXPECT_FALSE(heartBeatCopy.Enabled);
  EXPECT_EQ(heartBeatCopy.Interval, 30);
  EXPECT_EQ(heartBeatCopy.Timeout, 10);
}

TEST(MQTTQoSList, QueueingCondition) {
  const std::tuple<uint16_t, Q, bool> cases[] = {
      {0, Q::mtqsAtLeastOnce, false}, {1, Q::mtqsAtMostOnce, false}, {1, Q::mtqsReserved, false},
      {1, Q::mtqsAtLeastOnce, true},  {65535, Q::mtqsExactlyOnce, true},
  };
  for (const auto& [identifier, qos, queued] : cases) {
    TbrzWSMQTTQoSList list;
    TbrzMemoryStream stream(TBytes{1, 2});
    EXPECT_EQ(list.QueueQoSItem(identifier, "t", "x", qos, false, nullptr), queued);
    EXPECT_EQ(list.QueueQoSStreamItem(identifier, "t", stream, qos, false, nullptr), queued);
    EXPECT_EQ(list.Count(), queued ? 2 : 0) << identifier;
  }
}

TEST(MQTTQoSList, ItemsKeepTheirValues) {
  TbrzWSMQTTQoSList list;
  TbrzWSMQTTPublish_Properties properties;
  properties.SetResponseTopic("reply");
  properties.SetTopicAlias(-1);
  auto before = TbrzWSMQTTQoSItem::TClock::now();
  ASSERT_TRUE(list.QueueQoSItem(7, "a/b", "text", Q::mtqsExactlyOnce, true, &properties));
  properties.SetResponseTopic("changed");
  TbrzWSMQTTQoSItem& item = list.Item(0);
  EXPECT_EQ(item.ItemType(), TbrzWSMQTTItemType::mqttText);
  EXPECT_EQ(item.PacketIdentifier(), 7);
  EXPECT_EQ(item.Topic(), "a/b");
  EXPECT_EQ(item.Text(), "text");
  EXPECT_EQ(item.QoS(), Q::mtqsExactlyOnce);
  EXPECT_TRUE(item.Retain());
  EXPECT_GE(item.Date(), before);
  EXPECT_EQ(item.AgeSeconds(item.Date() + std::chrono::milliseconds(2999)), 2);
  ASSERT_NE(item.PublishProperties(), nullptr);
  EXPECT_EQ(item.PublishProperties()->ResponseTopic(), "reply");
  EXPECT_EQ(item.PublishProperties()->TopicAlias(), 0);
  item.SetPublishProperties(nullptr);
  EXPECT_EQ(item.PublishProperties(), nullptr);
  // A new item owns a default property set.
  ASSERT_TRUE(list.QueueQoSItem(8, "t", "", Q::mtqsAtLeastOnce, false, nullptr));
  ASSERT_NE(list.Item(1).PublishProperties(), nullptr);
  EXPECT_FALSE(list.Item(1).PublishProperties()->Enabled());
}

TEST(MQTTQoSList, StreamItemOwnsACopyOfThePayload) {
  TbrzWSMQTTQoSList list;
  TbrzMemoryStream payload(TBytes{0x01, 0x02, 0x03});
  payload.SetPosition(2);  // the whole content is copied wherever the caller's stream stands
  ASSERT_TRUE(list.QueueQoSStreamItem(3, "t", payload, Q::mtqsAtLeastOnce, false, nullptr));
  EXPECT_EQ(payload.Position(), 0u);
  payload.Clear();
  payload.Write(TBytes{0xFF});
  TbrzWSMQTTQoSItem& item = list.Item(0);
  EXPECT_EQ(item.ItemType(), TbrzWSMQTTItemType::mqttStream);
  EXPECT_EQ(ToHex(item.Stream().Bytes()), "01 02 03");
  EXPECT_EQ(item.Stream().Position(), 0u);
  // A retry builds from the item's copy.
  TbrzWSMQTTMessage message;
  EXPECT_EQ(ToHex(message.DoPublish(item.PacketIdentifier(), item.Topic(), item.Stream(), item.QoS(), false, false)),
            "32 08 00 01 74 00 03 01 02 03");
}

TEST(MQTTQoSList, DeleteSearchesBackwards) {
  TbrzWSMQTTQoSList list;
  list.QueueQoSItem(7, "first", "", Q::mtqsAtLeastOnce, false, nullptr);
  list.QueueQoSItem(8, "other", "", Q::mtqsAtLeastOnce, false, nullptr);
  list.QueueQoSItem(7, "second", "", Q::mtqsAtLeastOnce, false, nullptr);
  EXPECT_FALSE(list.DeleteQoSItem(99));
  EXPECT_EQ(list.Count(), 3);
  EXPECT_TRUE(list.DeleteQoSItem(7));
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Item(0).Topic(), "first");
  EXPECT_EQ(list.Item(1).Topic(), "other");
  EXPECT_TRUE(list.DeleteQoSItem(7));
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Item(0).Topic(), "other");
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_FALSE(list.DeleteQoSItem(8));
}

}  // namespace
}  // namespace brz::test
