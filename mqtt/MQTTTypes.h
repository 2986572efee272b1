#pragma once
// Enumerations shared by the MQTT codec, its options and the client engine. Ordinals are wire
// values where one exists.

#include <cstdint>

namespace brz {

enum class TmqttControlPacket : uint8_t {
  mtcpReserved0,
  mtcpCONNECT,
  mtcpCONNACK,
  mtcpPUBLISH,
  mtcpPUBACK,
  mtcpPUBREC,
  mtcpPUBREL,
  mtcpPUBCOMP,
  mtcpSUBSCRIBE,
  mtcpSUBACK,
  mtcpUNSUBSCRIBE,
  mtcpUNSUBACK,
  mtcpPINGREQ,
  mtcpPINGRESP,
  mtcpDISCONNECT,
  mtcpAUTH
};

enum class TmqttQoS : uint8_t { mtqsAtMostOnce, mtqsAtLeastOnce, mtqsExactlyOnce, mtqsReserved };

// mqtt311 is protocol level 4, mqtt5 protocol level 5.
enum class TwsMQTTVersion : uint8_t { mqtt311, mqtt5 };

enum class TwsMQTTPayloadFormat : uint8_t { mqpfUnspecified, mqpfUTF8 };

// Reassembly of a TCP byte stream: waiting for a complete fixed header, or for the rest of the body.
enum class TwsMQTTReadState : uint8_t { mqrsFixedHeader, mqrsMessage };

enum class TbrzWSMQTTItemType : uint8_t { mqttText, mqttStream };

// Protocol level byte of CONNECT.
inline uint8_t ProtocolLevel(TwsMQTTVersion aVersion) { return aVersion == TwsMQTTVersion::mqtt5 ? 5 : 4; }

}  // namespace brz
