// Event delivery of the component base: notification modes, message queueing, error reporting and
// the hand-off to attached sub-protocol objects.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/MainThread.h"
#include "framework/TbrzWSComponent.h"
#include "transport/TbrzSocketErrors.h"
#include "transport/TbrzWSException.h"

namespace brz {
namespace {

using namespace std::chrono_literals;

TbrzConnectionPtr NewConnection() { return std::make_shared<TbrzTCPConnection>(); }

TbrzConnectionPtr WithText(const std::string& text) {
  auto c = NewConnection();
  c->SetMsgReceived(text);
  return c;
}

TEST(Delivery, NoSyncRunsOnTheDetectingThreadBeforeReturning) {
  TbrzWSComponent_Base component;
  std::thread::id seen;
  std::string text;
  component.OnMessage = [&](const TbrzConnectionPtr&, const std::string& t) {
    seen = std::this_thread::get_id();
    text = t;
  };
  std::thread::id detector;
  std::thread reader([&] {
    detector = std::this_thread::get_id();
    component.DeliverMessage(WithText("hello"));
    EXPECT_EQ(text, "hello");  // already delivered when DeliverMessage returns
  });
  reader.join();
  EXPECT_EQ(seen, detector);
}

TEST(Delivery, AsynchronousReachesTheMainThreadInOrderOnce) {
  SetMainThread();
  TbrzWSComponent_Base component;
  component.SetNotifyEvents(TwsNotifyEvent::neAsynchronous);
  std::vector<std::string> texts;
  std::vector<std::thread::id> threads;
  component.OnMessage = [&](const TbrzConnectionPtr&, const std::string& t) {
    texts.push_back(t);
    threads.push_back(std::this_thread::get_id());
  };
  std::thread reader([&] {
    for (const char* t : {"1", "2", "3"}) component.DeliverMessage(WithText(t));
  });
  reader.join();
  EXPECT_TRUE(texts.empty());  // nothing runs until the main thread processes its queue
  for (int i = 0; i < 10 && MainThreadQueueCount() > 0; ++i) ProcessMainThreadQueue();
  EXPECT_EQ(texts, (std::vector<std::string>{"1", "2", "3"}));
  for (auto id : threads) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(Delivery, SynchronousWaitsForTheMainThread) {
  SetMainThread();
  TbrzWSComponent_Base component;
  component.SetNotifyEvents(TwsNotifyEvent::neSynchronous);
  std::vector<int32_t> codes;
  component.OnDisconnect = [&](const TbrzConnectionPtr& c, int32_t code) {
    EXPECT_TRUE(IsMainThread());
    EXPECT_FALSE(c->Freed());  // released only after the handler
    codes.push_back(code);
  };
  auto connection = NewConnection();
  connection->SetCloseCode(1001);
  std::atomic<bool> returned{false};
  std::thread detector([&] {
    component.DeliverDisconnect(connection);
    returned = true;
  });
  for (int i = 0; i < 500 && !returned.load(); ++i) {
    WaitForMainThreadQueue(10ms);
    ProcessMainThreadQueue();
  }
  detector.join();
  EXPECT_EQ(codes, (std::vector<int32_t>{1001}));
  EXPECT_TRUE(connection->Freed());
}

TEST(Delivery, QueuedMessagesComeTextsFirstThenBinary) {
  TbrzWSComponent_Base component;
  std::vector<std::string> order;
  component.OnMessage = [&](const TbrzConnectionPtr&, const std::string& t) { order.push_back("text " + t); };
  component.OnBinary = [&](const TbrzConnectionPtr&, TbrzMemoryStream& d) { order.push_back("binary " + d.ToString()); };
  component.SetQueueMessages(true);
  component.DeliverMessage(WithText("a"));
  auto b = NewConnection();
  b->SetMsgBinaryReceived(TbrzMemoryStream(TBytes{'x', 'y'}));
  component.DeliverBinary(b);
  component.DeliverMessage(WithText("b"));
  EXPECT_TRUE(order.empty());
  component.SetQueueMessages(false);
  EXPECT_EQ(order, (std::vector<std::string>{"text a", "text b", "binary xy"}));
}

TEST(Delivery, ConnectAndDisconnectRespectTheConnectionFlags) {
  TbrzWSComponent_Base component;
  std::vector<std::string> events;
  component.OnConnect = [&](const TbrzConnectionPtr&) { events.push_back("connect"); };
  component.OnDisconnect = [&](const TbrzConnectionPtr&, int32_t) { events.push_back("disconnect"); };
  component.OnMessage = [&](const TbrzConnectionPtr&, const std::string&) { events.push_back("message"); };

  auto internal = WithText("t");
  internal->SetIsInternal(true);
  component.DeliverConnect(internal);
  component.DeliverMessage(internal);
  component.DeliverDisconnect(internal);
  EXPECT_TRUE(internal->Freed());  // released without an event

  auto quiet = NewConnection();
  quiet->SetNotifyConnection(false);
  quiet->SetNotifyDisconnection(false);
  component.DeliverConnect(quiet);
  component.DeliverDisconnect(quiet);
  EXPECT_TRUE(quiet->Freed());
  EXPECT_TRUE(events.empty());

  auto normal = NewConnection();
  component.DeliverConnect(normal);
  component.DeliverDisconnect(normal);
  EXPECT_EQ(events, (std::vector<std::string>{"connect", "disconnect"}));
  EXPECT_TRUE(normal->Freed());
}

TEST(Reporting, ErrorsAndExceptionsAreRaisedThenTheConnectionIsDropped) {
  TbrzWSComponent_Base component;
  auto silent = NewConnection();
  component.ReportError(silent, "nobody listens");
  EXPECT_TRUE(silent->Disconnected());

  std::vector<std::string> seen;
  component.OnError = [&](const TbrzConnectionPtr& c, const std::string& e) {
    seen.push_back(std::string(c ? "conn " : "none ") + e);
    throw Exception("handler failure is swallowed");
  };
  component.OnException = [&](const TbrzConnectionPtr& c, const Exception& e) {
    seen.push_back(std::string(c ? "conn " : "none ") + e.ClassName() + " " + e.Message());
  };
  auto c = NewConnection();
  EXPECT_NO_THROW(component.ReportError(c, "write failed"));
  EXPECT_TRUE(c->Disconnected());
  EXPECT_NO_THROW(component.ReportError(nullptr, "no connection"));

  auto d = NewConnection();
  EConnClosedGracefully closed("closed");
  component.ReportException(d, "closed", &closed);
  EXPECT_TRUE(d->Disconnected());
  std::runtime_error plain("plain");
  component.ReportException(nullptr, "plain", &plain);
  component.ReportException(nullptr, "text only", nullptr);
  EXPECT_EQ(seen, (std::vector<std::string>{"conn write failed", "none no connection",
                                            "conn EConnClosedGracefully closed", "none Exception plain",
                                            "none Exception text only"}));
}

TEST(Reporting, StoredExceptionsKeepTheirClass) {
  EConnectTimeout timeout("t");
  TbrzWSException ws("w");
  std::logic_error other("o");
  EXPECT_EQ(CopyException(&timeout, "")->ClassName(), "EConnectTimeout");
  EXPECT_EQ(CopyException(&ws, "")->ClassName(), "TbrzWSException");
  EXPECT_EQ(CopyException(&other, "")->ClassName(), "Exception");
  EXPECT_EQ(CopyException(&other, "")->Message(), "o");
}

// A component that routes every protocol connection to one attached object.
class RoutingComponent : public TbrzWSComponent {
 protected:
  std::vector<TbrzWSComponent_Base*> MatchProtocolObjects(const TbrzConnectionPtr&, bool) override {
    return ProtocolObjects();
  }
};

TEST(Dispatch, ProtocolConnectionsReachTheAttachedObjectNotTheComponent) {
  RoutingComponent client;
  TbrzWSComponent_Base engine;
  client.SetNotifyEvents(TwsNotifyEvent::neNoSync);
  std::vector<std::string> clientEvents, engineEvents;
  client.OnMessage = [&](const TbrzConnectionPtr&, const std::string& t) { clientEvents.push_back(t); };
  engine.OnMessage = [&](const TbrzConnectionPtr&, const std::string& t) { engineEvents.push_back(t); };
  client.AttachProtocolObject(&engine);

  auto mqtt = WithText("for the engine");
  mqtt->SetProtocol("mqtt");
  client.DeliverMessage(mqtt);
  client.DeliverMessage(WithText("plain"));
  EXPECT_EQ(engineEvents, (std::vector<std::string>{"for the engine"}));
  EXPECT_EQ(clientEvents, (std::vector<std::string>{"plain"}));

  client.DetachProtocolObject(&engine);
  client.DeliverMessage(mqtt);  // matches nothing now: dropped
  EXPECT_EQ(engineEvents.size(), 1u);
  EXPECT_EQ(clientEvents.size(), 1u);
}

TEST(Dispatch, DetachWaitsForADeliveryInProgressAndNothingArrivesAfterIt) {
  RoutingComponent client;
  TbrzWSComponent_Base engine;
  client.SetNotifyEvents(TwsNotifyEvent::neNoSync);
  std::atomic<int> received{0};
  std::atomic<bool> entered{false}, release{false}, detached{false};
  engine.OnMessage = [&](const TbrzConnectionPtr&, const std::string&) {
    entered = true;
    while (!release) std::this_thread::sleep_for(1ms);
    ++received;
  };
  client.AttachProtocolObject(&engine);
  auto mqtt = WithText("m");
  mqtt->SetProtocol("mqtt");

  std::thread reader([&] { client.DeliverMessage(mqtt); });
  while (!entered) std::this_thread::sleep_for(1ms);
  std::thread detacher([&] {
    client.DetachProtocolObject(&engine);
    detached = true;
  });
  std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(detached);  // still inside the reader's delivery
  release = true;
  reader.join();
  detacher.join();
  EXPECT_TRUE(detached);
  client.DeliverMessage(mqtt);
  EXPECT_EQ(received, 1);
}

// Handlers run outside the list lock: one may take a lock that another thread holds while it
// reports through the component, and one may detach itself from inside its own delivery.
TEST(Dispatch, HandlersMayTakeLocksAndDetachThemselves) {
  RoutingComponent client;
  TbrzWSComponent_Base engine;
  client.SetNotifyEvents(TwsNotifyEvent::neNoSync);
  std::mutex sendLock;
  std::vector<std::string> events;
  engine.OnMessage = [&](const TbrzConnectionPtr&, const std::string& t) {
    std::lock_guard<std::mutex> guard(sendLock);
    events.push_back(t);
  };
  engine.OnError = [&](const TbrzConnectionPtr&, const std::string& t) {
    events.push_back("error " + t);
    client.DetachProtocolObject(&engine);
  };
  client.AttachProtocolObject(&engine);
  auto mqtt = WithText("reply");
  mqtt->SetProtocol("mqtt");
  client.DeliverMessage(mqtt);
  std::thread writer([&] {
    std::lock_guard<std::mutex> guard(sendLock);  // a send failing under its lock
    auto failed = NewConnection();
    failed->SetProtocol("mqtt");
    failed->SetMsgError("write failed");
    client.DeliverError(failed);
  });
  writer.join();
  client.DeliverMessage(mqtt);
  EXPECT_EQ(events, (std::vector<std::string>{"reply", "error write failed"}));
  EXPECT_TRUE(client.ProtocolObjects().empty());
}

}  // namespace
}  // namespace brz
