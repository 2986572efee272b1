// TCP reassembly (ReadTCP) over an arbitrary chunking of the broker's byte stream. The packets it yields
// must be the packets Read yields over the whole stream, in the same order.
// Input: byte 0 selects the version (bit 0: 5.0); bytes 1-4 give the chunk sizes (each 1..256, cycled);
// the rest is the stream.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/Exception.h"
#include "fuzz/MQTTDigest.h"

namespace {

brz::TwsMQTTVersion VersionOf(uint8_t b) {
  return (b & 1) != 0 ? brz::TwsMQTTVersion::mqtt5 : brz::TwsMQTTVersion::mqtt311;
}

// Packets of the whole stream, and whether it ended in a malformed length.
std::vector<std::string> Whole(brz::TwsMQTTVersion version, const uint8_t* data, size_t size, bool& malformed) {
  std::vector<std::string> packets;
  brz::TbrzWSMQTTMessage codec;
  codec.SetMQTTVersion(version);
  brz::TbrzMemoryStream stream(data, size);
  stream.SetPosition(0);
  malformed = false;
  try {
    while (stream.Position() < stream.Size() && codec.Read(stream)) packets.push_back(brz::fuzz::Digest(codec));
  } catch (const brz::Exception&) {
    malformed = true;
  }
  return packets;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const brz::TwsMQTTVersion version = VersionOf(data[0]);
  size_t chunks[4];
  for (int i = 0; i < 4; ++i) chunks[i] = static_cast<size_t>(data[1 + i]) + 1;
  const uint8_t* body = data + 5;
  const size_t bodySize = size - 5;

  bool malformed = false;
  const std::vector<std::string> expected = Whole(version, body, bodySize, malformed);

  brz::TbrzWSMQTTMessage codec;
  codec.SetMQTTVersion(version);
  std::vector<std::string> got;
  bool failed = false;
  size_t offset = 0;
  for (int i = 0; offset < bodySize && !failed; ++i) {
    const size_t take = std::min(chunks[i % 4], bodySize - offset);
    brz::TbrzMemoryStream stream(body + offset, take);
    stream.SetPosition(0);
    offset += take;
    try {
      while (stream.Position() < stream.Size()) {
        if (!codec.ReadTCP(stream)) {
          // An incomplete packet keeps its bytes; the chunk is used up.
          if (stream.Size() != 0) abort();
          break;
        }
        got.push_back(brz::fuzz::Digest(codec));
      }
    } catch (const brz::Exception&) {
      failed = true;
    }
  }
  // The reassembler holds no more than the bytes of the packet being collected.
  if (!failed && codec.StreamReadPacketBuffer().StreamBuffer().Size() > bodySize) abort();
  if (failed != malformed || got != expected) abort();
  return 0;
}
