// MQTT packet decoding of broker bytes (Read over a stream holding whole packets, as on WebSocket).
// Input: one byte selecting the version (bit 0: 5.0), then the stream.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "common/Exception.h"
#include "fuzz/MQTTDigest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  brz::TbrzWSMQTTMessage codec;
  codec.SetMQTTVersion((data[0] & 1) != 0 ? brz::TwsMQTTVersion::mqtt5 : brz::TwsMQTTVersion::mqtt311);
  brz::TbrzMemoryStream stream(data + 1, size - 1);
  stream.SetPosition(0);
  try {
    while (stream.Position() < stream.Size()) {
      const size_t before = stream.Position();
      const bool decoded = codec.Read(stream);
      // Every call moves forward and never past the end.
      if (stream.Position() <= before || stream.Position() > stream.Size()) abort();
      if (!decoded) {
        if (codec.FixedHeader().ControlPacket() != brz::TmqttControlPacket::mtcpReserved0) abort();
        break;
      }
      (void)brz::fuzz::Digest(codec);
    }
  } catch (const brz::Exception&) {
    // A malformed remaining length or property length ends the decode.
  }
  return 0;
}
