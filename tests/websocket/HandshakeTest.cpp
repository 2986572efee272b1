// Opening handshake pieces without sockets: key, request lines, the header reader under any chunking,
// and the response table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Encoding.h"
#include "websocket/TbrzWSFrameMessages.h"
#include "websocket/TbrzWSFrameTypes.h"
#include "websocket/TbrzWSHandshake.h"

namespace brz {
namespace {

TEST(WSHandshake, KeyAndAcceptValue) {
  std::string key = NewWebSocketKey();
  EXPECT_EQ(key.size(), 24u);
  EXPECT_EQ(key.substr(22), "==");
  EXPECT_EQ(DecodeBase64(key).size(), 16u);
  EXPECT_NE(NewWebSocketKey(), key);
  // RFC 6455 section 1.3.
  EXPECT_EQ(WebSocketAcceptKey("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
}

TEST(WSHandshake, RequestLines) {
  TbrzWSHandshakeRequest r;
  r.Parameters = "chat?room=1";
  r.Host = "example.org";
  r.Port = 8080;
  r.Key = "dGhlIHNhbXBsZSBub25jZQ==";
  r.Protocol = "mqtt";
  EXPECT_EQ(BuildHandshakeRequest(r), (std::vector<std::string>{
                                          "GET /chat?room=1 HTTP/1.1",
                                          "Host: example.org:8080",
                                          "Upgrade: websocket",
                                          "Connection: Upgrade",
                                          "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==",
                                          "Origin: example.org",
                                          "Sec-WebSocket-Protocol: mqtt",
                                          "Sec-WebSocket-Version: 13",
                                      }));
  r.Parameters.clear();
  r.Port = 443;
  r.Protocol.clear();
  r.Origin = "http://front.example.org";
  r.BasicAuthentication = true;
  r.User = "user";
  r.Password = "pass";
  r.TokenAuthentication = true;
  r.AuthName = "Bearer";
  r.AuthToken = "t0k";
  r.ExtensionLines = {"Sec-WebSocket-Extensions: permessage-deflate; client_max_window_bits"};
  EXPECT_EQ(BuildHandshakeRequest(r), (std::vector<std::string>{
                                          "GET / HTTP/1.1",
                                          "Host: example.org",
                                          "Upgrade: websocket",
                                          "Connection: Upgrade",
                                          "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==",
                                          "Origin: http://front.example.org",
                                          "Authorization: Basic dXNlcjpwYXNz",
                                          "Authorization: Bearer t0k",
                                          "Sec-WebSocket-Extensions: permessage-deflate; client_max_window_bits",
                                          "Sec-WebSocket-Version: 13",
                                      }));
  EXPECT_EQ(SerializeHeaderLines({"A", "B"}), "A\r\nB\r\n\r\n");
}

TEST(WSHandshake, HeaderReaderAnyChunking) {
  const std::string response = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\n\r\n\x81\x01" "a";
  const size_t headerEnd = response.find("\n\r\n") + 3;
  for (size_t cut = 0; cut <= response.size(); ++cut) {
    TbrzWSHeaderReader reader;
    auto* data = reinterpret_cast<const uint8_t*>(response.data());
    size_t used = reader.Feed(data, cut);
    if (!reader.Complete()) used += reader.Feed(data + used, response.size() - used);
    ASSERT_TRUE(reader.Complete()) << cut;
    EXPECT_EQ(used, headerEnd) << cut;
    EXPECT_EQ(reader.Lines(), (std::vector<std::string>{"HTTP/1.1 101 Switching Protocols", "Upgrade: websocket"}));
  }
  TbrzWSHeaderReader small(16);
  std::string endless(32, 'x');
  try {
    small.Feed(reinterpret_cast<const uint8_t*>(endless.data()), endless.size());
    FAIL() << "no error";
  } catch (const TbrzWSException& e) {
    EXPECT_STREQ(e.what(), msg::kHandshakeResponseTooLong);
  }
}

// Outcome of parsing and accepting: "ok <protocol>", "redirect <location>" or "<class>: <message>".
std::string Outcome(const std::vector<std::string>& lines, const std::string& requested, bool canRedirect = true) {
  const std::string key = "dGhlIHNhbXBsZSBub25jZQ==";
  try {
    auto verdict = AcceptHandshakeResponse(ParseHandshakeResponse(lines), key, requested, canRedirect);
    return verdict.Redirect ? "redirect " + verdict.Location : "ok " + verdict.Protocol;
  } catch (const Exception& e) {
    return e.ClassName() + ": " + e.what();
  }
}

TEST(WSHandshake, ResponseTable) {
  const std::string accept = "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=";
  const std::string status = "HTTP/1.1 101 Switching Protocols";
  const std::string ws = std::string("TbrzWSException: ");
  struct Case {
    const char* name;
    std::vector<std::string> lines;
    std::string requested;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"plain", {status, "Upgrade: websocket", "Connection: Upgrade", accept}, "", "ok "},
      {"with protocol", {status, "Upgrade: websocket", "Connection: Upgrade", accept, "Sec-WebSocket-Protocol: mqtt"},
       "mqtt", "ok mqtt"},
      {"other cases", {"http/1.1 101 switching protocols", "upgrade: WebSocket", "connection: upgrade",
                       "sec-websocket-accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=", "sec-websocket-protocol: MQTT"},
       "mqtt", "ok MQTT"},
      {"protocol among several", {status, accept, "Sec-WebSocket-Protocol: mqttv3.1"}, "mqtt,mqttv3.1", "ok mqttv3.1"},
      {"no space after colon is ignored", {status, "Upgrade:websocket", accept}, "", "ok "},
      {"bad status", {"HTTP/1.1 400 Bad Request", accept}, "",
       std::string("Exception: ") + msg::kHandshakeSwitchingProtocols + " [HTTP/1.1 400 Bad Request]"},
      {"bad upgrade", {status, "Upgrade: h2c", accept}, "", ws + msg::kHandshakeUpgrade},
      {"bad connection", {status, "Connection: keep-alive", accept}, "", ws + msg::kHandshakeUpgrade},
      {"missing accept", {status, "Upgrade: websocket"}, "", ws + msg::kHandshakeInvalidAcceptKey},
      {"wrong accept", {status, "Sec-WebSocket-Accept: S3pPLMBiTxaQ9kYGzzhZRbK+xOo="}, "",
       ws + msg::kHandshakeInvalidAcceptKey},
      {"accept without space", {status, "Sec-WebSocket-Accept:s3pPLMBiTxaQ9kYGzzhZRbK+xOo="}, "",
       ws + msg::kHandshakeInvalidAcceptKey},
      {"no protocol answered", {status, accept}, "mqtt", ws + "Protocol not supported ."},
      {"other protocol answered", {status, accept, "Sec-WebSocket-Protocol: chat"}, "mqtt",
       ws + "Protocol not supported chat."},
      {"protocol never asked for", {status, accept, "Sec-WebSocket-Protocol: chat"}, "", ws + "Protocol not supported chat."},
      {"redirect", {"HTTP/1.1 302 Found", "Upgrade: nonsense", "Location: ws://127.0.0.1:9/x"}, "mqtt",
       "redirect ws://127.0.0.1:9/x"},
      {"redirect without location", {"HTTP/1.1 302 Found"}, "", ws + msg::kHandshakeInvalidAcceptKey},
  };
  for (const auto& c : cases) EXPECT_EQ(Outcome(c.lines, c.requested), c.expected) << c.name;
  EXPECT_EQ(Outcome({"HTTP/1.1 301 Moved", "Location: ws://h/"}, "", false), ws + msg::kHandshakeRedirect + "ws://h/");
  auto parsed = ParseHandshakeResponse({status, "Sec-WebSocket-Extensions: permessage-deflate", accept});
  EXPECT_EQ(parsed.FExtensions, "permessage-deflate");
}

}  // namespace
}  // namespace brz
