#include "app/EventLines.h"

namespace brz {

std::string JsonEscape(std::string_view Text) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  out.reserve(Text.size());
  for (const char ch : Text) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\u00";
          out += digits[c >> 4];
          out += digits[c & 15];
        } else {
          out += ch;
        }
    }
  }
  return out;
}

namespace EventLine {

namespace {
std::string Flag(bool on) { return on ? "true" : "false"; }
}  // namespace

std::string Connected() { return "{\"event\": \"connected\"}"; }

std::string Disconnected(int Code) { return "{\"event\": \"disconnected\", \"code\": " + std::to_string(Code) + "}"; }

std::string Message(std::string_view Text) {
  return "{\"event\": \"message\", \"text\": \"" + JsonEscape(Text) + "\"}";
}

std::string Error(std::string_view Description) {
  return "{\"event\": \"error\", \"description\": \"" + JsonEscape(Description) + "\"}";
}

std::string HeartBeatOptions(bool Enabled, int Interval) {
  return "{\"event\": \"options\", \"params\":{\"heartbeat\": {\"enabled\": " + Flag(Enabled) +
         ", \"interval\": " + std::to_string(Interval) + "}}}";
}

std::string WatchDogOptions(bool Enabled, int Interval) {
  return "{\"event\": \"options\", \"params\":{\"watchdog\": {\"enabled\": " + Flag(Enabled) +
         ", \"interval\": " + std::to_string(Interval) + "}}}";
}

std::string MQTTConnect(bool Session, int ReasonCode, std::string_view ReasonName) {
  return "{\"event\": \"connect\", \"protocol\": \"mqtt\", \"params\":{\"session\": \"" + Flag(Session) +
         "\", \"reasoncode\": " + std::to_string(ReasonCode) + ", \"reasonname\": \"" + JsonEscape(ReasonName) +
         "\"}}";
}

std::string MQTTPublish(std::string_view Topic, std::string_view Text) {
  std::string line;
  line.reserve(Topic.size() + Text.size() + 80);
  line += "{\"event\": \"publish\", \"protocol\": \"mqtt\", \"params\":{\"topic\": \"";
  line += JsonEscape(Topic);
  line += "\", \"text\": \"";
  line += JsonEscape(Text);
  line += "\"}}";
  return line;
}

std::string MQTTAck(std::string_view Name, uint16_t PacketIdentifier, int ReasonCode, std::string_view ReasonName) {
  return "{\"event\": \"" + std::string(Name) + "\", \"protocol\": \"mqtt\", \"params\":{\"packetidentifier\": " +
         std::to_string(PacketIdentifier) + ", \"reasoncode\": " + std::to_string(ReasonCode) +
         ", \"reasonname\": \"" + JsonEscape(ReasonName) + "\"}}";
}

std::string MQTTDisconnected(int ReasonCode, std::string_view ReasonName) {
  return "{\"event\": \"disconnected\", \"protocol\": \"mqtt\", \"params\":{\"reasoncode\": " +
         std::to_string(ReasonCode) + ", \"reasonname\": \"" + JsonEscape(ReasonName) + "\"}}";
}

std::string MQTTVersion(std::string_view Version) {
  return "{\"event\": \"options\", \"protocol\": \"mqtt\", \"params\":{\"version\": \"" + std::string(Version) +
         "\"}}";
}

std::string MQTTAuthenticationOn(std::string_view UserName, std::string_view Password) {
  return "{\"event\": \"authentication\", \"protocol\": \"mqtt\", \"params\": {\"enabled\": true, \"username\": \"" +
         JsonEscape(UserName) + "\", \"password\": \"" + JsonEscape(Password) + "\"}}";
}

std::string MQTTAuthenticationOff() {
  return "{\"event\": \"authentication\", \"protocol\": \"mqtt\", \"params\": {\"enabled\": false}}";
}

std::string MQTTHeartBeat(bool Enabled, int Interval) {
  // The two forms differ in one blank after "params":, as the operators' scripts expect.
  return std::string("{\"event\": \"heartbeat\", \"protocol\": \"mqtt\", \"params\":") + (Enabled ? "" : " ") +
         "{\"enabled\": " + Flag(Enabled) + ", \"interval\": " + std::to_string(Interval) + "}}";
}

}  // namespace EventLine
}  // namespace brz
