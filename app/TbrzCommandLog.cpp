#include "app/TbrzCommandLog.h"

#include <arpa/inet.h>

#include <cstdlib>

#include "app/AppMessages.h"
#include "app/ConsoleWriter.h"
#include "app/EventDetails.h"
#include "app/EventLines.h"
#include "common/Convert.h"
#include "common/Memory.h"
#include "common/TbrzBurst.h"
#include "common/Text.h"
#include "json/JSONEscape.h"
#include "server/ServerMessages.h"
#include "server/WebConsolePage.h"
#include "transport/TbrzSocketErrors.h"

namespace brz {

namespace {

// Only this machine can reach the address (a name other than localhost is not trusted to be).
bool IsLoopbackAddress(const std::string& ip) {
  if (SameText(ip, "localhost")) return true;
  in_addr v4{};
  if (::inet_pton(AF_INET, ip.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  if (::inet_pton(AF_INET6, ip.c_str(), &v6) != 1) return false;
  if (IN6_IS_ADDR_LOOPBACK(&v6)) return true;
  return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
}

}  // namespace

TbrzCommandLog::~TbrzCommandLog() { StopIntake(); }

void TbrzCommandLog::WriteLog(const std::string& Text) {
  ConsoleWriteLine(Text);
  BroadcastLine(Text);
  if (FWaits.Active()) {
    // A wait's result line must follow the line that ended it, not overtake it from a burst.
    TbrzBurst::HandOnNow();
    FWaits.Notify(Text);
  }
}

void TbrzCommandLog::WriteLog(const std::string& Text, const std::string& OperatorText) {
  ConsoleWriteLine(Text);
  BroadcastLine(OperatorText);
  if (FWaits.Active()) {
    TbrzBurst::HandOnNow();
    FWaits.Notify(Text);
  }
}

void TbrzCommandLog::BroadcastLine(const std::string& Text) {
  std::shared_lock<std::shared_mutex> guard(FServerLock);
  // Only queued: every operator has a writer of its own, so none can hold up the session.
  if (FServer && FOperators) FOperators->Broadcast(*FServer, Text);
}

void TbrzCommandLog::FlushOperators(std::chrono::milliseconds aTimeout) {
  std::shared_lock<std::shared_mutex> guard(FServerLock);
  if (FOperators) FOperators->Flush(aTimeout);
}

void TbrzCommandLog::OperatorDropped(const TbrzConnectionPtr& Connection, const std::string& Reason) {
  ConsoleLine(FormatMsg(msg::kOperatorDropped, Connection->GetGuid().c_str(), Reason.c_str()));
}

void TbrzCommandLog::Diagnostic(const std::string& Text) {
  ErrorWriteLine(std::string(kDiagnosticPrefix) + Text);
  if (FErrorEvents) WriteLog(EventLine::Error(Text));
}

void TbrzCommandLog::ConsoleLine(const std::string& Text) { ConsoleWriteLine(Text); }

void TbrzCommandLog::DoJSON(const std::string& Text) {
  TbrzEventWaitPtr wait;
  {
    std::lock_guard<std::recursive_mutex> guard(FCommandLock);
    SetPendingWait(nullptr);
    FBlankCommand = Trim(Text).empty();
    CommandDocument()->Read(Text);
    try {
      DoProcessJSON();
    } catch (const EConvertError& e) {
      // A bad value skips its command only; the session and its connection go on.
      if (FFromOperator) throw;
      ConsoleLine(e.ClassName() + ": " + e.what());
    }
    // An operator's wait runs in DoOperatorJSON, past its hold of the lock.
    if (!FFromOperator) wait = std::move(FPendingWait);
  }
  if (wait) RunWait(wait);
}

void TbrzCommandLog::DoOperatorJSON(const std::string& Text) {
  TbrzEventWaitPtr wait;
  {
    std::lock_guard<std::recursive_mutex> guard(FCommandLock);
    struct TSourceScope {
      bool& Flag;
      bool Saved;
      explicit TSourceScope(bool& aFlag) : Flag(aFlag), Saved(aFlag) { Flag = true; }
      ~TSourceScope() { Flag = Saved; }
    } scope(FFromOperator);
    DoJSON(Text);
    wait = std::move(FPendingWait);
  }
  if (wait) RunWait(wait);
}

void TbrzCommandLog::UnknownCommand(const std::string& aMessage) {
  if (FBlankCommand) return;
  if (aMessage.empty()) return Diagnostic(kNotACommand);
  Diagnostic(FormatMsg(kUnknownCommand, aMessage.c_str()));
}

void TbrzCommandLog::SetPendingWait(const TbrzEventWaitPtr& aWait) {
  if (FPendingWait) FWaits.Remove(FPendingWait);
  FPendingWait = aWait;
  if (FPendingWait) FWaits.Add(FPendingWait);
}

void TbrzCommandLog::RunWait(const TbrzEventWaitPtr& aWait) {
  const bool done = aWait->Block();
  FWaits.Remove(aWait);
  if (!done) NoteWaitTimedOut();
  WriteLog(EventLine::WaitResult(done, done ? aWait->Count() : aWait->Seen()));
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
  ReadIntakeSwitches(CommandLine);
  std::string ip = "*";
  std::string value;
  if (CommandLine.FindValueSwitch("server.ip", value)) ip = value;
  std::string port = "8080";
  if (CommandLine.FindValueSwitch("server.port", value)) port = value;
  StartIntake(ip, port);
}

void TbrzCommandLog::ReadIntakeSwitches(const TbrzCommandLine& CommandLine) {
  std::string value;
  if (CommandLine.FindValueSwitch("server.token", value)) {
    if (value.empty()) throw Exception(msg::kServerTokenEmpty);
    FGate.Token = value;
  } else if (const char* fromEnvironment = std::getenv("BRZ_SERVER_TOKEN")) {
    FGate.Token = fromEnvironment;
  }
  if (CommandLine.FindValueSwitch("server.origin", value)) FGate.OriginsAllowed = value;
  const bool cert = CommandLine.FindValueSwitch("server.cert", FServerCertFile, true);
  const bool key = CommandLine.FindValueSwitch("server.key", FServerKeyFile, true);
  if (cert != key || (cert && (FServerCertFile.empty() || FServerKeyFile.empty()))) throw Exception(msg::kServerTLSHalf);
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
  server->SetOperatorGate(FGate);
  std::string page(WebConsolePage());
  if (FGate.TokenRequired()) page = TextReplace(page, "data-token-required=\"no\"", "data-token-required=\"yes\"");
  server->SetHomePage(std::move(page));
  FOperators = std::make_unique<TbrzOperatorList>(
      FGate, kMaxCommandLine, [this](const TbrzConnectionPtr& C, const std::string& Reason) { OperatorDropped(C, Reason); });
  FServer = std::move(server);
  return FServer.get();
}

void TbrzCommandLog::StopIntake() {
  // An operator's thread waiting in a wait must not hold up the server's end.
  FWaits.CancelAll();
  std::unique_ptr<TbrzWebSocketHTTPServer> doomed;
  std::unique_ptr<TbrzOperatorList> operators;
  {
    // Waits for broadcasts under way; later ones find no server.
    std::unique_lock<std::shared_mutex> guard(FServerLock);
    doomed = std::move(FServer);
    operators = std::move(FOperators);
  }
  // Outside the lock: operator threads still running may broadcast meanwhile. The writers stop
  // after the connections' threads, which may still look at the list.
  doomed.reset();
  operators.reset();
}

void TbrzCommandLog::StartIntake(const std::string& IP, const std::string& Port) {
  TbrzWebSocketHTTPServer* server = ServerComponent();
  const int port = StrToInt(Port);
  if (IP != "*") server->AddBinding(IP, port);
  server->SetPort(port);
  if (!FServerCertFile.empty()) {
    server->SetSSL(true);
    server->SSLOptions().CertFile = FServerCertFile;
    server->SSLOptions().KeyFile = FServerKeyFile;
  }
  if (!FGate.TokenRequired() && !IsLoopbackAddress(IP)) ErrorWriteLine(FormatMsg(msg::kNoTokenWarning, IP.c_str()));
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
    std::shared_lock<std::shared_mutex> guard(FServerLock);
    if (FOperators) rest = FOperators->Remove(Connection);
  }
  ConsoleLine(FormatMsg(msg::kClientDisconnectedFrom, Connection->GetGuid().c_str(), Connection->GetIP().c_str()));
  // An operator that closed after its last command without a line end still gets it run.
  if (!Trim(rest).empty()) DoOperatorJSON(BytesToUTF8Text(rest));
}

void TbrzCommandLog::HandleServerError(const TbrzConnectionPtr& /*Connection*/, const std::string& Error) {
  ConsoleLine(Error);
}

void TbrzCommandLog::HandleServerException(const TbrzConnectionPtr& /*Connection*/, const Exception& E) {
  ConsoleLine(E.what());
}

void TbrzCommandLog::HandleServerMessage(const TbrzConnectionPtr& /*Connection*/, const std::string& Text) {
  // A WebSocket operator showed its token at the upgrade; an auth command changes nothing and its
  // token never reaches the command processor.
  if (IsAuthCommand(Text)) return;
  DoOperatorJSON(Text);
}

void TbrzCommandLog::HandleServerBinary(const TbrzConnectionPtr& Connection, TbrzMemoryStream& Data) {
  if (Connection && Connection->Transport() == TwsTransport::trpTCP) return TakeRawLines(Connection, Data);
  const std::string text = UTF8StreamToText(Data);
  if (IsAuthCommand(text)) return;
  DoOperatorJSON(text);
}

void TbrzCommandLog::HandleServerUnknownProtocol(const TbrzConnectionPtr& Connection, bool& Accept) {
  Accept = true;
  if (!Connection) return;
  Connection->SetTransport(TwsTransport::trpTCP);
  // Raw operators send one command per line and read one event per line.
  if (auto* server = dynamic_cast<TbrzWSConnectionServer*>(Connection.get())) server->SetTextTerminator("\n");
}

void TbrzCommandLog::TakeRawLines(const TbrzConnectionPtr& Connection, TbrzMemoryStream& Data) {
  std::vector<std::string> commands;
  auto result = TbrzOperatorList::TRawResult::Refused;
  {
    std::shared_lock<std::shared_mutex> guard(FServerLock);
    if (FOperators)
      result = FOperators->TakeRaw(
          Connection, std::string_view(reinterpret_cast<const char*>(Data.Memory()), Data.Size()), commands);
  }
  // Commands before an overlong one still run, in order.
  for (const std::string& command : commands) DoOperatorJSON(BytesToUTF8Text(command));
  if (result == TbrzOperatorList::TRawResult::Taken) return;
  std::shared_lock<std::shared_mutex> guard(FServerLock);
  if (!FServer) return;
  if (result == TbrzOperatorList::TRawResult::TooLong)
    return FServer->ReportError(Connection, FormatMsg(msg::kCommandLineTooLong, static_cast<int>(kMaxCommandLine)));
  // One error line for the operator alone, then it goes.
  RunQuietly([&] { Connection->WriteData(EventLine::Error(msg::kRawNotAuthorized)); });
  FServer->ReportError(Connection,
                       FormatMsg(msg::kRawRefused, Connection->GetGuid().c_str(), Connection->GetIP().c_str()));
}

}  // namespace brz
