#pragma once
// Every literal text of the component framework.

namespace brz::msg {

// Message of an exception event raised without a text.
inline constexpr const char* kUnknownException = "Unknown exception.";

}  // namespace brz::msg
