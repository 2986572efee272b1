#pragma once
// What the program does when standard input ends: it stops reading, waits (bounded by -drain) until
// every QoS 1/2 flow it started has completed, sends DISCONNECT, and tells the truth in its exit
// status (app/ExitStatus.h). EXIT does none of this: it ends at once with status 0.

#include <chrono>

#include "app/CommandLine.h"

namespace brz {

class TbrzCommandLog_MQTT;

class TbrzEndOfInput {
 public:
  static constexpr int kDefaultDrainSeconds = 10;

  // aProcessor is not owned and outlives this object.
  explicit TbrzEndOfInput(TbrzCommandLog_MQTT& aProcessor) : FProcessor(aProcessor) {}

  // Reads "-drain SECONDS" (0 = no wait); a value that is not a number raises EConvertError.
  void Initialize(const TbrzCommandLine& aCommandLine);
  std::chrono::milliseconds Drain() const { return FDrain; }

  // Drains, disconnects and returns the exit status. Event lines that arrive while it waits are
  // printed; once DISCONNECT is sent the console is sealed.
  int Finish();
  // The exit status for the state now: the refused CONNACK's reason code, else kUnacknowledged when
  // publishes are unfinished or were given up, else kFailure when the last open got no CONNACK, else
  // kWaitTimedOut, else kOK.
  int Status();

 private:
  TbrzCommandLog_MQTT& FProcessor;
  std::chrono::milliseconds FDrain{kDefaultDrainSeconds * 1000};
};

}  // namespace brz
