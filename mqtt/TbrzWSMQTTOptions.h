#pragma once
// Option groups of the MQTT client and the list of unacknowledged outbound QoS 1/2 messages.
// Option groups are value types: a copy (or Assign) is a deep copy.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/TbrzCriticalSection.h"
#include "common/TbrzMemoryStream.h"
#include "mqtt/MQTTTypes.h"
#include "mqtt/TbrzWSMQTTProperties.h"

namespace brz {

// QoS retry: a Level other than mtqsAtMostOnce turns the retry timer on; it changes no packet's QoS.
struct TbrzWSMQTTQoS_Options {
  TmqttQoS Level = TmqttQoS::mtqsAtMostOnce;
  int32_t Interval = 60;  // seconds between retry scans
  int32_t Timeout = 300;  // age in seconds after which an unacknowledged message is re-sent
  void Assign(const TbrzWSMQTTQoS_Options& aSource) { *this = aSource; }
};

// Last will and testament.
struct TbrzWSMQTTLWT_Options {
  bool Enabled = false;
  TmqttQoS QoS = TmqttQoS::mtqsAtMostOnce;
  bool Retain = false;
  std::string Text;
  std::string Topic;
  TbrzWSMQTTWill_Properties WillProperties;
  void SetWillProperties(const TbrzWSMQTTWill_Properties& aValue) { WillProperties.Assign(aValue); }
  void Assign(const TbrzWSMQTTLWT_Options& aSource);
};

struct TbrzWSMQTTAuthentication_Options {
  bool Enabled = false;
  std::string Password;
  std::string UserName;
  void Assign(const TbrzWSMQTTAuthentication_Options& aSource) { *this = aSource; }
};

// Keep-alive: Interval is announced in CONNECT and is the ping period; Timeout 0 awaits no PINGRESP.
struct TbrzWSMQTTHeartBeat_Options {
  bool Enabled = true;
  int32_t Interval = 300;
  int32_t Timeout = 0;
  void Assign(const TbrzWSMQTTHeartBeat_Options& aSource) { *this = aSource; }
};

// One unacknowledged outbound PUBLISH. Owns a copy of its payload and of its properties.
class TbrzWSMQTTQoSItem {
 public:
  using TClock = std::chrono::steady_clock;

  // When the item was queued; never updated afterwards.
  TClock::time_point Date() const { return FDate; }
  void SetDate(TClock::time_point aValue) { FDate = aValue; }
  // Whole seconds since Date (truncated).
  int64_t AgeSeconds(TClock::time_point aNow = TClock::now()) const;
  TbrzWSMQTTItemType ItemType() const { return FItemType; }
  void SetItemType(TbrzWSMQTTItemType aValue) { FItemType = aValue; }
  uint16_t PacketIdentifier() const { return FPacketIdentifier; }
  void SetPacketIdentifier(uint16_t aValue) { FPacketIdentifier = aValue; }
  // Absent (nullptr) once set to nothing.
  const TbrzWSMQTTPublish_Properties* PublishProperties() const {
    return FPublishProperties ? &*FPublishProperties : nullptr;
  }
  // Copies the set; nullptr destroys the item's copy.
  void SetPublishProperties(const TbrzWSMQTTPublish_Properties* aValue);
  TmqttQoS QoS() const { return FQoS; }
  void SetQoS(TmqttQoS aValue) { FQoS = aValue; }
  bool Retain() const { return FRetain; }
  void SetRetain(bool aValue) { FRetain = aValue; }
  TbrzMemoryStream& Stream() { return FStream; }
  // Copies the whole content of aSource, wherever it is positioned; both streams end at position 0.
  void SetStream(TbrzMemoryStream& aSource);
  const std::string& Text() const { return FText; }
  void SetText(std::string aValue) { FText = std::move(aValue); }
  const std::string& Topic() const { return FTopic; }
  void SetTopic(std::string aValue) { FTopic = std::move(aValue); }

 private:
  TClock::time_point FDate = TClock::now();
  TbrzWSMQTTItemType FItemType = TbrzWSMQTTItemType::mqttText;
  uint16_t FPacketIdentifier = 0;
  std::optional<TbrzWSMQTTPublish_Properties> FPublishProperties{std::in_place};
  TmqttQoS FQoS = TmqttQoS::mtqsAtMostOnce;
  bool FRetain = false;
  TbrzMemoryStream FStream;
  std::string FText;
  std::string FTopic;
};

// Only identifier != 0 with QoS 1 or 2 is kept for retries.
bool IsQueuedQoS(uint16_t aPacketIdentifier, TmqttQoS aQoS);

// Ordered list of unacknowledged messages; owns its items, several may share an identifier.
// Every operation holds the list's own recursive lock; a scan that must see a stable list holds CS().
class TbrzWSMQTTQoSList {
 public:
  // Append a text item dated now when IsQueuedQoS; returns whether it was queued.
  bool QueueQoSItem(uint16_t aPacketIdentifier, const std::string& aTopic, const std::string& aText, TmqttQoS aQoS,
                    bool aRetain, const TbrzWSMQTTPublish_Properties* aPublishProperties);
  // The same with a copy of the stream as payload.
  bool QueueQoSStreamItem(uint16_t aPacketIdentifier, const std::string& aTopic, TbrzMemoryStream& aStream,
                          TmqttQoS aQoS, bool aRetain, const TbrzWSMQTTPublish_Properties* aPublishProperties);
  // Removes the most recently queued item with the identifier; false when there is none.
  bool DeleteQoSItem(uint16_t aPacketIdentifier);
  void Clear();
  int32_t Count() const;
  // Valid while the item is in the list; hold CS() while using it.
  TbrzWSMQTTQoSItem& Item(int32_t aIndex);
  TbrzCriticalSection& CS() const { return FLock; }

 private:
  TbrzWSMQTTQoSItem& Append(uint16_t aPacketIdentifier, const std::string& aTopic, TmqttQoS aQoS, bool aRetain,
                            const TbrzWSMQTTPublish_Properties* aPublishProperties);

  mutable TbrzCriticalSection FLock;  // guards FItems
  std::vector<std::unique_ptr<TbrzWSMQTTQoSItem>> FItems;
};

}  // namespace brz
