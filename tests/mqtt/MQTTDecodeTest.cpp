// Decoders: fixed header, every reader, reason names, round trips and hostile input.
#include <gtest/gtest.h>

#include <random>

#include "mqtt/MQTTMessages.h"
#include "tests/mqtt/MQTTTestHelpers.h"

namespace brz::test {
namespace {

using V = TwsMQTTVersion;
using Q = TmqttQoS;
using P = TmqttControlPacket;

TEST(MQTTDecode, PublishQoS0) {
  TbrzWSMQTTMessage message;
  ASSERT_TRUE(Decode(message, Hex("30 07 00 03 61 2F 62 68 69")));
  EXPECT_EQ(message.FixedHeader().ControlPacket(), P::mtcpPUBLISH);
  EXPECT_EQ(message.FixedHeader().QoS(), Q::mtqsAtMostOnce);
  EXPECT_EQ(message.FixedHeader().RemainingLength(), 7);
  EXPECT_EQ(message.PUBLISH().Topic(), "a/b");
  EXPECT_EQ(message.PUBLISH().Text(), "hi");
  EXPECT_EQ(message.PUBLISH().PacketIdentifier(), 0);
}

TEST(MQTTDecode, PublishKeepsTheExactPayloadFlagsAndTopicValidity) {
  struct TCase {
    const char* Bytes;
    std::string Payload;
    bool Exact;  // Text holds the same bytes
    bool TopicValid;
  } cases[] = {
      {"30 07 00 03 61 2F 62 68 69", "hi", true, true},
      {"3B 08 00 01 74 00 05 00 FF 80", std::string("\x00\xFF\x80", 3), false, true},
      {"30 06 00 02 C3 28 68 69", "hi", true, false},
      {"30 03 00 01 74", "", true, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Bytes);
    TbrzWSMQTTMessage message;
    ASSERT_TRUE(Decode(message, Hex(c.Bytes)));
    const TbrzWSMQTTPUBLISH& publish = message.PUBLISH();
    EXPECT_EQ(publish.Payload(), c.Payload);
    EXPECT_EQ(publish.Text() == c.Payload, c.Exact);
    EXPECT_EQ(publish.TopicValid(), c.TopicValid);
    EXPECT_EQ(publish.QoS(), message.FixedHeader().QoS());
  }
  TbrzWSMQTTMessage message;
  ASSERT_TRUE(Decode(message, Hex("3B 08 00 01 74 00 05 00 FF 80")));
  EXPECT_TRUE(message.PUBLISH().Duplicate());
  EXPECT_TRUE(message.PUBLISH().Retain());
}

TEST(MQTTDecode, CorrelationDataKeepsItsBytes) {
  TbrzWSMQTTMessage message;
  message.SetMQTTVersion(V::mqtt5);
  // Correlation data 00 FF 80 is binary, not text.
  ASSERT_TRUE(Decode(message, Hex("30 0C 00 01 74 06 09 00 03 00 FF 80 68 69")));
  EXPECT_EQ(message.PUBLISH().PUBLISHProperties().CorrelationData(), std::string("\x00\xFF\x80", 3));
  EXPECT_EQ(message.PUBLISH().Text(), "hi");
}

TEST(MQTTDecode, PublishFlagsAndFields) {
  struct TCase {
    V Version;
    const char* Bytes;
    Q QoS;
    bool Duplicate, Retain;
    std::string Topic, Text;
    int32_t Identifier;
  };
  const TCase cases[] = {
      {V::mqtt311, "3B 08 00 01 74 00 09 68 69 21", Q::mtqsAtLeastOnce, true, true, "t", "hi!", 9},
      {V::mqtt311, "34 06 00 01 74 12 34 7A", Q::mtqsExactlyOnce, false, false, "t", "z", 0x1234},
      {V::mqtt311, "36 05 00 01 74 00 05", Q::mtqsReserved, false, false, "t", "", 5},
      {V::mqtt5, "32 0A 00 03 61 2F 62 00 0A 00 68 69", Q::mtqsAtLeastOnce, false, false, "a/b", "hi", 10},
      {V::mqtt5, "30 08 00 03 61 2F 62 00 68 69", Q::mtqsAtMostOnce, false, false, "a/b", "hi", 0},
      // QoS 1 whose body is shorter than topic + identifier: topic only.
      {V::mqtt311, "32 04 00 01 74 00", Q::mtqsAtLeastOnce, false, false, "t", "", 0},
      // Topic length running past the body: the whole body is the topic.
      {V::mqtt311, "30 03 00 09 74", Q::mtqsAtMostOnce, false, false, std::string("\x00\x09t", 3), "", 0},
      // One-byte body.
      {V::mqtt311, "30 01 41", Q::mtqsAtMostOnce, false, false, "A", "", 0},
      // Invalid UTF-8 in the payload becomes U+FFFD.
      {V::mqtt311, "30 05 00 01 74 C3 28", Q::mtqsAtMostOnce, false, false, "t", "\xEF\xBF\xBD(", 0},
  };
  for (const auto& c : cases) {
    TbrzWSMQTTMessage message;
    message.SetMQTTVersion(c.Version);
    ASSERT_TRUE(Decode(message, Hex(c.Bytes))) << c.Bytes;
    EXPECT_EQ(message.FixedHeader().QoS(), c.QoS) << c.Bytes;
    EXPECT_EQ(message.FixedHeader().Duplicate(), c.Duplicate) << c.Bytes;
    EXPECT_EQ(message.FixedHeader().Retain(), c.Retain) << c.Bytes;
    EXPECT_EQ(message.PUBLISH().Topic(), c.Topic) << c.Bytes;
    EXPECT_EQ(message.PUBLISH().Text(), c.Text) << c.Bytes;
    EXPECT_EQ(message.PUBLISH().PacketIdentifier(), c.Identifier) << c.Bytes;
  }
}

TEST(MQTTDecode, PublishPropertiesUnderMqtt5) {
  TbrzWSMQTTMessage message;
  message.SetMQTTVersion(V::mqtt5);
  ASSERT_TRUE(Decode(message, Hex("32 10 00 01 74 00 07 07 01 01 23 00 03 0B 05 70 61 79")));
  EXPECT_EQ(message.PUBLISH().PacketIdentifier(), 7);
  EXPECT_EQ(message.PUBLISH().PUBLISHProperties().PayloadFormat(), TwsMQTTPayloadFormat::mqpfUTF8);
  EXPECT_EQ(message.PUBLISH().PUBLISHProperties().TopicAlias(), 3);
  EXPECT_EQ(message.PUBLISH().PUBLISHProperties().SubscriptionIdentifier(), 5);
  EXPECT_EQ(message.PUBLISH().Text(), "pay");
  // The next PUBLISH starts from cleared properties.
  ASSERT_TRUE(Decode(message, Hex("30 05 00 01 74 00 78")));
  EXPECT_EQ(message.PUBLISH().PUBLISHProperties().TopicAlias(), 0);
  EXPECT_EQ(message.PUBLISH().Text(), "x");
  // Under 3.1.1 the same bytes are payload.
  message.SetMQTTVersion(V::mqtt311);
  ASSERT_TRUE(Decode(message, Hex("30 05 00 01 74 00 78")));
  EXPECT_EQ(message.PUBLISH().Text(), std::string("\x00x", 2));
}

TEST(MQTTDecode, Connack) {
  struct TCase {
    V Version;
    const char* Bytes;
    bool Session;
    int32_t Code;
    const char* Name;
  };
  const TCase cases[] = {
      {V::mqtt311, "20 02 00 05", false, 5, SMQTTConnackNotAuthorized},
      {V::mqtt311, "20 02 01 00", true, 0, SMQTTConnackAccepted},
      {V::mqtt311, "20 02 00 09", false, 9, ""},
      {V::mqtt311, "20 03 01 00 00", false, 0, ""},  // 3.1.1 reads exactly two bytes only
      {V::mqtt5, "20 03 00 00 00", false, 0, SMQTTReasonSuccess},
      {V::mqtt5, "20 02 00 87", false, 0x87, SMQTTReasonNotAuthorized},
      {V::mqtt5, "20 02 02 00", false, 0, SMQTTReasonSuccess},  // Session only for the byte 1
      {V::mqtt5, "20 01 01", false, 0, ""},
  };
  for (const auto& c : cases) {
    TbrzWSMQTTMessage message;
    message.SetMQTTVersion(c.Version);
    ASSERT_TRUE(Decode(message, Hex(c.Bytes))) << c.Bytes;
    EXPECT_EQ(message.FixedHeader().ControlPacket(), P::mtcpCONNACK);
    EXPECT_EQ(message.CONNACK().Session(), c.Session) << c.Bytes;
    EXPECT_EQ(message.CONNACK().ReasonCode(), c.Code) << c.Bytes;
    EXPECT_EQ(message.CONNACK().ReasonName(), c.Name) << c.Bytes;
    EXPECT_EQ(message.CONNACK().CONNACKProperties().ReceiveMaximum(), 65535) << c.Bytes;
  }
  TbrzWSMQTTMessage message;
  message.SetMQTTVersion(V::mqtt5);
  ASSERT_TRUE(Decode(message, Hex("20 08 01 00 05 24 01 21 00 0A")));
  EXPECT_TRUE(message.CONNACK().Session());
  EXPECT_EQ(message.CONNACK().CONNACKProperties().MaximumQoS(), Q::mtqsAtLeastOnce);
  EXPECT_EQ(message.CONNACK().CONNACKProperties().ReceiveMaximum(), 10);
}

TEST(MQTTDecode, Acknowledgements) {
  struct TCase {
    V Version;
    const char* Bytes;
    P Packet;
    int32_t Identifier;
    int32_t Code;
    const char* Name;
    const char* Reason;
  };
  const TCase cases[] = {
      {V::mqtt5, "40 04 00 0A 10 00", P::mtcpPUBACK, 10, 0x10, SMQTTReasonNoMatchingSubscribers, ""},
      {V::mqtt5, "40 02 00 0A", P::mtcpPUBACK, 10, 0, "", ""},
      {V::mqtt5, "40 03 00 0A 00", P::mtcpPUBACK, 10, 0, SMQTTReasonSuccess, ""},
      {V::mqtt5, "50 08 00 0B 97 04 1F 00 01 71", P::mtcpPUBREC, 11, 0x97, SMQTTReasonQuotaExceeded, "q"},
      {V::mqtt5, "62 03 00 0C 92", P::mtcpPUBREL, 12, 0x92, SMQTTReasonPacketIdentifierNotFound, ""},
      {V::mqtt5, "70 03 00 0D 10", P::mtcpPUBCOMP, 13, 0x10, "", ""},  // 0x10 is not named for PUBCOMP
      {V::mqtt5, "40 01 00", P::mtcpPUBACK, 0, 0, "", ""},
      {V::mqtt311, "40 02 00 0A", P::mtcpPUBACK, 10, 0, "", ""},
      {V::mqtt311, "50 02 FF FF", P::mtcpPUBREC, 0xFFFF, 0, "", ""},
      {V::mqtt311, "62 02 00 0C", P::mtcpPUBREL, 12, 0, "", ""},
      {V::mqtt311, "70 02 00 0D", P::mtcpPUBCOMP, 13, 0, "", ""},
      {V::mqtt311, "40 03 00 0A 10", P::mtcpPUBACK, 0, 0, "", ""},  // 3.1.1 reads exactly two bytes only
  };
  for (const auto& c : cases) {
    TbrzWSMQTTMessage message;
    message.SetMQTTVersion(c.Version);
    ASSERT_TRUE(Decode(message, Hex(c.Bytes))) << c.Bytes;
    ASSERT_EQ(message.FixedHeader().ControlPacket(), c.Packet) << c.Bytes;
    const TbrzWSMQTTReasonPacket<TbrzWSMQTTPUBSUBACKProperties>* packet = nullptr;
    switch (c.Packet) {
      case P::mtcpPUBACK: packet = &message.PUBACK(); break;
      case P::mtcpPUBREC: packet = &message.PUBREC(); break;
      case P::mtcpPUBREL: packet = &message.PUBREL(); break;
      default: packet = &message.PUBCOMP(); break;
    }
    EXPECT_EQ(packet->PacketIdentifier(), c.Identifier) << c.Bytes;
    EXPECT_EQ(packet->ReasonCode(), c.Code) << c.Bytes;
    EXPECT_EQ(packet->ReasonName(), c.Name) << c.Bytes;
    EXPECT_EQ(packet->Properties().ReasonString(), c.Reason) << c.Bytes;
  }
}

TEST(MQTTDecode, AcknowledgementWithPropertyBlockOver127Bytes) {
  // Reason string of 200 bytes: block length 203 = CB 01; remaining length 2 + 1 + 2 + 203 = 208 = D0 01.
  Bytes packet = Hex("40 D0 01 00 0A 00 CB 01 1F 00 C8");
  Bytes reason(200, 'r');
  packet.insert(packet.end(), reason.begin(), reason.end());
  TbrzWSMQTTMessage message;
  message.SetMQTTVersion(V::mqtt5);
  ASSERT_TRUE(Decode(message, packet));
  EXPECT_EQ(message.PUBACK().PacketIdentifier(), 10);
  EXPECT_EQ(message.PUBACK().PUBACKProperties().ReasonString(), Repeat('r', 200));
}

TEST(MQTTDecode, Suback) {
  TbrzWSMQTTMessage message;
  ASSERT_TRUE(Decode(message, Hex("90 05 00 01 00 80 03")));
  EXPECT_EQ(message.SUBACK().PacketIdentifier(), 1);
  ASSERT_EQ(message.SUBACK().Codes().Count(), 3);
  EXPECT_EQ(message.SUBACK().Codes().Item(0).ReasonCode, 0);
  EXPECT_EQ(message.SUBACK().Codes().Item(0).ReasonName, SMQTTReasonGrantedQoS0);
  EXPECT_EQ(message.SUBACK().Codes().Item(1).ReasonCode, 0x80);
  EXPECT_EQ(message.SUBACK().Codes().Item(1).ReasonName, SMQTTReasonUnspecifiedError);
  EXPECT_EQ(message.SUBACK().Codes().Item(2).ReasonCode, 3);
  EXPECT_EQ(message.SUBACK().Codes().Item(2).ReasonName, "");
  // The next SUBACK replaces the codes.
  ASSERT_TRUE(Decode(message, Hex("90 02 00 02")));
  EXPECT_EQ(message.SUBACK().PacketIdentifier(), 2);
  EXPECT_EQ(message.SUBACK().Codes().Count(), 0);

  message.SetMQTTVersion(V::mqtt5);
  ASSERT_TRUE(Decode(message, Hex("90 0A 00 03 04 1F 00 01 78 02 A2 8F")));
  EXPECT_EQ(message.SUBACK().PacketIdentifier(), 3);
  EXPECT_EQ(message.SUBACK().SUBACKProperties().ReasonString(), "x");
  ASSERT_EQ(message.SUBACK().Codes().Count(), 3);
  EXPECT_EQ(message.SUBACK().Codes().Item(0).ReasonName, SMQTTReasonGrantedQoS2);
  EXPECT_EQ(message.SUBACK().Codes().Item(1).ReasonName, SMQTTReasonWildcardSubscriptionsNotSupported);
  EXPECT_EQ(message.SUBACK().Codes().Item(2).ReasonName, SMQTTReasonTopicFilterInvalid);
  // MQTT 5 needs more than two bytes.
  ASSERT_TRUE(Decode(message, Hex("90 02 00 04")));
  EXPECT_EQ(message.SUBACK().PacketIdentifier(), 0);
}

TEST(MQTTDecode, Unsuback) {
  TbrzWSMQTTMessage message;
  ASSERT_TRUE(Decode(message, Hex("B0 02 00 05")));
  EXPECT_EQ(message.UNSUBACK().PacketIdentifier(), 5);
  EXPECT_EQ(message.UNSUBACK().Codes().Count(), 0);
  message.SetMQTTVersion(V::mqtt5);
  ASSERT_TRUE(Decode(message, Hex("B0 05 00 06 00 00 11")));
  EXPECT_EQ(message.UNSUBACK().PacketIdentifier(), 6);
  ASSERT_EQ(message.UNSUBACK().Codes().Count(), 2);
  EXPECT_EQ(message.UNSUBACK().Codes().Item(0).ReasonName, SMQTTReasonSuccess);
  EXPECT_EQ(message.UNSUBACK().Codes().Item(1).ReasonName, SMQTTReasonNoSubscriptionExisted);
}

TEST(MQTTDecode, DisconnectAndAuthOnlyUnderMqtt5) {
  TbrzWSMQTTMessage message;
  message.SetMQTTVersion(V::mqtt5);
  ASSERT_TRUE(Decode(message, Hex("E0 01 8D")));
  EXPECT_EQ(message.FixedHeader().ControlPacket(), P::mtcpDISCONNECT);
  EXPECT_EQ(message.DISCONNECT().ReasonCode(), 0x8D);
  EXPECT_EQ(message.DISCONNECT().ReasonName(), SMQTTReasonKeepAliveTimeout);
  ASSERT_TRUE(Decode(message, Hex("E0 08 9C 06 1C 00 03 68 2F 32")));
  EXPECT_EQ(message.DISCONNECT().ReasonName(), SMQTTReasonUseAnotherServer);
  EXPECT_EQ(message.DISCONNECT().DISCONNECTProperties().ServerReference(), "h/2");
  ASSERT_TRUE(Decode(message, Hex("F0 06 18 04 15 00 01 6D")));
  EXPECT_EQ(message.AUTH().ReasonName(), SMQTTReasonContinueAuthentication);
  EXPECT_EQ(message.AUTH().AUTHProperties().AuthenticationMethod(), "m");

  // Under 3.1.1 the body is skipped and the decoded objects keep their values.
  message.SetMQTTVersion(V::mqtt311);
  TbrzMemoryStream stream(Hex("E0 01 04 F0 01 19 D0 00"));
  ASSERT_TRUE(message.Read(stream));
  EXPECT_EQ(message.FixedHeader().ControlPacket(), P::mtcpDISCONNECT);
  EXPECT_EQ(stream.Position(), 3u);
  ASSERT_TRUE(message.Read(stream));
  EXPECT_EQ(message.FixedHeader().ControlPacket(), P::mtcpAUTH);
  EXPECT_EQ(message.DISCONNECT().ReasonCode(), 0x9C);
  EXPECT_EQ(message.AUTH().ReasonCode(), 0x18);
  ASSERT_TRUE(message.Read(stream));
  EXPECT_EQ(message.FixedHeader().ControlPacket(), P::mtcpPINGRESP);
  EXPECT_EQ(stream.Position(), stream.Size());
}

TEST(MQTTDecode, EmptyAndUndecodedPacketsAreSkippedWhole) {
  TbrzWSMQTTMessage message;
  TbrzMemoryStream stream(Hex("D0 00 10 03 01 02 03 00 00 30 03 00 01 74"));
  ASSERT_TRUE(message.Read(stream));
  EXPECT_EQ(message.FixedHeader().ControlPacket(), P::mtcpPINGRESP);
  EXPECT_EQ(message.FixedHeader().RemainingLength(), 0);
  ASSERT_TRUE(message.Read(stream));
  EXPECT_EQ(message.FixedHeader().ControlPacket(), P::mtcpCONNECT);
  ASSERT_TRUE(message.Read(stream));
  EXPECT_EQ(message.FixedHeader().ControlPacket(), P::mtcpReserved0);
  ASSERT_TRUE(message.Read(stream));
  EXPECT_EQ(message.PUBLISH().Topic(), "t");
  EXPECT_EQ(stream.Position(), stream.Size());
}

TEST(MQTTDecode, RemainingLengthLimit) {
  TbrzWSMQTTMessage message;
  try {
    Decode(message, Hex("30 FF FF FF FF 01"));
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), SMQTTMalformedVarInteger);
  }
  // Four bytes are the largest valid length: no error, but the body is missing.
  EXPECT_FALSE(Decode(message, Hex("30 FF FF FF 7F")));
  // The property length follows the same rule.
  message.SetMQTTVersion(V::mqtt5);
  EXPECT_THROW(Decode(message, Hex("40 08 00 01 00 FF FF FF FF 01")), Exception);
}

TEST(MQTTDecode, CutOffPacketIsNotDecodedAndNotReported) {
  TbrzWSMQTTMessage message;
  ASSERT_TRUE(Decode(message, Hex("40 02 00 07")));
  for (const char* bytes : {"40", "40 02 00", "32 80", "32 09 00 03 61 2F 62 00 0A 68"}) {
    TbrzMemoryStream stream(Hex(bytes));
    EXPECT_FALSE(message.Read(stream)) << bytes;
    EXPECT_EQ(message.FixedHeader().ControlPacket(), P::mtcpReserved0) << bytes;
    EXPECT_EQ(stream.Position(), stream.Size()) << bytes;
  }
  EXPECT_EQ(message.PUBACK().PacketIdentifier(), 7);
}

TEST(MQTTDecode, ReasonNameTables) {
  struct TCase {
    P Packet;
    int32_t Code;
    const char* Name;
  };
  const TCase cases[] = {
      {P::mtcpCONNACK, 0x00, SMQTTReasonSuccess},
      {P::mtcpDISCONNECT, 0x00, SMQTTReasonNormalDisconnection},
      {P::mtcpSUBACK, 0x01, SMQTTReasonGrantedQoS1},
      {P::mtcpDISCONNECT, 0x04, SMQTTReasonDisconnectWithWill},
      {P::mtcpAUTH, 0x19, SMQTTReasonReAuthenticate},
      {P::mtcpPUBREC, 0x80, SMQTTReasonUnspecifiedError},
      {P::mtcpCONNACK, 0x84, SMQTTReasonUnsupportedProtocolVersion},
      {P::mtcpCONNACK, 0x8A, SMQTTReasonBanned},
      {P::mtcpDISCONNECT, 0x8E, SMQTTReasonSessionTakenOver},
      {P::mtcpUNSUBACK, 0x91, SMQTTReasonPacketIdentifierInUse},
      {P::mtcpDISCONNECT, 0x98, SMQTTReasonAdministrativeAction},
      {P::mtcpSUBACK, 0x9E, SMQTTReasonSharedSubscriptionsNotSupported},
      {P::mtcpDISCONNECT, 0xA0, SMQTTReasonMaximumConnectTime},
      {P::mtcpSUBACK, 0xA1, SMQTTReasonSubscriptionIdentifiersNotSupported},
      // Pairs the protocol does not define.
      {P::mtcpPUBREL, 0x80, ""},
      {P::mtcpCONNACK, 0x04, ""},
      {P::mtcpAUTH, 0x87, ""},
      {P::mtcpPUBLISH, 0x00, ""},
      {P::mtcpSUBACK, 0x03, ""},
      {P::mtcpDISCONNECT, 0xA3, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReasonCodeName(c.Packet, c.Code), c.Name) << static_cast<int>(c.Packet) << " " << c.Code;
  }
  EXPECT_EQ(ConnackReturnCodeName(1), SMQTTConnackBadProtocolVersion);
  EXPECT_EQ(ConnackReturnCodeName(2), SMQTTConnackIdentifierRejected);
  EXPECT_EQ(ConnackReturnCodeName(3), SMQTTConnackServerUnavailable);
  EXPECT_EQ(ConnackReturnCodeName(4), SMQTTConnackBadUserNameOrPassword);
  EXPECT_EQ(ConnackReturnCodeName(6), "");
  EXPECT_EQ(ConnackReturnCodeName(-1), "");
}

TEST(MQTTDecode, BytesToTextRanges) {
  const Bytes bytes = Hex("00 02 68 69 21");
  EXPECT_EQ(BytesToText(bytes, true, 0), "hi");
  EXPECT_EQ(BytesToText(bytes, false, 2), "hi!");
  EXPECT_EQ(BytesToText(Hex("00 03 68 69"), true, 0), std::string("\x00\x03hi", 4));
  EXPECT_EQ(BytesToText(Hex("00 00"), true, 0), "");
  EXPECT_EQ(BytesToText(Hex("41"), true, 0), "A");
  EXPECT_EQ(BytesToText(bytes, true, 9), "");
}

// ---- round trips: what the client builds, a peer codec decodes to the same fields

TEST(MQTTDecode, PublishRoundTrips) {
  struct TCase {
    uint16_t Identifier;
    Q QoS;
    bool Retain, Duplicate, Properties;
  };
  const TCase cases[] = {
      {0, Q::mtqsAtMostOnce, false, false, false}, {17, Q::mtqsAtLeastOnce, true, false, false},
      {65535, Q::mtqsExactlyOnce, false, true, false}, {3, Q::mtqsAtLeastOnce, false, false, true},
      {0, Q::mtqsAtMostOnce, true, false, true},
  };
  const std::string topic = "sensors/ä/1";
  const std::string text = std::string("payload \x01 ") + Repeat('p', 300);
  for (V version : {V::mqtt311, V::mqtt5}) {
    for (const auto& c : cases) {
      TbrzWSMQTTMessage sender, receiver;
      sender.SetMQTTVersion(version);
      receiver.SetMQTTVersion(version);
      if (c.Properties) {
        TbrzWSMQTTPublish_Properties properties;
        properties.SetEnabled(true);
        properties.SetContentType("text/plain");
        properties.SetResponseTopic("reply");
        properties.SetCorrelationData("42");
        properties.SetMessageExpiryInterval(30);
        properties.SetSubscriptionIdentifier(1000);
        properties.SetUserProperties({"a=1", "b=2"});
        sender.SetPUBLISHProperties(properties);
      }
      TBytes packet = sender.DoPublish(c.Identifier, topic, text, c.QoS, c.Retain, c.Duplicate);
      ASSERT_TRUE(Decode(receiver, packet));
      const auto& header = receiver.FixedHeader();
      std::string label = std::string(VersionName(version)) + " id " + std::to_string(c.Identifier);
      EXPECT_EQ(header.ControlPacket(), P::mtcpPUBLISH) << label;
      EXPECT_EQ(header.QoS(), c.QoS) << label;
      EXPECT_EQ(header.Retain(), c.Retain) << label;
      EXPECT_EQ(header.Duplicate(), c.Duplicate) << label;
      EXPECT_EQ(receiver.PUBLISH().Topic(), topic) << label;
      EXPECT_EQ(receiver.PUBLISH().Text(), text) << label;
      EXPECT_EQ(receiver.PUBLISH().PacketIdentifier(), c.QoS == Q::mtqsAtMostOnce ? 0 : c.Identifier) << label;
      const auto& properties = receiver.PUBLISH().PUBLISHProperties();
      bool sent = c.Properties && version == V::mqtt5;
      EXPECT_EQ(properties.ContentType(), sent ? "text/plain" : "") << label;
      EXPECT_EQ(properties.ResponseTopic(), sent ? "reply" : "") << label;
      EXPECT_EQ(properties.CorrelationData(), sent ? "42" : "") << label;
      EXPECT_EQ(properties.MessageExpiryInterval(), sent ? 30 : 0) << label;
      EXPECT_EQ(properties.SubscriptionIdentifier(), sent ? 1000 : 0) << label;
      const TbrzWSMQTTUserProperties lines = sent ? TbrzWSMQTTUserProperties{"a=1", "b=2"} : TbrzWSMQTTUserProperties{};
      EXPECT_EQ(properties.UserProperties(), lines) << label;
    }
  }
}

TEST(MQTTDecode, AcknowledgementRoundTrips) {
  for (V version : {V::mqtt311, V::mqtt5}) {
    for (uint16_t identifier : {uint16_t{1}, uint16_t{0x1234}, uint16_t{65535}}) {
      TbrzWSMQTTMessage sender, receiver;
      sender.SetMQTTVersion(version);
      receiver.SetMQTTVersion(version);
      ASSERT_TRUE(Decode(receiver, sender.DoPubAck(identifier)));
      EXPECT_EQ(receiver.FixedHeader().ControlPacket(), P::mtcpPUBACK);
      EXPECT_EQ(receiver.PUBACK().PacketIdentifier(), identifier);
      ASSERT_TRUE(Decode(receiver, sender.DoPubRec(identifier)));
      EXPECT_EQ(receiver.FixedHeader().ControlPacket(), P::mtcpPUBREC);
      EXPECT_EQ(receiver.PUBREC().PacketIdentifier(), identifier);
      ASSERT_TRUE(Decode(receiver, sender.DoPubRel(identifier)));
      EXPECT_EQ(receiver.FixedHeader().ControlPacket(), P::mtcpPUBREL);
      EXPECT_EQ(receiver.PUBREL().PacketIdentifier(), identifier);
      ASSERT_TRUE(Decode(receiver, sender.DoPubComp(identifier)));
      EXPECT_EQ(receiver.FixedHeader().ControlPacket(), P::mtcpPUBCOMP);
      EXPECT_EQ(receiver.PUBCOMP().PacketIdentifier(), identifier);
      EXPECT_EQ(receiver.PUBCOMP().ReasonCode(), 0);
    }
  }
}

// ---- hostile input: decodes, is skipped, or raises the one error; never reads outside, never loops

void ExpectDecodesOrMalformed(TbrzWSMQTTMessage& aMessage, const Bytes& aBytes, bool aTCP) {
  TbrzMemoryStream stream(aBytes);
  try {
    // Each round consumes at least one byte, so the bound is never reached by a working decoder.
    for (size_t round = 0; round <= aBytes.size() && stream.Position() < stream.Size(); ++round) {
      if (aTCP) {
        if (!aMessage.ReadTCP(stream)) break;
        if (stream.Size() == 0) break;
        ASSERT_LT(stream.Size(), aBytes.size() + 1);
      } else {
        size_t before = stream.Position();
        aMessage.Read(stream);
        ASSERT_GT(stream.Position(), before);
      }
    }
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), SMQTTMalformedVarInteger);
  }
}

TEST(MQTTDecode, RandomBytesNeverEscapeTheirBuffer) {
  std::mt19937 generator(20240601);
  std::uniform_int_distribution<int> length(0, 48);
  std::uniform_int_distribution<int> byte(0, 255);
  const uint8_t likelyFirst[] = {0x20, 0x30, 0x32, 0x34, 0x40, 0x50, 0x62, 0x70, 0x90, 0xB0, 0xD0, 0xE0, 0xF0};
  for (int i = 0; i < 3000; ++i) {
    Bytes bytes(static_cast<size_t>(length(generator)));
    for (auto& b : bytes) b = static_cast<uint8_t>(byte(generator));
    // Keep the remaining length small in most cases so that bodies are actually parsed.
    if (bytes.size() >= 2 && i % 4 != 0) {
      bytes[0] = likelyFirst[static_cast<size_t>(i) % std::size(likelyFirst)];
      bytes[1] = static_cast<uint8_t>(bytes.size() - 2 - static_cast<size_t>(i % 3 == 0 ? 1 : 0));
    }
    for (V version : {V::mqtt311, V::mqtt5}) {
      TbrzWSMQTTMessage message;
      message.SetMQTTVersion(version);
      ExpectDecodesOrMalformed(message, bytes, false);
      ExpectDecodesOrMalformed(message, bytes, true);
      // Property parsers on the raw bytes.
      TbrzWSMQTTCONNACKProperties connack;
      TbrzWSMQTTPublishProperties publish;
      TbrzWSMQTTPUBSUBACKProperties ack;
      TbrzWSMQTTDISCONNECTProperties disconnect;
      TbrzWSMQTTAUTHProperties auth;
      for (TbrzWSMQTTReadProperties* properties :
           std::initializer_list<TbrzWSMQTTReadProperties*>{&connack, &publish, &ack, &disconnect, &auth}) {
        try {
          properties->ReadBytes(bytes);
        } catch (const Exception& e) {
          EXPECT_STREQ(e.what(), SMQTTMalformedVarInteger);
        }
      }
    }
  }
}

TEST(MQTTDecode, EveryTruncationOfValidPacketsIsSafe) {
  TbrzWSMQTTMessage builder;
  builder.SetMQTTVersion(V::mqtt5);
  builder.SetClientId("ABC");
  builder.PUBLISHProperties().SetEnabled(true);
  builder.PUBLISHProperties().SetUserProperties({"k=v"});
  const Bytes packets[] = {
      builder.DoPublish(9, "a/b", "text", Q::mtqsExactlyOnce, false, false),
      Hex("20 08 01 00 05 24 01 21 00 0A"),
      Hex("90 0A 00 03 04 1F 00 01 78 02 A2 8F"),
      Hex("50 08 00 0B 97 04 1F 00 01 71"),
      Hex("E0 08 9C 06 1C 00 03 68 2F 32"),
  };
  for (const auto& packet : packets) {
    for (size_t cut = 0; cut <= packet.size(); ++cut) {
      Bytes prefix(packet.begin(), packet.begin() + static_cast<long>(cut));
      // Also as a complete packet whose body is cut: the remaining length is rewritten.
      Bytes body = prefix;
      if (body.size() >= 2) body[1] = static_cast<uint8_t>(body.size() - 2);
      for (V version : {V::mqtt311, V::mqtt5}) {
        TbrzWSMQTTMessage message;
        message.SetMQTTVersion(version);
        ExpectDecodesOrMalformed(message, prefix, false);
        ExpectDecodesOrMalformed(message, prefix, true);
        ExpectDecodesOrMalformed(message, body, false);
      }
    }
  }
}

}  // namespace
}  // namespace brz::test
