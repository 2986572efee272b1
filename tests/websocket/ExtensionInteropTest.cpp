// Our compression against a real permessage-deflate implementation (and plain zlib streams for
// deflate-frame), driven through ExtensionPeer.py: negotiation lines and message bytes both ways.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"
#include "websocket/ExtensionMessages.h"
#include "websocket/TbrzWSExtensions.h"

namespace brz::test {
namespace {

using Mode = TwsApplicationMode;
constexpr auto kReplyTimeout = std::chrono::seconds(20);

// Messages that exercise history in both directions: repeats, a long text, incompressible bytes, empty.
std::vector<TBytes> Messages() {
  std::vector<TBytes> messages;
  const std::string hello = "Hello, broker! Hello, broker!";
  messages.emplace_back(hello.begin(), hello.end());
  messages.emplace_back(hello.begin(), hello.end());
  std::string text;
  for (int i = 0; text.size() < 150000; ++i) text += "{\"topic\":\"sensors/" + std::to_string(i % 97) + "\",\"v\":" + std::to_string(i) + "}";
  messages.emplace_back(text.begin(), text.end());
  std::mt19937 random(11);
  TBytes binary(40000);
  for (auto& b : binary) b = static_cast<uint8_t>(random());
  messages.push_back(binary);
  messages.emplace_back();
  messages.emplace_back(hello.begin(), hello.end());
  return messages;
}

class Peer {
 public:
  Peer(const std::string& aRole, const std::string& aOptions)
      : FProcess({"/usr/bin/python3", SourceDir() + "/tests/websocket/ExtensionPeer.py", aRole, aOptions}, true) {}

  std::string Ask(const std::string& aLine) {
    FProcess.WriteLine(aLine);
    return Reply();
  }
  std::string Reply() { return FProcess.ReadLine(kReplyTimeout).value_or("no reply"); }
  // Our compressed message through the peer's decoder; its plain bytes back.
  std::string Decode(const TBytes& aCompressed) { return Ask("D " + Compact(aCompressed)); }
  std::string Encode(const TBytes& aPlain) { return Ask("E " + Compact(aPlain)); }

  static std::string Compact(const TBytes& aBytes) {
    static const char* const kDigits = "0123456789abcdef";
    std::string hex;
    hex.reserve(aBytes.size() * 2);
    for (uint8_t b : aBytes) {
      hex += kDigits[b >> 4];
      hex += kDigits[b & 15];
    }
    return hex;
  }

 private:
  Process FProcess;
};

// Every message both ways: ours decoded by the peer, the peer's decoded by us.
void Exchange(Peer& aPeer, TbrzWSExtensions& aOurs) {
  for (const TBytes& plain : Messages()) {
    SCOPED_TRACE("message of " + std::to_string(plain.size()) + " bytes");
    TBytes wire = plain;
    aOurs.WriteStream(wire);
    uint8_t header = 0x82;
    aOurs.EncodeHeader(header);
    ASSERT_EQ(header, 0xC2);
    ASSERT_EQ(aPeer.Decode(wire), "P " + Peer::Compact(plain));

    const std::string reply = aPeer.Encode(plain);
    ASSERT_EQ(reply.rfind("C ", 0), 0u) << reply;
    TBytes received = Hex(reply.substr(2));
    aOurs.DecodeHeader(0xC2);
    aOurs.ReadStream(received);
    ASSERT_EQ(received, plain);
  }
}

std::string OfferValue(const TbrzWSExtensions& aClient) {
  std::vector<std::string> lines;
  aClient.WriteHeader(lines);
  return lines.empty() ? std::string() : lines.front().substr(std::string(kExtensionsHeader).size());
}

TEST(ExtensionsInterop, OurClientWithTheirServer) {
  struct Case {
    const char* Name;
    void (*Setup)(TbrzWSExtension_PerMessage_Deflate&);
    const char* ServerOptions;
    const char* Answer;
  };
  const std::vector<Case> cases = {
      {"defaults", [](TbrzWSExtension_PerMessage_Deflate&) {}, "{}", "ANSWER permessage-deflate"},
      {"server limits our window to 10", [](TbrzWSExtension_PerMessage_Deflate&) {},
       R"({"client_max_window_bits": 10})", "ANSWER permessage-deflate; client_max_window_bits=10"},
      {"server limits our window to 8", [](TbrzWSExtension_PerMessage_Deflate&) {},
       R"({"client_max_window_bits": 8})", "ANSWER permessage-deflate; client_max_window_bits=8"},
      {"we ask for no context takeover both ways",
       [](TbrzWSExtension_PerMessage_Deflate& p) {
         p.SetClientNoContextTakeOver(true);
         p.SetServerNoContextTakeOver(true);
       },
       "{}", "ANSWER permessage-deflate; server_no_context_takeover; client_no_context_takeover"},
      {"server drops its context", [](TbrzWSExtension_PerMessage_Deflate&) {},
       R"({"server_no_context_takeover": true})", "ANSWER permessage-deflate; server_no_context_takeover"},
      {"we limit both windows",
       [](TbrzWSExtension_PerMessage_Deflate& p) {
         p.SetClientMaxWindowBits(10);
         p.SetServerMaxWindowBits(11);
       },
       "{}", "ANSWER permessage-deflate; server_max_window_bits=11; client_max_window_bits=10"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TbrzWSExtensions client;
    client.SetMode(Mode::appClient);
    client.PerMessage_Deflate().SetEnabled(true);
    c.Setup(client.PerMessage_Deflate());
    Peer server("server", c.ServerOptions);
    const std::string answer = server.Ask("OFFER " + OfferValue(client));
    ASSERT_EQ(answer, c.Answer);
    client.DecodeExtensions(answer.substr(std::string("ANSWER ").size()));
    ASSERT_TRUE(client.ExtensionNegotiated());
    Exchange(server, client);
  }
}

TEST(ExtensionsInterop, TheirClientWithOurServer) {
  struct Case {
    const char* ClientOptions;
    const char* OurAnswer;
  };
  const std::vector<Case> cases = {
      {"{}", "permessage-deflate;client_max_window_bits=15"},
      {R"({"client_max_window_bits": 10, "server_max_window_bits": 10})",
       "permessage-deflate;server_max_window_bits=10;client_max_window_bits=10"},
      {R"({"client_no_context_takeover": true, "server_no_context_takeover": true})",
       "permessage-deflate;server_no_context_takeover;client_no_context_takeover;client_max_window_bits=15"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ClientOptions);
    Peer client("client", c.ClientOptions);
    const std::string offer = client.Reply();
    ASSERT_EQ(offer.rfind("OFFER ", 0), 0u) << offer;
    TbrzWSExtensions server;
    server.SetMode(Mode::appServer);
    server.PerMessage_Deflate().SetEnabled(true);
    server.DecodeExtensions(offer.substr(std::string("OFFER ").size()));
    std::vector<std::string> lines;
    server.WriteHeader(lines);
    ASSERT_EQ(lines, std::vector<std::string>{kExtensionsHeader + std::string(c.OurAnswer)});
    ASSERT_EQ(client.Ask("ANSWER " + std::string(c.OurAnswer)), "OK");
    Exchange(client, server);
  }
}

TEST(ExtensionsInterop, DeflateFrameWithContinuousStreams) {
  for (int bits : {15, 10}) {
    SCOPED_TRACE(bits);
    TbrzWSExtensions client;
    client.SetMode(Mode::appClient);
    client.DeflateFrame().SetEnabled(true);
    client.DeflateFrame().SetWindowBits(bits);
    client.DecodeExtensions("x-webkit-deflate-frame");
    Peer peer("deflate-frame", "{\"window_bits\": " + std::to_string(bits) + "}");
    Exchange(peer, client);
  }
}

}  // namespace
}  // namespace brz::test
