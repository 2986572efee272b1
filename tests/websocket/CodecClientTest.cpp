// The client's opening handshake and frame codec over loopback against a scripted WebSocket peer.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include <algorithm>

#include "tests/support/FakeWSPeer.h"
#include "websocket/TbrzWSClient.h"
#include "websocket/TbrzWSConnectionRFC6455.h"
#include "websocket/TbrzWSFrameMessages.h"

namespace brz {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::FakeWSPeer;
using test::Hex;
using test::ToBytes;
using test::ToHex;

// A client whose connections speak the handshake and frames. With sub-protocols set, the component
// hands connection events to attached protocol objects (none here), so those tests watch the
// connection instead of events.
class WSClient : public TbrzWebSocketClient {
 public:
  // Threads stop before this most-derived part goes.
  ~WSClient() override { Shutdown(); }
  std::string Protocols;
  TbrzWSQueueOptions Queues;
  std::shared_ptr<TbrzWSConnectionClientRFC6455> WSConnection() const {
    return std::dynamic_pointer_cast<TbrzWSConnectionClientRFC6455>(Connection());
  }

 protected:
  std::string SubProtocols() const override { return Protocols; }
  std::shared_ptr<TbrzWSConnectionClient> CreateConnection() override {
    auto c = std::make_shared<TbrzWSConnectionClientRFC6455>();
    c->SetQueueOptions(Queues);
    return c;
  }
  bool HasOutboundQueues() const override { return Queues.Any(); }
  void FlushOutboundQueues(const std::shared_ptr<TbrzWSConnectionClient>& c) override {
    if (auto ws = std::dynamic_pointer_cast<TbrzWSConnectionClientRFC6455>(c)) ws->FlushQueues();
  }
};

// The client's events in order, as text. Declared before the client, so the client (and its read
// thread) is gone before the list is.
class Events {
 public:
  void Attach(TbrzWSClient& client) {
    client.OnConnect = [this](const TbrzConnectionPtr&) { Add("connect"); };
    client.OnDisconnect = [this](const TbrzConnectionPtr&, int32_t code) { Add("disconnect " + std::to_string(code)); };
    client.OnMessage = [this](const TbrzConnectionPtr&, const std::string& t) { Add("message " + t); };
    client.OnBinary = [this](const TbrzConnectionPtr&, TbrzMemoryStream& d) { Add("binary " + ToHex(d.ToBytes())); };
    client.OnFragmented = [this](const TbrzConnectionPtr&, TbrzMemoryStream& d, TOpcode, bool more) {
      Add(std::string("fragment ") + (more ? "more " : "") + d.ToString());
    };
    client.OnError = [this](const TbrzConnectionPtr&, const std::string& e) { Add("error " + e); };
    client.OnException = [this](const TbrzConnectionPtr&, const Exception& e) { Add("exception " + e.Message()); };
  }
  bool WaitFor(size_t count, std::chrono::milliseconds timeout = 5s) {
    std::unique_lock<std::mutex> guard(FLock);
    return FChanged.wait_for(guard, timeout, [&] { return FList.size() >= count; });
  }
  std::vector<std::string> List() {
    std::lock_guard<std::mutex> guard(FLock);
    return FList;
  }

 private:
  void Add(const std::string& e) {
    std::lock_guard<std::mutex> guard(FLock);
    FList.push_back(e);
    FChanged.notify_all();
  }
  std::mutex FLock;
  std::condition_variable FChanged;
  std::vector<std::string> FList;
};

using List = std::vector<std::string>;

// Client connected to the peer with the handshake request read (not yet answered).
struct Session {
  FakeWSPeer peer;
  Events events;
  WSClient client;
  explicit Session(const std::string& path = "", const std::string& protocols = "") {
    events.Attach(client);
    client.Protocols = protocols;
    client.SetURL(peer.Url(path));
    client.Connect(0);
    EXPECT_TRUE(peer.Accept());
    EXPECT_FALSE(peer.ReadRequest().empty());
  }
  ~Session() { client.Disconnect(5000); }
  // Answers and waits for OnConnect.
  void Open() {
    peer.Answer("");
    ASSERT_TRUE(events.WaitFor(1));
    ASSERT_EQ(events.List()[0], "connect");
  }
};

TEST(WSClientHandshake, RequestOnTheWire) {
  Session s("/chat?room=1", "mqtt");
  std::vector<std::string> request = s.peer.ReadRequest();
  const std::string key = s.peer.Header("Sec-WebSocket-Key");
  EXPECT_EQ(key.size(), 24u);
  const std::string host = "127.0.0.1:" + std::to_string(s.peer.Port());
  EXPECT_EQ(request, (List{"GET /chat?room=1 HTTP/1.1", "Host: " + host, "Upgrade: websocket", "Connection: Upgrade",
                           "Sec-WebSocket-Key: " + key, "Origin: 127.0.0.1", "Sec-WebSocket-Protocol: mqtt",
                           "Sec-WebSocket-Version: 13"}));
  // Nothing is written before the answer: the connection is not enabled yet.
  EXPECT_TRUE(s.client.Active());
  s.client.WriteData("early");
  EXPECT_TRUE(s.peer.Raw().ReceiveFor(100ms).size() == s.peer.Raw().Received().size() && s.peer.Unread().empty());
}

bool WaitEnabled(WSClient& client) {
  for (int i = 0; i < 5000; ++i) {
    auto c = client.Connection();
    if (c && c->Enabled()) return true;
    std::this_thread::sleep_for(1ms);
  }
  return false;
}

TEST(WSClientHandshake, AcceptedAnswers) {
  struct Case {
    const char* name;
    std::string requested;
    std::vector<std::string> lines;  // after the status line; {accept} stands for the accept header
    Bytes after;
    std::string protocol;  // chosen sub-protocol
    List events;           // observed without sub-protocols only
  };
  const std::vector<Case> cases = {
      {"plain", "", {"Upgrade: websocket", "Connection: Upgrade", "{accept}"}, {}, "", {"connect"}},
      {"mqtt", "mqtt", {"Upgrade: websocket", "Connection: Upgrade", "{accept}", "Sec-WebSocket-Protocol: mqtt"}, {},
       "mqtt", {}},
      {"other letter cases", "mqtt",
       {"upgrade: WebSocket", "connection: upgrade", "{accept-lower}", "sec-websocket-protocol: MQTT"}, {}, "MQTT", {}},
      {"first frame right after the blank line", "", {"{accept}"}, Hex("81 03 61 62 63"), "", {"connect", "message abc"}},
  };
  for (const auto& c : cases) {
    Session s("", c.requested);
    std::string text = "HTTP/1.1 101 Switching Protocols\r\n";
    for (const auto& l : c.lines) {
      if (l == "{accept}") {
        text += "Sec-WebSocket-Accept: " + s.peer.AcceptValue() + "\r\n";
      } else if (l == "{accept-lower}") {
        text += "sec-websocket-accept: " + s.peer.AcceptValue() + "\r\n";
      } else {
        text += l + "\r\n";
      }
    }
    text += "\r\n";
    Bytes bytes = ToBytes(text);
    bytes.insert(bytes.end(), c.after.begin(), c.after.end());
    s.peer.Send(bytes);
    ASSERT_TRUE(WaitEnabled(s.client)) << c.name;
    EXPECT_EQ(s.client.Connection()->Protocol(), c.protocol) << c.name;
    if (!c.events.empty()) {
      ASSERT_TRUE(s.events.WaitFor(c.events.size())) << c.name;
      EXPECT_EQ(s.events.List(), c.events) << c.name;
    }
  }
}

TEST(WSClientHandshake, RejectedAnswers) {
  struct Case {
    const char* name;
    std::vector<std::string> lines;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"status", {"HTTP/1.1 403 Forbidden", "{accept}"},
       std::string(msg::kHandshakeSwitchingProtocols) + " [HTTP/1.1 403 Forbidden]"},
      {"upgrade", {"HTTP/1.1 101 Switching Protocols", "Upgrade: h2c", "{accept}"}, msg::kHandshakeUpgrade},
      {"connection", {"HTTP/1.1 101 Switching Protocols", "Connection: close", "{accept}"}, msg::kHandshakeUpgrade},
      {"accept missing", {"HTTP/1.1 101 Switching Protocols", "Sec-WebSocket-Protocol: mqtt"},
       msg::kHandshakeInvalidAcceptKey},
      {"accept without space", {"HTTP/1.1 101 Switching Protocols", "{accept-nospace}"}, msg::kHandshakeInvalidAcceptKey},
      {"sub-protocol never asked for", {"HTTP/1.1 101 Switching Protocols", "{accept}", "Sec-WebSocket-Protocol: chat"},
       "Protocol not supported chat."},
      {"302 without location", {"HTTP/1.1 302 Found"}, msg::kHandshakeInvalidAcceptKey},
  };
  for (const auto& c : cases) {
    Session s;
    std::vector<std::string> lines;
    for (const auto& l : c.lines) {
      if (l == "{accept}") {
        lines.push_back("Sec-WebSocket-Accept: " + s.peer.AcceptValue());
      } else if (l == "{accept-nospace}") {
        lines.push_back("Sec-WebSocket-Accept:" + s.peer.AcceptValue());
      } else {
        lines.push_back(l);
      }
    }
    s.peer.AnswerLines(lines);
    ASSERT_TRUE(s.events.WaitFor(2)) << c.name;
    EXPECT_EQ(s.events.List(), (List{"exception " + c.error, "disconnect 0"})) << c.name;
    // No close frame: the connection never spoke WebSocket.
    EXPECT_TRUE(s.peer.WaitClientClosed()) << c.name;
    EXPECT_TRUE(s.peer.Unread().empty()) << c.name;
  }
}

TEST(WSClientHandshake, RequestedSubProtocolMissingIsRefused) {
  Session s("", "mqtt");
  s.peer.Answer("");
  EXPECT_TRUE(s.peer.WaitClientClosed());
  auto c = s.client.Connection();
  EXPECT_FALSE(c && c->Enabled());
}

TEST(WSClientHandshake, RedirectReconnectsToTheLocation) {
  FakeWSPeer second;
  Session s;
  s.peer.AnswerLines({"HTTP/1.1 302 Found", "Location: " + second.Url("/moved?x=1")});
  ASSERT_TRUE(second.Accept(10s));
  std::vector<std::string> request = second.ReadRequest();
  ASSERT_FALSE(request.empty());
  EXPECT_EQ(request[0], "GET /moved?x=1 HTTP/1.1");
  second.Answer("");
  ASSERT_TRUE(s.events.WaitFor(2));
  // The first connection was never enabled: its end is reported, then the connect of the second.
  List got = s.events.List();
  EXPECT_EQ(got.back(), "connect");
  EXPECT_EQ(std::count(got.begin(), got.end(), "connect"), 1);
  EXPECT_TRUE(s.peer.WaitClientClosed());
}

TEST(WSClientFrames, TextOnTheWireAndBack) {
  Session s;
  s.Open();
  s.client.WriteData("abc");
  auto f = s.peer.ReadFrame();
  ASSERT_TRUE(f);
  EXPECT_TRUE(f->Masked);
  EXPECT_TRUE(f->Fin);
  EXPECT_EQ(f->OpCode, 1);
  EXPECT_EQ(f->Text(), "abc");
  // Five characters in fragments of two.
  s.client.WriteData("Hello", 2);
  List frames;
  for (int i = 0; i < 3; ++i) {
    auto g = s.peer.ReadFrame();
    ASSERT_TRUE(g);
    frames.push_back(std::to_string(g->OpCode) + (g->Fin ? "F " : " ") + g->Text());
  }
  EXPECT_EQ(frames, (List{"1 He", "0 ll", "0F o"}));
  TbrzMemoryStream data(Hex("01 02 03"));
  s.client.WriteData(data);
  auto b = s.peer.ReadFrame();
  ASSERT_TRUE(b);
  EXPECT_EQ(b->OpCode, 2);
  EXPECT_EQ(b->Payload, Hex("01 02 03"));
  s.peer.Send(FakeWSPeer::Frame(0x82, Hex("0A 0B")));
  ASSERT_TRUE(s.events.WaitFor(2));
  EXPECT_EQ(s.events.List()[1], "binary 0A 0B");
}

TEST(WSClientFrames, PingBetweenFragmentsIsAnsweredAtOnce) {
  Session s;
  s.Open();
  Bytes bytes = FakeWSPeer::Frame(0x01, ToBytes("He"));
  Bytes ping = FakeWSPeer::Frame(0x89, ToBytes("p1"));
  bytes.insert(bytes.end(), ping.begin(), ping.end());
  s.peer.Send(bytes);
  auto pong = s.peer.ReadFrame();
  ASSERT_TRUE(pong);
  EXPECT_EQ(pong->OpCode, 0xA);
  EXPECT_TRUE(pong->Masked);
  EXPECT_EQ(pong->Text(), "p1");
  s.peer.Send(FakeWSPeer::Frame(0x80, ToBytes("y")));
  ASSERT_TRUE(s.events.WaitFor(2));
  EXPECT_EQ(s.events.List(), (List{"connect", "message Hey"}));
}

TEST(WSClientFrames, PongsMatchPendingPings) {
  Session s;
  s.Open();
  // A pong nobody asked for is ignored.
  s.peer.Send(FakeWSPeer::Frame(0x8A, ToBytes("stray")));
  // The answer to a ping of the peer shows the stray pong was read.
  s.peer.Send(FakeWSPeer::Frame(0x89, ToBytes("sync")));
  auto sync = s.peer.ReadFrame();
  ASSERT_TRUE(sync);
  EXPECT_EQ(sync->Text(), "sync");
  s.client.Ping("p1");
  auto ping = s.peer.ReadFrame();
  ASSERT_TRUE(ping);
  EXPECT_EQ(ping->OpCode, 9);
  EXPECT_EQ(ping->Text(), "p1");
  s.peer.Send(FakeWSPeer::Frame(0x8A, ToBytes("p1")));
  auto c = s.client.Connection();
  ASSERT_TRUE(c);
  for (int i = 0; i < 2000 && c->Pong() != "p1"; ++i) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(c->Pong(), "p1");
  // A different text while a ping is pending ends the connection.
  s.client.Ping("p2");
  ASSERT_TRUE(s.peer.ReadFrame());
  s.peer.Send(FakeWSPeer::Frame(0x8A, ToBytes("other")));
  ASSERT_TRUE(s.events.WaitFor(3));
  EXPECT_EQ(s.events.List(), (List{"connect", std::string("exception ") + msg::kWSPongMismatch, "disconnect 0"}));
}

TEST(WSClientFrames, CloseAndViolationsFromThePeer) {
  struct Case {
    const char* name;
    Bytes bytes;
    List events;
    bool tooBig = false;  // answered with the close frame 1009
  };
  const std::vector<Case> cases = {
      {"close 1000", Hex("88 02 03 E8"), {"connect", "disconnect 1000"}},
      {"close 4000 with reason", Hex("88 04 0F A0 6F 6B"), {"connect", "disconnect 4000"}},
      {"close 1005", Hex("88 02 03 ED"), {"connect", std::string("exception ") + msg::kWSInvalidCloseCode, "disconnect 1005"}},
      {"reserved opcode", Hex("83 00"), {"connect", std::string("exception ") + msg::kWSInvalidOpCode, "disconnect 0"}},
      {"frame of 2^31 bytes", Hex("82 7F 00 00 00 00 80 00 00 00"),
       {"connect", std::string("exception ") + msg::kWSFrameTooLarge, "disconnect 0"}, true},
  };
  for (const auto& c : cases) {
    Session s;
    s.Open();
    s.peer.Send(c.bytes);
    ASSERT_TRUE(s.events.WaitFor(c.events.size())) << c.name;
    EXPECT_EQ(s.events.List(), c.events) << c.name;
    // Default options: the socket is dropped without a close frame, except that a peer sending more
    // than the client takes is told so (1009).
    EXPECT_TRUE(s.peer.WaitClientClosed()) << c.name;
    const Bytes unread = s.peer.Unread();
    if (!c.tooBig) {
      EXPECT_TRUE(unread.empty()) << c.name;
      continue;
    }
    ASSERT_EQ(unread.size(), 8u) << ToHex(unread);
    EXPECT_EQ(ToHex(Bytes(unread.begin(), unread.begin() + 2)), "88 82");
    EXPECT_EQ(ToHex(Bytes{static_cast<uint8_t>(unread[6] ^ unread[2]), static_cast<uint8_t>(unread[7] ^ unread[3])}),
              "03 F1");
  }
}

TEST(WSClientFrames, CleanDisconnectSendsTheCode) {
  // A violation with CleanDisconnect: close frame 1009 goes out before the socket closes.
  Session s;
  s.client.Options().CleanDisconnect = true;
  s.client.Disconnect(5000);
  s.client.Connect(0);
  ASSERT_TRUE(s.peer.Accept());
  ASSERT_FALSE(s.peer.ReadRequest().empty());
  s.peer.Answer("");
  ASSERT_TRUE(s.events.WaitFor(1));
  s.peer.Send(Hex("82 7F 00 00 00 01 00 00 00 00"));
  auto close = s.peer.ReadFrame();
  ASSERT_TRUE(close);
  EXPECT_EQ(close->OpCode, 8);
  EXPECT_EQ(close->Payload, Hex("03 F1"));
  EXPECT_TRUE(s.peer.WaitClientClosed());
}

TEST(WSClientFrames, ParkedWritesGoOutOnceEnabled) {
  FakeWSPeer peer;
  Events events;
  WSClient client;
  client.Queues.Text.Level = TwsQueueMsgLevels::qmLevel1;
  client.Queues.Binary.Level = TwsQueueMsgLevels::qmLevel0;
  events.Attach(client);
  client.SetURL(peer.Url());
  client.Connect(0);
  ASSERT_TRUE(peer.Accept());
  ASSERT_FALSE(peer.ReadRequest().empty());
  client.WriteData("parked text");
  TbrzMemoryStream data(Hex("05"));
  client.WriteData(data);
  peer.Answer("");
  auto first = peer.ReadFrame();
  auto second = peer.ReadFrame();
  ASSERT_TRUE(first && second);
  // Level 0 drains before level 1.
  EXPECT_EQ(first->OpCode, 2);
  EXPECT_EQ(second->Text(), "parked text");
  client.Disconnect(5000);
}

}  // namespace
}  // namespace brz
