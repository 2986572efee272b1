#pragma once
// The processor the program runs: MQTT commands (those with "protocol":"mqtt") and the MQTT event
// lines; every other command goes to the connection commands. The engine is created by the first
// command of any kind and attached to the client component, so every connection speaks MQTT.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/CommandArgs.h"
#include "app/TbrzCommandLog_WSClient.h"
#include "mqtt/TbrzWSProtocol_MQTT_Client.h"

namespace brz {

class TbrzCommandLog_MQTT : public TbrzCommandLog_WSProtocolClient {
 public:
  // The engine goes first, before the client and the server of the base classes.
  ~TbrzCommandLog_MQTT() override;
  void DoHelp() override;
  // Adds the time stamp when asked for (output "timestamps").
  void WriteLog(const std::string& Text) override;
  void WriteLog(const std::string& Text, const std::string& OperatorText) override;
  // Also reads -details, -timestamps and -errors.
  void Initialize(const TbrzCommandLine& CommandLine) override;

  TbrzWSProtocol_MQTT_Client& MQTTComponent();
  // The engine when a command has created it, else null.
  TbrzWSProtocol_MQTT_Client* MQTTEngine() const { return FMQTT.get(); }
  // An open was given and no CONNACK has answered it yet (a connection under way, or one that failed).
  bool ConnectAwaited() const { return FConnectAwaited.load(); }

  // Engine event handlers; each writes its event line(s). The properties, when given, are shown
  // with output "details".
  virtual void HandleMQTTBeforeConnect(bool& aCleanSession, std::string& aClientIdentifier);
  virtual void HandleMQTTConnect(bool Session, int32_t ReasonCode, const std::string& ReasonName,
                                 const TbrzWSMQTTCONNACKProperties* Properties = nullptr);
  virtual void HandleMQTTPing();
  virtual void HandleMQTTPublish(const std::string& Topic, const std::string& Text);
  // The whole packet: the exact payload and, with details, flags and properties.
  virtual void HandleMQTTPublishPacket(const TbrzWSMQTTPUBLISH& Publish);
  virtual void HandleMQTTPubAck(uint16_t PacketIdentifier, int32_t ReasonCode, const std::string& ReasonName,
                                const TbrzWSMQTTPUBSUBACKProperties* Properties = nullptr);
  virtual void HandleMQTTPubRec(uint16_t PacketIdentifier, int32_t ReasonCode, const std::string& ReasonName,
                                const TbrzWSMQTTPUBSUBACKProperties* Properties = nullptr);
  virtual void HandleMQTTPubRel(uint16_t PacketIdentifier, int32_t ReasonCode, const std::string& ReasonName,
                                const TbrzWSMQTTPUBSUBACKProperties* Properties = nullptr);
  virtual void HandleMQTTPubComp(uint16_t PacketIdentifier, int32_t ReasonCode, const std::string& ReasonName,
                                 const TbrzWSMQTTPUBSUBACKProperties* Properties = nullptr);
  virtual void HandleMQTTSubscribe(uint16_t PacketIdentifier, const TbrzWSSUBACKS& SubAcks,
                                   const TbrzWSMQTTPUBSUBACKProperties* Properties = nullptr);
  virtual void HandleMQTTUnSubscribe(uint16_t PacketIdentifier, const TbrzWSUNSUBACKS& UnSubAcks,
                                     const TbrzWSMQTTPUBSUBACKProperties* Properties = nullptr);
  virtual void HandleMQTTDisconnect(int32_t ReasonCode, const std::string& ReasonName,
                                    const TbrzWSMQTTDISCONNECTProperties* Properties = nullptr);
  virtual void HandleMQTTAuth();

 protected:
  void CommandOpen() override;
  void DoProcessJSON() override;

  virtual void CommandSubscribe();
  virtual void CommandUnSubscribe();
  virtual void CommandPublish();
  virtual void CommandDisconnect();
  virtual void CommandApi();
  virtual void CommandAuthentication();
  virtual void CommandMQTTHeartBeat();
  virtual void CommandSession();
  virtual void CommandWill();
  virtual void CommandOutput();
  virtual void CommandWait();

 private:
  // One SUBSCRIBE made on this session, for resubscribe.
  struct TSubscription {
    TbrzWSTopics Topics;
    bool HasProperties = false;
    TbrzWSMQTTSubscribe_Properties Properties;
  };
  // Session settings beyond the engine's own.
  struct TSession {
    std::string ClientId;          // "" = a generated identifier
    bool ClientIdNull = false;     // an empty identifier asked for (the broker assigns one)
    bool CleanSession = true;
    bool Resubscribe = false;
    std::string KeptClientId;      // the generated identifier a persistent session keeps
  };

  // Runs aBody; a refusal becomes one diagnostic "Name: what; command ignored".
  void Guarded(const char* aName, const std::function<void()>& aBody);
  // The arguments of the command: "params" when it is there, else the command itself.
  TbrzCommandArgs Args();
  // Diagnoses members of a base command outside aKnown (the command still runs).
  void NoteUnknownMembers(const char* aName, const TbrzCommandArgs& aArgs, std::initializer_list<const char*> aKnown);
  bool MQTT5() { return MQTTComponent().MQTTVersion() == TwsMQTTVersion::mqtt5; }
  std::string SessionEcho();
  std::string WillEcho();
  void Resubscribe();

  std::unique_ptr<TbrzWSProtocol_MQTT_Client> FMQTT;
  std::atomic<bool> FDetails{false};
  std::atomic<bool> FConnectAwaited{false};
  std::atomic<bool> FTimestamps{false};
  std::mutex FSessionLock;  // guards FSession and FSubscriptions
  TSession FSession;
  std::vector<TSubscription> FSubscriptions;
};

}  // namespace brz
