#pragma once
// A string list split and joined strictly at one delimiter: blanks and quotes have no meaning.

#include <string>
#include <string_view>
#include <vector>

namespace brz {

class TbrzDelimitedStringList {
 public:
  explicit TbrzDelimitedStringList(char delimiter = ',') : FDelimiter(delimiter) {}
  char Delimiter() const { return FDelimiter; }
  void SetDelimiter(char delimiter) { FDelimiter = delimiter; }
  // Replaces the items by the parts of text between delimiters: "" gives no item, "a," gives "a" and "".
  void SetDelimitedText(std::string_view text);
  // The items joined by the delimiter.
  std::string DelimitedText() const;
  size_t Count() const { return FItems.size(); }
  const std::string& operator[](size_t index) const { return FItems.at(index); }
  void Add(std::string item) { FItems.push_back(std::move(item)); }
  void Clear() { FItems.clear(); }
  const std::vector<std::string>& Items() const { return FItems; }

 private:
  char FDelimiter;
  std::vector<std::string> FItems;
};

}  // namespace brz
