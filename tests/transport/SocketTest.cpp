// The socket adapter over real loopback sockets.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/support/ScriptedPeer.h"
#include "transport/TbrzSocket.h"
#include "transport/TbrzSocketErrors.h"
#include "transport/TransportMessages.h"

namespace brz {
namespace {

using namespace std::chrono_literals;
using test::Hex;
using test::ScriptedPeer;
using test::ToBytes;

// Pulls input until count bytes are buffered (bounded).
bool WaitBuffered(TbrzSocket& s, size_t count) {
  for (int i = 0; i < 300 && s.BufferedCount() < count; ++i) s.WaitForData(10);
  return s.BufferedCount() >= count;
}

TEST(SocketAdapter, WriteBatchSendsOnceFlushedAndInputIsBuffered) {
  ScriptedPeer peer;
  TbrzSocket s;
  s.Host = "127.0.0.1";
  s.Port = peer.Port();
  int connected = 0;
  s.OnConnected = [&] { ++connected; };
  s.Connect();
  ASSERT_TRUE(peer.Accept());
  EXPECT_EQ(connected, 1);
  EXPECT_TRUE(s.Connected());
  EXPECT_EQ(s.PeerIP(), "127.0.0.1");
  EXPECT_EQ(s.PeerPort(), peer.Port());
  EXPECT_EQ(s.Family(), TwsIPVersion::ipV4);

  s.BeginWriteBatch();
  s.WriteBytes(ToBytes("ab"));
  s.WriteBytes(ToBytes("c"));
  EXPECT_TRUE(peer.ReceiveFor(50ms).empty());  // nothing leaves before the flush
  s.FlushWriteBatch();
  s.EndWriteBatch();
  EXPECT_EQ(peer.Receive(3), Hex("61 62 63"));

  peer.Send(Hex("01 02 03 04"));
  ASSERT_TRUE(WaitBuffered(s, 4));
  EXPECT_EQ(s.ReadBuffered(3), Hex("01 02 03"));
  EXPECT_EQ(s.BufferedCount(), 1u);
  s.ClearBuffered();
  EXPECT_EQ(s.BufferedCount(), 0u);
  EXPECT_FALSE(s.WaitForData(20));
}

TEST(SocketAdapter, PeerCloseIsSilentAfterTheLastBytesAndAnnouncedOnce) {
  ScriptedPeer peer;
  TbrzSocket s;
  s.Host = "127.0.0.1";
  s.Port = peer.Port();
  int disconnected = 0;
  s.OnStatus = [&](TbrzSocketStatus st) { disconnected += st == TbrzSocketStatus::ssDisconnected; };
  s.Connect();
  ASSERT_TRUE(peer.Accept());
  peer.Send(Hex("AA"));
  peer.CloseClient();
  ASSERT_TRUE(WaitBuffered(s, 1));
  for (int i = 0; i < 20; ++i) s.WaitForData(10);
  // Bytes still buffered: not yet an end.
  EXPECT_NO_THROW(s.CheckForDisconnect());
  EXPECT_EQ(s.ReadBuffered(1), Hex("AA"));
  try {
    s.CheckForDisconnect();
    FAIL() << "no closed error";
  } catch (const EConnClosedGracefully& e) {
    EXPECT_TRUE(IsSilentSocketError(e));
    EXPECT_STREQ(e.what(), msg::kConnClosedGracefully);
  }
  EXPECT_FALSE(s.Connected());
  EXPECT_THROW(s.CheckForDisconnect(), ESocketClosed);
  s.Disconnect();
  EXPECT_EQ(disconnected, 1);
}

TEST(SocketAdapter, ConnectFailuresRaiseDistinctErrors) {
  ScriptedPeer closed;
  int port = closed.Port();
  closed.StopListening();
  test::BlackHolePeer hole;

  struct Case {
    std::string host;
    int port;
    int timeout;
    const char* kind;
  } cases[] = {
      {"127.0.0.1", port, 0, "ESocketError"},
      {"no-such-host.invalid", 80, 0, "EHostNotFound"},
      {"127.0.0.1", hole.Port(), 200, "EConnectTimeout"},
      {"", 80, 0, "ESocketError"},
      {"127.0.0.1", 0, 0, "ESocketError"},
  };
  for (const Case& c : cases) {
    TbrzSocket s;
    s.Host = c.host;
    s.Port = c.port;
    s.ConnectTimeout = c.timeout;
    int disconnected = 0;
    s.OnStatus = [&](TbrzSocketStatus) { ++disconnected; };
    try {
      s.Connect();
      ADD_FAILURE() << c.host << ":" << c.port << " connected";
    } catch (const ESocketError& e) {
      EXPECT_EQ(e.ClassName(), c.kind) << c.host << ":" << c.port << " " << e.what();
      EXPECT_FALSE(IsSilentSocketError(e));
    }
    EXPECT_FALSE(s.Connected());
    s.Disconnect();
    EXPECT_EQ(disconnected, 0) << "a socket that never stood is not announced";
  }
}

TEST(SocketAdapter, IPv6AndBoundPortRange) {
  ScriptedPeer peer(true);
  TbrzSocket s;
  s.Host = "::1";
  s.Port = peer.Port();
  s.IPVersion = TwsIPVersion::ipV6;
  int low = test::FreeTcpPort();
  s.BoundPortMin = low;
  s.BoundPortMax = low + 20;
  s.Connect();
  ASSERT_TRUE(peer.Accept());
  EXPECT_EQ(s.Family(), TwsIPVersion::ipV6);
  EXPECT_EQ(s.LocalIP(), "::1");
  EXPECT_GE(s.LocalPort(), low);
  EXPECT_LE(s.LocalPort(), low + 20);
  s.SetSendTimeout(500);
  s.SetKeepAlive(true, 7200000, 1000);
  s.WriteBytes(Hex("C3 A9"));
  EXPECT_EQ(peer.Receive(2), Hex("C3 A9"));
}

TEST(SocketAdapter, CloseFromAnotherThreadWakesTheReader) {
  ScriptedPeer peer;
  TbrzSocket s;
  s.Host = "127.0.0.1";
  s.Port = peer.Port();
  s.Connect();
  ASSERT_TRUE(peer.Accept());
  std::thread reader([&] {
    for (int i = 0; i < 1000 && s.Connected(); ++i) s.WaitForData(10);
  });
  std::this_thread::sleep_for(30ms);
  s.Disconnect();
  reader.join();
  EXPECT_FALSE(s.Connected());
  EXPECT_TRUE(peer.WaitClientClosed());
  EXPECT_THROW(s.WriteBytes(Hex("01")), ESocketClosed);
}

}  // namespace
}  // namespace brz
