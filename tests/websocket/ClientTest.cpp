// The client component over raw TCP against a scripted loopback peer.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ScriptedPeer.h"
#include "transport/TbrzSocketErrors.h"
#include "transport/TransportMessages.h"
#include "websocket/TbrzWSClient.h"

namespace brz {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::Hex;
using test::ScriptedPeer;
using test::ToBytes;

// Records the client's events in order; handlers run on the read or caller thread. Declared
// before the client, so the client (and its read thread) is gone before the log is.
class EventLog {
 public:
  void Attach(TbrzWSClient& client) {
    client.OnConnect = [this](const TbrzConnectionPtr& c) { Add("connect", c != nullptr); };
    client.OnDisconnect = [this](const TbrzConnectionPtr& c, int32_t code) {
      Add("disconnect " + std::to_string(code), c != nullptr);
    };
    client.OnMessage = [this](const TbrzConnectionPtr&, const std::string& t) { Add("message " + t, true); };
    client.OnBinary = [this](const TbrzConnectionPtr&, TbrzMemoryStream& d) {
      std::lock_guard<std::mutex> guard(FLock);
      FBinary.push_back(d.ToBytes());
      FEvents.push_back("binary");
      FChanged.notify_all();
    };
    client.OnError = [this](const TbrzConnectionPtr& c, const std::string& e) { Add("error " + e, c != nullptr); };
    client.OnException = [this](const TbrzConnectionPtr&, const Exception& e) {
      Add("exception " + e.ClassName() + ": " + e.Message(), true);
    };
  }
  // Waits until count events were seen (bounded).
  bool WaitFor(size_t count, std::chrono::milliseconds timeout = 5s) {
    std::unique_lock<std::mutex> guard(FLock);
    return FChanged.wait_for(guard, timeout, [&] { return FEvents.size() >= count; });
  }
  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> guard(FLock);
    return FEvents;
  }
  std::vector<Bytes> Binary() {
    std::lock_guard<std::mutex> guard(FLock);
    return FBinary;
  }
  Bytes AllBinary() {
    Bytes all;
    for (auto& b : Binary()) all.insert(all.end(), b.begin(), b.end());
    return all;
  }

 private:
  void Add(const std::string& e, bool withConnection) {
    std::lock_guard<std::mutex> guard(FLock);
    FEvents.push_back(withConnection ? e : e + " (none)");
    FChanged.notify_all();
  }
  std::mutex FLock;
  std::condition_variable FChanged;
  std::vector<std::string> FEvents;
  std::vector<Bytes> FBinary;
};

TEST(ClientURL, SchemesSetHostPortTLSAndTransport) {
  struct Case {
    const char* url;
    const char* host;
    int port;
    bool tls;
    bool rfc6455;
    const char* parameters;
  } cases[] = {
      {"tcp://broker:1883", "broker", 1883, false, false, "/"},
      {"tcp://broker", "broker", 80, false, false, "/"},
      {"tcps://broker", "broker", 443, true, false, "/"},
      {"ws://h/p?q=1", "h", 80, false, true, "/p?q=1"},
      {"ws://h:8080/chat?room=1", "h", 8080, false, true, "/chat?room=1"},
      {"wss://h", "h", 443, true, true, "/"},
      {"http://h:81", "h", 81, false, true, "/"},
      {"tcp://[::1]:1884", "::1", 1884, false, false, "/"},
  };
  for (const Case& c : cases) {
    TbrzWebSocketClient client;
    client.SetURL(c.url);
    EXPECT_EQ(client.Host(), c.host) << c.url;
    EXPECT_EQ(client.Port(), c.port) << c.url;
    EXPECT_EQ(client.TLS(), c.tls) << c.url;
    EXPECT_EQ(client.Specifications().RFC6455, c.rfc6455) << c.url;
    EXPECT_EQ(client.Options().Parameters(), c.parameters) << c.url;
  }
}

TEST(ClientURL, NonNumericPortIsReportedAndChangesNothing) {
  EventLog log;
  TbrzWebSocketClient client;
  log.Attach(client);
  client.SetURL("tcp://a:1883");
  client.SetURL("tcp://b:port");
  EXPECT_EQ(client.Host(), "a");
  EXPECT_EQ(client.Port(), 1883);
  ASSERT_EQ(log.Events().size(), 1u);
  EXPECT_EQ(log.Events()[0].rfind("exception EConvertError: ", 0), 0u) << log.Events()[0];
}

TEST(ClientRawTCP, ConnectWriteReceiveAndPeerClose) {
  ScriptedPeer peer;
  EventLog log;
  TbrzWebSocketClient client;
  log.Attach(client);
  client.SetURL(peer.Url("tcp"));
  ASSERT_TRUE(client.Connect(5000));
  ASSERT_TRUE(peer.Accept());
  EXPECT_TRUE(client.Active());
  EXPECT_TRUE(client.Connected());
  ASSERT_TRUE(log.WaitFor(1));
  EXPECT_EQ(log.Events()[0], "connect");

  // No HTTP request: the first bytes on the wire are the written text, UTF-8 only.
  client.WriteData("abc");
  EXPECT_EQ(peer.Receive(3), Hex("61 62 63"));
  client.WriteData("\xC3\xA9");
  EXPECT_EQ(peer.Receive(5), Hex("61 62 63 C3 A9"));
  EXPECT_EQ(peer.ReceiveFor(50ms).size(), 5u);

  peer.Send(Hex("01 02 03"));
  ASSERT_TRUE(log.WaitFor(2));
  EXPECT_EQ(log.Events()[1], "binary");
  EXPECT_EQ(log.AllBinary(), Hex("01 02 03"));

  auto connection = client.Connection();
  ASSERT_TRUE(connection);
  EXPECT_EQ(connection->GetGuid().size(), 32u);
  EXPECT_EQ(connection->GetGuid(), connection->GetGuid());
  EXPECT_EQ(connection->Transport(), TwsTransport::trpTCP);
  EXPECT_EQ(connection->SendBytes(), 5);

  // The peer closes: one disconnect, then the silent end reported because RaiseDisconnectExceptions.
  peer.CloseClient();
  ASSERT_TRUE(log.WaitFor(4));
  std::this_thread::sleep_for(100ms);
  const std::vector<std::string> events = log.Events();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[2], "disconnect 0");
  EXPECT_EQ(events[3], std::string("exception EConnClosedGracefully: ") + msg::kConnClosedGracefully);
  EXPECT_FALSE(client.Active());
  EXPECT_FALSE(client.Connected());
  // Address caches outlive the socket.
  EXPECT_EQ(connection->GetIP(), "127.0.0.1");
  EXPECT_EQ(connection->GetPort(), peer.Port());
  EXPECT_EQ(connection->RecBytes(), 3);
}

TEST(ClientRawTCP, PeerCloseWithoutDisconnectExceptionsRaisesOnlyTheDisconnect) {
  ScriptedPeer peer;
  EventLog log;
  TbrzWebSocketClient client;
  log.Attach(client);
  client.Options().RaiseDisconnectExceptions = false;
  client.SetURL(peer.Url("tcp"));
  ASSERT_TRUE(client.Connect(5000));
  ASSERT_TRUE(peer.Accept());
  peer.CloseClient();
  ASSERT_TRUE(log.WaitFor(2));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(log.Events(), (std::vector<std::string>{"connect", "disconnect 0"}));
}

TEST(ClientRawTCP, UserDisconnectAndReconnectServeANewSocket) {
  ScriptedPeer peer;
  EventLog log;
  TbrzWebSocketClient client;
  log.Attach(client);
  client.SetURL(peer.Url("tcp"));
  ASSERT_TRUE(client.Connect(5000));
  ASSERT_TRUE(peer.Accept());
  EXPECT_TRUE(client.Disconnect(5000));
  EXPECT_TRUE(peer.WaitClientClosed());
  EXPECT_FALSE(client.Active());
  // A user close is no error: no exception event follows.
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(log.Events(), (std::vector<std::string>{"connect", "disconnect 0"}));

  ASSERT_TRUE(client.Connect(5000));
  ASSERT_TRUE(peer.Accept());
  EXPECT_EQ(peer.AcceptedCount(), 2);
  peer.Send("x");
  ASSERT_TRUE(log.WaitFor(4));
  EXPECT_EQ(log.Events()[2], "connect");
  EXPECT_EQ(log.Events()[3], "binary");
  client.SetActive(false);
  ASSERT_TRUE(log.WaitFor(5));
  EXPECT_EQ(log.Events()[4], "disconnect 0");
}

TEST(ClientRawTCP, ConnectWithoutTimeoutReturnsFalseAtOnceAndIdleWritesDoNothing) {
  ScriptedPeer peer;
  EventLog log;
  TbrzWebSocketClient client;
  log.Attach(client);
  client.WriteData("ignored");
  TbrzMemoryStream stream(ToBytes("ignored"));
  client.WriteData(stream);
  client.Ping("ignored");
  EXPECT_FALSE(client.Ping(10, "x"));
  EXPECT_EQ(client.WriteAndWaitData("x", 10), "");
  EXPECT_TRUE(log.Events().empty());

  client.SetURL(peer.Url("tcp"));
  EXPECT_FALSE(client.Connect(0));
  // The connection was still made.
  ASSERT_TRUE(peer.Accept());
  EXPECT_TRUE(client.Active());
  EXPECT_TRUE(peer.ReceiveFor(50ms).empty());
}

TEST(ClientRawTCP, ActivationFailuresGiveOneExceptionEach) {
  ScriptedPeer closed;
  const int refusedPort = closed.Port();
  closed.StopListening();
  test::BlackHolePeer hole;
  struct Case {
    std::string url;
    int connectTimeout;
    const char* kind;
  } cases[] = {
      {"tcp://127.0.0.1:" + std::to_string(refusedPort), 0, "ESocketError"},
      {"tcp://no-such-host.invalid:1883", 0, "EHostNotFound"},
      {"tcp://127.0.0.1:" + std::to_string(hole.Port()), 200, "EConnectTimeout"},
      {"tcps://127.0.0.1:1", 0, "ESocketError"},
  };
  for (const Case& c : cases) {
    EventLog log;
    TbrzWebSocketClient client;
    log.Attach(client);
    client.SetURL(c.url);
    client.SetConnectTimeout(c.connectTimeout);
    EXPECT_FALSE(client.Connect(1000)) << c.url;
    EXPECT_FALSE(client.Active()) << c.url;
    const auto events = log.Events();
    ASSERT_EQ(events.size(), 1u) << c.url;
    EXPECT_EQ(events[0].rfind(std::string("exception ") + c.kind + ": ", 0), 0u) << events[0];
  }
}

TEST(ClientRawTCP, HandlerFailureBecomesErrorAndDropsTheConnection) {
  ScriptedPeer peer;
  EventLog log;
  TbrzWebSocketClient client;
  log.Attach(client);
  client.OnBinary = [](const TbrzConnectionPtr&, TbrzMemoryStream&) { throw Exception("handler broke"); };
  client.SetURL(peer.Url("tcp"));
  ASSERT_TRUE(client.Connect(5000));
  ASSERT_TRUE(peer.Accept());
  peer.Send("z");
  ASSERT_TRUE(log.WaitFor(3));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(log.Events(), (std::vector<std::string>{"connect", "error handler broke", "disconnect 0"}));
  EXPECT_TRUE(peer.WaitClientClosed());
}

TEST(ClientRawTCP, WsSchemeSendsTheHandshakeAndWaitsForTheAnswer) {
  ScriptedPeer peer;
  EventLog log;
  TbrzWebSocketClient client;
  log.Attach(client);
  client.SetURL(peer.Url("ws"));
  // Not enabled until the server answers, which this peer never does.
  EXPECT_FALSE(client.Connect(500));
  ASSERT_TRUE(peer.Accept());
  const std::string request = test::ToText(peer.Receive(16));
  EXPECT_EQ(request.rfind("GET / HTTP/1.1\r\n", 0), 0u) << request;
  EXPECT_TRUE(client.Active());
  EXPECT_TRUE(log.Events().empty());
}

// The three end-of-message scan modes; each peer write is separated so it arrives as its own read.
TEST(ClientRawTCP, EndOfFrameScanModesCutMessagesAsConfigured) {
  struct Case {
    const char* name;
    TtcpEOFScanBuffer mode;
    Bytes marker;
    std::vector<Bytes> writes;
    std::vector<Bytes> expected;
  } cases[] = {
      {"latest bytes CR LF", TtcpEOFScanBuffer::eofScanLatestBytes, Hex("0D 0A"),
       {ToBytes("abc"), Hex("64 65 66 0D 0A")}, {Hex("61 62 63 64 65 66 0D 0A")}},
      {"latest bytes split marker", TtcpEOFScanBuffer::eofScanLatestBytes, Hex("0D 0A"),
       {Hex("61 62 63 0D"), Hex("0A"), Hex("78 0D 0A")}, {Hex("61 62 63 0D 0A 78 0D 0A")}},
      {"all bytes bar", TtcpEOFScanBuffer::eofScanAllBytes, Hex("7C"), {ToBytes("a|bb|c")},
       {ToBytes("a|"), ToBytes("bb|")}},
      {"all bytes rest completes", TtcpEOFScanBuffer::eofScanAllBytes, Hex("7C"), {ToBytes("a|bb|c"), ToBytes("d|")},
       {ToBytes("a|"), ToBytes("bb|"), ToBytes("cd|")}},
      {"none, one write in two pieces", TtcpEOFScanBuffer::eofScanNone, {}, {ToBytes("ab"), ToBytes("cd")},
       {ToBytes("ab"), ToBytes("cd")}},
  };
  for (Case& c : cases) {
    ScriptedPeer peer;
    EventLog log;
    TbrzWebSocketClient client;
    log.Attach(client);
    client.OnConnect = [&](const TbrzConnectionPtr& conn) {
      conn->SetTCPEndOfFrameScanBuffer(c.mode);
      for (uint8_t b : c.marker) conn->AddTCPEndOfFrame(b);
    };
    client.SetURL(peer.Url("tcp"));
    ASSERT_TRUE(client.Connect(5000)) << c.name;
    ASSERT_TRUE(peer.Accept());
    size_t sent = 0;
    for (const Bytes& w : c.writes) {
      peer.Send(w);
      sent += w.size();
      // Waits until the client has consumed the write, so the next one is a separate read.
      for (int i = 0; i < 200 && client.Connection()->RecBytes() < static_cast<int64_t>(sent); ++i)
        std::this_thread::sleep_for(5ms);
      std::this_thread::sleep_for(30ms);
    }
    log.WaitFor(c.expected.size(), 2s);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(log.Binary(), c.expected) << c.name;
  }
}

TEST(ClientRawTCP, ThreeWritesArrivingTogetherAreOneDelivery) {
  ScriptedPeer peer;
  TbrzWebSocketClient client;
  std::mutex lock;
  std::vector<Bytes> got;
  std::atomic<bool> release{false};
  client.OnBinary = [&](const TbrzConnectionPtr&, TbrzMemoryStream& d) {
    // Holding the first delivery lets the next three writes pile up in the socket.
    for (int i = 0; i < 500 && !release.load(); ++i) std::this_thread::sleep_for(2ms);
    std::lock_guard<std::mutex> guard(lock);
    got.push_back(d.ToBytes());
  };
  client.SetURL(peer.Url("tcp"));
  ASSERT_TRUE(client.Connect(5000));
  ASSERT_TRUE(peer.Accept());
  peer.Send("0");
  std::this_thread::sleep_for(50ms);
  peer.Send("1");
  peer.Send("2");
  peer.Send("3");
  std::this_thread::sleep_for(50ms);
  release = true;
  for (int i = 0; i < 200; ++i) {
    {
      std::lock_guard<std::mutex> guard(lock);
      if (got.size() >= 2) break;
    }
    std::this_thread::sleep_for(5ms);
  }
  std::lock_guard<std::mutex> guard(lock);
  EXPECT_EQ(got, (std::vector<Bytes>{ToBytes("0"), ToBytes("123")}));
}

TEST(ClientRawTCP, StartAndStopRunOnTheirOwnThread) {
  ScriptedPeer peer;
  EventLog log;
  TbrzWebSocketClient client;
  log.Attach(client);
  client.SetURL(peer.Url("tcp"));
  client.Start();
  ASSERT_TRUE(peer.Accept());
  ASSERT_TRUE(log.WaitFor(1));
  client.Stop();
  ASSERT_TRUE(log.WaitFor(2));
  EXPECT_EQ(log.Events(), (std::vector<std::string>{"connect", "disconnect 0"}));
}

TEST(ClientRawTCP, ConcurrentWritersNeverInterleaveBytes) {
  ScriptedPeer peer;
  TbrzWebSocketClient client;
  client.SetURL(peer.Url("tcp"));
  ASSERT_TRUE(client.Connect(5000));
  ASSERT_TRUE(peer.Accept());
  const std::string a(1000, 'a'), b(1000, 'b');
  std::thread t1([&] {
    for (int i = 0; i < 50; ++i) client.WriteData(a);
  });
  std::thread t2([&] {
    for (int i = 0; i < 50; ++i) client.WriteData(b);
  });
  t1.join();
  t2.join();
  Bytes all = peer.Receive(100000);
  ASSERT_EQ(all.size(), 100000u);
  for (size_t i = 0; i < all.size(); i += 1000)
    for (size_t j = 1; j < 1000; ++j) ASSERT_EQ(all[i + j], all[i]) << "message at " << i << " torn";
}

}  // namespace
}  // namespace brz
