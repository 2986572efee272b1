// The server with TLS on its listening sockets, against real TLS operators on loopback: a WebSocket
// operator (python3-websockets over wss://), raw TCP operators (openssl s_client and python ssl),
// plain clients on the TLS port, the per-port TLS setting and the one-byte stall check.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "server/ServerMessages.h"
#include "server/TbrzWSConnectionServer.h"
#include "tests/server/ServerTestSupport.h"
#include "tests/support/TestCerts.h"
#include "tests/support/TestSupport.h"

namespace brz {
namespace {

using test::Process;
using test::RawPeer;
using test::RecordingServer;
using test::TestCerts;

std::string OperatorScript() { return test::SourceDir() + "/tests/server/ServerTlsOperator.py"; }

// A recording server with TLS on; unknown protocols become raw TCP operators with line-terminated
// text, as the remote-control intake sets them up. sslPort: SSLOptions.Port; bindings: explicit
// 127.0.0.1 ports (empty: one ephemeral port).
std::unique_ptr<RecordingServer> TlsServer(int sslPort = 0, const std::vector<int>& bindings = {}) {
  auto server = std::make_unique<RecordingServer>(true, false);
  TbrzWebSocketHTTPServer& s = server->Server();
  s.OnUnknownProtocol = [](const TbrzConnectionPtr& c, bool& accept) {
    accept = true;
    c->SetTransport(TwsTransport::trpTCP);
    if (auto* sc = dynamic_cast<TbrzWSConnectionServer*>(c.get())) sc->SetTextTerminator("\n");
  };
  if (!bindings.empty()) {
    s.Bindings().clear();
    for (int port : bindings) s.AddBinding("127.0.0.1", port);
  }
  s.SetSSL(true);
  s.SSLOptions().CertFile = TestCerts::Get().ServerCert;
  s.SSLOptions().KeyFile = TestCerts::Get().ServerKey;
  s.SSLOptions().Port = sslPort;
  server->Start();
  return server;
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string all;
  for (const auto& p : parts) all += p;
  return all;
}

bool Contains(const std::vector<std::string>& list, const std::string& text) {
  return std::find(list.begin(), list.end(), text) != list.end();
}

std::unique_ptr<Process> WssOperator(int port) {
  return std::make_unique<Process>(std::vector<std::string>{"/usr/bin/python3", OperatorScript(), "ws",
                                                            "wss://127.0.0.1:" + std::to_string(port) + "/",
                                                            TestCerts::Get().CAFile});
}

std::unique_ptr<Process> RawTlsOperator(int port) {
  return std::make_unique<Process>(std::vector<std::string>{"/usr/bin/python3", OperatorScript(), "raw",
                                                            std::to_string(port), TestCerts::Get().CAFile});
}

// openssl s_client as a raw operator; it verifies the server against the test CA.
std::unique_ptr<Process> SClientOperator(int port) {
  return std::make_unique<Process>(std::vector<std::string>{"openssl", "s_client", "-connect",
                                                            "127.0.0.1:" + std::to_string(port), "-quiet", "-CAfile",
                                                            TestCerts::Get().CAFile, "-verify_return_error"});
}

// A raw TLS operator connects, its command line arrives whole, and a broadcast reaches it.
void ExpectRawTlsOperatorServed(RecordingServer& server, const std::string& command) {
  const size_t binariesBefore = Joined(server.Binaries()).size();
  const int connectsBefore = server.Connects();
  auto op = RawTlsOperator(server.Port());
  ASSERT_EQ(op->ReadLine(), "OPEN") << op->ReadStderr();
  op->WriteLine("SEND " + command);
  EXPECT_TRUE(server.WaitFor([&] { return Joined(server.Binaries()).substr(binariesBefore) == command + "\n"; }))
      << Joined(server.Binaries());
  EXPECT_TRUE(server.WaitFor([&] { return server.Connects() == connectsBefore + 1; }));
  server.Server().Broadcast("{\"event\":\"served\"}");
  EXPECT_TRUE(op->ReadLineContaining("MSG {\"event\":\"served\"}").has_value());
  op->WriteLine("QUIT");
  EXPECT_TRUE(op->ReadLineContaining("CLOSED").has_value());
}

TEST(ServerTls, WebSocketOperatorOverTlsSendsAndReceivesBroadcasts) {
  auto server = TlsServer();
  auto op = WssOperator(server->Port());
  ASSERT_EQ(op->ReadLine(), "OPEN") << op->ReadStderr();
  EXPECT_TRUE(server->WaitFor([&] { return server->Connects() == 1; }));

  const std::string command = "{\"cmd\":\"subscribe\",\"topic\":\"a/b\"}";
  op->WriteLine("SEND " + command);
  EXPECT_TRUE(server->WaitFor([&] { return Contains(server->Messages(), command); }));

  server->Server().Broadcast("{\"event\":\"connected\"}");
  EXPECT_TRUE(op->ReadLineContaining("MSG {\"event\":\"connected\"}").has_value());

  op->WriteLine("QUIT");
  EXPECT_TRUE(op->ReadLineContaining("CLOSED").has_value());
  EXPECT_TRUE(server->WaitFor([&] { return server->Disconnects() == 1; }));
  EXPECT_EQ(op->Wait(), 0);
  EXPECT_TRUE(server->Errors().empty()) << server->Errors().front();
}

TEST(ServerTls, RawTcpOperatorOverTlsWithOpenSSLCommandLine) {
  auto server = TlsServer();
  auto op = SClientOperator(server->Port());
  const std::string command = "{\"cmd\":\"publish\",\"topic\":\"t\",\"payload\":\"x\"}";
  op->WriteLine(command);
  // The line arrives as the bytes sent, on a connection accepted as raw TCP.
  EXPECT_TRUE(server->WaitFor([&] { return Joined(server->Binaries()) == command + "\n"; }))
      << Joined(server->Binaries()) << op->ReadStderr();
  EXPECT_TRUE(server->WaitFor([&] { return server->Connects() == 1; }));

  server->Server().Broadcast("{\"event\":\"published\"}");
  EXPECT_EQ(op->ReadLine(), "{\"event\":\"published\"}");
  EXPECT_TRUE(server->Errors().empty()) << server->Errors().front();
}

TEST(ServerTls, WebSocketAndRawOperatorsOverTlsBothGetEveryBroadcast) {
  auto server = TlsServer();
  auto ws = WssOperator(server->Port());
  ASSERT_EQ(ws->ReadLine(), "OPEN") << ws->ReadStderr();
  auto raw = RawTlsOperator(server->Port());
  ASSERT_EQ(raw->ReadLine(), "OPEN") << raw->ReadStderr();
  raw->WriteLine("SEND {\"cmd\":\"hello\"}");
  ASSERT_TRUE(server->WaitFor([&] { return server->Connects() == 2; }));

  for (const std::string line : {"{\"n\":1}", "{\"n\":2}"}) {
    server->Server().Broadcast(line);
    EXPECT_TRUE(ws->ReadLineContaining("MSG " + line).has_value()) << line;
    EXPECT_TRUE(raw->ReadLineContaining("MSG " + line).has_value()) << line;
  }
}

TEST(ServerTls, PlainClientsOnTheTlsPortAreClosedAndTheServerKeepsServing) {
  auto server = TlsServer();
  const std::vector<std::string> plainRequests = {
      "{\"cmd\":\"publish\",\"topic\":\"t\"}\n",
      test::UpgradeRequest(),
      "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
  };
  int tries = 0;
  for (const std::string& request : plainRequests) {
    RawPeer peer(server->Port());
    peer.Send(request);
    std::string answer;
    EXPECT_TRUE(peer.Closed(std::chrono::seconds(10), &answer)) << request;
    // Whatever the TLS layer answered, it is no plaintext the server read from the request.
    EXPECT_EQ(answer.find("HTTP/1.1"), std::string::npos) << request;
    ++tries;
    // Each refusal is reported once the handshake failed.
    EXPECT_TRUE(server->WaitFor(
        [&] { return server->Errors().size() + server->Exceptions().size() >= static_cast<size_t>(tries); }))
        << request;
  }
  EXPECT_EQ(server->Connects(), 0);
  EXPECT_TRUE(server->Binaries().empty());
  EXPECT_TRUE(server->Messages().empty());

  // A plain client that says nothing holds only its own context: TLS operators are served meanwhile.
  RawPeer silent(server->Port());
  ExpectRawTlsOperatorServed(*server, "{\"cmd\":\"after-plain\"}");
  auto ws = WssOperator(server->Port());
  EXPECT_EQ(ws->ReadLine(), "OPEN") << ws->ReadStderr();
}

TEST(ServerTls, OnlyTheSSLOptionsPortSpeaksTls) {
  const int tlsPort = test::FreeTcpPort();
  int plainPort = test::FreeTcpPort();
  for (int i = 0; plainPort == tlsPort && i < 10; ++i) plainPort = test::FreeTcpPort();
  ASSERT_NE(plainPort, tlsPort);
  auto server = TlsServer(tlsPort, {tlsPort, plainPort});
  ASSERT_EQ(server->Server().ListeningAddresses().size(), 2u);

  ExpectRawTlsOperatorServed(*server, "{\"cmd\":\"on-tls-port\"}");

  // The other binding speaks plain TCP: the command arrives in clear and the broadcast comes back so.
  const size_t before = Joined(server->Binaries()).size();
  RawPeer plain(plainPort);
  plain.Send("{\"cmd\":\"on-plain-port\"}\n");
  EXPECT_TRUE(server->WaitFor(
      [&] { return Joined(server->Binaries()).substr(before) == "{\"cmd\":\"on-plain-port\"}\n"; }));
  ASSERT_TRUE(server->WaitFor([&] { return server->Connects() == 2; }));
  server->Server().Broadcast("{\"event\":\"plain\"}");
  EXPECT_EQ(plain.ReadUntil("\n"), "{\"event\":\"plain\"}\n");

  // A one-byte command on the plain port is no TLS stall.
  RawPeer oneByte(plainPort);
  oneByte.Send("x");
  EXPECT_TRUE(server->WaitFor([&] { return server->Connects() == 3; }));
  EXPECT_FALSE(oneByte.Closed(std::chrono::milliseconds(200)));
  EXPECT_TRUE(server->Exceptions().empty()) << server->Exceptions().front();
}

TEST(ServerTls, ATlsPortWithAnotherSSLOptionsPortIsPlain) {
  const int port = test::FreeTcpPort();
  auto server = TlsServer(port == 65535 ? port - 1 : port + 1, {port});
  RawPeer plain(server->Port());
  plain.Send("{\"cmd\":\"plain\"}\n");
  EXPECT_TRUE(server->WaitFor([&] { return Joined(server->Binaries()) == "{\"cmd\":\"plain\"}\n"; }));
  ASSERT_TRUE(server->WaitFor([&] { return server->Connects() == 1; }));
  server->Server().Broadcast("{\"event\":\"x\"}");
  EXPECT_EQ(plain.ReadUntil("\n"), "{\"event\":\"x\"}\n");
}

TEST(ServerTls, AFirstByteAloneWaitsForTheRestOfTheCommand) {
  auto server = TlsServer();
  // A generous stall limit: the test does not race the check, it shows each count waits for input.
  server->Server().FReadStartSSL = 200;
  auto op = RawTlsOperator(server->Port());
  ASSERT_EQ(op->ReadLine(), "OPEN") << op->ReadStderr();
  op->WriteLine("PART {");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  op->WriteLine("SEND \"cmd\":\"split\"}");
  EXPECT_TRUE(server->WaitFor([&] { return Joined(server->Binaries()) == "{\"cmd\":\"split\"}\n"; }))
      << Joined(server->Binaries());
  EXPECT_TRUE(server->WaitFor([&] { return server->Connects() == 1; }));
  EXPECT_TRUE(server->Exceptions().empty()) << server->Exceptions().front();
}

TEST(ServerTls, ATlsPeerThatStallsOnOneByteIsDroppedWithTheStartError) {
  auto server = TlsServer();
  auto op = RawTlsOperator(server->Port());
  ASSERT_EQ(op->ReadLine(), "OPEN") << op->ReadStderr();
  op->WriteLine("PART x");
  EXPECT_TRUE(op->ReadLineContaining("CLOSED").has_value());
  EXPECT_TRUE(server->WaitFor([&] { return Contains(server->Exceptions(), msg::kErrorStartingSSL); }));
  EXPECT_EQ(server->Connects(), 0);
  EXPECT_TRUE(server->Binaries().empty());
  // The server goes on serving.
  ExpectRawTlsOperatorServed(*server, "{\"cmd\":\"after-stall\"}");
}

}  // namespace
}  // namespace brz
