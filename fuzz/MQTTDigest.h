#pragma once
// A text summary of the packet a codec just decoded, so that two decoding paths can be compared.

#include <string>

#include "mqtt/TbrzWSMQTTMessage.h"

namespace brz::fuzz {

inline std::string Digest(TbrzWSMQTTMessage& codec) {
  TbrzWSMQTTFixedHeader& header = codec.FixedHeader();
  std::string d = std::to_string(static_cast<int>(header.ControlPacket())) + "/" +
                  std::to_string(header.RemainingLength());
  switch (header.ControlPacket()) {
    case TmqttControlPacket::mtcpCONNACK:
      d += "/" + std::to_string(codec.CONNACK().ReasonCode()) + codec.CONNACK().ReasonName() +
           codec.CONNACK().CONNACKProperties().AssignedClientIdentifier() +
           std::to_string(codec.CONNACK().CONNACKProperties().UserProperties().size());
      break;
    case TmqttControlPacket::mtcpPUBLISH:
      d += "/" + std::to_string(codec.PUBLISH().PacketIdentifier()) + "/" + codec.PUBLISH().Topic() + "/" +
           codec.PUBLISH().Text() + "/" + codec.PUBLISH().PUBLISHProperties().ContentType();
      break;
    case TmqttControlPacket::mtcpPUBACK:
      d += "/" + std::to_string(codec.PUBACK().PacketIdentifier()) + codec.PUBACK().ReasonName();
      break;
    case TmqttControlPacket::mtcpPUBREC:
      d += "/" + std::to_string(codec.PUBREC().PacketIdentifier()) + codec.PUBREC().ReasonName();
      break;
    case TmqttControlPacket::mtcpPUBREL:
      d += "/" + std::to_string(codec.PUBREL().PacketIdentifier()) + codec.PUBREL().ReasonName();
      break;
    case TmqttControlPacket::mtcpPUBCOMP:
      d += "/" + std::to_string(codec.PUBCOMP().PacketIdentifier()) + codec.PUBCOMP().ReasonName();
      break;
    case TmqttControlPacket::mtcpSUBACK:
      d += "/" + std::to_string(codec.SUBACK().PacketIdentifier());
      for (const auto& code : codec.SUBACK().Codes()) d += "," + std::to_string(code.ReasonCode) + code.ReasonName;
      break;
    case TmqttControlPacket::mtcpUNSUBACK:
      d += "/" + std::to_string(codec.UNSUBACK().PacketIdentifier());
      for (const auto& code : codec.UNSUBACK().Codes()) d += "," + std::to_string(code.ReasonCode) + code.ReasonName;
      break;
    case TmqttControlPacket::mtcpDISCONNECT:
      if (codec.MQTTVersion() == TwsMQTTVersion::mqtt5) {
        d += "/" + codec.DISCONNECT().ReasonName() + codec.DISCONNECT().Properties().ReasonString();
      }
      break;
    case TmqttControlPacket::mtcpAUTH:
      if (codec.MQTTVersion() == TwsMQTTVersion::mqtt5) {
        d += "/" + codec.AUTH().ReasonName() + codec.AUTH().Properties().AuthenticationMethod();
      }
      break;
    default:
      break;
  }
  return d;
}

}  // namespace brz::fuzz
