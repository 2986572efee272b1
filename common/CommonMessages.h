#pragma once
// Literal message texts of the common layer.

#include <string_view>

namespace brz {

// EConvertError: "'" + text + kInvalidIntegerSuffix, e.g. "'abc' is not a valid integer value".
inline constexpr std::string_view kInvalidIntegerSuffix = "' is not a valid integer value";
// EListError: "List does not allow duplicates ($0" + the item's address in upper-case hex + ")".
inline constexpr const char* kListDuplicatesFormat = "List does not allow duplicates ($0%" "llX" ")";
inline constexpr std::string_view kDigestFailed = "Digest failed";
inline constexpr std::string_view kRandomGeneratorFailed = "The random generator failed";
inline constexpr std::string_view kCopyBytesSourceRange = "CopyBytes: source range outside the source";

}  // namespace brz
