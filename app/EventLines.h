#pragma once
// The JSON event lines. Every inserted text is JSON-escaped, so a topic or payload can never
// forge or break a line; texts without quotes, backslashes or control characters print unchanged.

#include <cstdint>
#include <string>
#include <string_view>

namespace brz {

// Escapes '"', '\' and control characters; other characters stay as they are (UTF-8).
std::string JsonEscape(std::string_view Text);

namespace EventLine {

std::string Connected();
std::string Disconnected(int Code);
std::string Message(std::string_view Text);
std::string Error(std::string_view Description);
std::string HeartBeatOptions(bool Enabled, int Interval);
std::string WatchDogOptions(bool Enabled, int Interval);

std::string MQTTConnect(bool Session, int ReasonCode, std::string_view ReasonName);
std::string MQTTPublish(std::string_view Topic, std::string_view Text);
// Name is "puback", "pubrec", "pubrel", "pubcomp", "subscribe" or "unsubscribe".
std::string MQTTAck(std::string_view Name, uint16_t PacketIdentifier, int ReasonCode, std::string_view ReasonName);
std::string MQTTDisconnected(int ReasonCode, std::string_view ReasonName);
std::string MQTTVersion(std::string_view Version);
std::string MQTTAuthenticationOn(std::string_view UserName, std::string_view Password);
std::string MQTTAuthenticationOff();
std::string MQTTHeartBeat(bool Enabled, int Interval);

}  // namespace EventLine
}  // namespace brz
