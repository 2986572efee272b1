// The WebSocket frame reader (RFC 6455, and the Hixie-76 reader of draft server connections) on the bytes
// a peer sends, client or server side, with or without a negotiated compression extension. The events
// must not depend on how the bytes are chunked.
// Input: byte 0 - bit 0 server side (masked frames required), bit 1 UTF-8 validation, bits 2-3 fragment
// mode, bit 4 compression negotiated, bit 5 permessage-deflate (else deflate-frame), bit 6 Hixie-76;
// byte 1 - chunk size - 1; the rest is the stream.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/Exception.h"
#include "websocket/TbrzWSExtensions.h"
#include "websocket/TbrzWSFrame.h"

namespace {

constexpr size_t kMaxMessage = 1024 * 1024;

// Compression over an extension set, as a connection wires it.
class Compression : public brz::IbrzWSCompression {
 public:
  explicit Compression(brz::TbrzWSExtensions& extensions) : FExtensions(extensions) {}
  bool ExtensionNegotiated() const override { return FExtensions.ExtensionNegotiated(); }
  bool CompressionActive() const override { return FExtensions.Active(); }
  void DecodeHeader(uint8_t headerByte) override { FExtensions.DecodeHeader(headerByte); }
  void Compress(brz::TbrzMemoryStream& stream) override {
    brz::TBytes bytes = stream.ToBytes();
    FExtensions.WriteStream(bytes);
    stream.LoadFromBytes(bytes);
  }
  void Decompress(brz::TbrzMemoryStream& stream) override {
    if (!FExtensions.MessageCompressed()) return;
    brz::TBytes bytes = stream.ToBytes();
    FExtensions.ReadStream(bytes);
    stream.LoadFromBytes(bytes);
  }

 private:
  brz::TbrzWSExtensions& FExtensions;
};

// Records every event as a line.
class Recorder : public brz::IbrzWSFrameHandler {
 public:
  std::vector<std::string> Events;
  void WSText(const std::string& text) override { Events.push_back("text " + text); }
  void WSBinary(brz::TbrzMemoryStream& data) override {
    if (data.Position() != 0) abort();
    Events.push_back("binary " + std::string(data.Bytes().begin(), data.Bytes().end()));
  }
  void WSFragment(brz::TbrzMemoryStream& data, brz::TOpcode opCode, bool continuation) override {
    Events.push_back("fragment " + std::to_string(static_cast<int>(opCode)) + (continuation ? "+" : ".") +
                     std::to_string(data.Size()));
  }
  void WSPing(const brz::TBytes& payload) override {
    if (payload.size() > 125) abort();
    Events.push_back("ping " + std::string(payload.begin(), payload.end()));
  }
  void WSPong(const std::string& text) override { Events.push_back("pong " + text); }
  void WSClose(int code, const std::string& reason) override {
    Events.push_back("close " + std::to_string(code) + " " + reason);
  }
  void WSViolation(const std::string& message, int closeCode) override {
    Events.push_back("violation " + std::to_string(closeCode) + " " + message);
  }
};

std::vector<std::string> Run(uint8_t flags, const uint8_t* data, size_t size, size_t chunk) {
  const bool server = (flags & 0x01) != 0;
  brz::TbrzWSExtensions extensions;
  extensions.SetMode(server ? brz::TwsApplicationMode::appServer : brz::TwsApplicationMode::appClient);
  extensions.PerMessage_Deflate().SetEnabled((flags & 0x20) != 0);
  extensions.DeflateFrame().SetEnabled((flags & 0x20) == 0);
  extensions.SetMaxInflatedSize(kMaxMessage);
  if ((flags & 0x10) != 0) {
    extensions.DecodeExtensions((flags & 0x20) != 0 ? "permessage-deflate" : "x-webkit-deflate-frame");
  }
  Compression compression(extensions);
  Recorder recorder;

  if ((flags & 0x40) != 0) {
    brz::TbrzWSHixie76Reader reader(recorder, kMaxMessage);
    for (size_t offset = 0; offset < size && !reader.Stopped(); offset += chunk) {
      const size_t n = std::min(chunk, size - offset);
      if (reader.Feed(data + offset, n) > n) abort();
    }
    return recorder.Events;
  }

  brz::TbrzWSFrameReader reader(recorder, (flags & 0x10) != 0 ? &compression : nullptr);
  brz::TbrzWSReaderOptions& options = reader.Options();
  options.RequireMasked = server;
  options.ValidateUTF8 = (flags & 0x02) != 0;
  options.FragmentedMessages = static_cast<brz::TwsFragmentedMessages>(((flags >> 2) & 0x03) % 3);
  options.MaxMessageSize = kMaxMessage;
  for (size_t offset = 0; offset < size && !reader.Stopped(); offset += chunk) {
    const size_t n = std::min(chunk, size - offset);
    try {
      const size_t used = reader.Feed(data + offset, n);
      // A reader takes all it is given unless it stopped.
      if (used > n || (used < n && !reader.Stopped())) abort();
    } catch (const brz::Exception& e) {
      recorder.Events.push_back(std::string("exception ") + e.what());
      if (!reader.Stopped()) abort();
    }
  }
  return recorder.Events;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t flags = data[0];
  const size_t chunk = static_cast<size_t>(data[1]) + 1;
  const std::vector<std::string> whole = Run(flags, data + 2, size - 2, size);
  const std::vector<std::string> chunked = Run(flags, data + 2, size - 2, chunk);
  if (whole != chunked) abort();
  return 0;
}
