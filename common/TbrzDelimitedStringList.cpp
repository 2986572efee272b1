#include "common/TbrzDelimitedStringList.h"

namespace brz {

void TbrzDelimitedStringList::SetDelimitedText(std::string_view text) {
  FItems.clear();
  if (text.empty()) return;
  size_t start = 0;
  for (;;) {
    const size_t hit = text.find(FDelimiter, start);
    if (hit == std::string_view::npos) {
      FItems.emplace_back(text.substr(start));
      return;
    }
    FItems.emplace_back(text.substr(start, hit - start));
    start = hit + 1;
  }
}

std::string TbrzDelimitedStringList::DelimitedText() const {
  std::string out;
  for (size_t i = 0; i < FItems.size(); ++i) {
    if (i) out += FDelimiter;
    out += FItems[i];
  }
  return out;
}

}  // namespace brz
