#pragma once
// Enumerations shared by the transport and every layer above it. Ordinals match the wire or the
// documented order, so they are fixed-width enum classes.

#include <cstdint>

namespace brz {

// What a connection speaks.
enum class TwsTransport : uint8_t {
  trpUndefined, trpRFC6455, trpHixie76, trpFlash, trpSSE, trpTCP, trpHTTP, trpRFC8441, trpHTTP2, trpUDP, trpQUIC
};

// Which framing a WebSocket transport uses.
enum class TwsSpecification : uint8_t { spRFC6455, spHixie76, spRFC8441 };

// Address family of a socket.
enum class TwsIPVersion : uint8_t { ipV4, ipV6 };

// How raw TCP input is cut into messages.
enum class TtcpEOFScanBuffer : uint8_t { eofScanNone, eofScanLatestBytes, eofScanAllBytes };

// WebSocket opcodes; the frame codec maps them to wire values.
enum class TOpcode : uint8_t { opContinuation, opText, opBinary, opClose, opPing, opPong, opNone };

// How one write call maps to frames.
enum class TwsStreaming : uint8_t { stmNone, stmFirst, stmContinue, stmLast, stmContinueAndLast };

// Proxy kinds of the socket client.
enum class TwsProxy : uint8_t { pxyHTTP, pxySocks4, pxySocks4A, pxySocks5 };

// Life-cycle policy of the socket client's read thread.
enum class TbrzTCPMode : uint8_t { tcpmDefault, tcpmCommands };

// Status values the socket adapter announces; 4 is "disconnected".
enum class TbrzSocketStatus : uint8_t { ssResolving, ssConnecting, ssConnected, ssDisconnecting, ssDisconnected };

}  // namespace brz
