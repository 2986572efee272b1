#include "app/TbrzCommandLog_WSClient.h"

#include "app/AppMessages.h"
#include "app/EventLines.h"

namespace brz {

void TbrzCommandLog_WSClient::DoProcessJSON() {
  const std::string message = ParamValue("message").AsText();
  if (message == "close") CommandClose();
  else if (message == "open") CommandOpen();
  else if (message == "write") CommandWrite();
  else if (message == "broadcast") CommandBroadcast();
  else if (message == "heartbeat") CommandHeartBeat();
  else if (message == "watchdog") CommandWatchDog();
  else if (message == "tls") CommandTLS();
  else if (message == "proxy") CommandProxy();
  else if (message == "websocket") CommandWebSocket();
  else UnknownCommand(message);
}

void TbrzCommandLog_WSClient::DoHelp() {
  TbrzCommandLog::DoHelp();
  for (const char* line : kHelpWSClient) ConsoleLine(line);
}

// Deactivates the client and joins its threads before the handlers' target goes away.
TbrzCommandLog_WSClient::~TbrzCommandLog_WSClient() { FWSClient.reset(); }

TbrzWebSocketClient& TbrzCommandLog_WSClient::ClientComponent() {
  if (!FWSClient) {
    auto client = std::make_unique<TbrzWebSocketClient>();
    client->OnConnect = [this](const TbrzConnectionPtr&) { HandleClientConnect(); };
    client->OnDisconnect = [this](const TbrzConnectionPtr&, int32_t Code) { HandleClientDisconnect(Code); };
    client->OnMessage = [this](const TbrzConnectionPtr&, const std::string& Text) { HandleClientMessage(Text); };
    client->OnError = [this](const TbrzConnectionPtr&, const std::string& Error) { HandleClientError(Error); };
    client->OnException = [this](const TbrzConnectionPtr&, const Exception& E) {
      HandleClientException(ExplainConnectionError(E.Message()));
    };
    client->TLSOptions().IOHandler = TwsTLSIOHandler::iohSChannel;
    client->TLSOptions().Version = TwsTLSVersions::tls1_2;
    client->OnBeforeConnect = [this](TbrzWSClient* Sender) { HandleBeforeConnect(*Sender); };
    client->OnSSLAfterCreateHandler = [this](TbrzWSClient* Sender, const std::shared_ptr<TbrzIOHandler>&) {
      HandleTLSHandlerCreated(*Sender);
    };
    FWSClient = std::move(client);
  }
  return *FWSClient;
}

void TbrzCommandLog_WSClient::CommandClose() {
  TbrzWebSocketClient& client = ClientComponent();
  if (!client.Active()) {
    // Not connected, but the watchdog may be reopening a lost connection: close means stop trying.
    if (client.WatchDog().Enabled) client.SetActive(false);
    return;
  }
  const int32_t code = ValInteger(ParamValue("code", Params()).AsText());
  if (code > 0) {
    if (auto connection = client.Connection()) connection->Close(code);
  } else {
    client.SetActive(false);
  }
}

void TbrzCommandLog_WSClient::CommandOpen() {
  TbrzWebSocketClient& client = ClientComponent();
  const std::string url = ParamValue("url", Params()).AsText();
  if (!url.empty()) client.SetURL(url);
  client.SetActive(true);
}

void TbrzCommandLog_WSClient::CommandWrite() { ClientComponent().WriteData(ParamValue("text", Params()).AsText()); }

void TbrzCommandLog_WSClient::CommandBroadcast() {
  ClientComponent().WriteData(kBroadcastPrefix + ParamValue("text", Params()).AsText());
}

namespace {

// Reads {"interval": n, "enabled": true|false} of the node Name inside "params" into Options;
// returns 1 for enabled, 0 for disabled, -1 when "enabled" is neither.
template <typename TOptions>
int ReadTimerOptions(TbrzCommandLog& log, const std::string& Name, TOptions& Options) {
  IbrzObjectJSON params = log.Params();
  // Without "params" there is no timer node: the command is ignored.
  if (!params) return -2;
  // A missing timer node reads its arguments from the top level, like any other look-up.
  IbrzObjectJSON node = params->Node(Name);
  const int32_t interval = log.ParamValue("interval", node).AsInteger();
  if (interval > 0) Options.Interval = interval;
  const std::string enabled = log.ParamValue("enabled", node).AsText();
  if (enabled == "true") return 1;
  if (enabled == "false") return 0;
  return -1;
}

}  // namespace

void TbrzCommandLog_WSClient::CommandHeartBeat() {
  auto& options = ClientComponent().HeartBeat();
  const int state = ReadTimerOptions(*this, "heartbeat", options);
  if (state < 0) return;
  options.Enabled = state == 1;
  WriteLog(EventLine::HeartBeatOptions(options.Enabled, options.Interval));
}

void TbrzCommandLog_WSClient::CommandWatchDog() {
  auto& options = ClientComponent().WatchDog();
  const int state = ReadTimerOptions(*this, "watchdog", options);
  if (state < 0) return;
  options.Enabled = state == 1;
  WriteLog(EventLine::WatchDogOptions(options.Enabled, options.Interval));
}

void TbrzCommandLog_WSClient::HandleClientConnect() { WriteLog(EventLine::Connected()); }
void TbrzCommandLog_WSClient::HandleClientDisconnect(int Code) { WriteLog(EventLine::Disconnected(Code)); }
void TbrzCommandLog_WSClient::HandleClientMessage(const std::string& Text) { WriteLog(EventLine::Message(Text)); }
void TbrzCommandLog_WSClient::HandleClientError(const std::string& Error) { WriteLog(EventLine::Error(Error)); }
void TbrzCommandLog_WSClient::HandleClientException(const std::string& Message) {
  WriteLog(EventLine::Error(Message));
}

}  // namespace brz
