// The lenient parser behind TbrzJSON::Read. It reads as far as the text fits and keeps every node
// completed so far; the first misfit ends the current level and every enclosing one.

#include <string_view>

#include "json/TbrzJSON.h"

namespace brz {

class TbrzJSONReader {
 public:
  explicit TbrzJSONReader(std::string_view text) : FText(text) {}

  void ReadDocument(TbrzJSON& doc) {
    // Only a '[' as the very first character makes an array document; after blanks the text
    // must be an object.
    if (!FText.empty() && FText.front() == '[') {
      doc.FIsArray = true;
      ReadArray(doc, 1);
    } else {
      SkipBlanks();
      ReadObject(doc, 1);
    }
  }

 private:
  bool AtEnd() const { return FPos >= FText.size(); }
  char Peek() const { return AtEnd() ? '\0' : FText[FPos]; }
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
  static char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

  // Blanks are tab, line feed, form feed, carriage return and space; '#' comments run to the line end.
  void SkipBlanks() {
    while (!AtEnd()) {
      const char c = FText[FPos];
      if (c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ') {
        ++FPos;
      } else if (c == '#') {
        while (!AtEnd() && FText[FPos] != '\n' && FText[FPos] != '\r') ++FPos;
      } else {
        return;
      }
    }
  }

  bool ReadObject(TbrzJSON& doc, int depth) {
    if (Peek() != '{') return false;
    ++FPos;
    for (;;) {
      SkipBlanks();
      if (Peek() == '}') {
        ++FPos;
        return true;
      }
      std::string name;
      if (!ReadString(name)) return false;
      SkipBlanks();
      if (Peek() != ':') return false;
      ++FPos;
      SkipBlanks();
      if (!ReadValue(doc, std::move(name), depth)) return false;
      SkipBlanks();
      if (Peek() == ',') ++FPos;  // the separator is optional
    }
  }

  bool ReadArray(TbrzJSON& doc, int depth) {
    if (Peek() != '[') return false;
    ++FPos;
    for (;;) {
      SkipBlanks();
      if (Peek() == ']') {
        ++FPos;
        return true;
      }
      if (!ReadValue(doc, std::string(), depth)) return false;
      SkipBlanks();
      if (Peek() == ',') ++FPos;
    }
  }

  // Reads one value at the current (non-blank) position and appends its node to doc.
  bool ReadValue(TbrzJSON& doc, std::string name, int depth) {
    const char c = Peek();
    auto node = std::make_shared<TbrzObjectJSON>();
    node->FName = std::move(name);
    if (c == '{' || c == '[') {
      if (depth >= kMaxJSONDepth) return false;
      node->FJSONType = c == '{' ? TbrzJSONtype::brzJSONObject : TbrzJSONtype::brzJSONList;
      node->FJSONObject = std::make_shared<TbrzJSON>();
      const bool ok = c == '{' ? ReadObject(*node->FJSONObject, depth + 1) : ReadArray(*node->FJSONObject, depth + 1);
      // Kept even when cut off, with whatever its content read.
      doc.Append(std::move(node));
      return ok;
    }
    bool ok;
    if (c == '"') {
      node->FJSONType = TbrzJSONtype::brzJSONString;
      ok = ReadString(node->FValue);
    } else if (c == '+' || c == '-' || IsDigit(c)) {
      node->FJSONType = TbrzJSONtype::brzJSONNumber;
      ok = ReadNumber(node->FValue);
    } else {
      ok = ReadLiteral(*node);
    }
    if (ok) doc.Append(std::move(node));
    return ok;
  }

  // A string's raw text between the quotes; escapes are skipped over, not decoded.
  bool ReadString(std::string& raw) {
    if (Peek() != '"') return false;
    const size_t start = ++FPos;
    while (!AtEnd()) {
      const char c = FText[FPos];
      if (c == '\\') {
        FPos += FPos + 1 < FText.size() && FText[FPos + 1] == 'u' ? 6 : 2;
        continue;
      }
      if (c == '"') {
        // After an escaped backslash ("a\\") a quote ends the string only before '}', ']' or ','.
        if (FPos > start && FText[FPos - 1] == '\\') {
          const char next = FPos + 1 < FText.size() ? FText[FPos + 1] : '\0';
          if (next != '}' && next != ']' && next != ',') {
            ++FPos;
            continue;
          }
        }
        raw.assign(FText.substr(start, FPos - start));
        ++FPos;
        return true;
      }
      ++FPos;
    }
    return false;  // cut off inside the string (or inside an escape)
  }

  // Sign, digits, optional fraction and exponent, kept exactly as written.
  bool ReadNumber(std::string& raw) {
    const size_t start = FPos;
    if (Peek() == '+' || Peek() == '-') ++FPos;
    if (!SkipDigits()) return false;
    if (Peek() == '.') {
      ++FPos;
      if (!SkipDigits()) return false;
    }
    if (Peek() == 'e' || Peek() == 'E') {
      ++FPos;
      if (Peek() == '+' || Peek() == '-') ++FPos;
      if (!SkipDigits()) return false;
    }
    raw.assign(FText.substr(start, FPos - start));
    return true;
  }

  bool SkipDigits() {
    const size_t start = FPos;
    while (IsDigit(Peek())) ++FPos;
    return FPos > start;
  }

  // true, false and null in any letter case, stored in lower case.
  bool ReadLiteral(TbrzObjectJSON& node) {
    static constexpr struct {
      std::string_view Word;
      TbrzJSONtype Kind;
    } kLiterals[] = {{"true", TbrzJSONtype::brzJSONBoolean},
                     {"false", TbrzJSONtype::brzJSONBoolean},
                     {"null", TbrzJSONtype::brzJSONNull}};
    for (const auto& literal : kLiterals) {
      if (FText.size() - FPos < literal.Word.size()) continue;
      bool match = true;
      for (size_t i = 0; i < literal.Word.size() && match; ++i) match = Lower(FText[FPos + i]) == literal.Word[i];
      if (!match) continue;
      FPos += literal.Word.size();
      node.FJSONType = literal.Kind;
      node.FValue = literal.Word;
      return true;
    }
    return false;
  }

  std::string_view FText;
  size_t FPos = 0;
};

void TbrzJSON::Read(const std::string& text) {
  Clear();
  FIsArray = false;
  TbrzJSONReader(text).ReadDocument(*this);
}

}  // namespace brz
