#include "json/TbrzJSON.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>

namespace brz {
namespace {

using K = TbrzJSONtype;

IbrzJSON Parsed(const std::string& text) {
  IbrzJSON doc = NewJSONDocument();
  doc->Read(text);
  return doc;
}

TEST(TbrzJSON, FactoryGivesIndependentEmptyDocuments) {
  const IbrzJSON a = NewJSONDocument();
  const IbrzJSON b = NewJSONDocument();
  ASSERT_NE(a, b);
  EXPECT_EQ(a->Count(), 0);
  EXPECT_FALSE(a->IsArray());
  EXPECT_FALSE(a->EscapeStrings());
  EXPECT_EQ(a->Text(), "{}");
  a->AddPair("x", 1);
  EXPECT_EQ(b->Count(), 0);
}

TEST(TbrzJSON, LookUps) {
  const IbrzJSON doc = Parsed(R"({"a":1,"b":{"c":"d"},"a":3})");
  EXPECT_EQ(doc->Node("b")->Node("c")->Value(), "d");
  EXPECT_EQ(doc->Node("missing"), nullptr);
  EXPECT_EQ(doc->Node("B"), nullptr);  // names are case-sensitive
  EXPECT_EQ(doc->Item(-1), nullptr);
  EXPECT_EQ(doc->Item(3), nullptr);
  EXPECT_EQ(doc->Node("b")->Item(0)->Name(), "c");
  EXPECT_EQ(doc->Node("b")->Count(), 1);
  EXPECT_EQ(doc->Node("a")->Count(), 0);

  // Writes replace the first match or the indexed node and do nothing otherwise.
  auto replacement = std::make_shared<TbrzObjectJSON>();
  replacement->SetName("a");
  replacement->SetJSONType(K::brzJSONString);
  replacement->SetValue("new");
  doc->SetNode("a", replacement);
  doc->SetNode("missing", replacement);
  doc->SetItem(3, replacement);
  doc->SetItem(-1, replacement);
  doc->SetNode("b", nullptr);
  EXPECT_EQ(doc->Text(), R"({"a":"new","b":{"c":"d"},"a":3})");
  doc->SetItem(2, replacement);
  EXPECT_EQ(doc->Text(), R"({"a":"new","b":{"c":"d"},"a":"new"})");
}

TEST(TbrzJSON, ReadingTheNestedDocumentMakesAnObject) {
  // A "params" that is a string reads as an object without members.
  const IbrzJSON doc = Parsed(R"({"message":"open","params":"url"})");
  const IbrzObjectJSON params = doc->Node("params");
  EXPECT_EQ(params->Count(), 0);
  EXPECT_EQ(params->Node("url"), nullptr);
  EXPECT_EQ(params->JSONType(), K::brzJSONObject);
  EXPECT_EQ(params->Value(), "{}");

  params->Clear();
  EXPECT_EQ(params->Count(), 0);
  EXPECT_EQ(doc->Text(), R"({"message":"open","params":{}})");
}

TEST(TbrzJSON, NodesOutliveTheirDocument) {
  IbrzJSON doc = Parsed(R"({"a":{"b":[1,2]}})");
  const IbrzObjectJSON a = doc->Node("a");
  const IbrzObjectJSON list = a->Node("b");
  doc->Read("{}");
  EXPECT_EQ(a->Value(), R"({"b":[1,2]})");
  doc.reset();
  a->Clear();
  EXPECT_EQ(list->Value(), "[1,2]");
}

TEST(TbrzJSON, SerialisesBuiltNodes) {
  const IbrzJSON doc = NewJSONDocument();
  doc->AddPair("n", 1)->SetValue("1,5");  // a decimal comma is written as a point
  doc->AddPair("u", 2)->SetJSONType(K::brzJSONUndefined);
  doc->AddPair("raw", "v")->SetQuoted(false);
  doc->AddPair("q", "\"already quoted\"");
  doc->AddPair("z");
  EXPECT_EQ(doc->Text(), R"({"n":1.5,"raw":v,"q":"already quoted","z":null})");

  // A node that writes nothing leaves no separator behind, also at the end.
  doc->AddPair("last", 0)->SetJSONType(K::brzJSONUndefined);
  EXPECT_EQ(doc->Text(), R"({"n":1.5,"raw":v,"q":"already quoted","z":null})");

  // As an array every node is written bare; an added null still writes null.
  doc->SetIsArray(true);
  EXPECT_EQ(doc->Text(), R"([1.5,v,"already quoted",null])");
  EXPECT_EQ(doc->Node("z")->NamedText(), R"("z":null)");
  EXPECT_EQ(doc->Node("z")->BareText(), "null");
}

struct AddCase {
  const char* Label;
  std::function<void(TbrzJSON&)> Add;
  std::string Expected;
};

TEST(TbrzJSON, AddMembersTable) {
  const AddCase cases[] = {
      {"text", [](TbrzJSON& d) { d.AddPair("s", "text"); }, R"({"s":"text"})"},
      {"text object", [](TbrzJSON& d) { d.AddPair("s", std::string("a b")); }, R"({"s":"a b"})"},
      {"empty text", [](TbrzJSON& d) { d.AddPair("s", ""); }, R"({"s":""})"},
      {"int32", [](TbrzJSON& d) { d.AddPair("i", int32_t{-2147483647 - 1}); }, R"({"i":-2147483648})"},
      {"int64", [](TbrzJSON& d) { d.AddPair("l", int64_t{1} << 40); }, R"({"l":1099511627776})"},
      {"double", [](TbrzJSON& d) { d.AddPair("d", 0.1); }, R"({"d":0.1})"},
      {"double whole", [](TbrzJSON& d) { d.AddPair("d", 2.0); }, R"({"d":2})"},
      {"double large", [](TbrzJSON& d) { d.AddPair("d", 1e21); }, R"({"d":1e+21})"},
      {"double nan", [](TbrzJSON& d) { d.AddPair("d", std::nan("")); }, R"({"d":null})"},
      {"double inf", [](TbrzJSON& d) { d.AddPair("d", std::numeric_limits<double>::infinity()); },
       R"({"d":null})"},
      {"booleans", [](TbrzJSON& d) { d.AddPair("t", true); d.AddPair("f", false); }, R"({"t":true,"f":false})"},
      {"null", [](TbrzJSON& d) { d.AddPair("z"); }, R"({"z":null})"},
      {"embedded object", [](TbrzJSON& d) { d.AddPair("e", R"({"x":1})"); }, R"({"e":{"x":1}})"},
      {"embedded array", [](TbrzJSON& d) { d.AddPair("e", "[1,2]"); }, R"({"e":[1,2]})"},
      {"object", [](TbrzJSON& d) { d.AddObject("o", R"({ "x" : [1, 2] })"); }, R"({"o":{"x":[1,2]}})"},
      {"cut object", [](TbrzJSON& d) { d.AddObject("o", R"({"x":1,"y":)"); }, R"({"o":{"x":1}})"},
      {"array", [](TbrzJSON& d) { d.AddArray("a", R"([1, "two", {"x":null}])"); },
       R"({"a":[1,"two",{"x":null}]})"},
      {"array from object text", [](TbrzJSON& d) { d.AddArray("a", R"({"x":1})"); }, R"({"a":[1]})"},
      // an existing name keeps its node and kind; only the value changes
      {"replace", [](TbrzJSON& d) { d.AddPair("s", "a"); d.AddPair("s", 5); }, R"({"s":"5"})"},
      {"replace embedded", [](TbrzJSON& d) { d.AddPair("s", "[1]"); d.AddPair("s", "b"); }, R"({"s":"b"})"},
      {"replace object", [](TbrzJSON& d) { d.AddObject("o", R"({"x":1})"); d.AddObject("o", R"({"y":2})"); },
       R"({"o":{"y":2}})"},
      {"no escaping", [](TbrzJSON& d) { d.AddPair("k/\"", "a\"\\\n"); }, "{\"k/\"\":\"a\"\\\n\"}"},
      {"escaping", [](TbrzJSON& d) { d.SetEscapeStrings(true); d.AddPair("k\"ey", "a\"b/\xc3\xa9\t"); },
       R"({"k\"ey":"a\"b\/\u00E9\t"})"},
      {"escaped name replaces",
       [](TbrzJSON& d) { d.SetEscapeStrings(true); d.AddPair("a/b", "1"); d.AddPair("a/b", "x\"y"); },
       R"({"a\/b":"x\"y"})"},
      {"embedded json is not escaped", [](TbrzJSON& d) { d.SetEscapeStrings(true); d.AddPair("j", R"({"u":"/"})"); },
       R"({"j":{"u":"/"}})"},
  };
  for (const auto& c : cases) {
    TbrzJSON doc;
    c.Add(doc);
    EXPECT_EQ(doc.Text(), c.Expected) << c.Label;
  }
}

TEST(TbrzJSON, AddReturnsTheNodeWithItsKind) {
  const IbrzJSON doc = NewJSONDocument();
  const IbrzObjectJSON text = doc->AddPair("s", "x");
  EXPECT_EQ(text->JSONType(), K::brzJSONString);
  EXPECT_TRUE(text->Quoted());
  EXPECT_FALSE(doc->AddPair("e", "{}")->Quoted());
  EXPECT_EQ(doc->AddPair("n", int64_t{7})->JSONType(), K::brzJSONNumber);
  EXPECT_EQ(doc->AddPair("b", true)->Value(), "true");
  EXPECT_EQ(doc->AddPair("z")->JSONType(), K::brzJSONNull);
  EXPECT_EQ(doc->AddPair("z")->Value(), "");
  const IbrzObjectJSON list = doc->AddArray("a", "[1,2]");
  EXPECT_EQ(list->JSONType(), K::brzJSONList);
  EXPECT_EQ(list->Count(), 2);
  EXPECT_EQ(doc->AddObject("o", R"({"k":"v"})")->Node("k")->Value(), "v");

  EXPECT_EQ(doc->AddPair("s", "y"), text);
  EXPECT_EQ(text->Value(), "y");
  EXPECT_EQ(doc->Count(), 7);
}

// What the command processor does with a line: read, look up, serialise parts again.
TEST(TbrzJSON, CommandRoundTrip) {
  const IbrzJSON doc = Parsed(
      "{\"message\":\"publish\", \"protocol\":\"mqtt\",\n"
      " \"params\":{\"topic\":\"t/1\" \"payload\":{\"v\":[1, 2.5e1]}, \"qos\":+1, \"retain\":TRUE}}");
  const IbrzObjectJSON params = doc->Node("params");
  ASSERT_NE(params, nullptr);
  EXPECT_EQ(doc->Node("message")->Value(), "publish");
  EXPECT_EQ(params->Node("payload")->Value(), R"({"v":[1,2.5e1]})");
  EXPECT_EQ(params->Node("payload")->Node("v")->Value(), "[1,2.5e1]");
  EXPECT_EQ(params->Node("qos")->Value(), "+1");
  EXPECT_EQ(params->Node("retain")->Value(), "true");
  EXPECT_EQ(doc->Text(),
            R"({"message":"publish","protocol":"mqtt","params":{"topic":"t/1","payload":{"v":[1,2.5e1]},)"
            R"("qos":+1,"retain":true}})");
  // The serialised form reads back to itself.
  EXPECT_EQ(Parsed(doc->Text())->Text(), doc->Text());
}

}  // namespace
}  // namespace brz
