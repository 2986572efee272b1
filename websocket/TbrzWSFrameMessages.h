#pragma once
// Every literal text of the opening handshake and the frame codec.

namespace brz::msg {

// Handshake constants.
inline constexpr const char* kWSGuid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
inline constexpr const char* kWSVersion = "13";

// Client opening handshake errors.
inline constexpr const char* kHandshakeSwitchingProtocols = "Error Decoding Header: Switching Protocols";
inline constexpr const char* kHandshakeUpgrade = "Error Decoding Header: Upgrade";
inline constexpr const char* kHandshakeRedirect = "Redirect to: ";
inline constexpr const char* kHandshakeInvalidAcceptKey = "Handshake Error: Invalid Accept Key";
// %s the sub-protocol the server answered (empty when none)
inline constexpr const char* kHandshakeProtocolNotSupported = "Protocol not supported %s.";
// A peer that never ends its response header must not grow memory without bound.
inline constexpr const char* kHandshakeResponseTooLong = "Error Decoding Header: response header too long";

// Frame reader violations.
inline constexpr const char* kWSContinuationWithoutMessage = "Unfragmented message after continuation frame with FIN";
inline constexpr const char* kWSTextAfterContinuation = "OpCode error, received opText after Continuation not finished";
inline constexpr const char* kWSBinaryAfterContinuation =
    "OpCode error, received opBinary after Continuation not finished";
inline constexpr const char* kWSInvalidOpCode = "Invalid Control OptCode";
inline constexpr const char* kWSInvalidRSV = "Invalid value of RSV while no Extension Negotiated";
// RSV2/RSV3, or RSV1 on a control or continuation frame, while an extension is negotiated.
inline constexpr const char* kWSInvalidRSVExtension = "Invalid value of RSV for the negotiated Extension";
inline constexpr const char* kWSControlFragmented = "Control Message must not be fragmented";
inline constexpr const char* kWSNotMasked = "Message is not masked";
inline constexpr const char* kWSControlTooLong =
    "Control frames are only allowed to have payload up to and including 125 octets";
inline constexpr const char* kWSInvalidCloseLength = "Invalid Payload length for close code";
inline constexpr const char* kWSInvalidCloseCode = "Invalid close code";
inline constexpr const char* kWSInvalidUTF8 = "Invalid UTF8 message";
inline constexpr const char* kWSPongMismatch = "Received Pong is different from Sent Ping";
// Frames and messages larger than the reader takes (close code 1009).
inline constexpr const char* kWSFrameTooLarge = "Frame payload too large";
inline constexpr const char* kWSMessageTooLarge = "Message too large";
// A ping payload must fit a control frame.
inline constexpr const char* kWSPingTooLong = "Ping payload longer than 125 bytes";

// Send and receive failures; %s the cause's message.
inline constexpr const char* kWSErrorWriting = "Error writing message %s.";
inline constexpr const char* kWSErrorDeflating = "Error Deflating Frame: %s";
inline constexpr const char* kWSErrorInflating = "Error Inflating Frame: %s";

}  // namespace brz::msg
