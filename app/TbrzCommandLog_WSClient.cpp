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
}

void TbrzCommandLog_WSClient::DoHelp() {
  TbrzCommandLog::DoHelp();
  for (const char* line : kHelpWSClient) ConsoleLine(line);
}

void TbrzCommandLog_WSClient::CommandClose() {}
void TbrzCommandLog_WSClient::CommandOpen() {}
void TbrzCommandLog_WSClient::CommandWrite() {}
void TbrzCommandLog_WSClient::CommandBroadcast() {}
void TbrzCommandLog_WSClient::CommandHeartBeat() {}
void TbrzCommandLog_WSClient::CommandWatchDog() {}

void TbrzCommandLog_WSClient::HandleClientConnect() { WriteLog(EventLine::Connected()); }
void TbrzCommandLog_WSClient::HandleClientDisconnect(int Code) { WriteLog(EventLine::Disconnected(Code)); }
void TbrzCommandLog_WSClient::HandleClientMessage(const std::string& Text) { WriteLog(EventLine::Message(Text)); }
void TbrzCommandLog_WSClient::HandleClientError(const std::string& Error) { WriteLog(EventLine::Error(Error)); }
void TbrzCommandLog_WSClient::HandleClientException(const std::string& Message) {
  WriteLog(EventLine::Error(Message));
}

}  // namespace brz
