#include "app/ParamValue.h"

#include "common/Convert.h"

namespace brz {

int32_t TbrzParamValue::AsInteger() const {
  if (!FAssigned) return 0;
  return StrToInt(FText);
}

int32_t ValInteger(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else break;
    value = value * base + digit;
    // Saturate instead of overflowing on absurdly long digit runs.
    if (value > INT32_MAX) {
      value = INT32_MAX;
      break;
    }
  }
  return static_cast<int32_t>(negative ? -value : value);
}

}  // namespace brz
