#pragma once
// Every fixed text the console program prints.

namespace brz {

// Every diagnostic line on standard error starts with the program's name.
inline constexpr const char* kDiagnosticPrefix = "brzmqtt: ";
// A secret as remote operators see it.
inline constexpr const char* kMaskedSecret = "***";

inline constexpr const char* kBanner[] = {
    "written by Corvane.",
    "version 2023.1.0",
    "   (c) 2023 Corvane. All rights reserved.",
    "   Email : support@corvane.example",
    "   Web : https://www.corvane.example",
};

inline constexpr const char* kHelpBase[] = {
    "***TCP Server***",
    "***Start application using the following parameters***",
    "[enable server on port 8080] -server",
    "[enable server on port 4000] -server -server.port 4000",
    "[enable server on ip 192.168.1.1 and port 5000] -server -server.ip 192.168.1.1 -server.port 5000",
    "",
    "",
};

// Host of the public echo service named in the help text.
#define BRZ_ECHO_HOST "echo.corvane.example"
// Host of the public MQTT test broker named in the help text.
#define BRZ_BROKER_HOST "broker.corvane.example"

inline constexpr const char* kHelpWSClient[] = {
    "***brzWebSocketClient usage***",
    "***BASICS***",
    "[open a new websocket connection] {\"message\":\"open\", \"params\":{\"url\": \"ws://" BRZ_ECHO_HOST "\"}}",
    "[open a new tcp connection] {\"message\":\"open\", \"params\":{\"url\": \"tcp://" BRZ_ECHO_HOST "\"}}",
    "[send a message to server] {\"message\":\"write\", \"params\":{\"text\": \"My First Message\"}}",
    "[broadcast a message to all clients] {\"message\":\"broadcast\", \"params\":{\"text\": \"My First Message\"}}",
    "[close connection] {\"message\":\"close\"}",
    "[close connection with code] {\"message\":\"close\", \"params\":{\"code\": 1000}}",
    "",
    "***OPTIONS***",
    "[enable heartbeat every 30 seconds] {\"message\":\"heartbeat\", \"params\":{\"heartbeat\":{\"enabled\": true, "
    "\"interval\": 30}}}",
    "[enable watchdog every 10 seconds} {\"message\":\"watchdog\", \"params\":{\"watchdog\":{\"enabled\": true, "
    "\"interval\": 10}}}",
};

inline constexpr const char* kHelpMQTT[] = {
    "",
    "",
    "***brzMQTTClient usage***",
    "***BASICS***",
    "[open a new TCP MQTT connection] {\"message\":\"open\", \"params\":{\"url\": \"tcp://" BRZ_BROKER_HOST ":1883\"}}",
    "[open a new WebSocket MQTT connection] {\"message\":\"open\", \"params\":{\"url\": \"ws://" BRZ_BROKER_HOST
    ":8080\"}}",
    "[subscribe to topic \"myTopic\"] {\"message\":\"subscribe\", \"protocol\":\"mqtt\", \"params\":{\"topic\": "
    "\"myTopic\"}}",
    "[publish message \"My First Message\" in channel \"myTopic\"] {\"message\":\"publish\", \"protocol\":\"mqtt\", "
    "\"params\":{\"topic\": \"myTopic\", \"text\":\"My First Message\"}}",
    "[unsubscribe from topic \"myTopic\"] {\"message\":\"unsubscribe\", \"protocol\":\"mqtt\", \"params\":{\"topic\": "
    "\"myTopic\"}}",
    "[close connection] {\"message\":\"disconnect\", \"protocol\":\"mqtt\"}",
    "",
    "***OPTIONS***",
    "[enable mqtt 5.0] {\"message\":\"api\", \"protocol\":\"mqtt\", \"params\":{\"version\":\"5.0\"}}",
    "[enable authentication] {\"message\":\"authentication\", \"protocol\":\"mqtt\", \"params\":{\"enabled\":true, "
    "\"username\":\"user\", \"password\":\"mellow\"}}",
    "[enable heartbeat every 30 seconds] {\"message\":\"heartbeat\", \"protocol\":\"mqtt\", \"params\":{\"enabled\": "
    "true, \"interval\": 30}}",
};

#undef BRZ_ECHO_HOST
#undef BRZ_BROKER_HOST

inline constexpr const char* kServerListening = "Server Listening on %s:%s";

// Diagnostics (after "brzmqtt: ").
inline constexpr const char* kNotACommand = "line is not a JSON command with a \"message\"; ignored";
inline constexpr const char* kUnknownCommand = "unknown command \"%s\"; command ignored";
inline constexpr const char* kUnknownMQTTCommand = "unknown MQTT command \"%s\"; command ignored";
inline constexpr const char* kCommandIgnored = "; command ignored";
inline constexpr const char* kUnknownMemberIgnored = "%s: unknown member \"%s\" ignored";
inline constexpr const char* kNeedsMQTT5 = "%s need MQTT 5.0 (send api version 5.0 first)";
inline constexpr const char* kPublishQoSFallback = "publish: qos must be 0, 1 or 2 (got %s); published at QoS 0";
inline constexpr const char* kPropertiesAfterApi =
    "%s: properties are kept but sent only under MQTT 5.0 (api version 5.0)";
inline constexpr const char* kBroadcastPrefix = "#brz_broadcast:";

}  // namespace brz
