// The server side of the opening handshake as byte exchanges over loopback.

#include <gtest/gtest.h>

#include "server/ServerMessages.h"
#include "server/TbrzWSHandShakeServer.h"
#include "tests/server/ServerTestSupport.h"
#include "tests/support/TestSupport.h"
#include "websocket/TbrzWSFrameMessages.h"

namespace brz {
namespace {

using test::RawPeer;
using test::RecordingServer;

const std::string kSampleResponse =
    "HTTP/1.1 101 Switching Protocols\r\n"
    "Upgrade: websocket\r\n"
    "Connection: Upgrade\r\n"
    "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n"
    "Server: brzWebSockets 2023.2.0\r\n"
    "\r\n";

TEST(ServerHandshake, SampleKeyGetsTheDocumentedAcceptInAnyHeaderCase) {
  const std::string lower =
      "GET /chat HTTP/1.1\r\nhost: server.example.com\r\nupgrade: websocket\r\nconnection: Upgrade\r\n"
      "sec-websocket-key: dGhlIHNhbXBsZSBub25jZQ==\r\nsec-websocket-version: 13\r\n\r\n";
  for (const std::string& request : {test::UpgradeRequest(), lower}) {
    RecordingServer server;
    RawPeer peer(server.Port());
    peer.Send(request);
    EXPECT_EQ(peer.Read(kSampleResponse.size()), kSampleResponse) << request;
    EXPECT_TRUE(server.WaitFor([&] { return server.Connects() == 1; }));
    EXPECT_TRUE(server.Errors().empty());
  }
}

TEST(ServerHandshake, RequestSplitAcrossWritesIsAnsweredOnceComplete) {
  RecordingServer server;
  RawPeer peer(server.Port());
  const std::string request = test::UpgradeRequest();
  peer.Send(request.substr(0, 30));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  peer.Send(request.substr(30));
  EXPECT_EQ(peer.Read(kSampleResponse.size()), kSampleResponse);
}

TEST(ServerHandshake, BadRequestsFailWithTheirTextAndAreClosedWithoutAnswer) {
  struct Case {
    std::string request;
    std::string error;
    std::string allowedOrigins;
  };
  const std::vector<Case> cases = {
      {test::UpgradeRequest("", "HTTP/1.0"), msg::kErrorDecodingGET, ""},
      {"GET / HTTP/1.1\r\nHost: a\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n", msg::kErrorDecodingKey, ""},
      {"GET / HTTP/1.1\r\nHost: a\r\nUpgrade: websocket\r\nConnection: close\r\nSec-WebSocket-Key: x\r\n\r\n",
       msg::kErrorDecodingUpgrade, ""},
      {test::UpgradeRequest("Sec-WebSocket-Protocol: chat\r\n"), "Error Protocol: chat\n not supported.", ""},
      {test::UpgradeRequest("Origin: http://evil.example\r\n"), "Origin http://evil.example not allowed",
       "http://good.example, http://*.trusted.example"},
  };
  for (const Case& c : cases) {
    RecordingServer server(true, false);
    server.Server().SecurityOptions().OriginsAllowed = c.allowedOrigins;
    server.Start();
    RawPeer peer(server.Port());
    peer.Send(c.request);
    std::string rest;
    EXPECT_TRUE(peer.Closed(std::chrono::seconds(5), &rest)) << c.error;
    EXPECT_EQ(rest, "") << c.error;
    EXPECT_TRUE(server.WaitFor([&] { return !server.Errors().empty(); }));
    EXPECT_EQ(server.Errors(), std::vector<std::string>{c.error});
    EXPECT_EQ(server.Connects(), 0);
  }
}

TEST(ServerHandshake, AllowedOriginAndOfferedSubProtocolAreAnswered) {
  RecordingServer server(true, false);
  server.Server().SecurityOptions().OriginsAllowed = "http://good.example, http://*.trusted.example";
  server.Start();
  RawPeer peer(server.Port());
  peer.Send(test::UpgradeRequest("Origin: http://app.trusted.example\r\n"));
  EXPECT_EQ(peer.Read(kSampleResponse.size()), kSampleResponse);
  // Selection itself: the client's order wins, blanks around names do not count.
  EXPECT_EQ(SelectSubProtocol("chat, mqtt, json", "json,mqtt"), "mqtt");
  EXPECT_EQ(SelectSubProtocol("", "mqtt"), "");
}

TEST(ServerHandshake, Hixie76DraftGetsItsLinesAndAnswerThenTextFrames) {
  RecordingServer server;
  RawPeer peer(server.Port());
  // The draft's own example.
  peer.Send(
      "GET /demo HTTP/1.1\r\nHost: example.com\r\nConnection: Upgrade\r\n"
      "Sec-WebSocket-Key2: 12998 5 Y3 1  .P00\r\nUpgrade: WebSocket\r\n"
      "Sec-WebSocket-Key1: 4 @1  46546xW%0l 1 5\r\nOrigin: http://example.com\r\n\r\n^n:ds[4U");
  const std::string expected =
      "HTTP/1.1 101 WebSocket Protocol Handshake\r\n"
      "Upgrade: WebSocket\r\n"
      "Connection: Upgrade\r\n"
      "Sec-WebSocket-Origin: http://example.com\r\n"
      "Sec-WebSocket-Location: ws://example.com/demo\r\n"
      "Sec-WebSocket-Protocol: *\r\n"
      "Server: brzWebSockets 2023.2.0\r\n"
      "\r\n"
      "8jKS'y:G*Co,Wxa-";
  EXPECT_EQ(peer.Read(expected.size()), expected);
  peer.Send(std::string("\x00hello\xff", 7));
  EXPECT_TRUE(server.WaitFor([&] { return server.Messages().size() == 1; }));
  EXPECT_EQ(server.Messages(), std::vector<std::string>{"hello"});
  server.Server().Broadcast("line");
  EXPECT_EQ(peer.Read(6), std::string("\x00line\xff", 6));
  EXPECT_THROW(Hixie76Answer("123", "1 2", {}), TbrzWSException);
}

TEST(ServerHandshake, OperatorFramesMustBeMaskedAndServerFramesAreNot) {
  RecordingServer server;
  auto peer = test::WebSocketPeer(server.Port());
  peer->Send(test::MaskedFrame(0x1, "masked"));
  EXPECT_TRUE(server.WaitFor([&] { return server.Messages().size() == 1; }));
  EXPECT_EQ(server.Messages(), std::vector<std::string>{"masked"});
  server.Server().Broadcast("hi");
  EXPECT_EQ(test::ToHex(test::ToBytes(peer->Read(4))), "81 02 68 69");

  peer->Send(std::string("\x81\x02hi", 4));  // not masked
  std::string rest;
  EXPECT_TRUE(peer->Closed(std::chrono::seconds(5), &rest));
  EXPECT_TRUE(server.WaitFor([&] { return !server.Errors().empty(); }));
  EXPECT_EQ(server.Errors(), std::vector<std::string>{msg::kWSNotMasked});
  EXPECT_EQ(server.Messages().size(), 1u);
}

TEST(ServerClassification, PlainHTTPGetsAnAnswerAndIsClosed) {
  RecordingServer server;
  RawPeer peer(server.Port());
  peer.Send("GET /index.html HTTP/1.1\r\nHost: a\r\n\r\n");
  std::string response;
  EXPECT_TRUE(peer.Closed(std::chrono::seconds(5), &response));
  EXPECT_EQ(response,
            "HTTP/1.1 404 Not Found\r\nServer: brzWebSockets 2023.2.0\r\nContent-Type: text/plain\r\n"
            "Content-Length: 9\r\nConnection: close\r\n\r\nNot Found");
  EXPECT_EQ(server.Connects(), 0);
  EXPECT_EQ(server.Disconnects(), 0);
}

TEST(ServerClassification, FallBackServicesAreClosedWithoutAnswer) {
  for (const std::string request : {"<policy-file-request/>\n", "POST /brz/xhr/1 HTTP/1.1\r\nHost: a\r\n\r\n",
                                     "GET /events HTTP/1.1\r\nAccept: text/event-stream\r\n\r\n"}) {
    RecordingServer server;
    RawPeer peer(server.Port());
    peer.Send(request);
    std::string rest;
    EXPECT_TRUE(peer.Closed(std::chrono::seconds(5), &rest)) << request;
    EXPECT_EQ(rest, "") << request;
    EXPECT_TRUE(server.Binaries().empty());
  }
}

TEST(ServerClassification, UnknownBytesBecomeRawTCPOrAreRefused) {
  {
    RecordingServer server;
    RawPeer peer(server.Port());
    peer.Send("{\"message\":\"api\"}");
    EXPECT_TRUE(server.WaitFor([&] { return server.Binaries().size() == 1; }));
    EXPECT_EQ(server.Binaries(), std::vector<std::string>{"{\"message\":\"api\"}"});
    EXPECT_EQ(server.Connects(), 1);
    server.Server().Broadcast("event line");
    EXPECT_EQ(peer.Read(10), "event line");
  }
  RecordingServer refusing(false);
  RawPeer peer(refusing.Port());
  peer.Send("hello");
  EXPECT_TRUE(peer.Closed());
  EXPECT_EQ(refusing.Connects(), 0);
  EXPECT_TRUE(refusing.Binaries().empty());
}

TEST(ServerLimits, OversizedHeaderAndSilentPeersAreDropped) {
  RecordingServer server(true, false);
  server.Server().HandshakeTimeOut = 300;
  server.Start();
  RawPeer big(server.Port());
  big.Send("GET / HTTP/1.1\r\n" + std::string(20 * 1024, 'a'));
  RawPeer slow(server.Port());
  slow.Send("GET / HT");
  RawPeer silent(server.Port());
  EXPECT_TRUE(big.Closed());
  EXPECT_TRUE(slow.Closed());
  EXPECT_TRUE(silent.Closed());
  EXPECT_TRUE(server.WaitFor([&] { return server.Errors().size() == 3; }));
  auto errors = server.Errors();
  EXPECT_EQ(std::count(errors.begin(), errors.end(), msg::kRequestHeaderTooLarge), 1);
  EXPECT_EQ(std::count(errors.begin(), errors.end(), msg::kHandshakeTimeout), 2);
}

}  // namespace
}  // namespace brz
