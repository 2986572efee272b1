#include "mqtt/TbrzWSMQTTOptions.h"

namespace brz {

void TbrzWSMQTTLWT_Options::Assign(const TbrzWSMQTTLWT_Options& aSource) {
  Enabled = aSource.Enabled;
  Topic = aSource.Topic;
  Text = aSource.Text;
  QoS = aSource.QoS;
  Retain = aSource.Retain;
  WillProperties.Assign(aSource.WillProperties);
}

int64_t TbrzWSMQTTQoSItem::AgeSeconds(TClock::time_point aNow) const {
  return std::chrono::duration_cast<std::chrono::seconds>(aNow - FDate).count();
}

void TbrzWSMQTTQoSItem::SetPublishProperties(const TbrzWSMQTTPublish_Properties* aValue) {
  if (aValue == nullptr) {
    FPublishProperties.reset();
    return;
  }
  if (!FPublishProperties) FPublishProperties.emplace();
  FPublishProperties->Assign(*aValue);
}

void TbrzWSMQTTQoSItem::SetStream(TbrzMemoryStream& aSource) {
  if (&aSource != &FStream) FStream.LoadFromBytes(aSource.Bytes());
  FStream.SetPosition(0);
  aSource.SetPosition(0);
}

bool IsQueuedQoS(uint16_t aPacketIdentifier, TmqttQoS aQoS) {
  return aPacketIdentifier != 0 && (aQoS == TmqttQoS::mtqsAtLeastOnce || aQoS == TmqttQoS::mtqsExactlyOnce);
}

TbrzWSMQTTQoSItem& TbrzWSMQTTQoSList::Append(uint16_t aPacketIdentifier, const std::string& aTopic, TmqttQoS aQoS,
                                             bool aRetain, const TbrzWSMQTTPublish_Properties* aPublishProperties) {
  auto item = std::make_unique<TbrzWSMQTTQoSItem>();
  item->SetPacketIdentifier(aPacketIdentifier);
  item->SetTopic(aTopic);
  item->SetQoS(aQoS);
  item->SetRetain(aRetain);
  if (aPublishProperties != nullptr) item->SetPublishProperties(aPublishProperties);
  FItems.push_back(std::move(item));
  return *FItems.back();
}

bool TbrzWSMQTTQoSList::QueueQoSItem(uint16_t aPacketIdentifier, const std::string& aTopic, const std::string& aText,
                                     TmqttQoS aQoS, bool aRetain,
                                     const TbrzWSMQTTPublish_Properties* aPublishProperties) {
  if (!IsQueuedQoS(aPacketIdentifier, aQoS)) return false;
  TbrzLock lock(FLock);
  TbrzWSMQTTQoSItem& item = Append(aPacketIdentifier, aTopic, aQoS, aRetain, aPublishProperties);
  item.SetItemType(TbrzWSMQTTItemType::mqttText);
  item.SetText(aText);
  return true;
}

bool TbrzWSMQTTQoSList::QueueQoSStreamItem(uint16_t aPacketIdentifier, const std::string& aTopic,
                                           TbrzMemoryStream& aStream, TmqttQoS aQoS, bool aRetain,
                                           const TbrzWSMQTTPublish_Properties* aPublishProperties) {
  if (!IsQueuedQoS(aPacketIdentifier, aQoS)) return false;
  TbrzLock lock(FLock);
  TbrzWSMQTTQoSItem& item = Append(aPacketIdentifier, aTopic, aQoS, aRetain, aPublishProperties);
  item.SetItemType(TbrzWSMQTTItemType::mqttStream);
  item.SetStream(aStream);
  return true;
}

bool TbrzWSMQTTQoSList::DeleteQoSItem(uint16_t aPacketIdentifier) {
  TbrzLock lock(FLock);
  // Backwards: the most recently queued item with the identifier goes.
  for (auto it = FItems.rbegin(); it != FItems.rend(); ++it) {
    if ((*it)->PacketIdentifier() == aPacketIdentifier) {
      FItems.erase(std::next(it).base());
      return true;
    }
  }
  return false;
}

void TbrzWSMQTTQoSList::Clear() {
  TbrzLock lock(FLock);
  FItems.clear();
}

int32_t TbrzWSMQTTQoSList::Count() const {
  TbrzLock lock(FLock);
  return static_cast<int32_t>(FItems.size());
}

TbrzWSMQTTQoSItem& TbrzWSMQTTQoSList::Item(int32_t aIndex) {
  TbrzLock lock(FLock);
  return *FItems.at(static_cast<size_t>(aIndex));
}

}  // namespace brz
