#include "json/TbrzJSON.h"

#include <charconv>
#include <cmath>

#include "json/JSONEscape.h"

namespace brz {

namespace {

bool StartsWithJSON(const std::string& text) {
  return !text.empty() && (text.front() == '{' || text.front() == '[');
}

bool HoldsDocument(TbrzJSONtype kind) {
  return kind == TbrzJSONtype::brzJSONObject || kind == TbrzJSONtype::brzJSONList;
}

std::string NumberText(double value) {
  // NaN and infinity have no JSON number form.
  if (!std::isfinite(value)) return "null";
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

}  // namespace

IbrzJSON NewJSONDocument() { return std::make_shared<TbrzJSON>(); }

// Appends the nodes separated by ','. A node that writes nothing also gets no separator, and a
// node text that already left a ',' behind gets no second one.
void TbrzJSON::AppendNodes(std::string& out, const std::vector<IbrzObjectJSON>& nodes, bool named) {
  const size_t start = out.size();
  for (const auto& node : nodes) {
    const size_t before = out.size();
    if (before > start && out.back() != ',') out += ',';
    const size_t separated = out.size();
    node->AppendText(out, named);
    if (out.size() == separated) out.resize(before);
  }
}

// --- node -------------------------------------------------------------------------------------

IbrzJSON TbrzObjectJSON::JSONObject() {
  if (!FJSONObject) FJSONObject = std::make_shared<TbrzJSON>();
  if (FJSONType != TbrzJSONtype::brzJSONList) FJSONType = TbrzJSONtype::brzJSONObject;
  return FJSONObject;
}

IbrzObjectJSON TbrzObjectJSON::Node(const std::string& name) { return JSONObject()->Node(name); }

void TbrzObjectJSON::SetNode(const std::string& name, IbrzObjectJSON node) {
  JSONObject()->SetNode(name, std::move(node));
}

IbrzObjectJSON TbrzObjectJSON::Item(int index) { return JSONObject()->Item(index); }

void TbrzObjectJSON::SetItem(int index, IbrzObjectJSON node) { JSONObject()->SetItem(index, std::move(node)); }

std::string TbrzObjectJSON::Value() {
  switch (FJSONType) {
    case TbrzJSONtype::brzJSONObject:
      return JSONObject()->Text();
    case TbrzJSONtype::brzJSONList: {
      const IbrzJSON nested = JSONObject();
      nested->SetIsArray(true);
      return nested->Text();
    }
    default:
      return FValue;
  }
}

int TbrzObjectJSON::Count() const { return FJSONObject ? FJSONObject->Count() : 0; }

std::string TbrzObjectJSON::NamedText() const {
  std::string out;
  AppendText(out, true);
  return out;
}

std::string TbrzObjectJSON::BareText() const {
  std::string out;
  AppendText(out, false);
  return out;
}

void TbrzObjectJSON::AppendText(std::string& out, bool named) const {
  const auto appendName = [&] {
    out += '"';
    out += FName;
    out += "\":";
  };
  switch (FJSONType) {
    case TbrzJSONtype::brzJSONObject:
      if (named) appendName();
      if (FJSONObject) FJSONObject->AppendText(out);
      else out += "{}";
      break;
    case TbrzJSONtype::brzJSONList:
      if (named && !FName.empty()) appendName();
      out += '[';
      if (FJSONObject) TbrzJSON::AppendNodes(out, FJSONObject->FData, false);
      out += ']';
      break;
    case TbrzJSONtype::brzJSONString:
      if (named) appendName();
      if (FQuoted && (FValue.empty() || FValue.front() != '"')) {
        out += '"';
        out += FValue;
        out += '"';
      } else {
        out += FValue;
      }
      break;
    case TbrzJSONtype::brzJSONNumber:
      if (named) appendName();
      for (const char c : FValue) out += c == ',' ? '.' : c;
      break;
    case TbrzJSONtype::brzJSONBoolean:
      if (named) appendName();
      out += FValue;
      break;
    case TbrzJSONtype::brzJSONNull:
      // An added null element stores no text; writing nothing would drop the element.
      if (named) {
        appendName();
        out += "null";
      } else {
        out += FValue.empty() ? std::string("null") : FValue;
      }
      break;
    case TbrzJSONtype::brzJSONUndefined:
      break;
  }
}

// --- document ---------------------------------------------------------------------------------

IbrzObjectJSON TbrzJSON::Node(const std::string& name) const {
  for (const auto& node : FData) {
    if (node->FName == name) return node;
  }
  return nullptr;
}

void TbrzJSON::SetNode(const std::string& name, IbrzObjectJSON node) {
  if (!node) return;
  for (auto& existing : FData) {
    if (existing->FName == name) {
      existing = std::move(node);
      return;
    }
  }
}

IbrzObjectJSON TbrzJSON::Item(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return FData[static_cast<size_t>(index)];
}

void TbrzJSON::SetItem(int index, IbrzObjectJSON node) {
  if (!node || index < 0 || index >= Count()) return;
  FData[static_cast<size_t>(index)] = std::move(node);
}

std::string TbrzJSON::Text() const {
  std::string out;
  AppendText(out);
  return out;
}

void TbrzJSON::AppendText(std::string& out) const {
  out += FIsArray ? '[' : '{';
  AppendNodes(out, FData, !FIsArray);
  out += FIsArray ? ']' : '}';
}

IbrzObjectJSON TbrzJSON::Add(const std::string& name, const std::string& value, TbrzJSONtype kind) {
  const bool isString = kind == TbrzJSONtype::brzJSONString;
  // Embedded JSON is written as it stands, so escaping it would corrupt it.
  const bool embedded = isString && StartsWithJSON(value);
  const std::string stored = isString && FEscapeStrings && !embedded ? JSONEscape(value) : value;
  const std::string storedName = FEscapeStrings ? JSONEscape(name) : name;

  if (IbrzObjectJSON existing = Node(storedName)) {
    // Replacement keeps the kind; a node holding a document takes the new text as its content.
    if (HoldsDocument(existing->FJSONType)) {
      existing->JSONObject()->Read(value);
    } else {
      existing->FValue = stored;
      if (isString && existing->FJSONType == TbrzJSONtype::brzJSONString) existing->FQuoted = !embedded;
    }
    return existing;
  }

  auto node = std::make_shared<TbrzObjectJSON>();
  node->FName = storedName;
  node->FJSONType = kind;
  if (HoldsDocument(kind)) {
    node->JSONObject()->Read(value);
  } else {
    node->FValue = stored;
    node->FQuoted = !embedded;
  }
  Append(node);
  return node;
}

IbrzObjectJSON TbrzJSON::AddPair(const std::string& name, const std::string& text) {
  return Add(name, text, TbrzJSONtype::brzJSONString);
}

IbrzObjectJSON TbrzJSON::AddPair(const std::string& name, const char* text) {
  return Add(name, text ? std::string(text) : std::string(), TbrzJSONtype::brzJSONString);
}

IbrzObjectJSON TbrzJSON::AddPair(const std::string& name, int32_t value) {
  return Add(name, std::to_string(value), TbrzJSONtype::brzJSONNumber);
}

IbrzObjectJSON TbrzJSON::AddPair(const std::string& name, int64_t value) {
  return Add(name, std::to_string(value), TbrzJSONtype::brzJSONNumber);
}

IbrzObjectJSON TbrzJSON::AddPair(const std::string& name, double value) {
  return Add(name, NumberText(value), TbrzJSONtype::brzJSONNumber);
}

IbrzObjectJSON TbrzJSON::AddPair(const std::string& name, bool value) {
  return Add(name, value ? "true" : "false", TbrzJSONtype::brzJSONBoolean);
}

IbrzObjectJSON TbrzJSON::AddPair(const std::string& name) { return Add(name, "", TbrzJSONtype::brzJSONNull); }

IbrzObjectJSON TbrzJSON::AddObject(const std::string& name, const std::string& text) {
  return Add(name, text, TbrzJSONtype::brzJSONObject);
}

IbrzObjectJSON TbrzJSON::AddArray(const std::string& name, const std::string& text) {
  return Add(name, text, TbrzJSONtype::brzJSONList);
}

}  // namespace brz
