#include "app/CommandArgs.h"

#include <cerrno>
#include <cstdlib>

#include "common/Text.h"
#include "json/JSONEscape.h"

namespace brz {

namespace {

const char* KindName(TbrzJSONtype aKind) {
  switch (aKind) {
    case TbrzJSONtype::brzJSONObject: return "an object";
    case TbrzJSONtype::brzJSONList: return "a list";
    case TbrzJSONtype::brzJSONString: return "a string";
    case TbrzJSONtype::brzJSONNumber: return "a number";
    case TbrzJSONtype::brzJSONBoolean: return "true or false";
    case TbrzJSONtype::brzJSONNull: return "null";
    default: return "nothing";
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int Base64Digit(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::string ShownValue(const IbrzObjectJSON& aNode) {
  if (!aNode) return "nothing";
  switch (aNode->JSONType()) {
    case TbrzJSONtype::brzJSONString: return "\"" + aNode->Value() + "\"";
    case TbrzJSONtype::brzJSONObject:
    case TbrzJSONtype::brzJSONList: return KindName(aNode->JSONType());
    default: return aNode->Value();
  }
}

IbrzObjectJSON TbrzCommandArgs::Node(const std::string& aName) const {
  if (!FDocument) return nullptr;
  return FDocument->Node(aName);
}

bool TbrzCommandArgs::Has(const std::string& aName) const { return Node(aName) != nullptr; }

TbrzJSONtype TbrzCommandArgs::Kind(const std::string& aName) const {
  IbrzObjectJSON node = Node(aName);
  return node ? node->JSONType() : TbrzJSONtype::brzJSONUndefined;
}

TbrzCommandArgs TbrzCommandArgs::Object(const std::string& aName) const {
  IbrzObjectJSON node = Node(aName);
  if (!node) return TbrzCommandArgs(nullptr, Path(aName) + ".");
  if (node->JSONType() != TbrzJSONtype::brzJSONObject)
    throw TbrzRefusal(Path(aName) + " must be an object (got " + ShownValue(node) + ")");
  return TbrzCommandArgs(node->JSONObject(), Path(aName) + ".");
}

std::vector<std::string> TbrzCommandArgs::Unknown(std::initializer_list<const char*> aKnown) const {
  std::vector<std::string> unknown;
  if (!FDocument) return unknown;
  for (int i = 0; i < FDocument->Count(); ++i) {
    IbrzObjectJSON node = FDocument->Item(i);
    if (!node) continue;
    bool known = false;
    for (const char* name : aKnown) known = known || node->Name() == name;
    if (!known) unknown.push_back(node->Name());
  }
  return unknown;
}

void TbrzCommandArgs::RefuseUnknown(std::initializer_list<const char*> aKnown) const {
  std::vector<std::string> unknown = Unknown(aKnown);
  if (!unknown.empty()) throw TbrzRefusal("unknown member \"" + Path(unknown.front()) + "\"");
}

bool TbrzCommandArgs::Bool(const std::string& aName, bool& aValue) const {
  IbrzObjectJSON node = Node(aName);
  if (!node) return false;
  if (node->JSONType() != TbrzJSONtype::brzJSONBoolean)
    throw TbrzRefusal(Path(aName) + " must be true or false (got " + ShownValue(node) + ")");
  aValue = node->Value() == "true";
  return true;
}

bool TbrzCommandArgs::Integer(const std::string& aName, int64_t aMin, int64_t aMax, int64_t& aValue) const {
  IbrzObjectJSON node = Node(aName);
  if (!node) return false;
  const std::string text = node->Value();
  const std::string range = " must be a whole number from " + std::to_string(aMin) + " to " + std::to_string(aMax) +
                            " (got " + ShownValue(node) + ")";
  if (node->JSONType() != TbrzJSONtype::brzJSONNumber || text.empty()) throw TbrzRefusal(Path(aName) + range);
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end != text.c_str() + text.size() || value < aMin || value > aMax)
    throw TbrzRefusal(Path(aName) + range);
  aValue = value;
  return true;
}

bool TbrzCommandArgs::String(const std::string& aName, std::string& aValue) const {
  IbrzObjectJSON node = Node(aName);
  if (!node) return false;
  if (node->JSONType() != TbrzJSONtype::brzJSONString)
    throw TbrzRefusal(Path(aName) + " must be a string (got " + ShownValue(node) + ")");
  aValue = JSONUnescape(node->Value());
  return true;
}

bool TbrzCommandArgs::Binary(const std::string& aName, std::string& aBytes) const {
  IbrzObjectJSON node = Node(aName);
  if (!node) return false;
  if (node->JSONType() == TbrzJSONtype::brzJSONString) {
    aBytes = JSONUnescape(node->Value());
    return true;
  }
  if (node->JSONType() != TbrzJSONtype::brzJSONObject)
    throw TbrzRefusal(Path(aName) + " must be a string or {\"hex\": ...} or {\"base64\": ...} (got " +
                      ShownValue(node) + ")");
  TbrzCommandArgs inner = Object(aName);
  inner.RefuseUnknown({"hex", "base64"});
  std::string text;
  if (inner.Has("hex") == inner.Has("base64"))
    throw TbrzRefusal(Path(aName) + " must hold exactly one of \"hex\" or \"base64\"");
  if (inner.String("hex", text)) aBytes = DecodeHexStrict(text, Path(aName) + ".hex");
  else if (inner.String("base64", text)) aBytes = DecodeBase64Strict(text, Path(aName) + ".base64");
  return true;
}

bool TbrzCommandArgs::UserProperties(const std::string& aName, std::vector<std::string>& aLines) const {
  IbrzObjectJSON node = Node(aName);
  if (!node) return false;
  aLines.clear();
  auto add = [&](const std::string& aKey, const std::string& aValue) {
    // Stored as "name=value": a name holding "=" could not be told apart from its value.
    if (aKey.empty() || aKey.find('=') != std::string::npos)
      throw TbrzRefusal(Path(aName) + ": a name must be non-empty and without \"=\" (got \"" + aKey + "\")");
    aLines.push_back(aKey + "=" + aValue);
  };
  const std::string shape = " must be an object of strings or a list of [name, value] pairs";
  if (node->JSONType() == TbrzJSONtype::brzJSONObject) {
    IbrzJSON members = node->JSONObject();
    for (int i = 0; i < members->Count(); ++i) {
      IbrzObjectJSON member = members->Item(i);
      if (member->JSONType() != TbrzJSONtype::brzJSONString) throw TbrzRefusal(Path(aName) + shape);
      add(JSONUnescape(member->Name()), JSONUnescape(member->Value()));
    }
    return true;
  }
  if (node->JSONType() != TbrzJSONtype::brzJSONList) throw TbrzRefusal(Path(aName) + shape);
  IbrzJSON items = node->JSONObject();
  for (int i = 0; i < items->Count(); ++i) {
    IbrzObjectJSON pair = items->Item(i);
    if (!pair || pair->JSONType() != TbrzJSONtype::brzJSONList) throw TbrzRefusal(Path(aName) + shape);
    IbrzJSON parts = pair->JSONObject();
    if (parts->Count() != 2) throw TbrzRefusal(Path(aName) + shape);
    IbrzObjectJSON key = parts->Item(0);
    IbrzObjectJSON value = parts->Item(1);
    if (key->JSONType() != TbrzJSONtype::brzJSONString || value->JSONType() != TbrzJSONtype::brzJSONString)
      throw TbrzRefusal(Path(aName) + shape);
    add(JSONUnescape(key->Value()), JSONUnescape(value->Value()));
  }
  return true;
}

bool TbrzCommandArgs::List(const std::string& aName, std::vector<IbrzObjectJSON>& aItems) const {
  IbrzObjectJSON node = Node(aName);
  if (!node) return false;
  if (node->JSONType() != TbrzJSONtype::brzJSONList)
    throw TbrzRefusal(Path(aName) + " must be a list (got " + ShownValue(node) + ")");
  IbrzJSON items = node->JSONObject();
  aItems.clear();
  for (int i = 0; i < items->Count(); ++i) aItems.push_back(items->Item(i));
  return true;
}

bool TbrzCommandArgs::Payload(std::string& aBytes, std::string* aForm) const {
  const int given = (Has("text") ? 1 : 0) + (Has("hex") ? 1 : 0) + (Has("base64") ? 1 : 0);
  if (given == 0) return false;
  if (given > 1) throw TbrzRefusal("give only one of \"text\", \"hex\" or \"base64\"");
  std::string text;
  if (String("text", aBytes)) {
    if (aForm) *aForm = "text";
  } else if (String("hex", text)) {
    aBytes = DecodeHexStrict(text, Path("hex"));
    if (aForm) *aForm = "hex";
  } else if (String("base64", text)) {
    aBytes = DecodeBase64Strict(text, Path("base64"));
    if (aForm) *aForm = "base64";
  }
  return true;
}

std::string DecodeHexStrict(const std::string& aText, const std::string& aWhat) {
  std::string bytes;
  std::string digits;
  for (char c : aText) {
    // Blanks may group the digits.
    if (c == ' ') continue;
    if (HexDigit(c) < 0) throw TbrzRefusal(aWhat + " is not hexadecimal (character '" + std::string(1, c) + "')");
    digits.push_back(c);
  }
  if (digits.size() % 2 != 0) throw TbrzRefusal(aWhat + " has an odd number of hex digits");
  bytes.reserve(digits.size() / 2);
  for (size_t i = 0; i < digits.size(); i += 2)
    bytes.push_back(static_cast<char>(HexDigit(digits[i]) * 16 + HexDigit(digits[i + 1])));
  return bytes;
}

std::string DecodeBase64Strict(const std::string& aText, const std::string& aWhat) {
  std::string text = aText;
  while (!text.empty() && text.back() == '=') text.pop_back();
  const size_t padding = aText.size() - text.size();
  if (padding > 2 || text.size() % 4 == 1 || (padding > 0 && (text.size() + padding) % 4 != 0))
    throw TbrzRefusal(aWhat + " is not valid base64");
  std::string bytes;
  uint32_t buffer = 0;
  int bits = 0;
  for (char c : text) {
    const int digit = Base64Digit(c);
    if (digit < 0) throw TbrzRefusal(aWhat + " is not valid base64 (character '" + std::string(1, c) + "')");
    buffer = (buffer << 6) | static_cast<uint32_t>(digit);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes.push_back(static_cast<char>((buffer >> bits) & 0xFF));
    }
  }
  return bytes;
}

std::string PublishTopicProblem(const std::string& aTopic, bool aAliasGiven) {
  if (aTopic.empty() && !aAliasGiven) return "topic must not be empty";
  if (aTopic.size() > 65535) return "topic is longer than 65535 bytes (" + std::to_string(aTopic.size()) + ")";
  if (!IsValidUTF8(aTopic)) return "topic is not valid UTF-8";
  if (aTopic.find('\0') != std::string::npos) return "topic must not contain U+0000";
  if (aTopic.find_first_of("+#") != std::string::npos)
    return "topic \"" + aTopic + "\" has a wildcard (+ or #); wildcards are for subscriptions";
  return {};
}

std::string TopicFilterProblem(const std::string& aFilter) {
  if (aFilter.empty()) return "topic filter must not be empty";
  if (aFilter.size() > 65535) return "topic filter is longer than 65535 bytes (" + std::to_string(aFilter.size()) + ")";
  if (!IsValidUTF8(aFilter)) return "topic filter is not valid UTF-8";
  if (aFilter.find('\0') != std::string::npos) return "topic filter must not contain U+0000";
  size_t start = 0;
  for (;;) {
    const size_t end = aFilter.find('/', start);
    const std::string level = aFilter.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const bool last = end == std::string::npos;
    if (level.find('#') != std::string::npos && (level != "#" || !last))
      return "topic filter \"" + aFilter + "\": # must be a whole level and the last one";
    if (level.find('+') != std::string::npos && level != "+")
      return "topic filter \"" + aFilter + "\": + must be a whole level";
    if (last) break;
    start = end + 1;
  }
  return {};
}

}  // namespace brz
