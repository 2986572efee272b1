# Turns the web console page into a C++ source: cmake -DIN=index.html -DOUT=WebConsolePage.cpp -P embed.cmake
file(READ "${IN}" bytes HEX)
string(LENGTH "${bytes}" hexLength)
math(EXPR size "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," body "${bytes}")
string(REGEX REPLACE "(([^,]*,){24})" "\\1\n  " body "${body}")
file(WRITE "${OUT}.tmp"
"// Generated from server/webconsole/index.html at build time; do not edit.
#include \"server/WebConsolePage.h\"

namespace brz {
namespace {
const char kPage[${size}] = {
  ${body}
};
}  // namespace

std::string_view WebConsolePage() { return std::string_view(kPage, sizeof kPage); }

}  // namespace brz
")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
