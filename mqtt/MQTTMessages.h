#pragma once
// Every literal text of the MQTT layer: error messages and the reason names shown to the user.

namespace brz {

// Errors of the codec.
inline constexpr char SMQTTMalformedVarInteger[] = "Malformed variable byte integer.";
inline constexpr char SMQTTStringTooLong[] = "MQTT string longer than 65535 bytes.";
inline constexpr char SMQTTPacketTooLarge[] = "MQTT packet longer than 268435455 bytes.";

// MQTT 5 reason codes.
inline constexpr char SMQTTReasonSuccess[] = "Success";
inline constexpr char SMQTTReasonNormalDisconnection[] = "Normal disconnection";
inline constexpr char SMQTTReasonGrantedQoS0[] = "Granted QoS 0";
inline constexpr char SMQTTReasonGrantedQoS1[] = "Granted QoS 1";
inline constexpr char SMQTTReasonGrantedQoS2[] = "Granted QoS 2";
inline constexpr char SMQTTReasonDisconnectWithWill[] = "Disconnect with Will Message";
inline constexpr char SMQTTReasonNoMatchingSubscribers[] = "No matching subscribers";
inline constexpr char SMQTTReasonNoSubscriptionExisted[] = "No subscription existed";
inline constexpr char SMQTTReasonContinueAuthentication[] = "Continue authentication";
inline constexpr char SMQTTReasonReAuthenticate[] = "Re-authenticate";
inline constexpr char SMQTTReasonUnspecifiedError[] = "Unspecified error";
inline constexpr char SMQTTReasonMalformedPacket[] = "Malformed Packet";
inline constexpr char SMQTTReasonProtocolError[] = "Protocol Error";
inline constexpr char SMQTTReasonImplementationSpecificError[] = "Implementation specific error";
inline constexpr char SMQTTReasonUnsupportedProtocolVersion[] = "Unsupported Protocol Version";
inline constexpr char SMQTTReasonClientIdentifierNotValid[] = "Client Identifier not valid";
inline constexpr char SMQTTReasonBadUserNameOrPassword[] = "Bad User Name or Password";
inline constexpr char SMQTTReasonNotAuthorized[] = "Not authorized";
inline constexpr char SMQTTReasonServerUnavailable[] = "Server unavailable";
inline constexpr char SMQTTReasonServerBusy[] = "Server busy";
inline constexpr char SMQTTReasonBanned[] = "Banned";
inline constexpr char SMQTTReasonServerShuttingDown[] = "Server shutting down";
inline constexpr char SMQTTReasonBadAuthenticationMethod[] = "Bad authentication method";
inline constexpr char SMQTTReasonKeepAliveTimeout[] = "Keep Alive timeout";
inline constexpr char SMQTTReasonSessionTakenOver[] = "Session taken over";
inline constexpr char SMQTTReasonTopicFilterInvalid[] = "Topic Filter invalid";
inline constexpr char SMQTTReasonTopicNameInvalid[] = "Topic Name invalid";
inline constexpr char SMQTTReasonPacketIdentifierInUse[] = "Packet Identifier in use";
inline constexpr char SMQTTReasonPacketIdentifierNotFound[] = "Packet Identifier not found";
inline constexpr char SMQTTReasonReceiveMaximumExceeded[] = "Receive Maximum exceeded";
inline constexpr char SMQTTReasonTopicAliasInvalid[] = "Topic Alias invalid";
inline constexpr char SMQTTReasonPacketTooLarge[] = "Packet too large";
inline constexpr char SMQTTReasonMessageRateTooHigh[] = "Message rate too high";
inline constexpr char SMQTTReasonQuotaExceeded[] = "Quota exceeded";
inline constexpr char SMQTTReasonAdministrativeAction[] = "Administrative action";
inline constexpr char SMQTTReasonPayloadFormatInvalid[] = "Payload format invalid";
inline constexpr char SMQTTReasonRetainNotSupported[] = "Retain not supported";
inline constexpr char SMQTTReasonQoSNotSupported[] = "QoS not supported";
inline constexpr char SMQTTReasonUseAnotherServer[] = "Use another server";
inline constexpr char SMQTTReasonServerMoved[] = "Server moved";
inline constexpr char SMQTTReasonSharedSubscriptionsNotSupported[] = "Shared Subscriptions not supported";
inline constexpr char SMQTTReasonConnectionRateExceeded[] = "Connection rate exceeded";
inline constexpr char SMQTTReasonMaximumConnectTime[] = "Maximum connect time";
inline constexpr char SMQTTReasonSubscriptionIdentifiersNotSupported[] = "Subscription Identifiers not supported";
inline constexpr char SMQTTReasonWildcardSubscriptionsNotSupported[] = "Wildcard Subscriptions not supported";

// MQTT 3.1.1 CONNACK return codes.
inline constexpr char SMQTTConnackAccepted[] = "Connection Accepted";
inline constexpr char SMQTTConnackBadProtocolVersion[] = "Connection Refused, unacceptable protocol version";
inline constexpr char SMQTTConnackIdentifierRejected[] = "Connection Refused, identifier rejected";
inline constexpr char SMQTTConnackServerUnavailable[] = "Connection Refused, Server unavailable";
inline constexpr char SMQTTConnackBadUserNameOrPassword[] = "Connection Refused, bad user name or password";
inline constexpr char SMQTTConnackNotAuthorized[] = "Connection Refused, not authorized";

}  // namespace brz
