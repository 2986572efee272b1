#pragma once
// The value of one command argument: empty (argument absent) or text exactly as written.

#include <cstdint>
#include <string>

namespace brz {

class TbrzParamValue {
 public:
  TbrzParamValue() = default;
  explicit TbrzParamValue(std::string text) : FAssigned(true), FText(std::move(text)) {}

  bool IsEmpty() const { return !FAssigned; }
  const std::string& AsText() const { return FText; }
  // An absent argument is 0; text that is no integer raises EConvertError.
  int32_t AsInteger() const;

 private:
  bool FAssigned = false;
  std::string FText;
};

// The runtime's lenient integer scan: leading blanks skipped, optional sign, decimal digits or a
// hexadecimal form with '$' or "0x"; stops at the first other character and keeps what it read.
int32_t ValInteger(const std::string& text);

}  // namespace brz
