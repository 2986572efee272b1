#pragma once
// Escaping of names and string values added to a document with EscapeStrings set.

#include <string>
#include <string_view>

namespace brz {

// Backspace, tab, line feed, form feed and carriage return become \b \t \n \f \r; '"', '/' and
// '\' get a backslash; other control codes and every character from U+0080 up become \u plus four
// upper-case hex digits per UTF-16 code unit (surrogate pairs above U+FFFF). Invalid UTF-8 bytes
// are read as U+FFFD, so the result is always plain ASCII.
std::string JSONEscape(std::string_view text);

}  // namespace brz

namespace brz {

// The text a JSON string literal stands for: \" \\ \/ \b \f \n \r \t and \uXXXX (surrogate pairs
// joined) decoded to UTF-8. An escape that is not valid JSON is kept as written; a lone surrogate
// becomes U+FFFD.
std::string JSONUnescape(std::string_view text);

}  // namespace brz
