#pragma once
// The engine attached to a real client component, with every MQTT event and the client's errors
// recorded as one text line each.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mqtt/TbrzWSProtocol_MQTT_Client.h"
#include "websocket/TbrzWSClient.h"

namespace brz::test {

class EventLog {
 public:
  void Add(const std::string& aLine) {
    std::lock_guard<std::mutex> guard(FLock);
    FLines.push_back(aLine);
    FChanged.notify_all();
  }
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> guard(FLock);
    return FLines;
  }
  size_t Count(const std::string& aLine) {
    std::lock_guard<std::mutex> guard(FLock);
    size_t seen = 0;
    for (const auto& line : FLines) seen += line == aLine ? 1 : 0;
    return seen;
  }
  // Waits until a line equal to aLine has been recorded aCount times (bounded).
  bool WaitFor(const std::string& aLine, size_t aCount = 1,
               std::chrono::milliseconds aTimeout = std::chrono::seconds(5)) {
    std::unique_lock<std::mutex> guard(FLock);
    return FChanged.wait_for(guard, aTimeout, [&] {
      size_t seen = 0;
      for (const auto& line : FLines) seen += line == aLine ? 1 : 0;
      return seen >= aCount;
    });
  }

 private:
  std::mutex FLock;  // guards FLines
  std::condition_variable FChanged;
  std::vector<std::string> FLines;
};

// Polls aCondition every 5 ms until it holds or the time is up.
inline bool Eventually(const std::function<bool()>& aCondition,
                       std::chrono::milliseconds aTimeout = std::chrono::seconds(5)) {
  const auto deadline = std::chrono::steady_clock::now() + aTimeout;
  while (!aCondition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Records the events in the console's vocabulary: "connect <session> <code> <name>",
// "publish <topic> <text>", "puback <id> <code> <name>", "subscribe <id> <code> <name>" (one per
// code), "disconnected <code> <name>", "error <text>" (the client's OnError and OnException).
inline void RecordEvents(TbrzWSProtocol_MQTT_Client& aEngine, TbrzWebSocketClient& aClient, EventLog& aLog) {
  aEngine.OnMQTTConnect = [&aLog](const TbrzConnectionPtr&, bool aSession, int32_t aCode, const std::string& aName,
                                  const TbrzWSMQTTCONNACKProperties&) {
    aLog.Add("connect " + std::string(aSession ? "true" : "false") + " " + std::to_string(aCode) + " " + aName);
  };
  aEngine.OnMQTTPing = [&aLog](const TbrzConnectionPtr&) { aLog.Add("ping"); };
  aEngine.OnMQTTPublish = [&aLog](const TbrzConnectionPtr&, const std::string& aTopic, const std::string& aText,
                                  const TbrzWSMQTTPublishProperties&) { aLog.Add("publish " + aTopic + " " + aText); };
  auto ack = [&aLog](const std::string& aName) {
    return [&aLog, aName](const TbrzConnectionPtr&, uint16_t aId, int32_t aCode, const std::string& aReason,
                          const TbrzWSMQTTPUBSUBACKProperties&) {
      aLog.Add(aName + " " + std::to_string(aId) + " " + std::to_string(aCode) + " " + aReason);
    };
  };
  aEngine.OnMQTTPubAck = ack("puback");
  aEngine.OnMQTTPubRec = ack("pubrec");
  aEngine.OnMQTTPubRel = ack("pubrel");
  aEngine.OnMQTTPubComp = ack("pubcomp");
  aEngine.OnMQTTSubscribe = [&aLog](const TbrzConnectionPtr&, uint16_t aId, const TbrzWSSUBACKS& aCodes,
                                    const TbrzWSMQTTSUBACKProperties&) {
    for (const auto& code : aCodes)
      aLog.Add("subscribe " + std::to_string(aId) + " " + std::to_string(code.ReasonCode) + " " + code.ReasonName);
  };
  aEngine.OnMQTTUnSubscribe = [&aLog](const TbrzConnectionPtr&, uint16_t aId, const TbrzWSUNSUBACKS& aCodes,
                                      const TbrzWSMQTTUNSUBACKProperties&) {
    aLog.Add("unsubscribe " + std::to_string(aId) + " codes " + std::to_string(aCodes.Count()));
  };
  aEngine.OnMQTTDisconnect = [&aLog](const TbrzConnectionPtr&, int32_t aCode, const std::string& aName,
                                     const TbrzWSMQTTDISCONNECTProperties&) {
    aLog.Add("disconnected " + std::to_string(aCode) + " " + aName);
  };
  aClient.OnError = [&aLog](const TbrzConnectionPtr&, const std::string& aError) { aLog.Add("error " + aError); };
  aClient.OnException = [&aLog](const TbrzConnectionPtr&, const Exception& E) {
    aLog.Add("error " + E.Message());
  };
}

}  // namespace brz::test
