// The server component over loopback: listening, acceptance limits, broadcasts, lookups,
// deferred activation and the heartbeat.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "server/ServerMessages.h"
#include "tests/server/ServerTestSupport.h"
#include "tests/support/TestSupport.h"
#include "transport/TbrzSocketErrors.h"

namespace brz {
namespace {

using test::RawPeer;
using test::RecordingServer;

// Raw operators, connected and enabled, with their GUIDs in connection order.
struct Operators {
  std::vector<std::unique_ptr<RawPeer>> Peers;
  std::vector<std::string> Guids;
};

Operators ConnectRaw(RecordingServer& server, int count) {
  Operators ops;
  std::mutex lock;
  server.Server().OnConnect = [&](const TbrzConnectionPtr& c) {
    std::lock_guard<std::mutex> g(lock);
    ops.Guids.push_back(c->GetGuid());
  };
  for (int i = 0; i < count; ++i) {
    ops.Peers.push_back(std::make_unique<RawPeer>(server.Port()));
    ops.Peers.back()->Send("hello");
    server.WaitFor([&] {
      std::lock_guard<std::mutex> g(lock);
      return ops.Guids.size() == static_cast<size_t>(i + 1);
    });
  }
  server.Server().OnConnect = nullptr;
  return ops;
}

bool CanBind(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

TEST(ServerListening, ImplicitBindingsCoverIPv4AndIPv6OnPort) {
  TbrzWebSocketHTTPServer server;
  const int port = test::FreeTcpPort();
  server.SetPort(port);
  server.SetActive(true);
  auto addresses = server.ListeningAddresses();
  ASSERT_GE(addresses.size(), 1u);
  EXPECT_EQ(addresses[0], "0.0.0.0:" + std::to_string(port));
  if (addresses.size() > 1) {
    EXPECT_EQ(addresses[1], ":::" + std::to_string(port));
  }
  EXPECT_TRUE(test::WaitForListening("127.0.0.1", port, std::chrono::seconds(5)));
  server.SetActive(false);
  EXPECT_FALSE(server.Active());
  EXPECT_TRUE(CanBind(port));
}

TEST(ServerListening, AFailingBindingFailsActiveAndClosesWhatWasOpened) {
  const int taken = test::FreeTcpPort();
  TbrzWebSocketHTTPServer first;
  first.AddBinding("127.0.0.1", taken);
  first.SetActive(true);

  const int free = test::FreeTcpPort();
  TbrzWebSocketHTTPServer second;
  second.AddBinding("127.0.0.1", free);
  second.AddBinding("127.0.0.1", taken);
  try {
    second.SetActive(true);
    FAIL() << "bound a port in use";
  } catch (const ESocketError& e) {
    EXPECT_EQ(std::string(e.what()), "Could not bind socket to 127.0.0.1:" + std::to_string(taken) +
                                         ": Address already in use");
  }
  EXPECT_FALSE(second.Active());
  EXPECT_TRUE(CanBind(free));

  TbrzWebSocketHTTPServer bad;
  bad.AddBinding("not-an-address", 1234);
  EXPECT_THROW(bad.SetActive(true), ESocketError);
}

TEST(ServerAccepting, MaxConnectionsClosesTheExtraSocketWithoutEvents) {
  RecordingServer server(true, false);
  server.Server().SetMaxConnections(1);
  server.Start();
  RawPeer first(server.Port());
  ASSERT_TRUE(server.WaitFor([&] { return server.TCPConnects() == 1; }));
  RawPeer second(server.Port());
  EXPECT_TRUE(second.Closed());
  EXPECT_EQ(server.TCPConnects(), 1);
  first.Send("still here");
  EXPECT_TRUE(server.WaitFor([&] { return server.Binaries().size() == 1; }));
}

TEST(ServerAccepting, RejectedConnectionFailsWithItsText) {
  RecordingServer server(true, false);
  server.Server().OnTCPConnect = [](const TbrzConnectionPtr&, bool& accept) { accept = false; };
  server.Start();
  RawPeer peer(server.Port());
  EXPECT_TRUE(peer.Closed());
  EXPECT_TRUE(server.WaitFor([&] { return server.Errors().size() == 1; }));
  EXPECT_EQ(server.Errors(), std::vector<std::string>{msg::kConnectionRejected});
}

TEST(ServerBroadcast, ExcludeIncludeAndProtocolSelectTheReceivers) {
  RecordingServer server;
  Operators ops = ConnectRaw(server, 3);
  ASSERT_EQ(ops.Guids.size(), 3u);
  auto& s = server.Server();
  s.Broadcast("A", "", "", ops.Guids[1]);
  s.Broadcast("B", "", "", "", ops.Guids[2]);
  s.Broadcast("C", "", "mqtt");  // nobody negotiated it
  s.Broadcast("D");
  EXPECT_EQ(ops.Peers[0]->Read(2), "AD");
  EXPECT_EQ(ops.Peers[1]->Read(1), "D");
  EXPECT_EQ(ops.Peers[2]->Read(3), "ABD");

  EXPECT_TRUE(s.WriteData(ops.Guids[1], "only"));
  EXPECT_EQ(ops.Peers[1]->Read(4), "only");
  EXPECT_FALSE(s.WriteData("00000000000000000000000000000000", "nobody"));
  EXPECT_EQ(GetGuid(s.GetConnectionByGuid(ops.Guids[2])), ops.Guids[2]);
  EXPECT_EQ(s.Count(), 3);
}

TEST(ServerBroadcast, ChannelsReachOnlyTheirSubscribers) {
  RecordingServer server;
  Operators ops = ConnectRaw(server, 2);
  auto c = std::dynamic_pointer_cast<TbrzWSConnectionServer>(server.Server().GetConnectionByGuid(ops.Guids[0]));
  ASSERT_TRUE(c);
  c->Subscribe("news");
  server.Server().Broadcast("N", "news");
  server.Server().Optimizations().Channels.Enabled = false;
  server.Server().Broadcast("M", "sport,news");
  server.Server().Broadcast("X");
  EXPECT_EQ(ops.Peers[0]->Read(3), "NMX");
  EXPECT_EQ(ops.Peers[1]->Read(1), "X");
}

TEST(ServerBroadcast, DisconnectAllEndsEveryOperatorWithItsEvent) {
  RecordingServer server;
  Operators ops = ConnectRaw(server, 3);
  server.Server().DisconnectAll();
  for (auto& peer : ops.Peers) EXPECT_TRUE(peer->Closed());
  EXPECT_TRUE(server.WaitFor([&] { return server.Disconnects() == 3 && server.Server().Count() == 0; }));
  // Released objects wait for the release timer.
  EXPECT_EQ(server.Server().ReleaseListCount(), 3u);
}

TEST(ServerBroadcast, AStalledOperatorIsDroppedAfterTheSendTimeOutAndOthersGoOn) {
  RecordingServer server(true, false);
  server.Server().Options().WriteTimeOut = 300;
  server.Start();
  Operators ops = ConnectRaw(server, 2);
  const int rcv = 4096;
  ::setsockopt(ops.Peers[0]->Fd(), SOL_SOCKET, SO_RCVBUF, &rcv, sizeof rcv);
  const std::string line(64 * 1024, 'x');
  std::atomic<bool> done{false};
  std::atomic<size_t> received{0};
  std::thread reader([&] {
    while (!done.load()) received += ops.Peers[1]->Read(line.size(), std::chrono::milliseconds(50)).size();
  });
  // Peer 0 never reads: its buffers fill, a send times out and it is dropped.
  for (int i = 0; i < 200 && server.Exceptions().empty(); ++i) server.Server().Broadcast(line);
  done = true;
  reader.join();
  EXPECT_FALSE(server.Exceptions().empty());
  EXPECT_TRUE(server.WaitFor([&] { return server.Server().Count() == 1; }));
  EXPECT_GT(received.load(), 0u);
}

TEST(ServerActivation, ReStartStopsWaitsAndStartsAgain) {
  RecordingServer server;
  std::atomic<int> startups{0}, shutdowns{0};
  server.Server().OnStartup = [&] { ++startups; };
  server.Server().OnShutdown = [&] { ++shutdowns; };
  server.Server().ReStart();
  EXPECT_TRUE(server.WaitFor([&] { return startups.load() == 1; }));
  EXPECT_EQ(shutdowns.load(), 1);
  EXPECT_TRUE(server.Server().Active());
  RawPeer peer(server.Port());
  peer.Send("after restart");
  EXPECT_TRUE(server.WaitFor([&] { return server.Binaries().size() == 1; }));

  server.Server().Stop();
  EXPECT_TRUE(server.WaitFor([&] { return !server.Server().Active(); }));
  EXPECT_TRUE(peer.Closed());
  server.Server().Start();
  EXPECT_TRUE(server.WaitFor([&] { return server.Server().Active(); }));
}

TEST(ServerHeartBeat, PingsWebSocketOperatorsAndDropsSilentOnes) {
  RecordingServer server(true, false);
  server.Server().HeartBeat().Enabled = true;
  server.Server().HeartBeat().Interval = 1;
  server.Server().HeartBeat().Timeout = 1;
  server.Start();
  auto ws = test::WebSocketPeer(server.Port());
  RawPeer raw(server.Port());
  raw.Send("x");
  // A ping frame (unmasked, payload = 17-digit time stamp), never answered.
  std::string ping = ws->Read(2, std::chrono::seconds(5));
  EXPECT_EQ(test::ToHex(test::ToBytes(ping)), "89 11");
  EXPECT_TRUE(ws->Closed(std::chrono::seconds(8)));
  EXPECT_TRUE(server.WaitFor([&] { return !server.Exceptions().empty(); }));
  EXPECT_EQ(server.Exceptions().front(), msg::kHeartBeatTimeout);
  // Raw operators get the ping text as bytes and are not timed out.
  EXPECT_EQ(raw.Read(17).size(), 17u);
  EXPECT_TRUE(server.WaitFor([&] { return server.Server().Count() == 1; }));
}

}  // namespace
}  // namespace brz
