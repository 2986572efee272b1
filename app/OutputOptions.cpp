// What the program prints beyond the base lines (output, the -details, -timestamps and -errors
// switches) and the scripts' wait for event lines.
#include <cerrno>
#include <cstdlib>

#include "app/EventDetails.h"
#include "app/TbrzCommandLog_MQTT.h"
#include "json/JSONEscape.h"

namespace brz {

namespace {

// A wait time-out beyond a day is a mistake rather than an intent.
constexpr double kMaxWaitSeconds = 86400;
constexpr int64_t kMaxWaitCount = 1000000;

std::string OutputEcho(bool aDetails, bool aTimestamps, bool aErrors) {
  return TbrzJSONMembers().Flag("details", aDetails).Flag("timestamps", aTimestamps).Flag("errors", aErrors).Object();
}

}  // namespace

void TbrzCommandLog_MQTT::WriteLog(const std::string& Text) {
  if (FTimestamps.load()) return TbrzCommandLog_WSProtocolClient::WriteLog(WithTime(Text));
  TbrzCommandLog_WSProtocolClient::WriteLog(Text);
}

void TbrzCommandLog_MQTT::WriteLog(const std::string& Text, const std::string& OperatorText) {
  if (FTimestamps.load()) return TbrzCommandLog_WSProtocolClient::WriteLog(WithTime(Text), WithTime(OperatorText));
  TbrzCommandLog_WSProtocolClient::WriteLog(Text, OperatorText);
}

void TbrzCommandLog_MQTT::Initialize(const TbrzCommandLine& CommandLine) {
  if (CommandLine.HasSwitch("details")) FDetails.store(true);
  if (CommandLine.HasSwitch("timestamps")) FTimestamps.store(true);
  if (CommandLine.HasSwitch("errors")) SetErrorEvents(true);
  TbrzCommandLog_WSProtocolClient::Initialize(CommandLine);
}

void TbrzCommandLog_MQTT::CommandOutput() {
  Guarded("output", [this] {
    const TbrzCommandArgs args = Args();
    args.RefuseUnknown({"details", "timestamps", "errors", "message", "protocol"});
    bool details = FDetails.load(), timestamps = FTimestamps.load(), errors = ErrorEvents();
    args.Bool("details", details);
    args.Bool("timestamps", timestamps);
    args.Bool("errors", errors);
    FDetails.store(details);
    FTimestamps.store(timestamps);
    SetErrorEvents(errors);
    WriteLog(EventLine::OutputOptions(OutputEcho(details, timestamps, errors)));
  });
}

void TbrzCommandLog_MQTT::CommandWait() {
  Guarded("wait", [this] {
    const TbrzCommandArgs args = Args();
    args.RefuseUnknown({"event", "count", "timeout", "match", "message", "protocol"});
    std::string event;
    if (!args.String("event", event) || event.empty()) throw TbrzRefusal("event (the event name to wait for) is missing");
    int64_t count = 1;
    args.Integer("count", 1, kMaxWaitCount, count);
    double seconds = 0;
    if (IbrzObjectJSON timeout = args.Document() ? args.Document()->Node("timeout") : nullptr) {
      const std::string text = timeout->Value();
      char* end = nullptr;
      errno = 0;
      seconds = std::strtod(text.c_str(), &end);
      if (timeout->JSONType() != TbrzJSONtype::brzJSONNumber || errno != 0 || end != text.c_str() + text.size() ||
          !(seconds > 0) || seconds > kMaxWaitSeconds)
        throw TbrzRefusal("timeout must be a number of seconds above 0 and at most 86400 (got " + ShownValue(timeout) +
                          ")");
    }
    std::vector<TbrzEventWait::TMatch> match;
    const TbrzCommandArgs members = args.Object("match");
    if (members.Document()) {
      for (int i = 0; i < members.Document()->Count(); ++i) {
        IbrzObjectJSON member = members.Document()->Item(i);
        const bool isString = member->JSONType() == TbrzJSONtype::brzJSONString;
        if (member->JSONType() == TbrzJSONtype::brzJSONObject || member->JSONType() == TbrzJSONtype::brzJSONList)
          throw TbrzRefusal("match." + member->Name() + " must be a string, number, true, false or null");
        match.push_back({JSONUnescape(member->Name()), isString, isString ? JSONUnescape(member->Value()) : member->Value()});
      }
    }
    const auto timeout = std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
    SetPendingWait(std::make_shared<TbrzEventWait>(event, static_cast<int>(count), timeout, std::move(match)));
  });
}

}  // namespace brz
