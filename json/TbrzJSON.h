#pragma once
// The lenient command document: an ordered list of named nodes, each a scalar kept as the exact
// input text or a nested document. Reading never fails loudly; it keeps what fitted the grammar.
//
// Ownership: a document shares its nodes and a node shares its nested document, so a node or
// document handed out stays valid after its parent is cleared. Not thread-safe: one user at a time
// (the command processor serialises its commands).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace brz {

enum class TbrzJSONtype : uint8_t {
  brzJSONUndefined,
  brzJSONObject,
  brzJSONList,
  brzJSONString,
  brzJSONNumber,
  brzJSONBoolean,
  brzJSONNull
};

class TbrzJSON;
class TbrzObjectJSON;
using IbrzJSON = std::shared_ptr<TbrzJSON>;
using IbrzObjectJSON = std::shared_ptr<TbrzObjectJSON>;

// Nesting deeper than this ends a parse like a character that does not fit, which bounds the
// recursion of parser, serialiser and destructors on hostile input.
constexpr int kMaxJSONDepth = 512;

// A new, empty document with no owner; it lives as long as a reference to it is held.
IbrzJSON NewJSONDocument();

class TbrzObjectJSON {
 public:
  // The nested document, created on first read; the kind becomes object unless it is a list.
  IbrzJSON JSONObject();
  void SetJSONObject(IbrzJSON value) { FJSONObject = std::move(value); }
  TbrzJSONtype JSONType() const { return FJSONType; }
  void SetJSONType(TbrzJSONtype value) { FJSONType = value; }

  // Members and elements of the nested document (created on demand, as JSONObject).
  IbrzObjectJSON Node(const std::string& name);
  void SetNode(const std::string& name, IbrzObjectJSON node);
  IbrzObjectJSON Item(int index);
  void SetItem(int index, IbrzObjectJSON node);

  // Object: the nested text; list: the nested text as an array; other kinds: the stored value.
  std::string Value();
  void SetValue(const std::string& value) { FValue = value; }
  int Count() const;

  const std::string& Name() const { return FName; }
  void SetName(const std::string& value) { FName = value; }
  bool Quoted() const { return FQuoted; }
  void SetQuoted(bool value) { FQuoted = value; }
  // Releases the nested document.
  void Clear() { FJSONObject.reset(); }

  // Serialised form: NamedText as a member ("name":value), BareText as an array element.
  std::string NamedText() const;
  std::string BareText() const;
  void AppendText(std::string& out, bool named) const;

 private:

  bool FQuoted = true;
  std::string FValue;
  std::string FName;
  IbrzJSON FJSONObject;
  TbrzJSONtype FJSONType = TbrzJSONtype::brzJSONUndefined;

  friend class TbrzJSON;
  friend class TbrzJSONReader;
};

class TbrzJSON {
 public:
  int Count() const { return static_cast<int>(FData.size()); }
  // First node whose name matches exactly, or none.
  IbrzObjectJSON Node(const std::string& name) const;
  // Replaces the first node of that name; nothing when there is none (or node is empty).
  void SetNode(const std::string& name, IbrzObjectJSON node);
  // Node at index from 0, or none when out of range.
  IbrzObjectJSON Item(int index) const;
  void SetItem(int index, IbrzObjectJSON node);
  bool IsArray() const { return FIsArray; }
  void SetIsArray(bool value) { FIsArray = value; }
  bool EscapeStrings() const { return FEscapeStrings; }
  void SetEscapeStrings(bool value) { FEscapeStrings = value; }

  // Adds a member, or replaces the value of the first member of that name (its kind stays).
  // A text beginning with '{' or '[' is embedded JSON and is written without quotes.
  IbrzObjectJSON AddPair(const std::string& name, const std::string& text);
  IbrzObjectJSON AddPair(const std::string& name, const char* text);
  IbrzObjectJSON AddPair(const std::string& name, int32_t value);
  IbrzObjectJSON AddPair(const std::string& name, int64_t value);
  IbrzObjectJSON AddPair(const std::string& name, double value);
  IbrzObjectJSON AddPair(const std::string& name, bool value);
  IbrzObjectJSON AddPair(const std::string& name);  // null member
  // Members whose content is parsed from text.
  IbrzObjectJSON AddObject(const std::string& name, const std::string& text);
  IbrzObjectJSON AddArray(const std::string& name, const std::string& text);

  void Clear() { FData.clear(); }
  // Replaces the content with the parse of text; never throws, a misfit ends the parse.
  void Read(const std::string& text);
  // Serialised form without blanks.
  std::string Text() const;
  void AppendText(std::string& out) const;

 private:
  IbrzObjectJSON Add(const std::string& name, const std::string& value, TbrzJSONtype kind);
  void Append(IbrzObjectJSON node) { FData.push_back(std::move(node)); }
  static void AppendNodes(std::string& out, const std::vector<IbrzObjectJSON>& nodes, bool named);

  bool FIsArray = false;
  std::vector<IbrzObjectJSON> FData;
  bool FEscapeStrings = false;

  friend class TbrzObjectJSON;
  friend class TbrzJSONReader;
};

}  // namespace brz
