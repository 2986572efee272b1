#include "app/TbrzCommandLog.h"

#include "app/AppMessages.h"
#include "app/ConsoleWriter.h"
#include "app/EventLines.h"
#include "common/Convert.h"
#include "common/TbrzBurst.h"
#include "common/Text.h"
#include "json/JSONEscape.h"
#include "server/ServerMessages.h"
#include "transport/TbrzSocketErrors.h"

namespace brz {

TbrzCommandLog::~TbrzCommandLog() { StopIntake(); }

void TbrzCommandLog::WriteLog(const std::string& Text) {
  ConsoleWriteLine(Text);
  BroadcastLine(Text);
}

void TbrzCommandLog::BroadcastLine(const std::string& Text) {
  std::shared_lock<std::shared_mutex> guard(FServerLock);
  if (!FServer) return;
  // A slow operator may hold the broadcast: the console gets its lines first.
  TbrzBurst::HandOnNow();
  FServer->Broadcast(Text);
}

void TbrzCommandLog::Diagnostic(const std::string& Text) {
  ErrorWriteLine(std::string(kDiagnosticPrefix) + Text);
  if (FErrorEvents) WriteLog(EventLine::Error(Text));
}

void TbrzCommandLog::ConsoleLine(const std::string& Text) { ConsoleWriteLine(Text); }

void TbrzCommandLog::DoJSON(const std::string& Text) {
  std::lock_guard<std::recursive_mutex> guard(FCommandLock);
  CommandDocument()->Read(Text);
  try {
    DoProcessJSON();
  } catch (const EConvertError& e) {
    // A bad value skips its command only; the session and its connection go on.
    if (FFromOperator) throw;
    ConsoleLine(e.ClassName() + ": " + e.what());
  }
}

void TbrzCommandLog::DoOperatorJSON(const std::string& Text) {
  std::lock_guard<std::recursive_mutex> guard(FCommandLock);
  struct TSourceScope {
    bool& Flag;
    bool Saved;
    explicit TSourceScope(bool& aFlag) : Flag(aFlag), Saved(aFlag) { Flag = true; }
    ~TSourceScope() { Flag = Saved; }
  } scope(FFromOperator);
  DoJSON(Text);
}

IbrzJSON TbrzCommandLog::CommandDocument() {
  if (!FJSON) FJSON = NewJSONDocument();
  return FJSON;
}

IbrzObjectJSON TbrzCommandLog::Params() { return CommandDocument()->Node("params"); }

TbrzParamValue TbrzCommandLog::ParamValue(const std::string& Name, const IbrzObjectJSON& Node) {
  try {
    IbrzJSON document = Node ? Node->JSONObject() : CommandDocument();
    if (!document) return TbrzParamValue(std::string());
    IbrzObjectJSON member = document->Node(Name);
    if (!member) return TbrzParamValue();
    // A string argument is the text its literal stands for: payloads and topics keep their quotes,
    // backslashes and non-ASCII characters as the operator meant them.
    if (member->JSONType() == TbrzJSONtype::brzJSONString) return TbrzParamValue(JSONUnescape(member->Value()));
    return TbrzParamValue(member->Value());
  } catch (const std::exception&) {
    return TbrzParamValue(std::string());
  }
}

void TbrzCommandLog::DoHelp() {
  for (const char* line : kHelpBase) ConsoleLine(line);
}

void TbrzCommandLog::Initialize(const TbrzCommandLine& CommandLine) {
  if (!CommandLine.HasSwitch("server")) return;
  std::string ip = "*";
  std::string value;
  if (CommandLine.FindValueSwitch("server.ip", value)) ip = value;
  std::string port = "8080";
  if (CommandLine.FindValueSwitch("server.port", value)) port = value;
  StartIntake(ip, port);
}

// --- Remote-control intake ---

TbrzWebSocketHTTPServer* TbrzCommandLog::ServerComponent() {
  std::unique_lock<std::shared_mutex> guard(FServerLock);
  if (FServer) return FServer.get();
  auto server = std::make_unique<TbrzWebSocketHTTPServer>();
  server->SetNotifyEvents(TwsNotifyEvent::neNoSync);
  server->Options().WriteTimeOut = kOperatorSendTimeOut;
  server->OnTCPConnect = [this](const TbrzConnectionPtr& C, bool& Accept) { HandleServerTCPConnect(C, Accept); };
  server->OnDisconnect = [this](const TbrzConnectionPtr& C, int32_t Code) { HandleServerDisconnect(C, Code); };
  server->OnError = [this](const TbrzConnectionPtr& C, const std::string& Error) { HandleServerError(C, Error); };
  server->OnException = [this](const TbrzConnectionPtr& C, const Exception& E) { HandleServerException(C, E); };
  server->OnUnknownProtocol = [this](const TbrzConnectionPtr& C, bool& Accept) {
    HandleServerUnknownProtocol(C, Accept);
  };
  server->OnMessage = [this](const TbrzConnectionPtr& C, const std::string& Text) { HandleServerMessage(C, Text); };
  server->OnBinary = [this](const TbrzConnectionPtr& C, TbrzMemoryStream& Data) { HandleServerBinary(C, Data); };
  FServer = std::move(server);
  return FServer.get();
}

void TbrzCommandLog::StopIntake() {
  std::unique_ptr<TbrzWebSocketHTTPServer> doomed;
  {
    // Waits for broadcasts under way; later ones find no server.
    std::unique_lock<std::shared_mutex> guard(FServerLock);
    doomed = std::move(FServer);
  }
  // Outside the lock: operator threads still running may broadcast meanwhile.
  doomed.reset();
  std::lock_guard<std::mutex> guard(FLinesLock);
  FPartialLines.clear();
}

void TbrzCommandLog::StartIntake(const std::string& IP, const std::string& Port) {
  TbrzWebSocketHTTPServer* server = ServerComponent();
  const int port = StrToInt(Port);
  if (IP != "*") server->AddBinding(IP, port);
  server->SetPort(port);
  server->SetActive(true);
  WriteLog(FormatMsg(msg::kServerListening, IP.c_str(), Port.c_str()));
}

void TbrzCommandLog::HandleServerTCPConnect(const TbrzConnectionPtr& Connection, bool& /*Accept*/) {
  if (!Connection) return ConsoleLine(msg::kClientConnected);
  ConsoleLine(FormatMsg(msg::kClientConnectedFrom, Connection->GetGuid().c_str(), Connection->GetIP().c_str()));
}

void TbrzCommandLog::HandleServerDisconnect(const TbrzConnectionPtr& Connection, int32_t /*Code*/) {
  if (!Connection) return ConsoleLine(msg::kClientDisconnected);
  std::string rest;
  {
    std::lock_guard<std::mutex> guard(FLinesLock);
    auto it = FPartialLines.find(Connection->GetGuid());
    if (it != FPartialLines.end()) {
      rest = std::move(it->second);
      FPartialLines.erase(it);
    }
  }
  ConsoleLine(FormatMsg(msg::kClientDisconnectedFrom, Connection->GetGuid().c_str(), Connection->GetIP().c_str()));
  // An operator that closed after its last command without a line end still gets it run.
  if (!Trim(rest).empty()) DoOperatorJSON(rest);
}

void TbrzCommandLog::HandleServerError(const TbrzConnectionPtr& /*Connection*/, const std::string& Error) {
  ConsoleLine(Error);
}

void TbrzCommandLog::HandleServerException(const TbrzConnectionPtr& /*Connection*/, const Exception& E) {
  ConsoleLine(E.what());
}

void TbrzCommandLog::HandleServerMessage(const TbrzConnectionPtr& /*Connection*/, const std::string& Text) {
  DoOperatorJSON(Text);
}

void TbrzCommandLog::HandleServerBinary(const TbrzConnectionPtr& Connection, TbrzMemoryStream& Data) {
  if (Connection && Connection->Transport() == TwsTransport::trpTCP) return TakeRawLines(Connection, Data);
  DoOperatorJSON(UTF8StreamToText(Data));
}

void TbrzCommandLog::HandleServerUnknownProtocol(const TbrzConnectionPtr& Connection, bool& Accept) {
  Accept = true;
  if (!Connection) return;
  Connection->SetTransport(TwsTransport::trpTCP);
  // Raw operators send one command per line and read one event per line.
  if (auto* server = dynamic_cast<TbrzWSConnectionServer*>(Connection.get())) server->SetTextTerminator("\n");
}

void TbrzCommandLog::TakeRawLines(const TbrzConnectionPtr& Connection, TbrzMemoryStream& Data) {
  const std::string guid = Connection->GetGuid();
  std::vector<std::string> lines;
  bool tooLong = false;
  {
    std::lock_guard<std::mutex> guard(FLinesLock);
    std::string& pending = FPartialLines[guid];
    pending.append(reinterpret_cast<const char*>(Data.Memory()), Data.Size());
    size_t start = 0;
    for (;;) {
      size_t end = pending.find('\n', start);
      if (end == std::string::npos) break;
      if (end - start > kMaxCommandLine) {
        tooLong = true;
        break;
      }
      std::string line = pending.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty()) lines.push_back(std::move(line));
      start = end + 1;
    }
    pending.erase(0, start);
    if (pending.size() > kMaxCommandLine) tooLong = true;
    if (tooLong) FPartialLines.erase(guid);
  }
  // Lines before an overlong one still run, in order.
  for (const std::string& line : lines) DoOperatorJSON(BytesToUTF8Text(line));
  if (!tooLong) return;
  std::shared_lock<std::shared_mutex> guard(FServerLock);
  if (FServer) FServer->ReportError(Connection, FormatMsg(msg::kCommandLineTooLong, static_cast<int>(kMaxCommandLine)));
}

}  // namespace brz
