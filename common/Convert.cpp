#include "common/Convert.h"

#include <limits>

#include "common/CommonMessages.h"
#include "common/Exception.h"

namespace brz {

bool TryStrToInt64(std::string_view text, int64_t& value) {
  size_t i = 0;
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
  if (i >= text.size()) return false;
  // Accumulate as a negative number so INT64_MIN fits.
  int64_t acc = 0;
  const int64_t min = std::numeric_limits<int64_t>::min();
  for (; i < text.size(); ++i) {
    const char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return false;
    if (acc < (min + digit) / base) return false;
    acc = acc * base - digit;
  }
  if (!negative) {
    if (acc == min) return false;
    acc = -acc;
  }
  value = acc;
  return true;
}

int64_t StrToInt64(std::string_view text) {
  int64_t value = 0;
  if (!TryStrToInt64(text, value))
    throw EConvertError("'" + std::string(text) + std::string(kInvalidIntegerSuffix));
  return value;
}

int32_t StrToInt(std::string_view text) {
  int64_t value = 0;
  if (!TryStrToInt64(text, value) || value < std::numeric_limits<int32_t>::min() ||
      value > std::numeric_limits<int32_t>::max())
    throw EConvertError("'" + std::string(text) + std::string(kInvalidIntegerSuffix));
  return static_cast<int32_t>(value);
}

int64_t StrToInt64Def(std::string_view text, int64_t Default) {
  int64_t value = 0;
  return TryStrToInt64(text, value) ? value : Default;
}

int32_t StrToIntDef(std::string_view text, int32_t Default) {
  int64_t value = 0;
  if (!TryStrToInt64(text, value) || value < std::numeric_limits<int32_t>::min() ||
      value > std::numeric_limits<int32_t>::max())
    return Default;
  return static_cast<int32_t>(value);
}

}  // namespace brz
