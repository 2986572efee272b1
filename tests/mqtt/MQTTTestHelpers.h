#pragma once
// Small helpers shared by the codec tests.

#include <string>

#include "common/Exception.h"
#include "common/TbrzMemoryStream.h"
#include "mqtt/TbrzWSMQTTMessage.h"
#include "tests/support/TestSupport.h"

namespace brz::test {

inline const char* VersionName(TwsMQTTVersion aVersion) {
  return aVersion == TwsMQTTVersion::mqtt5 ? "mqtt5" : "mqtt311";
}

// A codec of the given version whose client identifier is fixed.
inline void Prepare(TbrzWSMQTTMessage& aMessage, TwsMQTTVersion aVersion, const std::string& aClientId = "ABC") {
  aMessage.SetMQTTVersion(aVersion);
  aMessage.SetClientId(aClientId);
}

// Decodes one packet from the start of the bytes.
inline bool Decode(TbrzWSMQTTMessage& aMessage, const Bytes& aBytes) {
  TbrzMemoryStream stream(aBytes);
  return aMessage.Read(stream);
}

inline std::string Repeat(char aChar, size_t aCount) { return std::string(aCount, aChar); }

}  // namespace brz::test
