#include <gtest/gtest.h>

#include "app/TbrzCommandLog.h"

namespace brz {
namespace {

// A processor that runs no command, so the argument rules can be read back.
class ArgumentReader : public TbrzCommandLog {
 protected:
  void DoProcessJSON() override {}
};

struct ArgCase {
  const char* command;
  const char* name;
  bool viaParams;
  bool empty;
  const char* text;
};

TEST(CommandProcessor, ParamValueRules) {
  const ArgCase cases[] = {
      {R"({"message":"open", "params":{"url":"tcp://h:1883"}})", "url", true, false, "tcp://h:1883"},
      // Without "params" the look-up falls back to the top-level members.
      {R"({"message":"open", "url":"tcp://h:1883"})", "url", true, false, "tcp://h:1883"},
      {R"({"message":"open", "params":"tcp://h"})", "url", true, true, ""},
      {R"({"message":"m", "params":{"h":{"a" : 1, "b":[1, 2]}}})", "h", true, false, R"({"a":1,"b":[1,2]})"},
      {R"({"message":"m", "params":{"l":[1, "x", {"b":true}]}})", "l", true, false, R"([1,"x",{"b":true}])"},
      {R"({"params":{"n":+1}})", "n", true, false, "+1"},
      {R"({"params":{"n":007}})", "n", true, false, "007"},
      {R"({"params":{"n":1e3}})", "n", true, false, "1e3"},
      {R"({"params":{"b":TRUE}})", "b", true, false, "true"},
      {R"({"params":{"b":False}})", "b", true, false, "false"},
      {R"({"params":{"z":NULL}})", "z", true, false, "null"},
      // String escapes are decoded; object and list members keep their JSON text.
      {R"({"params":{"s":"x\"y"}})", "s", true, false, R"(x"y)"},
      {R"({"params":{"s":"a\\b\/c\n\t\u00e9\ud83d\ude00\q"}})", "s", true, false, "a\\b/c\n\t\xC3\xA9\xF0\x9F\x98\x80\\q"},
      {R"({"params":{"s":"\ud800x"}})", "s", true, false, "\xEF\xBF\xBDx"},
      {R"({"params":{"h":{"s":"x\"y"}}})", "h", true, false, R"({"s":"x\"y"})"},
      {R"({"params":{"a":1, "a":2}})", "a", true, false, "1"},
      {R"({"params":{"a":1}})", "missing", true, true, ""},
      {R"({"message":"open" "params":{"url":"tcp://h:1883",}})", "url", true, false, "tcp://h:1883"},
      {R"({"message":"Open"})", "message", false, false, "Open"},
      {"not json", "message", false, true, ""},
      {"", "message", false, true, ""},
  };
  ArgumentReader reader;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    reader.DoJSON(c.command);
    const TbrzParamValue value = c.viaParams ? reader.ParamValue(c.name, reader.Params()) : reader.ParamValue(c.name);
    EXPECT_EQ(value.AsText(), c.text);
    EXPECT_EQ(value.IsEmpty() || value.AsText().empty(), c.empty);
  }
}

TEST(CommandProcessor, EachCommandReplacesThePreviousDocument) {
  ArgumentReader reader;
  reader.DoJSON(R"({"message":"a", "params":{"x":"1"}})");
  reader.DoJSON(R"({"message":"b"})");
  EXPECT_EQ(reader.ParamValue("message").AsText(), "b");
  EXPECT_TRUE(reader.ParamValue("x", reader.Params()).IsEmpty());
}

}  // namespace
}  // namespace brz
