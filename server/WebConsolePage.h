#pragma once
// The web console: one self-contained page (HTML, CSS and JavaScript, nothing fetched from elsewhere)
// built into the binary from server/webconsole/index.html. It connects back to the server it came
// from over WebSocket. The attribute data-token-required="no" on its html element turns it into one
// that asks for the token when "no" is replaced by "yes".

#include <string_view>

namespace brz {

std::string_view WebConsolePage();

}  // namespace brz
