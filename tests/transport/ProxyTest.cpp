// Proxy tunnels against real proxies on loopback.

#include <gtest/gtest.h>

#include <thread>

#include "tests/support/ProxyServers.h"
#include "tests/support/ScriptedPeer.h"
#include "transport/TbrzSocket.h"
#include "transport/TbrzSocketErrors.h"

namespace brz {
namespace {

using namespace std::chrono_literals;
using test::Hex;
using test::ProxyServer;
using test::ScriptedPeer;
using test::Bytes;

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct ProxyCase {
  const char* name;
  ProxyServer::Kind server;
  TwsProxy type;
  const char* serverUser;
  const char* serverPassword;
  const char* clientUser;
  const char* clientPassword;
  const char* target;  // host name the client asks the proxy for
  bool succeeds;
};

class ProxyTunnel : public testing::TestWithParam<ProxyCase> {};

// Opens the tunnel to a scripted peer and checks that bytes pass both ways unchanged.
TEST_P(ProxyTunnel, CarriesBytesOrFailsWithProxyError) {
  const ProxyCase& c = GetParam();
  ProxyServer proxy(c.server, c.serverUser, c.serverPassword);
  ASSERT_TRUE(proxy.Running()) << c.name;
  ScriptedPeer peer;

  TbrzSocketProxy_Options options;
  options.Enabled = true;
  options.Host = "127.0.0.1";
  options.Port = proxy.Port();
  options.ProxyType = c.type;
  options.Username = c.clientUser;
  options.Password = c.clientPassword;

  TbrzSocket s;
  s.Host = c.target;
  s.Port = peer.Port();
  s.ConnectTimeout = 5000;
  s.SetProxy(CreateProxy(options));
  if (!c.succeeds) {
    EXPECT_THROW(s.Connect(), ESocketError) << c.name;
    EXPECT_FALSE(s.Connected());
    return;
  }
  ASSERT_NO_THROW(s.Connect()) << c.name;
  ASSERT_TRUE(peer.Accept()) << c.name;
  s.WriteBytes(Hex("00 FF 0D 0A 61"));
  EXPECT_EQ(peer.Receive(5), Hex("00 FF 0D 0A 61")) << c.name;
  peer.Send(Hex("62 00"));
  for (int i = 0; i < 300 && s.BufferedCount() < 2; ++i) s.WaitForData(10);
  EXPECT_EQ(s.ReadBuffered(2), Hex("62 00")) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Real, ProxyTunnel,
    testing::Values(
        ProxyCase{"HttpOpen", ProxyServer::HttpConnect, TwsProxy::pxyHTTP, "", "", "", "", "127.0.0.1", true},
        ProxyCase{"HttpBasic", ProxyServer::HttpConnect, TwsProxy::pxyHTTP, "ann", "s3cret", "ann", "s3cret",
                  "localhost", true},
        ProxyCase{"HttpNoCredentials", ProxyServer::HttpConnect, TwsProxy::pxyHTTP, "ann", "s3cret", "", "",
                  "127.0.0.1", false},
        ProxyCase{"HttpWrongPassword", ProxyServer::HttpConnect, TwsProxy::pxyHTTP, "ann", "s3cret", "ann", "x",
                  "127.0.0.1", false},
        ProxyCase{"Socks5Open", ProxyServer::Socks5, TwsProxy::pxySocks5, "", "", "", "", "localhost", true},
        ProxyCase{"Socks5Login", ProxyServer::Socks5, TwsProxy::pxySocks5, "bob", "pw", "bob", "pw", "127.0.0.1",
                  true},
        ProxyCase{"Socks5WrongPassword", ProxyServer::Socks5, TwsProxy::pxySocks5, "bob", "pw", "bob", "no",
                  "127.0.0.1", false},
        ProxyCase{"Socks5NoLogin", ProxyServer::Socks5, TwsProxy::pxySocks5, "bob", "pw", "", "", "127.0.0.1",
                  false},
        ProxyCase{"Socks4", ProxyServer::Socks4, TwsProxy::pxySocks4, "", "", "", "", "localhost", true},
        ProxyCase{"Socks4ALiteral", ProxyServer::Socks4, TwsProxy::pxySocks4A, "", "", "", "", "127.0.0.1", true},
        ProxyCase{"Socks5ViaDante", ProxyServer::Socks4, TwsProxy::pxySocks5, "", "", "", "", "127.0.0.1", true}),
    [](const testing::TestParamInfo<ProxyCase>& info) { return std::string(info.param.name); });

// The installed SOCKS4 server resolves no names, so the 4A name form is checked on the wire.
TEST(ProxyTunnelWire, Socks4ASendsTheNameAfterTheUserId) {
  ScriptedPeer proxy;
  TbrzSocketProxy_Options options;
  options.Enabled = true;
  options.Host = "127.0.0.1";
  options.Port = proxy.Port();
  options.ProxyType = TwsProxy::pxySocks4A;
  options.Username = "u";
  TbrzSocket s;
  s.Host = "example.test";
  s.Port = 0x1234;
  s.ConnectTimeout = 5000;
  s.SetProxy(CreateProxy(options));
  std::thread connector([&] { EXPECT_NO_THROW(s.Connect()); });
  ASSERT_TRUE(proxy.Accept());
  const Bytes request = Hex("04 01 12 34 00 00 00 01 75 00") + test::ToBytes(std::string("example.test") + '\0');
  EXPECT_EQ(proxy.Receive(request.size()), request);
  proxy.Send(Hex("00 5A 00 00 00 00 00 00"));
  connector.join();
  EXPECT_TRUE(s.Connected());
}

TEST(ProxyTunnelFailure, ProxyThatIsNotListeningIsAConnectError) {
  TbrzSocketProxy_Options options;
  options.Enabled = true;
  options.Host = "127.0.0.1";
  options.Port = test::FreeTcpPort();
  TbrzSocket s;
  s.Host = "127.0.0.1";
  s.Port = 1;
  s.SetProxy(CreateProxy(options));
  EXPECT_THROW(s.Connect(), ESocketError);
}

TEST(ProxyTunnelFailure, SilentProxyIsBoundedByTheTimeOut) {
  ScriptedPeer mute;  // accepts and never answers
  TbrzSocketProxy_Options options;
  options.Enabled = true;
  options.Host = "127.0.0.1";
  options.Port = mute.Port();
  options.ProxyType = TwsProxy::pxySocks5;
  TbrzSocket s;
  s.Host = "127.0.0.1";
  s.Port = 1;
  s.ConnectTimeout = 300;
  s.SetProxy(CreateProxy(options));
  EXPECT_THROW(s.Connect(), EProxyError);
  ASSERT_TRUE(mute.Accept(1s));
  EXPECT_EQ(mute.Receive(3), Hex("05 01 00"));  // the SOCKS5 greeting without authentication
}

}  // namespace
}  // namespace brz
