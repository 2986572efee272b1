#pragma once
// The packet codec of one MQTT connection: builds the bytes of every packet the client sends and
// decodes every packet it receives. Sans-I/O: bytes in, values out.
//
// Thread-safety: builders and readers share the header buffers and hold the codec's own recursive
// lock (CS()) for the whole build or decode, so a build and a decode never interleave. The decoded
// objects and the fixed header stay valid until the next decode; a caller that reads them while
// other threads build holds CS() or copies them first.

#include <cstdint>
#include <memory>
#include <string>

#include "common/Bytes.h"
#include "common/TbrzComponent.h"
#include "common/TbrzMemoryStream.h"
#include "mqtt/MQTTTypes.h"
#include "mqtt/TbrzWSMQTTHeaders.h"
#include "mqtt/TbrzWSMQTTPackets.h"
#include "mqtt/TbrzWSMQTTProperties.h"
#include "mqtt/TbrzWSMQTTReadPacketBuffer.h"

namespace brz {

// The CONNECT flags byte: user name, password, will retain, will QoS, will flag, clean session.
uint8_t ConnectFlags(bool aAuthentication, const std::string& aAuthUser, const std::string& aAuthPass,
                     bool aWillFlag, TmqttQoS aWillQoS, bool aWillRetain, bool aCleanSession);

class TbrzWSMQTTMessage : public TbrzThreadSafeComponent {
 public:
  TbrzWSMQTTMessage() = default;
  ~TbrzWSMQTTMessage() override = default;

  // ---- decoding

  // Decodes one packet starting at the stream's position and leaves the position after it. Returns
  // false when the stream ends inside the packet: nothing is decoded, the position is at the end and
  // ControlPacket is mtcpReserved0. Raises SMQTTMalformedVarInteger for a length needing a fifth byte.
  virtual bool Read(TbrzMemoryStream& aStream);
  // The same over a byte range: aPosition is moved past the packet.
  bool ReadPacket(const uint8_t* aBytes, size_t aSize, size_t& aPosition);
  // Feeds a chunk of a TCP byte stream. True when a whole packet was decoded; aStream then holds, from
  // position 0, the bytes that followed it (repeat while it is not empty). False when the packet is
  // incomplete; its bytes wait in the reassembly buffer and aStream is empty.
  virtual bool ReadTCP(TbrzMemoryStream& aStream);
  // The same over a byte range: a true result leaves aPosition after the decoded packet, a false one
  // at aSize. The bytes after a packet are not moved, so a chunk of many packets costs one pass.
  bool ReadTCP(const uint8_t* aBytes, size_t aSize, size_t& aPosition);

  // ---- building: each returns one complete packet

  virtual TBytes DoConnect(bool aAuthentication, const std::string& aAuthUser, const std::string& aAuthPass,
                           bool aWillFlag, const std::string& aWillTopic, const std::string& aWillText,
                           TmqttQoS aWillQoS, bool aWillRetain, bool aKeepAliveEnabled, int32_t aKeepAliveInterval);
  virtual TBytes DoPing();
  virtual TBytes DoPublish(uint16_t aPacketIdentifier, const std::string& aTopic, const std::string& aText,
                           TmqttQoS aQoS, bool aRetain, bool aDuplicate);
  virtual TBytes DoPublish(uint16_t aPacketIdentifier, const std::string& aTopic, TbrzMemoryStream& aStream,
                           TmqttQoS aQoS, bool aRetain, bool aDuplicate);
  virtual TBytes DoSubscribe(uint16_t aPacketIdentifier, const TbrzWSTopics& aTopics);
  virtual TBytes DoUnSubscribe(uint16_t aPacketIdentifier, const TbrzWSTopics& aTopics);
  virtual TBytes DoPubAck(uint16_t aPacketIdentifier);
  virtual TBytes DoPubRec(uint16_t aPacketIdentifier);
  virtual TBytes DoPubRel(uint16_t aPacketIdentifier);
  virtual TBytes DoPubComp(uint16_t aPacketIdentifier);
  virtual TBytes DoDisconnect(int32_t aReasonCode);
  virtual TBytes DoAuth(bool aReAuthenticate);

  // Drops the fixed header; the next access creates a fresh one.
  void Clear();
  // Drops the TCP reassembly state.
  void ClearStreamReadTCP();

  // ---- header buffers and decoded packets (created on first use)

  TbrzWSMQTTFixedHeader& FixedHeader();
  TbrzWSMQTTVariableHeader& VariableHeader();
  TbrzWSMQTTPayLoadHeader& PayLoadHeader();
  TbrzWSMQTTReadPacketBuffer& StreamReadPacketBuffer();
  TbrzWSMQTTCONNACK& CONNACK();
  TbrzWSMQTTPUBLISH& PUBLISH();
  TbrzWSMQTTPUBACK& PUBACK();
  TbrzWSMQTTPUBREC& PUBREC();
  TbrzWSMQTTPUBREL& PUBREL();
  TbrzWSMQTTPUBCOMP& PUBCOMP();
  TbrzWSMQTTSUBACK& SUBACK();
  TbrzWSMQTTUNSUBACK& UNSUBACK();
  TbrzWSMQTTDISCONNECT& DISCONNECT();
  TbrzWSMQTTAUTH& AUTH();

  // ---- settings

  bool CleanSession() const { return FCleanSession; }
  void SetCleanSession(bool aValue) { FCleanSession = aValue; }
  // Generates an identifier of 23 upper-case hexadecimal digits when none is set.
  const std::string& ClientId();
  void SetClientId(std::string aValue) { FClientId = std::move(aValue); }
  // An empty identifier is sent as it is (the broker assigns one) instead of a generated one.
  bool EmptyClientId() const { return FEmptyClientId; }
  void SetEmptyClientId(bool aValue) { FEmptyClientId = aValue; }
  TwsMQTTVersion MQTTVersion() const { return FMQTTVersion; }
  void SetMQTTVersion(TwsMQTTVersion aValue) { FMQTTVersion = aValue; }
  const std::string& ConnectionId() const { return FConnectionId; }
  void SetConnectionId(std::string aValue) { FConnectionId = std::move(aValue); }
  uint32_t ThreadId() const { return FThreadId; }
  void SetThreadId(uint32_t aValue) { FThreadId = aValue; }
  // The stream being decoded by Read (not owned; empty outside a decode).
  TbrzMemoryStream* StreamRead() const { return FStreamRead; }

  // Outbound property sets; the setters copy the source's values.
  TbrzWSMQTTConnect_Properties& ConnectProperties() { return FConnectProperties; }
  void SetConnectProperties(const TbrzWSMQTTConnect_Properties& aValue) { FConnectProperties.Assign(aValue); }
  TbrzWSMQTTWill_Properties& WillProperties() { return FWillProperties; }
  void SetWillProperties(const TbrzWSMQTTWill_Properties& aValue) { FWillProperties.Assign(aValue); }
  TbrzWSMQTTPublish_Properties& PUBLISHProperties() { return FPUBLISHProperties; }
  void SetPUBLISHProperties(const TbrzWSMQTTPublish_Properties& aValue) { FPUBLISHProperties.Assign(aValue); }
  TbrzWSMQTTSubscribe_Properties& SubscribeProperties() { return FSubscribeProperties; }
  void SetSubscribeProperties(const TbrzWSMQTTSubscribe_Properties& aValue) { FSubscribeProperties.Assign(aValue); }
  TbrzWSMQTTUnsubscribe_Properties& UnsubscribeProperties() { return FUnsubscribeProperties; }
  void SetUnsubscribeProperties(const TbrzWSMQTTUnsubscribe_Properties& aValue) {
    FUnsubscribeProperties.Assign(aValue);
  }
  TbrzWSMQTTDisconnect_Properties& DISCONNECTProperties() { return FDISCONNECTProperties; }
  void SetDISCONNECTProperties(const TbrzWSMQTTDisconnect_Properties& aValue) { FDISCONNECTProperties.Assign(aValue); }
  TbrzWSMQTTAuth_Properties& AUTHProperties() { return FAUTHProperties; }
  void SetAUTHProperties(const TbrzWSMQTTAuth_Properties& aValue) { FAUTHProperties.Assign(aValue); }

 protected:
  // Property blocks: under mqtt5 the property length and the properties of an enabled set, or the
  // single byte 0; nothing under mqtt311.
  void WriteConnectProperties(TbrzWSMQTTVariableHeader& aTarget);
  void WriteWillProperties(TbrzWSMQTTVariableHeader& aTarget);
  void WritePublishProperties(TbrzWSMQTTVariableHeader& aTarget);
  void WriteSubscribeProperties(TbrzWSMQTTVariableHeader& aTarget);
  void WriteUnsubscribeProperties(TbrzWSMQTTVariableHeader& aTarget);
  void WriteDisconnectProperties(TbrzWSMQTTVariableHeader& aTarget);
  void WriteAuthProperties(TbrzWSMQTTVariableHeader& aTarget);

 private:
  // Sets the packet type and empties both buffers.
  void BeginPacket(TmqttControlPacket aPacket);
  // First byte, remaining length, variable header, payload.
  TBytes AssemblePacket();
  TBytes BuildIdentifierPacket(TmqttControlPacket aPacket, uint16_t aPacketIdentifier);
  void WritePublishHeader(uint16_t aPacketIdentifier, const std::string& aTopic, TmqttQoS aQoS, bool aRetain,
                          bool aDuplicate);

  // Decodes the packet the TCP reassembly buffer completed, then drops that buffer.
  void DecodeReassembledPacket();
  void ReadCONNACK(const uint8_t* aBody, size_t aSize);
  void ReadPUBLISH(const uint8_t* aBody, size_t aSize);
  void ReadAcknowledgement(TmqttControlPacket aPacket, const uint8_t* aBody, size_t aSize);
  void ReadSUBACK(const uint8_t* aBody, size_t aSize);
  void ReadUNSUBACK(const uint8_t* aBody, size_t aSize);
  void ReadDISCONNECT(const uint8_t* aBody, size_t aSize);
  void ReadAUTH(const uint8_t* aBody, size_t aSize);

  std::string FConnectionId;
  TbrzMemoryStream* FStreamRead = nullptr;
  uint32_t FThreadId = 0;
  std::unique_ptr<TbrzWSMQTTReadPacketBuffer> FStreamReadPacketBuffer;
  std::unique_ptr<TbrzWSMQTTFixedHeader> FFixedHeader;
  std::unique_ptr<TbrzWSMQTTVariableHeader> FVariableHeader;
  std::unique_ptr<TbrzWSMQTTPayLoadHeader> FPayLoadHeader;
  std::unique_ptr<TbrzWSMQTTCONNACK> FCONNACK;
  std::unique_ptr<TbrzWSMQTTPUBLISH> FPUBLISH;
  std::unique_ptr<TbrzWSMQTTPUBACK> FPUBACK;
  std::unique_ptr<TbrzWSMQTTPUBREC> FPUBREC;
  std::unique_ptr<TbrzWSMQTTPUBREL> FPUBREL;
  std::unique_ptr<TbrzWSMQTTPUBCOMP> FPUBCOMP;
  std::unique_ptr<TbrzWSMQTTSUBACK> FSUBACK;
  std::unique_ptr<TbrzWSMQTTUNSUBACK> FUNSUBACK;
  std::unique_ptr<TbrzWSMQTTDISCONNECT> FDISCONNECT;
  std::unique_ptr<TbrzWSMQTTAUTH> FAUTH;
  bool FCleanSession = true;
  bool FEmptyClientId = false;
  std::string FClientId;
  TwsMQTTVersion FMQTTVersion = TwsMQTTVersion::mqtt311;
  TbrzWSMQTTConnect_Properties FConnectProperties;
  TbrzWSMQTTWill_Properties FWillProperties;
  TbrzWSMQTTPublish_Properties FPUBLISHProperties;
  TbrzWSMQTTSubscribe_Properties FSubscribeProperties;
  TbrzWSMQTTUnsubscribe_Properties FUnsubscribeProperties;
  TbrzWSMQTTDisconnect_Properties FDISCONNECTProperties;
  TbrzWSMQTTAuth_Properties FAUTHProperties;
};

}  // namespace brz
