// Builders: the bytes of every packet the client sends, under MQTT 3.1.1 and 5.0.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <thread>

#include "mqtt/MQTTMessages.h"
#include "tests/mqtt/MQTTTestHelpers.h"

namespace brz::test {
namespace {

using V = TwsMQTTVersion;
using Q = TmqttQoS;

TEST(MQTTEncode, VariableByteIntegerBoundaries) {
  const std::pair<int32_t, const char*> cases[] = {
      {0, "00"},         {127, "7F"},          {128, "80 01"},          {16383, "FF 7F"},
      {16384, "80 80 01"}, {2097151, "FF FF 7F"}, {2097152, "80 80 80 01"}, {268435455, "FF FF FF 7F"},
  };
  for (const auto& [value, hex] : cases) {
    EXPECT_EQ(ToHex(EncodeVarInteger(value)), hex) << value;
    TBytes bytes = EncodeVarInteger(value);
    size_t position = 0;
    EXPECT_EQ(DecodeVarInteger(bytes, position), value);
    EXPECT_EQ(position, bytes.size());
  }
}

TEST(MQTTEncode, PrimitivesAreBigEndian) {
  TbrzWSMQTTVariableHeader header;
  header.AddByte(0xAB);
  header.AddBoolean(true);
  header.AddBoolean(false);
  header.AddWord(0x1234);
  header.AddInteger(-2);
  header.AddString("hé", true);
  header.AddString("x", false);
  header.AddBytes(TBytes{});
  header.AddVarInteger(200);
  EXPECT_EQ(ToHex(header.Bytes()), "AB 01 00 12 34 FF FF FF FE 00 03 68 C3 A9 78 C8 01");
  EXPECT_EQ(ToHex(WordBytes(0xBEEF)), "BE EF");
  header.Clear();
  EXPECT_EQ(header.Size(), 0);
}

TEST(MQTTEncode, QoSBitsSplitTheOrdinal) {
  const std::tuple<Q, bool, bool> cases[] = {
      {Q::mtqsAtMostOnce, false, false},
      {Q::mtqsAtLeastOnce, false, true},
      {Q::mtqsExactlyOnce, true, false},
      {Q::mtqsReserved, true, true},
  };
  for (const auto& [qos, high, low] : cases) {
    bool h = !high, l = !low;
    QoSBits(qos, h, l);
    EXPECT_EQ(h, high);
    EXPECT_EQ(l, low);
  }
}

// One builder call and its bytes in both versions.
struct TBuildCase {
  const char* Name;
  std::function<TBytes(TbrzWSMQTTMessage&)> Build;
  const char* Mqtt311;
  const char* Mqtt5;
};

TEST(MQTTEncode, BuilderTable) {
  const TBuildCase cases[] = {
      {"connect clean, keep alive 300",
       [](auto& m) { return m.DoConnect(false, "", "", false, "", "", Q::mtqsAtMostOnce, false, true, 300); },
       "10 0F 00 04 4D 51 54 54 04 02 01 2C 00 03 41 42 43",
       "10 10 00 04 4D 51 54 54 05 02 01 2C 00 00 03 41 42 43"},
      {"connect keep alive disabled writes 00 00",
       [](auto& m) { return m.DoConnect(false, "", "", false, "", "", Q::mtqsAtMostOnce, false, false, 300); },
       "10 0F 00 04 4D 51 54 54 04 02 00 00 00 03 41 42 43",
       "10 10 00 04 4D 51 54 54 05 02 00 00 00 00 03 41 42 43"},
      {"connect keep alive 70000 keeps the low 16 bits",
       [](auto& m) { return m.DoConnect(false, "", "", false, "", "", Q::mtqsAtMostOnce, false, true, 70000); },
       "10 0F 00 04 4D 51 54 54 04 02 11 70 00 03 41 42 43",
       "10 10 00 04 4D 51 54 54 05 02 11 70 00 00 03 41 42 43"},
      {"connect password without user name",
       [](auto& m) { return m.DoConnect(true, "", "pw", false, "", "", Q::mtqsAtMostOnce, false, true, 300); },
       "10 13 00 04 4D 51 54 54 04 42 01 2C 00 03 41 42 43 00 02 70 77",
       "10 14 00 04 4D 51 54 54 05 42 01 2C 00 00 03 41 42 43 00 02 70 77"},
      {"connect credentials ignored without authentication",
       [](auto& m) { return m.DoConnect(false, "u", "p", false, "", "", Q::mtqsAtMostOnce, false, true, 300); },
       "10 0F 00 04 4D 51 54 54 04 02 01 2C 00 03 41 42 43",
       "10 10 00 04 4D 51 54 54 05 02 01 2C 00 00 03 41 42 43"},
      {"connect will QoS and retain dropped without will flag",
       [](auto& m) { return m.DoConnect(false, "", "", false, "w", "x", Q::mtqsAtLeastOnce, true, true, 300); },
       "10 0F 00 04 4D 51 54 54 04 02 01 2C 00 03 41 42 43",
       "10 10 00 04 4D 51 54 54 05 02 01 2C 00 00 03 41 42 43"},
      {"connect with will, user and password",
       [](auto& m) { return m.DoConnect(true, "u", "p", true, "w", "x", Q::mtqsAtLeastOnce, true, true, 60); },
       "10 1B 00 04 4D 51 54 54 04 EE 00 3C 00 03 41 42 43 00 01 77 00 01 78 00 01 75 00 01 70",
       "10 29 00 04 4D 51 54 54 05 EE 00 3C 00 00 03 41 42 43"
       " 0C 18 00 00 00 00 01 00 02 00 00 00 00 00 01 77 00 01 78 00 01 75 00 01 70"},
      {"connect will QoS 2",
       [](auto& m) { return m.DoConnect(false, "", "", true, "w", "", Q::mtqsExactlyOnce, false, true, 60); },
       "10 14 00 04 4D 51 54 54 04 16 00 3C 00 03 41 42 43 00 01 77 00 00",
       "10 22 00 04 4D 51 54 54 05 16 00 3C 00 00 03 41 42 43"
       " 0C 18 00 00 00 00 01 00 02 00 00 00 00 00 01 77 00 00"},
      {"ping", [](auto& m) { return m.DoPing(); }, "C0 00", "C0 00"},
      {"publish QoS 1",
       [](auto& m) { return m.DoPublish(10, "a/b", "hi", Q::mtqsAtLeastOnce, false, false); },
       "32 09 00 03 61 2F 62 00 0A 68 69", "32 0A 00 03 61 2F 62 00 0A 00 68 69"},
      {"publish QoS 0 has no identifier",
       [](auto& m) { return m.DoPublish(10, "a/b", "hi", Q::mtqsAtMostOnce, false, false); },
       "30 07 00 03 61 2F 62 68 69", "30 08 00 03 61 2F 62 00 68 69"},
      {"publish QoS 2, retain, DUP, empty text",
       [](auto& m) { return m.DoPublish(0x1234, "t", "", Q::mtqsExactlyOnce, true, true); },
       "3D 05 00 01 74 12 34", "3D 06 00 01 74 12 34 00"},
      {"publish reserved QoS sets both bits and no identifier",
       [](auto& m) { return m.DoPublish(5, "t", "x", Q::mtqsReserved, false, false); },
       "36 04 00 01 74 78", "36 05 00 01 74 00 78"},
      {"publish stream payload",
       [](auto& m) {
         TbrzMemoryStream stream(TBytes{0x00, 0xFF, 0x10});
         stream.SetPosition(3);  // the builder rewinds it
         return m.DoPublish(7, "t", stream, Q::mtqsAtLeastOnce, false, false);
       },
       "32 08 00 01 74 00 07 00 FF 10", "32 09 00 01 74 00 07 00 00 FF 10"},
      {"subscribe",
       [](auto& m) {
         TbrzWSTopics topics;
         topics.Add("a", Q::mtqsAtLeastOnce);
         topics.Add("b/c", Q::mtqsExactlyOnce);
         return m.DoSubscribe(1, topics);
       },
       "82 0C 00 01 00 01 61 01 00 03 62 2F 63 02", "82 0D 00 01 00 00 01 61 01 00 03 62 2F 63 02"},
      {"subscription options go out under 5.0 only",
       [](auto& m) {
         TbrzWSTopics topics;
         topics.Add("a", Q::mtqsAtLeastOnce).SetOptions(0x04 | 0x08 | 0x20);
         return m.DoSubscribe(1, topics);
       },
       "82 06 00 01 00 01 61 01", "82 07 00 01 00 00 01 61 2D"},
      {"unsubscribe",
       [](auto& m) {
         TbrzWSTopics topics;
         topics.Add("a");
         topics.Add("b/c");
         return m.DoUnSubscribe(2, topics);
       },
       "A2 0A 00 02 00 01 61 00 03 62 2F 63", "A2 0B 00 02 00 00 01 61 00 03 62 2F 63"},
      {"puback", [](auto& m) { return m.DoPubAck(10); }, "40 02 00 0A", "40 02 00 0A"},
      {"pubrec", [](auto& m) { return m.DoPubRec(10); }, "50 02 00 0A", "50 02 00 0A"},
      {"pubrel", [](auto& m) { return m.DoPubRel(10); }, "62 02 00 0A", "62 02 00 0A"},
      {"pubcomp", [](auto& m) { return m.DoPubComp(0xFFFF); }, "70 02 FF FF", "70 02 FF FF"},
      {"disconnect", [](auto& m) { return m.DoDisconnect(0); }, "E0 00", "E0 02 00 00"},
      {"disconnect keeps the low 8 bits of the reason", [](auto& m) { return m.DoDisconnect(0x18E); }, "E0 00",
       "E0 02 8E 00"},
      {"auth continue", [](auto& m) { return m.DoAuth(false); }, "F0 00", "F0 02 18 00"},
      {"auth re-authenticate", [](auto& m) { return m.DoAuth(true); }, "F0 00", "F0 02 19 00"},
  };
  for (const auto& c : cases) {
    for (V version : {V::mqtt311, V::mqtt5}) {
      TbrzWSMQTTMessage message;
      Prepare(message, version);
      EXPECT_EQ(ToHex(c.Build(message)), version == V::mqtt5 ? c.Mqtt5 : c.Mqtt311)
          << c.Name << " " << VersionName(version);
    }
  }
}

TEST(MQTTEncode, RemainingLengthGrowsAtTheByteBoundaries) {
  const std::pair<size_t, const char*> cases[] = {
      {124, "30 7F"}, {125, "30 80 01"}, {16380, "30 FF 7F"}, {16381, "30 80 80 01"}};
  for (const auto& [textLength, prefix] : cases) {
    TbrzWSMQTTMessage message;
    TBytes packet = message.DoPublish(0, "t", Repeat('x', textLength), Q::mtqsAtMostOnce, false, false);
    std::string hex = ToHex(packet);
    EXPECT_EQ(hex.substr(0, std::string(prefix).size()), prefix) << textLength;
    EXPECT_EQ(packet.size(), 3 + textLength + std::string(prefix).size() / 3 + 1);
  }
}

TEST(MQTTEncode, ClientIdIsGeneratedOnceAndKept) {
  TbrzWSMQTTMessage message;
  std::string first = message.ClientId();
  EXPECT_EQ(first.size(), 23u);
  EXPECT_EQ(first.find_first_not_of("0123456789ABCDEF"), std::string::npos) << first;
  EXPECT_EQ(message.ClientId(), first);
  message.SetClientId("");
  EXPECT_NE(message.ClientId(), first);
  // The generated identifier is what CONNECT carries.
  std::string id = message.ClientId();
  TBytes packet = message.DoConnect(false, "", "", false, "", "", Q::mtqsAtMostOnce, false, false, 0);
  EXPECT_EQ(ToText(TBytes(packet.end() - 23, packet.end())), id);
}

TEST(MQTTEncode, CleanSessionFalseClearsBit1) {
  TbrzWSMQTTMessage message;
  Prepare(message, V::mqtt311);
  message.SetCleanSession(false);
  EXPECT_EQ(ToHex(message.DoConnect(false, "", "", false, "", "", Q::mtqsAtMostOnce, false, true, 300)),
            "10 0F 00 04 4D 51 54 54 04 00 01 2C 00 03 41 42 43");
}

TEST(MQTTEncode, OverlongStringIsRefusedAndTheCodecStaysUsable) {
  TbrzWSMQTTMessage message;
  TBytes longest = message.DoPublish(0, Repeat('t', 65535), "", Q::mtqsAtMostOnce, false, false);
  EXPECT_EQ(ToHex(TBytes(longest.begin() + 4, longest.begin() + 6)), "FF FF");
  try {
    message.DoPublish(0, Repeat('t', 65536), "", Q::mtqsAtMostOnce, false, false);
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), SMQTTStringTooLong);
  }
  // The lock was released: another thread can build.
  TBytes ping;
  std::thread([&] { ping = message.DoPing(); }).join();
  EXPECT_EQ(ToHex(ping), "C0 00");
}

TEST(MQTTEncode, ClearDropsTheFixedHeader) {
  TbrzWSMQTTMessage message;
  message.DoPublish(1, "t", "", Q::mtqsExactlyOnce, true, true);
  EXPECT_TRUE(message.FixedHeader().Retain());
  message.Clear();
  EXPECT_FALSE(message.FixedHeader().Retain());
  EXPECT_EQ(message.FixedHeader().QoS(), Q::mtqsAtMostOnce);
  EXPECT_EQ(message.FixedHeader().ControlPacket(), TmqttControlPacket::mtcpReserved0);
}

// Builds and decodes on one codec from two threads: the shared buffers would mix without the lock.
TEST(MQTTEncode, BuildsAndDecodesOnOneCodecNeverInterleave) {
  TbrzWSMQTTMessage message;
  const Bytes incoming = Hex("32 0A 00 03 61 2F 62 00 2A 68 65 79");
  TbrzWSMQTTMessage reference;
  const std::string expected = ToHex(reference.DoPublish(0, "out/x", "payload", Q::mtqsAtMostOnce, false, false));
  int badBuilds = 0, badDecodes = 0;
  std::thread builder([&] {
    for (int i = 0; i < 2000; ++i) {
      if (ToHex(message.DoPublish(0, "out/x", "payload", Q::mtqsAtMostOnce, false, false)) != expected) ++badBuilds;
    }
  });
  for (int i = 0; i < 2000; ++i) {
    TbrzLock lock(message.CS());
    if (!Decode(message, incoming) || message.PUBLISH().Topic() != "a/b" || message.PUBLISH().Text() != "hey" ||
        message.PUBLISH().PacketIdentifier() != 42)
      ++badDecodes;
  }
  builder.join();
  EXPECT_EQ(badBuilds, 0);
  EXPECT_EQ(badDecodes, 0);
}

}  // namespace
}  // namespace brz::test
