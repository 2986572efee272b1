#include "app/TbrzCommandLog.h"

#include "app/AppMessages.h"
#include "app/ConsoleWriter.h"
#include "common/Convert.h"
#include "json/JSONEscape.h"

namespace brz {

void TbrzCommandLog::WriteLog(const std::string& Text) {
  ConsoleWriteLine(Text);
  BroadcastLine(Text);
}

void TbrzCommandLog::BroadcastLine(const std::string&) {}

void TbrzCommandLog::ConsoleLine(const std::string& Text) { ConsoleWriteLine(Text); }

void TbrzCommandLog::DoJSON(const std::string& Text) {
  std::lock_guard<std::recursive_mutex> guard(FCommandLock);
  CommandDocument()->Read(Text);
  DoProcessJSON();
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

void TbrzCommandLog::StartIntake(const std::string&, const std::string& Port) {
  // Without a server component only the port is checked, so a bad port still ends the program.
  StrToInt(Port);
}

}  // namespace brz
