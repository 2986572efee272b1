#include "json/JSONEscape.h"

#include <gtest/gtest.h>

#include <string>

namespace brz {
namespace {

struct EscapeCase {
  std::string Input;
  std::string Expected;
};

TEST(JSONEscape, Table) {
  const EscapeCase cases[] = {
      {"", ""},
      {"\b\t\n\f\r", R"(\b\t\n\f\r)"},
      {"\"/\\", R"(\"\/\\)"},
      {std::string("\x00\x01\x0b\x1f", 4), R"(\u0000\u0001\u000B\u001F)"},
      {"plain ASCII ~\x7f", "plain ASCII ~\x7f"},
      {"\xc3\xa9", R"(\u00E9)"},                    // two-byte sequence
      {"\xe2\x82\xac", R"(\u20AC)"},                // three-byte sequence
      {"\xef\xbf\xbf", R"(\uFFFF)"},
      {"\xf0\x9f\x98\x80", R"(\uD83D\uDE00)"},      // above U+FFFF: surrogate pair
      {"\xf4\x8f\xbf\xbf", R"(\uDBFF\uDFFF)"},      // U+10FFFF
      {"\xff", R"(\uFFFD)"},                        // never valid
      {"\xe2\x82", R"(\uFFFD)"},                    // cut sequence: one replacement
      {"\xe2\x82" "A", R"(\uFFFDA)"},               // the misfit byte is read again
      {"\xc0\xaf", R"(\uFFFD\uFFFD)"},              // overlong
      {"\xed\xa0\x80", R"(\uFFFD\uFFFD\uFFFD)"},    // encoded surrogate
      {"\xf4\x90\x80\x80", R"(\uFFFD\uFFFD\uFFFD\uFFFD)"},  // above U+10FFFF
      {"a\x80z", R"(a\uFFFDz)"},                    // stray continuation byte
  };
  for (const auto& c : cases) EXPECT_EQ(JSONEscape(c.Input), c.Expected) << "input: " << c.Input;
}

}  // namespace
}  // namespace brz
