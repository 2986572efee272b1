#pragma once
// Commands that act on the client connection itself (open, close, write, broadcast, heartbeat,
// watchdog) and the connection event lines.

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "app/ConnectionSettings.h"
#include "app/TbrzCommandLog.h"
#include "websocket/TbrzWSClient.h"

namespace brz {

class TbrzCommandLog_WSClient : public TbrzCommandLog {
 public:
  ~TbrzCommandLog_WSClient() override;
  void DoHelp() override;

  // The one client component, created and wired on first use.
  TbrzWebSocketClient& ClientComponent();

  // Connection event handlers; each writes one event line.
  virtual void HandleClientConnect();
  virtual void HandleClientDisconnect(int Code);
  virtual void HandleClientMessage(const std::string& Text);
  virtual void HandleClientError(const std::string& Error);
  virtual void HandleClientException(const std::string& Message);

 protected:
  void DoProcessJSON() override;

  virtual void CommandClose();
  virtual void CommandOpen();
  virtual void CommandWrite();
  virtual void CommandBroadcast();
  virtual void CommandHeartBeat();
  virtual void CommandWatchDog();
  // Connection settings (TbrzCommandLog_Connection.cpp).
  virtual void CommandTLS();
  virtual void CommandProxy();
  virtual void CommandWebSocket();

 private:
  // Runs Change on a copy of the settings; stores the copy and prints the line Change returns, or
  // (when Change refuses) prints the diagnostic and keeps the settings as they were.
  void RunSettingsCommand(const std::function<std::string(TbrzConnectionSettings&)>& Change);
  // First thing in every activation, on the activating thread.
  void HandleBeforeConnect(TbrzWSClient& Client);
  void HandleTLSHandlerCreated(TbrzWSClient& Client);

  std::unique_ptr<TbrzWebSocketClient> FWSClient;
  std::mutex FConnectionSettingsLock;  // guards FConnectionSettings: commands write, activations read
  TbrzConnectionSettings FConnectionSettings = TbrzConnectionSettings::ConsoleDefaults();
};

// Adds nothing; the MQTT processor derives from it.
class TbrzCommandLog_WSProtocolClient : public TbrzCommandLog_WSClient {};

}  // namespace brz
