// Compression on the client and the server: interoperability with a real permessage-deflate peer in
// both directions, and the wire rules at a scripted peer.
#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/TbrzWSHTTPServer.h"
#include "tests/support/FakeWSPeer.h"
#include "tests/support/TestSupport.h"
#include "websocket/ExtensionMessages.h"
#include "websocket/TbrzWSClient.h"
#include "websocket/TbrzWSConnectionRFC6455.h"
#include "websocket/TbrzWSFrameMessages.h"

namespace brz {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::FakeWSPeer;
using test::Hex;
using Event = std::pair<std::string, std::string>;

const std::string kPeer = "/tests/websocket/CompressionPeer.py";

// Text with repeats farther back than a 1 KiB window reaches, so a wrong window size shows.
std::string Payload(size_t size, unsigned seed) {
  std::string block;
  uint32_t x = seed * 2654435761u + 1;
  while (block.size() < 3000) {
    x = x * 1103515245u + 12345u;
    block += static_cast<char>('a' + (x >> 16) % 26);
  }
  std::string out;
  for (size_t i = 0; out.size() < size; ++i) {
    out += block;
    out[out.size() - 1 - i % 3000] = static_cast<char>('A' + i % 26);
  }
  out.resize(size);
  return out;
}

// Raw inflate of one permessage-deflate message (the sync-flush tail restored).
std::string Inflate(Bytes data) {
  for (uint8_t b : {0x00, 0x00, 0xFF, 0xFF}) data.push_back(b);
  z_stream z{};
  EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
  std::string out;
  char buffer[4096];
  z.next_in = data.data();
  z.avail_in = static_cast<uInt>(data.size());
  int rc = Z_OK;
  while (rc == Z_OK && (z.avail_in > 0 || z.avail_out == 0)) {
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = sizeof buffer;
    rc = inflate(&z, Z_SYNC_FLUSH);
    out.append(buffer, sizeof buffer - z.avail_out);
  }
  inflateEnd(&z);
  EXPECT_TRUE(rc == Z_OK || rc == Z_BUF_ERROR) << rc;
  return out;
}

// The client's events in order; Next waits for the following one.
class Events {
 public:
  explicit Events(TbrzWSClient& c) {
    c.OnConnect = [this](const TbrzConnectionPtr&) { Add("connect", ""); };
    c.OnMessage = [this](const TbrzConnectionPtr&, const std::string& t) { Add("text", t); };
    c.OnBinary = [this](const TbrzConnectionPtr&, TbrzMemoryStream& d) { Add("binary", d.ToString()); };
    c.OnFragmented = [this](const TbrzConnectionPtr&, TbrzMemoryStream& d, TOpcode, bool more) {
      Add(more ? "fragment more" : "fragment", d.ToString());
    };
    c.OnDisconnect = [this](const TbrzConnectionPtr&, int32_t code) { Add("disconnect", std::to_string(code)); };
    c.OnException = [this](const TbrzConnectionPtr&, const Exception& e) { Add("exception", e.Message()); };
    c.OnError = [this](const TbrzConnectionPtr&, const std::string& e) { Add("error", e); };
  }
  Event Next(std::chrono::milliseconds timeout = 20s) {
    std::unique_lock<std::mutex> guard(FLock);
    if (!FChanged.wait_for(guard, timeout, [&] { return FTaken < FItems.size(); })) return {"timeout", ""};
    return FItems[FTaken++];
  }

 private:
  void Add(const std::string& kind, const std::string& data) {
    std::lock_guard<std::mutex> guard(FLock);
    FItems.emplace_back(kind, data);
    FChanged.notify_all();
  }
  std::mutex FLock;
  std::condition_variable FChanged;
  std::vector<Event> FItems;
  size_t FTaken = 0;
};

class Client : public TbrzWebSocketClient {
 public:
  Client() { Extensions().PerMessage_Deflate().SetEnabled(true); }
  ~Client() override { Shutdown(); }
  // A member, so it outlives every event the client's threads deliver.
  Events Got{*this};
  std::shared_ptr<TbrzWSConnectionClientRFC6455> WS() const {
    return std::dynamic_pointer_cast<TbrzWSConnectionClientRFC6455>(Connection());
  }
};

// The peer's echo server with its factory options; empty port when it did not start.
std::unique_ptr<test::Process> StartPeerServer(const std::string& options, int& port) {
  auto p = std::make_unique<test::Process>(
      std::vector<std::string>{"/usr/bin/python3", test::SourceDir() + kPeer, "server", options});
  auto line = p->ReadLine(10s);
  port = line ? std::stoi(*line) : 0;
  return p;
}

std::string Url(int port) { return "ws://127.0.0.1:" + std::to_string(port) + "/"; }

// Frames the client wrote to a scripted peer: first header byte and unmasked payload.
struct RawFrame {
  uint8_t Byte0;
  Bytes Payload;
};
std::vector<RawFrame> ClientFrames(const Bytes& received) {
  std::vector<RawFrame> frames;
  std::string all(received.begin(), received.end());
  size_t pos = all.find("\r\n\r\n");
  if (pos == std::string::npos) return frames;
  const uint8_t* p = received.data();
  pos += 4;
  while (pos + 2 <= received.size()) {
    uint8_t b0 = p[pos];
    uint64_t len = p[pos + 1] & 0x7F;
    size_t at = pos + 2;
    if (at + (len == 127 ? 8 : len == 126 ? 2 : 0) + 4 > received.size()) break;
    if (len == 126) {
      len = (uint64_t(p[at]) << 8) | p[at + 1];
      at += 2;
    } else if (len == 127) {
      len = 0;
      for (int i = 0; i < 8; ++i) len = (len << 8) | p[at + i];
      at += 8;
    }
    const uint8_t* key = p + at;
    at += 4;  // client frames are masked
    if (at + len > received.size()) break;
    RawFrame f{b0, Bytes(p + at, p + at + len)};
    for (size_t i = 0; i < len; ++i) f.Payload[i] ^= key[i % 4];
    frames.push_back(std::move(f));
    pos = at + len;
  }
  return frames;
}

// --- Our client against the peer's server ---

struct PeerServerCase {
  const char* Name;
  const char* Options;
  bool ClientNoContextTakeOver;
  bool ServerNoContextTakeOver;
  int ClientMaxWindowBits;
  int ServerMaxWindowBits;
};

TEST(CompressionClient, EchoesWithThePeerServer) {
  const PeerServerCase cases[] = {
      {"context takeover", "{}", false, false, 15, 15},
      {"no context takeover",
       R"({"server_no_context_takeover": true, "client_no_context_takeover": true})", true, true, 15, 15},
      {"client window 10", R"({"client_max_window_bits": 10})", false, false, 10, 15},
      {"server window 10", R"({"server_max_window_bits": 10})", false, false, 15, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    int port = 0;
    auto peer = StartPeerServer(c.Options, port);
    ASSERT_NE(port, 0) << peer->ReadStderr();
    Client client;
    Events& got = client.Got;
    client.SetURL(Url(port));
    ASSERT_TRUE(client.Connect(5000));
    ASSERT_EQ(got.Next(), (Event{"connect", ""}));
    auto ws = client.WS();
    ASSERT_TRUE(ws);
    const auto& pmd = ws->Extensions().PerMessage_Deflate();
    EXPECT_TRUE(pmd.Active());
    EXPECT_EQ(pmd.ClientNoContextTakeOver(), c.ClientNoContextTakeOver);
    EXPECT_EQ(pmd.ServerNoContextTakeOver(), c.ServerNoContextTakeOver);
    EXPECT_EQ(pmd.ClientMaxWindowBits(), c.ClientMaxWindowBits);
    EXPECT_EQ(pmd.ServerMaxWindowBits(), c.ServerMaxWindowBits);

    unsigned seed = 1;
    for (size_t size : {size_t(10), size_t(100) << 10, size_t(4) << 20}) {
      // The middle size goes out cut into fragments: compressed once as a whole.
      int fragment = size == (size_t(100) << 10) ? 8192 : 0;
      std::string text = Payload(size, seed++);
      client.WriteData(text, fragment);
      Event echo = got.Next();
      EXPECT_EQ(echo.first, "text") << size;
      EXPECT_TRUE(echo.second == text) << size;
      std::string data = Payload(size, seed++);
      TbrzMemoryStream stream(data.data(), data.size());
      client.WriteData(stream, fragment);
      echo = got.Next();
      EXPECT_EQ(echo.first, "binary") << size;
      EXPECT_TRUE(echo.second == data) << size;
    }
    // Every message the peer received carried RSV1 ("stats" included).
    client.WriteData("stats");
    EXPECT_EQ(got.Next(), (Event{"text", "rsv1=7 plain=0"}));
    client.SetActive(false);
  }
}

// --- The peer's client against our server ---

class EchoServer {
 public:
  EchoServer() {
    // Port 0 everywhere: the system picks a free port.
    FServer.SetPort(0);
    FServer.AddBinding("127.0.0.1", 0);
    FServer.Extensions().PerMessage_Deflate().SetEnabled(true);
    FServer.OnMessage = [](const TbrzConnectionPtr& c, const std::string& t) { c->WriteData(t); };
    FServer.OnBinary = [](const TbrzConnectionPtr& c, TbrzMemoryStream& d) {
      TbrzMemoryStream copy(d.Memory(), d.Size());
      c->WriteData(copy);
    };
    // A failed read step of a server connection is reported as its error (which drops it).
    FServer.OnError = [this](const TbrzConnectionPtr&, const std::string& e) {
      std::lock_guard<std::mutex> g(FLock);
      FErrors.push_back(e);
      FChanged.notify_all();
    };
    FServer.SetActive(true);
    std::string address = FServer.ListeningAddresses().at(0);
    FPort = std::stoi(address.substr(address.rfind(':') + 1));
  }
  ~EchoServer() { FServer.SetActive(false); }
  int Port() const { return FPort; }
  // The first error reported, waiting for it.
  std::string FirstError() {
    std::unique_lock<std::mutex> g(FLock);
    FChanged.wait_for(g, 10s, [&] { return !FErrors.empty(); });
    return FErrors.empty() ? std::string() : FErrors.front();
  }
  // The peer's client run against this server: its "EXT" line and its verdict.
  std::pair<std::string, std::string> RunPeerClient(const std::string& options) {
    test::Process p({"/usr/bin/python3", test::SourceDir() + kPeer, "client", std::to_string(FPort), options});
    auto ext = p.ReadLine(20s);
    auto verdict = p.ReadLine(60s);
    return {ext.value_or("no EXT line: " + p.ReadStderr()), verdict.value_or("no verdict: " + p.ReadStderr())};
  }

 private:
  TbrzWebSocketHTTPServer FServer;
  int FPort = 0;
  std::mutex FLock;  // guards FErrors
  std::condition_variable FChanged;
  std::vector<std::string> FErrors;
};

TEST(CompressionServer, EchoesToThePeerClient) {
  struct Case {
    const char* Name;
    const char* Options;
    const char* Answer;
  };
  const Case cases[] = {
      {"context takeover", "{}", "EXT permessage-deflate;client_max_window_bits=15"},
      {"no context takeover", R"({"server_no_context_takeover": true, "client_no_context_takeover": true})",
       "EXT permessage-deflate;server_no_context_takeover;client_no_context_takeover;client_max_window_bits=15"},
      {"client window 10", R"({"client_max_window_bits": 10})", "EXT permessage-deflate;client_max_window_bits=10"},
  };
  EchoServer server;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    auto [ext, verdict] = server.RunPeerClient(c.Options);
    EXPECT_EQ(ext, c.Answer);
    // Every echo came back compressed.
    EXPECT_EQ(verdict, "OK rsv1=6 plain=0");
  }
}

TEST(CompressionServer, CorruptMessageEndsOnlyItsConnection) {
  EchoServer server;
  test::Process peer({"/usr/bin/python3", "-c",
                      "import socket,sys,base64,os\n"
                      "s=socket.create_connection(('127.0.0.1',int(sys.argv[1])))\n"
                      "k=base64.b64encode(os.urandom(16)).decode()\n"
                      "s.sendall(('GET / HTTP/1.1\\r\\nHost: x\\r\\nUpgrade: websocket\\r\\nConnection: Upgrade\\r\\n'"
                      "'Sec-WebSocket-Key: '+k+'\\r\\nSec-WebSocket-Version: 13\\r\\n'"
                      "'Sec-WebSocket-Extensions: permessage-deflate\\r\\n\\r\\n').encode())\n"
                      "h=b''\n"
                      "while b'\\r\\n\\r\\n' not in h: h+=s.recv(1)\n"
                      "print(h.decode().split('\\r\\n')[0], flush=True)\n"
                      // RSV1 text frame, masked with a zero key, whose body is no deflate data.
                      "s.sendall(bytes([0xC1,0x84,0,0,0,0,0xFF,0xFF,0xFF,0xFF]))\n"
                      "s.settimeout(10)\n"
                      "while s.recv(4096): pass\n"
                      "print('closed', flush=True)\n",
                      std::to_string(server.Port())});
  EXPECT_EQ(peer.ReadLine(10s).value_or(""), "HTTP/1.1 101 Switching Protocols");
  std::string text = server.FirstError();
  EXPECT_EQ(text.rfind("Error Inflating Frame: ", 0), 0u) << text;
  EXPECT_EQ(peer.ReadLine(10s).value_or(""), "closed");
  // A second connection to the same server still compresses and echoes.
  EXPECT_EQ(server.RunPeerClient("{}").second, "OK rsv1=6 plain=0");
}

// --- Wire rules at a scripted peer ---

// Connects client to a scripted peer answering with the given extension lines.
void ConnectScripted(Client& client, FakeWSPeer& peer, const std::vector<std::string>& answer) {
  client.SetURL(peer.Url("/"));
  client.Start();
  ASSERT_TRUE(peer.Accept());
  ASSERT_FALSE(peer.ReadRequest().empty());
  peer.Answer("", answer);
}

TEST(CompressionWire, FragmentedSendIsCompressedOnceWithRSV1OnItsFirstFrame) {
  Client client;
  Events& got = client.Got;
  FakeWSPeer peer;
  ConnectScripted(client, peer, {"Sec-WebSocket-Extensions: permessage-deflate"});
  ASSERT_EQ(got.Next(), (Event{"connect", ""}));
  std::string text = Payload(20000, 7);
  client.WriteData(text, 1000);
  std::vector<RawFrame> frames;
  std::string body;
  bool fin = false;
  for (int i = 0; i < 200 && !fin; ++i) {
    auto f = peer.ReadFrame();
    ASSERT_TRUE(f);
    fin = f->Fin;
  }
  ASSERT_TRUE(fin);
  frames = ClientFrames(peer.Raw().Received());
  ASSERT_GT(frames.size(), 1u);
  Bytes whole;
  for (size_t i = 0; i < frames.size(); ++i) {
    // RSV1 and the text opcode on the first frame only; continuations are plain pieces.
    EXPECT_EQ(frames[i].Byte0 & 0x70, i == 0 ? 0x40 : 0x00) << i;
    EXPECT_EQ(frames[i].Byte0 & 0x0F, i == 0 ? 0x1 : 0x0) << i;
    whole.insert(whole.end(), frames[i].Payload.begin(), frames[i].Payload.end());
  }
  EXPECT_TRUE(Inflate(whole) == text);
}

TEST(CompressionWire, CorruptMessageEndsTheConnectionAndAnotherStillWorks) {
  int port = 0;
  auto echo = StartPeerServer("{}", port);
  ASSERT_NE(port, 0) << echo->ReadStderr();
  Client other;
  Events& otherGot = other.Got;
  other.SetURL(Url(port));
  ASSERT_TRUE(other.Connect(5000));
  ASSERT_EQ(otherGot.Next(), (Event{"connect", ""}));

  Client client;
  Events& got = client.Got;
  FakeWSPeer peer;
  ConnectScripted(client, peer, {"Sec-WebSocket-Extensions: permessage-deflate"});
  ASSERT_EQ(got.Next(), (Event{"connect", ""}));
  peer.Send(FakeWSPeer::Frame(0xC1, Hex("FF FF FF FF")));
  Event e = got.Next();
  EXPECT_EQ(e.first, "exception");
  EXPECT_EQ(e.second.rfind("Error Inflating Frame: ", 0), 0u) << e.second;
  EXPECT_EQ(got.Next().first, "disconnect");
  EXPECT_TRUE(peer.WaitClientClosed());

  other.WriteData("still compressing");
  EXPECT_EQ(otherGot.Next(), (Event{"text", "still compressing"}));
}

TEST(CompressionWire, AnswersThatFailTheHandshakeOrBreakTheRSVRules) {
  struct Case {
    const char* Name;
    std::vector<std::string> Answer;
    Bytes Frames;  // sent after the answer
    std::vector<Event> Expected;
  };
  const std::string rsv = msg::kWSInvalidRSVExtension;
  const Case cases[] = {
      {"window bits 7", {"Sec-WebSocket-Extensions: permessage-deflate; client_max_window_bits=7"}, {},
       {{"exception", "Invalid Value for WindowBits 7"}, {"disconnect", "0"}}},
      {"RSV2 on a data frame", {"Sec-WebSocket-Extensions: permessage-deflate"}, Hex("A1 00"),
       {{"connect", ""}, {"exception", rsv}, {"disconnect", "0"}}},
      {"RSV1 on a ping", {"Sec-WebSocket-Extensions: permessage-deflate"}, Hex("C9 00"),
       {{"connect", ""}, {"exception", rsv}, {"disconnect", "0"}}},
      {"RSV1 on a continuation", {"Sec-WebSocket-Extensions: permessage-deflate"}, Hex("01 01 61 C0 01 62"),
       {{"connect", ""}, {"exception", rsv}, {"disconnect", "0"}}},
      {"RSV1 without an extension", {}, Hex("C1 00"),
       {{"connect", ""}, {"exception", msg::kWSInvalidRSV}, {"disconnect", "0"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Client client;
    Events& got = client.Got;
    FakeWSPeer peer;
    ConnectScripted(client, peer, c.Answer);
    if (!c.Frames.empty()) peer.Send(c.Frames);
    for (const auto& expected : c.Expected) EXPECT_EQ(got.Next(), expected);
    EXPECT_TRUE(peer.WaitClientClosed());
  }
}

TEST(CompressionWire, AnAnswerNamingBothActivatesOnlyPerMessageDeflate) {
  Client client;
  client.Extensions().DeflateFrame().SetEnabled(true);
  Events& got = client.Got;
  FakeWSPeer peer;
  client.SetURL(peer.Url("/"));
  client.Start();
  ASSERT_TRUE(peer.Accept());
  auto request = peer.ReadRequest();
  // One offer line per extension, permessage-deflate first.
  std::vector<std::string> offers;
  for (const auto& line : request) {
    if (line.rfind(kExtensionsHeader, 0) == 0) offers.push_back(line);
  }
  EXPECT_EQ(offers, (std::vector<std::string>{"Sec-WebSocket-Extensions: permessage-deflate; client_max_window_bits",
                                              "Sec-WebSocket-Extensions: x-webkit-deflate-frame"}));
  peer.Answer("", {"Sec-WebSocket-Extensions: permessage-deflate, x-webkit-deflate-frame"});
  ASSERT_EQ(got.Next(), (Event{"connect", ""}));
  auto ws = client.WS();
  ASSERT_TRUE(ws);
  EXPECT_TRUE(ws->Extensions().PerMessage_Deflate().Active());
  EXPECT_FALSE(ws->Extensions().DeflateFrame().Active());
  EXPECT_EQ(ws->Extensions().List(), (std::vector<std::string>{"permessage-deflate"}));
  // The component's settings stay settings: nothing became active there.
  EXPECT_FALSE(client.Extensions().Active());
}

TEST(CompressionWire, CompressedFragmentsReachTheFragmentHookDecompressedAndWhole) {
  Client client;
  client.Options().FragmentedMessages = TwsFragmentedMessages::frgOnlyFragmented;
  Events& got = client.Got;
  FakeWSPeer peer;
  ConnectScripted(client, peer, {"Sec-WebSocket-Extensions: permessage-deflate"});
  ASSERT_EQ(got.Next(), (Event{"connect", ""}));
  // "Hello" compressed (RFC 7692 section 7.2.3.1), cut into two frames.
  peer.Send(FakeWSPeer::Frame(0x41, Hex("F2 48 CD")));
  peer.Send(FakeWSPeer::Frame(0x80, Hex("C9 C9 07 00")));
  EXPECT_EQ(got.Next(), (Event{"fragment", "Hello"}));
}

}  // namespace
}  // namespace brz
