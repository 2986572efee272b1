// A real broker stopped in the middle of QoS 1 and QoS 2 flows and started again on the same port:
// the program reports the loss, keeps serving the console, and completes new flows once reopened.
// (Reopening is done by the operator here: the program has no automatic reconnect yet.)

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/e2e/FaultPeers.h"

namespace brz::fault {
namespace {

std::string Publish(int qos, int index) {
  return R"({"message":"publish", "protocol":"mqtt", "params":{"topic":"restart/t", "text":"m)" + std::to_string(index) +
         R"(", "qos":)" + std::to_string(qos) + "}}";
}

TEST(FaultBrokerRestart, MidFlowLossIsReportedAndNewFlowsCompleteAfterReopen) {
  for (int qos : {1, 2}) {
    SCOPED_TRACE(qos);
    test::Broker broker("", false);
    Console console;
    const std::string url = "tcp://127.0.0.1:" + std::to_string(broker.Port());
    console.Open(url);
    ASSERT_TRUE(console.WaitFor(R"({"event": "connect", "protocol": "mqtt")"));
    console.Send(R"({"message":"subscribe", "protocol":"mqtt", "params":{"topic":"restart/#", "qos":2}})");
    ASSERT_TRUE(console.WaitFor(R"({"event": "subscribe")"));
    // A burst of flows, and the broker goes away while they are under way.
    for (int i = 0; i < 50; ++i) console.Send(Publish(qos, i));
    ASSERT_TRUE(console.WaitFor(qos == 1 ? R"({"event": "puback")" : R"({"event": "pubrec")"));
    broker.Stop();
    std::vector<std::string> seen;
    EXPECT_TRUE(console.WaitFor(R"("event": "disconnected")", 10s, &seen));
    EXPECT_TRUE(console.Responsive(10s, &seen));
    // While it is down a publish waits for the next session; the console stays responsive.
    console.Send(Publish(qos, 999));
    EXPECT_TRUE(console.Responsive(10s, &seen));

    broker.Start();
    ASSERT_TRUE(test::WaitForListening("127.0.0.1", broker.Port(), 10s));
    console.Open(url);
    ASSERT_TRUE(console.WaitFor(R"({"event": "connect", "protocol": "mqtt")", 10s, &seen));
    console.Send(R"({"message":"subscribe", "protocol":"mqtt", "params":{"topic":"restart/#", "qos":2}})");
    ASSERT_TRUE(console.WaitFor(R"({"event": "subscribe")", 10s, &seen));
    console.Send(Publish(qos, 1000));
    // Our own message comes back through the subscription, in either order with the acknowledgement.
    std::vector<std::string> flow;
    EXPECT_TRUE(console.WaitFor(qos == 1 ? R"({"event": "puback")" : R"({"event": "pubcomp")", 10s, &flow));
    const auto echoed = [&] {
      return std::any_of(flow.begin(), flow.end(), [](const std::string& l) { return l.find(R"("text": "m1000")") != std::string::npos; });
    };
    if (!echoed()) (void)console.WaitFor(R"("text": "m1000")", 10s, &flow);
    EXPECT_TRUE(echoed());
    EXPECT_EQ(console.Exit(), 0);
  }
}

}  // namespace
}  // namespace brz::fault
