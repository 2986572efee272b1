// The built program with -server: remote operators (WebSocket, Hixie-76, raw TCP) drive it like
// the console and receive every event line.

#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "tests/server/ServerTestSupport.h"
#include "tests/support/TestSupport.h"

namespace brz {
namespace {

using test::Process;
using test::RawPeer;

const std::string kApi5 = R"({"message":"api", "protocol":"mqtt", "params":{"version":"5.0"}})";
const std::string kApi311 = R"({"message":"api", "protocol":"mqtt", "params":{"version":"3.1.1"}})";
const std::string kOptions5 = R"({"event": "options", "protocol": "mqtt", "params":{"version": "5.0"}})";
const std::string kOptions311 = R"({"event": "options", "protocol": "mqtt", "params":{"version": "3.1.1"}})";

// The program listening on 127.0.0.1:Port.
struct Program {
  int Port = test::FreeTcpPort();
  Process P{{test::BrzmqttPath(), "-server", "-server.ip", "127.0.0.1", "-server.port:" + std::to_string(Port)}};
  std::vector<std::string> Seen;

  Program() {
    EXPECT_TRUE(P.ReadLineContaining("Server Listening on 127.0.0.1:" + std::to_string(Port), std::chrono::seconds(10),
                                     &Seen));
    EXPECT_EQ(Seen.back(), "Server Listening on 127.0.0.1:" + std::to_string(Port));
  }
  // Next console line containing needle.
  std::string Expect(const std::string& needle) {
    auto line = P.ReadLineContaining(needle, std::chrono::seconds(10), &Seen);
    return line ? *line : std::string();
  }
};

std::unique_ptr<Process> WebSocketOperator(int port) {
  auto op = std::make_unique<Process>(std::vector<std::string>{
      "/usr/bin/python3", test::SourceDir() + "/tests/e2e/ServerOperator.py",
      "ws://127.0.0.1:" + std::to_string(port) + "/"});
  EXPECT_EQ(op->ReadLine(std::chrono::seconds(10)).value_or(""), "OPEN");
  return op;
}

// A raw operator that has run one command, so it is classified and receives every line from now.
std::unique_ptr<RawPeer> RawOperator(int port) {
  auto peer = std::make_unique<RawPeer>(port);
  peer->Send(kApi5 + "\n");
  EXPECT_EQ(peer->ReadUntil("\n"), kOptions5 + "\n");
  return peer;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

const std::regex kConnected("Client [0-9A-F]{32} connected from 127\\.0\\.0\\.1");
const std::regex kDisconnected("Client [0-9A-F]{32} disconnected from 127\\.0\\.0\\.1");

TEST(RemoteControl, OperatorsCommandLikeTheConsoleAndReceiveEveryLine) {
  Program program;
  RawPeer raw(program.Port);
  raw.Send(" \r\n");  // a blank line is classified as raw TCP and runs nothing
  EXPECT_TRUE(std::regex_match(program.Expect("connected from"), kConnected));
  auto ws = WebSocketOperator(program.Port);
  EXPECT_TRUE(std::regex_match(program.Expect("connected from"), kConnected));

  // Console command: console and both operators.
  program.P.WriteLine(kApi5);
  EXPECT_EQ(program.Expect("options"), kOptions5);
  EXPECT_EQ(ws->ReadLine().value_or(""), "MSG " + kOptions5);
  EXPECT_EQ(raw.ReadUntil("\n"), kOptions5 + "\n");

  // WebSocket text and binary commands, and a raw TCP line split over two writes.
  ws->WriteLine("SEND " + kApi311);
  EXPECT_EQ(program.Expect("options"), kOptions311);
  ws->WriteLine("BINARY " + kApi5);
  EXPECT_EQ(program.Expect("options"), kOptions5);
  raw.Send(kApi311.substr(0, 20));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  raw.Send(kApi311.substr(20) + "\r\n" + kApi5 + "\n");
  EXPECT_EQ(program.Expect("options"), kOptions311);
  EXPECT_EQ(program.Expect("options"), kOptions5);
  for (const std::string& expected : {kOptions311, kOptions5, kOptions311, kOptions5}) {
    EXPECT_EQ(ws->ReadLine().value_or(""), "MSG " + expected);
    EXPECT_EQ(raw.ReadUntil("\n"), expected + "\n");
  }

  // Help and connection lines stay on the console.
  program.P.WriteLine("HELP");
  EXPECT_EQ(program.Expect("TCP Server"), "***TCP Server***");
  ws->WriteLine("QUIT");
  EXPECT_EQ(ws->ReadLine().value_or(""), "CLOSED");
  EXPECT_TRUE(std::regex_match(program.Expect("disconnected from"), kDisconnected));
  program.P.WriteLine(kApi5);
  EXPECT_EQ(program.Expect("options"), kOptions5);
  EXPECT_EQ(raw.ReadUntil("\n"), kOptions5 + "\n");
  program.P.WriteLine("EXIT");
  std::string rest;
  EXPECT_TRUE(raw.Closed(std::chrono::seconds(10), &rest));
  EXPECT_EQ(rest, "");
  EXPECT_EQ(program.P.Wait(), 0);
}

TEST(RemoteControl, Hixie76OperatorRunsCommands) {
  Program program;
  RawPeer peer(program.Port);
  peer.Send("GET /demo HTTP/1.1\r\nHost: example.com\r\nConnection: Upgrade\r\nUpgrade: WebSocket\r\n"
            "Sec-WebSocket-Key1: 4 @1  46546xW%0l 1 5\r\nSec-WebSocket-Key2: 12998 5 Y3 1  .P00\r\n"
            "Origin: http://example.com\r\n\r\n^n:ds[4U");
  EXPECT_NE(peer.ReadUntil("8jKS'y:G*Co,Wxa-").find("HTTP/1.1 101 WebSocket Protocol Handshake\r\n"),
            std::string::npos);
  peer.Send(std::string(1, '\0') + kApi5 + "\xff");
  EXPECT_EQ(program.Expect("options"), kOptions5);
  EXPECT_EQ(peer.Read(kOptions5.size() + 2), std::string(1, '\0') + kOptions5 + "\xff");
}

TEST(RemoteControl, ConcurrentOperatorsNeverCorruptEachOthersCommands) {
  Program program;
  constexpr int kEach = 50;
  auto a = RawOperator(program.Port);
  auto b = RawOperator(program.Port);
  EXPECT_EQ(a->ReadUntil("\n"), kOptions5 + "\n");  // b's first command
  std::string burstA, burstB;
  for (int i = 0; i < kEach; ++i) {
    burstA += kApi5 + "\n";
    burstB += kApi311 + "\n";
  }
  std::thread ta([&] { a->Send(burstA); });
  std::thread tb([&] { b->Send(burstB); });
  ta.join();
  tb.join();
  for (RawPeer* peer : {a.get(), b.get()}) {
    std::string text;
    for (int i = 0; i < 2 * kEach; ++i) {
      std::string line = peer->ReadUntil("\n");
      if (line.empty()) break;
      text += line;
    }
    auto lines = SplitLines(text);
    ASSERT_EQ(lines.size(), static_cast<size_t>(2 * kEach));
    EXPECT_EQ(std::count(lines.begin(), lines.end(), kOptions5), kEach);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), kOptions311), kEach);
  }
}

TEST(RemoteControl, OperatorOpensABrokerSessionAndEveryoneSeesIt) {
  test::Broker broker("", false);
  Program program;
  auto rawOperator = RawOperator(program.Port);
  RawPeer& raw = *rawOperator;
  auto ws = WebSocketOperator(program.Port);
  ws->WriteLine("SEND " + kApi311);
  EXPECT_EQ(raw.ReadUntil("\n"), kOptions311 + "\n");
  ws->WriteLine(R"(SEND {"message":"open", "params":{"url":"tcp://127.0.0.1:)" + std::to_string(broker.Port()) +
                R"("}})");
  const std::string connect =
      R"({"event": "connect", "protocol": "mqtt", "params":{"session": "false", "reasoncode": 0, "reasonname": "Connection Accepted"}})";
  EXPECT_EQ(program.Expect("\"connect\""), connect);
  EXPECT_EQ(raw.ReadUntil("\n"), connect + "\n");
  EXPECT_EQ(ws->ReadLine().value_or(""), "MSG " + kOptions311);
  EXPECT_EQ(ws->ReadLine().value_or(""), "MSG " + connect);
}

TEST(RemoteControl, OverlongRawLineDropsOnlyThatOperator) {
  Program program;
  RawPeer hostile(program.Port), calm(program.Port);
  calm.Send("\n");
  try {
    hostile.Send(std::string(2 * 1024 * 1024, 'x'));
  } catch (const std::exception&) {
    // The server may close while the flood is still being sent.
  }
  EXPECT_EQ(program.Expect("Command line longer"), "Command line longer than 1048576 bytes.");
  EXPECT_TRUE(hostile.Closed(std::chrono::seconds(10)));
  calm.Send(kApi5 + "\n");
  EXPECT_EQ(calm.ReadUntil("\n"), kOptions5 + "\n");
}

TEST(RemoteControl, PortInUseEndsTheProgramWithTheError) {
  Program first;
  Process second({test::BrzmqttPath(), "-server", "-server.ip", "127.0.0.1", "-server.port", std::to_string(first.Port)});
  std::vector<std::string> seen;
  auto line = second.ReadLineContaining("ESocketError", std::chrono::seconds(10), &seen);
  EXPECT_EQ(line.value_or(""), "ESocketError: Could not bind socket to 127.0.0.1:" + std::to_string(first.Port) +
                                   ": Address already in use");
  EXPECT_EQ(second.Wait(), 1);  // a failure
}

}  // namespace
}  // namespace brz
