// TCP reassembly: packets split across reads or joined in one read, at every split point.
#include <gtest/gtest.h>

#include "mqtt/MQTTMessages.h"
#include "tests/mqtt/MQTTTestHelpers.h"

namespace brz::test {
namespace {

using V = TwsMQTTVersion;
using P = TmqttControlPacket;

// One line per decoded packet: its type and the field that identifies it.
std::string Describe(TbrzWSMQTTMessage& aMessage) {
  switch (aMessage.FixedHeader().ControlPacket()) {
    case P::mtcpCONNACK: return "CONNACK " + std::to_string(aMessage.CONNACK().ReasonCode());
    case P::mtcpPUBLISH:
      return "PUBLISH " + aMessage.PUBLISH().Topic() + " " + std::to_string(aMessage.PUBLISH().PacketIdentifier()) +
             " " + std::to_string(aMessage.PUBLISH().Text().size());
    case P::mtcpPUBACK: return "PUBACK " + std::to_string(aMessage.PUBACK().PacketIdentifier());
    case P::mtcpSUBACK: return "SUBACK " + std::to_string(aMessage.SUBACK().Codes().Count());
    case P::mtcpPINGRESP: return "PINGRESP";
    default: return "other " + std::to_string(static_cast<int>(aMessage.FixedHeader().ControlPacket()));
  }
}

// Feeds the chunks as the engine does: ReadTCP while the stream holds bytes.
std::vector<std::string> Feed(TbrzWSMQTTMessage& aMessage, const std::vector<Bytes>& aChunks) {
  std::vector<std::string> decoded;
  for (const auto& chunk : aChunks) {
    TbrzMemoryStream stream(chunk);
    for (int guard = 0; guard < 1000 && stream.Size() > 0; ++guard) {
      if (!aMessage.ReadTCP(stream)) break;
      decoded.push_back(Describe(aMessage));
    }
  }
  return decoded;
}

// A 200-byte text PUBLISH: remaining length 3 + 200 = 203 (CB 01).
Bytes LongPublish() {
  TbrzWSMQTTMessage builder;
  return builder.DoPublish(0, "t", Repeat('x', 200), TmqttQoS::mtqsAtMostOnce, false, false);
}

TEST(MQTTReassembly, PacketSplitInThreeChunks) {
  TbrzWSMQTTMessage message;
  const Bytes chunks[] = {Hex("30"), Hex("07 00 03"), Hex("61 2F 62 68 69")};
  const bool expected[] = {false, false, true};
  for (size_t i = 0; i < 3; ++i) {
    TbrzMemoryStream stream(chunks[i]);
    EXPECT_EQ(message.ReadTCP(stream), expected[i]) << i;
    EXPECT_EQ(stream.Size(), 0u) << i;
  }
  EXPECT_EQ(message.PUBLISH().Topic(), "a/b");
  EXPECT_EQ(message.PUBLISH().Text(), "hi");
}

TEST(MQTTReassembly, FirstChunkEndsInsideTheRemainingLength) {
  Bytes packet = LongPublish();
  ASSERT_EQ(ToHex(Bytes(packet.begin(), packet.begin() + 3)), "30 CB 01");
  TbrzWSMQTTMessage message;
  TbrzMemoryStream first(Bytes(packet.begin(), packet.begin() + 2));
  EXPECT_FALSE(message.ReadTCP(first));
  EXPECT_EQ(message.StreamReadPacketBuffer().ReadPacketState(), TwsMQTTReadState::mqrsFixedHeader);
  TbrzMemoryStream second(Bytes(packet.begin() + 2, packet.begin() + 10));
  EXPECT_FALSE(message.ReadTCP(second));
  EXPECT_EQ(message.StreamReadPacketBuffer().ReadPacketState(), TwsMQTTReadState::mqrsMessage);
  EXPECT_EQ(message.StreamReadPacketBuffer().RemainingLength(), 203);
  EXPECT_EQ(message.StreamReadPacketBuffer().FixedHeaderLength(), 3);
  TbrzMemoryStream rest(Bytes(packet.begin() + 10, packet.end()));
  EXPECT_TRUE(message.ReadTCP(rest));
  EXPECT_EQ(message.PUBLISH().Text(), Repeat('x', 200));
  EXPECT_EQ(rest.Size(), 0u);
}

TEST(MQTTReassembly, TwoPacketsInOneChunk) {
  TbrzWSMQTTMessage message;
  TbrzMemoryStream stream(Hex("40 02 00 0A D0 00"));
  ASSERT_TRUE(message.ReadTCP(stream));
  EXPECT_EQ(message.FixedHeader().ControlPacket(), P::mtcpPUBACK);
  EXPECT_EQ(ToHex(stream.Bytes()), "D0 00");
  EXPECT_EQ(stream.Position(), 0u);
  ASSERT_TRUE(message.ReadTCP(stream));
  EXPECT_EQ(message.FixedHeader().ControlPacket(), P::mtcpPINGRESP);
  EXPECT_EQ(stream.Size(), 0u);
}

TEST(MQTTReassembly, TrailingFirstByteWaitsForTheNextChunk) {
  TbrzWSMQTTMessage message;
  TbrzMemoryStream stream(Hex("20 02 00 00 30"));
  ASSERT_TRUE(message.ReadTCP(stream));
  EXPECT_EQ(message.FixedHeader().ControlPacket(), P::mtcpCONNACK);
  EXPECT_FALSE(message.ReadTCP(stream));
  EXPECT_EQ(stream.Size(), 0u);
  EXPECT_EQ(Feed(message, {Hex("05 00 01 74 68 69")}), std::vector<std::string>{"PUBLISH t 0 2"});
}

// A CONNACK, a long PUBLISH (three-byte header), a QoS 1 PUBLISH, a PUBACK, a PINGRESP and a SUBACK.
Bytes Stream() {
  Bytes bytes = Hex("20 02 00 00");
  Bytes publish = LongPublish();
  bytes.insert(bytes.end(), publish.begin(), publish.end());
  for (const char* hex : {"32 09 00 03 61 2F 62 00 0A 68 69", "40 02 00 0A", "D0 00", "90 04 00 01 00 01"}) {
    Bytes packet = Hex(hex);
    bytes.insert(bytes.end(), packet.begin(), packet.end());
  }
  return bytes;
}

const std::vector<std::string> Expected = {"CONNACK 0",  "PUBLISH t 0 200", "PUBLISH a/b 10 2",
                                           "PUBACK 10", "PINGRESP",        "SUBACK 2"};

TEST(MQTTReassembly, EverySplitPointGivesTheSamePackets) {
  const Bytes bytes = Stream();
  for (size_t split = 0; split <= bytes.size(); ++split) {
    TbrzWSMQTTMessage message;
    auto decoded = Feed(message, {Bytes(bytes.begin(), bytes.begin() + static_cast<long>(split)),
                                  Bytes(bytes.begin() + static_cast<long>(split), bytes.end())});
    ASSERT_EQ(decoded, Expected) << "split at " << split;
  }
}

// Feeds the chunks through the byte-range form, which decodes in place.
std::vector<std::string> FeedRange(TbrzWSMQTTMessage& aMessage, const std::vector<Bytes>& aChunks) {
  std::vector<std::string> decoded;
  for (const auto& chunk : aChunks) {
    size_t position = 0;
    while (position < chunk.size()) {
      const size_t before = position;
      const bool complete = aMessage.ReadTCP(chunk.data(), chunk.size(), position);
      EXPECT_GT(position, before);
      if (!complete) {
        EXPECT_EQ(position, chunk.size());
        break;
      }
      decoded.push_back(Describe(aMessage));
    }
  }
  return decoded;
}

TEST(MQTTReassembly, ByteRangeFormGivesTheSamePacketsAtEverySplitPoint) {
  const Bytes bytes = Stream();
  for (size_t split = 0; split <= bytes.size(); ++split) {
    TbrzWSMQTTMessage message;
    auto decoded = FeedRange(message, {Bytes(bytes.begin(), bytes.begin() + static_cast<long>(split)),
                                       Bytes(bytes.begin() + static_cast<long>(split), bytes.end())});
    ASSERT_EQ(decoded, Expected) << "split at " << split;
  }
}

TEST(MQTTReassembly, ByteRangeFormStopsAfterEachPacketAndLeavesTheRest) {
  TbrzWSMQTTMessage message;
  const Bytes bytes = Hex("40 02 00 0A D0 00 30");
  size_t position = 0;
  ASSERT_TRUE(message.ReadTCP(bytes.data(), bytes.size(), position));
  EXPECT_EQ(position, 4u);
  EXPECT_EQ(Describe(message), "PUBACK 10");
  ASSERT_TRUE(message.ReadTCP(bytes.data(), bytes.size(), position));
  EXPECT_EQ(position, 6u);
  EXPECT_EQ(Describe(message), "PINGRESP");
  EXPECT_FALSE(message.ReadTCP(bytes.data(), bytes.size(), position));
  EXPECT_EQ(position, 7u);
  EXPECT_EQ(ToHex(bytes), "40 02 00 0A D0 00 30");
  // The trailing first byte waits in the reassembly buffer for the rest of its packet.
  EXPECT_EQ(FeedRange(message, {Hex("05 00 01 74 68 69")}), std::vector<std::string>{"PUBLISH t 0 2"});
}

TEST(MQTTReassembly, ByteRangeFormRaisesOnAMalformedLengthAndConsumesTheChunk) {
  TbrzWSMQTTMessage message;
  const Bytes bytes = Hex("30 FF FF FF FF 01 02 40 02 00 0A");
  size_t position = 0;
  try {
    message.ReadTCP(bytes.data(), bytes.size(), position);
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), SMQTTMalformedVarInteger);
  }
  EXPECT_EQ(position, bytes.size());
  EXPECT_EQ(FeedRange(message, {Hex("40 02 00 0B")}), std::vector<std::string>{"PUBACK 11"});
}

TEST(MQTTReassembly, EveryPairOfSplitPointsAroundTheHeadersGivesTheSamePackets) {
  const Bytes bytes = Stream();
  // Three chunks with both cuts in the first 12 bytes (CONNACK and the long header), then the rest.
  for (size_t a = 0; a <= 12; ++a) {
    for (size_t b = a; b <= 12; ++b) {
      TbrzWSMQTTMessage message;
      auto decoded = Feed(message, {Bytes(bytes.begin(), bytes.begin() + static_cast<long>(a)),
                                    Bytes(bytes.begin() + static_cast<long>(a), bytes.begin() + static_cast<long>(b)),
                                    Bytes(bytes.begin() + static_cast<long>(b), bytes.end())});
      ASSERT_EQ(decoded, Expected) << "splits at " << a << ", " << b;
    }
  }
}

TEST(MQTTReassembly, OneByteChunks) {
  const Bytes bytes = Stream();
  std::vector<Bytes> chunks;
  for (uint8_t b : bytes) chunks.push_back(Bytes{b});
  TbrzWSMQTTMessage message;
  EXPECT_EQ(Feed(message, chunks), Expected);
}

TEST(MQTTReassembly, MalformedLengthRaisesAndTheNextPacketDecodes) {
  TbrzWSMQTTMessage message;
  TbrzMemoryStream first(Hex("30 FF FF"));
  EXPECT_FALSE(message.ReadTCP(first));
  TbrzMemoryStream second(Hex("FF FF 01 02 40 02 00 0A"));
  try {
    message.ReadTCP(second);
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), SMQTTMalformedVarInteger);
  }
  EXPECT_EQ(second.Size(), 0u);
  // The unframeable bytes are gone; a fresh packet decodes.
  EXPECT_EQ(Feed(message, {Hex("40 02 00 0B")}), std::vector<std::string>{"PUBACK 11"});
}

TEST(MQTTReassembly, LargestRemainingLengthIsAcceptedWithoutAllocatingIt) {
  TbrzWSMQTTReadPacketBuffer buffer;
  TbrzMemoryStream stream(Hex("30 FF FF FF 7F 00 01"));
  EXPECT_FALSE(buffer.Read(stream));
  EXPECT_EQ(buffer.RemainingLength(), 268435455);
  EXPECT_EQ(buffer.ReadPacketState(), TwsMQTTReadState::mqrsMessage);
  EXPECT_EQ(buffer.StreamBuffer().Size(), 7u);
  buffer.SetReadPacketState(TwsMQTTReadState::mqrsFixedHeader);
  EXPECT_EQ(buffer.RemainingLength(), 0);
  EXPECT_EQ(buffer.FixedHeaderLength(), 0);
}

TEST(MQTTReassembly, StandaloneBufferHandsOverOnePacketAtATime) {
  TbrzWSMQTTReadPacketBuffer buffer;
  TbrzMemoryStream stream(Hex("40 02 00 0A 50 02"));
  ASSERT_TRUE(buffer.Read(stream));
  EXPECT_EQ(ToHex(buffer.StreamBuffer().Bytes()), "40 02 00 0A");
  EXPECT_EQ(buffer.StreamBuffer().Position(), 0u);
  EXPECT_EQ(buffer.ControlPacket(), P::mtcpPUBACK);
  EXPECT_EQ(ToHex(stream.Bytes()), "50 02");
  EXPECT_FALSE(buffer.Read(stream));
  TbrzMemoryStream rest(Hex("00 0B"));
  ASSERT_TRUE(buffer.Read(rest));
  EXPECT_EQ(ToHex(buffer.StreamBuffer().Bytes()), "50 02 00 0B");
  EXPECT_EQ(buffer.ControlPacket(), P::mtcpPUBREC);
}

TEST(MQTTReassembly, ClearStreamReadTCPDropsAPartialPacket) {
  TbrzWSMQTTMessage message;
  TbrzMemoryStream partial(Hex("32 09 00 03"));
  EXPECT_FALSE(message.ReadTCP(partial));
  message.ClearStreamReadTCP();
  EXPECT_EQ(Feed(message, {Hex("D0 00")}), std::vector<std::string>{"PINGRESP"});
}

TEST(MQTTReassembly, Mqtt5PacketsOverTCP) {
  TbrzWSMQTTMessage message;
  message.SetMQTTVersion(V::mqtt5);
  const Bytes bytes = Hex("20 08 01 00 05 24 01 21 00 0A 40 04 00 0A 10 00");
  for (size_t split = 0; split <= bytes.size(); ++split) {
    auto decoded = Feed(message, {Bytes(bytes.begin(), bytes.begin() + static_cast<long>(split)),
                                  Bytes(bytes.begin() + static_cast<long>(split), bytes.end())});
    ASSERT_EQ(decoded, (std::vector<std::string>{"CONNACK 0", "PUBACK 10"})) << split;
    EXPECT_EQ(message.CONNACK().CONNACKProperties().ReceiveMaximum(), 10);
    EXPECT_EQ(message.PUBACK().ReasonName(), SMQTTReasonNoMatchingSubscribers);
  }
}

}  // namespace
}  // namespace brz::test
