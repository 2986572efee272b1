#pragma once
// Text-to-number conversions with the runtime's conversion-error messages.

#include <cstdint>
#include <string>
#include <string_view>

namespace brz {

// Decimal integer with optional sign, or hexadecimal with a leading '$' or "0x";
// surrounding blanks are not allowed. Raises EConvertError "'<text>' is not a valid integer value".
int32_t StrToInt(std::string_view text);
int64_t StrToInt64(std::string_view text);
// As StrToInt, but returns Default instead of raising.
int32_t StrToIntDef(std::string_view text, int32_t Default);
int64_t StrToInt64Def(std::string_view text, int64_t Default);
bool TryStrToInt64(std::string_view text, int64_t& value);

}  // namespace brz
