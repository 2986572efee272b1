#include "mqtt/TbrzWSProtocol_MQTT_ClientCore.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>
#include <unordered_set>

#include "common/Exception.h"
#include "common/Memory.h"
#include "common/Time.h"
#include "mqtt/EngineMessages.h"
#include "transport/TbrzSocketErrors.h"

namespace brz {

// Lets a running retry tick finish before the engine goes, and keeps later ticks out.
struct TbrzWSProtocol_MQTT_ClientCore::TTimerGuard {
  std::mutex Lock;  // held for the whole tick
  bool Alive = true;
};

namespace {

// A publish of the QoS list as a new item of its own (the list's lock held by the caller); the
// identifier is not copied.
std::unique_ptr<TbrzWSMQTTQoSItem> CopyPublish(TbrzWSMQTTQoSItem& aItem) {
  auto copy = std::make_unique<TbrzWSMQTTQoSItem>();
  copy->SetTopic(aItem.Topic());
  copy->SetItemType(aItem.ItemType());
  if (aItem.ItemType() == TbrzWSMQTTItemType::mqttStream) copy->SetStream(aItem.Stream());
  else copy->SetText(aItem.Text());
  copy->SetQoS(aItem.QoS());
  copy->SetRetain(aItem.Retain());
  copy->SetPublishProperties(aItem.PublishProperties());
  return copy;
}

// PUBACK and PUBREC reason codes from here on report a failure (MQTT 5).
constexpr int32_t kFirstFailureReasonCode = 0x80;

// QoS 1 and 2: the flows the broker acknowledges.
bool IsAcknowledged(TmqttQoS aQoS) {
  return aQoS == TmqttQoS::mtqsAtLeastOnce || aQoS == TmqttQoS::mtqsExactlyOnce;
}

int64_t WholeSeconds(uint64_t aFrom, uint64_t aTo) {
  return aTo >= aFrom ? static_cast<int64_t>((aTo - aFrom) / 1000) : static_cast<int64_t>((aFrom - aTo) / 1000);
}

int32_t SecondsToMilliseconds(int32_t aSeconds) {
  constexpr int32_t limit = std::numeric_limits<int32_t>::max() / 1000;
  if (aSeconds > limit) return limit * 1000;
  return aSeconds * 1000;
}

}  // namespace

void TbrzWSMQTTReceivedPacket::CopyFrom(TbrzWSMQTTMessage& aCodec) {
  ControlPacket = aCodec.FixedHeader().ControlPacket();
  QoS = aCodec.FixedHeader().QoS();
  auto copyAck = [this](auto& aAck) {
    PacketIdentifier = aAck.PacketIdentifier();
    ReasonCode = aAck.ReasonCode();
    ReasonName = aAck.ReasonName();
    AckProperties = aAck.Properties();
  };
  switch (ControlPacket) {
    case TmqttControlPacket::mtcpCONNACK: CONNACK = aCodec.CONNACK(); break;
    case TmqttControlPacket::mtcpPUBLISH: PUBLISH = aCodec.PUBLISH(); break;
    case TmqttControlPacket::mtcpPUBACK: copyAck(aCodec.PUBACK()); break;
    case TmqttControlPacket::mtcpPUBREC: copyAck(aCodec.PUBREC()); break;
    case TmqttControlPacket::mtcpPUBREL: copyAck(aCodec.PUBREL()); break;
    case TmqttControlPacket::mtcpPUBCOMP: copyAck(aCodec.PUBCOMP()); break;
    case TmqttControlPacket::mtcpSUBACK: Codes = aCodec.SUBACK(); break;
    case TmqttControlPacket::mtcpUNSUBACK: Codes = aCodec.UNSUBACK(); break;
    case TmqttControlPacket::mtcpDISCONNECT: DISCONNECT = aCodec.DISCONNECT(); break;
    case TmqttControlPacket::mtcpAUTH: AUTH = aCodec.AUTH(); break;
    default: break;
  }
}

TbrzWSProtocol_MQTT_ClientCore::TbrzWSProtocol_MQTT_ClientCore()
    : FTimerGuard(std::make_shared<TTimerGuard>()),
      FOutbox(TbrzWSMQTTOutbox::TLink{[this] { return QoSList().Count(); },
                                      [this](TbrzWSMQTTQoSItem& aItem) { return SendOutboxItem(aItem); },
                                      [this](const std::string& aText) {
                                        if (OnMQTTNotice) OnMQTTNotice(aText);
                                      }}) {}

TbrzWSProtocol_MQTT_ClientCore::~TbrzWSProtocol_MQTT_ClientCore() { ShutdownEngine(); }

void TbrzWSProtocol_MQTT_ClientCore::ShutdownEngine() {
  FOutbox.Close();  // outbox: no publisher stays waiting for room
  {
    std::lock_guard<std::mutex> tick(FTimerGuard->Lock);
    FTimerGuard->Alive = false;
  }
  std::lock_guard<std::mutex> guard(FQoSTimerLock);
  FreeTimer(FQoSTimer);
  for (auto& timer : FRetiredTimers) FreeTimer(timer);
  FRetiredTimers.clear();
}

// ---- codecs, identifiers, sending

TbrzConnectionPtr TbrzWSProtocol_MQTT_ClientCore::WSConnection() const {
  std::lock_guard<std::mutex> guard(FMessageLock);
  return FWSConnectionRef;
}

std::shared_ptr<TbrzWSMQTTMessage> TbrzWSProtocol_MQTT_ClientCore::CurrentMessage() {
  std::shared_ptr<TbrzWSMQTTMessage> codec;
  {
    std::lock_guard<std::mutex> guard(FMessageLock);
    if (FWSConnection.load() && FConnectionMessage) {
      codec = FConnectionMessage;
    } else {
      if (!FWSMessage) FWSMessage = std::make_shared<TbrzWSMQTTMessage>();
      codec = FWSMessage;
    }
  }
  TbrzLock lock(codec->CS());
  codec->SetMQTTVersion(FMQTTVersion.load());
  return codec;
}

uint16_t TbrzWSProtocol_MQTT_ClientCore::NextPacketIdentifier() {
  uint16_t current = FPacketIdentifier.load();
  uint16_t next = 0;
  do {
    next = current == 65535 ? 1 : static_cast<uint16_t>(current + 1);
  } while (!FPacketIdentifier.compare_exchange_weak(current, next));
  return next;
}

void TbrzWSProtocol_MQTT_ClientCore::SendPacket(const TBytes& aPacket) {
  TbrzLock guard(FSendLock);
  TbrzMemoryStream stream(aPacket);
  stream.SetPosition(0);
  WritePacketStream(stream);
}

// ---- API

void TbrzWSProtocol_MQTT_ClientCore::Connect() {
  ApplyKeepAlive(FHeartBeat.Enabled, FHeartBeat.Interval);
  std::shared_ptr<TbrzWSMQTTMessage> codec = CurrentMessage();
  TBytes packet;
  {
    TbrzLock lock(codec->CS());
    codec->SetConnectProperties(FConnectProperties);
    codec->SetWillProperties(FLastWillTestament.WillProperties);
    packet = codec->DoConnect(FAuthentication.Enabled, FAuthentication.UserName, FAuthentication.Password,
                              FLastWillTestament.Enabled, FLastWillTestament.Topic, FLastWillTestament.Text,
                              FLastWillTestament.QoS, FLastWillTestament.Retain, FHeartBeat.Enabled,
                              FHeartBeat.Interval);
  }
  SendPacket(packet);
}

void TbrzWSProtocol_MQTT_ClientCore::Ping() { SendPacket(CurrentMessage()->DoPing()); }

uint16_t TbrzWSProtocol_MQTT_ClientCore::Publish(const std::string& aTopic, const std::string& aText, TmqttQoS aQoS,
                                                 bool aRetain, const TbrzWSMQTTPublish_Properties* aPublishProperties) {
  // outbox: QoS 1/2 publishes respect the window and wait for a session
  if (IsAcknowledged(aQoS)) {
    auto item = std::make_unique<TbrzWSMQTTQoSItem>();
    item->SetTopic(aTopic);
    item->SetText(aText);
    item->SetQoS(aQoS);
    item->SetRetain(aRetain);
    item->SetPublishProperties(aPublishProperties);
    return FOutbox.Submit(std::move(item));
  }
  uint16_t identifier = NextPacketIdentifier();
  if (!FWSConnection.load()) {
    FOutbox.NoteGivenUp(FormatMsg(SMQTTPublishNoConnection, aTopic.c_str()));
    return identifier;
  }
  PublishText(identifier, aTopic, aText, aQoS, aRetain, true, aPublishProperties);
  return identifier;
}

uint16_t TbrzWSProtocol_MQTT_ClientCore::Publish(const std::string& aTopic, TbrzMemoryStream& aStream, TmqttQoS aQoS,
                                                 bool aRetain, const TbrzWSMQTTPublish_Properties* aPublishProperties) {
  // outbox: QoS 1/2 publishes respect the window and wait for a session
  if (IsAcknowledged(aQoS)) {
    auto item = std::make_unique<TbrzWSMQTTQoSItem>();
    item->SetTopic(aTopic);
    item->SetItemType(TbrzWSMQTTItemType::mqttStream);
    item->SetStream(aStream);
    item->SetQoS(aQoS);
    item->SetRetain(aRetain);
    item->SetPublishProperties(aPublishProperties);
    return FOutbox.Submit(std::move(item));
  }
  uint16_t identifier = NextPacketIdentifier();
  if (!FWSConnection.load()) {
    FOutbox.NoteGivenUp(FormatMsg(SMQTTPublishNoConnection, aTopic.c_str()));
    return identifier;
  }
  PublishStream(identifier, aTopic, aStream, aQoS, aRetain, true, aPublishProperties);
  return identifier;
}

void TbrzWSProtocol_MQTT_ClientCore::PublishText(uint16_t aPacketIdentifier, const std::string& aTopic,
                                                 const std::string& aText, TmqttQoS aQoS, bool aRetain, bool aQueue,
                                                 const TbrzWSMQTTPublish_Properties* aPublishProperties,
                                                 bool aDuplicate) {
  if (aQueue) QueueQoSItem(aPacketIdentifier, aTopic, aText, aQoS, aRetain, aPublishProperties);
  std::shared_ptr<TbrzWSMQTTMessage> codec = CurrentMessage();
  TBytes packet;
  {
    // The properties travel with this packet only: set and build under one hold of the codec.
    TbrzLock lock(codec->CS());
    if (aPublishProperties) {
      codec->SetPUBLISHProperties(*aPublishProperties);
      codec->PUBLISHProperties().SetEnabled(true);
    }
    packet = codec->DoPublish(aPacketIdentifier, aTopic, aText, aQoS, aRetain, aDuplicate);
  }
  SendPacket(packet);
}

void TbrzWSProtocol_MQTT_ClientCore::PublishStream(uint16_t aPacketIdentifier, const std::string& aTopic,
                                                   TbrzMemoryStream& aStream, TmqttQoS aQoS, bool aRetain, bool aQueue,
                                                   const TbrzWSMQTTPublish_Properties* aPublishProperties,
                                                   bool aDuplicate) {
  if (aQueue) QueueQoSStreamItem(aPacketIdentifier, aTopic, aStream, aQoS, aRetain, aPublishProperties);
  std::shared_ptr<TbrzWSMQTTMessage> codec = CurrentMessage();
  TBytes packet;
  {
    TbrzLock lock(codec->CS());
    if (aPublishProperties) {
      codec->SetPUBLISHProperties(*aPublishProperties);
      codec->PUBLISHProperties().SetEnabled(true);
    }
    packet = codec->DoPublish(aPacketIdentifier, aTopic, aStream, aQoS, aRetain, aDuplicate);
  }
  SendPacket(packet);
}

bool TbrzWSProtocol_MQTT_ClientCore::PublishAndWait(const std::string& aTopic, const std::string& aText,
                                                    TmqttQoS aQoS, bool aRetain,
                                                    const TbrzWSMQTTPublish_Properties* aPublishProperties,
                                                    int32_t aTimeout) {
  struct TWaitScope {
    std::atomic<bool>& Flag;
    ~TWaitScope() { Flag.store(false); }
  } scope{FWaitResponse};
  FLastPUBACK.store(0);
  FLastPUBCOMP.store(0);
  FWaitResponse.store(true);
  const TbrzTCPConnection_Base* connection = FWSConnection.load();
  uint16_t identifier = NextPacketIdentifier();
  PublishText(identifier, aTopic, aText, aQoS, aRetain, false, aPublishProperties);
  return WaitForAcknowledgement(identifier, aQoS, aTimeout, connection);
}

bool TbrzWSProtocol_MQTT_ClientCore::PublishAndWait(const std::string& aTopic, TbrzMemoryStream& aStream,
                                                    TmqttQoS aQoS, bool aRetain,
                                                    const TbrzWSMQTTPublish_Properties* aPublishProperties,
                                                    int32_t aTimeout) {
  struct TWaitScope {
    std::atomic<bool>& Flag;
    ~TWaitScope() { Flag.store(false); }
  } scope{FWaitResponse};
  FLastPUBACK.store(0);
  FLastPUBCOMP.store(0);
  FWaitResponse.store(true);
  const TbrzTCPConnection_Base* connection = FWSConnection.load();
  uint16_t identifier = NextPacketIdentifier();
  PublishStream(identifier, aTopic, aStream, aQoS, aRetain, false, aPublishProperties);
  return WaitForAcknowledgement(identifier, aQoS, aTimeout, connection);
}

bool TbrzWSProtocol_MQTT_ClientCore::WaitForAcknowledgement(uint16_t aPacketIdentifier, TmqttQoS aQoS,
                                                            int32_t aTimeout, const TbrzTCPConnection_Base* aConnection) {
  if (aQoS == TmqttQoS::mtqsAtMostOnce) return true;
  const uint32_t limit = static_cast<uint32_t>(aTimeout);
  const uint32_t start = static_cast<uint32_t>(TickCount64());
  do {
    if (aQoS == TmqttQoS::mtqsAtLeastOnce && FLastPUBACK.load() == aPacketIdentifier) return true;
    if (aQoS == TmqttQoS::mtqsExactlyOnce && FLastPUBCOMP.load() == aPacketIdentifier) return true;
    // Not queued, never re-sent: without the connection it went out on, no acknowledgement can come.
    if (!aConnection || FWSConnection.load() != aConnection) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  } while (static_cast<uint32_t>(static_cast<uint32_t>(TickCount64()) - start) < limit);
  return false;
}

uint16_t TbrzWSProtocol_MQTT_ClientCore::Subscribe(const std::string& aTopic, TmqttQoS aQoS,
                                                   const TbrzWSMQTTSubscribe_Properties* aSubscribeProperties) {
  TbrzWSTopics topics;
  topics.Add(aTopic, aQoS);
  return Subscribe(topics, aSubscribeProperties);
}

uint16_t TbrzWSProtocol_MQTT_ClientCore::Subscribe(const TbrzWSTopics& aTopics,
                                                   const TbrzWSMQTTSubscribe_Properties* aSubscribeProperties) {
  uint16_t identifier = NextPacketIdentifier();
  std::shared_ptr<TbrzWSMQTTMessage> codec = CurrentMessage();
  TBytes packet;
  {
    TbrzLock lock(codec->CS());
    if (aSubscribeProperties) {
      codec->SetSubscribeProperties(*aSubscribeProperties);
      codec->SubscribeProperties().SetEnabled(true);
    }
    packet = codec->DoSubscribe(identifier, aTopics);
  }
  SendPacket(packet);
  return identifier;
}

uint16_t TbrzWSProtocol_MQTT_ClientCore::UnSubscribe(const std::string& aTopic,
                                                     const TbrzWSMQTTUnsubscribe_Properties* aUnsubscribeProperties) {
  TbrzWSTopics topics;
  topics.Add(aTopic);
  return UnSubscribe(topics, aUnsubscribeProperties);
}

uint16_t TbrzWSProtocol_MQTT_ClientCore::UnSubscribe(const TbrzWSTopics& aTopics,
                                                     const TbrzWSMQTTUnsubscribe_Properties* aUnsubscribeProperties) {
  uint16_t identifier = NextPacketIdentifier();
  std::shared_ptr<TbrzWSMQTTMessage> codec = CurrentMessage();
  TBytes packet;
  {
    TbrzLock lock(codec->CS());
    if (aUnsubscribeProperties) {
      codec->SetUnsubscribeProperties(*aUnsubscribeProperties);
      codec->UnsubscribeProperties().SetEnabled(true);
    }
    packet = codec->DoUnSubscribe(identifier, aTopics);
  }
  SendPacket(packet);
  return identifier;
}

void TbrzWSProtocol_MQTT_ClientCore::Disconnect() { Disconnect(0, nullptr); }

void TbrzWSProtocol_MQTT_ClientCore::Disconnect(int32_t aReasonCode,
                                                const TbrzWSMQTTDisconnect_Properties* aDisconnectProperties) {
  std::shared_ptr<TbrzWSMQTTMessage> codec = CurrentMessage();
  TBytes packet;
  {
    TbrzLock lock(codec->CS());
    if (aDisconnectProperties) {
      codec->SetDISCONNECTProperties(*aDisconnectProperties);
      codec->DISCONNECTProperties().SetEnabled(true);
    }
    packet = codec->DoDisconnect(aReasonCode);
  }
  SendPacket(packet);
}

void TbrzWSProtocol_MQTT_ClientCore::Auth(bool aReAuthenticate, const TbrzWSMQTTAuth_Properties* aAuthProperties) {
  std::shared_ptr<TbrzWSMQTTMessage> codec = CurrentMessage();
  TBytes packet;
  {
    TbrzLock lock(codec->CS());
    if (aAuthProperties) {
      codec->SetAUTHProperties(*aAuthProperties);
      codec->AUTHProperties().SetEnabled(true);
    }
    packet = codec->DoAuth(aReAuthenticate);
  }
  SendPacket(packet);
}

// ---- outbox

uint16_t TbrzWSProtocol_MQTT_ClientCore::SendOutboxItem(TbrzWSMQTTQoSItem& aItem) {
  const uint16_t identifier = NextPacketIdentifier();
  if (aItem.ItemType() == TbrzWSMQTTItemType::mqttStream) {
    PublishStream(identifier, aItem.Topic(), aItem.Stream(), aItem.QoS(), aItem.Retain(), true,
                  aItem.PublishProperties());
  } else {
    PublishText(identifier, aItem.Topic(), aItem.Text(), aItem.QoS(), aItem.Retain(), true,
                aItem.PublishProperties());
  }
  return identifier;
}

int32_t TbrzWSProtocol_MQTT_ClientCore::SessionWindow(const TbrzWSMQTTCONNACK& aConnack) const {
  const int32_t chosen = FInflightMaximum.load();
  if (FMQTTVersion.load() != TwsMQTTVersion::mqtt5) return chosen > 0 ? chosen : kDefaultInflightMaximum;
  // MQTT 5: the broker's Receive Maximum is a limit the client must respect; a chosen value only lowers it.
  const int32_t receiveMaximum = aConnack.CONNACKProperties().ReceiveMaximum();
  return chosen > 0 ? std::min(chosen, receiveMaximum) : receiveMaximum;
}

void TbrzWSProtocol_MQTT_ClientCore::RequeueUnacknowledged() {
  // Taken before the list's lock: the outbox's lock comes first.
  const std::unordered_set<uint16_t> received = FOutbox.TakePubRecs();
  std::vector<std::unique_ptr<TbrzWSMQTTQoSItem>> again;
  std::vector<std::string> abandoned;
  TbrzWSMQTTQoSList& list = QoSList();
  {
    TbrzLock guard(list.CS());
    for (int32_t index = 0; index < list.Count(); ++index) {
      TbrzWSMQTTQoSItem& item = list.Item(index);
      // The broker had this one: sending it again could deliver it twice.
      if (item.QoS() == TmqttQoS::mtqsExactlyOnce && received.count(item.PacketIdentifier()) != 0) {
        abandoned.push_back(
            FormatMsg(SMQTTPublishAbandoned, static_cast<int>(item.PacketIdentifier()), item.Topic().c_str()));
        continue;
      }
      again.push_back(CopyPublish(item));
    }
    list.Clear();
  }
  FOutbox.Requeue(std::move(again));
  for (const std::string& notice : abandoned) FOutbox.NoteGivenUp(notice);
}

int32_t TbrzWSProtocol_MQTT_ClientCore::Unfinished() { return QoSList().Count() + FOutbox.Count(); }

// ---- QoS list and retry timer

TbrzWSMQTTQoSList& TbrzWSProtocol_MQTT_ClientCore::QoSList() {
  std::lock_guard<std::mutex> guard(FQoSListLock);
  if (!FQoSList) FQoSList = std::make_unique<TbrzWSMQTTQoSList>();
  return *FQoSList;
}

void TbrzWSProtocol_MQTT_ClientCore::QueueQoSItem(uint16_t aPacketIdentifier, const std::string& aTopic,
                                                  const std::string& aText, TmqttQoS aQoS, bool aRetain,
                                                  const TbrzWSMQTTPublish_Properties* aPublishProperties) {
  QoSList().QueueQoSItem(aPacketIdentifier, aTopic, aText, aQoS, aRetain, aPublishProperties);
}

void TbrzWSProtocol_MQTT_ClientCore::QueueQoSStreamItem(uint16_t aPacketIdentifier, const std::string& aTopic,
                                                        TbrzMemoryStream& aStream, TmqttQoS aQoS, bool aRetain,
                                                        const TbrzWSMQTTPublish_Properties* aPublishProperties) {
  QoSList().QueueQoSStreamItem(aPacketIdentifier, aTopic, aStream, aQoS, aRetain, aPublishProperties);
}

void TbrzWSProtocol_MQTT_ClientCore::DeleteQoSItem(uint16_t aPacketIdentifier) {
  QoSList().DeleteQoSItem(aPacketIdentifier);
}

void TbrzWSProtocol_MQTT_ClientCore::StartQoSTimer() {
  if (FQoS.Level == TmqttQoS::mtqsAtMostOnce) return;
  std::lock_guard<std::mutex> guard(FQoSTimerLock);
  for (auto& timer : FRetiredTimers) FreeTimer(timer);
  FRetiredTimers.clear();
  if (!FQoSTimer) {
    const int32_t interval = SecondsToMilliseconds(FQoS.Interval);
    FQoSTimer = std::make_unique<TbrzTimer>(interval, false);
    FQoSTimer->SetDebugName(SMQTTQoSTimerName);
    std::shared_ptr<TTimerGuard> tickGuard = FTimerGuard;
    FQoSTimer->SetOnTimer([this, tickGuard](TbrzTimer&) {
      std::lock_guard<std::mutex> tick(tickGuard->Lock);
      if (!tickGuard->Alive) return;
      QoSTimerTick();
    });
    FQoSTimer->SetOnException([this, tickGuard](TbrzTimer&, const Exception& E) {
      std::lock_guard<std::mutex> tick(tickGuard->Lock);
      if (!tickGuard->Alive) return;
      QoSTimerException(E);
    });
  }
  if (FQoSTimer->Interval() > 0 && !FQoSTimer->Enabled()) FQoSTimer->SetEnabled(true);
}

void TbrzWSProtocol_MQTT_ClientCore::StopQoSTimer() {
  std::lock_guard<std::mutex> guard(FQoSTimerLock);
  if (!FQoSTimer) return;
  // Never wait here: a tick may be sending on the thread that reports the disconnect.
  FQoSTimer->Terminate();
  FRetiredTimers.push_back(std::move(FQoSTimer));
}

void TbrzWSProtocol_MQTT_ClientCore::QoSTimerTick() { ResendQoSItems(); }

void TbrzWSProtocol_MQTT_ClientCore::QoSTimerException(const Exception& E) {
  RaiseEngineException(WSConnection(), E.Message(), &E);
}

void TbrzWSProtocol_MQTT_ClientCore::ResendQoSItems() {
  TbrzWSMQTTQoSList& list = QoSList();
  TbrzLock guard(list.CS());
  for (int32_t index = 0; index < list.Count(); ++index) {
    TbrzWSMQTTQoSItem& item = list.Item(index);
    if (item.AgeSeconds() <= FQoS.Timeout) continue;
    // The retry is the same message: same identifier, topic, payload and properties.
    if (item.ItemType() == TbrzWSMQTTItemType::mqttStream) {
      PublishStream(item.PacketIdentifier(), item.Topic(), item.Stream(), item.QoS(), item.Retain(), false,
                    item.PublishProperties());
    } else {
      PublishText(item.PacketIdentifier(), item.Topic(), item.Text(), item.QoS(), item.Retain(), false,
                  item.PublishProperties());
    }
  }
}

void TbrzWSProtocol_MQTT_ClientCore::ResendSessionItems() {
  // Copies taken under the list's lock, sent without it: no lock is held across a socket write.
  std::vector<std::unique_ptr<TbrzWSMQTTQoSItem>> items;
  {
    TbrzWSMQTTQoSList& list = QoSList();
    TbrzLock guard(list.CS());
    for (int32_t index = 0; index < list.Count(); ++index) {
      TbrzWSMQTTQoSItem& item = list.Item(index);
      items.push_back(CopyPublish(item));
      items.back()->SetPacketIdentifier(item.PacketIdentifier());
    }
  }
  for (auto& item : items) {
    if (item->ItemType() == TbrzWSMQTTItemType::mqttStream) {
      PublishStream(item->PacketIdentifier(), item->Topic(), item->Stream(), item->QoS(), item->Retain(), false,
                    item->PublishProperties(), true);
    } else {
      PublishText(item->PacketIdentifier(), item->Topic(), item->Text(), item->QoS(), item->Retain(), false,
                  item->PublishProperties(), true);
    }
  }
}

// ---- transport notifications

void TbrzWSProtocol_MQTT_ClientCore::HandleTransportConnect(const TbrzConnectionPtr& aConnection) {
  {
    std::lock_guard<std::mutex> guard(FMessageLock);
    FConnectionMessage = std::make_shared<TbrzWSMQTTMessage>();
    FWSConnectionRef = aConnection;
    FWSConnection.store(aConnection.get());
  }
  FFirstPing.store(0);
  FLastPing.store(0);
  FLastPong.store(0);
  FConnackState.store(1);
  FOutbox.SessionLost();  // outbox: nothing goes out before the CONNACK
  StartQoSTimer();
  PrepareConnect(aConnection, *CurrentMessage());
  Connect();
}

void TbrzWSProtocol_MQTT_ClientCore::PrepareConnect(const TbrzConnectionPtr& aConnection, TbrzWSMQTTMessage& aCodec) {
  bool cleanSession = true;
  std::string identifier;
  {
    TbrzLock lock(aCodec.CS());
    identifier = aCodec.ClientId();
  }
  if (!OnMQTTBeforeConnect) {
    // Every CONNECT then carries a freshly generated identifier.
    TbrzLock lock(aCodec.CS());
    aCodec.SetClientId({});
    return;
  }
  OnMQTTBeforeConnect(aConnection, cleanSession, identifier);
  TbrzLock lock(aCodec.CS());
  if (cleanSession && identifier == aCodec.ClientId()) identifier.clear();
  aCodec.SetCleanSession(cleanSession);
  aCodec.SetEmptyClientId(FEmptyClientId.load() && identifier.empty());
  aCodec.SetClientId(identifier);
}

void TbrzWSProtocol_MQTT_ClientCore::InspectReceivedData(const TbrzConnectionPtr& aConnection,
                                                         const TbrzMemoryStream& aData) {
  if (!FWaitResponse.load()) return;
  // A raw TCP chunk need not start at a packet boundary; there the dispatcher notes the
  // acknowledgements from the reassembled packets instead.
  if (IsTCPTransport(aConnection)) return;
  TbrzWSMQTTMessage scratch;
  scratch.SetMQTTVersion(FMQTTVersion.load());
  TbrzMemoryStream copy(aData.Bytes());
  // Only a look ahead: malformed data is reported by the normal delivery that follows.
  RunQuietly([&] {
    while (copy.Position() < copy.Size() && scratch.Read(copy)) {
      TmqttControlPacket type = scratch.FixedHeader().ControlPacket();
      if (type == TmqttControlPacket::mtcpPUBACK) FLastPUBACK.store(scratch.PUBACK().PacketIdentifier());
      if (type == TmqttControlPacket::mtcpPUBCOMP) FLastPUBCOMP.store(scratch.PUBCOMP().PacketIdentifier());
    }
  });
}

void TbrzWSProtocol_MQTT_ClientCore::HandleReceivedData(const TbrzConnectionPtr& aConnection,
                                                        const TbrzMemoryStream& aData) {
  std::shared_ptr<TbrzWSMQTTMessage> codec = CurrentMessage();
  bool stop = false;
  if (IsTCPTransport(aConnection)) {
    // Each packet is decoded where the one before ended, the bytes after it not moved: a large read
    // of many small packets is one pass over its bytes.
    const uint8_t* bytes = aData.Memory();
    const size_t size = aData.Size();
    size_t position = 0;
    while (!stop && position < size) {
      TbrzWSMQTTReceivedPacket packet;
      {
        TbrzLock lock(codec->CS());
        if (!codec->ReadTCP(bytes, size, position)) break;
        packet.CopyFrom(*codec);
      }
      Dispatch(aConnection, packet, stop);
    }
    return;
  }
  TbrzMemoryStream stream(aData.Bytes());
  stream.SetPosition(0);
  while (!stop && stream.Position() < stream.Size()) {
    TbrzWSMQTTReceivedPacket packet;
    {
      TbrzLock lock(codec->CS());
      if (!codec->Read(stream)) break;
      packet.CopyFrom(*codec);
    }
    Dispatch(aConnection, packet, stop);
  }
}

void TbrzWSProtocol_MQTT_ClientCore::Dispatch(const TbrzConnectionPtr& aConnection,
                                              const TbrzWSMQTTReceivedPacket& aPacket, bool& aStop) {
  CheckProtocol(aPacket);
  const auto identifier = static_cast<uint16_t>(aPacket.PacketIdentifier);
  switch (aPacket.ControlPacket) {
    case TmqttControlPacket::mtcpCONNACK:
      HandleConnack(aConnection, aPacket.CONNACK);
      break;
    case TmqttControlPacket::mtcpPUBLISH: {
      RaiseMQTTPublish(aConnection, aPacket.PUBLISH);
      const auto publishIdentifier = static_cast<uint16_t>(aPacket.PUBLISH.PacketIdentifier());
      if (aPacket.QoS == TmqttQoS::mtqsAtLeastOnce) SendPacket(CurrentMessage()->DoPubAck(publishIdentifier));
      if (aPacket.QoS == TmqttQoS::mtqsExactlyOnce) SendPacket(CurrentMessage()->DoPubRec(publishIdentifier));
      break;
    }
    case TmqttControlPacket::mtcpPUBACK:
      DeleteQoSItem(identifier);
      FLastPUBACK.store(identifier);
      RaiseMQTTPubAck(aConnection, aPacket);
      // outbox: a refused message is given up; the freed slot lets the next one go
      if (aPacket.ReasonCode >= kFirstFailureReasonCode) FOutbox.NoteRejected();
      FOutbox.Pump();
      break;
    case TmqttControlPacket::mtcpPUBREC:
      RaiseMQTTPubRec(aConnection, aPacket);
      SendPacket(CurrentMessage()->DoPubRel(identifier));
      // outbox: a failure code ends the flow; otherwise the broker now has the message
      if (aPacket.ReasonCode >= kFirstFailureReasonCode) {
        DeleteQoSItem(identifier);
        FOutbox.NoteRejected();
        FOutbox.Pump();
      } else {
        FOutbox.NotePubRec(identifier);
      }
      break;
    case TmqttControlPacket::mtcpPUBREL:
      RaiseMQTTPubRel(aConnection, aPacket);
      SendPacket(CurrentMessage()->DoPubComp(identifier));
      break;
    case TmqttControlPacket::mtcpPUBCOMP:
      DeleteQoSItem(identifier);
      FLastPUBCOMP.store(identifier);
      RaiseMQTTPubComp(aConnection, aPacket);
      FOutbox.ForgetPubRec(identifier);  // outbox: the flow is complete
      FOutbox.Pump();
      break;
    case TmqttControlPacket::mtcpSUBACK:
      RaiseMQTTSubscribe(aConnection, aPacket.Codes);
      break;
    case TmqttControlPacket::mtcpUNSUBACK:
      RaiseMQTTUnSubscribe(aConnection, aPacket.Codes);
      break;
    case TmqttControlPacket::mtcpPINGRESP:
      FLastPong.store(TickCount64());
      RaiseMQTTPing(aConnection);
      break;
    case TmqttControlPacket::mtcpDISCONNECT:
      // The broker ends the session: nothing after it on this connection is processed.
      CloseConnection(aConnection);
      RaiseMQTTDisconnect(aConnection, aPacket.DISCONNECT);
      aStop = true;
      break;
    case TmqttControlPacket::mtcpAUTH:
      RaiseMQTTAuth(aConnection, aPacket.AUTH);
      break;
    default:
      break;
  }
}

void TbrzWSProtocol_MQTT_ClientCore::CheckProtocol(const TbrzWSMQTTReceivedPacket& aPacket) {
  switch (aPacket.ControlPacket) {
    case TmqttControlPacket::mtcpCONNACK:
      // A CONNACK is sent once per connection.
      if (FConnackState.exchange(2) == 2) throw Exception(SMQTTSecondConnack);
      return;
    case TmqttControlPacket::mtcpAUTH:
      // Enhanced authentication may run before CONNACK under 5.0.
      if (FMQTTVersion.load() == TwsMQTTVersion::mqtt5) return;
      break;
    case TmqttControlPacket::mtcpPUBLISH:
      // Both QoS bits set is a malformed packet.
      if (aPacket.QoS == TmqttQoS::mtqsReserved) throw Exception(SMQTTPublishQoS3);
      // A topic name must be well-formed UTF-8.
      if (!aPacket.PUBLISH.TopicValid()) throw Exception(SMQTTTopicNotUTF8);
      break;
    default:
      break;
  }
  // The first packet from the server must be CONNACK.
  if (FConnackState.load() == 1) throw Exception(SMQTTPacketBeforeConnack);
}

void TbrzWSProtocol_MQTT_ClientCore::HandleConnack(const TbrzConnectionPtr& aConnection,
                                                   const TbrzWSMQTTCONNACK& aConnack) {
  FLastConnackReasonCode.store(aConnack.ReasonCode());
  if (!aConnack.Session()) {
    FPacketIdentifier.store(0);
    // outbox: what the lost session left unacknowledged is sent again in the new one
    RequeueUnacknowledged();
  }
  if (aConnack.ReasonCode() == 0) FOutbox.SessionReady(SessionWindow(aConnack));  // outbox
  if (OnMQTTConnect)
    OnMQTTConnect(aConnection, aConnack.Session(), aConnack.ReasonCode(), aConnack.ReasonName(),
                  aConnack.CONNACKProperties());
  if (aConnack.Session() && aConnack.ReasonCode() == 0) ResendSessionItems();
  FOutbox.Pump();  // outbox: what waited for the session goes out
}

void TbrzWSProtocol_MQTT_ClientCore::HandleTransportDisconnect(const TbrzConnectionPtr& aConnection, int32_t aCode) {
  if (FWSConnection.load() == aConnection.get()) FOutbox.SessionLost();  // outbox: publishes wait from now on
  std::shared_ptr<TbrzWSMQTTMessage> codec;
  {
    std::lock_guard<std::mutex> guard(FMessageLock);
    if (FWSConnection.load() == aConnection.get()) codec = FConnectionMessage;
  }
  TbrzWSMQTTDISCONNECT last;
  if (codec) {
    TbrzLock lock(codec->CS());
    last = codec->DISCONNECT();
  }
  RaiseMQTTDisconnect(aConnection, last);
  {
    std::shared_ptr<TbrzWSMQTTMessage> spare;
    {
      std::lock_guard<std::mutex> guard(FMessageLock);
      spare = FWSMessage;
    }
    if (spare) spare->Clear();
  }
  StopQoSTimer();
  TransportDisconnected(aConnection, aCode);
  std::lock_guard<std::mutex> guard(FMessageLock);
  if (FWSConnection.load() == aConnection.get()) {
    FConnackState.store(0);
    FWSConnection.store(nullptr);
    FWSConnectionRef.reset();
    FConnectionMessage.reset();
  }
}

void TbrzWSProtocol_MQTT_ClientCore::TransportDisconnected(const TbrzConnectionPtr& /*aConnection*/,
                                                           int32_t /*aCode*/) {}

bool TbrzWSProtocol_MQTT_ClientCore::HeartBeatTick(const TbrzConnectionPtr& /*aConnection*/) {
  if (!FHeartBeat.Enabled) return false;
  const int32_t timeout = FHeartBeat.Timeout;
  const int32_t interval = FHeartBeat.Interval;
  const uint64_t now = TickCount64();
  if (timeout > 0) {
    const uint64_t lastPing = FLastPing.load();
    const uint64_t lastPong = FLastPong.load();
    const bool overdue = lastPing > lastPong && (lastPong == 0 || WholeSeconds(lastPong, lastPing) >= timeout);
    if (overdue) {
      if (interval >= timeout && WholeSeconds(lastPing, now) >= timeout) throw Exception(SMQTTHeartBeatTimeout);
      const uint64_t firstPing = FFirstPing.load();
      if (timeout >= interval && firstPing != 0 && WholeSeconds(firstPing, now) >= timeout)
        throw Exception(SMQTTHeartBeatTimeout);
    } else {
      FFirstPing.store(0);
    }
  }
  // Stamped before sending, so that a quick PINGRESP is never older than its PINGREQ.
  if (FFirstPing.load() == 0) FFirstPing.store(now);
  FLastPing.store(now);
  Ping();
  return true;
}

// ---- events

void TbrzWSProtocol_MQTT_ClientCore::RaiseMQTTPing(const TbrzConnectionPtr& aConnection) {
  if (OnMQTTPing) OnMQTTPing(aConnection);
}

void TbrzWSProtocol_MQTT_ClientCore::RaiseMQTTPublish(const TbrzConnectionPtr& aConnection,
                                                      const TbrzWSMQTTPUBLISH& aPublish) {
  if (OnMQTTPublish) OnMQTTPublish(aConnection, aPublish.Topic(), aPublish.Text(), aPublish.PUBLISHProperties());
  if (OnMQTTPublishPacket) OnMQTTPublishPacket(aConnection, aPublish);
}

void TbrzWSProtocol_MQTT_ClientCore::RaiseMQTTPubAck(const TbrzConnectionPtr& aConnection,
                                                     const TbrzWSMQTTReceivedPacket& aPacket) {
  if (OnMQTTPubAck)
    OnMQTTPubAck(aConnection, static_cast<uint16_t>(aPacket.PacketIdentifier), aPacket.ReasonCode, aPacket.ReasonName,
                 aPacket.AckProperties);
}

void TbrzWSProtocol_MQTT_ClientCore::RaiseMQTTPubRec(const TbrzConnectionPtr& aConnection,
                                                     const TbrzWSMQTTReceivedPacket& aPacket) {
  if (OnMQTTPubRec)
    OnMQTTPubRec(aConnection, static_cast<uint16_t>(aPacket.PacketIdentifier), aPacket.ReasonCode, aPacket.ReasonName,
                 aPacket.AckProperties);
}

void TbrzWSProtocol_MQTT_ClientCore::RaiseMQTTPubRel(const TbrzConnectionPtr& aConnection,
                                                     const TbrzWSMQTTReceivedPacket& aPacket) {
  if (OnMQTTPubRel)
    OnMQTTPubRel(aConnection, static_cast<uint16_t>(aPacket.PacketIdentifier), aPacket.ReasonCode, aPacket.ReasonName,
                 aPacket.AckProperties);
}

void TbrzWSProtocol_MQTT_ClientCore::RaiseMQTTPubComp(const TbrzConnectionPtr& aConnection,
                                                      const TbrzWSMQTTReceivedPacket& aPacket) {
  if (OnMQTTPubComp)
    OnMQTTPubComp(aConnection, static_cast<uint16_t>(aPacket.PacketIdentifier), aPacket.ReasonCode,
                  aPacket.ReasonName, aPacket.AckProperties);
}

void TbrzWSProtocol_MQTT_ClientCore::RaiseMQTTSubscribe(const TbrzConnectionPtr& aConnection,
                                                        const TbrzWSMQTTCodesPacket& aSuback) {
  if (OnMQTTSubscribe)
    OnMQTTSubscribe(aConnection, static_cast<uint16_t>(aSuback.PacketIdentifier()), aSuback.Codes(),
                    aSuback.Properties());
}

void TbrzWSProtocol_MQTT_ClientCore::RaiseMQTTUnSubscribe(const TbrzConnectionPtr& aConnection,
                                                          const TbrzWSMQTTCodesPacket& aUnsuback) {
  if (OnMQTTUnSubscribe)
    OnMQTTUnSubscribe(aConnection, static_cast<uint16_t>(aUnsuback.PacketIdentifier()), aUnsuback.Codes(),
                      aUnsuback.Properties());
}

void TbrzWSProtocol_MQTT_ClientCore::RaiseMQTTDisconnect(const TbrzConnectionPtr& aConnection,
                                                         const TbrzWSMQTTDISCONNECT& aDisconnect) {
  if (OnMQTTDisconnect)
    OnMQTTDisconnect(aConnection, aDisconnect.ReasonCode(), aDisconnect.ReasonName(), aDisconnect.Properties());
}

void TbrzWSProtocol_MQTT_ClientCore::RaiseMQTTAuth(const TbrzConnectionPtr& aConnection, const TbrzWSMQTTAUTH& aAuth) {
  if (OnMQTTAuth) OnMQTTAuth(aConnection, aAuth.ReasonCode(), aAuth.ReasonName(), aAuth.Properties());
}

}  // namespace brz
