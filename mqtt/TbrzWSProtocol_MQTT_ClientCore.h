#pragma once
// The MQTT client protocol, independent of the component it sits on: packet identifiers, CONNECT,
// the dispatch of received packets with the automatic QoS replies, the QoS retry list and timer,
// keep-alive and the twelve MQTT events. What it needs from the transport (writing one packet,
// closing the connection, the kind of transport, the client's heartbeat) are the pure virtual
// link operations at the end, which TbrzWSProtocol_MQTT_Client implements over the client component.
//
// Threads: API calls run on application threads, received data and the events on the read thread,
// keep-alive on the client's heartbeat thread, re-sends on the QoS timer thread. Sends are
// serialised by FSendLock (one packet's bytes are handed over whole); each codec's own lock
// serialises builds and decodes on it; the QoS list has its own lock, which may be held while
// sending, so the send path never takes it. Lock order: QoS list, then send, then codec.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/TbrzCriticalSection.h"
#include "common/TbrzMemoryStream.h"
#include "common/TbrzTimer.h"
#include "mqtt/MQTTTypes.h"
#include "mqtt/TbrzWSMQTTMessage.h"
#include "mqtt/TbrzWSMQTTOptions.h"
#include "mqtt/TbrzWSMQTTOutbox.h"
#include "mqtt/TbrzWSMQTTPackets.h"
#include "mqtt/TbrzWSMQTTProperties.h"
#include "transport/TbrzSocketConnection.h"

namespace brz {

class Exception;

// Event types; Connection is the connection the packet arrived on (not owned; may be null while
// detached). Property sets and code lists are valid only during the call.
using TbrzMQTTBeforeConnectEvent =
    std::function<void(const TbrzConnectionPtr& Connection, bool& aCleanSession, std::string& aClientIdentifier)>;
using TbrzMQTTConnectEvent =
    std::function<void(const TbrzConnectionPtr& Connection, bool Session, int32_t ReasonCode,
                       const std::string& ReasonName, const TbrzWSMQTTCONNACKProperties& ConnectProperties)>;
using TbrzMQTTPingEvent = std::function<void(const TbrzConnectionPtr& Connection)>;
// The whole received PUBLISH: flags, identifier, exact payload and properties.
using TbrzMQTTPublishPacketEvent =
    std::function<void(const TbrzConnectionPtr& Connection, const TbrzWSMQTTPUBLISH& aPublish)>;
using TbrzMQTTPublishEvent =
    std::function<void(const TbrzConnectionPtr& Connection, const std::string& aTopic, const std::string& aText,
                       const TbrzWSMQTTPublishProperties& PublishProperties)>;
// PUBACK, PUBREC, PUBREL and PUBCOMP.
using TbrzMQTTAckEvent =
    std::function<void(const TbrzConnectionPtr& Connection, uint16_t aPacketIdentifier, int32_t ReasonCode,
                       const std::string& ReasonName, const TbrzWSMQTTPUBSUBACKProperties& Properties)>;
using TbrzMQTTSubscribeEvent =
    std::function<void(const TbrzConnectionPtr& Connection, uint16_t aPacketIdentifier, const TbrzWSSUBACKS& aCodes,
                       const TbrzWSMQTTSUBACKProperties& SubscribeProperties)>;
using TbrzMQTTUnSubscribeEvent =
    std::function<void(const TbrzConnectionPtr& Connection, uint16_t aPacketIdentifier, const TbrzWSUNSUBACKS& aCodes,
                       const TbrzWSMQTTUNSUBACKProperties& UnsubscribeProperties)>;
using TbrzMQTTDisconnectEvent =
    std::function<void(const TbrzConnectionPtr& Connection, int32_t ReasonCode, const std::string& ReasonName,
                       const TbrzWSMQTTDISCONNECTProperties& DisconnectProperties)>;
// A publish the engine gave up (dropped or refused), in words for people.
using TbrzMQTTNoticeEvent = std::function<void(const std::string& aText)>;
using TbrzMQTTAuthEvent = std::function<void(const TbrzConnectionPtr& Connection, int32_t ReasonCode,
                                             const std::string& ReasonName, const TbrzWSMQTTAUTHProperties& AuthProperties)>;

// The values of one decoded packet, copied out of the codec under its lock so that a packet built
// meanwhile on another thread cannot change what the dispatcher reads.
struct TbrzWSMQTTReceivedPacket {
  TmqttControlPacket ControlPacket = TmqttControlPacket::mtcpReserved0;
  TmqttQoS QoS = TmqttQoS::mtqsAtMostOnce;
  TbrzWSMQTTCONNACK CONNACK;
  TbrzWSMQTTPUBLISH PUBLISH;
  // PUBACK, PUBREC, PUBREL, PUBCOMP share the identifier/reason/properties shape.
  int32_t PacketIdentifier = 0;
  int32_t ReasonCode = 0;
  std::string ReasonName;
  TbrzWSMQTTPUBSUBACKProperties AckProperties;
  TbrzWSMQTTCodesPacket Codes;  // SUBACK, UNSUBACK
  TbrzWSMQTTDISCONNECT DISCONNECT;
  TbrzWSMQTTAUTH AUTH;

  // Copies the packet the codec decoded last (call under the codec's lock).
  void CopyFrom(TbrzWSMQTTMessage& aCodec);
};

class TbrzWSProtocol_MQTT_ClientCore {
 public:
  TbrzWSProtocol_MQTT_ClientCore();
  virtual ~TbrzWSProtocol_MQTT_ClientCore();
  TbrzWSProtocol_MQTT_ClientCore(const TbrzWSProtocol_MQTT_ClientCore&) = delete;
  TbrzWSProtocol_MQTT_ClientCore& operator=(const TbrzWSProtocol_MQTT_ClientCore&) = delete;

  // ---- API (each builds with the current codec and sends one packet)

  // Copies the keep-alive settings to the client and sends CONNECT; normally run on transport connect.
  void Connect();
  void Ping();
  // Returns the identifier taken for the publish (also for QoS 0, where it is not sent). A QoS 1/2
  // publish goes through the outbox: while it waits (window full, or no session up) it has no
  // identifier yet and 0 is returned; the identifier is taken when it is sent. A QoS 0 publish
  // without a connection is dropped with a notice.
  uint16_t Publish(const std::string& aTopic, const std::string& aText, TmqttQoS aQoS = TmqttQoS::mtqsAtMostOnce,
                   bool aRetain = false, const TbrzWSMQTTPublish_Properties* aPublishProperties = nullptr);
  uint16_t Publish(const std::string& aTopic, TbrzMemoryStream& aStream, TmqttQoS aQoS = TmqttQoS::mtqsAtMostOnce,
                   bool aRetain = false, const TbrzWSMQTTPublish_Properties* aPublishProperties = nullptr);
  // Publishes without queueing and waits up to aTimeout ms (unsigned; a negative value waits without
  // limit) for the PUBACK (QoS 1) or PUBCOMP (QoS 2). QoS 0 returns true at once. Returns false early
  // when the connection goes away, since the acknowledgement can then never arrive. Never call it on
  // the thread that delivers the received data.
  bool PublishAndWait(const std::string& aTopic, const std::string& aText, TmqttQoS aQoS, bool aRetain,
                      const TbrzWSMQTTPublish_Properties* aPublishProperties, int32_t aTimeout);
  bool PublishAndWait(const std::string& aTopic, TbrzMemoryStream& aStream, TmqttQoS aQoS, bool aRetain,
                      const TbrzWSMQTTPublish_Properties* aPublishProperties, int32_t aTimeout);
  uint16_t Subscribe(const std::string& aTopic, TmqttQoS aQoS = TmqttQoS::mtqsAtMostOnce,
                     const TbrzWSMQTTSubscribe_Properties* aSubscribeProperties = nullptr);
  uint16_t Subscribe(const TbrzWSTopics& aTopics,
                     const TbrzWSMQTTSubscribe_Properties* aSubscribeProperties = nullptr);
  uint16_t UnSubscribe(const std::string& aTopic, const TbrzWSMQTTUnsubscribe_Properties* aUnsubscribeProperties = nullptr);
  uint16_t UnSubscribe(const TbrzWSTopics& aTopics,
                       const TbrzWSMQTTUnsubscribe_Properties* aUnsubscribeProperties = nullptr);
  // Sends DISCONNECT; the transport is left open (the broker closes it).
  void Disconnect();
  void Disconnect(int32_t aReasonCode, const TbrzWSMQTTDisconnect_Properties* aDisconnectProperties = nullptr);
  void Auth(bool aReAuthenticate, const TbrzWSMQTTAuth_Properties* aAuthProperties = nullptr);

  // ---- settings (setters copy the given values)

  TwsMQTTVersion MQTTVersion() const { return FMQTTVersion.load(); }
  virtual void SetMQTTVersion(TwsMQTTVersion aValue) { FMQTTVersion.store(aValue); }
  TbrzWSMQTTQoS_Options& QoS() { return FQoS; }
  void SetQoS(const TbrzWSMQTTQoS_Options& aValue) { FQoS.Assign(aValue); }
  TbrzWSMQTTLWT_Options& LastWillTestament() { return FLastWillTestament; }
  void SetLastWillTestament(const TbrzWSMQTTLWT_Options& aValue) { FLastWillTestament.Assign(aValue); }
  TbrzWSMQTTAuthentication_Options& Authentication() { return FAuthentication; }
  void SetAuthentication(const TbrzWSMQTTAuthentication_Options& aValue) { FAuthentication.Assign(aValue); }
  TbrzWSMQTTHeartBeat_Options& HeartBeat() { return FHeartBeat; }
  void SetHeartBeat(const TbrzWSMQTTHeartBeat_Options& aValue) { FHeartBeat.Assign(aValue); }
  // The most QoS 1/2 publishes unacknowledged at once; 0 takes the default (the broker's Receive
  // Maximum under 5.0, else kDefaultInflightMaximum).
  int32_t InflightMaximum() const { return FInflightMaximum.load(); }
  void SetInflightMaximum(int32_t aValue) { FInflightMaximum.store(aValue); }
  static constexpr int32_t kDefaultInflightMaximum = 20;
  // An empty client identifier set in OnMQTTBeforeConnect is sent empty (the broker assigns one)
  // instead of being replaced by a generated one.
  bool EmptyClientId() const { return FEmptyClientId.load(); }
  void SetEmptyClientId(bool aValue) { FEmptyClientId.store(aValue); }
  TbrzWSMQTTConnect_Properties& ConnectProperties() { return FConnectProperties; }
  void SetConnectProperties(const TbrzWSMQTTConnect_Properties& aValue) { FConnectProperties.Assign(aValue); }

  // Unacknowledged outbound QoS 1/2 messages (created on first use; hold its CS() while scanning).
  TbrzWSMQTTQoSList& QoSList();
  // QoS 1/2 publishes not yet sent: beyond the in-flight window, or made while no session is up.
  TbrzWSMQTTOutbox& Outbox() { return FOutbox; }
  // QoS 1/2 publishes whose flow has not completed: unacknowledged plus waiting.
  int32_t Unfinished();
  // Publishes given up (refused, dropped, rejected by the broker, not completable after a reconnect).
  int64_t GivenUp() const { return FOutbox.GivenUp(); }
  // The reason code of the last CONNACK (0 accepted), -1 before the first one.
  int32_t LastConnackReasonCode() const { return FLastConnackReasonCode.load(); }
  // The connection the engine runs on; null while no transport is connected.
  TbrzConnectionPtr WSConnection() const;

  // ---- events (assign before connecting)

  TbrzMQTTBeforeConnectEvent OnMQTTBeforeConnect;
  TbrzMQTTConnectEvent OnMQTTConnect;
  TbrzMQTTPingEvent OnMQTTPing;
  TbrzMQTTPublishEvent OnMQTTPublish;
  // Raised after OnMQTTPublish for the same packet.
  TbrzMQTTPublishPacketEvent OnMQTTPublishPacket;
  TbrzMQTTAckEvent OnMQTTPubAck;
  TbrzMQTTAckEvent OnMQTTPubRec;
  TbrzMQTTAckEvent OnMQTTPubRel;
  TbrzMQTTAckEvent OnMQTTPubComp;
  TbrzMQTTSubscribeEvent OnMQTTSubscribe;
  TbrzMQTTUnSubscribeEvent OnMQTTUnSubscribe;
  TbrzMQTTDisconnectEvent OnMQTTDisconnect;
  TbrzMQTTAuthEvent OnMQTTAuth;
  TbrzMQTTNoticeEvent OnMQTTNotice;

  // ---- transport notifications (called by the component side)

  // The transport connected: reset the ping times, start the retry timer, prepare and send CONNECT.
  void HandleTransportConnect(const TbrzConnectionPtr& aConnection);
  // Before the received bytes are delivered: while a PublishAndWait runs, note its acknowledgements.
  void InspectReceivedData(const TbrzConnectionPtr& aConnection, const TbrzMemoryStream& aData);
  // A binary message (whole packets) or a raw TCP chunk (any split) arrived: decode and dispatch.
  // A decoding error ends the loop and propagates to the caller, which reports it for the connection.
  void HandleReceivedData(const TbrzConnectionPtr& aConnection, const TbrzMemoryStream& aData);
  // The transport disconnected: report the last DISCONNECT of the connection, stop the timer, run
  // TransportDisconnected, forget the connection. The QoS list and the identifiers survive.
  void HandleTransportDisconnect(const TbrzConnectionPtr& aConnection, int32_t aCode);
  // A heartbeat tick of the client: sends PINGREQ and checks for an overdue PINGRESP (raising
  // SMQTTHeartBeatTimeout). False when keep-alive is off, so the client pings itself.
  bool HeartBeatTick(const TbrzConnectionPtr& aConnection);

 protected:
  // ---- engine operations

  // The codec of the current connection (created with it), or the spare one; its version is set to
  // MQTTVersion. Shared, so a codec stays alive for a call that outlasts its connection.
  std::shared_ptr<TbrzWSMQTTMessage> CurrentMessage();
  uint16_t NextPacketIdentifier();
  // Hands one packet to the transport under the send lock.
  void SendPacket(const TBytes& aPacket);

  virtual void StartQoSTimer();
  virtual void StopQoSTimer();
  virtual void ResendQoSItems();
  virtual void DeleteQoSItem(uint16_t aPacketIdentifier);
  virtual void QueueQoSItem(uint16_t aPacketIdentifier, const std::string& aTopic, const std::string& aText,
                            TmqttQoS aQoS, bool aRetain, const TbrzWSMQTTPublish_Properties* aPublishProperties);
  virtual void QueueQoSStreamItem(uint16_t aPacketIdentifier, const std::string& aTopic, TbrzMemoryStream& aStream,
                                  TmqttQoS aQoS, bool aRetain, const TbrzWSMQTTPublish_Properties* aPublishProperties);
  virtual void QoSTimerTick();
  virtual void QoSTimerException(const Exception& E);
  virtual void PrepareConnect(const TbrzConnectionPtr& aConnection, TbrzWSMQTTMessage& aCodec);
  virtual void HandleConnack(const TbrzConnectionPtr& aConnection, const TbrzWSMQTTCONNACK& aConnack);
  virtual void RaiseMQTTPing(const TbrzConnectionPtr& aConnection);
  virtual void RaiseMQTTPublish(const TbrzConnectionPtr& aConnection, const TbrzWSMQTTPUBLISH& aPublish);
  virtual void RaiseMQTTPubAck(const TbrzConnectionPtr& aConnection, const TbrzWSMQTTReceivedPacket& aPacket);
  virtual void RaiseMQTTPubRec(const TbrzConnectionPtr& aConnection, const TbrzWSMQTTReceivedPacket& aPacket);
  virtual void RaiseMQTTPubRel(const TbrzConnectionPtr& aConnection, const TbrzWSMQTTReceivedPacket& aPacket);
  virtual void RaiseMQTTPubComp(const TbrzConnectionPtr& aConnection, const TbrzWSMQTTReceivedPacket& aPacket);
  virtual void RaiseMQTTSubscribe(const TbrzConnectionPtr& aConnection, const TbrzWSMQTTCodesPacket& aSuback);
  virtual void RaiseMQTTUnSubscribe(const TbrzConnectionPtr& aConnection, const TbrzWSMQTTCodesPacket& aUnsuback);
  virtual void RaiseMQTTDisconnect(const TbrzConnectionPtr& aConnection, const TbrzWSMQTTDISCONNECT& aDisconnect);
  virtual void RaiseMQTTAuth(const TbrzConnectionPtr& aConnection, const TbrzWSMQTTAUTH& aAuth);

  // Builds and sends one PUBLISH; with aQueue the message is first put on the QoS list, so that an
  // early PUBACK finds it. DUP is set only for the re-sends of a resumed session (the timer's
  // retries go without it).
  void PublishText(uint16_t aPacketIdentifier, const std::string& aTopic, const std::string& aText, TmqttQoS aQoS,
                   bool aRetain, bool aQueue, const TbrzWSMQTTPublish_Properties* aPublishProperties,
                   bool aDuplicate = false);
  void PublishStream(uint16_t aPacketIdentifier, const std::string& aTopic, TbrzMemoryStream& aStream, TmqttQoS aQoS,
                     bool aRetain, bool aQueue, const TbrzWSMQTTPublish_Properties* aPublishProperties,
                     bool aDuplicate = false);
  // After a CONNACK with session present: every unacknowledged message again, DUP set, same
  // identifier, in the order first sent.
  virtual void ResendSessionItems();

  // Stops the retry timer for good and waits for a running tick; the destructor of the most derived
  // class calls it first, while the engine is still whole.
  void ShutdownEngine();

  // ---- link to the transport

  // Writes the bytes of one packet as one binary message (raw bytes on TCP); dropped without a connection.
  virtual void WritePacketStream(TbrzMemoryStream& aPacket) = 0;
  // Closes the connection normally (close code 1000 on WebSocket, a plain disconnect on TCP).
  virtual void CloseConnection(const TbrzConnectionPtr& aConnection) = 0;
  // Raw TCP: received chunks need reassembly.
  virtual bool IsTCPTransport(const TbrzConnectionPtr& aConnection) = 0;
  // Hands the keep-alive to the client: its heartbeat gets Enabled and Interval (Timeout 0) and starts.
  virtual void ApplyKeepAlive(bool aEnabled, int32_t aInterval) = 0;
  // Reports an exception of the engine for the connection (the retry timer's failures).
  virtual void RaiseEngineException(const TbrzConnectionPtr& aConnection, const std::string& aText,
                                    const Exception* E) = 0;
  // The component's own disconnect handling, run between the MQTT report and forgetting the connection.
  virtual void TransportDisconnected(const TbrzConnectionPtr& aConnection, int32_t aCode);

 private:
  struct TTimerGuard;

  void Dispatch(const TbrzConnectionPtr& aConnection, const TbrzWSMQTTReceivedPacket& aPacket, bool& aStop);
  // Raises the protocol violations that end the connection (MQTT requires closing it).
  void CheckProtocol(const TbrzWSMQTTReceivedPacket& aPacket);
  // ---- outbox: the in-flight window and the publishes that wait
  uint16_t SendOutboxItem(TbrzWSMQTTQoSItem& aItem);
  // The window for a session the CONNACK accepted.
  int32_t SessionWindow(const TbrzWSMQTTCONNACK& aConnack) const;
  // A new session without the old one: unacknowledged publishes go back to the outbox to be sent again.
  void RequeueUnacknowledged();
  bool WaitForAcknowledgement(uint16_t aPacketIdentifier, TmqttQoS aQoS, int32_t aTimeout,
                              const TbrzTCPConnection_Base* aConnection);

  std::atomic<uint16_t> FPacketIdentifier{0};
  // Codecs: the one of the current connection, and the spare used without a connection.
  mutable std::mutex FMessageLock;  // guards FConnectionMessage, FWSMessage (the pointers), FWSConnectionRef
  std::shared_ptr<TbrzWSMQTTMessage> FConnectionMessage;
  std::shared_ptr<TbrzWSMQTTMessage> FWSMessage;
  TbrzConnectionPtr FWSConnectionRef;
  // The same connection, for lock-free identity checks.
  std::atomic<const TbrzTCPConnection_Base*> FWSConnection{nullptr};
  // Monotonic milliseconds; 0 = none.
  std::atomic<uint64_t> FFirstPing{0};
  std::atomic<uint64_t> FLastPing{0};
  std::atomic<uint64_t> FLastPong{0};
  std::atomic<int32_t> FLastPUBACK{0};
  std::atomic<int32_t> FLastPUBCOMP{0};
  std::atomic<bool> FWaitResponse{false};
  std::atomic<TwsMQTTVersion> FMQTTVersion{TwsMQTTVersion::mqtt311};
  std::mutex FQoSTimerLock;  // guards FQoSTimer, FRetiredTimers
  std::unique_ptr<TbrzTimer> FQoSTimer;
  // Stopped timers whose thread may still be finishing a tick; disposed of at the next start.
  std::vector<std::unique_ptr<TbrzTimer>> FRetiredTimers;
  std::shared_ptr<TTimerGuard> FTimerGuard;
  TbrzWSMQTTQoS_Options FQoS;
  std::mutex FQoSListLock;  // guards creation of FQoSList
  std::unique_ptr<TbrzWSMQTTQoSList> FQoSList;
  TbrzWSMQTTLWT_Options FLastWillTestament;
  TbrzWSMQTTAuthentication_Options FAuthentication;
  TbrzWSMQTTHeartBeat_Options FHeartBeat;
  TbrzWSMQTTConnect_Properties FConnectProperties;
  std::atomic<int32_t> FInflightMaximum{0};
  std::atomic<bool> FEmptyClientId{false};
  // Of the current connection: 0 not connected through HandleTransportConnect, 1 awaiting CONNACK,
  // 2 CONNACK received.
  std::atomic<int> FConnackState{0};
  std::atomic<int32_t> FLastConnackReasonCode{-1};
  TbrzWSMQTTOutbox FOutbox;
  TbrzCriticalSection FSendLock;  // serialises the hand-over of whole packets
};

}  // namespace brz
