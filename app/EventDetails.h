#pragma once
// Event lines and members beyond the base lines: exact payloads, the details of received packets
// (flags, identifiers, MQTT 5 properties), time stamps, option echoes and wait results. Members
// are written in the base lines' style: ", \"name\": value", lower-case names without separators.

#include <cstdint>
#include <string>
#include <string_view>

#include "mqtt/TbrzWSMQTTPackets.h"
#include "mqtt/TbrzWSMQTTProperties.h"

namespace brz {

// Appends members to a JSON object under construction.
class TbrzJSONMembers {
 public:
  TbrzJSONMembers& Text(std::string_view aName, std::string_view aValue);
  // A text that may be binary: a string when it is valid UTF-8 without NUL, else {"base64": "..."}.
  TbrzJSONMembers& Bytes(std::string_view aName, std::string_view aValue);
  TbrzJSONMembers& Number(std::string_view aName, int64_t aValue);
  TbrzJSONMembers& Flag(std::string_view aName, bool aValue);
  TbrzJSONMembers& Null(std::string_view aName);
  // aJSON is already JSON (an object or a list).
  TbrzJSONMembers& Raw(std::string_view aName, std::string_view aJSON);
  // User property lines "name=value" as a list of pairs.
  TbrzJSONMembers& UserProperties(std::string_view aName, const TbrzWSMQTTUserProperties& aLines);
  bool Empty() const { return FText.empty(); }
  // The members, each introduced by ", ".
  const std::string& Members() const { return FText; }
  // "{...}" of the members.
  std::string Object() const;

 private:
  void Name(std::string_view aName);
  std::string FText;
};

// Whether received bytes print exactly as JSON text: valid UTF-8 without NUL.
bool IsExactText(std::string_view aBytes);
// Inserts members before the closing "}}" of a base MQTT event line (its params object).
std::string WithParams(std::string aLine, const std::string& aMembers);
// Adds "time" (UTC, milliseconds) as the last member of an event line; other lines unchanged.
std::string WithTime(std::string aLine);

namespace EventLine {

// The publish line of the base with the exact bytes added as "base64" when they are not exact text.
std::string MQTTPublishExact(std::string_view Topic, const TbrzWSMQTTPUBLISH& Publish);
// The publish line with every detail of the packet; a payload that is not exact text is "base64"
// in place of "text".
std::string MQTTPublishDetails(const TbrzWSMQTTPUBLISH& Publish, bool aMQTT5);
// Members of the details of a CONNACK's properties.
std::string ConnackDetails(const TbrzWSMQTTCONNACKProperties& Properties);
// Members of the details of an acknowledgement's (or SUBACK's / UNSUBACK's) properties.
std::string AckDetails(const TbrzWSMQTTPUBSUBACKProperties& Properties);
std::string DisconnectDetails(const TbrzWSMQTTDISCONNECTProperties& Properties);

// {"event": "options", "protocol": "mqtt", "params":{"<aName>": <aObject>}}
std::string MQTTOptions(std::string_view aName, std::string_view aObject);
// {"event": "options", "params":{"output": <aObject>}}
std::string OutputOptions(std::string_view aObject);
// {"event": "wait", "params":{"result": "done"|"timeout", "count": N}}
std::string WaitResult(bool aDone, int aCount);

}  // namespace EventLine
}  // namespace brz
