#include <gtest/gtest.h>

#include "app/EventLines.h"

namespace brz {
namespace {

TEST(EventLines, ExactForms) {
  EXPECT_EQ(EventLine::Connected(), R"({"event": "connected"})");
  EXPECT_EQ(EventLine::Disconnected(1000), R"({"event": "disconnected", "code": 1000})");
  EXPECT_EQ(EventLine::Message("hi"), R"({"event": "message", "text": "hi"})");
  EXPECT_EQ(EventLine::Error("Connection refused"), R"({"event": "error", "description": "Connection refused"})");
  EXPECT_EQ(EventLine::HeartBeatOptions(true, 30),
            R"({"event": "options", "params":{"heartbeat": {"enabled": true, "interval": 30}}})");
  EXPECT_EQ(EventLine::WatchDogOptions(false, 10),
            R"({"event": "options", "params":{"watchdog": {"enabled": false, "interval": 10}}})");
  EXPECT_EQ(EventLine::MQTTConnect(false, 0, "Success"),
            R"({"event": "connect", "protocol": "mqtt", "params":{"session": "false", "reasoncode": 0, "reasonname": "Success"}})");
  EXPECT_EQ(EventLine::MQTTPublish("t", "x"),
            R"({"event": "publish", "protocol": "mqtt", "params":{"topic": "t", "text": "x"}})");
  EXPECT_EQ(EventLine::MQTTAck("puback", 65535, 16, "No matching subscribers"),
            R"({"event": "puback", "protocol": "mqtt", "params":{"packetidentifier": 65535, "reasoncode": 16, "reasonname": "No matching subscribers"}})");
  EXPECT_EQ(EventLine::MQTTDisconnected(0, "Normal disconnection"),
            R"({"event": "disconnected", "protocol": "mqtt", "params":{"reasoncode": 0, "reasonname": "Normal disconnection"}})");
  EXPECT_EQ(EventLine::MQTTVersion("5.0"), R"({"event": "options", "protocol": "mqtt", "params":{"version": "5.0"}})");
  EXPECT_EQ(EventLine::MQTTAuthenticationOn("user", "mellow"),
            R"({"event": "authentication", "protocol": "mqtt", "params": {"enabled": true, "username": "user", "password": "mellow"}})");
  EXPECT_EQ(EventLine::MQTTAuthenticationOff(),
            R"({"event": "authentication", "protocol": "mqtt", "params": {"enabled": false}})");
  EXPECT_EQ(EventLine::MQTTHeartBeat(true, 30),
            R"({"event": "heartbeat", "protocol": "mqtt", "params":{"enabled": true, "interval": 30}})");
  EXPECT_EQ(EventLine::MQTTHeartBeat(false, 30),
            R"({"event": "heartbeat", "protocol": "mqtt", "params": {"enabled": false, "interval": 30}})");
}

TEST(EventLines, InsertedTextsAreEscaped) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain é text", "plain é text"},
      {"a\"b", "a\\\"b"},
      {"back\\slash", "back\\\\slash"},
      {"line\nbreak\r\t", "line\\nbreak\\r\\t"},
      {std::string("nul\0x", 5), "nul\\u0000x"},
      {"\x1f\x7f", "\\u001F\\u007F"},
  };
  for (const auto& [raw, escaped] : cases) EXPECT_EQ(JsonEscape(raw), escaped);
  EXPECT_EQ(EventLine::MQTTPublish("a\"}", "x\ny"),
            R"({"event": "publish", "protocol": "mqtt", "params":{"topic": "a\"}", "text": "x\ny"}})");
}

}  // namespace
}  // namespace brz
