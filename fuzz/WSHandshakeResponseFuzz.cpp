// The client's reading of a server's handshake response: the incremental header reader (for any
// chunking), the response parser, its acceptance and the decoding of the extensions it accepted.
// Input: byte 0 - chunk size - 1; the rest is what the server sent.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/Exception.h"
#include "websocket/TbrzWSExtensions.h"
#include "websocket/TbrzWSHandshake.h"

namespace {

constexpr size_t kMaxHeader = 16 * 1024;
// The key whose accept value is "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=", so seeds can pass the check.
constexpr const char* kKey = "dGhlIHNhbXBsZSBub25jZQ==";

struct Outcome {
  size_t Used = 0;
  bool Complete = false;
  bool Overflow = false;
  std::vector<std::string> Lines;
};

Outcome Read(const uint8_t* data, size_t size, size_t chunk) {
  Outcome outcome;
  brz::TbrzWSHeaderReader reader(kMaxHeader);
  try {
    for (size_t offset = 0; offset < size && !reader.Complete(); offset += chunk) {
      const size_t n = std::min(chunk, size - offset);
      const size_t used = reader.Feed(data + offset, n);
      if (used > n || (used < n && !reader.Complete())) abort();
      outcome.Used += used;
    }
  } catch (const brz::Exception&) {
    outcome.Overflow = true;
  }
  outcome.Complete = reader.Complete();
  outcome.Lines = reader.Lines();
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t chunk = static_cast<size_t>(data[0]) + 1;
  const Outcome whole = Read(data + 1, size - 1, size);
  const Outcome chunked = Read(data + 1, size - 1, chunk);
  if (whole.Complete != chunked.Complete || whole.Overflow != chunked.Overflow) abort();
  if (whole.Complete && (whole.Used != chunked.Used || whole.Lines != chunked.Lines)) abort();
  if (!whole.Complete) return 0;
  try {
    const brz::TbrzWSHandShakeClient response = brz::ParseHandshakeResponse(whole.Lines);
    for (bool canRedirect : {false, true}) {
      try {
        const brz::TbrzWSHandshakeVerdict verdict =
            brz::AcceptHandshakeResponse(response, kKey, "mqtt", canRedirect);
        if (verdict.Redirect) continue;
        brz::TbrzWSExtensions extensions;
        extensions.SetMode(brz::TwsApplicationMode::appClient);
        extensions.PerMessage_Deflate().SetEnabled(true);
        extensions.DeflateFrame().SetEnabled(true);
        extensions.DecodeExtensions(verdict.Extensions);
        (void)extensions.List();
      } catch (const brz::Exception&) {
        // Refused: the connection fails its handshake.
      }
    }
  } catch (const brz::Exception&) {
    // A status that is neither 101 nor a redirect, or an unfitting Upgrade or Connection line.
  }
  return 0;
}
