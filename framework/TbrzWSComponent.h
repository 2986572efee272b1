#pragma once
// The component line above the event base: TbrzWSComponent (attached sub-protocol objects, heartbeat
// and keep-alive options, timer slots), TbrzWSComponent_Client (watchdog options, client writes) and
// TbrzWSComponent_WSClient (host, port, TLS switch).
//
// Events of a connection that negotiated a sub-protocol go to the matching attached objects instead
// of the component's own handlers; which objects match is decided by MatchProtocolObjects.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/TbrzTimer.h"
#include "framework/TbrzWSComponent_Base.h"
#include "framework/TbrzWSProtocol.h"
#include "transport/TbrzSocketOptions.h"

namespace brz {

// One option field that timer threads read while the application may write it: reads and writes
// are atomic, and copying the group copies the values.
template <typename T>
class TbrzSharedOption {
 public:
  TbrzSharedOption(T value = T()) : FValue(value) {}
  TbrzSharedOption(const TbrzSharedOption& other) : FValue(other.FValue.load()) {}
  TbrzSharedOption& operator=(const TbrzSharedOption& other) {
    FValue.store(other.FValue.load());
    return *this;
  }
  TbrzSharedOption& operator=(T value) {
    FValue.store(value);
    return *this;
  }
  operator T() const { return FValue.load(); }

 private:
  std::atomic<T> FValue;
};

struct TbrzWSHeartBeat_Options {
  TbrzSharedOption<bool> Enabled = false;
  TbrzSharedOption<int> Interval = 300;  // seconds between pings
  TbrzSharedOption<int> Timeout = 0;     // seconds without a pong before the connection is dropped; 0: never
  void Assign(const TbrzWSHeartBeat_Options& other) { *this = other; }
};

struct TbrzWSWatchDogClient_Options {
  TbrzSharedOption<bool> Enabled = false;
  TbrzSharedOption<int> Interval = 10;  // seconds between reconnect attempts
  TbrzSharedOption<int> Attempts = 0;   // 0: unlimited
  void Assign(const TbrzWSWatchDogClient_Options& other) { *this = other; }
};

class TbrzWSProtocol_Client;

class TbrzWSComponent : public TbrzWSComponent_Base {
  // Attached protocol objects take over the connect/disconnect bookkeeping (heartbeat, watchdog).
  friend class TbrzWSProtocol_Client;

 public:
  TbrzWSComponent();
  ~TbrzWSComponent() override;

  // Attached sub-protocol objects, in attachment order (not owned).
  std::vector<TbrzWSComponent_Base*> ProtocolObjects() const;
  // Appends the object, handing it this component's notification mode.
  void AttachProtocolObject(TbrzWSComponent_Base* object);
  // Removes the object from the list without destroying it.
  void DetachProtocolObject(TbrzWSComponent_Base* object);

  TbrzWSHeartBeat_Options& HeartBeat() { return FHeartBeat; }
  void SetHeartBeat(const TbrzWSHeartBeat_Options& value) { FHeartBeat.Assign(value); }
  TbrzTCPKeepAlive& TCPKeepAlive() { return FTCPKeepAlive; }
  void SetTCPKeepAlive(const TbrzTCPKeepAlive& value) { FTCPKeepAlive.Assign(value); }
  TbrzSocketLogFile& LogFile() { return FLogFile; }
  void SetLogFile(const TbrzSocketLogFile& value) { FLogFile.Assign(value); }

  void SetNotifyEvents(TwsNotifyEvent value) override;

  // The seven deliveries, passed to the attached sub-protocol objects for connections that
  // negotiated a protocol.
  void DeliverConnect(const TbrzConnectionPtr& C) override;
  void DeliverDisconnect(const TbrzConnectionPtr& C) override;
  void DeliverMessage(const TbrzConnectionPtr& C) override;
  void DeliverBinary(const TbrzConnectionPtr& C) override;
  void DeliverFragmented(const TbrzConnectionPtr& C, TbrzMemoryStream& Data, TOpcode OpCode, bool Cont) override;
  void DeliverError(const TbrzConnectionPtr& C) override;
  void DeliverException(const TbrzConnectionPtr& C) override;
  using TbrzWSComponent_Base::DeliverException;

  // The comma-separated sub-protocol names offered for a new connection; empty when none is attached.
  virtual std::string SubProtocols() const;

 protected:
  // The attached objects that receive the events of a connection whose protocol text is not empty.
  // aDisconnect: the rule for disconnect events (first match only, broker fall-back).
  virtual std::vector<TbrzWSComponent_Base*> MatchProtocolObjects(const TbrzConnectionPtr& C, bool aDisconnect);
  // True when C's events belong to the attached sub-protocol objects.
  bool RoutesToProtocols(const TbrzConnectionPtr& C) const;

  // Heartbeat and watchdog slots; the timers are driven by the keep-alive layer. Discarding a timer
  // (stop) never waits for a tick in progress: the slots are called from the ticks themselves.
  virtual void StartHeartBeat() {}
  virtual void StopHeartBeat() {}
  virtual void StartWatchDog() {}
  virtual void StopWatchDog() {}

  // Passes one event to the attached objects: takes a snapshot of the list and counts itself in
  // flight for its duration, so a detach on another thread can wait for it to end.
  class TDeliveryPass {
   public:
    explicit TDeliveryPass(TbrzWSComponent& aComponent);
    ~TDeliveryPass();
    TDeliveryPass(const TDeliveryPass&) = delete;
    TDeliveryPass& operator=(const TDeliveryPass&) = delete;

   private:
    TbrzWSComponent& FComponent;
    uint64_t FTicket;
  };

  // Guards FProtocolObjectList only while it is read or changed; no call into an attached object
  // is made under it (those calls take their own locks and report errors back through here).
  mutable std::shared_mutex FProtocolListLock;
  std::vector<TbrzWSComponent_Base*> FProtocolObjectList;
  TbrzWSHeartBeat_Options FHeartBeat;
  std::unique_ptr<TbrzTimer> FHeartBeatTimeoutTimer;
  std::unique_ptr<TbrzTimer> FHeartBeatTimer;
  TbrzTCPKeepAlive FTCPKeepAlive;
  std::atomic<int> FWatchDogAttempts{0};
  std::unique_ptr<TbrzTimer> FWatchDogTimer;
  std::atomic<bool> FWatchDogEnabled{false};
  TbrzSocketLogFile FLogFile;

 private:
  // Waits until the deliveries other threads began before this call have ended.
  void WaitForDeliveriesInFlight();
  struct TDeliveryRecord {
    uint64_t Ticket;
    std::thread::id Thread;
  };
  std::mutex FDeliveryLock;  // a leaf lock: nothing is called while it is held
  std::condition_variable FDeliveryEnded;
  std::vector<TDeliveryRecord> FDeliveries;
  uint64_t FNextDeliveryTicket = 0;
};

class TbrzWSComponent_Client : public TbrzWSComponent {
 public:
  TbrzWSWatchDogClient_Options& WatchDog() { return FWatchDog; }
  void SetWatchDog(const TbrzWSWatchDogClient_Options& value) { FWatchDog.Assign(value); }

  virtual void WriteData(const std::string& aText, int aSize = 0, TwsStreaming aStreaming = TwsStreaming::stmNone) = 0;
  virtual void WriteData(TbrzMemoryStream& aStream, int aSize = 0, TwsStreaming aStreaming = TwsStreaming::stmNone) = 0;

 protected:
  bool FFreeConnectionOnDestroy = true;
  TbrzWSWatchDogClient_Options FWatchDog;
};

class TbrzWSComponent_WSClient : public TbrzWSComponent_Client {
 public:
  ~TbrzWSComponent_WSClient() override;

  // Attaches the object (sets its Client).
  void RegisterProtocol(TbrzWSProtocol_Client* aProtocol);
  // When no attached object has exactly this name: a plain protocol object owned by the client,
  // carrying copies of the client's seven handlers, is attached.
  void RegisterProtocol(const std::string& aName);
  // Detaches every attached object with exactly this name; those the client created are destroyed.
  void UnRegisterProtocol(const std::string& aName);
  void UnRegisterProtocol(TbrzWSProtocol_Client* aProtocol);

  std::string Host() const;
  void SetHost(const std::string& value);
  int Port() const { return FPort.load(); }
  void SetPort(int value) { FPort = value; }
  bool TLS() const { return FTLS.load(); }
  void SetTLS(bool value) { FTLS = value; }

 private:
  std::vector<std::unique_ptr<TbrzWSProtocol>> FOwnedProtocols;  // made by RegisterProtocol(name)
  mutable std::mutex FHostLock;  // guards FHost
  std::string FHost;
  std::atomic<int> FPort{80};
  std::atomic<bool> FTLS{false};
};

}  // namespace brz
