// The frame codec against a real WebSocket implementation (an echo peer in Python).
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "tests/support/TestSupport.h"
#include "websocket/TbrzWSClient.h"
#include "websocket/TbrzWSConnectionRFC6455.h"

namespace brz {
namespace {

using namespace std::chrono_literals;

class Received {
 public:
  explicit Received(TbrzWSClient& c) {
    c.OnMessage = [this](const TbrzConnectionPtr&, const std::string& t) { Add("text", t); };
    c.OnBinary = [this](const TbrzConnectionPtr&, TbrzMemoryStream& d) { Add("binary", d.ToString()); };
    c.OnDisconnect = [this](const TbrzConnectionPtr&, int32_t code) { Add("disconnect", std::to_string(code)); };
    c.OnException = [this](const TbrzConnectionPtr&, const Exception& e) { Add("exception", e.Message()); };
    c.OnError = [this](const TbrzConnectionPtr&, const std::string& e) { Add("error", e); };
  }
  // Next event as kind and data, waiting up to 20 s.
  std::pair<std::string, std::string> Next() {
    std::unique_lock<std::mutex> guard(FLock);
    if (!FChanged.wait_for(guard, 20s, [&] { return FTaken < FItems.size(); })) return {"timeout", ""};
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
  std::vector<std::pair<std::string, std::string>> FItems;
  size_t FTaken = 0;
};

class WSInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    FPeer = std::make_unique<test::Process>(
        std::vector<std::string>{"/usr/bin/python3", test::SourceDir() + "/tests/websocket/EchoPeer.py"});
    auto line = FPeer->ReadLine(10s);
    ASSERT_TRUE(line) << FPeer->ReadStderr();
    FPort = std::stoi(*line);
  }
  std::unique_ptr<test::Process> FPeer;
  int FPort = 0;
};

TEST_F(WSInterop, MessagesPingsFragmentsAndClose) {
  TbrzWebSocketClient client;
  Received got(client);
  client.SetURL("ws://127.0.0.1:" + std::to_string(FPort) + "/");
  ASSERT_TRUE(client.Connect(5000));

  client.WriteData("hello \xC3\xA9");
  EXPECT_EQ(got.Next(), (std::pair<std::string, std::string>{"text", "hello \xC3\xA9"}));
  // Our fragments are reassembled by the peer and echoed whole.
  client.WriteData("abcdefghij", 3);
  EXPECT_EQ(got.Next(), (std::pair<std::string, std::string>{"text", "abcdefghij"}));
  // The peer's ping is answered (its pong wait completes), its fragments arrive as one message.
  client.WriteData("ping-me");
  EXPECT_EQ(got.Next(), (std::pair<std::string, std::string>{"text", "pong-ok"}));
  client.WriteData("fragments");
  EXPECT_EQ(got.Next(), (std::pair<std::string, std::string>{"text", "fragmented"}));
  // Our ping is answered by a matching pong.
  EXPECT_TRUE(client.Ping(5000, "p-1"));

  for (size_t size : {size_t(1) << 20, size_t(16) << 20}) {
    std::string big(size, 'x');
    for (size_t i = 0; i < size; i += 4093) big[i] = static_cast<char>('a' + i % 26);
    TbrzMemoryStream data(big.data(), big.size());
    client.WriteData(data);
    auto echo = got.Next();
    EXPECT_EQ(echo.first, "binary");
    EXPECT_TRUE(echo.second == big) << size;
  }

  client.WriteData("close-me");
  EXPECT_EQ(got.Next(), (std::pair<std::string, std::string>{"disconnect", "4000"}));
}

}  // namespace
}  // namespace brz
