// The connection commands and their event lines, on a processor without the MQTT engine.

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "app/TbrzCommandLog_WSClient.h"
#include "common/Exception.h"
#include "tests/support/ScriptedPeer.h"

namespace brz {
namespace {

using namespace std::chrono_literals;
using test::ScriptedPeer;
using test::ToText;

// Records every event line instead of printing it.
class RecordingProcessor : public TbrzCommandLog_WSProtocolClient {
 public:
  void WriteLog(const std::string& Text) override {
    std::lock_guard<std::mutex> guard(FLock);
    FLines.push_back(Text);
    FChanged.notify_all();
  }
  // Waits until at least count lines arrived; returns all lines so far.
  std::vector<std::string> WaitLines(size_t count, std::chrono::milliseconds timeout = 5s) {
    std::unique_lock<std::mutex> lock(FLock);
    FChanged.wait_for(lock, timeout, [&] { return FLines.size() >= count; });
    return FLines;
  }
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> guard(FLock);
    return FLines;
  }

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  std::vector<std::string> FLines;
};

std::string Open(const std::string& url) { return R"({"message":"open", "params":{"url":")" + url + R"("}})"; }

TEST(ClientCommands, OpenWriteBroadcastCloseOverRawTCP) {
  ScriptedPeer peer;
  RecordingProcessor processor;
  processor.DoJSON(Open(peer.Url("tcp")));
  ASSERT_TRUE(peer.Accept());
  EXPECT_EQ(processor.WaitLines(1), std::vector<std::string>{R"({"event": "connected"})"});

  processor.DoJSON(R"({"message":"write", "params":{"text":"abc"}})");
  EXPECT_EQ(ToText(peer.Receive(3)), "abc");
  processor.DoJSON(R"({"message":"broadcast", "params":{"text":"é"}})");
  EXPECT_EQ(ToText(peer.Receive(3 + 15 + 2)), "abc#brz_broadcast:\xC3\xA9");

  // Text from the peer is not a message on raw TCP: bytes arrive as binary, which prints nothing.
  peer.Send("hello");
  processor.DoJSON(R"({"message":"close"})");
  EXPECT_TRUE(peer.WaitClientClosed());
  auto lines = processor.WaitLines(2);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[1].rfind(R"({"event": "disconnected", "code": )", 0), 0u) << lines[1];
}

TEST(ClientCommands, OpenWithoutParamsReadsTheTopLevel) {
  ScriptedPeer peer;
  RecordingProcessor processor;
  processor.DoJSON(R"({"message":"open", "url":")" + peer.Url("tcp") + R"("})");
  ASSERT_TRUE(peer.Accept());
  EXPECT_EQ(processor.WaitLines(1).at(0), R"({"event": "connected"})");
}

TEST(ClientCommands, RefusedConnectionGivesOneErrorLineAndCommandsGoOn) {
  int port;
  {
    ScriptedPeer closed;
    port = closed.Port();
  }
  RecordingProcessor processor;
  processor.DoJSON(Open("tcp://127.0.0.1:" + std::to_string(port)));
  auto lines = processor.WaitLines(1);
  std::this_thread::sleep_for(300ms);
  lines = processor.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind(R"({"event": "error", "description": ")", 0), 0u) << lines[0];
  // The processor still takes commands.
  processor.DoJSON(R"({"message":"watchdog", "params":{"watchdog":{"enabled": false}}})");
  EXPECT_EQ(processor.WaitLines(2).at(1),
            R"({"event": "options", "params":{"watchdog": {"enabled": false, "interval": 10}}})");
}

TEST(ClientCommands, CloseWhileNotConnectedDoesNothing) {
  RecordingProcessor processor;
  processor.DoJSON(R"({"message":"close"})");
  processor.DoJSON(R"({"message":"close", "params":{"code": 1000}})");
  processor.DoJSON(R"({"message":"Open", "params":{"url":"tcp://127.0.0.1:1"}})");
  std::this_thread::sleep_for(200ms);
  EXPECT_TRUE(processor.Lines().empty());
  EXPECT_FALSE(processor.ClientComponent().Active());
}

TEST(ClientCommands, CloseStopsTheWatchDogFromReopeningALostConnection) {
  ScriptedPeer peer;
  RecordingProcessor processor;
  processor.DoJSON(R"({"message":"watchdog", "params":{"watchdog":{"enabled": true, "interval": 1}}})");
  processor.DoJSON(Open(peer.Url("tcp")));
  ASSERT_TRUE(peer.Accept());
  processor.WaitLines(2);
  peer.CloseClient();
  // The lost connection is reopened by the watchdog...
  ASSERT_TRUE(peer.Accept(5s));
  peer.CloseClient();
  std::this_thread::sleep_for(200ms);
  // ...until the operator closes.
  processor.DoJSON(R"({"message":"close"})");
  const size_t before = processor.Lines().size();
  EXPECT_FALSE(peer.Accept(2500ms));
  EXPECT_EQ(processor.Lines().size(), before);
}

TEST(ClientCommands, HeartBeatAndWatchDogOptions) {
  RecordingProcessor processor;
  processor.DoJSON(R"({"message":"heartbeat", "params":{"heartbeat":{"interval": 15}}})");
  EXPECT_EQ(processor.ClientComponent().HeartBeat().Interval, 15);
  EXPECT_TRUE(processor.Lines().empty());
  processor.DoJSON(R"({"message":"heartbeat", "params":{"heartbeat":{"enabled": true, "interval": 30}}})");
  processor.DoJSON(R"({"message":"heartbeat", "params":{"heartbeat":{"enabled": false, "interval": 0}}})");
  processor.DoJSON(R"({"message":"watchdog", "params":{"watchdog":{"enabled": true, "interval": 2}}})");
  processor.DoJSON(R"({"message":"watchdog", "params":{"watchdog":{"enabled": "yes"}}})");
  processor.DoJSON(R"({"message":"watchdog"})");
  EXPECT_EQ(processor.Lines(), (std::vector<std::string>{
                                   R"({"event": "options", "params":{"heartbeat": {"enabled": true, "interval": 30}}})",
                                   R"({"event": "options", "params":{"heartbeat": {"enabled": false, "interval": 30}}})",
                                   R"({"event": "options", "params":{"watchdog": {"enabled": true, "interval": 2}}})",
                               }));
  EXPECT_FALSE(processor.ClientComponent().HeartBeat().Enabled);
  EXPECT_TRUE(processor.ClientComponent().WatchDog().Enabled);
  processor.DoJSON(R"({"message":"watchdog", "params":{"watchdog":{"enabled": false}}})");
  EXPECT_FALSE(processor.ClientComponent().WatchDog().Enabled);
}

TEST(ClientCommands, NonIntegerIntervalSkipsThatCommandOnly) {
  RecordingProcessor processor;
  // The console gets the conversion error line; the next command runs as usual.
  EXPECT_NO_THROW(processor.DoJSON(R"({"message":"heartbeat", "params":{"heartbeat":{"interval": "abc"}}})"));
  processor.DoJSON(R"({"message":"heartbeat", "params":{"heartbeat":{"enabled": true, "interval": 30}}})");
  EXPECT_EQ(processor.Lines(), (std::vector<std::string>{
                                   R"({"event": "options", "params":{"heartbeat": {"enabled": true, "interval": 30}}})",
                               }));
  // An operator's command still raises it to the server, which reports it.
  EXPECT_THROW(processor.DoOperatorJSON(R"({"message":"heartbeat", "params":{"heartbeat":{"interval": "abc"}}})"),
               EConvertError);
}

}  // namespace
}  // namespace brz
