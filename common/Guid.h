#pragma once
// Random UUIDs (version 4, 128 random bits from RAND_bytes).

#include <string>

namespace brz {

// A new random UUID as 32 upper-case hex digits, without braces or hyphens.
std::string NewGuidText();
// The same in the usual form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case.
std::string NewGuidString();

}  // namespace brz
