#include <gtest/gtest.h>

#include <random>
#include <string>

#include "json/TbrzJSON.h"

namespace brz {
namespace {

using K = TbrzJSONtype;

std::string Reread(const std::string& input) {
  const IbrzJSON doc = NewJSONDocument();
  doc->Read(input);
  return doc->Text();
}

struct TextCase {
  std::string Input;
  std::string Expected;
};

// What survives a parse, seen through the serialised form.
TEST(TbrzJSONRead, TextTable) {
  const TextCase cases[] = {
      // blanks vanish, separators are optional, a comma before the close is accepted
      {R"({ "a" : [ 1 , {"b" : "c"} ] })", R"({"a":[1,{"b":"c"}]})"},
      {R"({"message":"open" "params":{"url":"tcp://h:1883",}})",
       R"({"message":"open","params":{"url":"tcp://h:1883"}})"},
      {R"([1 2,3,])", "[1,2,3]"},
      {"{\t\"a\"\r\n:\f1}", R"({"a":1})"},
      {"{}", "{}"},
      {"[]", "[]"},
      {R"({"a":{},"b":[]})", R"({"a":{},"b":[]})"},
      {R"([[1,[2]],{"a":null}])", R"([[1,[2]],{"a":null}])"},
      // comments and blank lines
      {"{\n# first line\n\n  \"a\":1 # after a value\n  # \"b\":2\n}", R"({"a":1})"},
      {"{\"a\":1 # comment ends at a carriage return\r\"b\":2}", R"({"a":1,"b":2})"},
      // numbers and literals kept as written, literals lower-cased
      {R"({"n": +007, "b": TRUE, "z": Null})", R"({"n":+007,"b":true,"z":null})"},
      {R"({"a":-1.50E+03,"b":2e7,"c":FaLsE})", R"({"a":-1.50E+03,"b":2e7,"c":false})"},
      // strings keep their escapes as written
      {R"({"k\"ey":"a\"b\/\u00E9\n"})", R"({"k\"ey":"a\"b\/\u00E9\n"})"},
      // the leading-'[' rule
      {"[1,2]", "[1,2]"},
      {" [1,2]", "{}"},
      {"\n{\"a\":1}", R"({"a":1})"},
      // the first misfit ends every level and keeps what was read
      {R"({"a":1, "b":)", R"({"a":1})"},
      {R"({"a":1,,"b":2})", R"({"a":1})"},
      {R"({,"a":1})", "{}"},
      {R"({"a":1x,"b":2})", R"({"a":1})"},
      {R"({"a":{"b":1,"c":)", R"({"a":{"b":1}})"},
      {R"({"a":[1,2)", R"({"a":[1,2]})"},
      {R"({"a":[1,{"b":)", R"({"a":[1,{}]})"},
      {R"({"a":1,"b":{"c":2}x,"d":3})", R"({"a":1,"b":{"c":2}})"},
      {R"({"a":.5})", "{}"},
      {R"({"a":5.})", "{}"},
      {R"({"a":1e})", "{}"},
      {R"({"a":-})", "{}"},
      {R"({"a":tru})", "{}"},
      {R"({"a":"open)", "{}"},
      {R"({"a":"\u12"})", "{}"},  // \u swallows the closing quote and brace
      {R"({a:1})", "{}"},
      {"{\v\"a\":1}", "{}"},  // vertical tab is no blank
      {"", "{}"},
      {R"("text")", "{}"},
      // text after the top-level value is ignored
      {R"({"a":1} trailing {"b":2})", R"({"a":1})"},
  };
  for (const auto& c : cases) EXPECT_EQ(Reread(c.Input), c.Expected) << "input: " << c.Input;
}

struct ValueCase {
  std::string Input;
  std::string Name;
  K Kind;
  std::string Value;
};

TEST(TbrzJSONRead, ValueTable) {
  const ValueCase cases[] = {
      {R"({"a":"x\"y"})", "a", K::brzJSONString, R"(x\"y)"},
      {R"({"a":"x\\"})", "a", K::brzJSONString, R"(x\\)"},
      {R"({"a":["x\\"]})", "a", K::brzJSONList, R"(["x\\"])"},
      {R"({"a":"x\\","b":1})", "b", K::brzJSONNumber, "1"},
      // after an escaped backslash a quote ends the string only before '}', ']' or ','
      {R"({"a":"x\\"y"})", "a", K::brzJSONString, R"(x\\"y)"},
      {R"({"a":"x\\" ,"b":1})", "a", K::brzJSONString, R"(x\\" ,)"},
      {R"({"a":"","b":1})", "a", K::brzJSONString, ""},
      {R"({"n": +007})", "n", K::brzJSONNumber, "+007"},
      {R"({"n":-0.5e-3})", "n", K::brzJSONNumber, "-0.5e-3"},
      {R"({"b": TRUE})", "b", K::brzJSONBoolean, "true"},
      {R"({"b": False})", "b", K::brzJSONBoolean, "false"},
      {R"({"z": Null})", "z", K::brzJSONNull, "null"},
      {R"({"a":1, "a":2})", "a", K::brzJSONNumber, "1"},
      {R"({"a" : { "b" : 1 , } })", "a", K::brzJSONObject, R"({"b":1})"},
      {R"({"a":[1, "x", [true]]})", "a", K::brzJSONList, R"([1,"x",[true]])"},
      {R"({"A":1,"a":2})", "a", K::brzJSONNumber, "2"},
  };
  for (const auto& c : cases) {
    const IbrzJSON doc = NewJSONDocument();
    doc->Read(c.Input);
    const IbrzObjectJSON node = doc->Node(c.Name);
    ASSERT_NE(node, nullptr) << "input: " << c.Input;
    EXPECT_EQ(node->JSONType(), c.Kind) << "input: " << c.Input;
    EXPECT_EQ(node->Value(), c.Value) << "input: " << c.Input;
  }
}

TEST(TbrzJSONRead, DuplicatesAreAllKept) {
  const IbrzJSON doc = NewJSONDocument();
  doc->Read(R"({"a":1, "a":2})");
  ASSERT_EQ(doc->Count(), 2);
  EXPECT_EQ(doc->Item(1)->Value(), "2");
  EXPECT_EQ(doc->Text(), R"({"a":1,"a":2})");
}

TEST(TbrzJSONRead, ArrayDocument) {
  const IbrzJSON doc = NewJSONDocument();
  doc->Read("[1,\"two\",{\"x\":3}]");
  EXPECT_TRUE(doc->IsArray());
  ASSERT_EQ(doc->Count(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(doc->Item(i)->Name(), "");
  EXPECT_EQ(doc->Item(1)->Value(), "two");
  EXPECT_EQ(doc->Item(2)->Node("x")->Value(), "3");

  // Each read starts afresh, also from the array mark.
  doc->Read(R"({"a":1})");
  EXPECT_FALSE(doc->IsArray());
  EXPECT_EQ(doc->Count(), 1);
  doc->Read("not json");
  EXPECT_EQ(doc->Count(), 0);
  EXPECT_EQ(doc->Text(), "{}");
}

TEST(TbrzJSONRead, ListContentIsMarkedAsArrayOnlyByValue) {
  const IbrzJSON doc = NewJSONDocument();
  doc->Read(R"({"a":[1,2]})");
  const IbrzObjectJSON list = doc->Node("a");
  EXPECT_EQ(list->Count(), 2);
  EXPECT_FALSE(list->JSONObject()->IsArray());
  EXPECT_EQ(list->JSONType(), K::brzJSONList);  // reading the nested document keeps the list kind
  EXPECT_EQ(list->Value(), "[1,2]");
  EXPECT_TRUE(list->JSONObject()->IsArray());
}

// Every cut of a command keeps the members completed before the cut.
TEST(TbrzJSONRead, EveryCutKeepsCompletedMembers) {
  const std::string full = R"({"message":"open","params":{"url":"tcp://h:1883"}})";
  const size_t messageDone = full.find(R"(,"params")");
  const size_t paramsOpened = full.find(R"({"url")") + 1;
  const size_t urlDone = full.find("}}");
  for (size_t length = 0; length <= full.size(); ++length) {
    std::string expected;
    if (length < messageDone) expected = "{}";
    else if (length < paramsOpened) expected = R"({"message":"open"})";
    else if (length < urlDone) expected = R"({"message":"open","params":{}})";
    else expected = R"({"message":"open","params":{"url":"tcp://h:1883"}})";
    EXPECT_EQ(Reread(full.substr(0, length)), expected) << "cut at " << length;
  }
}

int NestingDepth(const IbrzJSON& doc) {
  int depth = 1;
  for (IbrzObjectJSON node = doc->Item(0); node && node->JSONType() == K::brzJSONList; node = node->Item(0)) {
    ++depth;
  }
  return depth;
}

TEST(TbrzJSONRead, NestingIsCapped) {
  const IbrzJSON doc = NewJSONDocument();
  doc->Read(std::string(kMaxJSONDepth, '[') + std::string(kMaxJSONDepth, ']'));
  EXPECT_EQ(NestingDepth(doc), kMaxJSONDepth);
  EXPECT_EQ(doc->Text(), std::string(kMaxJSONDepth, '[') + std::string(kMaxJSONDepth, ']'));

  // One level more ends the parse at the innermost '[', keeping the levels above it.
  doc->Read(std::string(kMaxJSONDepth + 1, '[') + "1" + std::string(kMaxJSONDepth + 1, ']'));
  EXPECT_EQ(NestingDepth(doc), kMaxJSONDepth);

  // Hostile depth neither overflows the stack nor loops.
  std::string objects;
  for (int i = 0; i < 200000; ++i) objects += R"({"a":)";
  doc->Read(objects);
  int depth = 1;
  for (IbrzObjectJSON node = doc->Node("a"); node; node = node->JSONObject()->Node("a")) ++depth;
  EXPECT_EQ(depth, kMaxJSONDepth);
  doc->Read(std::string(1000000, '['));
  EXPECT_EQ(NestingDepth(doc), kMaxJSONDepth);
}

TEST(TbrzJSONRead, GarbageNeverCrashes) {
  // Fragments that steer the parser into every branch, glued at random.
  const std::string pieces[] = {"{", "}", "[", "]", ",", ":", "\"", "\\", "\\u", "\\\"", "\"a\"", "#",
                                "\n", " ", "+", "-", ".", "e", "1", "007", "TRUE", "nul", "false", "\xc3",
                                "\xff", "x", std::string(1, '\0')};
  std::mt19937 generator(20240601);
  std::uniform_int_distribution<size_t> pick(0, std::size(pieces) - 1);
  std::uniform_int_distribution<int> length(0, 60);
  const IbrzJSON doc = NewJSONDocument();
  for (int round = 0; round < 5000; ++round) {
    std::string text = round % 2 ? "{" : "[";
    for (int i = length(generator); i > 0; --i) text += pieces[pick(generator)];
    doc->Read(text);
    const std::string out = doc->Text();
    ASSERT_FALSE(out.empty());
    EXPECT_TRUE(out.front() == '{' || out.front() == '[') << out;
    for (int i = 0; i < doc->Count(); ++i) doc->Item(i)->Value();
    doc->Read(out);
  }
}

}  // namespace
}  // namespace brz
