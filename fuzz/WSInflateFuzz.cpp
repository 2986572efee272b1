// Decompression of received messages (ReadStream) on a server-side and a client-side extension set,
// with a small inflate limit so that bombs are cut off early.
// Input: byte 0 - bit 0 permessage-deflate (else deflate-frame); then the peer's extension value up to
// the first LF; then messages, each a 2-byte big-endian length and that many compressed bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/Exception.h"
#include "websocket/TbrzWSExtensions.h"

namespace {

constexpr size_t kLimit = 256 * 1024;

void Run(brz::TwsApplicationMode mode, bool perMessage, const std::string& peerValue, const uint8_t* data,
         size_t size) {
  brz::TbrzWSExtensions extensions;
  extensions.SetMode(mode);
  extensions.PerMessage_Deflate().SetEnabled(perMessage);
  extensions.DeflateFrame().SetEnabled(!perMessage);
  extensions.SetMaxInflatedSize(kLimit);
  try {
    extensions.DecodeExtensions(peerValue);
  } catch (const brz::Exception&) {
    return;  // the handshake fails
  }
  size_t position = 0;
  while (position + 2 <= size) {
    size_t length = (static_cast<size_t>(data[position]) << 8) | data[position + 1];
    position += 2;
    if (length > size - position) length = size - position;
    brz::TBytes message(data + position, data + position + length);
    position += length;
    // A data frame with RSV1: marked compressed while an extension is active.
    extensions.DecodeHeader(0xC2);
    try {
      extensions.ReadStream(message);
      if (message.size() > kLimit) abort();
    } catch (const brz::Exception&) {
      // A broken or oversized message; the next message starts afresh.
    }
    // An unmarked message passes unchanged.
    extensions.DecodeHeader(0x82);
    brz::TBytes plain(data, data + std::min<size_t>(size, 8));
    const brz::TBytes before = plain;
    extensions.ReadStream(plain);
    if (plain != before) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool perMessage = (data[0] & 1) != 0;
  size_t end = 1;
  while (end < size && data[end] != '\n' && end < 256) ++end;
  const std::string peerValue(reinterpret_cast<const char*>(data + 1), end - 1);
  const size_t start = end < size ? end + 1 : size;
  Run(brz::TwsApplicationMode::appServer, perMessage, peerValue, data + start, size - start);
  Run(brz::TwsApplicationMode::appClient, perMessage, peerValue, data + start, size - start);
  return 0;
}
