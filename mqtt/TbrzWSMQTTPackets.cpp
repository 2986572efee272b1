#include "mqtt/TbrzWSMQTTPackets.h"

#include "common/Text.h"

#include <initializer_list>

#include "mqtt/MQTTMessages.h"

namespace brz {

namespace {

using P = TmqttControlPacket;

constexpr uint16_t Bit(P aPacket) { return static_cast<uint16_t>(1u << static_cast<unsigned>(aPacket)); }

constexpr uint16_t Set(std::initializer_list<P> aPackets) {
  uint16_t result = 0;
  for (auto packet : aPackets) result = static_cast<uint16_t>(result | Bit(packet));
  return result;
}

struct TReasonEntry {
  uint8_t Code;
  uint16_t Packets;
  const char* Name;
};

constexpr uint16_t ConnAckPubAckPubRecDisc = Set({P::mtcpCONNACK, P::mtcpPUBACK, P::mtcpPUBREC, P::mtcpDISCONNECT});
constexpr uint16_t GeneralFailure =
    Set({P::mtcpCONNACK, P::mtcpPUBACK, P::mtcpPUBREC, P::mtcpSUBACK, P::mtcpUNSUBACK, P::mtcpDISCONNECT});
constexpr uint16_t ConnAckDisc = Set({P::mtcpCONNACK, P::mtcpDISCONNECT});
constexpr uint16_t SubAckDisc = Set({P::mtcpSUBACK, P::mtcpDISCONNECT});

constexpr TReasonEntry ReasonTable[] = {
    {0x00, Set({P::mtcpCONNACK, P::mtcpPUBACK, P::mtcpPUBREC, P::mtcpPUBREL, P::mtcpPUBCOMP, P::mtcpUNSUBACK, P::mtcpAUTH}),
     SMQTTReasonSuccess},
    {0x00, Bit(P::mtcpDISCONNECT), SMQTTReasonNormalDisconnection},
    {0x00, Bit(P::mtcpSUBACK), SMQTTReasonGrantedQoS0},
    {0x01, Bit(P::mtcpSUBACK), SMQTTReasonGrantedQoS1},
    {0x02, Bit(P::mtcpSUBACK), SMQTTReasonGrantedQoS2},
    {0x04, Bit(P::mtcpDISCONNECT), SMQTTReasonDisconnectWithWill},
    {0x10, Set({P::mtcpPUBACK, P::mtcpPUBREC}), SMQTTReasonNoMatchingSubscribers},
    {0x11, Bit(P::mtcpUNSUBACK), SMQTTReasonNoSubscriptionExisted},
    {0x18, Bit(P::mtcpAUTH), SMQTTReasonContinueAuthentication},
    {0x19, Bit(P::mtcpAUTH), SMQTTReasonReAuthenticate},
    {0x80, GeneralFailure, SMQTTReasonUnspecifiedError},
    {0x81, ConnAckDisc, SMQTTReasonMalformedPacket},
    {0x82, ConnAckDisc, SMQTTReasonProtocolError},
    {0x83, GeneralFailure, SMQTTReasonImplementationSpecificError},
    {0x84, Bit(P::mtcpCONNACK), SMQTTReasonUnsupportedProtocolVersion},
    {0x85, Bit(P::mtcpCONNACK), SMQTTReasonClientIdentifierNotValid},
    {0x86, Bit(P::mtcpCONNACK), SMQTTReasonBadUserNameOrPassword},
    {0x87, GeneralFailure, SMQTTReasonNotAuthorized},
    {0x88, Bit(P::mtcpCONNACK), SMQTTReasonServerUnavailable},
    {0x89, ConnAckDisc, SMQTTReasonServerBusy},
    {0x8A, Bit(P::mtcpCONNACK), SMQTTReasonBanned},
    {0x8B, Bit(P::mtcpDISCONNECT), SMQTTReasonServerShuttingDown},
    {0x8C, ConnAckDisc, SMQTTReasonBadAuthenticationMethod},
    {0x8D, Bit(P::mtcpDISCONNECT), SMQTTReasonKeepAliveTimeout},
    {0x8E, Bit(P::mtcpDISCONNECT), SMQTTReasonSessionTakenOver},
    {0x8F, Set({P::mtcpSUBACK, P::mtcpUNSUBACK, P::mtcpDISCONNECT}), SMQTTReasonTopicFilterInvalid},
    {0x90, ConnAckPubAckPubRecDisc, SMQTTReasonTopicNameInvalid},
    {0x91, Set({P::mtcpPUBACK, P::mtcpPUBREC, P::mtcpSUBACK, P::mtcpUNSUBACK}), SMQTTReasonPacketIdentifierInUse},
    {0x92, Set({P::mtcpPUBREL, P::mtcpPUBCOMP}), SMQTTReasonPacketIdentifierNotFound},
    {0x93, Bit(P::mtcpDISCONNECT), SMQTTReasonReceiveMaximumExceeded},
    {0x94, Bit(P::mtcpDISCONNECT), SMQTTReasonTopicAliasInvalid},
    {0x95, ConnAckDisc, SMQTTReasonPacketTooLarge},
    {0x96, Bit(P::mtcpDISCONNECT), SMQTTReasonMessageRateTooHigh},
    {0x97, Set({P::mtcpCONNACK, P::mtcpPUBACK, P::mtcpPUBREC, P::mtcpSUBACK, P::mtcpDISCONNECT}), SMQTTReasonQuotaExceeded},
    {0x98, Bit(P::mtcpDISCONNECT), SMQTTReasonAdministrativeAction},
    {0x99, ConnAckPubAckPubRecDisc, SMQTTReasonPayloadFormatInvalid},
    {0x9A, ConnAckDisc, SMQTTReasonRetainNotSupported},
    {0x9B, ConnAckDisc, SMQTTReasonQoSNotSupported},
    {0x9C, ConnAckDisc, SMQTTReasonUseAnotherServer},
    {0x9D, ConnAckDisc, SMQTTReasonServerMoved},
    {0x9E, SubAckDisc, SMQTTReasonSharedSubscriptionsNotSupported},
    {0x9F, ConnAckDisc, SMQTTReasonConnectionRateExceeded},
    {0xA0, Bit(P::mtcpDISCONNECT), SMQTTReasonMaximumConnectTime},
    {0xA1, SubAckDisc, SMQTTReasonSubscriptionIdentifiersNotSupported},
    {0xA2, SubAckDisc, SMQTTReasonWildcardSubscriptionsNotSupported},
};

constexpr const char* ConnackTable[] = {
    SMQTTConnackAccepted,          SMQTTConnackBadProtocolVersion,    SMQTTConnackIdentifierRejected,
    SMQTTConnackServerUnavailable, SMQTTConnackBadUserNameOrPassword, SMQTTConnackNotAuthorized,
};

}  // namespace

std::string ReasonCodeName(TmqttControlPacket aPacket, int32_t aCode) {
  for (const auto& entry : ReasonTable) {
    if (entry.Code == aCode && (entry.Packets & Bit(aPacket)) != 0) return entry.Name;
  }
  return {};
}

std::string ConnackReturnCodeName(int32_t aCode) {
  if (aCode < 0 || aCode >= static_cast<int32_t>(std::size(ConnackTable))) return {};
  return ConnackTable[aCode];
}

void TbrzWSMQTTPUBLISH::SetPayload(std::string aValue) {
  FPayloadExact = IsValidUTF8(aValue);
  if (FPayloadExact) {
    FText = std::move(aValue);
    FPayload.clear();
  } else {
    FText = BytesToUTF8Text(aValue);
    FPayload = std::move(aValue);
  }
}

}  // namespace brz
