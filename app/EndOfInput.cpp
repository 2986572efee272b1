#include "app/EndOfInput.h"

#include <algorithm>
#include <thread>

#include "app/ConsoleWriter.h"
#include "app/ExitStatus.h"
#include "app/TbrzCommandLog_MQTT.h"
#include "common/Convert.h"

namespace brz {

namespace {

using TClock = std::chrono::steady_clock;

// Polling step of the waits: acknowledgements arrive on the read thread.
constexpr std::chrono::milliseconds kPollStep{5};

// Polls aDone until it holds or aDeadline passes.
template <typename TCondition>
bool WaitUntil(TClock::time_point aDeadline, TCondition aDone) {
  for (;;) {
    if (aDone()) return true;
    if (TClock::now() >= aDeadline) return false;
    std::this_thread::sleep_for(kPollStep);
  }
}

}  // namespace

void TbrzEndOfInput::Initialize(const TbrzCommandLine& aCommandLine) {
  std::string value;
  if (!aCommandLine.FindValueSwitch("drain", value)) return;
  FDrain = std::chrono::milliseconds(static_cast<int64_t>(std::max(StrToInt(value), 0)) * 1000);
}

int TbrzEndOfInput::Finish() {
  TbrzWSProtocol_MQTT_Client* engine = FProcessor.MQTTEngine();
  if (!engine) return Status();
  TbrzWebSocketClient& client = FProcessor.ClientComponent();
  const TClock::time_point deadline = TClock::now() + FDrain;
  // A connection under way is awaited too: its answer decides the status. Waiting is pointless once
  // no connection is up and none will be reopened.
  WaitUntil(deadline, [&] {
    return (engine->Unfinished() == 0 && !FProcessor.ConnectAwaited()) || (!client.Active() && !client.WatchDogArmed());
  });
  if (!engine->WSConnection()) return Status();
  // Everything said so far reaches the console; the disconnect's own lines are not news.
  ConsoleFlush(std::chrono::milliseconds(std::max<int64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count(), 0)));
  TbrzConsoleWriter::Instance().Seal();
  engine->Disconnect();
  // The broker closes after DISCONNECT; ending before that could reset the connection and lose
  // bytes still on their way.
  WaitUntil(deadline, [&] { return !engine->WSConnection(); });
  return Status();
}

int TbrzEndOfInput::Status() {
  TbrzWSProtocol_MQTT_Client* engine = FProcessor.MQTTEngine();
  if (engine) {
    const int32_t connack = engine->LastConnackReasonCode();
    if (connack > 0) return connack;
    if (engine->Unfinished() > 0 || engine->GivenUp() > 0) return exitstatus::kUnacknowledged;
    // The last open got no CONNACK: the connection failed (refused, unreachable, TLS, not MQTT).
    if (FProcessor.ConnectAwaited()) return exitstatus::kFailure;
  }
  if (FProcessor.WaitTimedOut()) return exitstatus::kWaitTimedOut;
  return exitstatus::kOK;
}

}  // namespace brz
