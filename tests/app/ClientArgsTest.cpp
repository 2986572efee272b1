// Strict argument readers, topic checks, and the event line additions (exact payloads, time stamps,
// waits).
#include <gtest/gtest.h>

#include <regex>

#include "app/CommandArgs.h"
#include "app/EventDetails.h"
#include "app/EventWaits.h"

namespace brz {
namespace {

TbrzCommandArgs ArgsOf(const std::string& json) {
  IbrzJSON document = NewJSONDocument();
  document->Read(json);
  return TbrzCommandArgs(document);
}

std::string Refusal(const std::function<void()>& body) {
  try {
    body();
  } catch (const TbrzRefusal& refusal) {
    return refusal.what();
  }
  return "<accepted>";
}

TEST(ClientArgs, TopicChecks) {
  struct Case {
    std::string Topic;
    bool PublishOk;
    bool FilterOk;
  } cases[] = {
      {"a/b", true, true},       {"a/+/c", false, true},    {"a/#", false, true},     {"#", false, true},
      {"+", false, true},        {"a/b#", false, false},    {"a/#/c", false, false},  {"a+/b", false, false},
      {"", false, false},        {"/", true, true},         {"\xC3\x28", false, false},
      {std::string("a\0b", 3), false, false},               {std::string(65535, 'x'), true, true},
      {std::string(65536, 'x'), false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Topic.substr(0, 20));
    EXPECT_EQ(PublishTopicProblem(c.Topic, false).empty(), c.PublishOk);
    EXPECT_EQ(TopicFilterProblem(c.Topic).empty(), c.FilterOk);
  }
  // An empty topic name is fine when a topic alias stands for it.
  EXPECT_EQ(PublishTopicProblem("", true), "");
}

TEST(ClientArgs, BinaryForms) {
  EXPECT_EQ(DecodeHexStrict("00 ff80", "hex"), std::string("\x00\xFF\x80", 3));
  EXPECT_EQ(DecodeBase64Strict("AP+A", "b"), std::string("\x00\xFF\x80", 3));
  EXPECT_EQ(DecodeBase64Strict("aGk=", "b"), "hi");
  EXPECT_EQ(DecodeBase64Strict("aGk", "b"), "hi");
  EXPECT_EQ(DecodeBase64Strict("", "b"), "");
  EXPECT_EQ(Refusal([] { DecodeHexStrict("0g", "hex"); }), "hex is not hexadecimal (character 'g')");
  EXPECT_EQ(Refusal([] { DecodeHexStrict("abc", "hex"); }), "hex has an odd number of hex digits");
  EXPECT_EQ(Refusal([] { DecodeBase64Strict("a*==", "b"); }), "b is not valid base64 (character '*')");
  EXPECT_EQ(Refusal([] { DecodeBase64Strict("a", "b"); }), "b is not valid base64");
  EXPECT_EQ(Refusal([] { DecodeBase64Strict("aG===", "b"); }), "b is not valid base64");

  std::string bytes;
  ASSERT_TRUE(ArgsOf(R"({"c":{"base64":"AQI="}})").Binary("c", bytes));
  EXPECT_EQ(bytes, "\x01\x02");
  ASSERT_TRUE(ArgsOf(R"({"c":"a\"b"})").Binary("c", bytes));
  EXPECT_EQ(bytes, "a\"b");
  EXPECT_EQ(Refusal([] { std::string b; ArgsOf(R"({"c":{"hex":"01","base64":"AQ=="}})").Binary("c", b); }),
            "c must hold exactly one of \"hex\" or \"base64\"");
  EXPECT_EQ(Refusal([] { std::string b; ArgsOf(R"({"text":"a","hex":"01"})").Payload(b); }),
            "give only one of \"text\", \"hex\" or \"base64\"");
}

TEST(ClientArgs, TypesRangesUnknownMembersAndUserProperties) {
  const TbrzCommandArgs args = ArgsOf(R"({"n":7, "f":1.5, "s":"7", "b":true, "o":{"x":1}, "u":[["a","1"],["a","2"]]})");
  int64_t n = 0;
  bool b = false;
  EXPECT_TRUE(args.Integer("n", 0, 10, n));
  EXPECT_EQ(n, 7);
  EXPECT_FALSE(args.Integer("absent", 0, 10, n));
  EXPECT_EQ(Refusal([&] { args.Integer("n", 0, 2, n); }), "n must be a whole number from 0 to 2 (got 7)");
  EXPECT_EQ(Refusal([&] { args.Integer("f", 0, 2, n); }), "f must be a whole number from 0 to 2 (got 1.5)");
  EXPECT_EQ(Refusal([&] { args.Integer("s", 0, 10, n); }), "s must be a whole number from 0 to 10 (got \"7\")");
  EXPECT_EQ(Refusal([&] { args.Bool("n", b); }), "n must be true or false (got 7)");
  EXPECT_EQ(Refusal([&] { args.Object("o").RefuseUnknown({"y"}); }), "unknown member \"o.x\"");
  EXPECT_EQ(args.Unknown({"n", "f", "s", "b", "o"}), std::vector<std::string>{"u"});

  std::vector<std::string> lines;
  ASSERT_TRUE(args.UserProperties("u", lines));
  EXPECT_EQ(lines, (std::vector<std::string>{"a=1", "a=2"}));
  ASSERT_TRUE(ArgsOf(R"({"u":{"k":"v","l":"w"}})").UserProperties("u", lines));
  EXPECT_EQ(lines, (std::vector<std::string>{"k=v", "l=w"}));
  EXPECT_EQ(Refusal([] { std::vector<std::string> l; ArgsOf(R"({"u":[["a"]]})").UserProperties("u", l); }),
            "u must be an object of strings or a list of [name, value] pairs");
  EXPECT_EQ(Refusal([] { std::vector<std::string> l; ArgsOf(R"({"u":{"a=b":"c"}})").UserProperties("u", l); }),
            "u: a name must be non-empty and without \"=\" (got \"a=b\")");
}

TEST(ClientEventLines, ExactPayloadsDetailsAndTime) {
  TbrzWSMQTTPUBLISH publish;
  publish.SetTopic("t");
  publish.SetPayload("hi");
  EXPECT_EQ(EventLine::MQTTPublishExact("t", publish),
            R"({"event": "publish", "protocol": "mqtt", "params":{"topic": "t", "text": "hi"}})");
  publish.SetPayload(std::string("a\0b", 3));
  EXPECT_EQ(EventLine::MQTTPublishExact("t", publish),
            R"({"event": "publish", "protocol": "mqtt", "params":{"topic": "t", "text": "a\u0000b", "base64": "YQBi"}})");
  publish.SetQoS(TmqttQoS::mtqsExactlyOnce);
  publish.SetPacketIdentifier(9);
  EXPECT_EQ(EventLine::MQTTPublishDetails(publish, true),
            R"({"event": "publish", "protocol": "mqtt", "params":{"topic": "t", "base64": "YQBi", "qos": 2, "retain": false, "dup": false, "packetidentifier": 9}})");

  const std::string stamped = WithTime(R"({"event": "connected"})");
  EXPECT_TRUE(std::regex_match(stamped, std::regex(R"(\{"event": "connected", "time": "\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z"\})")))
      << stamped;
  EXPECT_EQ(WithTime("Server Listening on *:8080"), "Server Listening on *:8080");
}

TEST(ClientEventLines, WaitCountsMatchingLinesOnly) {
  TbrzEventWait wait("publish", 2, std::chrono::milliseconds(5000),
                     {{"topic", true, "a/b"}, {"qos", false, "1"}});
  wait.Offer(R"({"event": "publish", "protocol": "mqtt", "params":{"topic": "a/b", "text": "x", "qos": 1}})");
  wait.Offer(R"({"event": "publish", "protocol": "mqtt", "params":{"topic": "a/c", "text": "x", "qos": 1}})");
  wait.Offer(R"({"event": "publish", "protocol": "mqtt", "params":{"topic": "a/b", "text": "x"}})");
  wait.Offer(R"({"event": "subscribe", "protocol": "mqtt", "params":{"topic": "a/b", "qos": 1}})");
  wait.Offer("Server Listening on *:8080");
  EXPECT_EQ(wait.Seen(), 1);
  wait.Offer(R"({"event": "publish", "protocol": "mqtt", "params":{"topic": "a\/b", "qos": 1}})");
  EXPECT_TRUE(wait.Block());
  TbrzEventWait never("connect", 1, std::chrono::milliseconds(50), {});
  EXPECT_FALSE(never.Block());
}

}  // namespace
}  // namespace brz
