#pragma once
// Every fixed text of the compression extensions. The frame codec wraps the extension errors in
// kMsgErrorDeflatingFrame / kMsgErrorInflatingFrame (formatted with the error's message).

namespace brz {

inline constexpr const char* kMsgInvalidWindowBits = "Invalid Value for WindowBits %d";
inline constexpr const char* kMsgZLibError = "ZLib Error (%d)";
inline constexpr const char* kMsgInflatedMessageTooLarge = "Inflated Message exceeds the limit of %d bytes";
inline constexpr const char* kMsgInvalidMemLevel = "Invalid Value for MemLevel %d";

inline constexpr const char* kMsgErrorDeflatingFrame = "Error Deflating Frame: %s";
inline constexpr const char* kMsgErrorInflatingFrame = "Error Inflating Frame: %s";

// Header line prefix and the extension tokens.
inline constexpr const char* kExtensionsHeader = "Sec-WebSocket-Extensions: ";
inline constexpr const char* kPerMessageDeflate = "permessage-deflate";
inline constexpr const char* kDeflateFrame = "x-webkit-deflate-frame";
inline constexpr const char* kClientMaxWindowBits = "client_max_window_bits";
inline constexpr const char* kClientNoContextTakeOver = "client_no_context_takeover";
inline constexpr const char* kServerMaxWindowBits = "server_max_window_bits";
// Older spelling some offers and answers still carry; accepted when decoding, never written.
inline constexpr const char* kServMaxWindowBits = "serv_max_window_bits";
inline constexpr const char* kServerNoContextTakeOver = "server_no_context_takeover";

}  // namespace brz
