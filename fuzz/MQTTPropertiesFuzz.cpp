// Every inbound MQTT 5 property set over the same arbitrary property block body (ReadBytes).

#include <cstddef>
#include <cstdint>

#include "common/Exception.h"
#include "mqtt/TbrzWSMQTTProperties.h"

namespace {

template <typename T>
void Parse(const uint8_t* data, size_t size) {
  T properties;
  try {
    properties.ReadBytes(data, size);
  } catch (const brz::Exception&) {
    // A variable byte integer needing a fifth byte.
  }
  T copy = properties;
  copy.Clear();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Parse<brz::TbrzWSMQTTCONNACKProperties>(data, size);
  Parse<brz::TbrzWSMQTTPublishProperties>(data, size);
  Parse<brz::TbrzWSMQTTPUBSUBACKProperties>(data, size);
  Parse<brz::TbrzWSMQTTDISCONNECTProperties>(data, size);
  Parse<brz::TbrzWSMQTTAUTHProperties>(data, size);
  return 0;
}
