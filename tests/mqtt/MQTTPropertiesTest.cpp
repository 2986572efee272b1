// MQTT 5 property sets: outbound defaults, clamping, copies and block bytes; inbound parsing.
#include <gtest/gtest.h>

#include <functional>

#include "mqtt/MQTTMessages.h"
#include "tests/mqtt/MQTTTestHelpers.h"

namespace brz::test {
namespace {

using V = TwsMQTTVersion;
using Q = TmqttQoS;

// The CONNECT property block (length included) of a will-less CONNECT with client identifier ABC.
std::string ConnectBlock(TbrzWSMQTTMessage& aMessage) {
  TBytes packet = aMessage.DoConnect(false, "", "", false, "", "", Q::mtqsAtMostOnce, false, true, 300);
  size_t header = (packet[1] & 0x80) != 0 ? 3 : 2;
  return ToHex(TBytes(packet.begin() + static_cast<long>(header) + 10, packet.end() - 5));
}

TEST(MQTTProperties, ConnectBlockDisabledIsOneZeroByte) {
  TbrzWSMQTTMessage message;
  Prepare(message, V::mqtt5);
  EXPECT_EQ(ConnectBlock(message), "00");
}

TEST(MQTTProperties, ConnectBlockWithDefaults) {
  TbrzWSMQTTMessage message;
  Prepare(message, V::mqtt5);
  message.ConnectProperties().SetEnabled(true);
  EXPECT_EQ(ToHex(message.DoConnect(false, "", "", false, "", "", Q::mtqsAtMostOnce, false, true, 300)),
            "10 24 00 04 4D 51 54 54 05 02 01 2C 14 11 00 00 00 00 21 FF FF 27 7F FF FF FF 22 00 00 19 00 17 01"
            " 00 03 41 42 43");
  // The set stays enabled for the next CONNECT.
  EXPECT_EQ(ConnectBlock(message), "14 11 00 00 00 00 21 FF FF 27 7F FF FF FF 22 00 00 19 00 17 01");
  // Nothing under MQTT 3.1.1.
  message.SetMQTTVersion(V::mqtt311);
  EXPECT_EQ(ToHex(message.DoConnect(false, "", "", false, "", "", Q::mtqsAtMostOnce, false, true, 300)),
            "10 0F 00 04 4D 51 54 54 04 02 01 2C 00 03 41 42 43");
}

TEST(MQTTProperties, ConnectGettersClampAndTheBlockSendsTheClampedValues) {
  struct TCase {
    const char* Name;
    std::function<void(TbrzWSMQTTConnect_Properties&)> Set;
    std::function<int32_t(const TbrzWSMQTTConnect_Properties&)> Get;
    int32_t Expected;
    const char* Block;
  };
  using P = TbrzWSMQTTConnect_Properties;
  const TCase cases[] = {
      {"receive maximum 0", [](P& p) { p.SetReceiveMaximum(0); }, [](const P& p) { return p.ReceiveMaximum(); }, 1,
       "14 11 00 00 00 00 21 00 01 27 7F FF FF FF 22 00 00 19 00 17 01"},
      {"receive maximum 70000", [](P& p) { p.SetReceiveMaximum(70000); },
       [](const P& p) { return p.ReceiveMaximum(); }, 65535,
       "14 11 00 00 00 00 21 FF FF 27 7F FF FF FF 22 00 00 19 00 17 01"},
      {"topic alias maximum 70000", [](P& p) { p.SetTopicAliasMaximum(70000); },
       [](const P& p) { return p.TopicAliasMaximum(); }, 65535,
       "14 11 00 00 00 00 21 FF FF 27 7F FF FF FF 22 FF FF 19 00 17 01"},
      {"topic alias maximum -5", [](P& p) { p.SetTopicAliasMaximum(-5); },
       [](const P& p) { return p.TopicAliasMaximum(); }, 0,
       "14 11 00 00 00 00 21 FF FF 27 7F FF FF FF 22 00 00 19 00 17 01"},
      {"maximum packet size -1", [](P& p) { p.SetMaximumPacketSize(-1); },
       [](const P& p) { return p.MaximumPacketSize(); }, 2147483647,
       "14 11 00 00 00 00 21 FF FF 27 7F FF FF FF 22 00 00 19 00 17 01"},
      {"maximum packet size 1024", [](P& p) { p.SetMaximumPacketSize(1024); },
       [](const P& p) { return p.MaximumPacketSize(); }, 1024,
       "14 11 00 00 00 00 21 FF FF 27 00 00 04 00 22 00 00 19 00 17 01"},
      {"session expiry -3", [](P& p) { p.SetSessionExpiryInterval(-3); },
       [](const P& p) { return p.SessionExpiryInterval(); }, 0,
       "14 11 00 00 00 00 21 FF FF 27 7F FF FF FF 22 00 00 19 00 17 01"},
      {"session expiry 3600 and both requests flipped",
       [](P& p) {
         p.SetSessionExpiryInterval(3600);
         p.SetRequestResponseInformation(true);
         p.SetRequestProblemInformation(false);
       },
       [](const P& p) { return p.SessionExpiryInterval(); }, 3600,
       "14 11 00 00 0E 10 21 FF FF 27 7F FF FF FF 22 00 00 19 01 17 00"},
  };
  for (const auto& c : cases) {
    TbrzWSMQTTMessage message;
    Prepare(message, V::mqtt5);
    TbrzWSMQTTConnect_Properties properties;
    properties.SetEnabled(true);
    c.Set(properties);
    EXPECT_EQ(c.Get(properties), c.Expected) << c.Name;
    message.SetConnectProperties(properties);
    EXPECT_EQ(c.Get(message.ConnectProperties()), c.Expected) << c.Name;
    EXPECT_EQ(ConnectBlock(message), c.Block) << c.Name;
  }
}

TEST(MQTTProperties, UserPropertyLinesWithoutNameAreNotSent) {
  TbrzWSMQTTMessage message;
  Prepare(message, V::mqtt5);
  message.ConnectProperties().SetEnabled(true);
  message.ConnectProperties().SetUserProperties({"a=1", "b", "=c", "d=e=f"});
  message.ConnectProperties().SetAuthenticationMethod("m");
  EXPECT_EQ(ConnectBlock(message),
            "28 11 00 00 00 00 21 FF FF 27 7F FF FF FF 22 00 00 19 00 17 01"
            " 26 00 01 61 00 01 31 26 00 01 64 00 03 65 3D 66 15 00 01 6D");
  EXPECT_EQ(UserPropertyName("d=e=f"), "d");
  EXPECT_EQ(UserPropertyValue("d=e=f"), "e=f");
  EXPECT_EQ(UserPropertyName("b"), "b");
  EXPECT_EQ(UserPropertyValue("b"), "");
}

TEST(MQTTProperties, WillBlockOrderAndTheWillFlagDecidesItsPresence) {
  TbrzWSMQTTMessage message;
  Prepare(message, V::mqtt5);
  TbrzWSMQTTWill_Properties& will = message.WillProperties();
  will.SetWillDelayInterval(5);
  will.SetPayloadFormat(TwsMQTTPayloadFormat::mqpfUTF8);
  will.SetMessageExpiryInterval(9);
  will.SetContentType("c");
  will.SetResponseTopic("r");
  will.SetCorrelationData("d");
  will.SetUserProperties({"k=v"});
  will.SetEnabled(false);  // the will flag enables it
  EXPECT_EQ(ToHex(message.DoConnect(false, "", "", true, "w", "x", Q::mtqsAtMostOnce, false, true, 300)),
            "10 36 00 04 4D 51 54 54 05 06 01 2C 00 00 03 41 42 43 1F 18 00 00 00 05 01 01 02 00 00 00 09"
            " 03 00 01 63 08 00 01 72 09 00 01 64 26 00 01 6B 00 01 76 00 01 77 00 01 78");
  EXPECT_TRUE(will.Enabled());
  // Without the will flag nothing of the will is written, even though the set was enabled.
  EXPECT_EQ(ToHex(message.DoConnect(false, "", "", false, "w", "x", Q::mtqsAtMostOnce, false, true, 300)),
            "10 10 00 04 4D 51 54 54 05 02 01 2C 00 00 03 41 42 43");
  EXPECT_FALSE(will.Enabled());
  // Negative intervals read as 0.
  will.SetWillDelayInterval(-1);
  will.SetMessageExpiryInterval(-1);
  EXPECT_EQ(will.WillDelayInterval(), 0);
  EXPECT_EQ(will.MessageExpiryInterval(), 0);
}

TEST(MQTTProperties, PublishBlockIsSentOnce) {
  TbrzWSMQTTMessage message;
  Prepare(message, V::mqtt5);
  message.PUBLISHProperties().SetTopicAlias(5);
  message.PUBLISHProperties().SetEnabled(true);
  EXPECT_EQ(ToHex(message.DoPublish(0, "t", "x", Q::mtqsAtMostOnce, false, false)), "30 0A 00 01 74 05 01 00 23 00 05 78");
  EXPECT_FALSE(message.PUBLISHProperties().Enabled());
  EXPECT_EQ(ToHex(message.DoPublish(0, "t", "x", Q::mtqsAtMostOnce, false, false)), "30 05 00 01 74 00 78");
}

TEST(MQTTProperties, PublishBlockWritesEveryPropertyInOrder) {
  TbrzWSMQTTMessage message;
  Prepare(message, V::mqtt5);
  TbrzWSMQTTPublish_Properties properties;
  properties.SetEnabled(true);
  properties.SetPayloadFormat(TwsMQTTPayloadFormat::mqpfUTF8);
  properties.SetMessageExpiryInterval(9);
  properties.SetTopicAlias(70000);
  properties.SetResponseTopic("r");
  properties.SetCorrelationData("d");
  properties.SetUserProperties({"k=v"});
  properties.SetSubscriptionIdentifier(200);
  properties.SetContentType("c");
  message.SetPUBLISHProperties(properties);
  EXPECT_EQ(ToHex(message.DoPublish(1, "t", "", Q::mtqsAtLeastOnce, false, false)),
            "32 26 00 01 74 00 01 20 01 01 02 00 00 00 09 23 FF FF 08 00 01 72 09 00 01 64 26 00 01 6B 00 01 76"
            " 0B C8 01 03 00 01 63");
  // Defaults: only the payload format indicator.
  TbrzWSMQTTPublish_Properties defaults;
  defaults.SetEnabled(true);
  defaults.SetTopicAlias(-3);
  defaults.SetSubscriptionIdentifier(-3);
  defaults.SetMessageExpiryInterval(-3);
  message.SetPUBLISHProperties(defaults);
  EXPECT_EQ(ToHex(message.DoPublish(0, "t", "", Q::mtqsAtMostOnce, false, false)), "30 06 00 01 74 02 01 00");
  // The caller's set is a copy source only: it is not disabled by the packet.
  EXPECT_TRUE(properties.Enabled());
}

TEST(MQTTProperties, SubscribeBlockIsSentOnceAndItsIdentifierIsAtLeastOne) {
  TbrzWSMQTTMessage message;
  Prepare(message, V::mqtt5);
  TbrzWSTopics topics;
  topics.Add("a");
  message.SubscribeProperties().SetSubscriptionIdentifier(0);
  message.SubscribeProperties().SetEnabled(true);
  EXPECT_EQ(ToHex(message.DoSubscribe(1, topics)), "82 09 00 01 02 0B 01 00 01 61 00");
  EXPECT_EQ(ToHex(message.DoSubscribe(1, topics)), "82 07 00 01 00 00 01 61 00");
  message.SubscribeProperties().SetSubscriptionIdentifier(300);
  message.SubscribeProperties().SetUserProperties({"k=v", "novalue"});
  message.SubscribeProperties().SetEnabled(true);
  EXPECT_EQ(ToHex(message.DoSubscribe(1, topics)), "82 11 00 01 0A 0B AC 02 26 00 01 6B 00 01 76 00 01 61 00");
}

TEST(MQTTProperties, UnsubscribeBlockHoldsOnlyUserProperties) {
  TbrzWSMQTTMessage message;
  Prepare(message, V::mqtt5);
  TbrzWSTopics topics;
  topics.Add("a");
  message.UnsubscribeProperties().SetEnabled(true);
  EXPECT_EQ(ToHex(message.DoUnSubscribe(1, topics)), "A2 06 00 01 00 00 01 61");
  message.UnsubscribeProperties().SetUserProperties({"k=v"});
  message.UnsubscribeProperties().SetEnabled(true);
  EXPECT_EQ(ToHex(message.DoUnSubscribe(2, topics)), "A2 0D 00 02 07 26 00 01 6B 00 01 76 00 01 61");
  EXPECT_EQ(ToHex(message.DoUnSubscribe(2, topics)), "A2 06 00 02 00 00 01 61");
}

TEST(MQTTProperties, DisconnectAndAuthBlocksStayEnabled) {
  TbrzWSMQTTMessage message;
  Prepare(message, V::mqtt5);
  message.DISCONNECTProperties().SetEnabled(true);
  EXPECT_EQ(ToHex(message.DoDisconnect(0)), "E0 07 00 05 11 00 00 00 00");
  TbrzWSMQTTDisconnect_Properties disconnect;
  disconnect.SetEnabled(true);
  disconnect.SetSessionExpiryInterval(60);
  disconnect.SetReasonString("r");
  disconnect.SetUserProperties({"k=v"});
  disconnect.SetServerReference("s");
  message.SetDISCONNECTProperties(disconnect);
  const char* expected = "E0 16 04 14 11 00 00 00 3C 1F 00 01 72 26 00 01 6B 00 01 76 1C 00 01 73";
  EXPECT_EQ(ToHex(message.DoDisconnect(4)), expected);
  EXPECT_EQ(ToHex(message.DoDisconnect(4)), expected);

  message.AUTHProperties().SetEnabled(true);
  EXPECT_EQ(ToHex(message.DoAuth(false)), "F0 02 18 00");
  TbrzWSMQTTAuth_Properties auth;
  auth.SetEnabled(true);
  auth.SetReasonString("r");
  auth.SetAuthenticationMethod("m");
  auth.SetAuthenticationData("d");
  auth.SetUserProperties({"k=v"});
  message.SetAUTHProperties(auth);
  EXPECT_EQ(ToHex(message.DoAuth(true)), "F0 15 19 13 15 00 01 6D 16 00 01 64 1F 00 01 72 26 00 01 6B 00 01 76");
  EXPECT_TRUE(message.AUTHProperties().Enabled());
}

TEST(MQTTProperties, AssignCopiesClampedValuesIntoAnIndependentSet) {
  TbrzWSMQTTConnect_Properties source;
  source.SetReceiveMaximum(0);
  source.SetUserProperties({"a=1"});
  source.SetAuthenticationMethod("m");
  TbrzWSMQTTConnect_Properties copy;
  copy.Assign(source);
  source.SetUserProperties({"b=2"});
  source.SetAuthenticationMethod("n");
  EXPECT_EQ(copy.ReceiveMaximum(), 1);
  EXPECT_EQ(copy.UserProperties(), TbrzWSMQTTUserProperties{"a=1"});
  EXPECT_EQ(copy.AuthenticationMethod(), "m");

  TbrzWSMQTTSubscribe_Properties subscribe;
  EXPECT_EQ(subscribe.SubscriptionIdentifier(), 1);
  subscribe.SetSubscriptionIdentifier(-4);
  TbrzWSMQTTSubscribe_Properties subscribeCopy;
  subscribeCopy.Assign(subscribe);
  EXPECT_EQ(subscribeCopy.SubscriptionIdentifier(), 1);

  TbrzWSMQTTMessage message;
  TbrzWSMQTTAuth_Properties auth;
  auth.SetReasonString("r");
  message.SetAUTHProperties(auth);
  auth.SetReasonString("changed");
  EXPECT_EQ(message.AUTHProperties().ReasonString(), "r");
}

// ---- inbound

TEST(MQTTProperties, ConnackBlockKnownIdentifiers) {
  TbrzWSMQTTCONNACKProperties properties;
  properties.ReadBytes(Hex("24 01 21 00 0A"));
  EXPECT_EQ(properties.MaximumQoS(), Q::mtqsAtLeastOnce);
  EXPECT_EQ(properties.ReceiveMaximum(), 10);

  properties.Clear();
  properties.ReadBytes(Hex("11 00 00 00 3C 12 00 02 69 64 13 00 1E 15 00 01 6D 16 00 01 64 1A 00 01 69 1C 00 01 73"
                           " 1F 00 01 72 22 00 05 25 00 26 00 01 6B 00 01 76 27 00 00 10 00 28 00 29 02 2A 01 24 02"));
  EXPECT_EQ(properties.SessionExpiryInterval(), 60);
  EXPECT_EQ(properties.AssignedClientIdentifier(), "id");
  EXPECT_EQ(properties.ServerKeepAlive(), 30);
  EXPECT_EQ(properties.AuthenticationMethod(), "m");
  EXPECT_EQ(properties.AuthenticationData(), "d");
  EXPECT_EQ(properties.ResponseInformation(), "i");
  EXPECT_EQ(properties.ServerReference(), "s");
  EXPECT_EQ(properties.ReasonString(), "r");
  EXPECT_EQ(properties.TopicAliasMaximum(), 5);
  EXPECT_FALSE(properties.RetainAvailable());
  EXPECT_EQ(properties.UserProperties(), TbrzWSMQTTUserProperties{"k=v"});
  EXPECT_EQ(properties.MaximumPacketSize(), 4096);
  EXPECT_FALSE(properties.WildcardSubscriptionAvailable());
  EXPECT_FALSE(properties.SubscriptionIdentifiersAvailable()) << "a flag is true only for the byte 1";
  EXPECT_TRUE(properties.SharedSubscriptionAvailable());
  EXPECT_EQ(properties.MaximumQoS(), Q::mtqsExactlyOnce) << "maximum QoS 2 leaves the default";

  properties.Clear();
  EXPECT_EQ(properties.ReceiveMaximum(), 65535);
  EXPECT_EQ(properties.MaximumPacketSize(), 2147483647);
  EXPECT_TRUE(properties.RetainAvailable());
  EXPECT_TRUE(properties.UserProperties().empty());
}

TEST(MQTTProperties, UnknownIdentifierConsumesOnlyItsOwnByte) {
  TbrzWSMQTTPUBACKProperties properties;
  properties.ReadBytes(Hex("7F 1F 00 02 6F 6B"));
  EXPECT_EQ(properties.ReasonString(), "ok");
}

TEST(MQTTProperties, RepeatedPropertiesOverwriteExceptUserProperties) {
  TbrzWSMQTTPUBACKProperties properties;
  properties.ReadBytes(Hex("1F 00 01 61 26 00 01 6B 00 01 31 1F 00 01 62 26 00 01 6B 00 01 32"));
  EXPECT_EQ(properties.ReasonString(), "b");
  EXPECT_EQ(properties.UserProperties(), (TbrzWSMQTTUserProperties{"k=1", "k=2"}));
}

TEST(MQTTProperties, TruncatedValuesEndTheParse) {
  struct TCase {
    const char* Block;
    int32_t Expiry;
    std::string Reason;
    size_t UserLines;
  };
  const TCase cases[] = {
      {"11 00 00", 0, "", 0},                                  // four-byte value cut off
      {"11 00 00 00 07 1F", 7, "", 0},                           // identifier without value
      {"1F 00", 0, "", 0},                                     // string length cut off
      {"1F 00 09 6F 6B 11 00 00 00 07", 0, std::string("\x00\x09ok\x11\x00\x00\x00\x07", 9), 0},
      {"26 00 01 6B 00 05 76", 0, "", 1},                      // user value runs past the block
      {"1C 00 01 73 11 00 00 00 09 26 00", 9, "", 0},
  };
  for (const auto& c : cases) {
    TbrzWSMQTTDISCONNECTProperties properties;
    properties.ReadBytes(Hex(c.Block));
    EXPECT_EQ(properties.SessionExpiryInterval(), c.Expiry) << c.Block;
    EXPECT_EQ(properties.ReasonString(), c.Reason) << c.Block;
    EXPECT_EQ(properties.UserProperties().size(), c.UserLines) << c.Block;
  }
}

TEST(MQTTProperties, PublishBlockDecodes) {
  TbrzWSMQTTPublishProperties properties;
  properties.ReadBytes(Hex("01 01 02 00 00 00 09 03 00 01 63 08 00 01 72 09 00 01 64 0B C8 01 23 00 07"
                           " 26 00 01 6B 00 01 76"));
  EXPECT_EQ(properties.PayloadFormat(), TwsMQTTPayloadFormat::mqpfUTF8);
  EXPECT_EQ(properties.MessageExpiryInterval(), 9);
  EXPECT_EQ(properties.ContentType(), "c");
  EXPECT_EQ(properties.ResponseTopic(), "r");
  EXPECT_EQ(properties.CorrelationData(), "d");
  EXPECT_EQ(properties.SubscriptionIdentifier(), 200);
  EXPECT_EQ(properties.TopicAlias(), 7);
  EXPECT_EQ(properties.UserProperties(), TbrzWSMQTTUserProperties{"k=v"});
  EXPECT_FALSE(properties.Enabled());
  properties.ReadBytes(Hex("01 02"));
  EXPECT_EQ(properties.PayloadFormat(), TwsMQTTPayloadFormat::mqpfUnspecified);
}

TEST(MQTTProperties, SubscriptionIdentifierNeedingAFifthByteIsMalformed) {
  TbrzWSMQTTPublishProperties properties;
  properties.ReadBytes(Hex("0B FF FF FF 7F"));
  EXPECT_EQ(properties.SubscriptionIdentifier(), 268435455);
  properties.Clear();
  properties.ReadBytes(Hex("0B FF FF"));  // cut off: no error, no value
  EXPECT_EQ(properties.SubscriptionIdentifier(), 0);
  try {
    properties.ReadBytes(Hex("0B FF FF FF FF 01"));
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), SMQTTMalformedVarInteger);
  }
}

TEST(MQTTProperties, DisconnectAndAuthBlocksDecode) {
  TbrzWSMQTTDISCONNECTProperties disconnect;
  disconnect.ReadBytes(Hex("11 00 00 00 3C 1C 00 01 73 1F 00 01 72 26 00 01 6B 00 01 76 15 00"));
  EXPECT_EQ(disconnect.SessionExpiryInterval(), 60);
  EXPECT_EQ(disconnect.ServerReference(), "s");
  EXPECT_EQ(disconnect.ReasonString(), "r");
  EXPECT_EQ(disconnect.UserProperties(), TbrzWSMQTTUserProperties{"k=v"});

  TbrzWSMQTTAUTHProperties auth;
  auth.ReadBytes(Hex("15 00 01 6D 16 00 02 C3 A9 1F 00 01 72 26 00 01 6B 00 01 76"));
  EXPECT_EQ(auth.AuthenticationMethod(), "m");
  EXPECT_EQ(auth.AuthenticationData(), "é");
  EXPECT_EQ(auth.ReasonString(), "r");
  EXPECT_EQ(auth.UserProperties(), TbrzWSMQTTUserProperties{"k=v"});
  // Invalid UTF-8 becomes U+FFFD.
  auth.Clear();
  auth.ReadBytes(Hex("1F 00 02 61 FF"));
  EXPECT_EQ(auth.ReasonString(), "a\xEF\xBF\xBD");
}

}  // namespace
}  // namespace brz::test
