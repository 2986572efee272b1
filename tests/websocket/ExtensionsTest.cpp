#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>

#include <functional>
#include <string>
#include <vector>

#include "common/Exception.h"
#include "tests/support/TestSupport.h"
#include "websocket/ExtensionMessages.h"
#include "websocket/TbrzWSExtensionDeflate.h"
#include "websocket/TbrzWSExtensions.h"

namespace brz::test {
namespace {

TBytes Plain(const std::string& text) { return TBytes(text.begin(), text.end()); }

// Text of words (compressible) or random bytes (not), the same for a given seed.
TBytes Payload(size_t aSize, bool aText, uint32_t aSeed = 7) {
  static const char* const kWords[] = {"broker ", "topic/", "sensor ", "42 ", "temperature ", "{\"id\":", "QoS "};
  std::mt19937 random(aSeed);
  TBytes data;
  data.reserve(aSize);
  while (data.size() < aSize) {
    if (aText) {
      const std::string word = kWords[random() % 7];
      data.insert(data.end(), word.begin(), word.end());
    } else {
      data.push_back(static_cast<uint8_t>(random()));
    }
  }
  data.resize(aSize);
  return data;
}

// The value of a "Sec-WebSocket-Extensions: " line.
std::string HeaderValue(const std::string& aLine) {
  const std::string prefix = kExtensionsHeader;
  return aLine.rfind(prefix, 0) == 0 ? aLine.substr(prefix.size()) : aLine;
}

TbrzWSExtensions MakeSide(TwsApplicationMode aMode, bool aPerMessage = true, bool aDeflateFrame = false) {
  TbrzWSExtensions e;
  e.SetMode(aMode);
  e.PerMessage_Deflate().SetEnabled(aPerMessage);
  e.DeflateFrame().SetEnabled(aDeflateFrame);
  return e;
}

// A client and a server that negotiated through each other's header lines.
struct TPair {
  TbrzWSExtensions Client = MakeSide(TwsApplicationMode::appClient);
  TbrzWSExtensions Server = MakeSide(TwsApplicationMode::appServer);

  void Negotiate() {
    std::vector<std::string> offer, answer;
    Client.WriteHeader(offer);
    std::string offerValue;
    for (const auto& line : offer) offerValue += (offerValue.empty() ? "" : ", ") + HeaderValue(line);
    Server.DecodeExtensions(offerValue);
    Server.WriteHeader(answer);
    Client.DecodeExtensions(answer.empty() ? std::string() : HeaderValue(answer.front()));
  }
};

// One message through the sender's compression and the receiver's marking and decompression.
TBytes Transfer(TbrzWSExtensions& aFrom, TbrzWSExtensions& aTo, const TBytes& aPlain, TBytes* aWire = nullptr,
                       uint8_t aHeader = 0x82) {
  TBytes data = aPlain;
  aFrom.WriteStream(data);
  aFrom.EncodeHeader(aHeader);
  if (aWire != nullptr) *aWire = data;
  aTo.DecodeHeader(aHeader);
  aTo.ReadStream(data);
  return data;
}

// Raw inflate with a given window and no dictionary, as a peer with that window reads. Output goes in
// small pieces, so references must lie inside the window (zlib would otherwise also accept references
// into output it still holds). False on failure.
bool RawInflate(const TBytes& aCompressed, int aWindowBits, TBytes& aOut) {
  TBytes in = aCompressed;
  in.insert(in.end(), {0x00, 0x00, 0xFF, 0xFF});
  z_stream z{};
  if (inflateInit2(&z, -aWindowBits) != Z_OK) return false;
  z.next_in = in.data();
  z.avail_in = static_cast<uInt>(in.size());
  aOut.clear();
  int rc = Z_OK;
  uint8_t piece[64];
  for (int round = 0; round < 1000000 && rc == Z_OK && z.avail_in > 0; ++round) {
    z.next_out = piece;
    z.avail_out = sizeof piece;
    rc = inflate(&z, Z_SYNC_FLUSH);
    aOut.insert(aOut.end(), piece, piece + (sizeof piece - z.avail_out));
  }
  inflateEnd(&z);
  return (rc == Z_OK || rc == Z_STREAM_END) && z.avail_in == 0;
}


using Mode = TwsApplicationMode;

std::string ExceptionText(const std::function<void()>& aAction) {
  try {
    aAction();
  } catch (const Exception& e) {
    return e.ClassName() + ": " + e.Message();
  }
  return "no exception";
}

// --- negotiation ---

TEST(ExtensionsOffer, LinesFollowTheSettings) {
  struct Case {
    const char* Name;
    std::function<void(TbrzWSExtensions&)> Setup;
    std::vector<std::string> Lines;
  };
  const std::vector<Case> cases = {
      {"nothing enabled", [](TbrzWSExtensions& e) { e.PerMessage_Deflate().SetEnabled(false); }, {}},
      {"defaults", [](TbrzWSExtensions&) {}, {"Sec-WebSocket-Extensions: permessage-deflate; client_max_window_bits"}},
      {"every setting changed",
       [](TbrzWSExtensions& e) {
         e.PerMessage_Deflate().SetClientMaxWindowBits(10);
         e.PerMessage_Deflate().SetClientNoContextTakeOver(true);
         e.PerMessage_Deflate().SetServerMaxWindowBits(12);
         e.PerMessage_Deflate().SetServerNoContextTakeOver(true);
       },
       {"Sec-WebSocket-Extensions: permessage-deflate; client_max_window_bits=10;client_no_context_takeover;"
        "server_max_window_bits=12;server_no_context_takeover"}},
      {"both extensions",
       [](TbrzWSExtensions& e) { e.DeflateFrame().SetEnabled(true); },
       {"Sec-WebSocket-Extensions: permessage-deflate; client_max_window_bits",
        "Sec-WebSocket-Extensions: x-webkit-deflate-frame"}},
      {"deflate-frame only",
       [](TbrzWSExtensions& e) {
         e.PerMessage_Deflate().SetEnabled(false);
         e.DeflateFrame().SetEnabled(true);
       },
       {"Sec-WebSocket-Extensions: x-webkit-deflate-frame"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    auto client = MakeSide(Mode::appClient);
    c.Setup(client);
    std::vector<std::string> lines{"Host: example"};
    client.WriteHeader(lines);
    lines.erase(lines.begin());
    EXPECT_EQ(lines, c.Lines);
  }
}

TEST(ExtensionsAnswer, ClientActivatesWhatTheServerAccepted) {
  struct Case {
    const char* Answer;
    bool PerMessage, DeflateFrame;  // enabled on the client
    std::vector<std::string> Active;
  };
  const std::vector<Case> cases = {
      {"permessage-deflate, x-webkit-deflate-frame", true, true, {kPerMessageDeflate}},
      {"x-webkit-deflate-frame, permessage-deflate", true, true, {kPerMessageDeflate}},
      {"permessage-deflate, x-webkit-deflate-frame", false, true, {kDeflateFrame}},
      {"X-WebKit-Deflate-Frame", true, true, {kDeflateFrame}},
      {"permessage-deflate", false, false, {}},
      {"", true, true, {}},
      {"x-other", true, true, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Answer);
    auto client = MakeSide(Mode::appClient, c.PerMessage, c.DeflateFrame);
    client.DecodeExtensions(c.Answer);
    EXPECT_EQ(client.List(), c.Active);
    EXPECT_EQ(client.Active(), !c.Active.empty());
    EXPECT_EQ(client.ExtensionNegotiated(), !c.Active.empty());
  }
}

TEST(ExtensionsAnswer, BareNameMeansFullWindowsAndContextTakeOver) {
  auto client = MakeSide(Mode::appClient);
  client.DecodeExtensions("permessage-deflate");
  const auto& pmd = client.PerMessage_Deflate();
  EXPECT_TRUE(pmd.Active());
  EXPECT_EQ(pmd.ClientMaxWindowBits(), 15);
  EXPECT_EQ(pmd.ServerMaxWindowBits(), 15);
  EXPECT_EQ(pmd.DeflateWindowBits(), 15);
  EXPECT_TRUE(pmd.DeflateContextTakeOver());
  EXPECT_TRUE(pmd.InflateContextTakeOver());
}

TEST(ExtensionsAnswer, ParametersAreAdopted) {
  auto client = MakeSide(Mode::appClient);
  client.DecodeExtensions(" permessage-deflate ; client_max_window_bits = \"10\" ;serv_max_window_bits=12; "
                          "client_no_context_takeover");
  const auto& pmd = client.PerMessage_Deflate();
  EXPECT_EQ(pmd.ClientMaxWindowBits(), 10);
  EXPECT_EQ(pmd.DeflateWindowBits(), 10);
  EXPECT_EQ(pmd.ServerMaxWindowBits(), 12);
  EXPECT_FALSE(pmd.DeflateContextTakeOver());
  EXPECT_TRUE(pmd.InflateContextTakeOver());
}

TEST(ExtensionsAnswer, ServerContextFollowsTheAnswerNotTheRequest) {
  // Asked for server_no_context_takeover, but the answer leaves it out: the server keeps its context.
  auto client = MakeSide(Mode::appClient);
  client.PerMessage_Deflate().SetServerNoContextTakeOver(true);
  client.DecodeExtensions("permessage-deflate");
  EXPECT_TRUE(client.PerMessage_Deflate().InflateContextTakeOver());
}

TEST(ExtensionsWindowBits, OutOfRangeIsRefusedWithItsText) {
  for (int bits : {7, 16, 0, -1}) {
    SCOPED_TRACE(bits);
    const std::string expected = "Exception: Invalid Value for WindowBits " + std::to_string(bits);
    TbrzWSExtensions e;
    EXPECT_EQ(ExceptionText([&] { e.PerMessage_Deflate().SetClientMaxWindowBits(bits); }), expected);
    EXPECT_EQ(ExceptionText([&] { e.PerMessage_Deflate().SetServerMaxWindowBits(bits); }), expected);
    EXPECT_EQ(ExceptionText([&] { e.DeflateFrame().SetWindowBits(bits); }), expected);
    EXPECT_EQ(e.PerMessage_Deflate().ClientMaxWindowBits(), 15);
  }
  for (int bits : {8, 15}) EXPECT_NO_THROW(TbrzWSExtensions().PerMessage_Deflate().SetClientMaxWindowBits(bits));
}

TEST(ExtensionsWindowBits, BadValueInAnAnswerFailsTheHandshake) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"permessage-deflate; client_max_window_bits=7", "Exception: Invalid Value for WindowBits 7"},
      {"permessage-deflate; server_max_window_bits=16", "Exception: Invalid Value for WindowBits 16"},
      {"permessage-deflate; client_max_window_bits=ten", "EConvertError: 'ten' is not a valid integer value"},
      {"permessage-deflate; client_max_window_bits=", "EConvertError: '' is not a valid integer value"},
  };
  for (const auto& [answer, text] : cases) {
    SCOPED_TRACE(answer);
    auto client = MakeSide(Mode::appClient);
    EXPECT_EQ(ExceptionText([&] { client.DecodeExtensions(answer); }), text);
  }
}

TEST(ExtensionsServer, AnswerLines) {
  struct Case {
    const char* Offer;
    std::function<void(TbrzWSExtensions&)> Setup;
    std::vector<std::string> Lines;
  };
  const auto none = [](TbrzWSExtensions&) {};
  const std::vector<Case> cases = {
      {"permessage-deflate; client_max_window_bits", none,
       {"Sec-WebSocket-Extensions: permessage-deflate;client_max_window_bits=15"}},
      {"permessage-deflate", none, {"Sec-WebSocket-Extensions: permessage-deflate"}},
      {"permessage-deflate; client_max_window_bits=10;server_no_context_takeover", none,
       {"Sec-WebSocket-Extensions: permessage-deflate;client_max_window_bits=10;server_no_context_takeover"}},
      {"permessage-deflate; serv_max_window_bits=12; client_no_context_takeover; x=1", none,
       {"Sec-WebSocket-Extensions: permessage-deflate;server_max_window_bits=12;client_no_context_takeover"}},
      {"permessage-deflate; client_max_window_bits", [](TbrzWSExtensions& e) { e.PerMessage_Deflate().SetClientMaxWindowBits(11); },
       {"Sec-WebSocket-Extensions: permessage-deflate;client_max_window_bits=11"}},
      // A server that will not keep the client's context must tell the client.
      {"permessage-deflate", [](TbrzWSExtensions& e) { e.PerMessage_Deflate().SetClientNoContextTakeOver(true); },
       {"Sec-WebSocket-Extensions: permessage-deflate;client_no_context_takeover"}},
      {"permessage-deflate, x-webkit-deflate-frame", [](TbrzWSExtensions& e) { e.DeflateFrame().SetEnabled(true); },
       {"Sec-WebSocket-Extensions: permessage-deflate"}},
      {"x-webkit-deflate-frame", [](TbrzWSExtensions& e) { e.DeflateFrame().SetEnabled(true); },
       {"Sec-WebSocket-Extensions: x-webkit-deflate-frame"}},
      {"x-webkit-deflate-frame", none, {}},
      {"", none, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Offer);
    auto server = MakeSide(Mode::appServer);
    c.Setup(server);
    server.DecodeExtensions(c.Offer);
    std::vector<std::string> lines;
    server.WriteHeader(lines);
    EXPECT_EQ(lines, c.Lines);
  }
}

TEST(ExtensionsCopy, CopiesSettingsButNeverState) {
  auto component = MakeSide(Mode::appClient, true, true);
  component.PerMessage_Deflate().SetClientMaxWindowBits(11);
  component.PerMessage_Deflate().SetServerNoContextTakeOver(true);
  component.PerMessage_Deflate().SetMemLevel(5);
  component.DeflateFrame().SetWindowBits(12);
  component.SetMaxInflatedSize(1000);

  TbrzWSExtensions used(component);
  used.DecodeExtensions("permessage-deflate");
  TBytes first = Plain("a short text a short text");
  used.WriteStream(first);
  used.DecodeHeader(0xC1);

  TbrzWSExtensions copy(used);
  EXPECT_FALSE(copy.Active());
  EXPECT_FALSE(copy.ExtensionNegotiated());
  EXPECT_FALSE(copy.PerMessage_Deflate().MessageCompressed());
  EXPECT_EQ(copy.Mode(), Mode::appClient);
  EXPECT_TRUE(copy.PerMessage_Deflate().Enabled());
  EXPECT_TRUE(copy.DeflateFrame().Enabled());
  EXPECT_EQ(copy.PerMessage_Deflate().ClientMaxWindowBits(), 11);
  EXPECT_EQ(copy.PerMessage_Deflate().MemLevel(), 5);
  EXPECT_EQ(copy.DeflateFrame().WindowBits(), 12);
  EXPECT_EQ(copy.PerMessage_Deflate().MaxInflatedSize(), 1000u);
  // The send history stayed behind: the copy's first message is not primed by the original's.
  copy.DecodeExtensions("permessage-deflate");
  TBytes again = Plain("a short text a short text");
  copy.WriteStream(again);
  EXPECT_EQ(again, first);

  // Independent: changing the copy leaves the component alone.
  copy.PerMessage_Deflate().SetClientMaxWindowBits(9);
  EXPECT_EQ(component.PerMessage_Deflate().ClientMaxWindowBits(), 11);

  TbrzWSExtensions assigned;
  assigned = used;
  EXPECT_FALSE(assigned.Active());
  EXPECT_EQ(assigned.PerMessage_Deflate().ClientMaxWindowBits(), 11);
}

// --- frame marks ---

TEST(ExtensionsMarks, RSV1OnTheFirstFrameOfDataMessagesOnly) {
  auto client = MakeSide(Mode::appClient);
  client.DecodeExtensions("permessage-deflate");
  const std::vector<std::pair<uint8_t, uint8_t>> sending = {
      {0x81, 0xC1}, {0x82, 0xC2}, {0x01, 0x41}, {0x80, 0x80}, {0x00, 0x00}, {0x88, 0x88}, {0x89, 0x89}, {0x8A, 0x8A}};
  for (auto [in, out] : sending) {
    uint8_t b = in;
    client.EncodeHeader(b);
    EXPECT_EQ(b, out) << int(in);
  }
  auto idle = MakeSide(Mode::appClient);
  uint8_t b = 0x81;
  idle.EncodeHeader(b);
  EXPECT_EQ(b, 0x81);

  // Receiving: continuation and control frames keep the mark of the message's first frame.
  const std::vector<std::pair<uint8_t, bool>> receiving = {
      {0x41, true}, {0x00, true}, {0x89, true}, {0x80, true}, {0x82, false}, {0x40, false}, {0xC2, true}};
  for (auto [byte, compressed] : receiving) {
    client.DecodeHeader(byte);
    EXPECT_EQ(client.MessageCompressed(), compressed) << int(byte);
  }
}

TEST(ExtensionsMarks, UnmarkedMessagePassesUnchanged) {
  TPair pair;
  pair.Negotiate();
  TBytes data = Plain("not compressed");
  pair.Server.DecodeHeader(0x81);
  pair.Server.ReadStream(data);
  EXPECT_EQ(data, Plain("not compressed"));
  // Nothing negotiated: nothing is compressed either.
  auto idle = MakeSide(Mode::appClient);
  idle.WriteStream(data);
  EXPECT_EQ(data, Plain("not compressed"));
}

// --- compression ---

TEST(ExtensionsDeflate, KnownBytes) {
  TPair pair;
  pair.Negotiate();
  TBytes wire;
  EXPECT_EQ(Transfer(pair.Client, pair.Server, Plain("Hello"), &wire), Plain("Hello"));
  EXPECT_EQ(wire, Hex("f2 48 cd c9 c9 07 00"));
  // Messages written by other encoders: a stored block, and a final block with padding.
  for (const char* hex : {"f2 48 cd c9 c9 07 00", "00 05 00 fa ff 48 65 6c 6c 6f 00", "f3 48 cd c9 c9 07 00 00"}) {
    SCOPED_TRACE(hex);
    TbrzWSExtensions reader(pair.Client);
    reader.DecodeExtensions("permessage-deflate");
    TBytes data = Hex(hex);
    reader.DecodeHeader(0xC1);
    reader.ReadStream(data);
    EXPECT_EQ(data, Plain("Hello"));
  }
}

TEST(ExtensionsDeflate, ContextTakeOverShortensRepeats) {
  const TBytes text = Plain("{\"topic\":\"sensors/kitchen/temperature\",\"value\":21.5}");
  {
    TPair pair;
    pair.Negotiate();
    TBytes first, second;
    EXPECT_EQ(Transfer(pair.Client, pair.Server, text, &first), text);
    EXPECT_EQ(Transfer(pair.Client, pair.Server, text, &second), text);
    EXPECT_LT(second.size() * 3, first.size());
  }
  {
    TPair pair;
    pair.Client.PerMessage_Deflate().SetClientNoContextTakeOver(true);
    pair.Negotiate();
    TBytes first, second;
    EXPECT_EQ(Transfer(pair.Client, pair.Server, text, &first), text);
    EXPECT_EQ(Transfer(pair.Client, pair.Server, text, &second), text);
    EXPECT_EQ(second, first);
  }
}

TEST(ExtensionsDeflate, ServerNoContextTakeOverInflatesWithoutDictionary) {
  auto client = MakeSide(Mode::appClient);
  client.DecodeExtensions("permessage-deflate; server_no_context_takeover");
  // A sender that keeps its context: its second message refers back into the first.
  auto keeping = MakeSide(Mode::appServer);
  keeping.DecodeExtensions("permessage-deflate");
  const TBytes text = Plain("the same text, the same text, once more");
  TBytes first = text, second = text;
  keeping.WriteStream(first);
  keeping.WriteStream(second);

  client.DecodeHeader(0xC1);
  TBytes a = first;
  client.ReadStream(a);
  EXPECT_EQ(a, text);
  TBytes b = second;
  EXPECT_EQ(ExceptionText([&] { client.ReadStream(b); }), "EZDecompressionError: ZLib Error (-3)");

  // Its own compression is still primed.
  TBytes out1 = text, out2 = text;
  client.WriteStream(out1);
  client.WriteStream(out2);
  EXPECT_LT(out2.size(), out1.size());

  // The server side of that agreement never refers back.
  TPair pair;
  pair.Client.PerMessage_Deflate().SetServerNoContextTakeOver(true);
  pair.Negotiate();
  TBytes w1, w2;
  EXPECT_EQ(Transfer(pair.Server, pair.Client, text, &w1), text);
  EXPECT_EQ(Transfer(pair.Server, pair.Client, text, &w2), text);
  EXPECT_EQ(w1, w2);
}

TEST(ExtensionsDeflate, NegotiatedWindowLimitsBackReferences) {
  // A 2000-byte block repeated: only a window over 2000 bytes can refer back to it.
  TBytes data = Payload(2000, false, 3);
  data.insert(data.end(), data.begin(), data.end());
  struct Case {
    const char* Answer;
    int InflateBits;
    bool Readable;
  };
  const std::vector<Case> cases = {
      {"permessage-deflate; client_max_window_bits=10", 10, true},
      {"permessage-deflate; client_max_window_bits=8", 8, true},
      {"permessage-deflate", 10, false},
      {"permessage-deflate", 15, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Answer) + " / " + std::to_string(c.InflateBits));
    auto client = MakeSide(Mode::appClient);
    client.DecodeExtensions(c.Answer);
    TBytes wire = data;
    client.WriteStream(wire);
    TBytes out;
    EXPECT_EQ(RawInflate(wire, c.InflateBits, out) && out == data, c.Readable);
  }
}

TEST(ExtensionsDeflate, ShortOutputKeepsAllItsBytes) {
  for (const char* hex : {"", "4a", "00 00 ff ff 03", "01 02 03 04 05 06"}) {
    TBytes data = Hex(hex);
    RemoveDeflateTail(data);
    EXPECT_EQ(data, Hex(hex));
  }
  TBytes data = Hex("01 02 03 04 05 06 07");
  RemoveDeflateTail(data);
  EXPECT_EQ(data, Hex("01"));
  // A real message never keeps the closing tail; an empty one becomes one empty stored block, and an
  // empty payload marked compressed (as some peers send it) reads as an empty message.
  TPair pair;
  pair.Negotiate();
  TBytes one = Plain("a"), wire;
  EXPECT_EQ(Transfer(pair.Client, pair.Server, one, &wire), one);
  EXPECT_EQ(wire, Hex("4a 04 00"));
  EXPECT_EQ(Transfer(pair.Client, pair.Server, TBytes{}, &wire), TBytes{});
  EXPECT_EQ(wire, Hex("00"));
  TBytes empty;
  pair.Server.DecodeHeader(0xC2);
  pair.Server.ReadStream(empty);
  EXPECT_TRUE(empty.empty());
}

TEST(ExtensionsInflate, BrokenMessageFailsAndAFreshConnectionWorks) {
  TPair pair;
  pair.Negotiate();
  TBytes good;
  Transfer(pair.Client, pair.Server, Payload(3000, true), &good);

  const std::vector<std::pair<TBytes, std::string>> cases = {
      {Hex("ff ff ff ff"), "EZDecompressionError: ZLib Error (-3)"},
      // Cut inside a stored block: the message cannot end, nothing is silently dropped.
      {Hex("00 ff 00 00 ff 48 65"), "EZDecompressionError: ZLib Error (-5)"},
      {TBytes(good.begin(), good.begin() + static_cast<long>(good.size() / 2)), "EZDecompressionError: ZLib Error (-5)"},
  };
  for (const auto& [bytes, text] : cases) {
    SCOPED_TRACE(ToHex(TBytes(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), 8))));
    TbrzWSExtensions connection(pair.Server);
    connection.DecodeExtensions("permessage-deflate; client_max_window_bits");
    connection.DecodeHeader(0xC2);
    TBytes data = bytes;
    EXPECT_EQ(ExceptionText([&] { connection.ReadStream(data); }), text);

    TbrzWSExtensions fresh(pair.Server);
    fresh.DecodeExtensions("permessage-deflate; client_max_window_bits");
    fresh.DecodeHeader(0xC2);
    TBytes retry = good;
    fresh.ReadStream(retry);
    EXPECT_EQ(retry, Payload(3000, true));
  }
}

TEST(ExtensionsInflate, OutputIsBounded) {
  EXPECT_EQ(TbrzWSExtensions().PerMessage_Deflate().MaxInflatedSize(), 64u * 1024 * 1024);
  const size_t limit = 1 << 20;
  for (size_t size : {limit, limit + 1, 8 * limit}) {
    SCOPED_TRACE(size);
    auto sender = MakeSide(Mode::appServer);
    sender.DecodeExtensions("permessage-deflate");
    TBytes bomb(size, 0);
    sender.WriteStream(bomb);
    auto receiver = MakeSide(Mode::appClient);
    receiver.SetMaxInflatedSize(limit);
    receiver.DecodeExtensions("permessage-deflate");
    receiver.DecodeHeader(0xC2);
    if (size <= limit) {
      receiver.ReadStream(bomb);
      EXPECT_EQ(bomb.size(), size);
    } else {
      EXPECT_EQ(ExceptionText([&] { receiver.ReadStream(bomb); }),
                "EZDecompressionError: Inflated Message exceeds the limit of 1048576 bytes");
    }
  }
}

TEST(ExtensionsRoundTrip, BothDirectionsAllSizes) {
  struct Case {
    size_t Size;
    bool Text;
  };
  const std::vector<Case> cases = {{10, true}, {10, false}, {100 * 1024, true}, {100 * 1024, false},
                                   {4 * 1024 * 1024, true}, {4 * 1024 * 1024, false}};
  for (bool deflateFrame : {false, true}) {
    TPair pair;
    pair.Client = MakeSide(Mode::appClient, !deflateFrame, deflateFrame);
    pair.Server = MakeSide(Mode::appServer, !deflateFrame, deflateFrame);
    pair.Negotiate();
    ASSERT_EQ(pair.Client.List(), std::vector<std::string>{deflateFrame ? kDeflateFrame : kPerMessageDeflate});
    ASSERT_EQ(pair.Server.List(), pair.Client.List());
    for (const auto& c : cases) {
      // Deflate-frame's slower settings (level 6, memory level 1) make its large cases too slow for a unit test.
      if (deflateFrame && c.Size > 100 * 1024) continue;
      SCOPED_TRACE(std::to_string(c.Size) + (c.Text ? " text" : " binary") + (deflateFrame ? " deflate-frame" : ""));
      const TBytes plain = Payload(c.Size, c.Text, static_cast<uint32_t>(c.Size));
      const uint8_t header = c.Text ? 0x81 : 0x82;
      TBytes wire;
      EXPECT_EQ(Transfer(pair.Client, pair.Server, plain, &wire, header), plain);
      if (c.Text && c.Size > 10) {
        EXPECT_LT(wire.size(), plain.size() / 2);
      }
      EXPECT_EQ(Transfer(pair.Server, pair.Client, plain, nullptr, header), plain);
    }
  }
}

}  // namespace
}  // namespace brz::test
