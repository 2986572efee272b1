// Frame codec: golden byte tables for sending, and the reader's events for crafted input under every
// chunking.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"
#include "websocket/TbrzWSFrame.h"
#include "websocket/TbrzWSFrameMessages.h"

namespace brz {
namespace {

using test::Hex;
using test::ToHex;

const std::array<uint8_t, 4> kKey{0x37, 0xFA, 0x21, 0x3D};

TBytes Text(const std::string& s) { return TBytes(s.begin(), s.end()); }

TEST(WSFrameWrite, GoldenFrames) {
  struct Case {
    const char* name;
    TOpcode op;
    bool fin;
    bool rsv1;
    TBytes payload;
    bool masked;
    std::string expected;
  };
  const std::vector<Case> cases = {
      // RFC 6455 5.7 examples.
      {"client abc", TOpcode::opText, true, false, Text("abc"), true, "81 83 37 FA 21 3D 56 98 42"},
      {"server abc", TOpcode::opText, true, false, Text("abc"), false, "81 03 61 62 63"},
      {"client Hello", TOpcode::opText, true, false, Text("Hello"), true, "81 85 37 FA 21 3D 7F 9F 4D 51 58"},
      {"empty client text", TOpcode::opText, true, false, {}, true, "81 80 37 FA 21 3D"},
      {"first fragment", TOpcode::opText, false, false, Text("Hel"), false, "01 03 48 65 6C"},
      {"last continuation", TOpcode::opContinuation, true, false, Text("lo"), false, "80 02 6C 6F"},
      {"compressed mark", TOpcode::opBinary, true, true, Text("x"), false, "C2 01 78"},
      {"unmasked ping", TOpcode::opPing, true, false, Text("Hello"), false, "89 05 48 65 6C 6C 6F"},
      {"close 1000", TOpcode::opClose, true, false, Hex("03 E8"), false, "88 02 03 E8"},
  };
  for (const auto& c : cases) {
    TBytes frame = BuildWSFrame(c.op, c.fin, c.rsv1, c.payload.data(), c.payload.size(), c.masked ? &kKey : nullptr);
    EXPECT_EQ(ToHex(frame), ToHex(Hex(c.expected))) << c.name;
  }
}

TEST(WSFrameWrite, LengthForms) {
  struct Case {
    size_t size;
    std::string header;
  };
  const std::vector<Case> cases = {
      {125, "82 7D"},
      {126, "82 7E 00 7E"},
      {65535, "82 7E FF FF"},
      {65536, "82 7F 00 00 00 00 00 01 00 00"},
  };
  for (const auto& c : cases) {
    TBytes payload(c.size, 0x5A);
    TBytes frame = BuildWSFrame(TOpcode::opBinary, true, false, payload.data(), payload.size(), nullptr);
    TBytes header = Hex(c.header);
    ASSERT_EQ(frame.size(), header.size() + c.size);
    EXPECT_EQ(ToHex(TBytes(frame.begin(), frame.begin() + static_cast<long>(header.size()))), ToHex(header));
    // Masked: the mask bit is or-ed into the first length byte, the key follows the length.
    TBytes masked = BuildWSFrame(TOpcode::opBinary, true, false, payload.data(), payload.size(), &kKey);
    EXPECT_EQ(masked[1], header[1] | 0x80);
    EXPECT_EQ(masked[header.size()], 0x37);
    EXPECT_EQ(masked.size(), header.size() + 4 + c.size);
  }
}

TEST(WSFrameWrite, MaskKeysVaryAndStayBelow255) {
  TbrzWSMaskGenerator generator;
  auto first = generator.Next();
  bool differs = false;
  for (int i = 0; i < 64; ++i) {
    auto key = generator.Next();
    for (uint8_t b : key) EXPECT_LT(b, 255);
    if (key != first) differs = true;
  }
  EXPECT_TRUE(differs);
}

TEST(WSFrameWrite, MaskKeysStayFreshAcrossRandomBlocks) {
  TbrzWSMaskGenerator generator;
  // Far more keys than one block of random bytes gives: later blocks must not repeat the first.
  using Keys = std::vector<std::array<uint8_t, 4>>;
  Keys keys;
  for (int i = 0; i < 1024; ++i) keys.push_back(generator.Next());
  for (const auto& key : keys)
    for (uint8_t b : key) EXPECT_LT(b, 255);
  const Keys first(keys.begin(), keys.begin() + 32);
  for (size_t start = 32; start + 32 <= keys.size(); start += 32) {
    const Keys later(keys.begin() + static_cast<long>(start), keys.begin() + static_cast<long>(start + 32));
    EXPECT_NE(later, first) << "keys from " << start;
  }
}

std::string Plan(TOpcode op, size_t bytes, size_t cutLength, size_t size, TwsStreaming streaming) {
  std::string out;
  for (const auto& f : PlanWSMessage(op, bytes, cutLength, size, streaming)) {
    if (!out.empty()) out += " ";
    out += std::string(OpcodeName(f.OpCode)) + (f.Fin ? "+fin" : "") + ":" + std::to_string(f.Offset) + "/" +
           std::to_string(f.Size);
  }
  return out;
}

TEST(WSFrameWrite, CuttingAndStreamingModes) {
  using S = TwsStreaming;
  const TOpcode T = TOpcode::opText, B = TOpcode::opBinary;
  // Five characters with fragment size 2: three frames.
  EXPECT_EQ(Plan(T, 5, 5, 2, S::stmNone), "text:0/2 continuation:2/2 continuation+fin:4/1");
  EXPECT_EQ(Plan(T, 5, 5, 0, S::stmNone), "text+fin:0/5");
  EXPECT_EQ(Plan(T, 5, 5, 5, S::stmNone), "text+fin:0/5");
  // Text compares characters: two 3-byte characters with size 2 stay one frame.
  EXPECT_EQ(Plan(T, 6, 2, 2, S::stmNone), "text+fin:0/6");
  EXPECT_EQ(Plan(T, 0, 0, 2, S::stmNone), "text+fin:0/0");
  EXPECT_EQ(Plan(T, 5, 5, 2, S::stmFirst), "text:0/5");
  EXPECT_EQ(Plan(T, 5, 5, 2, S::stmContinue), "continuation:0/5");
  EXPECT_EQ(Plan(T, 5, 5, 2, S::stmLast), "continuation+fin:0/5");
  EXPECT_EQ(Plan(T, 5, 5, 2, S::stmContinueAndLast), "continuation:0/2 continuation:2/2 continuation+fin:4/1");
  EXPECT_EQ(Plan(T, 5, 5, 0, S::stmContinueAndLast), "continuation+fin:0/5");
  EXPECT_EQ(Plan(B, 4, 4, 2, S::stmNone), "binary:0/2 continuation+fin:2/2");
  EXPECT_EQ(Plan(B, 4, 4, 4, S::stmNone), "binary+fin:0/4");
  EXPECT_EQ(Plan(B, 4, 4, 2, S::stmFirst), "binary:0/4");
}

// Records the reader's events as text lines.
class Recorder : public IbrzWSFrameHandler {
 public:
  std::vector<std::string> Events;
  void WSText(const std::string& text) override { Events.push_back("text:" + text); }
  void WSBinary(TbrzMemoryStream& data) override { Events.push_back("binary:" + ToHex(data.ToBytes())); }
  void WSFragment(TbrzMemoryStream& data, TOpcode op, bool continuation) override {
    EXPECT_EQ(data.Position(), 0u);
    Events.push_back(std::string("fragment:") + OpcodeName(op) + (continuation ? "+more:" : ":") + data.ToString());
  }
  void WSPing(const TBytes& payload) override { Events.push_back("ping:" + ToHex(payload)); }
  void WSPong(const std::string& text) override { Events.push_back("pong:" + text); }
  void WSClose(int code, const std::string& reason) override {
    Events.push_back("close:" + std::to_string(code) + ":" + reason);
  }
  void WSViolation(const std::string& message, int code) override {
    Events.push_back("violation:" + std::to_string(code) + ":" + message);
  }
};

struct ReadCase {
  const char* name;
  std::string input;
  std::vector<std::string> events;
  TwsFragmentedMessages mode = TwsFragmentedMessages::frgOnlyBuffer;
  bool validate = false;
  bool requireMasked = false;
};

std::vector<std::string> ReadAll(const ReadCase& c, const TBytes& bytes, std::vector<size_t> cuts) {
  Recorder recorder;
  TbrzWSFrameReader reader(recorder);
  reader.Options().FragmentedMessages = c.mode;
  reader.Options().ValidateUTF8 = c.validate;
  reader.Options().RequireMasked = c.requireMasked;
  size_t pos = 0;
  cuts.push_back(bytes.size());
  for (size_t cut : cuts) {
    if (cut > pos) reader.Feed(bytes.data() + pos, cut - pos);
    pos = cut;
  }
  return recorder.Events;
}

std::string V(int code, const char* message) { return "violation:" + std::to_string(code) + ":" + message; }

const std::vector<ReadCase>& ReadCases() {
  using F = TwsFragmentedMessages;
  static const std::vector<ReadCase> cases = {
      {"unmasked text", "81 03 61 62 63", {"text:abc"}},
      {"masked text", "81 83 37 FA 21 3D 56 98 42", {"text:abc"}},
      {"empty text", "81 00", {"text:"}},
      {"empty masked binary", "82 80 01 02 03 04", {"binary:"}},
      {"two messages", "81 01 61 82 02 01 02", {"text:a", "binary:01 02"}},
      {"16-bit length", "82 7E 00 03 0A 0B 0C", {"binary:0A 0B 0C"}},
      {"64-bit length", "82 7F 00 00 00 00 00 00 00 02 0A 0B", {"binary:0A 0B"}},
      {"fragments buffered", "01 02 48 65 80 01 79", {"text:Hey"}},
      {"fragments all", "01 02 48 65 80 01 79", {"fragment:text+more:He", "fragment:text:Hey", "text:Hey"}, F::frgAll},
      {"fragments only", "01 02 48 65 80 01 79", {"fragment:text+more:He", "fragment:text:y"}, F::frgOnlyFragmented},
      {"ping between fragments", "01 02 48 65 89 02 70 31 80 01 79", {"ping:70 31", "text:Hey"}},
      {"three binary fragments", "02 01 01 00 01 02 80 01 03", {"binary:01 02 03"}},
      {"pong", "8A 02 68 69", {"pong:hi"}},
      {"close without payload", "88 00 81 01 61", {"close:0:"}},
      {"masked close without payload", "88 80 01 02 03 04", {"close:0:"}},
      {"close 1000 with reason", "88 04 03 E8 6F 6B", {"close:1000:ok"}},
      {"reason not checked for code", "88 03 03 ED 78", {"close:1005:x"}},
      {"close one byte", "88 01 03", {V(1002, msg::kWSInvalidCloseLength)}},
      {"continuation first", "80 01 61", {V(1002, msg::kWSContinuationWithoutMessage)}},
      {"text after unfinished", "01 01 61 81 01 62", {V(1002, msg::kWSTextAfterContinuation)}},
      {"binary after unfinished", "01 01 61 82 01 62", {V(1002, msg::kWSBinaryAfterContinuation)}},
      {"text after unfinished with a ping between", "01 01 61 89 00 81 01 62",
       {"ping:", V(1002, msg::kWSTextAfterContinuation)}},
      {"reserved opcode 3", "83 00", {V(1002, msg::kWSInvalidOpCode)}},
      {"reserved opcode B", "8B 00", {V(1002, msg::kWSInvalidOpCode)}},
      {"rsv1 without extension", "C1 01 61", {V(1002, msg::kWSInvalidRSV)}},
      {"rsv3 on continuation", "01 01 61 90 01 62", {V(1002, msg::kWSInvalidRSV)}},
      {"fragmented ping", "09 00", {V(1002, msg::kWSControlFragmented)}},
      {"ping with 16-bit length", "89 7E 00 7E", {V(1002, msg::kWSControlTooLong)}},
      {"unmasked on server", "81 01 61", {V(1002, msg::kWSNotMasked)}, F::frgOnlyBuffer, false, true},
      {"masked on server", "81 81 00 00 00 00 61", {"text:a"}, F::frgOnlyBuffer, false, true},
      // 2^31 bytes do not fit the signed 32-bit count.
      {"frame of 2^31 bytes", "82 7F 00 00 00 00 80 00 00 00", {V(1009, msg::kWSFrameTooLarge)}},
      {"frame of 2^63 bytes", "82 7F 80 00 00 00 00 00 00 00", {V(1009, msg::kWSFrameTooLarge)}},
      {"invalid UTF-8 unchecked", "81 02 61 FF", {"text:a\xEF\xBF\xBD"}},
      {"invalid UTF-8 checked", "81 02 61 FF", {V(1007, msg::kWSInvalidUTF8)}, F::frgOnlyBuffer, true},
      {"surrogate checked", "81 03 ED A0 80", {V(1007, msg::kWSInvalidUTF8)}, F::frgOnlyBuffer, true},
      {"overlong checked", "81 02 C0 AF", {V(1007, msg::kWSInvalidUTF8)}, F::frgOnlyBuffer, true},
      {"valid UTF-8 checked", "81 02 C3 A9", {"text:\xC3\xA9"}, F::frgOnlyBuffer, true},
      {"lone trailing F4 accepted", "81 02 61 F4", {"text:a\xEF\xBF\xBD"}, F::frgOnlyBuffer, true},
      {"F4 not last refused", "81 02 F4 61", {V(1007, msg::kWSInvalidUTF8)}, F::frgOnlyBuffer, true},
      {"close reason checked", "88 03 03 E8 FF", {V(1007, msg::kWSInvalidUTF8)}, F::frgOnlyBuffer, true},
      {"nothing after a violation", "83 00 81 01 61", {V(1002, msg::kWSInvalidOpCode)}},
  };
  return cases;
}

TEST(WSFrameRead, EventsForEveryChunking) {
  for (const auto& c : ReadCases()) {
    TBytes bytes = Hex(c.input);
    EXPECT_EQ(ReadAll(c, bytes, {}), c.events) << c.name;
    // Every split into two pieces, and one byte at a time.
    for (size_t cut = 1; cut < bytes.size(); ++cut) {
      EXPECT_EQ(ReadAll(c, bytes, {cut}), c.events) << c.name << " split at " << cut;
    }
    std::vector<size_t> singles;
    for (size_t i = 1; i < bytes.size(); ++i) singles.push_back(i);
    EXPECT_EQ(ReadAll(c, bytes, singles), c.events) << c.name << " byte by byte";
  }
}

TEST(WSFrameRead, CloseCodes) {
  for (int code : {0, 999, 1000, 1001, 1003, 1004, 1005, 1006, 1007, 1011, 1012, 1015, 2999, 3000, 4999, 5000,
                   65535}) {
    bool accepted = (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1011) || (code >= 3000 && code <= 4999);
    Recorder recorder;
    TbrzWSFrameReader reader(recorder);
    TBytes frame{0x88, 0x02, static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code)};
    reader.Feed(frame.data(), frame.size());
    ASSERT_EQ(recorder.Events.size(), 1u);
    EXPECT_EQ(recorder.Events[0], accepted ? "close:" + std::to_string(code) + ":" : V(1002, msg::kWSInvalidCloseCode))
        << code;
    EXPECT_EQ(reader.CloseCode(), code);
    EXPECT_TRUE(reader.Stopped());
  }
}

TEST(WSFrameRead, MessageCapEndsEndlessFragments) {
  Recorder recorder;
  TbrzWSFrameReader reader(recorder);
  reader.Options().MaxMessageSize = 10;
  TBytes bytes = Hex("02 04 01 02 03 04 00 04 05 06 07 08 00 04 09 0A 0B 0C");
  EXPECT_EQ(reader.Feed(bytes.data(), bytes.size()), 14u);
  EXPECT_EQ(recorder.Events, std::vector<std::string>{V(1009, msg::kWSMessageTooLarge)});
  // Dropping fragments as they come keeps the held body small, so the cap does not apply across frames.
  Recorder only;
  TbrzWSFrameReader fragments(only);
  fragments.Options().MaxMessageSize = 10;
  fragments.Options().FragmentedMessages = TwsFragmentedMessages::frgOnlyFragmented;
  fragments.Feed(bytes.data(), bytes.size());
  EXPECT_EQ(only.Events.size(), 3u);
  EXPECT_FALSE(fragments.Stopped());
}

TEST(WSFrameRead, ResetStartsOver) {
  Recorder recorder;
  TbrzWSFrameReader reader(recorder);
  TBytes partial = Hex("01 02 48 65 81");
  reader.Feed(partial.data(), partial.size());
  EXPECT_TRUE(reader.Stopped());
  reader.Reset();
  TBytes again = Hex("81 01 61");
  reader.Feed(again.data(), again.size());
  EXPECT_EQ(recorder.Events.back(), "text:a");
}

TEST(WSFrameRead, LargeMaskedMessageRoundTrip) {
  TBytes payload(3 * 65536 + 7);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 31);
  TBytes frame = BuildWSFrame(TOpcode::opBinary, true, false, payload.data(), payload.size(), &kKey);
  struct Sink : Recorder {
    TBytes Body;
    void WSBinary(TbrzMemoryStream& data) override { Body = data.ToBytes(); }
  } sink;
  TbrzWSFrameReader reader(sink);
  // Odd chunk sizes keep the key index running across pieces.
  for (size_t pos = 0; pos < frame.size(); pos += 16381) {
    reader.Feed(frame.data() + pos, std::min<size_t>(16381, frame.size() - pos));
  }
  EXPECT_EQ(sink.Body, payload);
}

TEST(WSHixie76, FramesBothWays) {
  EXPECT_EQ(ToHex(BuildHixie76Text("hi")), "00 68 69 FF");
  EXPECT_EQ(ToHex(BuildHixie76Close()), "FF 00");
  TBytes bytes = Hex("0A 00 68 69 FF 00 C3 A9 FF 42 FF 00 00 61 FF");
  for (size_t cut = 0; cut <= bytes.size(); ++cut) {
    Recorder recorder;
    TbrzWSHixie76Reader reader(recorder);
    reader.Feed(bytes.data(), cut);
    reader.Feed(bytes.data() + cut, bytes.size() - cut);
    EXPECT_EQ(recorder.Events, (std::vector<std::string>{"text:hi", "text:\xC3\xA9", "close:0:"})) << cut;
  }
}

}  // namespace
}  // namespace brz
